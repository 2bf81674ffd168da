// The workbench page: the network editor, the mission, playback, and the panels.
import { api, Refusal } from "./api.js";
import { draw, el, exportSvg, LEGEND_MARK, legendItems, TRAY_TOP } from "./canvas.js";
import { edit, History } from "./history.js";
import * as panels from "./panels.js";

const $ = (id) => document.getElementById(id);
const KEEP_ENTRIES = 3000;
const PLAY_MS = 800;
const DROP_RADIUS = 40;
const SESSION_KEY = "mova-session";
const DESIGN_KEY = "mova-design"; // what the page last showed, to start again from after a loss

const app = {
  config: null,
  state: null, // the session's state as last drawn (kept after the session is lost)
  live: false, // whether the server holds the session of `state`
  lost: "", // why there is no session, while there is none
  transcript: [],
  shownSeq: -1,
  mode: "network",
  pick: null, // first position chosen for a new road
  press: null, // a position being pressed or dragged
  drag: null, // a start or goal badge being dragged
  localCoords: {}, // positions moved on the page, not yet confirmed by the server
  step: 0,
  timer: null,
  planKey: "",
  obstacleKey: "",
  showOptimal: false,
  history: new History(),
  queue: Promise.resolve(),
};

// ----- messages and sessions -------------------------------------------------------------------

function say(text, kind = "info") {
  const node = $("message");
  node.textContent = text || "";
  node.className = `message ${text ? kind : ""}`;
  $("retry").hidden = app.live || !app.lost;
}

const lastSeq = () => (app.transcript.length ? app.transcript[app.transcript.length - 1].seq : 0);

function accept(state) {
  app.transcript.push(...state.transcript.filter((e) => e.seq > lastSeq()));
  if (app.transcript.length > KEEP_ENTRIES) app.transcript.splice(0, app.transcript.length - KEEP_ENTRIES);
  app.state = state;
  app.live = true;
  app.lost = "";
  app.localCoords = {};
  const key = state.plan ? JSON.stringify([state.plan.plan, state.plan.history, state.now]) : "";
  if (key !== app.planKey) {
    app.planKey = key;
    app.step = 0;
    stop();
  }
  const obstacles = JSON.stringify([key, state.obstacles]);
  if (obstacles !== app.obstacleKey) {
    app.obstacleKey = obstacles;
    app.showOptimal = false;
  }
  keepDesign(state);
  render();
}

// What a new session needs to show the same network and vehicles, kept in the tab.
function keepDesign(state) {
  const { positions, roads, starts, goals, settings, scenario } = state;
  try {
    sessionStorage.setItem(SESSION_KEY, state.id);
    sessionStorage.setItem(DESIGN_KEY, JSON.stringify({ positions, roads, starts, goals, settings, scenario }));
  } catch (error) {
    /* a tab without storage starts empty after a reload */
  }
}

function keptDesign() {
  try {
    return JSON.parse(sessionStorage.getItem(DESIGN_KEY) || "null");
  } catch (error) {
    return null;
  }
}

async function startSession(note) {
  const state = await api.create();
  app.transcript = [];
  accept(state);
  if (note) say(note, "info");
  return state;
}

// A new session (and controller) with the network, names, vehicles and settings of `old`.
async function restore(old, note) {
  const state = await startSession();
  const id = state.id;
  for (const p of old.positions) {
    const fresh = state.positions[p.position];
    if (fresh.x !== p.x || fresh.y !== p.y || p.name) {
      await api.act(id, "position", { position: p.position, x: p.x, y: p.y, name: p.name });
    }
  }
  for (const r of old.roads) await api.act(id, "road", { kind: r.kind, from: r.from, to: r.to });
  if (old.scenario && old.scenario.name) await api.act(id, "name", { name: old.scenario.name });
  if (old.settings && old.settings.timeout_ms !== null && old.settings.timeout_ms !== undefined) {
    await api.act(id, "settings", { timeout_ms: old.settings.timeout_ms });
  }
  accept(await api.act(id, "vehicles", { starts: old.starts, goals: old.goals }));
  say(note, "info");
}

