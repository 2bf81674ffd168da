"""What the person edits in the workbench's page: where the 12 positions are drawn and what
they are called, the roads, the vehicles' starts and goals, the obstacles, the planner's
limits and the scenario's name. Nothing here talks to the controller; every change is checked
first and refused in words (`Refused`, or `Conflict` when it does not fit the state), and a
refused change changes nothing.
"""

from __future__ import annotations

from typing import Any, Mapping

from ..errors import Conflict, Refused
from ..geometry import HEIGHT, WIDTH, Point, fit, grid_layout
from ..limits import Limits
from ..protocol import MAX_POS, MAX_ROADS, VEHICLES
from ..roads import KIND_WORDS, Obstacle, Road, RoadKind
from ..scenario import PositionInfo, Scenario
from ..vehicles import Positions
from . import fields

MARGIN = 30  # how close to the picture's edge a position may be dragged
MAX_NAME = 40
MAX_TEXT = 2000
MAX_TIMEOUT_MS = 600_000  # the planning time limit the page may set
MAX_MEMORY_MB = 1 << 20  # the memory limit the page may set
DEFAULT_NAME = "workbench scenario"  # the name of a scenario saved before it was given one


class Design:
    """The network and the mission as the page shows them."""

    def __init__(self) -> None:
        self.coords: dict[int, Point] = dict(grid_layout())
        self.names: dict[int, str | None] = {p: None for p in range(MAX_POS)}
        self.roads: list[Road] = []
        self.starts: list[int | None] = [None] * len(VEHICLES)
        self.goals: list[int | None] = [None] * len(VEHICLES)
        self.obstacles: list[Obstacle] = []
        self.limits = Limits()
        self.scenario_name: str | None = None
        self.description: str | None = None

    # ----- positions and roads -------------------------------------------------------------

    def move_position(self, data: Mapping[str, Any]) -> None:
        """Moves a position in the picture and/or names it; every field is checked before any
        of them changes anything."""
        p = fields.position(fields.field(data, "position"), "position")
        coords = self.coords[p]
        if "x" in data or "y" in data:
            x = fields.number(fields.field(data, "x"), "x", MARGIN, WIDTH - MARGIN)
            y = fields.number(fields.field(data, "y"), "y", MARGIN, HEIGHT - MARGIN)
            coords = (round(x, 1), round(y, 1))
        name = self.names[p]
        if "name" in data:
            name = fields.text(data["name"], "the name of a position", MAX_NAME)
        self.coords[p], self.names[p] = coords, name

    def add_road(self, data: Mapping[str, Any]) -> str:
        kind = fields.road_kind(fields.field(data, "kind", "the kind of road"))
        a = fields.position(fields.field(data, "from", "the first position"), "the first position")
        b = fields.position(fields.field(data, "to", "the second position"), "the second position")
        if a == b:
            raise Refused(f"a road joins two different positions; both ends are {a}")
        self._check_beside(kind, a, b)
        if len(self.roads) >= MAX_ROADS:
            raise Refused(f"the controller holds at most {MAX_ROADS} roads; remove one before adding another")
        self.roads.append(Road(kind, a, b))
        one_way = kind is RoadKind.ONE_WAY
        return (f"Added a {KIND_WORDS[kind].noun} {'from' if one_way else 'between'} "
                f"{a} {'to' if one_way else 'and'} {b} ({len(self.roads)} of {MAX_ROADS} roads).")

    def _check_beside(self, kind: RoadKind, a: int, b: int) -> None:
        """Roads may run side by side (a second one-lane road lets vehicles pass each other), but
        the same one-way road twice, or anything beside a two-lane road, adds nothing."""
        for road in self.roads:
            if not road.joins(a, b):
                continue
            same_way = road.kind is RoadKind.ONE_WAY and kind is RoadKind.ONE_WAY and (road.a, road.b) == (a, b)
            if same_way or RoadKind.TWO_LANES in (road.kind, kind):
                raise Refused(f"positions {a} and {b} are already joined by a {KIND_WORDS[road.kind].noun}"
                              + (f" from {road.a} to {road.b}" if road.kind is RoadKind.ONE_WAY else "")
                              + f"; a {KIND_WORDS[kind].noun} beside it adds nothing")

    def remove_road(self, data: Mapping[str, Any]) -> str:
        """Removes a road; its obstacle goes with it unless another road joins the same ends."""
        if not self.roads:
            raise Refused("there is no road to remove")
        index = fields.whole(fields.field(data, "index", "the road's number"), "the road's number", 0,
                             len(self.roads) - 1)
        road = self.roads.pop(index)
        if not any(r.joins(road.a, road.b) for r in self.roads):
            self.obstacles = [o for o in self.obstacles if not road.joins(*o)]
        return f"Removed the {KIND_WORDS[road.kind].noun} between {road.a} and {road.b}."

    def clear_roads(self) -> None:
        self.roads.clear()
        self.obstacles.clear()

    # ----- the mission ---------------------------------------------------------------------

    def set_vehicles(self, data: Mapping[str, Any]) -> bool:
        """Sets the starts and goals (a position or null each); True when they changed."""
        starts = fields.vehicle_list(fields.field(data, "starts", "the starts"), "start")
        goals = fields.vehicle_list(fields.field(data, "goals", "the goals"), "goal")
        changed = starts != self.starts or goals != self.goals
        self.starts, self.goals = starts, goals
        return changed

    def placed(self) -> tuple[Positions, Positions]:
        """The starts and goals of a mission that can be planned; Conflict naming what is missing."""
        missing = [f"the start of vehicle {v}" for v in VEHICLES if self.starts[v - 1] is None]
        missing += [f"the goal of vehicle {v}" for v in VEHICLES if self.goals[v - 1] is None]
        if missing:
            raise Conflict("place " + ", ".join(missing) + " first")
        starts = [p for p in self.starts if p is not None]
        goals = [p for p in self.goals if p is not None]
        for v in VEHICLES:
            for w in VEHICLES:
                if v < w and goals[v - 1] == goals[w - 1]:
                    raise Conflict(f"vehicles {v} and {w} share the goal {goals[v - 1]}: the controller "
                                   "refuses a goal on a position another goal holds (\"Goal position not "
                                   "empty\"), so no plan can bring both there; give each vehicle its own goal")
        return (starts[0], starts[1], starts[2]), (goals[0], goals[1], goals[2])

    def new_obstacle(self, data: Mapping[str, Any]) -> Obstacle:
        """The road a request blocks: one that a road joins and that is not blocked yet."""
        a = fields.position(fields.field(data, "from", "the first end"), "the first end")
        b = fields.position(fields.field(data, "to", "the second end"), "the second end")
        if not any(r.joins(a, b) for r in self.roads):
            raise Refused(f"no road joins {a} and {b}")
        if any({a, b} == set(o) for o in self.obstacles):
            raise Refused(f"the road between {a} and {b} is already blocked")
        return (a, b)

    def position_names(self) -> dict[int, str]:
        return {p: name for p, name in self.names.items() if name}

    # ----- scenario files ------------------------------------------------------------------

    def rename(self, data: Mapping[str, Any]) -> str | None:
        """Names the scenario (and describes it, when the request says how); the new name."""
        name = fields.text(fields.field(data, "name", "the scenario's name"), "the scenario's name", MAX_TEXT)
        description = self.description
        if "description" in data:
            description = fields.text(data["description"], "the description", MAX_TEXT)
        self.scenario_name, self.description = name, description
        return name

    def scenario(self) -> Scenario:
        """The design as a scenario, to be saved; every vehicle must be placed. It lists the
        positions a road, a vehicle or a name uses (where they are drawn), and has a name."""
        starts, goals = self.starts, self.goals
        if None in starts or None in goals:
            raise Conflict("place the start and goal of every vehicle before saving a scenario")
        placed = [p for p in [*starts, *goals] if p is not None]
        used = {p for road in self.roads for p in (road.a, road.b)} | set(placed)
        used |= {p for p, name in self.names.items() if name}
        positions = {p: PositionInfo(self.names[p], self.coords[p][0], self.coords[p][1]) for p in sorted(used)}
        return Scenario(roads=list(self.roads), starts=(placed[0], placed[1], placed[2]),
                        goals=(placed[3], placed[4], placed[5]), obstacles=list(self.obstacles),
                        positions=positions, name=self.scenario_name or DEFAULT_NAME, description=self.description,
                        timeout_ms=self.limits.timeout_ms, memory_mb=self.limits.memory_mb, expect=None)

    def load(self, scenario: Scenario) -> bool:
        """Takes over a scenario read from a file (all checked before anything changes, its
        planning limits too, which the caller then sends); True when its coordinates had to be
        scaled into the picture."""
        limits_of({"timeout_ms": scenario.timeout_ms, "memory_mb": scenario.memory_mb})
        if len(scenario.roads) > MAX_ROADS:
            raise Refused(f"the scenario file has {len(scenario.roads)} roads; the controller holds at most {MAX_ROADS}")
        for a, b in scenario.obstacles:
            if not any(r.joins(a, b) for r in scenario.roads):
                raise Refused(f"the scenario file blocks the road between {a} and {b}, but no road joins them")
        coords, scaled = _fit(scenario.positions)
        names = {p: _name(scenario.positions.get(p), p) for p in range(MAX_POS)}
        name = fields.text(scenario.name, "the scenario's name", MAX_TEXT)
        description = fields.text(scenario.description, "the description", MAX_TEXT)
        self.names, self.coords = names, coords
        self.roads = list(scenario.roads)
        self.starts, self.goals = list(scenario.starts), list(scenario.goals)
        self.obstacles = list(scenario.obstacles)
        self.scenario_name, self.description = name, description
        return scaled


