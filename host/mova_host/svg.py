"""Pictures of a network and a plan as SVG text.

The picture holds the positions, the roads (one-way roads as arrows, one-lane roads as a narrow
band, two-lane roads as a wide band with a dashed centre line), obstacles as red crosses, each
vehicle's path in its own colour with arrowheads showing the direction and the step number of
every move, the start and goal of every vehicle, and a ring in the vehicle's colour where it
stands now. Positions and roads lie where `geometry` lays them out (a grid, a circle or a
scenario's own x/y; roads bent around positions in their way). Step numbers of moves over one road are spread along it and
never cover each other. Elements carry `data-*` attributes (position, road ends, vehicle, path,
steps) so that a program can read the picture back.

Every text from outside (titles, names) is made fit for XML 1.0 (`xml_text`): control
characters other than tab, line feed and carriage return become blanks, halves of characters
(lone surrogates) and the non-characters U+FFFE and U+FFFF become U+FFFD, then &, < and > are
escaped. `write_svg` writes a picture whole or not at all.
"""

from __future__ import annotations

import contextlib
import math
import os
import re
import secrets
from dataclasses import dataclass
from pathlib import Path
from typing import Mapping, Sequence
from xml.sax.saxutils import escape, quoteattr

from .geometry import (
    HEIGHT,
    LEGEND_TOP,
    NODE_RADIUS,
    WIDTH,
    Box,
    Layout,
    Point,
    RoadGeometry,
    grid_layout,
    resolve_layout,
)
from .errors import OutputError
from .geometry import fmt as _fmt
from .plans import Plan
from .protocol import VEHICLES
from .roads import KIND_WORDS, Obstacle, Road, RoadKind

__all__ = ["COLOURS", "OBSTACLE_COLOUR", "ROAD_COLOUR", "render_animation", "render_network", "render_plan",
           "write_svg", "xml_text"]

COLOURS = {1: "#1f6fd1", 2: "#e8710a", 3: "#1e9e4a"}
OBSTACLE_COLOUR = "#d0021b"
ROAD_COLOUR = "#9aa3ad"
# Each vehicle's path is shifted a little so that paths over the same road stay apart.
PATH_SHIFT = {1: (-7.0, -7.0), 2: (0.0, 0.0), 3: (7.0, 7.0)}
# Where the start and goal badges of each vehicle sit around a position.
BADGE_ANGLE = {1: -135.0, 2: -45.0, 3: 90.0}
_CONTROL = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f]")
_NOT_CHARACTER = re.compile("[\ud800-\udfff\ufffe\uffff]")


def xml_text(text: str) -> str:
    """A text as XML 1.0 allows it in an element (see the module's description)."""
    return escape(_NOT_CHARACTER.sub("\ufffd", _CONTROL.sub(" ", text)))


def write_svg(path: str | os.PathLike[str], text: str) -> Path:
    """Writes a picture whole or not at all: into a new file beside it, then renamed over it;
    its folder is made when missing. OutputError, a sentence naming the file, when it cannot
    be written (nothing of it is left behind)."""
    target = Path(path)
    temporary = target.with_name(f".{target.name}.{secrets.token_hex(4)}.tmp")
    try:
        target.parent.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise OutputError(f"cannot write the picture {target}: its folder cannot be made "
                          f"({error.strerror or error})") from None
    try:
        data = text.encode("utf-8")
        with open(temporary, "xb") as handle:
            handle.write(data)
        os.replace(temporary, target)
    except (OSError, UnicodeEncodeError) as error:
        with contextlib.suppress(OSError):
            temporary.unlink(missing_ok=True)
        reason = error.strerror if isinstance(error, OSError) and error.strerror else str(error)
        raise OutputError(f"cannot write the picture {target}: {reason}") from None
    return target


def _defs() -> list[str]:
    out = ["<defs>"]
    out.append(
        '<marker id="arrow" viewBox="0 0 10 10" refX="9" refY="5" markerWidth="5" '
        'markerHeight="5" orient="auto-start-reverse"><path d="M0,0 L10,5 L0,10 z" '
        'fill="#5f6873"/></marker>'
    )
    out.append("</defs>")
    return out