const ENDED = "This page's session had ended (left idle too long, or the server restarted). A new session with a new controller has started with the same network and vehicles; build or plan again.";

// Without a session the page says why and offers Retry; nothing else is sent until then.
function lose(error) {
  app.live = false;
  app.lost = error.message;
  stop();
  const when = error.status === 503 ? "when the workbench has room again" : error.status === 0 ? "when the server runs again" : "to try again";
  say(`${error.message} ${app.state ? "Nothing is lost on this page: " : ""}Retry ${when}.`, "error");
  render();
}

// Finds this tab's session again, or starts one (with the network it showed before, if any).
async function connect() {
  try {
    if (!app.config) await loadConfig();
    const saved = app.state ? app.state.id : sessionStorage.getItem(SESSION_KEY);
    const state = saved ? await api.state(saved).catch(() => null) : null;
    const design = app.state || keptDesign();
    const first = !document.body.dataset.ready;
    if (state) {
      accept(state);
      say(first ? "Welcome back: this is the session you had open." : "The session is there again.", "info");
    } else if (design && (design.roads.length || design.starts.some((p) => p !== null))) {
      await restore(design, saved ? ENDED : "The network and vehicles this tab showed before are back, on a new session.");
    } else {
      await startSession("Start with the network: choose a kind of road, then click two positions to join them.");
    }
  } catch (error) {
    if (!(error instanceof Refusal)) throw error;
    lose(error);
  } finally {
    document.body.dataset.ready = "yes";
  }
}

// Runs requests one after the other, in the order asked; a body may be a function of the
// state then. Resolves to whether all went through. `record` keeps the edit for undo.
function send(requests, { record = false, done = null } = {}) {
  const run = async () => {
    if (!app.live) {
      say(app.lost ? `${app.lost} Retry first.` : "The page has no session yet.", "error");
      return false;
    }
    document.body.classList.add("busy");
    try {
      for (const [action, body] of requests) {
        const before = app.state;
        const sent = typeof body === "function" ? body(before) : body;
        const state = await api.act(before.id, action, sent);
        accept(state);
        const entry = record ? edit(action, sent, before, state) : null;
        if (entry) app.history.record(entry);
        say(state.message, /answered FALSE/.test(state.message) ? "warn" : "ok");
      }
      if (done) await done(app.state);
      return true;
    } catch (error) {
      await handle(error);
      return false;
    } finally {
      document.body.classList.remove("busy");
      renderHistory();
    }
  };
  app.queue = app.queue.then(run, run);
  return app.queue;
}

const EDITS = new Set(["road", "remove-road", "clear-roads", "position", "vehicles"]);

function act(action, body, done) {
  return send([[action, body]], { record: EDITS.has(action), done });
}

async function handle(error) {
  if (!(error instanceof Refusal)) {
    console.error(error);
    say(`Something went wrong on this page: ${error.message}`, "error");
    return;
  }
  if (error.status === 404 && /session has ended/.test(error.message)) {
    try {
      await restore(app.state, ENDED);
    } catch (again) {
      if (again instanceof Refusal) lose(again);
      else say(`Something went wrong on this page: ${again.message}`, "error");
    }
    return;
  }
  app.localCoords = {};
  if (error.status === 503 || error.status === 0) await refresh();
  else render();
  say(error.message, "error");
}

async function refresh() {
  try {
    accept(await api.state(app.state.id, lastSeq()));
  } catch (error) {
    /* the message of the first problem stays */
  }
}

// The page goes away (closed, reloaded, another address): the server ends its session soon
// after, unless this tab takes it up again (a reload, or the way back to a kept page).
function wireSession() {
  addEventListener("pagehide", () => {
    if (app.live && app.state) api.leave(app.state.id);
  });
  addEventListener("pageshow", (event) => {
    if (event.persisted && app.state) app.queue = app.queue.then(connect);
  });
  $("retry").addEventListener("click", () => {
    app.queue = app.queue.then(connect);
  });
}

// ----- undo and redo ---------------------------------------------------------------------------

