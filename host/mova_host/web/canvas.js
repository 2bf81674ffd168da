// The picture: positions, roads, obstacles, the vehicles' paths and badges, drawn as SVG.
// It follows the look of the package's SVG pictures (same colours, road styles and markers), and
// the roads run where the server lays them out, the course the SVG pictures draw. While a
// position is dragged, its roads run straight until the server has its new place.

const SVG_NS = "http://www.w3.org/2000/svg";
export const NODE_RADIUS = 22;
// Below the network: the tray of the starts and goals not placed yet (in the mission only).
export const TRAY_TOP = 648;
export const VIEW_HEIGHT = 700;
const ROAD_TRIM = NODE_RADIUS + 2;
const PATH_SHIFT = { 1: [-7, -7], 2: [0, 0], 3: [7, 7] };
const NUMBER_AT = { 1: 0.3, 2: 0.5, 3: 0.7 };
const START_ANGLE = { 1: -135, 2: -45, 3: 90 };
const GOAL_ANGLE = { 1: 45, 2: 135, 3: -90 };
const DARK = "#2b3038";
const FAINT = "#b8bec6";
const ARROW = "#5f6873";

export function el(tag, attrs = {}, children = []) {
  const node = document.createElementNS(SVG_NS, tag);
  for (const [key, value] of Object.entries(attrs)) {
    if (value !== null && value !== undefined) node.setAttribute(key, String(value));
  }
  for (const child of children) node.append(child);
  return node;
}

const fmt = (v) => (Math.round(v * 10) / 10).toString();
const pairKey = (a, b) => (a < b ? `${a}-${b}` : `${b}-${a}`);

// The course of the roads: the server's path of each road and, for the vehicles' paths, the
// control point of the curve between two positions (null: straight). `moved` holds the
// positions whose place on the page is not yet the server's.
export class Geometry {
  constructor(coords, layout, moved = new Set(), serverCoords = coords) {
    this.coords = coords;
    this.moved = moved;
    this.serverCoords = serverCoords;
    this.paths = new Map(layout.roads.map((r) => [r.index, r.d]));
    this.controls = new Map();
    for (const pair of layout.pairs) {
      if (!moved.has(pair.from) && !moved.has(pair.to)) this.controls.set(pairKey(pair.from, pair.to), pair.control);
    }
  }

  control(a, b) {
    return this.controls.get(pairKey(a, b)) || null;
  }

  point(a, b, t) {
    const pa = this.coords[a], pb = this.coords[b];
    const c = this.control(a, b);
    if (!c) return [pa[0] + t * (pb[0] - pa[0]), pa[1] + t * (pb[1] - pa[1])];
    const u = 1 - t;
    return [u * u * pa[0] + 2 * u * t * c[0] + t * t * pb[0], u * u * pa[1] + 2 * u * t * c[1] + t * t * pb[1]];
  }

  // The unit direction of travel from a to b at fraction t.
  direction(a, b, t) {
    const p = this.point(a, b, Math.max(0, t - 0.01)), q = this.point(a, b, Math.min(1, t + 0.01));
    const length = Math.hypot(q[0] - p[0], q[1] - p[1]) || 1;
    return [(q[0] - p[0]) / length, (q[1] - p[1]) / length];
  }

  length(a, b) {
    let total = 0;
    for (let k = 1; k <= 16; k++) {
      const p = this.point(a, b, (k - 1) / 16), q = this.point(a, b, k / 16);
      total += Math.hypot(q[0] - p[0], q[1] - p[1]);
    }
    return total;
  }

  // Path data from a to b along the course between them, shifted.
  segment(a, b, { shift = [0, 0], moveTo = true } = {}) {
    const [sx, sy] = shift;
    const s = this.coords[a], e = this.coords[b];
    const head = moveTo ? `M${fmt(s[0] + sx)},${fmt(s[1] + sy)} ` : "";
    const c = this.control(a, b);
    if (!c) return `${head}L${fmt(e[0] + sx)},${fmt(e[1] + sy)}`;
    return `${head}Q${fmt(c[0] + sx)},${fmt(c[1] + sy)} ${fmt(e[0] + sx)},${fmt(e[1] + sy)}`;
  }

