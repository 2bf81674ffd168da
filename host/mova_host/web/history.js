// Undo and redo of the edits of the network (roads, where positions lie, their names) and of
// the starts and goals. Each edit is kept as the requests that take it back and the requests
// that make it again; a request's body may be a function of the state at the time it is sent
// (a road is found by its ends and kind then, since undoing a removal adds the road at the end).

const LIMIT = 200;

const roadWords = (road) => `${road.from}${road.kind === "one-way" ? "→" : "–"}${road.to}`;
const roadBody = (road) => ({ kind: road.kind, from: road.from, to: road.to });

// The index of the last road with these ends and this kind in a state (-1: none).
export function findRoad(state, road) {
  for (let i = state.roads.length - 1; i >= 0; i--) {
    const r = state.roads[i];
    if (r.kind === road.kind && r.from === road.from && r.to === road.to) return i;
  }
  return -1;
}

const removeRoad = (road) => ["remove-road", (state) => ({ index: findRoad(state, road) })];

function roadEdit(action, body, before, after) {
  if (action === "road") {
    const road = after.roads[after.roads.length - 1];
    return { label: `adding the road ${roadWords(road)}`, undo: [removeRoad(road)], redo: [["road", roadBody(road)]] };
  }
  if (action === "remove-road") {
    const road = before.roads[body.index];
    return { label: `removing the road ${roadWords(road)}`, undo: [["road", roadBody(road)]], redo: [removeRoad(road)] };
  }
  return { label: `removing all ${before.roads.length} roads`, undo: before.roads.map((r) => ["road", roadBody(r)]),
    redo: [["clear-roads", {}]] };
}

function positionEdit(p, before, after) {
  const old = before.positions[p], now = after.positions[p];
  if (old.x !== now.x || old.y !== now.y) {
    return { label: `moving position ${p}`, undo: [["position", { position: p, x: old.x, y: old.y }]],
      redo: [["position", { position: p, x: now.x, y: now.y }]] };
  }
  return { label: `naming position ${p}`, undo: [["position", { position: p, name: old.name ?? "" }]],
    redo: [["position", { position: p, name: now.name ?? "" }]] };
}

// The undo entry of a request that succeeded, from the states before and after it; null when
// the request is no edit or changed nothing.
export function edit(action, body, before, after) {
  if (["road", "remove-road", "clear-roads"].includes(action)) {
    return before.roads.length === after.roads.length ? null : roadEdit(action, body, before, after);
  }
  if (action === "position") {
    const old = before.positions[body.position], now = after.positions[body.position];
    const same = old.x === now.x && old.y === now.y && (old.name ?? null) === (now.name ?? null);
    return same ? null : positionEdit(body.position, before, after);
  }
  if (action === "vehicles") {
    const changed = [];
    for (const [kind, list] of [["start", "starts"], ["goal", "goals"]]) {
      before[list].forEach((p, k) => { if (p !== after[list][k]) changed.push(`the ${kind} of vehicle ${k + 1}`); });
    }
    return changed.length ? { label: `placing ${changed.join(" and ")}`,
      undo: [["vehicles", { starts: before.starts, goals: before.goals }]],
      redo: [["vehicles", { starts: after.starts, goals: after.goals }]] } : null;
  }
  return null;
}

// The edits made (to undo, latest last) and those undone (to redo, latest last).
export class History {
  constructor() {
    this.done = [];
    this.undone = [];
  }

  record(entry) {
    this.done.push(entry);
    if (this.done.length > LIMIT) this.done.shift();
    this.undone = [];
  }

  clear() {
    this.done = [];
    this.undone = [];
  }

  next(kind) {
    const list = kind === "undo" ? this.done : this.undone;
    return list.length ? list[list.length - 1] : null;
  }

  // Takes the next entry to undo or redo; `settle(entry, ok)` files it afterwards: on the other
  // list when its requests went through, back where it was when one was refused.
  take(kind) {
    return (kind === "undo" ? this.done : this.undone).pop() || null;
  }

  settle(kind, entry, ok) {
    const [forward, back] = kind === "undo" ? [this.undone, this.done] : [this.done, this.undone];
    (ok ? forward : back).push(entry);
  }
}