function undoRedo(kind) {
  if (!app.live) return;
  const entry = app.history.take(kind);
  if (!entry) {
    say(kind === "undo" ? "Nothing to undo." : "Nothing to redo.");
    return;
  }
  const word = kind === "undo" ? "Undone" : "Redone";
  send(entry[kind]).then((ok) => {
    app.history.settle(kind, entry, ok);
    if (ok) say(`${word}: ${entry.label}.`, "ok");
    renderHistory();
  });
}

function renderHistory() {
  for (const kind of ["undo", "redo"]) {
    const entry = app.history.next(kind);
    const button = $(kind);
    button.disabled = !entry || !app.live;
    const keys = kind === "undo" ? "Ctrl+Z" : "Ctrl+Y";
    button.title = entry ? `${kind === "undo" ? "Undo" : "Redo"} ${entry.label} (${keys})` : `Nothing to ${kind} (${keys})`;
  }
}

// ----- drawing ---------------------------------------------------------------------------------

function coords() {
  const out = {};
  for (const p of app.state.positions) out[p.position] = app.localCoords[p.position] || [p.x, p.y];
  return out;
}

function names() {
  const out = {};
  for (const p of app.state.positions) out[p.position] = p.name;
  return out;
}

// Whether the obstacles changed after the plan was made (it was made around others).
function planOutdated(s) {
  if (!s.plan) return false;
  const key = (list) => list.map(([a, b]) => (a < b ? `${a}-${b}` : `${b}-${a}`)).sort().join(" ");
  return key(s.plan.obstacles) !== key(s.obstacles);
}

// The plan the picture and the step table show: the controller's (a plan not found keeps the
// vehicles where they stand), or the exact search's fewest-steps plan.
function shownPlan() {
  const plan = app.state.plan;
  const e = app.state.explanation;
  if (!plan) return null;
  if (!app.showOptimal || !e || !e.optimal_plan) {
    return { answer: plan.answer, exact: false, steps: plan.plan || [app.state.now], history: plan.history,
      obstacles: plan.obstacles, num_steps: plan.steps };
  }
  return { answer: true, exact: true, steps: e.optimal_plan, history: plan.history, obstacles: plan.obstacles,
    num_steps: e.optimal_plan.length - 1 };
}

function toggleOptimal() {
  app.showOptimal = !app.showOptimal;
  app.step = 0;
  stop();
  render();
}

const plural = (n, word) => `${n} ${word}${n === 1 ? "" : "s"}`;

function caption() {
  const s = app.state;
  const plan = shownPlan();
  if (!plan) return `Road network: ${plural(s.roads.length, "road")}${s.obstacles.length ? `, ${plural(s.obstacles.length, "obstacle")}` : ""}`;
  if (plan.exact) return `Fewest steps (exact search, not the controller's plan): ${plural(plan.num_steps, "step")}`;
  if (!plan.answer) return "No plan found";
  let text = `Plan: ${plural(plan.num_steps, "step")}`;
  if (plan.history.length) text += ` (after ${plural(plan.history.length, "step")} made)`;
  if (planOutdated(s)) return `${text}, made before the obstacles changed`;
  if (plan.obstacles.length) text += `, ${plural(plan.obstacles.length, "obstacle")}`;
  return text;
}

function serverCoords() {
  const out = {};
  for (const p of app.state.positions) out[p.position] = [p.x, p.y];
  return out;
}

function drawCanvas() {
  const s = app.state;
  draw($("canvas"), app.config, {
    caption: caption(), coords: coords(), serverCoords: serverCoords(), geometry: s.geometry,
    moved: new Set(Object.keys(app.localCoords).map(Number)), names: names(), roads: s.roads,
    obstacles: s.obstacles, starts: s.starts, goals: s.goals, plan: shownPlan(), step: app.step, mode: app.mode,
    pick: app.pick, drag: app.drag,
  });
}

