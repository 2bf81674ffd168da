"""Pictures of a network and a plan as SVG text.

The picture holds the 12 positions, the roads (one-way roads as arrows, one-lane roads as a
narrow band, two-lane roads as a wide band with a dashed centre line), obstacles as red
crosses, each vehicle's path in its own colour with the step number of every move, and the
start and goal of every vehicle. Elements carry `data-*` attributes (position, road ends,
vehicle, path) so that a program can read the picture back.
"""

from __future__ import annotations

import math
from xml.sax.saxutils import escape, quoteattr

from .mission import Plan, Road, RoadKind
from .protocol import MAX_POS, VEHICLES

Point = tuple[float, float]

COLOURS = {1: "#1f6fd1", 2: "#e8710a", 3: "#1e9e4a"}
OBSTACLE_COLOUR = "#d0021b"
ROAD_COLOUR = "#9aa3ad"
NODE_RADIUS = 22.0
# Each vehicle's path is shifted a little so that paths over the same road stay apart.
PATH_SHIFT = {1: (-7.0, -7.0), 2: (0.0, 0.0), 3: (7.0, 7.0)}
# Where the start and goal badges of each vehicle sit around a position.
BADGE_ANGLE = {1: -135.0, 2: -45.0, 3: 90.0}

WIDTH = 900
HEIGHT = 640
LEGEND_TOP = 560