  // A road as drawn: the server's course; a straight line while an end is being moved (a road
  // from a moved position to itself moves with it).
  road(road) {
    const from = this.moved.has(road.from), to = this.moved.has(road.to);
    if (!from && !to) return { d: this.paths.get(road.index) || "" };
    if (road.from === road.to) {
      const [x, y] = this.coords[road.from], [x0, y0] = this.serverCoords[road.from];
      return { d: this.paths.get(road.index) || "", transform: `translate(${fmt(x - x0)},${fmt(y - y0)})` };
    }
    const pa = this.coords[road.from], pb = this.coords[road.to];
    const length = Math.hypot(pb[0] - pa[0], pb[1] - pa[1]) || 1;
    const t = Math.min(0.45, ROAD_TRIM / length);
    const at = (k) => [pa[0] + k * (pb[0] - pa[0]), pa[1] + k * (pb[1] - pa[1])];
    const [s, e] = [at(t), at(1 - t)];
    return { d: `M${fmt(s[0])},${fmt(s[1])} L${fmt(e[0])},${fmt(e[1])}` };
  }
}

function defs() {
  return el("defs", {}, [
    el("marker", { id: "arrow", viewBox: "0 0 10 10", refX: 9, refY: 5, markerWidth: 5, markerHeight: 5,
      orient: "auto-start-reverse" }, [el("path", { d: "M0,0 L10,5 L0,10 z", fill: ARROW })]),
  ]);
}

function roadShape(course, road, config) {
  const { d, transform } = course;
  const attrs = { class: `road ${road.kind}`, "data-road": road.index, "data-from": road.from,
    "data-to": road.to, "data-kind": road.kind, transform };
  if (road.kind === "two-lanes") {
    return el("g", attrs, [
      el("path", { d, fill: "none", stroke: config.road_colour, "stroke-width": 16 }),
      el("path", { d, fill: "none", stroke: "#ffffff", "stroke-width": 1.6, "stroke-dasharray": "7 6" }),
    ]);
  }
  if (road.kind === "one-lane") {
    return el("g", attrs, [el("path", { d, fill: "none", stroke: config.road_colour, "stroke-width": 7 })]);
  }
  return el("g", attrs, [el("path", { d, fill: "none", stroke: ARROW, "stroke-width": 2.5,
    "stroke-dasharray": "10 5", "marker-end": "url(#arrow)" })]);
}

function roadTarget(course, road, view, config) {
  const blocked = view.obstacles.some(([a, b]) => pairKey(a, b) === pairKey(road.from, road.to));
  const words = config.kind_words[road.kind].noun;
  const title = view.mode === "mission"
    ? (blocked ? `road ${road.from}-${road.to} is blocked` : `click to block the road ${road.from}-${road.to}`)
    : `${words} ${road.from}-${road.to}`;
  return el("path", { class: "road-target", "data-road": road.index, "data-from": road.from,
    "data-to": road.to, "data-blocked": blocked ? "yes" : "no", d: course.d, transform: course.transform,
    fill: "none", stroke: "transparent", "stroke-width": 22 }, [el("title", {}, [title])]);
}

// The roads, and wide invisible strokes to click them.
function roadLayers(geometry, view, config) {
  const roads = el("g", { id: "roads" });
  const targets = el("g", { id: "road-targets" });
  for (const road of view.roads) {
    const course = geometry.road(road);
    roads.append(roadShape(course, road, config));
    targets.append(roadTarget(course, road, view, config));
  }
  return [roads, targets];
}

function obstacleMark(geometry, a, b, config) {
  const [x, y] = a === b ? [geometry.coords[a][0], geometry.coords[a][1] - 48] : geometry.point(a, b, 0.5);
  const colour = config.obstacle_colour;
  return el("g", { class: "obstacle", "data-from": a, "data-to": b }, [
    el("circle", { cx: fmt(x), cy: fmt(y), r: 13, fill: "#ffffff", stroke: colour, "stroke-width": 3 }),
    el("path", { d: `M${fmt(x - 7)},${fmt(y - 7)} L${fmt(x + 7)},${fmt(y + 7)} M${fmt(x - 7)},${fmt(y + 7)} L${fmt(x + 7)},${fmt(y - 7)}`,
      stroke: colour, "stroke-width": 3.5, "stroke-linecap": "round" }),
  ]);
}