// The line under the tabs: what to do next, from the state as it is now.
function modeHint(s) {
  const placed = s.starts.every((p) => p !== null) && s.goals.every((p) => p !== null);
  if (!s.controller.running) return "The controller stopped: Restart the controller to go on.";
  if (app.mode === "network") {
    if (!s.roads.length) return "Choose a kind of road, then click two positions to join them.";
    if (!s.built) return "Click two positions to add a road; drag a position to move it.";
    return "Built. Next: 2 · Mission, to place the vehicles and plan.";
  }
  if (!placed) return "Drag the starts (S) and goals (G) onto positions, then Plan.";
  if (!s.plan) return "Every vehicle is placed: Plan asks for a plan.";
  if (planOutdated(s)) return "The obstacles changed: Confirm obstacles plans again.";
  if (!s.plan.answer) return "No plan: the Why panel tells why.";
  return "Play the plan, Move one step, or click a road to block it.";
}

function renderController(s) {
  const chip = $("controller");
  if (!app.live) {
    chip.className = "controller down";
    chip.textContent = "No controller";
    $("restart").hidden = true;
    return;
  }
  const c = s.controller;
  chip.className = `controller ${c.running ? "running" : "down"}`;
  chip.textContent = c.running ? `Controller running (process ${c.pid})` : `Controller stopped: ${c.problem}`;
  chip.title = chip.textContent;
  $("restart").hidden = c.running;
}

function render() {
  const s = app.state;
  document.body.classList.toggle("no-session", !app.live);
  for (const node of document.querySelectorAll(".needs-session")) node.disabled = !app.live;
  $("save-picture").disabled = !s;
  renderHistory();
  for (const mode of ["network", "mission"]) {
    $(`mode-${mode}`).setAttribute("aria-selected", String(app.mode === mode));
    $(`${mode}-panel`).hidden = app.mode !== mode;
  }
  $("retry").hidden = app.live || !app.lost;
  if (!s) {
    renderController(s);
    $("mode-hint").textContent = "";
    $("canvas").replaceChildren(el("text", { x: 450, y: 330, "text-anchor": "middle", "font-size": 18, fill: "#5d6672" },
      ["No session yet: the line above says why."]));
    return;
  }
  renderController(s);
  document.body.classList.toggle("mission", app.mode === "mission");
  $("mode-hint").textContent = app.live ? modeHint(s) : "No session: Retry to go on with this network.";
  drawCanvas();
  renderNetwork(s);
  renderMission(s);
  renderPlayback(s);
  panels.why($("why"), s, { showing: app.showOptimal, onToggle: toggleOptimal, outdated: planOutdated(s) });
  if (lastSeq() !== app.shownSeq) {
    app.shownSeq = lastSeq();
    panels.transcript($("transcript"), app.transcript);
  }
}

function positionOptions(select, value, blank) {
  const options = [];
  if (blank) options.push(new Option(blank, ""));
  for (const p of app.state.positions) {
    options.push(new Option(p.name ? `${p.position} · ${p.name}` : String(p.position), String(p.position)));
  }
  select.replaceChildren(...options);
  select.value = value === null || value === undefined ? "" : String(value);
}

function renderNetwork(s) {
  const from = $("road-from"), to = $("road-to");
  const keepFrom = from.value || "0", keepTo = to.value || "1";
  positionOptions(from, keepFrom);
  positionOptions(to, keepTo);
  const named = $("name-position");
  positionOptions(named, named.value || "0");
  const full = s.roads.length >= s.max_roads;
  $("road-count").textContent = `${s.roads.length} of ${s.max_roads} roads` + (full ? " — the limit: remove a road to add another." : "");
  $("road-count").className = `count${full ? " full" : ""}`;
  panels.roadList($("road-list"), s, app.config, (index) => act("remove-road", { index }));
  $("built").textContent = s.built ? "The controller holds this network."
    : s.roads.length ? "Not built yet: Build (or Plan) sends the roads to the controller." : "";
  panels.distanceTable($("distance-table"), s);
}

