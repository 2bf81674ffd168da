// The picture: positions, roads, obstacles, the vehicles' paths and badges, drawn as SVG.
// It follows the look of the package's SVG pictures (same colours, road styles and markers).

const SVG_NS = "http://www.w3.org/2000/svg";
export const NODE_RADIUS = 22;
export const TRAY_TOP = 648;
export const VIEW_HEIGHT = 700;
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

function distanceToSegment(p, a, b) {
  const dx = b[0] - a[0], dy = b[1] - a[1];
  const length2 = dx * dx + dy * dy;
  const t = length2 ? Math.max(0, Math.min(1, ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / length2)) : 0;
  return Math.hypot(p[0] - (a[0] + t * dx), p[1] - (a[1] + t * dy));
}

const pairKey = (a, b) => (a < b ? `${a}-${b}` : `${b}-${a}`);

// Where roads run: straight, or bent around a position that lies in the way.
export class Geometry {
  constructor(coords, roads) {
    this.coords = coords;
    this.controls = new Map();
    for (const road of roads) {
      const key = pairKey(road.from, road.to);
      if (!this.controls.has(key)) this.controls.set(key, this.control(road.from, road.to));
    }
  }

  control(a, b) {
    const pa = this.coords[a], pb = this.coords[b];
    const blocked = Object.keys(this.coords).some((p) => {
      const q = Number(p);
      return q !== a && q !== b && distanceToSegment(this.coords[q], pa, pb) < NODE_RADIUS + 10;
    });
    if (!blocked) return null;
    const [low, high] = a < b ? [pa, pb] : [pb, pa];
    const mx = (low[0] + high[0]) / 2, my = (low[1] + high[1]) / 2;
    const dx = high[0] - low[0], dy = high[1] - low[1];
    const length = Math.hypot(dx, dy) || 1;
    const bend = 0.28 * length;
    return [mx + (dy / length) * bend, my - (dx / length) * bend];
  }

  point(a, b, t) {
    const pa = this.coords[a], pb = this.coords[b];
    const c = this.controls.get(pairKey(a, b));
    if (!c) return [pa[0] + t * (pb[0] - pa[0]), pa[1] + t * (pb[1] - pa[1])];
    const u = 1 - t;
    return [u * u * pa[0] + 2 * u * t * c[0] + t * t * pb[0], u * u * pa[1] + 2 * u * t * c[1] + t * t * pb[1]];
  }

  // Path data from a to b, shifted, trimmed by `trim` pixels at both ends; `side` moves it to
  // the right of the direction of travel (two one-way roads in opposite directions).
  segment(a, b, { shift = [0, 0], trim = 0, moveTo = true, side = 0 } = {}) {
    const pa = this.coords[a], pb = this.coords[b];
    const length = Math.hypot(pb[0] - pa[0], pb[1] - pa[1]) || 1;
    let [sx, sy] = shift;
    if (side) {
      sx += (-(pb[1] - pa[1]) / length) * side;
      sy += ((pb[0] - pa[0]) / length) * side;
    }
    const t0 = Math.min(0.45, trim / length), t1 = 1 - t0;
    const s = this.point(a, b, t0), e = this.point(a, b, t1);
    const head = moveTo ? `M${fmt(s[0] + sx)},${fmt(s[1] + sy)} ` : "";
    if (!this.controls.get(pairKey(a, b))) return `${head}L${fmt(e[0] + sx)},${fmt(e[1] + sy)}`;
    const mid = this.point(a, b, (t0 + t1) / 2);
    const cx = 2 * mid[0] - (s[0] + e[0]) / 2, cy = 2 * mid[1] - (s[1] + e[1]) / 2;
    return `${head}Q${fmt(cx + sx)},${fmt(cy + sy)} ${fmt(e[0] + sx)},${fmt(e[1] + sy)}`;
  }
}