function obstacleLayer(geometry, view, config) {
  const layer = el("g", { id: "obstacles" });
  for (const [a, b] of view.obstacles) {
    if (geometry.coords[a] && geometry.coords[b]) layer.append(obstacleMark(geometry, a, b, config));
  }
  return layer;
}

function stepNumber(geometry, key, steps, v, colour) {
  const [low, high] = key.split("-").map(Number);
  const shift = PATH_SHIFT[v];
  let [bx, by] = geometry.point(low, high, NUMBER_AT[v]);
  bx += shift[0];
  by += shift[1];
  const label = steps.join(",");
  const half = Math.max(9, 3.5 * label.length + 3);
  return el("g", { class: "step", "data-vehicle": v, "data-steps": steps.join(" ") }, [
    el("rect", { x: fmt(bx - half), y: fmt(by - 9), width: fmt(2 * half), height: 18, rx: 9, fill: colour,
      stroke: "#ffffff", "stroke-width": 1.5 }),
    el("text", { x: fmt(bx), y: fmt(by + 4), "text-anchor": "middle", "font-size": 11, "font-weight": "bold",
      fill: "#ffffff" }, [label]),
  ]);
}

// An arrowhead on a vehicle's path, pointing where it goes, just before it arrives.
function arrowHead(geometry, v, a, b, colour) {
  const length = geometry.length(a, b) || 1;
  const t = Math.max(0.55, 1 - (NODE_RADIUS + 17) / length);
  let [x, y] = geometry.point(a, b, t);
  x += PATH_SHIFT[v][0];
  y += PATH_SHIFT[v][1];
  const [dx, dy] = geometry.direction(a, b, t);
  const [nx, ny] = [-dy, dx];
  const points = [[x + 7.5 * dx, y + 7.5 * dy], [x - 6 * dx + 6.5 * nx, y - 6 * dy + 6.5 * ny],
    [x - 6 * dx - 6.5 * nx, y - 6 * dy - 6.5 * ny]];
  return el("path", { class: "direction", "data-vehicle": v, "data-from": a, "data-to": b,
    d: `M${points.map(([px, py]) => `${fmt(px)},${fmt(py)}`).join(" L")} z`, fill: colour, stroke: "#ffffff",
    "stroke-width": 1 });
}

// One vehicle's path over consecutive positions, with the step number and the direction of
// every move.
function vehiclePath(geometry, positions, v, colour, { css, opacity, numbers, dashed, firstStep = 1 }) {
  const shift = PATH_SHIFT[v];
  const [x0, y0] = geometry.coords[positions[0]];
  const d = [`M${fmt(x0 + shift[0])},${fmt(y0 + shift[1])}`];
  const labels = new Map();
  const moves = new Map();
  for (let k = 1; k < positions.length; k++) {
    const a = positions[k - 1], b = positions[k];
    if (a === b) continue;
    d.push(geometry.segment(a, b, { shift, moveTo: false }));
    const key = pairKey(a, b);
    if (!labels.has(key)) labels.set(key, []);
    labels.get(key).push(k - 1 + firstStep);
    moves.set(`${a}>${b}`, [a, b]);
  }
  const out = [el("path", { class: css, "data-vehicle": v, "data-positions": positions.join(" "), d: d.join(" "),
    fill: "none", stroke: colour, "stroke-width": 4, "stroke-linejoin": "round", "stroke-linecap": "round",
    opacity, "stroke-dasharray": dashed ? "3 5" : null })];
  if (numbers) {
    for (const [a, b] of moves.values()) out.push(arrowHead(geometry, v, a, b, colour));
    for (const [key, steps] of labels) out.push(stepNumber(geometry, key, steps, v, colour));
  }
  return out;
}