function renderMission(s) {
  const rows = app.config.vehicles.map((v) => {
    const start = panels.h("select", { "aria-label": `start of vehicle ${v}`, "data-vehicle": v, "data-kind": "start" });
    const goal = panels.h("select", { "aria-label": `goal of vehicle ${v}`, "data-vehicle": v, "data-kind": "goal" });
    positionOptions(start, s.starts[v - 1], "—");
    positionOptions(goal, s.goals[v - 1], "—");
    for (const select of [start, goal]) select.addEventListener("change", () => placeFromSelect(select));
    return panels.h("tr", {}, [
      panels.h("td", {}, [panels.h("span", { class: "swatch", style: `background:${app.config.colours[v]}` }),
        panels.h("span", { text: ` vehicle ${v}` })]),
      panels.h("td", {}, [start]), panels.h("td", {}, [goal])]);
  });
  $("vehicle-rows").replaceChildren(...rows);
  const plan = s.plan;
  const running = app.live && s.controller.running;
  $("move").disabled = !(plan && plan.answer && plan.steps > 0) || !running;
  $("confirm").disabled = !plan || !running;
  $("clear-obstacles").disabled = !s.obstacles.length || !app.live;
  $("obstacle-list").textContent = s.obstacles.length
    ? `Blocked: ${s.obstacles.map(([a, b]) => `${a}–${b}`).join(", ")}` : "No road is blocked.";
  const timeout = $("timeout");
  if (document.activeElement !== timeout) timeout.value = s.settings.timeout_ms ?? "";
}

// The play button's picture: SVG shapes, which every font shows alike.
const ICONS = { play: "M3,1.5 L11,6 L3,10.5 z", pause: "M2.5,1.5 h2.6 v9 h-2.6 z M6.9,1.5 h2.6 v9 h-2.6 z" };

function icon(name) {
  return el("svg", { class: `icon ${name}`, viewBox: "0 0 12 12", width: 12, height: 12, "aria-hidden": "true" },
    [el("path", { d: ICONS[name], fill: "currentColor" })]);
}

function renderPlayback(s) {
  const plan = shownPlan();
  const show = Boolean(plan && plan.answer && plan.steps.length > 1);
  $("playback").hidden = !show;
  panels.stepTable($("steps"), { ...s, plan }, app.step, app.config.colours, (k) => { stop(); setStep(k); });
  if (!show) return;
  const n = plan.steps.length - 1;
  const slider = $("slider");
  slider.max = String(n);
  slider.value = String(app.step);
  $("step-label").textContent = `step ${app.step} of ${n}`;
  const playing = Boolean(app.timer);
  $("play").replaceChildren(icon(playing ? "pause" : "play"), playing ? " Pause" : " Play");
  $("play").setAttribute("aria-label", playing ? "pause" : "play");
  $("step-back").disabled = app.step === 0;
  $("step-forward").disabled = app.step === n;
}

// ----- playback --------------------------------------------------------------------------------

function lastStep() {
  const plan = shownPlan();
  return plan ? plan.steps.length - 1 : 0;
}

function setStep(k) {
  app.step = Math.max(0, Math.min(lastStep(), k));
  drawCanvas();
  renderPlayback(app.state);
}

function stop() {
  if (app.timer) clearInterval(app.timer);
  app.timer = null;
}

function play() {
  if (app.timer) {
    stop();
    renderPlayback(app.state);
    return;
  }
  if (app.step >= lastStep()) app.step = 0;
  app.timer = setInterval(() => {
    setStep(app.step + 1);
    if (app.step >= lastStep()) {
      stop();
      renderPlayback(app.state);
    }
  }, PLAY_MS);
  renderPlayback(app.state);
}