def _roads(geometry: RoadGeometry, obstacles: Sequence[Obstacle]) -> list[str]:
    out = ['<g id="roads">']
    for index, road in enumerate(geometry.roads):
        if road.a not in geometry.layout or road.b not in geometry.layout:
            continue
        d = geometry.road_path(index)
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
            out.append(f'<g {attrs}><path d="{d}" fill="none" stroke="#5f6873" '
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


def _positions(layout: dict[int, Point], used: set[int], names: Mapping[int, str] | None = None) -> list[str]:
    out = ['<g id="positions">']
    for p in sorted(layout):
        x, y = layout[p]
        stroke = "#2b3038" if p in used else "#b8bec6"
        name = (names or {}).get(p)
        label = (f'<text class="name" x="{_fmt(x)}" y="{_fmt(y + NODE_RADIUS + 15)}" text-anchor="middle" '
                 f'font-size="12" fill="#4a525c">{xml_text(name)}</text>') if name else ""
        out.append(
            f'<g class="position" data-pos="{p}"><circle cx="{_fmt(x)}" cy="{_fmt(y)}" '
            f'r="{_fmt(NODE_RADIUS)}" fill="#ffffff" stroke="{stroke}" stroke-width="2.5"/>'
            f'<text x="{_fmt(x)}" y="{_fmt(y + 6)}" text-anchor="middle" font-size="18" '
            f'font-weight="bold" fill="{stroke}">{p}</text>{label}</g>'
        )
    out.append("</g>")
    return out


# ----- vehicle paths, direction marks and step numbers ----------------------------------------


@dataclass
class _Stroke:
    """One vehicle's path over consecutive steps: positions[k] at step first + k."""

    vehicle: int
    positions: list[int]
    css: str
    opacity: float
    numbers: bool  # step numbers and direction marks
    dashed: bool = False
    first: int = 0


@dataclass
class _Badge:
    vehicle: int
    low: int
    high: int
    steps: list[int]
    x: float = 0.0
    y: float = 0.0

    @property
    def text(self) -> str:
        return ",".join(map(str, self.steps))

    @property
    def half(self) -> float:
        return max(9.0, 3.5 * len(self.text) + 3)

    def box(self) -> tuple[float, float, float, float]:
        return (self.x - self.half, self.y - 9, self.x + self.half, self.y + 9)


def _overlap(a: tuple[float, float, float, float], b: tuple[float, float, float, float], gap: float = 2.0) -> bool:
    return a[0] < b[2] + gap and b[0] < a[2] + gap and a[1] < b[3] + gap and b[1] < a[3] + gap


def _circle_hits_box(centre: Point, radius: float, box: tuple[float, float, float, float]) -> bool:
    nx = min(max(centre[0], box[0]), box[2])
    ny = min(max(centre[1], box[1]), box[3])
    return math.hypot(centre[0] - nx, centre[1] - ny) < radius


def _place_badges(geometry: RoadGeometry, badges: list[_Badge], occupied: list[Box]) -> None:
    """Spreads the step numbers of one road along it, then moves any number that still covers
    another, a position or an `occupied` box (start and goal badges) sideways until it is free."""
    by_road: dict[tuple[int, int], list[_Badge]] = {}
    for badge in badges:
        by_road.setdefault((badge.low, badge.high), []).append(badge)
    for (low, high), group in by_road.items():
        group.sort(key=lambda b: b.vehicle)
        length = geometry.length(low, high) or 1.0
        sep = max(2 * b.half for b in group) + 6
        usable = max(length - 2 * (NODE_RADIUS + 8), 1.0)
        spread = min(sep / length, usable / length / max(len(group), 1))
        for i, badge in enumerate(group):
            t = 0.5 + (i - (len(group) - 1) / 2) * spread
            x, y = geometry.point(low, high, t)
            shift = PATH_SHIFT[badge.vehicle]
            badge.x, badge.y = x + shift[0], y + shift[1]
    placed: list[Box] = list(occupied)
    for badge in badges:
        dx, dy = geometry.direction(badge.low, badge.high, 0.5)
        normal = (-dy, dx)
        origin = (badge.x, badge.y)
        for k in range(0, 25):
            offset = (k + 1) // 2 * 11.0 * (1 if k % 2 else -1)
            badge.x, badge.y = origin[0] + normal[0] * offset, origin[1] + normal[1] * offset
            box = badge.box()
            if not any(_overlap(box, other) for other in placed) and not any(
                    _circle_hits_box(c, NODE_RADIUS + 1, box) for c in geometry.layout.values()):
                break
        placed.append(badge.box())


def _paths(geometry: RoadGeometry, strokes: list[_Stroke], occupied: Sequence[Box] = ()) -> list[str]:
    """The paths, then their direction marks, then every step number (placed together)."""
    lines: list[str] = []
    marks: list[str] = []
    badges: list[_Badge] = []
    for stroke in strokes:
        v, positions = stroke.vehicle, stroke.positions
        shift = PATH_SHIFT[v]
        x0, y0 = geometry.layout[positions[0]]
        d = [f"M{_fmt(x0 + shift[0])},{_fmt(y0 + shift[1])}"]
        labels: dict[tuple[int, int], list[int]] = {}
        arrows: set[tuple[int, int]] = set()
        for k in range(1, len(positions)):
            a, b = positions[k - 1], positions[k]
            if a == b:
                continue
            d.append(geometry.segment(a, b, shift, move_to=False))
            labels.setdefault((min(a, b), max(a, b)), []).append(stroke.first + k)
            arrows.add((a, b))
        dash = ' stroke-dasharray="3 5"' if stroke.dashed else ""
        lines.append(
            f'<path class="{stroke.css}" data-vehicle="{v}" data-positions="{" ".join(map(str, positions))}" '
            f'd="{" ".join(d)}" fill="none" stroke="{COLOURS[v]}" stroke-width="4" '
            f'stroke-linejoin="round" stroke-linecap="round" opacity="{stroke.opacity}"{dash}/>')
        if not stroke.numbers:
            continue
        for a, b in sorted(arrows):
            marks.append(_arrow(geometry, v, a, b))
        badges += [_Badge(v, low, high, steps) for (low, high), steps in labels.items()]
    _place_badges(geometry, badges, list(occupied))
    out = lines + marks
    for badge in badges:
        out.append(
            f'<g class="step" data-vehicle="{badge.vehicle}" data-steps="{" ".join(map(str, badge.steps))}" '
            f'data-road="{badge.low}-{badge.high}">'
            f'<rect x="{_fmt(badge.x - badge.half)}" y="{_fmt(badge.y - 9)}" width="{_fmt(2 * badge.half)}" '
            f'height="18" rx="9" fill="{COLOURS[badge.vehicle]}" stroke="#ffffff" stroke-width="1.5"/>'
            f'<text x="{_fmt(badge.x)}" y="{_fmt(badge.y + 4)}" text-anchor="middle" font-size="11" '
            f'font-weight="bold" fill="#ffffff">{badge.text}</text></g>'
        )
    return out


def _arrow(geometry: RoadGeometry, v: int, a: int, b: int) -> str:
    """An arrowhead on a vehicle's path, pointing where it goes, just before it arrives."""
    length = geometry.length(a, b) or 1.0
    t = max(0.55, 1 - (NODE_RADIUS + 17) / length)
    x, y = geometry.point(a, b, t)
    x, y = x + PATH_SHIFT[v][0], y + PATH_SHIFT[v][1]
    dx, dy = geometry.direction(a, b, t)
    nx, ny = -dy, dx
    tip = (x + 7.5 * dx, y + 7.5 * dy)
    left = (x - 6 * dx + 6.5 * nx, y - 6 * dy + 6.5 * ny)
    right = (x - 6 * dx - 6.5 * nx, y - 6 * dy - 6.5 * ny)
    return (f'<path class="direction" data-vehicle="{v}" data-from="{a}" data-to="{b}" '
            f'd="M{_fmt(tip[0])},{_fmt(tip[1])} L{_fmt(left[0])},{_fmt(left[1])} '
            f'L{_fmt(right[0])},{_fmt(right[1])} z" fill="{COLOURS[v]}" stroke="#ffffff" stroke-width="1"/>')


def _badge_centre(layout: dict[int, Point], p: int, v: int, side: float) -> Point:
    """Where a start or goal badge sits; `side` moves it sideways (-1 or 1) when the vehicle's
    start and goal badges share a position."""
    x, y = layout[p]
    angle = math.radians(BADGE_ANGLE[v])
    return x + (NODE_RADIUS + 13) * math.cos(angle) + 14 * side, y + (NODE_RADIUS + 13) * math.sin(angle)


def _badge(layout: dict[int, Point], p: int, v: int, kind: str, side: float = 0.0) -> str:
    bx, by = _badge_centre(layout, p, v, side)
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


def _legend(now: bool = False) -> list[str]:
    y = LEGEND_TOP
    out = ['<g id="legend" font-size="13" fill="#2b3038">']
    out.append(f'<path d="M40,{y} L100,{y}" stroke="{ROAD_COLOUR}" stroke-width="16"/>'
               f'<path d="M40,{y} L100,{y}" stroke="#ffffff" stroke-width="1.6" stroke-dasharray="7 6"/>'
               f'<text x="110" y="{y + 5}">{KIND_WORDS[RoadKind.TWO_LANES].label}</text>')
    out.append(f'<path d="M250,{y} L310,{y}" stroke="{ROAD_COLOUR}" stroke-width="7"/>'
               f'<text x="320" y="{y + 5}">{KIND_WORDS[RoadKind.ONE_LANE].label}</text>')
    out.append(f'<path d="M455,{y} L515,{y}" stroke="#5f6873" stroke-width="2.5" '
               f'stroke-dasharray="10 5" marker-end="url(#arrow)"/><text x="525" y="{y + 5}">{KIND_WORDS[RoadKind.ONE_WAY].label}</text>')
    out.append(f'<circle cx="620" cy="{y}" r="11" fill="#ffffff" stroke="{OBSTACLE_COLOUR}" stroke-width="3"/>'
               f'<path d="M614,{y - 6} L626,{y + 6} M614,{y + 6} L626,{y - 6}" stroke="{OBSTACLE_COLOUR}" '
               f'stroke-width="3"/><text x="638" y="{y + 5}">obstacle</text>')
    if now:
        out.append(f'<circle cx="735" cy="{y}" r="10" fill="#ffffff" stroke="#5f6873" stroke-width="4"/>'
                   f'<text x="752" y="{y + 5}">stands now</text>')
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
        f"<title>{xml_text(title)}</title>",
        f'<rect width="{WIDTH}" height="{HEIGHT}" fill="#f7f8fa"/>',
        f'<text id="caption" x="30" y="34" font-size="20" font-weight="bold" fill="#2b3038">{xml_text(title)}</text>',
        *_defs(),
    ]