// The plan: moves made (dotted), the plan ahead with step numbers, the part played faint.
function pathLayer(geometry, view, config) {
  const paths = el("g", { id: "paths" });
  const plan = view.plan;
  if (!plan) return paths;
  const steps = plan.steps;
  const step = Math.min(view.step, steps.length - 1);
  for (const v of config.vehicles) {
    const colour = config.colours[v];
    if (plan.history.length) {
      const travelled = [...plan.history.map((h) => h[v - 1]), steps[0][v - 1]];
      paths.append(...vehiclePath(geometry, travelled, v, colour, { css: "travelled", opacity: 0.55, dashed: true }));
    }
    if (!plan.answer || steps.length <= 1) continue;
    const path = steps.map((s) => s[v - 1]);
    if (step > 0) {
      paths.append(...vehiclePath(geometry, path.slice(0, step + 1), v, colour, { css: "played", opacity: 0.25 }));
    }
    paths.append(...vehiclePath(geometry, path.slice(step), v, colour,
      { css: plan.exact ? "path exact" : "path", opacity: 0.9, numbers: true, firstStep: step + 1 }));
  }
  return paths;
}

function positionMark(p, [x, y], view, used) {
  const stroke = used.has(p) ? DARK : FAINT;
  const picked = view.pick === p;
  const children = [
    el("title", {}, [view.mode === "network" ? `position ${p}: drag to move, click to join it by a road`
      : `position ${p}`]),
    el("circle", { cx: fmt(x), cy: fmt(y), r: NODE_RADIUS, fill: picked ? "#fff4c2" : "#ffffff",
      stroke: picked ? "#c48a00" : stroke, "stroke-width": picked ? 4 : 2.5 }),
    el("text", { x: fmt(x), y: fmt(y + 6), "text-anchor": "middle", "font-size": 18, "font-weight": "bold", fill: stroke },
      [String(p)]),
  ];
  const name = view.names[p];
  if (name) {
    children.push(el("text", { class: "name", x: fmt(x), y: fmt(y + NODE_RADIUS + 30), "text-anchor": "middle",
      "font-size": 12, "font-weight": "bold", fill: "#4a525c", stroke: "#f7f8fa", "stroke-width": 4,
      "paint-order": "stroke" }, [name]));
  }
  return el("g", { class: `position${picked ? " picked" : ""}`, "data-pos": p }, children);
}

function positionLayer(view) {
  const used = new Set(view.roads.flatMap((r) => [r.from, r.to]));
  const layer = el("g", { id: "positions" });
  for (const [key, point] of Object.entries(view.coords)) layer.append(positionMark(Number(key), point, view, used));
  return layer;
}

// Vehicles standing where the playback step puts them.
function vehicleLayer(view, config) {
  const layer = el("g", { id: "vehicles" });
  const plan = view.plan;
  if (!plan) return layer;
  const at = plan.steps[Math.min(view.step, plan.steps.length - 1)];
  for (const v of config.vehicles) {
    const [x, y] = view.coords[at[v - 1]];
    layer.append(el("g", { class: "vehicle", "data-vehicle": v, "data-pos": at[v - 1] }, [
      el("circle", { cx: fmt(x), cy: fmt(y), r: NODE_RADIUS + 5, fill: "none", stroke: config.colours[v], "stroke-width": 7 }),
    ]));
  }
  return layer;
}

export function badge(kind, v, x, y, colour, extra = {}) {
  const label = `${kind === "start" ? "S" : "G"}${v}`;
  const shape = kind === "start"
    ? el("rect", { x: fmt(x - 13), y: fmt(y - 10), width: 26, height: 20, rx: 4, fill: colour })
    : el("rect", { x: fmt(x - 13), y: fmt(y - 10), width: 26, height: 20, rx: 10, fill: "#ffffff", stroke: colour,
      "stroke-width": 3 });
  return el("g", { class: `badge ${kind}`, "data-badge": `${kind}-${v}`, "data-vehicle": v, ...extra }, [
    el("title", {}, [`${kind === "start" ? "start" : "goal"} of vehicle ${v}: drag it onto a position`]),
    shape,
    el("text", { x: fmt(x), y: fmt(y + 4.5), "text-anchor": "middle", "font-size": 12, "font-weight": "bold",
      fill: kind === "start" ? "#ffffff" : colour }, [label]),
  ]);
}

export function badgeSpot(coords, p, kind, v) {
  const angle = ((kind === "start" ? START_ANGLE : GOAL_ANGLE)[v] * Math.PI) / 180;
  const [x, y] = coords[p];
  return [x + (NODE_RADIUS + 14) * Math.cos(angle), y + (NODE_RADIUS + 14) * Math.sin(angle)];
}