// Keys: Space or K plays and pauses, the arrows step, Home and End go to the first and last
// step; Ctrl+Z undoes an edit, Ctrl+Y (or Ctrl+Shift+Z) redoes it; Esc drops a chosen position.
function onKey(event) {
  const target = event.target instanceof Element ? event.target : document.body;
  const typing = Boolean(target.closest("input, select, textarea"));
  const key = event.key.length === 1 ? event.key.toLowerCase() : event.key;
  if (key === "Escape" && app.pick !== null) {
    app.pick = null;
    drawCanvas();
    say("No position chosen.");
    return;
  }
  if ((event.ctrlKey || event.metaKey) && !event.altKey) {
    if ((typing && target.type !== "range") || !["z", "y"].includes(key)) return;
    event.preventDefault();
    undoRedo(key === "z" && !event.shiftKey ? "undo" : "redo");
    return;
  }
  if (typing || event.altKey || $("playback").hidden) return;
  const moves = { ArrowLeft: () => setStep(app.step - 1), ArrowRight: () => setStep(app.step + 1),
    Home: () => setStep(0), End: () => setStep(lastStep()) };
  if (key === "k" || (key === " " && !target.closest("button, a, summary"))) {
    event.preventDefault();
    play();
  } else if (moves[key]) {
    event.preventDefault();
    stop();
    moves[key]();
  }
}

// ----- the picture's pointer handling ----------------------------------------------------------

function svgPoint(event) {
  const svg = $("canvas");
  const point = svg.createSVGPoint();
  point.x = event.clientX;
  point.y = event.clientY;
  const p = point.matrixTransform(svg.getScreenCTM().inverse());
  return [p.x, p.y];
}

function nearestPosition([x, y]) {
  let best = null, bestDistance = DROP_RADIUS;
  for (const [p, [px, py]] of Object.entries(coords())) {
    const d = Math.hypot(px - x, py - y);
    if (d <= bestDistance) {
      best = Number(p);
      bestDistance = d;
    }
  }
  return best;
}

function onPointerDown(event) {
  if (!app.state || !app.live || event.button !== 0) return;
  const target = event.target;
  const badgeNode = target.closest("[data-badge]");
  if (app.mode === "mission" && badgeNode) {
    const [kind, v] = badgeNode.dataset.badge.split("-");
    app.drag = { kind, vehicle: Number(v), at: svgPoint(event) };
    $("canvas").setPointerCapture(event.pointerId);
    event.preventDefault();
    drawCanvas();
    return;
  }
  const positionNode = target.closest(".position");
  if (app.mode === "network" && positionNode) {
    app.press = { position: Number(positionNode.dataset.pos), from: svgPoint(event), moved: false };
    $("canvas").setPointerCapture(event.pointerId);
    event.preventDefault();
  }
}

function onPointerMove(event) {
  if (app.drag) {
    app.drag.at = svgPoint(event);
    drawCanvas();
  } else if (app.press) {
    const [x, y] = svgPoint(event);
    if (!app.press.moved && Math.hypot(x - app.press.from[0], y - app.press.from[1]) < 5) return;
    app.press.moved = true;
    const margin = 30;
    app.localCoords[app.press.position] = [
      Math.round(Math.max(margin, Math.min(app.config.width - margin, x))),
      Math.round(Math.max(margin, Math.min(app.config.height - margin, y))),
    ];
    drawCanvas();
  }
}

function onPointerUp() {
  if (app.drag) {
    const { kind, vehicle, at } = app.drag;
    app.drag = null;
    const p = at[1] < TRAY_TOP ? nearestPosition(at) : null;
    drawCanvas();
    act("vehicles", (state) => placed(state, kind, vehicle, p), () => {
      if (p === null) say(`The ${kind} of vehicle ${vehicle} is back in the tray.`, "ok");
      else say(`The ${kind} of vehicle ${vehicle} is on position ${p}.`, "ok");
    });
    return;
  }
  if (!app.press) return;
  const { position, moved } = app.press;
  app.press = null;
  if (moved) {
    const [x, y] = app.localCoords[position];
    act("position", { position, x, y });
    return;
  }
  choose(position);
}

function choose(position) {
  const kind = chosenKind();
  if (app.pick === null) {
    app.pick = position;
    drawCanvas();
    say(`Position ${position} chosen. Click the second position for a ${kindPhrase(kind)} (Esc cancels).`);
  } else if (app.pick === position) {
    app.pick = null;
    drawCanvas();
    say("No position chosen.");
  } else {
    const from = app.pick;
    app.pick = null;
    act("road", { kind, from, to: position });
  }
}

