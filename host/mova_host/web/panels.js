// The panels beside the picture: roads, step table, distance table, explanation, transcript.

export function h(tag, attrs = {}, children = []) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs)) {
    if (value === null || value === undefined || value === false) continue;
    if (key.startsWith("on")) node.addEventListener(key.slice(2), value);
    else if (key === "text") node.textContent = value;
    else node.setAttribute(key, value === true ? "" : String(value));
  }
  for (const child of children) node.append(child);
  return node;
}

// The roads, each with its kind in the words of the legend (`config.kind_words`).
export function roadList(container, state, config, onRemove) {
  const rows = state.roads.map((road) => h("li", { "data-road": road.index }, [
    h("span", { class: `kind-swatch ${road.kind}`, "aria-hidden": "true" }),
    h("span", { class: "road-text",
      text: `${road.from} ${road.kind === "one-way" ? "→" : "–"} ${road.to}  ${config.kind_words[road.kind].label}` }),
    h("button", { class: "small", type: "button", title: `remove the road ${road.from}-${road.to}`,
      "aria-label": `remove the road ${road.from}-${road.to}`, onclick: () => onRemove(road.index), text: "Remove" }),
  ]));
  container.replaceChildren(...(rows.length ? rows : [h("li", { class: "empty", text: "No roads yet." })]));
}

export function moveText(before, after) {
  const moves = [];
  for (let v = 1; v <= before.length; v++) {
    if (before[v - 1] !== after[v - 1]) moves.push(`V${v} ${before[v - 1]}→${after[v - 1]}`);
  }
  return moves.join(", ") || "no move";
}

export function stepTable(container, state, step, colours, onPick) {
  const plan = state.plan;
  if (!plan) {
    container.replaceChildren(h("p", { class: "hint", text: "Plan to see the steps here." }));
    return;
  }
  const head = h("tr", {}, [h("th", { text: "step" }),
    ...[1, 2, 3].map((v) => h("th", { style: `color:${colours[v]}`, text: `V${v}` })), h("th", { text: "moves" })]);
  const rows = [];
  const done = plan.history.length;
  plan.history.forEach((positions, k) => {
    const after = k + 1 < plan.history.length ? plan.history[k + 1] : plan.steps[0];
    rows.push(h("tr", { class: "made", "data-made": k + 1 }, [h("td", { text: `made ${k + 1}` }),
      ...positions.map((p) => h("td", { text: p })), h("td", { text: `made: ${moveText(positions, after)}` })]));
  });
  plan.steps.forEach((positions, k) => {
    const moves = k === 0 ? (done ? "now" : "start") : moveText(plan.steps[k - 1], positions);
    rows.push(h("tr", { class: k === step ? "current" : "", "data-step": k, onclick: () => onPick(k) }, [
      h("td", { text: k }), ...positions.map((p) => h("td", { text: p })), h("td", { text: moves })]));
  });
  const caption = plan.exact
    ? `A plan of the exact search with the fewest steps: ${plan.num_steps} (not the controller's)`
    : plan.answer
      ? `${plan.num_steps} step${plan.num_steps === 1 ? "" : "s"} to the goals${done ? `, ${done} made` : ""}`
      : "no plan: the vehicles stay where they are";
  container.replaceChildren(h("table", { class: "steps" }, [h("caption", { text: caption }),
    h("thead", {}, [head]), h("tbody", {}, rows)]));
}

export function distanceTable(container, state) {
  if (!state.distances) {
    container.replaceChildren();
    return;
  }
  const head = h("tr", {}, [h("th", { text: "from \\ to" }), ...state.distances.map((_, j) => h("th", { text: j }))]);
  const rows = state.distances.map((row, i) => h("tr", {}, [h("th", { text: i }),
    ...row.map((d, j) => h("td", { class: i === j ? "self" : d === state.no_path ? "none" : "",
      title: d === state.no_path ? `no way from ${i} to ${j}` : `${d} road${d === 1 ? "" : "s"} from ${i} to ${j}`,
      text: d === state.no_path ? "–" : d }))]));
  container.replaceChildren(h("table", { class: "distances" }, [
    h("caption", { text: "Road distances (number of roads; – means no way)" }), h("thead", {}, [head]),
    h("tbody", {}, rows)]));
}


