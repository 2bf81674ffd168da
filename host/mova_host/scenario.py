"""Scenario files: a mission as a JSON document, read, checked and turned into commands.

    {
      "format": "mova-scenario", "version": 1,
      "name": "passing on two lanes", "description": "free text",
      "positions": [{"position": 0, "name": "dock A", "x": 80, "y": 60}],
      "roads": [{"kind": "two-lanes", "from": 0, "to": 1}],
      "vehicles": [{"vehicle": 1, "start": 0, "goal": 1}, {"vehicle": 2, ...}, {"vehicle": 3, ...}],
      "obstacles": [{"from": 5, "to": 6}],
      "settings": {"timeout_ms": 1000, "memory_mb": 2048},
      "expect": {"answer": true, "steps": 1, "category": "plan"}
    }

`format`, `version`, `roads` and `vehicles` are required, the rest optional. A road's kind is
one of one-way, one-lane, two-lanes; a one-way road leads from `from` to `to`. An obstacle
blocks the road between its two ends in both directions. Every error names the place in the
file: `roads[3].kind: "two-lane" is not one of one-way, one-lane, two-lanes`.
"""

from __future__ import annotations

import json
import math
import os
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Sequence

from .exact import Network, road_distance
from .mission import Road, RoadKind
from .protocol import INT32_MAX, MAX_POS, MAX_ROADS, NO_PATH, VEHICLES

FORMAT = "mova-scenario"
VERSION = 1
CATEGORIES = ("plan", "missed", "unreachable", "obstacles", "blocked")
_KINDS = ", ".join(k.value for k in RoadKind)


class ScenarioError(ValueError):
    """A scenario that cannot be read; the message names the file and the place in it."""

    def __init__(self, place: str, problem: str, source: str = "scenario"):
        self.place, self.problem, self.source = place, problem, source
        where = f"{place}: " if place else ""
        super().__init__(f"{source}: {where}{problem}")


@dataclass(frozen=True)
class PositionInfo:
    name: str | None = None
    x: float | None = None
    y: float | None = None


@dataclass
class Scenario:
    roads: list[Road]
    starts: tuple[int, int, int]
    goals: tuple[int, int, int]
    obstacles: list[tuple[int, int]] = field(default_factory=list)
    positions: dict[int, PositionInfo] = field(default_factory=dict)
    name: str | None = None
    description: str | None = None
    timeout_ms: int | None = None
    memory_mb: int | None = None
    expect: dict | None = None
    # The order in which the file lists the vehicles (for messages that name its places).
    order: tuple[int, ...] = field(default=VEHICLES, compare=False)
    # Top-level fields the format does not know, kept as they were.
    extra: dict = field(default_factory=dict)

    def vehicle_place(self, v: int) -> str:
        """"vehicles[i]": where vehicle v stands in the file."""
        return f"vehicles[{self.order.index(v)}]"

    def coordinates(self) -> dict[int, tuple[float, float]] | None:
        """Picture coordinates of the positions, when every position the mission uses has them."""
        given = {p: (i.x, i.y) for p, i in self.positions.items() if i.x is not None and i.y is not None}
        if not given or not self.used_positions() <= set(given):
            return None
        return given  # type: ignore[return-value]

    def used_positions(self) -> set[int]:
        used = {p for road in self.roads for p in (road.a, road.b)}
        return used | set(self.starts) | set(self.goals)

    def label(self, position: int) -> str:
        """"5" or "5 (dock A)"."""
        info = self.positions.get(position)
        return f"{position} ({info.name})" if info and info.name else str(position)


# ----- reading ---------------------------------------------------------------------------------