def _used(roads: Sequence[Road]) -> set[int]:
    return {p for road in roads for p in (road.a, road.b)}


def render_network(roads: Sequence[Road], obstacles: Sequence[Obstacle] = (), *, layout: Layout = "grid",
                   title: str = "Road network", names: Mapping[int, str] | None = None) -> str:
    """The network alone: positions, roads and obstacles."""
    coords = resolve_layout(layout)
    geometry = RoadGeometry(coords, roads)
    parts = _header(title)
    parts += _roads(geometry, obstacles)
    parts += _positions(coords, _used(roads), names)
    parts += _legend()
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def _drawable(plan: Plan, coords: dict[int, Point]) -> bool:
    return all(p in coords for step in (*plan.steps, *plan.history) for p in step) and all(
        p in coords for p in plan.goals)


def _plan_strokes(plan: Plan, step: int | None) -> list[_Stroke]:
    """Each vehicle's moves made (dotted) and its plan: whole, or done and still to come."""
    strokes: list[_Stroke] = []
    for v in VEHICLES:
        path = plan.path(v)
        if plan.history:
            travelled = [h[v - 1] for h in plan.history] + [path[0]]
            strokes.append(_Stroke(v, travelled, "travelled", 0.55, False, dashed=True))
        if step is None:
            strokes.append(_Stroke(v, path, "path", 0.9, True))
        else:
            strokes.append(_Stroke(v, path[: step + 1], "path-done", 0.3, False))
            strokes.append(_Stroke(v, path[step:], "path", 0.95, True, first=step))
    return strokes


