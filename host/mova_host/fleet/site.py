"""Site files: where the positions of a zone lie on the floor and which vehicles drive there.

    {
      "format": "mova-site", "version": 1,
      "interface": "uagv", "map": "hall-1",
      "positions": [{"position": 0, "node": "p0", "x": 0.0, "y": 0.0}, ...],
      "vehicles": [{"vehicle": 1, "manufacturer": "Acme", "serial": "AGV-1"}, ...]
    }

Each position of the zone is a node of the vehicles' map with its world coordinates in metres;
each of the vehicles 1, 2 and 3 is named by its manufacturer and serial number, which make its
topics `{interface}/v2/{manufacturer}/{serial}/...`. Every error names its place in the file.

The file is read by the host's strict JSON reader (at most 1 MiB; nesting, number literals, NaN
and lone surrogates bounded or refused); coordinates lie within 1,000,000 m either way from 0,
names have at most 200 characters.
"""

from __future__ import annotations

import math
import os
import re
from dataclasses import dataclass
from typing import Any, Sequence

from .core import MAX_POS, VEHICLES, InputError, JsonError, Problem, Scenario, checks

FORMAT = "mova-site"
VERSION = 1
# Characters a serial number may hold (the interface's topic rules); the other topic levels
# must not hold the topic separators and wildcards.
_SERIAL = re.compile(r"[A-Za-z0-9_.:\-]+")
_TOPIC_FORBIDDEN = set("/#+$")
_PLAIN_KEY = re.compile(r"[A-Za-z0-9_-]{1,40}")
MAX_NAME_LENGTH = 200  # the interface, the map, nodes, manufacturers and serial numbers


class SiteError(ValueError):
    """A site file that cannot be used; the message names the file and the place in it."""

    def __init__(self, place: str, problem: str, source: str = "site"):
        self.place, self.problem, self.source = place, problem, source
        where = f"{place}: " if place else ""
        super().__init__(f"{source}: {where}{problem}")


@dataclass(frozen=True)
class Node:
    position: int
    node: str
    x: float
    y: float


@dataclass(frozen=True)
class VehicleId:
    vehicle: int
    manufacturer: str
    serial: str


@dataclass(frozen=True)
class Site:
    interface: str
    map_id: str
    nodes: dict[int, Node]
    vehicles: dict[int, VehicleId]

    def node_of(self, position: int) -> Node:
        return self.nodes[position]

    def position_of(self, node_id: str) -> int | None:
        for node in self.nodes.values():
            if node.node == node_id:
                return node.position
        return None

    def distance(self, a: int, b: int) -> float:
        first, second = self.nodes[a], self.nodes[b]
        return math.hypot(second.x - first.x, second.y - first.y)

    def topic(self, vehicle: int, subtopic: str) -> str:
        v = self.vehicles[vehicle]
        return f"{self.interface}/v2/{v.manufacturer}/{v.serial}/{subtopic}"

    def vehicle_of_topic(self, topic: str) -> tuple[int, str] | None:
        """(vehicle, subtopic) of one of the zone's vehicle topics, None for any other topic."""
        for v in self.vehicles:
            prefix = self.topic(v, "")
            if topic.startswith(prefix) and "/" not in topic[len(prefix):]:
                return v, topic[len(prefix):]
        return None


class _Reader:
    def __init__(self, source: str):
        self.source = source

    def fail(self, place: str, problem: str) -> SiteError:
        return SiteError(place, problem, self.source)

    def object(self, value: Any, place: str, keys: Sequence[str]) -> dict[str, Any]:
        if not isinstance(value, dict):
            raise self.fail(place, f"must be an object, not {_kind(value)}")
        for key in value:
            if key not in keys:
                raise self.fail(_join(place, key), f"unknown field (known: {', '.join(keys)})")
        for key in keys:
            if key not in value:
                raise self.fail(place, f'the field "{key}" is missing')
        return value

    def list(self, value: Any, place: str) -> list[Any]:
        if not isinstance(value, list):
            raise self.fail(place, f"must be a list, not {_kind(value)}")
        return value

    def name(self, value: Any, place: str, pattern: re.Pattern[str] | None = None) -> str:
        if not isinstance(value, str) or not value:
            raise self.fail(place, f"must be a non-empty text, not {_kind(value)}")
        if len(value) > MAX_NAME_LENGTH:
            raise self.fail(place, f"a text of {len(value):,} characters; at most {MAX_NAME_LENGTH}")
        if pattern is not None and not pattern.fullmatch(value):
            raise self.fail(place, f"{_kind(value)} may hold only the letters A-Z and a-z, digits, "
                            "and _ . : -")
        if _TOPIC_FORBIDDEN & set(value):
            raise self.fail(place, f"{_kind(value)} must not hold / # + or $ (it becomes part of "
                            "a topic)")
        return value

    def coordinate(self, value: Any, place: str) -> float:
        try:
            return checks.coordinate(value)
        except InputError as error:
            if error.problem is Problem.RANGE:
                limit = f"{checks.COORDINATE_LIMIT:,.0f}"
                raise self.fail(place, f"{_kind(value)} is outside -{limit} to {limit} (metres)") from None
            raise self.fail(place, f"must be a number, not {_kind(value)}") from None

    def whole(self, value: Any, place: str, low: int, high: int) -> int:
        try:
            return checks.whole(value, low, high)
        except InputError as error:
            if error.problem is Problem.RANGE:
                raise self.fail(place, f"{_kind(value)} is outside {low} to {high}") from None
            raise self.fail(place, f"must be a whole number, not {_kind(value)}") from None