class _Reader:
    def __init__(self, source: str):
        self.source = source

    def fail(self, place: str, problem: str) -> ScenarioError:
        return ScenarioError(place, problem, self.source)

    def object(self, value: Any, place: str, required: Sequence[str], optional: Sequence[str]) -> dict:
        if not isinstance(value, dict):
            raise self.fail(place, f"must be an object, not {_json_type(value)}")
        for key in value:
            if key not in required and key not in optional:
                known = ", ".join([*required, *optional])
                raise self.fail(_join(place, key), f"unknown field (known: {known})")
        for key in required:
            if key not in value:
                raise self.fail(place, f'the field "{key}" is missing')
        return value

    def list(self, value: Any, place: str) -> list:
        if not isinstance(value, list):
            raise self.fail(place, f"must be a list, not {_json_type(value)}")
        return value

    def integer(self, value: Any, place: str, low: int = 0, high: int = INT32_MAX) -> int:
        if isinstance(value, bool) or not isinstance(value, int):
            raise self.fail(place, f"must be a whole number, not {_show(value)}")
        if not low <= value <= high:
            raise self.fail(place, f"{value} is outside {low} to {high}")
        return value

    def position(self, value: Any, place: str) -> int:
        if isinstance(value, int) and not isinstance(value, bool) and not 0 <= value < MAX_POS:
            raise self.fail(place, f"position {value} is outside 0 to {MAX_POS - 1}")
        return self.integer(value, place, 0, MAX_POS - 1)

    def text(self, value: Any, place: str) -> str:
        if not isinstance(value, str):
            raise self.fail(place, f"must be a text, not {_show(value)}")
        return value

    def number(self, value: Any, place: str) -> float:
        if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
            raise self.fail(place, f"must be a number, not {_show(value)}")
        return float(value)


def _json_type(value: Any) -> str:
    if value is None:
        return "null"
    return {bool: "true/false", int: "a number", float: "a number", str: "a text", list: "a list",
            dict: "an object"}.get(type(value), type(value).__name__)


def _show(value: Any) -> str:
    text = json.dumps(value) if not isinstance(value, (dict, list)) else _json_type(value)
    return text if len(text) <= 40 else text[:37] + "..."


def _join(place: str, key: str | int) -> str:
    if isinstance(key, int):
        return f"{place}[{key}]"
    return f"{place}.{key}" if place else key


_TOP = ("format", "version", "roads", "vehicles")
_TOP_OPTIONAL = ("name", "description", "positions", "obstacles", "settings", "expect")
_EXPECT = {"answer": "boolean", "plan_exists": "boolean", "steps": "count", "moves": "count",
           "optimal_steps": "count", "optimal_moves": "count", "category": "category",
           "reason": "text"}