def limits_of(data: Mapping[str, Any]) -> tuple[int | None, int | None]:
    """The planning time limit and memory limit of a request (null or absent: unchanged),
    within what the page may set."""
    timeout, memory = data.get("timeout_ms"), data.get("memory_mb")
    if timeout is not None:
        timeout = fields.whole(timeout, "the planning time limit (ms)", 0, MAX_TIMEOUT_MS)
    if memory is not None:
        memory = fields.whole(memory, "the memory limit (MB)", 0, MAX_MEMORY_MB)
    return timeout, memory


def _name(info: PositionInfo | None, p: int) -> str | None:
    return fields.text(info.name, f"the name of position {p}", MAX_NAME) if info is not None else None


def _fit(positions: Mapping[int, PositionInfo]) -> tuple[dict[int, Point], bool]:
    """The scenario's coordinates, scaled into the picture when some lie outside it."""
    coords = dict(grid_layout())
    given = {p: (info.x, info.y) for p, info in positions.items() if info.x is not None and info.y is not None}
    keep = (MARGIN, MARGIN, WIDTH - MARGIN, HEIGHT - MARGIN)
    into = (2 * MARGIN, 2 * MARGIN, WIDTH - 2 * MARGIN, HEIGHT - 2 * MARGIN)
    fitted, scaled = fit(given, keep, into)
    coords.update({p: (round(x, 1), round(y, 1)) if scaled else (x, y) for p, (x, y) in fitted.items()})
    return coords, scaled