def grid_layout() -> dict[int, Point]:
    """Positions 0 to 11 in three rows of four: 0-3 on top, 4-7 in the middle, 8-11 below."""
    return {p: (120.0 + 220.0 * (p % 4), 110.0 + 190.0 * (p // 4)) for p in range(MAX_POS)}


def circle_layout() -> dict[int, Point]:
    """Positions on a circle, 0 on top, clockwise; no straight road passes over a position."""
    centre, radius = (WIDTH / 2, 290.0), 230.0
    return {
        p: (centre[0] + radius * math.sin(2 * math.pi * p / MAX_POS),
            centre[1] - radius * math.cos(2 * math.pi * p / MAX_POS))
        for p in range(MAX_POS)
    }


LAYOUTS = {"grid": grid_layout, "circle": circle_layout}


def _fmt(value: float) -> str:
    text = f"{value:.1f}"
    return text[:-2] if text.endswith(".0") else text


def _distance_to_segment(p: Point, a: Point, b: Point) -> float:
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = max(0.0, min(1.0, ((p[0] - ax) * dx + (p[1] - ay) * dy) / length2)) if length2 else 0.0
    return math.hypot(p[0] - (ax + t * dx), p[1] - (ay + t * dy))


class _Geometry:
    """Where roads run: straight, or bent around a position that lies in the way."""

    def __init__(self, layout: dict[int, Point], roads: tuple[Road, ...]):
        self.layout = layout
        self.controls: dict[frozenset[int], Point | None] = {}
        for road in roads:
            key = frozenset((road.a, road.b))
            if key not in self.controls:
                self.controls[key] = self._control(road.a, road.b)

    def _control(self, a: int, b: int) -> Point | None:
        pa, pb = self.layout[a], self.layout[b]
        blocked = any(
            _distance_to_segment(self.layout[p], pa, pb) < NODE_RADIUS + 10
            for p in self.layout
            if p not in (a, b)
        )
        if not blocked:
            return None
        # Bend to the left of the direction from the lower to the higher position number.
        low, high = (pa, pb) if a < b else (pb, pa)
        mx, my = (low[0] + high[0]) / 2, (low[1] + high[1]) / 2
        dx, dy = high[0] - low[0], high[1] - low[1]
        length = math.hypot(dx, dy)
        bend = 0.28 * length
        return (mx + dy / length * bend, my - dx / length * bend)

    def point(self, a: int, b: int, t: float) -> Point:
        """The point at fraction t of the way from a to b along the road."""
        pa, pb = self.layout[a], self.layout[b]
        c = self.controls.get(frozenset((a, b)))
        if c is None:
            return (pa[0] + t * (pb[0] - pa[0]), pa[1] + t * (pb[1] - pa[1]))
        u = 1 - t
        return (u * u * pa[0] + 2 * u * t * c[0] + t * t * pb[0],
                u * u * pa[1] + 2 * u * t * c[1] + t * t * pb[1])

    def segment(self, a: int, b: int, shift: Point = (0.0, 0.0), trim: float = 0.0,
                move_to: bool = True) -> str:
        """Path data from a to b, shifted, trimmed by `trim` pixels at both ends."""
        pa, pb = self.layout[a], self.layout[b]
        c = self.controls.get(frozenset((a, b)))
        length = math.hypot(pb[0] - pa[0], pb[1] - pa[1]) or 1.0
        t0, t1 = trim / length, 1 - trim / length
        s = self.point(a, b, t0)
        e = self.point(a, b, t1)
        head = f"M{_fmt(s[0] + shift[0])},{_fmt(s[1] + shift[1])}" if move_to else ""
        if c is None:
            return f"{head} L{_fmt(e[0] + shift[0])},{_fmt(e[1] + shift[1])}".strip()
        # The sub-curve between t0 and t1 of the quadratic curve, by its control point.
        m = (t0 + t1) / 2
        mid = self.point(a, b, m)
        cx = 2 * mid[0] - (s[0] + e[0]) / 2
        cy = 2 * mid[1] - (s[1] + e[1]) / 2
        return (f"{head} Q{_fmt(cx + shift[0])},{_fmt(cy + shift[1])} "
                f"{_fmt(e[0] + shift[0])},{_fmt(e[1] + shift[1])}").strip()


def _defs() -> list[str]:
    out = ["<defs>"]
    out.append(
        '<marker id="arrow" viewBox="0 0 10 10" refX="9" refY="5" markerWidth="5" '
        'markerHeight="5" orient="auto-start-reverse"><path d="M0,0 L10,5 L0,10 z" '
        'fill="#5f6873"/></marker>'
    )
    out.append("</defs>")
    return out


def _roads(geometry: _Geometry, roads: tuple[Road, ...], obstacles: tuple[tuple[int, int], ...]) -> list[str]:
    out = ['<g id="roads">']
    for index, road in enumerate(roads):
        d = geometry.segment(road.a, road.b, trim=NODE_RADIUS + 2)
        attrs = (f'class="road {road.kind.value}" data-road="{index}" data-from="{road.a}" '
                 f'data-to="{road.b}" data-kind="{road.kind.value}"')
        if road.kind is RoadKind.TWO_LANES:
            out.append(f'<g {attrs}><path d="{d}" fill="none" stroke="{ROAD_COLOUR}" '
                       'stroke-width="16" stroke-linecap="butt"/>'
                       f'<path d="{d}" fill="none" stroke="#ffffff" stroke-width="1.6" '
                       'stroke-dasharray="7 6"/></g>')
        elif road.kind is RoadKind.ONE_LANE:
            out.append(f'<g {attrs}><path d="{d}" fill="none" stroke="{ROAD_COLOUR}" '
                       'stroke-width="7" stroke-linecap="butt"/></g>')
        else:
            mid = geometry.segment(road.a, road.b, trim=NODE_RADIUS + 2)
            out.append(f'<g {attrs}><path d="{mid}" fill="none" stroke="#5f6873" '
                       'stroke-width="2.5" stroke-dasharray="10 5" marker-end="url(#arrow)"/></g>')
    out.append("</g>")
    out.append('<g id="obstacles">')
    for a, b in obstacles:
        if a not in geometry.layout or b not in geometry.layout:
            continue
        x, y = geometry.point(a, b, 0.5)
        out.append(
            f'<g class="obstacle" data-from="{a}" data-to="{b}">'
            f'<circle cx="{_fmt(x)}" cy="{_fmt(y)}" r="13" fill="#ffffff" stroke="{OBSTACLE_COLOUR}" '
            'stroke-width="3"/>'
            f'<path d="M{_fmt(x - 7)},{_fmt(y - 7)} L{_fmt(x + 7)},{_fmt(y + 7)} '
            f'M{_fmt(x - 7)},{_fmt(y + 7)} L{_fmt(x + 7)},{_fmt(y - 7)}" stroke="{OBSTACLE_COLOUR}" '
            'stroke-width="3.5" stroke-linecap="round"/></g>'
        )
    out.append("</g>")
    return out


def _positions(layout: dict[int, Point], used: set[int]) -> list[str]:
    out = ['<g id="positions">']
    for p in range(MAX_POS):
        x, y = layout[p]
        stroke = "#2b3038" if p in used else "#b8bec6"
        out.append(
            f'<g class="position" data-pos="{p}"><circle cx="{_fmt(x)}" cy="{_fmt(y)}" '
            f'r="{_fmt(NODE_RADIUS)}" fill="#ffffff" stroke="{stroke}" stroke-width="2.5"/>'
            f'<text x="{_fmt(x)}" y="{_fmt(y + 6)}" text-anchor="middle" font-size="18" '
            f'font-weight="bold" fill="{stroke}">{p}</text></g>'
        )
    out.append("</g>")
    return out


# Where along a road (from its lower to its higher position number) each vehicle's step
# numbers sit, so that the numbers of different vehicles on one road never cover each other.
NUMBER_AT = {1: 0.3, 2: 0.5, 3: 0.7}


def _vehicle_path(geometry: _Geometry, positions: list[int], v: int, css: str, opacity: float,
                  numbers: bool, dashed: bool = False) -> list[str]:
    """The path of one vehicle over consecutive steps (positions[k] at step k), with the step
    number of every move; the moves of one vehicle over one road share a label ("2,5")."""
    shift = PATH_SHIFT[v]
    x0, y0 = geometry.layout[positions[0]]
    d = [f"M{_fmt(x0 + shift[0])},{_fmt(y0 + shift[1])}"]
    labels: dict[tuple[int, int], list[int]] = {}
    for step in range(1, len(positions)):
        a, b = positions[step - 1], positions[step]
        if a == b:
            continue
        d.append(geometry.segment(a, b, shift, move_to=False))
        labels.setdefault((min(a, b), max(a, b)), []).append(step)
    badges = []
    if numbers:
        for (low, high), steps in labels.items():
            bx, by = geometry.point(low, high, NUMBER_AT[v])
            bx, by = bx + shift[0], by + shift[1]
            text = ",".join(map(str, steps))
            half = max(9.0, 3.5 * len(text) + 3)
            badges.append(
                f'<g class="step" data-vehicle="{v}" data-steps="{" ".join(map(str, steps))}">'
                f'<rect x="{_fmt(bx - half)}" y="{_fmt(by - 9)}" width="{_fmt(2 * half)}" height="18" '
                f'rx="9" fill="{COLOURS[v]}" stroke="#ffffff" stroke-width="1.5"/>'
                f'<text x="{_fmt(bx)}" y="{_fmt(by + 4)}" text-anchor="middle" font-size="11" '
                f'font-weight="bold" fill="#ffffff">{text}</text></g>'
            )
    dash = ' stroke-dasharray="3 5"' if dashed else ""
    path = (f'<path class="{css}" data-vehicle="{v}" data-positions="{" ".join(map(str, positions))}" '
            f'd="{" ".join(d)}" fill="none" stroke="{COLOURS[v]}" stroke-width="4" '
            f'stroke-linejoin="round" stroke-linecap="round" opacity="{opacity}"{dash}/>')
    return [path, *badges]


def _badge(layout: dict[int, Point], p: int, v: int, kind: str) -> str:
    x, y = layout[p]
    angle = math.radians(BADGE_ANGLE[v])
    bx, by = x + (NODE_RADIUS + 13) * math.cos(angle), y + (NODE_RADIUS + 13) * math.sin(angle)
    label = f"S{v}" if kind == "start" else f"G{v}"
    if kind == "start":
        shape = (f'<rect x="{_fmt(bx - 13)}" y="{_fmt(by - 10)}" width="26" height="20" rx="4" '
                 f'fill="{COLOURS[v]}"/>')
        fill = "#ffffff"
    else:
        shape = (f'<rect x="{_fmt(bx - 13)}" y="{_fmt(by - 10)}" width="26" height="20" rx="10" '
                 f'fill="#ffffff" stroke="{COLOURS[v]}" stroke-width="3"/>')
        fill = COLOURS[v]
    return (f'<g class="{kind}" data-vehicle="{v}" data-pos="{p}">{shape}'
            f'<text x="{_fmt(bx)}" y="{_fmt(by + 4.5)}" text-anchor="middle" font-size="12" '
            f'font-weight="bold" fill="{fill}">{label}</text></g>')


def _legend() -> list[str]:
    y = LEGEND_TOP
    out = [f'<g id="legend" font-size="13" fill="#2b3038">']
    out.append(f'<path d="M40,{y} L100,{y}" stroke="{ROAD_COLOUR}" stroke-width="16"/>'
               f'<path d="M40,{y} L100,{y}" stroke="#ffffff" stroke-width="1.6" stroke-dasharray="7 6"/>'
               f'<text x="110" y="{y + 5}">two-way, two lanes</text>')
    out.append(f'<path d="M250,{y} L310,{y}" stroke="{ROAD_COLOUR}" stroke-width="7"/>'
               f'<text x="320" y="{y + 5}">two-way, one lane</text>')
    out.append(f'<path d="M455,{y} L515,{y}" stroke="#5f6873" stroke-width="2.5" '
               f'stroke-dasharray="10 5" marker-end="url(#arrow)"/><text x="525" y="{y + 5}">one-way</text>')
    out.append(f'<circle cx="620" cy="{y}" r="11" fill="#ffffff" stroke="{OBSTACLE_COLOUR}" stroke-width="3"/>'
               f'<path d="M614,{y - 6} L626,{y + 6} M614,{y + 6} L626,{y - 6}" stroke="{OBSTACLE_COLOUR}" '
               f'stroke-width="3"/><text x="638" y="{y + 5}">obstacle</text>')
    y2 = y + 34
    for v in VEHICLES:
        x = 40 + (v - 1) * 115
        out.append(f'<path d="M{x},{y2} L{x + 40},{y2}" stroke="{COLOURS[v]}" stroke-width="4"/>'
                   f'<text x="{x + 48}" y="{y2 + 5}">vehicle {v}</text>')
    out.append(f'<text x="400" y="{y2 + 5}">S start, G goal, numbers: step of each move; dotted: moves made</text>')
    out.append("</g>")
    return out


def _header(title: str) -> list[str]:
    return [
        '<?xml version="1.0" encoding="UTF-8"?>',
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
        f'viewBox="0 0 {WIDTH} {HEIGHT}" font-family="DejaVu Sans, Arial, sans-serif">',
        f"<title>{escape(title)}</title>",
        f'<rect width="{WIDTH}" height="{HEIGHT}" fill="#f7f8fa"/>',
        f'<text id="caption" x="30" y="34" font-size="20" font-weight="bold" fill="#2b3038">{escape(title)}</text>',
        *_defs(),
    ]


def _used(roads: tuple[Road, ...]) -> set[int]:
    return {p for road in roads for p in (road.a, road.b)}


def render_network(roads: tuple[Road, ...] | list[Road], obstacles=(), *, layout: str = "grid",
                   title: str = "Road network") -> str:
    """The network alone: positions, roads and obstacles."""
    roads = tuple(roads)
    coords = LAYOUTS[layout]()
    geometry = _Geometry(coords, roads)
    parts = _header(title)
    parts += _roads(geometry, roads, tuple(obstacles))
    parts += _positions(coords, _used(roads))
    parts += _legend()
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def _plan_title(plan: Plan) -> str:
    if not plan.found:
        return "No plan found"
    done = len(plan.history)
    text = f"Plan: {plan.num_steps} step{'s' if plan.num_steps != 1 else ''}"
    if done:
        text += f" (after {done} step{'s' if done != 1 else ''} made)"
    if plan.obstacles:
        text += f", {len(plan.obstacles)} obstacle{'s' if len(plan.obstacles) != 1 else ''}"
    return text


def render_plan(plan: Plan, *, layout: str = "grid", step: int | None = None,
                title: str | None = None) -> str:
    """The network with the plan drawn on it; with `step`, one frame showing where the vehicles
    stand at that step (the travelled part solid, the rest faint)."""
    coords = LAYOUTS[layout]()
    geometry = _Geometry(coords, plan.roads)
    if title is None:
        title = _plan_title(plan) if step is None else f"Step {step} of {plan.num_steps}"
    parts = _header(title)
    parts += _roads(geometry, plan.roads, plan.obstacles)
    parts.append('<g id="paths">')
    for v in VEHICLES:
        path = plan.path(v)
        if plan.history:
            travelled = [h[v - 1] for h in plan.history] + [path[0]]
            parts += _vehicle_path(geometry, travelled, v, "travelled", 0.55, False, dashed=True)
        if step is None:
            parts += _vehicle_path(geometry, path, v, "path", 0.9, True)
        else:
            parts += _vehicle_path(geometry, path, v, "path", 0.22, False)
            parts += _vehicle_path(geometry, path[: step + 1], v, "path-done", 0.95, True)
    parts.append("</g>")
    parts += _positions(coords, _used(plan.roads))
    parts.append('<g id="badges">')
    starts = plan.history[0] if plan.history else plan.steps[0]
    for v in VEHICLES:
        parts.append(_badge(coords, starts[v - 1], v, "start"))
        parts.append(_badge(coords, plan.goals[v - 1], v, "goal"))
    parts.append("</g>")
    if step is not None:
        parts.append('<g id="vehicles">')
        for v in VEHICLES:
            x, y = coords[plan.steps[step][v - 1]]
            parts.append(_vehicle_marker(v, x, y, f'data-pos="{plan.steps[step][v - 1]}"'))
        parts.append("</g>")
    parts += _legend()
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def _vehicle_marker(v: int, x: float, y: float, extra: str = "", inner: str = "") -> str:
    """A vehicle: a thick ring in its colour around the position it stands on."""
    return (f'<g class="vehicle" data-vehicle="{v}" {extra}>'
            f'<circle cx="{_fmt(x)}" cy="{_fmt(y)}" r="{_fmt(NODE_RADIUS + 5)}" fill="none" '
            f'stroke="{COLOURS[v]}" stroke-width="7">{inner}</circle></g>')


def render_animation(plan: Plan, *, layout: str = "grid", seconds_per_step: float = 1.2) -> str:
    """One SVG in which the vehicles drive the plan, step after step, again and again."""
    coords = LAYOUTS[layout]()
    geometry = _Geometry(coords, plan.roads)
    n = plan.num_steps
    parts = _header(_plan_title(plan) + " (animated)")
    parts += _roads(geometry, plan.roads, plan.obstacles)
    parts.append('<g id="paths">')
    for v in VEHICLES:
        parts += _vehicle_path(geometry, plan.path(v), v, "path", 0.3, True)
    parts.append("</g>")
    parts += _positions(coords, _used(plan.roads))
    slots = n + 2  # one slot per step and a pause at the goal
    duration = f"{_fmt(seconds_per_step * slots)}s"
    times = ";".join(f"{k / slots:.4f}" for k in range(n + 1)) + ";1"
    parts.append('<g id="vehicles">')
    for v in VEHICLES:
        path = plan.path(v) + [plan.path(v)[-1]]
        xs = ";".join(_fmt(coords[p][0]) for p in path)
        ys = ";".join(_fmt(coords[p][1]) for p in path)
        inner = (f'<animate attributeName="cx" values="{xs}" keyTimes="{times}" dur="{duration}" '
                 'repeatCount="indefinite"/>'
                 f'<animate attributeName="cy" values="{ys}" keyTimes="{times}" dur="{duration}" '
                 'repeatCount="indefinite"/>')
        x, y = coords[path[0]]
        parts.append(_vehicle_marker(v, x, y, f'data-positions={quoteattr(" ".join(map(str, path[:-1])))}', inner))
    parts.append("</g>")
    parts.append('<g id="step-counter" font-size="16" fill="#2b3038">')
    for k in range(n + 1):
        start, end = k / slots, (k + 1) / slots if k < n else 1.0
        if k == 0:
            values, keys = "1;0", f"0;{end:.4f}"
        elif k < n:
            values, keys = "0;1;0", f"0;{start:.4f};{end:.4f}"
        else:
            values, keys = "0;1", f"0;{start:.4f}"
        parts.append(
            f'<text x="{WIDTH - 30}" y="34" text-anchor="end" opacity="{1 if k == 0 else 0}" '
            f'data-step="{k}">step {k} of {n}<animate attributeName="opacity" calcMode="discrete" '
            f'values="{values}" keyTimes="{keys}" dur="{duration}" repeatCount="indefinite"/></text>'
        )
    parts.append("</g>")
    parts += _legend()
    parts.append("</svg>")
    return "\n".join(parts) + "\n"