def parse_scenario(data: object, source: str = "scenario") -> Scenario:
    """The scenario held by decoded JSON data; raises ScenarioError naming the place.

    Fields the format does not know are kept aside at the top level (and in `expect`, which is
    the tests' own), refused everywhere else."""
    r = _Reader(source)
    if not isinstance(data, dict):
        raise r.fail("", f"must be an object, not {_json_type(data)}")
    extra = {k: v for k, v in data.items() if k not in _TOP and k not in _TOP_OPTIONAL}
    top = r.object({k: v for k, v in data.items() if k not in extra}, "", _TOP, _TOP_OPTIONAL)
    if top["format"] != FORMAT:
        raise r.fail("format", f'must be "{FORMAT}", not {_show(top["format"])}')
    version = r.integer(top["version"], "version", 1)
    if version > VERSION:
        raise r.fail("version", f"version {version} is newer than this program reads ({VERSION})")
    name = r.text(top["name"], "name") if top.get("name") is not None else None
    description = r.text(top["description"], "description") if top.get("description") is not None else None

    positions: dict[int, PositionInfo] = {}
    for i, item in enumerate(r.list(top.get("positions", []), "positions")):
        place = _join("positions", i)
        entry = r.object(item, place, ("position",), ("name", "x", "y"))
        p = r.position(entry["position"], _join(place, "position"))
        if p in positions:
            raise r.fail(_join(place, "position"), f"position {p} is described twice")
        if ("x" in entry) != ("y" in entry):
            raise r.fail(place, "give both x and y, or neither")
        x = r.number(entry["x"], _join(place, "x")) if "x" in entry else None
        y = r.number(entry["y"], _join(place, "y")) if "y" in entry else None
        label = r.text(entry["name"], _join(place, "name")) if entry.get("name") is not None else None
        positions[p] = PositionInfo(label, x, y)

    roads: list[Road] = []
    items = r.list(top["roads"], "roads")
    if len(items) > MAX_ROADS:
        raise r.fail("roads", f"{len(items)} roads; the controller holds at most {MAX_ROADS}")
    for i, item in enumerate(items):
        place = _join("roads", i)
        entry = r.object(item, place, ("kind", "from", "to"), ())
        kind = entry["kind"]
        if kind not in [k.value for k in RoadKind]:
            raise r.fail(_join(place, "kind"), f"{_show(kind)} is not one of {_KINDS}")
        a = r.position(entry["from"], _join(place, "from"))
        b = r.position(entry["to"], _join(place, "to"))
        roads.append(Road(RoadKind(kind), a, b))

    vehicles = r.list(top["vehicles"], "vehicles")
    seen: dict[int, tuple[int, int]] = {}
    for i, item in enumerate(vehicles):
        place = _join("vehicles", i)
        entry = r.object(item, place, ("vehicle", "start", "goal"), ())
        v = entry["vehicle"]
        if isinstance(v, bool) or not isinstance(v, int) or v not in VEHICLES:
            raise r.fail(_join(place, "vehicle"), f"must be 1, 2 or 3, not {_show(v)}")
        if v in seen:
            raise r.fail(_join(place, "vehicle"), f"vehicle {v} is listed twice")
        start = r.position(entry["start"], _join(place, "start"))
        goal = r.position(entry["goal"], _join(place, "goal"))
        for other, (other_start, _) in seen.items():
            if other_start == start:
                raise r.fail(_join(place, "start"),
                             f"position {start} is already the start of vehicle {other}")
        seen[v] = (start, goal)
    missing = [v for v in VEHICLES if v not in seen]
    if missing:
        raise r.fail("vehicles", "must list vehicles 1, 2 and 3; missing " +
                     ", ".join(str(v) for v in missing))

    obstacles: list[tuple[int, int]] = []
    for i, item in enumerate(r.list(top.get("obstacles", []), "obstacles")):
        place = _join("obstacles", i)
        entry = r.object(item, place, ("from", "to"), ())
        a = r.position(entry["from"], _join(place, "from"))
        b = r.position(entry["to"], _join(place, "to"))
        if a == b:
            raise r.fail(place, f"an obstacle blocks the road between two different positions, not {a} and itself")
        obstacles.append((a, b))

    settings = r.object(top.get("settings", {}), "settings", (), ("timeout_ms", "memory_mb"))
    timeout = r.integer(settings["timeout_ms"], "settings.timeout_ms") if "timeout_ms" in settings else None
    memory = r.integer(settings["memory_mb"], "settings.memory_mb") if "memory_mb" in settings else None

    expect = None
    if top.get("expect") is not None:
        if not isinstance(top["expect"], dict):
            raise r.fail("expect", f"must be an object, not {_json_type(top['expect'])}")
        expect = top["expect"]
        for key, kind in _EXPECT.items():
            if key not in expect:
                continue
            value, place = expect[key], _join("expect", key)
            if kind == "boolean" and not isinstance(value, bool):
                raise r.fail(place, f"must be true or false, not {_show(value)}")
            if kind == "count" and value is not None:
                r.integer(value, place)
            if kind == "category" and value not in CATEGORIES:
                raise r.fail(place, f"{_show(value)} is not one of {', '.join(CATEGORIES)}")
            if kind == "text":
                r.text(value, place)
        expect = dict(expect)

    starts = tuple(seen[v][0] for v in VEHICLES)
    goals = tuple(seen[v][1] for v in VEHICLES)
    return Scenario(roads, starts, goals, obstacles, positions, name, description, timeout,  # type: ignore[arg-type]
                    memory, expect, tuple(seen), extra)


def loads_scenario(text: str, source: str = "scenario") -> Scenario:
    try:
        data = json.loads(text)
    except json.JSONDecodeError as error:
        raise ScenarioError(f"line {error.lineno}, column {error.colno}", f"not valid JSON: {error.msg}",
                            source) from None
    return parse_scenario(data, source)


def load_scenario(path: str | os.PathLike[str]) -> Scenario:
    source = str(path)
    try:
        text = Path(path).read_text(encoding="utf-8")
    except FileNotFoundError:
        raise ScenarioError("", "no such file", source) from None
    except UnicodeDecodeError as error:
        raise ScenarioError(f"byte {error.start}", "not UTF-8 text", source) from None
    except OSError as error:
        raise ScenarioError("", f"cannot be read ({error.strerror or error})", source) from None
    return loads_scenario(text, source)


# ----- writing ---------------------------------------------------------------------------------


