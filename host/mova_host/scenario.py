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

The file is read by the strict JSON reader (`checks.read_json`: at most 1 MiB, nesting, number
literals, NaN and lone surrogates bounded or refused); its values are bounded as well:
coordinates within 1,000,000 either way from 0, names of at most 200 characters, the
description at most 10,000, at most 66 obstacles (one per pair of positions).
"""

from __future__ import annotations

import json
import os
import re
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Sequence

from . import checks
from .errors import InputError, JsonError, Problem, ScenarioError
from .limits import Limits
from .protocol import INT32_MAX, MAX_POS, MAX_ROADS, VEHICLES
from .roads import KIND_VALUES, Obstacle, Road, RoadKind
from .vehicles import Positions

__all__ = ["CATEGORIES", "FORMAT", "VERSION", "PositionInfo", "Scenario", "ScenarioError", "command_lines",
           "dumps_scenario", "load_scenario", "loads_scenario", "parse_scenario", "scenario_from_options",
           "scenario_to_json"]

FORMAT = "mova-scenario"
VERSION = 1
CATEGORIES = ("plan", "missed", "unreachable", "obstacles", "blocked")
_KINDS = ", ".join(KIND_VALUES)
MAX_NAME_LENGTH = 200  # the scenario's name and the names of positions
MAX_TEXT_LENGTH = 10_000  # the description, and the expected reason
MAX_OBSTACLES = MAX_POS * (MAX_POS - 1) // 2  # one for each pair of positions
_PLAIN_KEY = re.compile(r"[A-Za-z0-9_-]{1,40}")


@dataclass(frozen=True)
class PositionInfo:
    """What a scenario says of a position: a name, and picture coordinates (both or neither)."""

    name: str | None = None
    x: float | None = None
    y: float | None = None


@dataclass
class Scenario:
    """A mission as a scenario file holds it: the roads, the starts and goals of vehicles 1, 2
    and 3, obstacles known beforehand, the positions' names and coordinates, a name and a
    description, the planner's limits (None: the controller's default) and the expected outcome
    (`expect`, the tests' own). Read one with `load_scenario`, write one with `dumps_scenario`."""

    roads: list[Road]
    starts: Positions
    goals: Positions
    obstacles: list[Obstacle] = field(default_factory=list)
    positions: dict[int, PositionInfo] = field(default_factory=dict)
    name: str | None = None
    description: str | None = None
    timeout_ms: int | None = None
    memory_mb: int | None = None
    expect: dict[str, Any] | None = None
    # The order in which the file lists the vehicles (for messages that name its places).
    order: tuple[int, ...] = field(default=VEHICLES, compare=False)
    # Top-level fields the format does not know, kept as they were.
    extra: dict[str, Any] = field(default_factory=dict)

    @property
    def limits(self) -> Limits:
        """The planner's time and memory limits (None where the scenario sets none)."""
        return Limits(self.timeout_ms, self.memory_mb)

    def names(self) -> dict[int, str]:
        """The names of the positions that have one."""
        return {p: info.name for p, info in self.positions.items() if info.name}

    def vehicle_place(self, v: int) -> str:
        """"vehicles[i]": where vehicle v stands in the file."""
        return f"vehicles[{self.order.index(v)}]"

    def coordinates(self) -> dict[int, tuple[float, float]] | None:
        """Picture coordinates of the positions, when every position the mission uses has them."""
        given: dict[int, tuple[float, float]] = {}
        for p, info in self.positions.items():
            if info.x is not None and info.y is not None:
                given[p] = (info.x, info.y)
        if not given or not self.used_positions() <= set(given):
            return None
        return given

    def used_positions(self) -> set[int]:
        """The positions the roads, the starts and the goals use."""
        used = {p for road in self.roads for p in (road.a, road.b)}
        return used | set(self.starts) | set(self.goals)

    def label(self, position: int) -> str:
        """"5" or "5 (dock A)"."""
        info = self.positions.get(position)
        return f"{position} ({info.name})" if info and info.name else str(position)


# ----- reading ---------------------------------------------------------------------------------


def _join(place: str, key: str | int) -> str:
    if isinstance(key, int):
        return f"{place}[{key}]"
    if not _PLAIN_KEY.fullmatch(key):
        key = checks.shown(key)  # quoted and cut: a key may hold anything
    return f"{place}.{key}" if place else key


_TOP = ("format", "version", "roads", "vehicles")
_TOP_OPTIONAL = ("name", "description", "positions", "obstacles", "settings", "expect")
_EXPECT = {"answer": "boolean", "plan_exists": "boolean", "steps": "count", "moves": "count",
           "optimal_steps": "count", "optimal_moves": "count", "category": "category",
           "reason": "text"}


class _Reader:
    """Reads the parts of a scenario document; every error names its place in the file."""

    def __init__(self, source: str):
        self.source = source

    def fail(self, place: str, problem: str) -> ScenarioError:
        return ScenarioError(place, problem, self.source)

    def fields_of(self, value: Any, place: str, required: Sequence[str], optional: Sequence[str]) -> dict[str, Any]:
        if not isinstance(value, dict):
            raise self.fail(place, f"must be an object, not {checks.json_type(value)}")
        for key in value:
            if key not in required and key not in optional:
                known = ", ".join([*required, *optional])
                raise self.fail(_join(place, key), f"unknown field (known: {known})")
        for key in required:
            if key not in value:
                raise self.fail(place, f'the field "{key}" is missing')
        return value

    def items_of(self, value: Any, place: str) -> list[Any]:
        if not isinstance(value, list):
            raise self.fail(place, f"must be a list, not {checks.json_type(value)}")
        return value

    def integer(self, value: Any, place: str, low: int = 0, high: int = INT32_MAX) -> int:
        try:
            return checks.whole(value, low, high)
        except InputError as error:
            if error.problem is Problem.TYPE:
                raise self.fail(place, f"must be a whole number, not {checks.shown(value)}") from None
            raise self.fail(place, f"{checks.shown(value)} is outside {low} to {high}") from None

    def position(self, value: Any, place: str) -> int:
        try:
            return checks.position(value)
        except InputError as error:
            if error.problem is Problem.RANGE:
                raise self.fail(place, f"position {checks.shown(value)} is outside 0 to {MAX_POS - 1}") from None
            raise self.fail(place, f"must be a whole number, not {checks.shown(value)}") from None

    def text(self, value: Any, place: str, limit: int = MAX_TEXT_LENGTH) -> str:
        try:
            return checks.text(value, limit)
        except InputError as error:
            if error.problem is Problem.LENGTH:
                raise self.fail(place, f"a text of {len(value):,} characters; at most {limit:,}") from None
            raise self.fail(place, f"must be a text, not {checks.shown(value)}") from None

    def optional_text(self, data: dict[str, Any], key: str, place: str, limit: int = MAX_TEXT_LENGTH) -> str | None:
        return self.text(data[key], place, limit) if data.get(key) is not None else None

    def flag(self, value: Any, place: str) -> bool:
        try:
            return checks.flag(value)
        except InputError:
            raise self.fail(place, f"must be true or false, not {checks.shown(value)}") from None

    def coordinate(self, value: Any, place: str) -> float:
        try:
            return checks.coordinate(value)
        except InputError as error:
            if error.problem is Problem.RANGE:
                raise self.fail(place, f"{checks.shown(value)} is outside -{checks.COORDINATE_LIMIT:,.0f} to "
                                f"{checks.COORDINATE_LIMIT:,.0f}") from None
            raise self.fail(place, f"must be a number, not {checks.shown(value)}") from None

    def plain(self, value: Any, place: str) -> Any:
        """A value kept as it is (unknown fields, the tests' own expectations): plain JSON."""
        try:
            return checks.json_value(value)
        except InputError as error:
            raise self.fail(place, f"holds {checks.shown(error.value)}, which is not plain JSON") from None

    # ----- the parts of a scenario -----------------------------------------------------------

    def top(self, data: object) -> tuple[dict[str, Any], dict[str, Any]]:
        """The known top-level fields (format and version checked) and the unknown ones."""
        if not isinstance(data, dict):
            raise self.fail("", f"must be an object, not {checks.json_type(data)}")
        extra = {k: v for k, v in data.items() if k not in _TOP and k not in _TOP_OPTIONAL}
        top = self.fields_of({k: v for k, v in data.items() if k not in extra}, "", _TOP, _TOP_OPTIONAL)
        if top["format"] != FORMAT:
            raise self.fail("format", f'must be "{FORMAT}", not {checks.shown(top["format"])}')
        version = self.integer(top["version"], "version", 1)
        if version > VERSION:
            raise self.fail("version", f"version {version} is newer than this program reads ({VERSION})")
        return top, extra

    def positions(self, items: Any) -> dict[int, PositionInfo]:
        positions: dict[int, PositionInfo] = {}
        for i, item in enumerate(self.items_of(items, "positions")):
            place = _join("positions", i)
            entry = self.fields_of(item, place, ("position",), ("name", "x", "y"))
            p = self.position(entry["position"], _join(place, "position"))
            if p in positions:
                raise self.fail(_join(place, "position"), f"position {p} is described twice")
            if ("x" in entry) != ("y" in entry):
                raise self.fail(place, "give both x and y, or neither")
            x = self.coordinate(entry["x"], _join(place, "x")) if "x" in entry else None
            y = self.coordinate(entry["y"], _join(place, "y")) if "y" in entry else None
            name = self.optional_text(entry, "name", _join(place, "name"), MAX_NAME_LENGTH)
            positions[p] = PositionInfo(name, x, y)
        return positions

    def roads(self, value: Any) -> list[Road]:
        items = self.items_of(value, "roads")
        if len(items) > MAX_ROADS:
            raise self.fail("roads", f"{len(items)} roads; the controller holds at most {MAX_ROADS}")
        roads = []
        for i, item in enumerate(items):
            place = _join("roads", i)
            entry = self.fields_of(item, place, ("kind", "from", "to"), ())
            try:
                kind = checks.choice(entry["kind"], KIND_VALUES)
            except InputError:
                raise self.fail(_join(place, "kind"), f"{checks.shown(entry['kind'])} is not one of {_KINDS}") from None
            a = self.position(entry["from"], _join(place, "from"))
            b = self.position(entry["to"], _join(place, "to"))
            roads.append(Road(RoadKind(kind), a, b))
        return roads

    def vehicles(self, value: Any) -> dict[int, tuple[int, int]]:
        """Start and goal of each vehicle, in the order of the file."""
        seen: dict[int, tuple[int, int]] = {}
        for i, item in enumerate(self.items_of(value, "vehicles")):
            place = _join("vehicles", i)
            entry = self.fields_of(item, place, ("vehicle", "start", "goal"), ())
            try:
                v = checks.whole(entry["vehicle"], VEHICLES[0], VEHICLES[-1])
            except InputError:
                raise self.fail(_join(place, "vehicle"), f"must be 1, 2 or 3, not {checks.shown(entry['vehicle'])}") from None
            if v in seen:
                raise self.fail(_join(place, "vehicle"), f"vehicle {v} is listed twice")
            start = self.position(entry["start"], _join(place, "start"))
            goal = self.position(entry["goal"], _join(place, "goal"))
            for other, (other_start, _) in seen.items():
                if other_start == start:
                    raise self.fail(_join(place, "start"), f"position {start} is already the start of vehicle {other}")
            seen[v] = (start, goal)
        missing = [v for v in VEHICLES if v not in seen]
        if missing:
            raise self.fail("vehicles", "must list vehicles 1, 2 and 3; missing " + ", ".join(str(v) for v in missing))
        return seen

    def obstacles(self, value: Any) -> list[Obstacle]:
        obstacles: list[Obstacle] = []
        items = self.items_of(value, "obstacles")
        if len(items) > MAX_OBSTACLES:
            raise self.fail("obstacles", f"{len(items)} obstacles; 12 positions make at most {MAX_OBSTACLES} "
                            "pairs to block")
        for i, item in enumerate(items):
            place = _join("obstacles", i)
            entry = self.fields_of(item, place, ("from", "to"), ())
            a = self.position(entry["from"], _join(place, "from"))
            b = self.position(entry["to"], _join(place, "to"))
            if a == b:
                raise self.fail(place, f"an obstacle blocks the road between two different positions, not {a} and itself")
            obstacles.append((a, b))
        return obstacles

    def settings(self, value: Any) -> Limits:
        settings = self.fields_of(value, "settings", (), ("timeout_ms", "memory_mb"))
        timeout = self.integer(settings["timeout_ms"], "settings.timeout_ms") if "timeout_ms" in settings else None
        memory = self.integer(settings["memory_mb"], "settings.memory_mb") if "memory_mb" in settings else None
        return Limits(timeout, memory)

    def expect(self, value: Any) -> dict[str, Any] | None:
        if value is None:
            return None
        if not isinstance(value, dict):
            raise self.fail("expect", f"must be an object, not {checks.json_type(value)}")
        for key, kind in _EXPECT.items():
            if key not in value:
                continue
            item, place = value[key], _join("expect", key)
            if kind == "boolean":
                self.flag(item, place)
            if kind == "count" and item is not None:
                self.integer(item, place)
            if kind == "category" and item not in CATEGORIES:
                raise self.fail(place, f"{checks.shown(item)} is not one of {', '.join(CATEGORIES)}")
            if kind == "text":
                self.text(item, place)
        return {key: self.plain(item, _join("expect", key)) for key, item in value.items()}


def parse_scenario(data: object, source: str = "scenario") -> Scenario:
    """The scenario held by decoded JSON data; raises ScenarioError naming the place.

    Fields the format does not know are kept aside at the top level (and in `expect`, which is
    the tests' own), refused everywhere else."""
    r = _Reader(source)
    top, extra = r.top(data)
    extra = {key: r.plain(value, _join("", key)) for key, value in extra.items()}
    name = r.optional_text(top, "name", "name", MAX_NAME_LENGTH)
    description = r.optional_text(top, "description", "description")
    positions = r.positions(top.get("positions", []))
    roads = r.roads(top["roads"])
    seen = r.vehicles(top["vehicles"])
    obstacles = r.obstacles(top.get("obstacles", []))
    limits = r.settings(top.get("settings", {}))
    expect = r.expect(top.get("expect"))
    starts = (seen[1][0], seen[2][0], seen[3][0])
    goals = (seen[1][1], seen[2][1], seen[3][1])
    return Scenario(roads, starts, goals, obstacles, positions, name, description, limits.timeout_ms,
                    limits.memory_mb, expect, tuple(seen), extra)


def loads_scenario(text: str | bytes, source: str = "scenario") -> Scenario:
    """The scenario in a JSON text, read strictly (at most 1 MiB, `checks.read_json`);
    ScenarioError naming `source` and the place (a line and column when the text is not JSON or
    holds what the reader refuses)."""
    try:
        data = checks.read_json(text, checks.MAX_FILE_BYTES)
    except JsonError as error:
        raise ScenarioError(error.place, error.problem, source) from None
    return parse_scenario(data, source)


def load_scenario(path: str | os.PathLike[str]) -> Scenario:
    """The scenario in a file, read strictly (at most 1 MiB); ScenarioError naming the file and
    the place (also for a file that cannot be read). A command stream is read with `load_stream`
    or `load_mission`."""
    try:
        data = checks.load_json_file(path)
    except JsonError as error:
        raise ScenarioError(error.place, error.problem, str(path)) from None
    return parse_scenario(data, str(path))


def read_scenario_text(path: str | os.PathLike[str]) -> str:
    """The text of a command stream (or a scenario file); ScenarioError when it cannot be read."""
    source = str(path)
    try:
        return checks.read_file_bytes(path, checks.MAX_STREAM_BYTES).decode("utf-8")
    except JsonError as error:
        raise ScenarioError(error.place, error.problem, source) from None
    except UnicodeDecodeError as error:
        raise ScenarioError(f"byte {error.start}", "not UTF-8 text", source) from None


# ----- writing ---------------------------------------------------------------------------------


def scenario_to_json(s: Scenario) -> dict[str, Any]:
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
    settings: dict[str, int] = {}
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
    """The scenario as the text of a scenario file (indented, strict JSON)."""
    return json.dumps(scenario_to_json(s), indent=2, allow_nan=False) + "\n"


def _number(value: float) -> int | float:
    return int(value) if float(value).is_integer() else value


def scenario_from_options(roads: Sequence[Road], starts: Sequence[int], goals: Sequence[int],
                          obstacles: Sequence[Obstacle] = ()) -> Scenario:
    """A scenario from the pieces of a command line, checked as a file would be."""
    data = {
        "format": FORMAT, "version": VERSION,
        "roads": [{"kind": road.kind.value, "from": road.a, "to": road.b} for road in roads],
        "vehicles": [{"vehicle": v, "start": starts[v - 1], "goal": goals[v - 1]} for v in VEHICLES],
        "obstacles": [{"from": a, "to": b} for a, b in obstacles],
    }
    return parse_scenario(data, "options")


def network_lines(s: Scenario) -> list[str]:
    """The lines that send the scenario's roads and build the environment."""
    return ["ENVIRONMENT_CLEAN", *(road.line for road in s.roads), "ENVIRONMENT_BUILD"]


def start_lines(s: Scenario) -> list[str]:
    return [f"VEHICLE_SET_CURRENT_POS {v} {s.starts[v - 1]}" for v in VEHICLES]


def obstacle_lines(s: Scenario) -> list[str]:
    return [f"OBSTACLES_ADD_OBSTACLE {a} {b}" for a, b in s.obstacles]


def command_lines(s: Scenario) -> list[str]:
    """The command stream that plans the scenario on a freshly started controller, up to and
    including MOVA_START_MISSION (the plan is then read with MOVA_GET_NUM_STEPS and
    VEHICLE_GET_STEP_POS)."""
    lines = network_lines(s)
    if s.timeout_ms is not None:
        lines.append(f"SETTINGS_SET_TIMEOUT {s.timeout_ms}")
    if s.memory_mb is not None:
        lines.append(f"SETTINGS_SET_MAX_RAM {s.memory_mb}")
    lines += start_lines(s)
    lines += [f"VEHICLE_SET_GOAL_POS {v} {s.goals[v - 1]}" for v in VEHICLES]
    lines += obstacle_lines(s)
    lines.append("MOVA_START_MISSION")
    return lines
