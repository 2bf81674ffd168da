"""Where things lie in a picture of the network: the positions (on a grid, a circle, or at
coordinates of their own) and the course of every road.

Roads bend around positions in their way, towards the side that passes fewer positions and
keeps them clear of the title and the legend; a second road between the same two positions is
drawn bent beside the first. The SVG pictures (`svg.py`) and the workbench's page (which gets
`geometry_json` from the server) both draw the roads this module lays out.
"""

from __future__ import annotations

import math
from typing import Any, Mapping, Sequence

from .protocol import MAX_POS
from .roads import Road

Point = tuple[float, float]
Box = tuple[float, float, float, float]
Layout = str | Mapping[int, Point]

NODE_RADIUS = 22.0
WIDTH = 900
HEIGHT = 640
LEGEND_TOP = 560
TITLE_BOTTOM = 48
# Position centres lie in this box; roads, curves included, stay in ROAD_BOX: below the title
# and above the legend.
NODE_BOX: Box = (50.0, 90.0, WIDTH - 50.0, LEGEND_TOP - 50.0)
ROAD_BOX: Box = (12.0, TITLE_BOTTOM + 10.0, WIDTH - 12.0, LEGEND_TOP - 22.0)
ROAD_TRIM = NODE_RADIUS + 2  # a road stops this short of the centres of its ends
SMALLEST_SPAN = 1e-6  # coordinates closer than this together are not spread apart by scaling