function onCanvasClick(event) {
  if (app.mode !== "mission" || !app.state) return;
  const road = event.target.closest(".road-target");
  if (!road) return;
  const a = Number(road.dataset.from), b = Number(road.dataset.to);
  if (road.dataset.blocked === "yes") {
    say(`The road ${a}–${b} is already blocked. Clear obstacles to open every road again.`, "error");
    return;
  }
  act("obstacle", { from: a, to: b });
}

// The starts and goals of a state with one of them changed (asked when the request is sent).
function placed(state, kind, vehicle, p) {
  const starts = [...state.starts], goals = [...state.goals];
  (kind === "start" ? starts : goals)[vehicle - 1] = p;
  return { starts, goals };
}

function placeFromSelect(select) {
  const value = select.value === "" ? null : Number(select.value);
  act("vehicles", (state) => placed(state, select.dataset.kind, Number(select.dataset.vehicle), value));
}

// ----- files -----------------------------------------------------------------------------------

function download(name, text, type) {
  const url = URL.createObjectURL(new Blob([text], { type }));
  const link = document.createElement("a");
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
}

async function loadFile(file) {
  if (!file) return;
  if (file.size > 256 * 1024) {
    say(`${file.name} is too large for a scenario file (at most 256 KiB).`, "error");
    return;
  }
  const text = await file.text();
  app.queue = app.queue.then(async () => {
    if (!app.live) {
      say(`${app.lost} Retry first.`, "error");
      return;
    }
    try {
      accept(await api.loadScenario(app.state.id, text));
      app.history.clear();
      setMode("mission");
      say(app.state.message, "ok");
    } catch (error) {
      await handle(error);
    }
  });
}

// Save scenario asks for the scenario's name first (the name it has, or a new one).
function askName() {
  if (!app.live) {
    say(`${app.lost} Retry first.`, "error");
    return;
  }
  $("scenario-name").value = (app.state.scenario && app.state.scenario.name) || "";
  $("save-dialog").showModal();
}

function saveScenario() {
  const name = $("scenario-name").value.trim();
  if (!name) {
    say("Give the scenario a name to save it.", "error");
    return;
  }
  $("save-dialog").close();
  send([["name", { name }]], { done: async () => {
    try {
      const data = await api.saveScenario(app.state.id);
      const file = (data.name || "scenario").replace(/[^A-Za-z0-9_-]+/g, "-");
      download(`${file}.json`, JSON.stringify(data, null, 2) + "\n", "application/json");
      say(`The scenario “${data.name}” is saved as ${file}.json (see your downloads).`, "ok");
    } catch (error) {
      await handle(error);
    }
  } });
}

async function exportCommands() {
  if (!app.live) return say(`${app.lost} Retry first.`, "error");
  try {
    download("mova-commands.txt", await api.commands(app.state.id), "text/plain");
    say("The command stream is saved; `mova-host run FILE` plays it again.", "ok");
  } catch (error) {
    await handle(error);
  }
}

function savePicture() {
  if (!app.state) return;
  download("mova-workbench.svg", exportSvg($("canvas"), app.config, caption()), "image/svg+xml");
  say("The picture is saved as SVG.", "ok");
}

// ----- wiring ----------------------------------------------------------------------------------

function setMode(mode) {
  app.mode = mode;
  app.pick = null;
  if (app.live) say("");
  render();
}

const kindPhrase = (kind) => app.config.kind_words[kind].phrase;
// The kind of the next road, as chosen (two lanes before the choices are there).
const chosenKind = () => (document.querySelector("input[name=kind]:checked") || { value: "two-lanes" }).value;

// The choice of the next road's kind, in the words of the legend; two lanes to begin with.
function kindChoices() {
  const choices = app.config.kinds.map((kind) => {
    const radio = panels.h("input", { type: "radio", name: "kind", value: kind, checked: kind === "two-lanes" });
    radio.addEventListener("change", () => {
      if (app.pick !== null) say(`Position ${app.pick} chosen. Click the second position for a ${kindPhrase(kind)}.`);
    });
    return panels.h("label", {}, [radio, ` ${app.config.kind_words[kind].label}`]);
  });
  $("kinds").append(...choices);
}