function defs() {
  return el("defs", {}, [
    el("marker", { id: "arrow", viewBox: "0 0 10 10", refX: 9, refY: 5, markerWidth: 5, markerHeight: 5,
      orient: "auto-start-reverse" }, [el("path", { d: "M0,0 L10,5 L0,10 z", fill: ARROW })]),
  ]);
}

// The path of a road; a road from a position to itself is a small loop above it.
function roadPath(geometry, road, side) {
  if (road.from !== road.to) return geometry.segment(road.from, road.to, { trim: NODE_RADIUS + 2, side });
  const [x, y] = geometry.coords[road.from];
  return `M${fmt(x - 12)},${fmt(y - NODE_RADIUS + 3)} C${fmt(x - 30)},${fmt(y - 62)} ${fmt(x + 30)},${fmt(y - 62)} ${fmt(x + 12)},${fmt(y - NODE_RADIUS + 3)}`;
}

function roadShape(geometry, road, config, side) {
  const d = roadPath(geometry, road, side);
  const attrs = { class: `road ${road.kind}`, "data-road": road.index, "data-from": road.from,
    "data-to": road.to, "data-kind": road.kind };
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

function obstacleMark(geometry, a, b, config) {
  const [x, y] = a === b ? [geometry.coords[a][0], geometry.coords[a][1] - 48] : geometry.point(a, b, 0.5);
  const colour = config.obstacle_colour;
  return el("g", { class: "obstacle", "data-from": a, "data-to": b }, [
    el("circle", { cx: fmt(x), cy: fmt(y), r: 13, fill: "#ffffff", stroke: colour, "stroke-width": 3 }),
    el("path", { d: `M${fmt(x - 7)},${fmt(y - 7)} L${fmt(x + 7)},${fmt(y + 7)} M${fmt(x - 7)},${fmt(y + 7)} L${fmt(x + 7)},${fmt(y - 7)}`,
      stroke: colour, "stroke-width": 3.5, "stroke-linecap": "round" }),
  ]);
}

// One vehicle's path over consecutive positions, with the step number of every move.
function vehiclePath(geometry, positions, v, colour, { css, opacity, numbers, dashed, firstStep = 1 }) {
  const shift = PATH_SHIFT[v];
  const [x0, y0] = geometry.coords[positions[0]];
  const d = [`M${fmt(x0 + shift[0])},${fmt(y0 + shift[1])}`];
  const labels = new Map();
  for (let k = 1; k < positions.length; k++) {
    const a = positions[k - 1], b = positions[k];
    if (a === b) continue;
    d.push(geometry.segment(a, b, { shift, moveTo: false }));
    const key = pairKey(a, b);
    if (!labels.has(key)) labels.set(key, []);
    labels.get(key).push(k - 1 + firstStep);
  }
  const out = [el("path", { class: css, "data-vehicle": v, "data-positions": positions.join(" "), d: d.join(" "),
    fill: "none", stroke: colour, "stroke-width": 4, "stroke-linejoin": "round", "stroke-linecap": "round",
    opacity, "stroke-dasharray": dashed ? "3 5" : null })];
  if (numbers) {
    for (const [key, steps] of labels) {
      const [low, high] = key.split("-").map(Number);
      let [bx, by] = geometry.point(low, high, NUMBER_AT[v]);
      bx += shift[0];
      by += shift[1];
      const label = steps.join(",");
      const half = Math.max(9, 3.5 * label.length + 3);
      out.push(el("g", { class: "step", "data-vehicle": v, "data-steps": steps.join(" ") }, [
        el("rect", { x: fmt(bx - half), y: fmt(by - 9), width: fmt(2 * half), height: 18, rx: 9, fill: colour,
          stroke: "#ffffff", "stroke-width": 1.5 }),
        el("text", { x: fmt(bx), y: fmt(by + 4), "text-anchor": "middle", "font-size": 11, "font-weight": "bold",
          fill: "#ffffff" }, [label]),
      ]));
    }
  }
  return out;
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

export function traySpot(kind, v) {
  return [560 + (v - 1) * 40 + (kind === "goal" ? 150 : 0), TRAY_TOP + 26];
}

// The whole picture. `view` says what to draw:
//   coords {p: [x, y]}, names {p: name}, roads, obstacles, starts, goals, plan, step (playback),
//   mode ("network" | "mission"), pick (first position chosen for a road), drag (badge in flight).
export function draw(svg, config, view) {
  const { coords, roads } = view;
  const geometry = new Geometry(coords, roads);
  const colours = config.colours;
  const layers = [defs(), el("rect", { x: 0, y: 0, width: config.width, height: VIEW_HEIGHT, fill: "#f7f8fa" }),
    el("text", { id: "caption", x: 30, y: 34, "font-size": 20, "font-weight": "bold", fill: DARK }, [view.caption || ""])];

  // Roads, and wide invisible strokes to click them.
  const roadLayer = el("g", { id: "roads" });
  const targets = el("g", { id: "road-targets" });
  // Roads between the same two positions run side by side.
  const pairs = new Map();
  for (const road of roads) {
    const key = pairKey(road.from, road.to);
    if (!pairs.has(key)) pairs.set(key, []);
    pairs.get(key).push(road.index);
  }
  for (const road of roads) {
    const group = pairs.get(pairKey(road.from, road.to));
    const offset = (group.indexOf(road.index) - (group.length - 1) / 2) * 18;
    const side = road.from < road.to ? offset : -offset;
    roadLayer.append(roadShape(geometry, road, config, side));
    const blocked = view.obstacles.some(([a, b]) => pairKey(a, b) === pairKey(road.from, road.to));
    targets.append(el("path", { class: "road-target", "data-road": road.index, "data-from": road.from,
      "data-to": road.to, "data-blocked": blocked ? "yes" : "no",
      d: roadPath(geometry, road, side),
      fill: "none", stroke: "transparent", "stroke-width": 22 }, [
      el("title", {}, [view.mode === "mission"
        ? (blocked ? `road ${road.from}-${road.to} is blocked` : `click to block the road ${road.from}-${road.to}`)
        : `${road.kind} road ${road.from}-${road.to}`]),
    ]));
  }
  layers.push(roadLayer);

  // The plan: moves made (dotted), the plan ahead with step numbers, playback.
  const paths = el("g", { id: "paths" });
  const plan = view.plan;
  if (plan) {
    const steps = plan.steps;
    const step = Math.min(view.step, steps.length - 1);
    for (const v of config.vehicles) {
      const colour = colours[v];
      if (plan.history.length) {
        const travelled = [...plan.history.map((h) => h[v - 1]), steps[0][v - 1]];
        paths.append(...vehiclePath(geometry, travelled, v, colour, { css: "travelled", opacity: 0.55, dashed: true }));
      }
      if (plan.answer && steps.length > 1) {
        const path = steps.map((s) => s[v - 1]);
        if (step > 0) {
          paths.append(...vehiclePath(geometry, path.slice(0, step + 1), v, colour, { css: "played", opacity: 0.25 }));
        }
        paths.append(...vehiclePath(geometry, path.slice(step), v, colour,
          { css: plan.exact ? "path exact" : "path", opacity: 0.9, numbers: true, firstStep: step + 1 }));
      }
    }
  }
  layers.push(paths);

  const obstacleLayer = el("g", { id: "obstacles" });
  for (const [a, b] of view.obstacles) {
    if (coords[a] && coords[b]) obstacleLayer.append(obstacleMark(geometry, a, b, config));
  }
  layers.push(targets, obstacleLayer);

  // Positions.
  const used = new Set(roads.flatMap((r) => [r.from, r.to]));
  const positions = el("g", { id: "positions" });
  for (const [key, [x, y]] of Object.entries(coords)) {
    const p = Number(key);
    const stroke = used.has(p) ? DARK : FAINT;
    const picked = view.pick === p;
    const children = [
      el("title", {}, [view.mode === "network" ? `position ${p}: drag to move, click to join it by a road`
        : `position ${p}`]),
      el("circle", { cx: fmt(x), cy: fmt(y), r: NODE_RADIUS, fill: picked ? "#fff4c2" : "#ffffff", stroke: picked ? "#c48a00" : stroke,
        "stroke-width": picked ? 4 : 2.5 }),
      el("text", { x: fmt(x), y: fmt(y + 6), "text-anchor": "middle", "font-size": 18, "font-weight": "bold", fill: stroke }, [String(p)]),
    ];
    const name = view.names[p];
    if (name) {
      children.push(el("text", { class: "name", x: fmt(x), y: fmt(y + NODE_RADIUS + 30), "text-anchor": "middle",
        "font-size": 12, "font-weight": "bold", fill: "#4a525c", stroke: "#f7f8fa", "stroke-width": 4,
        "paint-order": "stroke" }, [name]));
    }
    positions.append(el("g", { class: `position${picked ? " picked" : ""}`, "data-pos": p }, children));
  }
  layers.push(positions);

  // Vehicles standing where the playback step puts them.
  const vehicles = el("g", { id: "vehicles" });
  if (plan) {
    const at = plan.steps[Math.min(view.step, plan.steps.length - 1)];
    for (const v of config.vehicles) {
      const [x, y] = coords[at[v - 1]];
      vehicles.append(el("g", { class: "vehicle", "data-vehicle": v, "data-pos": at[v - 1] }, [
        el("circle", { cx: fmt(x), cy: fmt(y), r: NODE_RADIUS + 5, fill: "none", stroke: colours[v], "stroke-width": 7 }),
      ]));
    }
  }
  layers.push(vehicles);

  // Starts and goals, at their positions or in the tray below the picture.
  const badges = el("g", { id: "badges" });
  const tray = el("g", { id: "tray" });
  if (view.mode === "mission") {
    tray.append(el("rect", { x: 10, y: TRAY_TOP, width: config.width - 20, height: VIEW_HEIGHT - TRAY_TOP - 6, rx: 8,
      fill: "#eef1f5", stroke: "#d5dae1" }));
    tray.append(el("text", { x: 26, y: TRAY_TOP + 31, "font-size": 14, fill: "#4a525c" },
      ["Drag the starts (S) and goals (G) onto positions; drag one off to take it back."]));
  }
  for (const kind of ["start", "goal"]) {
    for (const v of config.vehicles) {
      const p = (kind === "start" ? view.starts : view.goals)[v - 1];
      const dragging = view.drag && view.drag.kind === kind && view.drag.vehicle === v;
      let spot;
      if (dragging) spot = view.drag.at;
      else if (p !== null && p !== undefined) spot = badgeSpot(coords, p, kind, v);
      else if (view.mode === "mission") spot = traySpot(kind, v);
      else continue;
      badges.append(badge(kind, v, spot[0], spot[1], colours[v], {
        "data-pos": p ?? "", class: `badge ${kind}${dragging ? " dragging" : ""}${view.mode === "mission" ? " movable" : ""}`,
      }));
    }
  }
  layers.push(tray, badges);

  svg.replaceChildren(...layers);
}

// A copy of the picture that stands alone as an SVG file.
export function exportSvg(svg, config, title) {
  const copy = svg.cloneNode(true);
  copy.setAttribute("xmlns", SVG_NS);
  copy.setAttribute("width", config.width);
  copy.setAttribute("height", TRAY_TOP);
  copy.setAttribute("viewBox", `0 0 ${config.width} ${TRAY_TOP}`);
  copy.setAttribute("font-family", "DejaVu Sans, Arial, sans-serif");
  copy.removeAttribute("class");
  for (const node of copy.querySelectorAll("#road-targets, #tray, title")) node.remove();
  copy.prepend(el("title", {}, [title]));
  return '<?xml version="1.0" encoding="UTF-8"?>\n' + new XMLSerializer().serializeToString(copy) + "\n";
}