def grid_layout() -> dict[int, Point]:
    """Positions 0 to 11 in three rows of four: 0-3 on top, 4-7 in the middle, 8-11 below."""
    return {p: (120.0 + 220.0 * (p % 4), 110.0 + 190.0 * (p // 4)) for p in range(MAX_POS)}


def circle_layout() -> dict[int, Point]:
    """Positions on a circle, 0 on top, clockwise; no straight road passes over a position."""
    centre, radius = (WIDTH / 2, 300.0), 205.0
    return {
        p: (centre[0] + radius * math.sin(2 * math.pi * p / MAX_POS),
            centre[1] - radius * math.cos(2 * math.pi * p / MAX_POS))
        for p in range(MAX_POS)
    }


LAYOUTS = {"grid": grid_layout, "circle": circle_layout}


def resolve_layout(layout: Layout) -> dict[int, Point]:
    """The centres of the positions to draw: a named layout (all 12 positions), or the given
    coordinates (only those positions). Coordinates inside NODE_BOX are used as they are; a set
    that leaves it is scaled evenly and centred into it."""
    if isinstance(layout, str):
        return LAYOUTS[layout]()
    points = {int(p): (float(x), float(y)) for p, (x, y) in layout.items()}
    return fit(points, NODE_BOX, NODE_BOX)[0]


def fit(points: Mapping[int, Point], keep: Box, into: Box) -> tuple[dict[int, Point], bool]:
    """The points as they are when all lie in `keep`; otherwise scaled evenly (one scale both
    ways) and centred into `into`, and True. Coordinates must be finite (the input checks bound
    them); a spread below SMALLEST_SPAN counts as none, so that no scale is infinite."""
    given = dict(points)
    if not given:
        return given, False
    xs, ys = [x for x, _ in given.values()], [y for _, y in given.values()]
    if min(xs) >= keep[0] and max(xs) <= keep[2] and min(ys) >= keep[1] and max(ys) <= keep[3]:
        return given, False
    w, h = max(xs) - min(xs), max(ys) - min(ys)
    scales = [(into[2] - into[0]) / w] if w >= SMALLEST_SPAN else []
    scales += [(into[3] - into[1]) / h] if h >= SMALLEST_SPAN else []
    scale = min(scales, default=1.0)
    cx, cy = (min(xs) + max(xs)) / 2, (min(ys) + max(ys)) / 2
    mx, my = (into[0] + into[2]) / 2, (into[1] + into[3]) / 2
    return {p: (mx + (x - cx) * scale, my + (y - cy) * scale) for p, (x, y) in given.items()}, True


def fmt(value: float) -> str:
    """A coordinate as path data and attributes write it: one decimal at most."""
    text = f"{value:.1f}"
    text = text[:-2] if text.endswith(".0") else text
    return "0" if text == "-0" else text


def _distance_to_segment(p: Point, a: Point, b: Point) -> float:
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = max(0.0, min(1.0, ((p[0] - ax) * dx + (p[1] - ay) * dy) / length2)) if length2 else 0.0
    return math.hypot(p[0] - (ax + t * dx), p[1] - (ay + t * dy))


def _quadratic(pa: Point, c: Point, pb: Point, t: float) -> Point:
    u = 1 - t
    return (u * u * pa[0] + 2 * u * t * c[0] + t * t * pb[0], u * u * pa[1] + 2 * u * t * c[1] + t * t * pb[1])


def _on(pa: Point, c: Point | None, pb: Point, t: float) -> Point:
    """The point at fraction t from pa to pb: straight, or along the curve with control c."""
    if c is None:
        return (pa[0] + t * (pb[0] - pa[0]), pa[1] + t * (pb[1] - pa[1]))
    return _quadratic(pa, c, pb, t)


def _inside(p: Point, box: Box, margin: float) -> bool:
    return box[0] + margin <= p[0] <= box[2] - margin and box[1] + margin <= p[1] <= box[3] - margin


class RoadGeometry:
    """The course of each road over a layout: straight, or a quadratic curve by its control
    point. Vehicles' paths between two positions follow the first road between them."""

    def __init__(self, layout: dict[int, Point], roads: Sequence[Road]):
        self.layout = layout
        self.roads = tuple(roads)
        self.controls: dict[frozenset[int], Point | None] = {}  # the first road of each pair
        self.road_controls: list[Point | None] = []
        count: dict[frozenset[int], int] = {}
        for road in self.roads:
            key = frozenset((road.a, road.b))
            if road.a not in layout or road.b not in layout or road.a == road.b:
                self.road_controls.append(None)
                continue
            nth = count.get(key, 0)
            count[key] = nth + 1
            control = self._control(road.a, road.b, nth)
            self.road_controls.append(control)
            if nth == 0:
                self.controls[key] = control

    def _hits(self, a: int, b: int, points: list[Point]) -> int:
        return sum(1 for p, centre in self.layout.items() if p not in (a, b)
                   and any(math.dist(q, centre) < NODE_RADIUS + 10 for q in points))

    def _control(self, a: int, b: int, nth: int) -> Point | None:
        pa, pb = self.layout[a], self.layout[b]
        blocked = any(_distance_to_segment(self.layout[p], pa, pb) < NODE_RADIUS + 10
                      for p in self.layout if p not in (a, b))
        if not blocked and nth == 0:
            return None
        # Bend to the left of the direction from the lower to the higher position number, or to
        # the right, whichever passes fewer positions and stays clear of title and legend.
        low, high = (pa, pb) if a < b else (pb, pa)
        mx, my = (low[0] + high[0]) / 2, (low[1] + high[1]) / 2
        dx, dy = high[0] - low[0], high[1] - low[1]
        length = math.hypot(dx, dy) or 1.0
        bends = (0.28, 0.4, 0.18) if nth == 0 else (0.16 * nth, 0.1 * nth)
        first_side = 1 if nth % 2 == 0 else -1
        best: tuple[tuple[bool, int, int, bool], Point] | None = None
        for rank, bend in enumerate(bends):
            for side in (first_side, -first_side):
                c = (mx + side * dy / length * bend * length, my - side * dx / length * bend * length)
                curve = [_quadratic(pa, c, pb, k / 24) for k in range(25)]
                outside = not all(_inside(q, ROAD_BOX, 8) for q in curve)
                score = (outside, self._hits(a, b, curve), rank, side != first_side)
                if best is None or score < best[0]:
                    best = (score, c)
        assert best is not None
        return best[1]

    def pair_control(self, a: int, b: int) -> Point | None:
        return self.controls.get(frozenset((a, b)))

    def point(self, a: int, b: int, t: float) -> Point:
        """The point at fraction t of the way from a to b along the road."""
        return _on(self.layout[a], self.pair_control(a, b), self.layout[b], t)

    def direction(self, a: int, b: int, t: float) -> Point:
        """The unit direction of travel from a to b at fraction t."""
        p, q = self.point(a, b, max(0.0, t - 0.01)), self.point(a, b, min(1.0, t + 0.01))
        length = math.dist(p, q) or 1.0
        return ((q[0] - p[0]) / length, (q[1] - p[1]) / length)

    def length(self, a: int, b: int) -> float:
        points = [self.point(a, b, k / 16) for k in range(17)]
        return sum(math.dist(points[k - 1], points[k]) for k in range(1, 17))

    def segment(self, a: int, b: int, shift: Point = (0.0, 0.0), move_to: bool = True) -> str:
        """Path data from a to b along the road, shifted."""
        return self.curve(a, b, self.pair_control(a, b), shift=shift, move_to=move_to)

    def curve(self, a: int, b: int, control: Point | None, *, shift: Point = (0.0, 0.0), trim: float = 0.0,
              move_to: bool = True) -> str:
        """Path data from a to b along `control` (None: straight), shifted, trimmed by `trim`
        pixels at both ends."""
        pa, pb = self.layout[a], self.layout[b]
        length = math.hypot(pb[0] - pa[0], pb[1] - pa[1]) or 1.0
        t0, t1 = trim / length, 1 - trim / length
        s, e = _on(pa, control, pb, t0), _on(pa, control, pb, t1)
        head = f"M{fmt(s[0] + shift[0])},{fmt(s[1] + shift[1])}" if move_to else ""
        if control is None:
            return f"{head} L{fmt(e[0] + shift[0])},{fmt(e[1] + shift[1])}".strip()
        # The sub-curve between t0 and t1 of the quadratic curve, by its control point.
        mid = _on(pa, control, pb, (t0 + t1) / 2)
        cx = 2 * mid[0] - (s[0] + e[0]) / 2
        cy = 2 * mid[1] - (s[1] + e[1]) / 2
        return (f"{head} Q{fmt(cx + shift[0])},{fmt(cy + shift[1])} "
                f"{fmt(e[0] + shift[0])},{fmt(e[1] + shift[1])}").strip()

    def road_path(self, index: int) -> str:
        """Path data of a road as drawn: between its ends, or a small loop above a position for
        a road from the position to itself."""
        road = self.roads[index]
        if road.a == road.b:
            x, y = self.layout[road.a]
            return (f"M{fmt(x - 12)},{fmt(y - NODE_RADIUS + 3)} C{fmt(x - 30)},{fmt(y - 62)} "
                    f"{fmt(x + 30)},{fmt(y - 62)} {fmt(x + 12)},{fmt(y - NODE_RADIUS + 3)}")
        return self.curve(road.a, road.b, self.road_controls[index], trim=ROAD_TRIM)


def geometry_json(layout: dict[int, Point], roads: Sequence[Road]) -> dict[str, Any]:
    """The course of the roads for the workbench's page: each road's path data, and the control
    point (null: straight) of the road vehicles follow between two positions."""
    geometry = RoadGeometry(layout, roads)
    drawn = [i for i, road in enumerate(geometry.roads) if road.a in layout and road.b in layout]
    pairs = [{"from": min(key), "to": max(key), "control": None if c is None else [c[0], c[1]]}
             for key, c in geometry.controls.items()]
    return {"roads": [{"index": i, "d": geometry.road_path(i)} for i in drawn], "pairs": pairs}
