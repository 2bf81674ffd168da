"""A mission on top of the client: roads, build, vehicles and goals, plan, moves, obstacles.

The plan is read with the step queries. A step query answers 0 both for position 0 and for a
vehicle missing from the plan; the mission knows all three vehicles are placed, so every step
of a plan holds all three, and it checks each plan it reads (start, goal, roads, no two vehicles
on one position) before handing it out.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from enum import Enum
from typing import Iterable, Sequence

from .client import MovaClient
from .protocol import MAX_POS, MAX_ROADS, VEHICLES

Positions = tuple[int, int, int]  # positions of vehicles 1, 2 and 3


class MissionError(Exception):
    """The mission cannot go on as asked, or the controller's plan does not hold together."""


class PlanCheckError(MissionError):
    """The controller's plan does not hold together: it breaks the step rules, or does not
    run from where the vehicles stand to their goals."""


class RoadKind(Enum):
    ONE_WAY = "one-way"
    ONE_LANE = "one-lane"
    TWO_LANES = "two-lanes"


_ROAD_COMMANDS = {
    RoadKind.ONE_WAY: "ENVIRONMENT_ADD_ONE_WAY_ROAD",
    RoadKind.ONE_LANE: "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE",
    RoadKind.TWO_LANES: "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES",
}
ROAD_KIND_OF_COMMAND = {command: kind for kind, command in _ROAD_COMMANDS.items()}


@dataclass(frozen=True)
class Road:
    kind: RoadKind
    a: int  # origin of a one-way road
    b: int  # destination of a one-way road

    def __post_init__(self) -> None:
        for end in (self.a, self.b):
            if isinstance(end, bool) or not isinstance(end, int) or not 0 <= end < MAX_POS:
                raise ValueError(f"road end {end!r} is not a position 0 to {MAX_POS - 1}")

    @property
    def command(self) -> str:
        return _ROAD_COMMANDS[self.kind]

    def allows(self, origin: int, destination: int) -> bool:
        if (origin, destination) == (self.a, self.b):
            return True
        return self.kind is not RoadKind.ONE_WAY and (origin, destination) == (self.b, self.a)

    def joins(self, first: int, second: int) -> bool:
        return {first, second} == {self.a, self.b}


@dataclass(frozen=True)
class Move:
    vehicle: int
    origin: int
    destination: int


@dataclass(frozen=True)
class Plan:
    """A plan as the controller holds it: positions of the three vehicles at each step.

    `steps[0]` is where the vehicles stand now, `steps[-1]` the goals. `history` holds the
    positions the vehicles passed through before this plan (earlier moves of the mission).
    """

    found: bool
    roads: tuple[Road, ...]
    obstacles: tuple[tuple[int, int], ...]
    goals: Positions
    steps: tuple[Positions, ...]
    history: tuple[Positions, ...] = ()

    @property
    def num_steps(self) -> int:
        return len(self.steps) - 1

    def path(self, vehicle: int) -> list[int]:
        return [step[vehicle - 1] for step in self.steps]

    def moves(self, step: int) -> list[Move]:
        """The moves that lead from step - 1 to step."""
        if not 1 <= step <= self.num_steps:
            raise IndexError(f"step {step} is not a move of this plan (1 to {self.num_steps})")
        before, after = self.steps[step - 1], self.steps[step]
        return [Move(v, before[v - 1], after[v - 1]) for v in VEHICLES if before[v - 1] != after[v - 1]]

    def table(self) -> str:
        """The plan step by step as a text table."""
        rows = [f"{'step':>4} | {'V1':>3} | {'V2':>3} | {'V3':>3} | moves"]
        rows.append("-----+-----+-----+-----+" + "-" * 30)
        for index, positions in enumerate(self.steps):
            moves = "" if index == 0 else ", ".join(
                f"V{m.vehicle} {m.origin}->{m.destination}" for m in self.moves(index)
            )
            if index == 0:
                moves = "start"
            cells = " | ".join(f"{p:>3}" for p in positions)
            rows.append(f"{index:>4} | {cells} | {moves}")
        if not self.found:
            rows.append("(no plan: the controller found none)")
        return "\n".join(rows)


def _positions(value: Sequence[int] | dict[int, int], what: str) -> Positions:
    if isinstance(value, dict):
        if sorted(value) != list(VEHICLES):
            raise ValueError(f"{what} must name vehicles 1, 2 and 3")
        value = [value[v] for v in VEHICLES]
    if len(value) != len(VEHICLES):
        raise ValueError(f"{what} must give three positions, got {len(value)}")
    for p in value:
        if isinstance(p, bool) or not isinstance(p, int) or not 0 <= p < MAX_POS:
            raise ValueError(f"{what}: {p!r} is not a position 0 to {MAX_POS - 1}")
    if len(set(value)) != len(value):
        raise ValueError(f"{what} must be three different positions, got {tuple(value)}")
    return (value[0], value[1], value[2])


