// The workbench page: the network editor, the mission, playback, and the panels.
import { api, Refusal } from "./api.js";
import { draw, exportSvg, TRAY_TOP } from "./canvas.js";
import * as panels from "./panels.js";

const $ = (id) => document.getElementById(id);
const KEEP_ENTRIES = 3000;
const PLAY_MS = 800;
const DROP_RADIUS = 40;

const app = {
  config: null,
  state: null,
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
  showOptimal: false,
  queue: Promise.resolve(),
};

// ----- messages and sessions -------------------------------------------------------------------

function say(text, kind = "info") {
  const node = $("message");
  node.textContent = text || "";
  node.className = `message ${text ? kind : ""}`;
}

function accept(state) {
  const last = app.transcript.length ? app.transcript[app.transcript.length - 1].seq : 0;
  app.transcript.push(...state.transcript.filter((e) => e.seq > last));
  if (app.transcript.length > KEEP_ENTRIES) app.transcript.splice(0, app.transcript.length - KEEP_ENTRIES);
  app.state = state;
  app.localCoords = {};
  const key = state.plan ? JSON.stringify([state.plan.plan, state.plan.history, state.now]) : "";
  if (key !== app.planKey) {
    app.planKey = key;
    app.step = 0;
    app.showOptimal = false;
    stop();
  }
  render();
}

async function startSession(note) {
  const state = await api.create();
  sessionStorage.setItem("mova-session", state.id);
  app.transcript = [];
  accept(state);
  if (note) say(note, "info");
  return state;
}

// After a session ended (idle too long), a new one gets the network and vehicles back.
async function restore(old) {
  const state = await startSession();
  const id = state.id;
  for (const p of old.positions) {
    const fresh = state.positions[p.position];
    if (fresh.x !== p.x || fresh.y !== p.y || p.name) {
      await api.act(id, "position", { position: p.position, x: p.x, y: p.y, name: p.name });
    }
  }
  for (const r of old.roads) await api.act(id, "road", { kind: r.kind, from: r.from, to: r.to });
  accept(await api.act(id, "vehicles", { starts: old.starts, goals: old.goals }));
  say("This page's session had ended (left idle too long, or the server restarted). A new session with a new controller has started with the same network and vehicles; build or plan again.", "info");
}

// Runs one request after the other, in the order asked.
function act(action, body, done) {
  app.queue = app.queue.then(async () => {
    document.body.classList.add("busy");
    try {
      const state = await api.act(app.state.id, action, typeof body === "function" ? body() : body);
      accept(state);
      say(state.message, /answered FALSE/.test(state.message) ? "warn" : "ok");
      if (done) done(state);
    } catch (error) {
      await handle(error);
    } finally {
      document.body.classList.remove("busy");
    }
  });
  return app.queue;
}