function wireCanvas() {
  const canvas = $("canvas");
  canvas.addEventListener("pointerdown", onPointerDown);
  canvas.addEventListener("pointermove", onPointerMove);
  canvas.addEventListener("pointerup", onPointerUp);
  canvas.addEventListener("pointercancel", () => { app.drag = null; app.press = null; app.localCoords = {}; drawCanvas(); });
  canvas.addEventListener("click", onCanvasClick);
  document.addEventListener("keydown", onKey);
  $("mode-network").addEventListener("click", () => setMode("network"));
  $("mode-mission").addEventListener("click", () => setMode("mission"));
  $("undo").addEventListener("click", () => undoRedo("undo"));
  $("redo").addEventListener("click", () => undoRedo("redo"));
}

function wireNetwork() {
  $("road-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const kind = chosenKind();
    act("road", { kind, from: Number($("road-from").value), to: Number($("road-to").value) });
  });
  $("name-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const position = Number($("name-position").value);
    const name = $("name-text").value.trim();
    act("position", { position, name }, () => {
      say(name ? `Position ${position} is called “${name}”.` : `Position ${position} has no name now.`, "ok");
      $("name-text").value = "";
    });
  });
  $("name-position").addEventListener("change", () => {
    if (app.state) $("name-text").value = app.state.positions[Number($("name-position").value)].name || "";
  });
  $("build").addEventListener("click", () => act("build"));
  $("distances").addEventListener("click", () => act("distances"));
  $("clear-roads").addEventListener("click", () => {
    if (app.state && app.state.roads.length && confirm("Remove every road? (Undo brings them back.)")) act("clear-roads");
  });
}

function wireMission() {
  $("plan").addEventListener("click", () => act("plan"));
  $("move").addEventListener("click", () => act("move"));
  $("confirm").addEventListener("click", () => act("confirm"));
  $("clear-obstacles").addEventListener("click", () => act("clear-obstacles"));
  $("timeout").addEventListener("change", () => {
    const value = $("timeout").value.trim();
    if (value === "") return;
    act("settings", { timeout_ms: Number(value) });
  });
  $("restart").addEventListener("click", () => act("restart"));
  $("play").addEventListener("click", play);
  $("step-back").addEventListener("click", () => { stop(); setStep(app.step - 1); });
  $("step-forward").addEventListener("click", () => { stop(); setStep(app.step + 1); });
  $("slider").addEventListener("input", () => { stop(); setStep(Number($("slider").value)); });
}

function wireFiles() {
  $("load-file").addEventListener("change", (event) => {
    loadFile(event.target.files[0]);
    event.target.value = "";
  });
  $("save-scenario").addEventListener("click", askName);
  $("save-form").addEventListener("submit", (event) => {
    event.preventDefault();
    saveScenario();
  });
  $("save-cancel").addEventListener("click", () => $("save-dialog").close());
  $("save-picture").addEventListener("click", savePicture);
  $("export-commands").addEventListener("click", exportCommands);
}

// The legend below the picture, in the page's own type size.
function legend() {
  const items = legendItems(app.config).map((item) => panels.h("span", { class: "item" }, [
    el("svg", { width: LEGEND_MARK, height: 16, viewBox: `0 0 ${LEGEND_MARK} 16`, fill: "none", "aria-hidden": "true" },
      item.marks), item.words]));
  $("legend").replaceChildren(...items);
}

async function loadConfig() {
  app.config = await api.config();
  kindChoices();
  legend();
  const minutes = Math.round(app.config.idle_seconds / 60);
  $("footer").textContent = `This page drives its own controller process; closing the page ends it. After ${minutes} minute${minutes === 1 ? "" : "s"} without use the session ends with its controller; the page then starts a new one with the same network and vehicles.`;
}

function main() {
  wireCanvas();
  wireNetwork();
  wireMission();
  wireFiles();
  wireSession();
  app.queue = app.queue.then(connect).catch((error) => {
    console.error(error);
    say(`Something went wrong on this page: ${error.message}`, "error");
  });
}

main();