def scenario_to_json(s: Scenario) -> dict:
    """The scenario as JSON data; `parse_scenario` reads it back to an equal scenario."""
    data: dict[str, Any] = {"format": FORMAT, "version": VERSION}
    if s.name is not None:
        data["name"] = s.name
    if s.description is not None:
        data["description"] = s.description
    if s.positions:
        items = []
        for p in sorted(s.positions):
            info = s.positions[p]
            item: dict[str, Any] = {"position": p}
            if info.name is not None:
                item["name"] = info.name
            if info.x is not None and info.y is not None:
                item["x"], item["y"] = _number(info.x), _number(info.y)
            items.append(item)
        data["positions"] = items
    data["roads"] = [{"kind": road.kind.value, "from": road.a, "to": road.b} for road in s.roads]
    data["vehicles"] = [{"vehicle": v, "start": s.starts[v - 1], "goal": s.goals[v - 1]} for v in s.order]
    if s.obstacles:
        data["obstacles"] = [{"from": a, "to": b} for a, b in s.obstacles]
    settings = {}
    if s.timeout_ms is not None:
        settings["timeout_ms"] = s.timeout_ms
    if s.memory_mb is not None:
        settings["memory_mb"] = s.memory_mb
    if settings:
        data["settings"] = settings
    if s.expect is not None:
        data["expect"] = dict(s.expect)
    data.update(s.extra)
    return data


def dumps_scenario(s: Scenario) -> str:
    return json.dumps(scenario_to_json(s), indent=2) + "\n"


def _number(value: float) -> int | float:
    return int(value) if float(value).is_integer() else value


def scenario_from_options(roads: Sequence[Road], starts: Sequence[int], goals: Sequence[int],
                          obstacles: Sequence[tuple[int, int]] = ()) -> Scenario:
    """A scenario from the pieces of a command line, checked as a file would be."""
    data = {
        "format": FORMAT, "version": VERSION,
        "roads": [{"kind": road.kind.value, "from": road.a, "to": road.b} for road in roads],
        "vehicles": [{"vehicle": v, "start": starts[v - 1], "goal": goals[v - 1]} for v in VEHICLES],
        "obstacles": [{"from": a, "to": b} for a, b in obstacles],
    }
    return parse_scenario(data, "options")


def command_lines(s: Scenario) -> list[str]:
    """The command stream that plans the scenario on a freshly started controller, up to and
    including MOVA_START_MISSION (the plan is then read with MOVA_GET_NUM_STEPS and
    VEHICLE_GET_STEP_POS)."""
    lines = ["ENVIRONMENT_CLEAN"]
    lines += [f"{road.command} {road.a} {road.b}" for road in s.roads]
    lines.append("ENVIRONMENT_BUILD")
    if s.timeout_ms is not None:
        lines.append(f"SETTINGS_SET_TIMEOUT {s.timeout_ms}")
    if s.memory_mb is not None:
        lines.append(f"SETTINGS_SET_MAX_RAM {s.memory_mb}")
    lines += [f"VEHICLE_SET_CURRENT_POS {v} {s.starts[v - 1]}" for v in VEHICLES]
    lines += [f"VEHICLE_SET_GOAL_POS {v} {s.goals[v - 1]}" for v in VEHICLES]
    lines += [f"OBSTACLES_ADD_OBSTACLE {a} {b}" for a, b in s.obstacles]
    lines.append("MOVA_START_MISSION")
    return lines


# ----- checking --------------------------------------------------------------------------------


@dataclass(frozen=True)
class Finding:
    """A problem of a scenario that reads correctly: the place in the file and the words."""

    place: str
    message: str

    def __str__(self) -> str:
        return f"{self.place}: {self.message}"

    def to_json(self) -> dict:
        return {"place": self.place, "message": self.message}


def check_scenario(s: Scenario) -> list[Finding]:
    """What is doubtful in a scenario that reads correctly: duplicate roads and obstacles,
    positions without roads, obstacles on no road, shared goals and goals that cannot be
    reached."""
    found: list[Finding] = []
    for key in s.extra:
        found.append(Finding(key, "unknown field, ignored"))
    if not any(road.a != road.b for road in s.roads):
        found.append(Finding("roads", "there are no roads between two positions: no vehicle can move"))
    # A second one-lane road between two positions lets vehicles pass there; a second one-way
    # road the same way, or any road beside a two-lane road, adds nothing.
    first: dict[tuple, int] = {}
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
    touched = {p for road in s.roads if road.a != road.b for p in (road.a, road.b)}
    for i, p in enumerate(s.positions):  # in the order of the file
        if p not in touched:
            found.append(Finding(f"positions[{i}]", f"position {s.label(p)} has no road"))
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