def _kind(value: Any) -> str:
    return checks.shown(value)


def _join(place: str, key: str | int) -> str:
    if isinstance(key, int):
        return f"{place}[{key}]"
    if not _PLAIN_KEY.fullmatch(key):
        key = _kind(key)  # quoted and cut: a key may hold anything
    return f"{place}.{key}" if place else key


def _nodes(r: _Reader, items: list[Any]) -> dict[int, Node]:
    nodes: dict[int, Node] = {}
    seen: dict[str, int] = {}
    for i, item in enumerate(items):
        place = _join("positions", i)
        entry = r.object(item, place, ("position", "node", "x", "y"))
        p = r.whole(entry["position"], _join(place, "position"), 0, MAX_POS - 1)
        if p in nodes:
            raise r.fail(_join(place, "position"), f"position {p} is given twice")
        node = r.name(entry["node"], _join(place, "node"))
        if node in seen:
            raise r.fail(_join(place, "node"), f'node "{node}" is already position {seen[node]}')
        seen[node] = p
        x, y = r.coordinate(entry["x"], _join(place, "x")), r.coordinate(entry["y"], _join(place, "y"))
        nodes[p] = Node(p, node, x, y)
    return nodes


def _vehicles(r: _Reader, items: list[Any]) -> dict[int, VehicleId]:
    vehicles: dict[int, VehicleId] = {}
    for i, item in enumerate(items):
        place = _join("vehicles", i)
        entry = r.object(item, place, ("vehicle", "manufacturer", "serial"))
        v = entry["vehicle"]
        if isinstance(v, bool) or v not in VEHICLES:
            raise r.fail(_join(place, "vehicle"), f"must be 1, 2 or 3, not {_kind(v)}")
        if v in vehicles:
            raise r.fail(_join(place, "vehicle"), f"vehicle {v} is listed twice")
        ident = VehicleId(v, r.name(entry["manufacturer"], _join(place, "manufacturer")),
                          r.name(entry["serial"], _join(place, "serial"), _SERIAL))
        for other in vehicles.values():
            if (other.manufacturer, other.serial) == (ident.manufacturer, ident.serial):
                raise r.fail(_join(place, "serial"), f"{ident.manufacturer} {ident.serial} is already "
                             f"vehicle {other.vehicle}")
        vehicles[v] = ident
    missing = [str(v) for v in VEHICLES if v not in vehicles]
    if missing:
        raise r.fail("vehicles", "must list vehicles 1, 2 and 3; missing " + ", ".join(missing))
    return vehicles


def parse_site(data: object, source: str = "site") -> Site:
    """The site held by decoded JSON data; raises SiteError naming the place."""
    r = _Reader(source)
    top = r.object(data, "", ("format", "version", "interface", "map", "positions", "vehicles"))
    if top["format"] != FORMAT:
        raise r.fail("format", f'must be "{FORMAT}", not {_kind(top["format"])}')
    version = r.whole(top["version"], "version", 1, 2**31 - 1)
    if version > VERSION:
        raise r.fail("version", f"version {version} is newer than this program reads ({VERSION})")
    interface = r.name(top["interface"], "interface")
    map_id = r.name(top["map"], "map")
    nodes = _nodes(r, r.list(top["positions"], "positions"))
    return Site(interface, map_id, nodes, _vehicles(r, r.list(top["vehicles"], "vehicles")))


def loads_site(text: str | bytes, source: str = "site") -> Site:
    """The site of a JSON text, read strictly (at most 1 MiB)."""
    try:
        data = checks.read_json(text, checks.MAX_FILE_BYTES)
    except JsonError as error:
        raise SiteError(error.place, error.problem, source) from None
    return parse_site(data, source)


def load_site(path: str | os.PathLike[str]) -> Site:
    """The site of a file, read strictly (at most 1 MiB)."""
    try:
        data = checks.load_json_file(path)
    except JsonError as error:
        raise SiteError(error.place, error.problem, str(path)) from None
    return parse_site(data, str(path))


def check_fit(site: Site, scenario: Scenario, source: str = "site") -> None:
    """Raises SiteError when the scenario uses a position the site does not place."""
    uses: list[tuple[int, str]] = []
    for i, road in enumerate(scenario.roads):
        uses += [(road.a, f"roads[{i}]"), (road.b, f"roads[{i}]")]
    for v in VEHICLES:
        place = scenario.vehicle_place(v)
        uses += [(scenario.starts[v - 1], f"{place}.start"), (scenario.goals[v - 1], f"{place}.goal")]
    for p, where in uses:
        if p not in site.nodes:
            raise SiteError("positions", f"position {p} (used by the scenario's {where}) has no node", source)