@dataclass
class Mission:
    """Drives one mission through a client. It assumes it is the only one setting goals."""

    client: MovaClient
    roads: list[Road] = field(default_factory=list)
    obstacles: list[tuple[int, int]] = field(default_factory=list)
    starts: Positions | None = None
    goals: Positions | None = None
    history: list[Positions] = field(default_factory=list)
    plan_: Plan | None = None
    _goals_set: dict[int, int] = field(default_factory=dict)
    _starts_given: dict[int, int] = field(default_factory=dict)
    _built: bool = False
    _searched: bool = False

    # ----- the network ---------------------------------------------------------------------

    def add_road(self, kind: RoadKind | str, a: int, b: int) -> Road:
        if len(self.roads) >= MAX_ROADS:
            raise MissionError(f"the controller holds at most {MAX_ROADS} roads")
        road = Road(RoadKind(kind), a, b)
        self.roads.append(road)
        self._built = False
        return road

    def build(self) -> None:
        """Sends the roads and builds the environment."""
        if not self.roads:
            raise MissionError("no roads to build")
        self.client.environment_clean()
        add = {
            RoadKind.ONE_WAY: self.client.add_one_way_road,
            RoadKind.ONE_LANE: self.client.add_two_way_road_one_lane,
            RoadKind.TWO_LANES: self.client.add_two_way_road_two_lanes,
        }
        for road in self.roads:
            add[road.kind](road.a, road.b)
        self.client.environment_build()
        self._built = True

    # ----- vehicles and goals --------------------------------------------------------------

    def place(self, starts: Sequence[int] | dict[int, int], goals: Sequence[int] | dict[int, int]) -> None:
        """Puts the three vehicles on their positions and gives them their goals."""
        starts_ = _positions(starts, "starts")
        goals_ = _positions(goals, "goals")
        for v in VEHICLES:
            self.client.set_current_pos(v, starts_[v - 1])
        found = tuple(self.client.get_current_pos(v) for v in VEHICLES)
        if found != starts_:
            raise MissionError(f"the controller holds the vehicles on {found}, not {starts_}")
        self._set_goals(goals_)
        self.starts, self.goals = starts_, goals_
        self._starts_given = dict(zip(VEHICLES, starts_))
        self.history = []
        self.plan_ = None

    def set_start(self, vehicle: int, position: int) -> None:
        """Places one vehicle now, as VEHICLE_SET_CURRENT_POS does (a vehicle that stood there
        loses its place, as in the controller); the mission knows its starts once all three
        vehicles have a place."""
        self.client.set_current_pos(vehicle, position)
        given = {v: p for v, p in self._starts_given.items() if p != position}
        given[vehicle] = position
        self._starts_given = given
        if sorted(given) == list(VEHICLES):
            self.starts = _positions(given, "starts")
            self.history = []
            self.plan_ = None

    def set_goal(self, vehicle: int, position: int) -> None:
        """Gives one vehicle its goal now, as VEHICLE_SET_GOAL_POS does. Like the controller,
        it keeps the earlier goal when another vehicle's goal holds the position."""
        self.client.set_goal_pos(vehicle, position)
        if any(p == position and v != vehicle for v, p in self._goals_set.items()):
            return
        self._goals_set[vehicle] = position
        if sorted(self._goals_set) == list(VEHICLES):
            self.goals = _positions(self._goals_set, "goals")

    def _set_goals(self, goals: Positions) -> None:
        # A goal can only move onto a position no other goal holds; a cycle of goals is opened
        # by parking one of them on a free position first.
        wanted = {v: goals[v - 1] for v in VEHICLES if self._goals_set.get(v) != goals[v - 1]}
        while wanted:
            held = {p: v for v, p in self._goals_set.items()}
            ready = [v for v, p in wanted.items() if held.get(p, v) == v]
            if ready:
                v = ready[0]
                self.client.set_goal_pos(v, wanted.pop(v))
                self._goals_set[v] = goals[v - 1]
                continue
            v = next(iter(wanted))
            busy = set(held) | set(goals)
            park = next(p for p in range(MAX_POS) if p not in busy)
            self.client.set_goal_pos(v, park)
            self._goals_set[v] = park

    def positions(self) -> Positions:
        """Where the controller holds the vehicles now."""
        found = [self.client.get_current_pos(v) for v in VEHICLES]
        if any(p is None for p in found):
            raise MissionError(f"a vehicle has no current position: {found}")
        return (found[0], found[1], found[2])  # type: ignore[return-value]

    # ----- planning ------------------------------------------------------------------------

    def plan(self) -> Plan:
        """Computes a plan from scratch (MOVA_START_MISSION) and reads it step by step.

        A search left over from an earlier plan is ended first (MOVA_END_MISSION): its values
        belong to other goals and would mix with the new search.
        """
        self._ready()
        if self._searched:
            self.client.end_mission()
        self._searched = True
        return self._read_plan(self.client.start_mission())

    def add_obstacle(self, a: int, b: int) -> None:
        """Reports a blocked road (either direction); `replan` plans around it."""
        if not any(road.joins(a, b) for road in self.roads):
            raise MissionError(f"no road joins {a} and {b}")
        self.client.add_obstacle(a, b)
        self.obstacles.append((a, b))

    def replan(self) -> Plan:
        """Plans again from where the vehicles stand, around every obstacle (OBSTACLES_CONFIRM)."""
        self._ready()
        self._searched = True
        return self._read_plan(self.client.confirm_obstacles())

    def advance(self) -> tuple[list[Move], bool]:
        """Reports that the vehicles made the next step of the plan.

        Returns the moves made and whether the vehicles now stand on their goals.
        """
        if self.plan_ is None or not self.plan_.found:
            raise MissionError("there is no plan to follow")
        before = self.plan_.steps[0]
        arrived = self.client.moved_forward()
        after = self.positions()
        if self.plan_.num_steps >= 1 and after != self.plan_.steps[1]:
            raise MissionError(f"the vehicles went to {after}, the plan said {self.plan_.steps[1]}")
        if after != before:
            self.history.append(before)
        # The rest of the plan stays as it was read; it now starts one step later.
        rest = self.plan_.steps[1:] if self.plan_.num_steps >= 1 else self.plan_.steps
        self.plan_ = Plan(True, self.plan_.roads, self.plan_.obstacles, self.plan_.goals, rest,
                          tuple(self.history))
        moves = [Move(v, before[v - 1], after[v - 1]) for v in VEHICLES if before[v - 1] != after[v - 1]]
        return moves, arrived

    def steps(self) -> Iterable[tuple[int, Positions]]:
        """The steps of the current plan: (step number, positions of vehicles 1 to 3)."""
        if self.plan_ is None:
            raise MissionError("no plan yet")
        return enumerate(self.plan_.steps)

    def end(self) -> None:
        self.client.end_mission()

    def _ready(self) -> None:
        if not self._built:
            raise MissionError("build the environment first")
        if self.starts is None or self.goals is None:
            raise MissionError("place the vehicles and goals first")

    def _read_plan(self, found: bool) -> Plan:
        assert self.goals is not None
        now = self.positions()
        steps: list[Positions] = [now]
        if found:
            count = self.client.get_num_steps()
            for step in range(1, count + 1):
                p = [self.client.get_step_pos(v, step) for v in VEHICLES]
                steps.append((p[0], p[1], p[2]))
            zero = tuple(self.client.get_step_pos(v, 0) for v in VEHICLES)
            if zero != now:
                raise PlanCheckError(f"step 0 of the plan is {zero}, the vehicles stand on {now}")
            self._check(steps)
        plan = Plan(found, tuple(self.roads), tuple(self.obstacles), self.goals, tuple(steps),
                    tuple(self.history))
        self.plan_ = plan
        return plan

    def _check(self, steps: list[Positions]) -> None:
        from .exact import Network  # the step rules; exact builds on this module

        assert self.goals is not None
        if steps[-1] != self.goals:
            raise PlanCheckError(f"the plan ends on {steps[-1]}, the goals are {self.goals}")
        net = Network(self.roads, self.obstacles)
        for index in range(1, len(steps)):
            before, after = steps[index - 1], steps[index]
            if len(set(after)) != len(after):
                raise PlanCheckError(f"step {index} puts two vehicles on one position: {after}")
            for v in VEHICLES:
                a, b = before[v - 1], after[v - 1]
                if a == b:
                    continue
                if not any(road.allows(a, b) for road in self.roads):
                    raise PlanCheckError(f"step {index}: vehicle {v} moves {a}->{b} where no road leads")
                if any({a, b} == {x, y} for x, y in self.obstacles):
                    raise PlanCheckError(f"step {index}: vehicle {v} moves {a}->{b} over an obstacle")
            if not net.legal(before, after):
                raise PlanCheckError(f"step {index} from {before} to {after} breaks the step rules "
                                     "(no vehicle moves, or two pass each other on a one-lane road)")