// The tray: its words on the left, the starts and goals not placed on the right, clear of them.
export function traySpot(kind, v) {
  return [590 + (v - 1) * 36 + (kind === "goal" ? 140 : 0), TRAY_TOP + 28];
}

function trayLayer(view, config) {
  const tray = el("g", { id: "tray" });
  if (view.mode !== "mission") return tray;
  tray.append(el("rect", { x: 10, y: TRAY_TOP, width: config.width - 20, height: VIEW_HEIGHT - TRAY_TOP - 6, rx: 8,
    fill: "#eef1f5", stroke: "#d5dae1" }));
  tray.append(el("text", { class: "tray-caption", x: 24, y: TRAY_TOP + 20, "font-size": 14.5, fill: "#4a525c" }, [
    el("tspan", { x: 24 }, ["Drag the starts (S) and goals (G) onto"]),
    el("tspan", { x: 24, dy: 18 }, ["positions; drag one back here to take it off."]),
  ]));
  for (const [x, words, list] of [[590, "starts", view.starts], [730, "goals", view.goals]]) {
    if (!list.some((p) => p === null || p === undefined)) continue;
    tray.append(el("text", { x: x + 36, y: TRAY_TOP + 12, "text-anchor": "middle", "font-size": 10, fill: "#7a838e" },
      [words]));
  }
  return tray;
}

// What the picture's marks mean: each a small drawing (LEGEND_MARK wide, 16 high) and its
// words. The page shows them below the picture; a saved picture has them in a row at its foot.
export const LEGEND_MARK = 34;

function legendRoad(kind, config) {
  const d = "M1,8 L33,8";
  if (kind === "two-lanes") {
    return [el("path", { d, stroke: config.road_colour, "stroke-width": 13 }),
      el("path", { d, stroke: "#ffffff", "stroke-width": 1.4, "stroke-dasharray": "6 5" })];
  }
  if (kind === "one-lane") return [el("path", { d, stroke: config.road_colour, "stroke-width": 6 })];
  return [el("path", { d: "M1,8 L26,8", stroke: ARROW, "stroke-width": 2.5, "stroke-dasharray": "7 4" }),
    el("path", { d: "M24,3 L33,8 L24,13 z", fill: ARROW })];
}

function legendPill(text, attrs, textFill) {
  return [el("rect", { x: 4, y: 0, width: 26, height: 16, ...attrs }),
    el("text", { x: 17, y: 12, "text-anchor": "middle", "font-size": 11, "font-weight": "bold", fill: textFill }, [text])];
}

export function legendItems(config) {
  const [first] = config.vehicles;
  const blue = config.colours[first];
  const items = config.kinds.map((kind) => ({ marks: legendRoad(kind, config), words: config.kind_words[kind].label }));
  const o = config.obstacle_colour;
  items.push({ words: "blocked road", marks: [el("circle", { cx: 17, cy: 8, r: 7, fill: "#ffffff", stroke: o, "stroke-width": 2.2 }),
    el("path", { d: "M13,4 L21,12 M13,12 L21,4", stroke: o, "stroke-width": 2.2 })] });
  for (const v of config.vehicles) {
    const c = config.colours[v];
    items.push({ words: `vehicle ${v}`, marks: [el("path", { d: "M1,8 L24,8", stroke: c, "stroke-width": 4 }),
      el("path", { d: "M22,3 L32,8 L22,13 z", fill: c, stroke: "#ffffff", "stroke-width": 1 })] });
  }
  items.push({ words: "step of a move", marks: [el("rect", { x: 8, y: 0, width: 18, height: 16, rx: 8, fill: blue }),
    el("text", { x: 17, y: 12, "text-anchor": "middle", "font-size": 10, "font-weight": "bold", fill: "#ffffff" }, ["2"])] });
  items.push({ words: "start", marks: legendPill(`S${first}`, { rx: 4, fill: blue }, "#ffffff") });
  items.push({ words: "goal", marks: legendPill(`G${first}`, { rx: 8, fill: "#ffffff", stroke: blue, "stroke-width": 2.5 }, blue) });
  items.push({ words: "where it stands", marks: [el("circle", { cx: 17, cy: 8, r: 6, fill: "none", stroke: blue, "stroke-width": 3.5 })] });
  items.push({ words: "moves made", marks: [el("path", { d: "M1,8 L33,8", stroke: blue, "stroke-width": 3.5,
    "stroke-dasharray": "3 5", "stroke-linecap": "round", opacity: 0.6 })] });
  return items;
}

