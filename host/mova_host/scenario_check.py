"""What is doubtful in a scenario that reads correctly (`mova-host check`): duplicate roads and
obstacles, positions without roads, obstacles on no road, shared goals and goals that cannot be
reached. Each finding names its place in the file.
"""

from __future__ import annotations

from dataclasses import dataclass

from .exact import Network, road_distance
from .protocol import NO_PATH
from .roads import RoadKind
from .scenario import Scenario


@dataclass(frozen=True)
class Finding:
    """A problem of a scenario that reads correctly: the place in the file and the words."""

    place: str
    message: str

    def __str__(self) -> str:
        return f"{self.place}: {self.message}"

    def to_json(self) -> dict[str, str]:
        """{"place": ..., "message": ...}"""
        return {"place": self.place, "message": self.message}


def check_scenario(s: Scenario) -> list[Finding]:
    """Every finding, in the order of the file's parts."""
    found = [Finding(key, "unknown field, ignored") for key in s.extra]
    found += _roads(s)
    found += _positions(s)
    found += _vehicles(s)
    found += _obstacles(s)
    return found


def _roads(s: Scenario) -> list[Finding]:
    found: list[Finding] = []
    if not any(road.a != road.b for road in s.roads):
        found.append(Finding("roads", "there are no roads between two positions: no vehicle can move"))
    # A second one-lane road between two positions lets vehicles pass there; a second one-way
    # road the same way, or any road beside a two-lane road, adds nothing.
    first: dict[tuple[RoadKind, tuple[int, ...]], int] = {}
    wide: dict[frozenset[int], int] = {}
    for i, road in enumerate(s.roads):
        if road.a == road.b:
            found.append(Finding(f"roads[{i}]", f"leads from {road.a} to itself: no vehicle moves along it "
                                 "(it only closes a cycle of roads there)"))
            continue
        pair = frozenset((road.a, road.b))
        ends = (road.a, road.b) if road.kind is RoadKind.ONE_WAY else tuple(sorted(pair))
        key = (road.kind, ends)
        if key in first and road.kind is not RoadKind.ONE_LANE:
            found.append(Finding(f"roads[{i}]", f"repeats roads[{first[key]}] ({road.kind.value} "
                                 f"{road.a}-{road.b})"))
        elif pair in wide:
            found.append(Finding(f"roads[{i}]", f"adds nothing to the two-lane road roads[{wide[pair]}] "
                                 f"between {road.a} and {road.b}"))
        first.setdefault(key, i)
        if road.kind is RoadKind.TWO_LANES:
            wide.setdefault(pair, i)
    return found


def _touched(s: Scenario) -> set[int]:
    """The positions a road joins to another position."""
    return {p for road in s.roads if road.a != road.b for p in (road.a, road.b)}


def _positions(s: Scenario) -> list[Finding]:
    touched = _touched(s)
    return [Finding(f"positions[{i}]", f"position {s.label(p)} has no road")
            for i, p in enumerate(s.positions) if p not in touched]  # in the order of the file


def _vehicles(s: Scenario) -> list[Finding]:
    found: list[Finding] = []
    touched = _touched(s)
    net_free, net = Network(s.roads), Network(s.roads, s.obstacles)
    for index, v in enumerate(s.order):
        place = f"vehicles[{index}]"
        start, goal = s.starts[v - 1], s.goals[v - 1]
        for what, p in (("start", start), ("goal", goal)):
            if p not in touched and not (what == "goal" and goal == start):
                found.append(Finding(f"{place}.{what}", f"position {s.label(p)} of vehicle {v} has no road "
                                     "to another position"))
        if start == goal and road_distance(net_free, start, start) >= NO_PATH:
            found.append(Finding(f"{place}.start", f"vehicle {v} stays on position {s.label(start)}, which lies "
                                 "on no cycle of roads: the controller often misses a plan then"))
        for w in s.order[:index]:
            if s.goals[w - 1] == goal:
                found.append(Finding(f"{place}.goal", f"position {s.label(goal)} is also the goal of vehicle {w}: "
                                     "two vehicles never stand on one position"))
        if goal != start:
            if goal not in net_free.reachable_from(start):
                found.append(Finding(f"{place}.goal", f"vehicle {v} cannot reach its goal "
                                     f"{s.label(goal)} from its start {s.label(start)} on the roads"))
            elif goal not in net.reachable_from(start):
                found.append(Finding(f"{place}.goal", f"vehicle {v} cannot reach its goal "
                                     f"{s.label(goal)} from its start {s.label(start)} past the obstacles"))
    return found


def _obstacles(s: Scenario) -> list[Finding]:
    found: list[Finding] = []
    blocked: dict[frozenset[int], int] = {}
    for i, (a, b) in enumerate(s.obstacles):
        if not any(road.joins(a, b) for road in s.roads):
            found.append(Finding(f"obstacles[{i}]", f"no road joins {a} and {b}"))
        key = frozenset((a, b))
        if key in blocked:
            found.append(Finding(f"obstacles[{i}]", f"repeats obstacles[{blocked[key]}]"))
        else:
            blocked[key] = i
    return found