async function handle(error) {
  if (!(error instanceof Refusal)) {
    console.error(error);
    say(`Something went wrong on this page: ${error.message}`, "error");
    return;
  }
  if (error.status === 404 && app.state) {
    try {
      await restore(app.state);
    } catch (again) {
      say(again.message, "error");
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
    accept(await api.state(app.state.id, app.transcript.length ? app.transcript[app.transcript.length - 1].seq : 0));
  } catch (error) {
    /* the message of the first problem stays */
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

function render() {
  const s = app.state;
  if (!s) return;
  const c = s.controller;
  const chip = $("controller");
  chip.className = `controller ${c.running ? "running" : "down"}`;
  chip.textContent = c.running ? `Controller running (process ${c.pid})` : `Controller stopped: ${c.problem}`;
  $("restart").hidden = c.running;

  for (const mode of ["network", "mission"]) {
    $(`mode-${mode}`).setAttribute("aria-selected", String(app.mode === mode));
    $(`${mode}-panel`).hidden = app.mode !== mode;
  }
  $("mode-hint").textContent = app.mode === "network"
    ? "Click two positions to add a road; drag positions to arrange them."
    : "Drag starts and goals onto positions; click a road to block it.";
  drawCanvas();
  renderNetwork(s);
  renderMission(s);
  renderPlayback(s);
  panels.why($("why"), s, app.showOptimal, toggleOptimal);
  const lastSeq = app.transcript.length ? app.transcript[app.transcript.length - 1].seq : 0;
  if (lastSeq !== app.shownSeq) {
    app.shownSeq = lastSeq;
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
  $("move").disabled = !(plan && plan.answer && plan.steps > 0) || !s.controller.running;
  $("confirm").disabled = !plan || !s.controller.running;
  $("clear-obstacles").disabled = !s.obstacles.length;
  $("obstacle-list").textContent = s.obstacles.length
    ? `Blocked: ${s.obstacles.map(([a, b]) => `${a}–${b}`).join(", ")}` : "No road is blocked.";
  const timeout = $("timeout");
  if (document.activeElement !== timeout) timeout.value = s.settings.timeout_ms ?? "";
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
  $("play").textContent = app.timer ? "⏸ Pause" : "▶ Play";
  $("play").setAttribute("aria-label", app.timer ? "pause" : "play");
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
    if (app.step >= lastStep()) {
      stop();
      renderPlayback(app.state);
      return;
    }
    setStep(app.step + 1);
    if (app.step >= lastStep()) {
      stop();
      renderPlayback(app.state);
    }
  }, PLAY_MS);
  renderPlayback(app.state);
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
  if (!app.state || event.button !== 0) return;
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

function onPointerUp(event) {
  if (app.drag) {
    const { kind, vehicle, at } = app.drag;
    app.drag = null;
    const p = at[1] < TRAY_TOP ? nearestPosition(at) : null;
    drawCanvas();
    act("vehicles", () => placed(kind, vehicle, p), () => {
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
  const kind = document.querySelector("input[name=kind]:checked").value;
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

// The starts and goals with one of them changed, from the latest state (asked when sent).
function placed(kind, vehicle, p) {
  const starts = [...app.state.starts], goals = [...app.state.goals];
  (kind === "start" ? starts : goals)[vehicle - 1] = p;
  return { starts, goals };
}

function placeFromSelect(select) {
  const value = select.value === "" ? null : Number(select.value);
  act("vehicles", () => placed(select.dataset.kind, Number(select.dataset.vehicle), value));
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
    try {
      accept(await api.loadScenario(app.state.id, text));
      setMode("mission");
      say(app.state.message, "ok");
    } catch (error) {
      await handle(error);
    }
  });
}

async function saveScenario() {
  try {
    const data = await api.saveScenario(app.state.id);
    const name = (data.name || "scenario").replace(/[^A-Za-z0-9_-]+/g, "-");
    download(`${name}.json`, JSON.stringify(data, null, 2) + "\n", "application/json");
    say("The scenario file is saved (see your downloads).", "ok");
  } catch (error) {
    await handle(error);
  }
}

async function exportCommands() {
  try {
    download("mova-commands.txt", await api.commands(app.state.id), "text/plain");
    say("The command stream is saved; `mova-host run FILE` plays it again.", "ok");
  } catch (error) {
    await handle(error);
  }
}

function savePicture() {
  download("mova-workbench.svg", exportSvg($("canvas"), app.config, caption()), "image/svg+xml");
  say("The picture is saved as SVG.", "ok");
}

// ----- wiring ----------------------------------------------------------------------------------

function setMode(mode) {
  app.mode = mode;
  app.pick = null;
  render();
}

const kindPhrase = (kind) => app.config.kind_words[kind].phrase;

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
  document.addEventListener("keydown", (event) => {
    if (event.key === "Escape" && app.pick !== null) {
      app.pick = null;
      drawCanvas();
      say("No position chosen.");
    }
  });
  $("mode-network").addEventListener("click", () => setMode("network"));
  $("mode-mission").addEventListener("click", () => setMode("mission"));
}

function wireNetwork() {
  $("road-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const kind = document.querySelector("input[name=kind]:checked").value;
    act("road", { kind, from: Number($("road-from").value), to: Number($("road-to").value) });
  });
  $("name-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const position = Number($("name-position").value);
    act("position", { position, name: $("name-text").value }, () => {
      say($("name-text").value.trim() ? `Position ${position} is called “${$("name-text").value.trim()}”.`
        : `Position ${position} has no name now.`, "ok");
      $("name-text").value = "";
    });
  });
  $("name-position").addEventListener("change", () => {
    $("name-text").value = app.state.positions[Number($("name-position").value)].name || "";
  });
  $("build").addEventListener("click", () => act("build"));
  $("distances").addEventListener("click", () => act("distances"));
  $("clear-roads").addEventListener("click", () => {
    if (app.state.roads.length && confirm("Remove every road?")) act("clear-roads");
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
  $("save-scenario").addEventListener("click", saveScenario);
  $("save-picture").addEventListener("click", savePicture);
  $("export-commands").addEventListener("click", exportCommands);
}

async function main() {
  wireCanvas();
  wireNetwork();
  wireMission();
  wireFiles();
  try {
    app.config = await api.config();
    kindChoices();
    const minutes = Math.round(app.config.idle_seconds / 60);
    $("footer").textContent = `This page drives its own controller process. After ${minutes} minute${minutes === 1 ? "" : "s"} without use the session ends with its controller; the page then starts a new one with the same network and vehicles.`;
    const saved = sessionStorage.getItem("mova-session");
    let state = null;
    if (saved) {
      try {
        state = await api.state(saved);
      } catch (error) {
        state = null;
      }
    }
    if (state) {
      accept(state);
      say("Welcome back: this is the session you had open.");
    } else {
      await startSession("Start with the network: choose a kind of road, then click two positions to join them.");
    }
    document.body.dataset.ready = "yes";
  } catch (error) {
    say(error.message, "error");
    $("controller").textContent = "No controller";
    $("controller").className = "controller down";
  }
}

main();