// Why the controller answered as it did; nothing about a plan the obstacles have changed since.
export function why(container, state, { showing = false, onToggle = null, outdated = false } = {}) {
  const e = state.explanation;
  if (!state.plan || !e) {
    container.replaceChildren(h("p", { class: "hint",
      text: "After a plan this panel tells why the controller answered as it did: on FALSE what the exact search found, on TRUE how good the plan is." }));
    return;
  }
  if (outdated) {
    const blocked = state.obstacles.map(([a, b]) => `${a}–${b}`).join(", ");
    container.replaceChildren(h("p", { class: "verdict outdated" }, [h("strong", { text: "The obstacles changed after this plan." })]),
      h("p", { class: "reason", text: `${blocked ? `Blocked now: ${blocked}.` : "No road is blocked now."} Confirm obstacles asks the controller to plan again from where the vehicles stand; this panel then tells why it answered as it did.` }));
    return;
  }
  if (e.error) {
    container.replaceChildren(h("p", { class: "problem", text: e.error }));
    return;
  }
  const answer = state.plan.answer ? "TRUE" : "FALSE";
  const fig = (value) => (value === null || value === undefined ? "–" : String(value));
  const waits = e.waits !== undefined;
  const rows = [
    ["", "steps", "vehicle moves", ...(waits ? ["waits"] : [])],
    ["the controller's plan", fig(e.steps), fig(e.moves), ...(waits ? [fig(e.waits)] : [])],
    ["the fewest possible", fig(e.optimal_steps), fig(e.optimal_moves), ...(waits ? [""] : [])],
  ];
  const table = h("table", { class: "quality" }, rows.map((r, i) => h("tr", {},
    r.map((c) => h(i === 0 ? "th" : "td", { text: c })))));
  container.replaceChildren(
    h("p", { class: `verdict ${state.plan.answer ? "yes" : "no"}`, "data-category": e.category }, [
      h("strong", { text: `The controller answered ${answer}.` })]),
    h("p", { class: "reason", text: e.reason || "" }),
    table,
  );
  const better = e.optimal_plan && e.optimal_plan.length > 1
    && (!state.plan.answer || (e.steps !== null && e.optimal_steps !== null && e.steps > e.optimal_steps));
  if (better && onToggle) {
    container.append(h("button", { id: "show-optimal", type: "button", onclick: onToggle,
      text: showing ? "Show the controller's plan again" : "Show a plan with the fewest steps" }));
    if (showing) {
      container.append(h("p", { class: "hint",
        text: "The picture and the step table now show a plan of the exact search; the controller was not asked for it and Move still follows the controller's plan." }));
    }
  }
}

const FOLD = 8; // a command sent more often than this in one group is folded into one entry

function entryItem(e) {
  if (e.note) {
    return h("li", { class: "note" }, [h("span", { text: e.note }),
      ...(e.records.length ? [h("pre", { class: "records", text: e.records.join("\n") })] : [])]);
  }
  let result = "";
  let css = "answer";
  if (e.dropped) {
    result = "dropped";
    css = "dropped";
  } else if (e.answer !== null) {
    result = e.answer;
  } else {
    result = "(no answer expected)";
    css = "quiet";
  }
  return h("li", { "data-seq": e.seq }, [
    h("div", { class: "exchange" }, [h("code", { class: "line", text: e.line }),
      h("span", { class: "arrow", text: "→" }), h("code", { class: css, text: result })]),
    ...(e.records.length ? [h("pre", { class: "records", text: e.records.join("\n") })] : []),
  ]);
}

// The entries of one group; the commands sent more than FOLD times there (the distance table's
// 144 queries, a long plan's step queries) as one folded entry each, where the first was.
function groupItems(entries) {
  const count = new Map();
  const word = (e) => (e.note ? null : e.line.split(" ")[0]);
  for (const e of entries) count.set(word(e), (count.get(word(e)) || 0) + 1);
  const folded = new Map();
  const items = [];
  for (const e of entries) {
    const w = word(e);
    if (w === null || count.get(w) <= FOLD) {
      items.push(entryItem(e));
    } else if (!folded.has(w)) {
      const list = h("ol");
      folded.set(w, list);
      items.push(h("li", { class: "folded", "data-command": w }, [h("details", {}, [
        h("summary", { text: `${w} ×${count.get(w)}` }), list])]));
    }
    if (folded.has(w)) folded.get(w).append(entryItem(e));
  }
  return items;
}

// The transcript, grouped by what the person did; the latest group stays open.
export function transcript(container, entries) {
  const groups = [];
  for (const entry of entries) {
    const last = groups[groups.length - 1];
    if (last && last.action === entry.action && !entry.note) last.entries.push(entry);
    else groups.push({ action: entry.action, entries: [entry] });
  }
  const nodes = groups.map((group, index) => {
    const count = group.entries.filter((e) => !e.note).length;
    return h("details", { open: index === groups.length - 1 }, [
      h("summary", { text: `${group.action} — ${count} command${count === 1 ? "" : "s"}` }),
      h("ol", {}, groupItems(group.entries))]);
  });
  container.replaceChildren(...(nodes.length ? nodes : [h("p", { class: "hint", text: "No commands yet." })]));
  container.scrollTop = container.scrollHeight;
}