def _badges(plan: Plan, coords: dict[int, Point]) -> tuple[list[str], list[Box]]:
    """The start and goal badges of the vehicles, and the boxes they cover. A vehicle that ends
    where it starts gets its start and goal badges side by side."""
    starts = plan.history[0] if plan.history else plan.steps[0]
    sides = {v: 1.0 if plan.goals[v - 1] == starts[v - 1] else 0.0 for v in VEHICLES}
    badges, occupied = ['<g id="badges">'], []
    for v in VEHICLES:
        for p, side in ((starts[v - 1], -sides[v]), (plan.goals[v - 1], sides[v])):
            x, y = _badge_centre(coords, p, v, side)
            occupied.append((x - 13, y - 10, x + 13, y + 10))
        badges.append(_badge(coords, starts[v - 1], v, "start", -sides[v]))
        badges.append(_badge(coords, plan.goals[v - 1], v, "goal", sides[v]))
    badges.append("</g>")
    return badges, occupied


def render_plan(plan: Plan, *, layout: Layout = "grid", step: int | None = None,
                title: str | None = None, names: Mapping[int, str] | None = None) -> str:
    """The network with the plan drawn on it, and a ring on the position each vehicle stands on
    now (step 0 of the plan); after moves, the moves made are dotted. With `step`, one frame of
    the plan: the vehicles where they stand at that step, what is still to come drawn solid
    with its step numbers, what is done faint."""
    coords = resolve_layout(layout)
    if not _drawable(plan, coords):
        coords = grid_layout()
    geometry = RoadGeometry(coords, plan.roads)
    if title is None:
        title = plan.title() if step is None else f"Step {step} of {plan.num_steps}"
    parts = _header(title)
    parts += _roads(geometry, plan.obstacles)
    badges, occupied = _badges(plan, coords)
    parts.append('<g id="paths">')
    parts += _paths(geometry, _plan_strokes(plan, step), occupied)
    parts.append("</g>")
    parts += _positions(coords, _used(plan.roads), names)
    at = plan.steps[step] if step is not None else plan.steps[0]
    parts.append('<g id="vehicles">')
    for v in VEHICLES:
        x, y = coords[at[v - 1]]
        css = "vehicle" if step is not None else "now"
        parts.append(_vehicle_marker(v, x, y, f'data-pos="{at[v - 1]}"', css=css))
    parts.append("</g>")
    parts += badges
    parts += _legend(now=step is None)
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def _vehicle_marker(v: int, x: float, y: float, extra: str = "", inner: str = "", css: str = "vehicle") -> str:
    """A vehicle: a thick ring in its colour around the position it stands on."""
    return (f'<g class="{css}" data-vehicle="{v}" {extra}>'
            f'<circle cx="{_fmt(x)}" cy="{_fmt(y)}" r="{_fmt(NODE_RADIUS + 5)}" fill="none" '
            f'stroke="{COLOURS[v]}" stroke-width="7">{inner}</circle></g>')


def render_animation(plan: Plan, *, layout: Layout = "grid", seconds_per_step: float = 1.2,
                     names: Mapping[int, str] | None = None) -> str:
    """One SVG in which the vehicles drive the plan, step after step, again and again."""
    coords = resolve_layout(layout)
    if not _drawable(plan, coords):
        coords = grid_layout()
    geometry = RoadGeometry(coords, plan.roads)
    n = plan.num_steps
    parts = _header(plan.title() + " (animated)")
    parts += _roads(geometry, plan.obstacles)
    parts.append('<g id="paths">')
    parts += _paths(geometry, [_Stroke(v, plan.path(v), "path", 0.3, True) for v in VEHICLES])
    parts.append("</g>")
    parts += _positions(coords, _used(plan.roads), names)
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