// The legend in rows at the foot of a saved picture, from `top` on; returns [group, height].
function legendRows(config, top) {
  const group = el("g", { id: "legend", "font-size": 12, fill: DARK });
  let x = 20, y = top;
  for (const item of legendItems(config)) {
    const width = LEGEND_MARK + 6 + 6.7 * item.words.length + 16;
    if (x + width > config.width - 10) {
      x = 20;
      y += 24;
    }
    group.append(el("g", { transform: `translate(${x},${y})`, fill: "none" }, item.marks),
      el("text", { x: x + LEGEND_MARK + 6, y: y + 12 }, [item.words]));
    x += width;
  }
  return [group, y - top + 24];
}

// Starts and goals, at their positions or in the tray below the picture.
function badgeLayer(view, config) {
  const layer = el("g", { id: "badges" });
  for (const kind of ["start", "goal"]) {
    for (const v of config.vehicles) {
      const p = (kind === "start" ? view.starts : view.goals)[v - 1];
      const dragging = view.drag && view.drag.kind === kind && view.drag.vehicle === v;
      let spot;
      if (dragging) spot = view.drag.at;
      else if (p !== null && p !== undefined) spot = badgeSpot(view.coords, p, kind, v);
      else if (view.mode === "mission") spot = traySpot(kind, v);
      else continue;
      layer.append(badge(kind, v, spot[0], spot[1], config.colours[v], {
        "data-pos": p ?? "", class: `badge ${kind}${dragging ? " dragging" : ""}${view.mode === "mission" ? " movable" : ""}`,
      }));
    }
  }
  return layer;
}

// The whole picture. `view` says what to draw:
//   coords {p: [x, y]}, serverCoords (the places the server holds), moved (a Set of positions
//   dragged away from them), geometry (the server's course of the roads), names {p: name},
//   roads, obstacles, starts, goals, plan, step (playback), caption, mode ("network" |
//   "mission"), pick (first position chosen for a road), drag (badge in flight).
export function draw(svg, config, view) {
  const geometry = new Geometry(view.coords, view.geometry, view.moved, view.serverCoords);
  const [roads, targets] = roadLayers(geometry, view, config);
  svg.replaceChildren(
    defs(),
    el("rect", { id: "background", x: 0, y: 0, width: config.width, height: VIEW_HEIGHT, fill: "#f7f8fa" }),
    el("text", { id: "caption", x: 30, y: 34, "font-size": 20, "font-weight": "bold", fill: DARK }, [view.caption || ""]),
    roads, pathLayer(geometry, view, config), targets, obstacleLayer(geometry, view, config),
    positionLayer(view), vehicleLayer(view, config), trayLayer(view, config), badgeLayer(view, config),
  );
}

// A copy of the picture that stands alone as an SVG file: the network, then the legend.
export function exportSvg(svg, config, title) {
  const copy = svg.cloneNode(true);
  for (const node of copy.querySelectorAll("#road-targets, #tray, title")) node.remove();
  const [legend, height] = legendRows(config, TRAY_TOP + 4);
  copy.append(legend);
  const total = TRAY_TOP + height + 10;
  copy.setAttribute("xmlns", SVG_NS);
  copy.setAttribute("width", config.width);
  copy.setAttribute("height", total);
  copy.setAttribute("viewBox", `0 0 ${config.width} ${total}`);
  copy.setAttribute("font-family", "DejaVu Sans, Arial, sans-serif");
  copy.removeAttribute("class");
  copy.querySelector("#background").setAttribute("height", total);
  copy.prepend(el("title", {}, [title]));
  return '<?xml version="1.0" encoding="UTF-8"?>\n' + new XMLSerializer().serializeToString(copy) + "\n";
}
