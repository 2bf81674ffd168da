"""A mission on top of the client: roads, build, vehicles and goals, plan, moves, obstacles;
and the two readings every user of a controller needs, the plan and the distance table.

The plan is read with the step queries. A step query answers 0 both for position 0 and for a
vehicle missing from the plan; the mission knows all three vehicles are placed, so every step
of a plan holds all three, and it checks each plan it reads (start, goal, roads, no two vehicles
on one position) before handing it out.
"""

from __future__ import annotations

from typing import Iterable, Mapping, Sequence

from .client import MovaClient
from .errors import MissionError, PlanCheckError
from .exact import controller_plan_fault
from .plans import Move, Plan, moves_between
from .protocol import MAX_POS, MAX_ROADS, VEHICLES
from .roads import Obstacle, Road, RoadKind
from .vehicles import GoalMarking, Placing, Positions, positions


def read_plan(client: MovaClient) -> list[Positions]:
    """The plan the controller holds: the positions of vehicles 1 to 3 at step 0 (where they
    stand) and at every step after it (MOVA_GET_NUM_STEPS, then VEHICLE_GET_STEP_POS)."""
    count = client.get_num_steps()
    plan: list[Positions] = []
    for step in range(count + 1):
        p = [client.get_step_pos(v, step) for v in VEHICLES]
        plan.append((p[0], p[1], p[2]))
    return plan


def read_distances(client: MovaClient, back: Sequence[int | None]) -> list[list[int]]:
    """The controller's distance table, row by row. The controller tells distances from a
    vehicle's position only, so vehicle 1 visits every position in turn; afterwards each vehicle
    is put on its position in `back` (None: left where it is)."""
    table = []
    for origin in range(MAX_POS):
        client.set_current_pos(1, origin)
        table.append([client.get_dis_to_pos(1, to) for to in range(MAX_POS)])
    for v in VEHICLES:
        position = back[v - 1]
        if position is not None:
            client.set_current_pos(v, position)
    return table


class Mission:
    """Drives one mission through a client: `Mission(client)`. Describe the roads (`add_road`)
    and `build`, `place` the vehicles and their goals, `plan`, then `advance` step by step;
    `add_obstacle` and `replan` plan around a blocked road. Each plan read is checked (its start,
    its goals, the roads and obstacles, no two vehicles on one position); PlanCheckError when it
    does not hold together, MissionError when the mission cannot go on as asked. It assumes it is
    the only one setting goals on the client.
    """

    def __init__(self, client: MovaClient):
        self.client = client
        self.roads: list[Road] = []
        self.obstacles: list[Obstacle] = []
        self.starts: Positions | None = None
        self.goals: Positions | None = None
        self.history: list[Positions] = []
        self.plan_: Plan | None = None
        self._goal_marking = GoalMarking()
        self._placing = Placing()
        self._built = False
        self._searched = False

    # ----- the network ---------------------------------------------------------------------

    def add_road(self, kind: RoadKind | str, a: int, b: int) -> Road:
        """Adds a road of a kind ("one-way", "one-lane", "two-lanes" or a RoadKind) between
        positions a and b (a one-way road leads from a to b); it is sent by `build`. MissionError
        beyond 15 roads, ValueError for a bad kind or position."""
        if len(self.roads) >= MAX_ROADS:
            raise MissionError(f"the controller holds at most {MAX_ROADS} roads")
        road = Road(RoadKind(kind), a, b)
        self.roads.append(road)
        self._built = False
        return road

    def build(self) -> None:
        """Sends the roads and builds the environment; MissionError without roads."""
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

    def place(self, starts: Sequence[int] | Mapping[int, int], goals: Sequence[int] | Mapping[int, int]) -> None:
        """Puts the three vehicles on their positions and gives them their goals (three
        different positions each, as a list or a map by vehicle; ValueError otherwise), moving
        goals through a free position where the controller would refuse them. MissionError when
        the controller then holds the vehicles elsewhere."""
        starts_ = positions(starts, "starts")
        goals_ = positions(goals, "goals")
        for v in VEHICLES:
            self.client.set_current_pos(v, starts_[v - 1])
        found = tuple(self.client.get_current_pos(v) for v in VEHICLES)
        if found != starts_:
            raise MissionError(f"the controller holds the vehicles on {found}, not {starts_}")
        for v, p in self._goal_marking.steps_to(goals_):
            self.client.set_goal_pos(v, p)
            self._goal_marking.set(v, p)
        self.starts, self.goals = starts_, goals_
        self._placing = Placing(dict(zip(VEHICLES, starts_)))
        self.history = []
        self.plan_ = None

    def set_start(self, vehicle: int, position: int) -> None:
        """Places one vehicle now, as VEHICLE_SET_CURRENT_POS does (a vehicle that stood there
        loses its place, as in the controller); the mission knows its starts once all three
        vehicles have a place."""
        self.client.set_current_pos(vehicle, position)
        self._placing.set(vehicle, position)
        starts = self._placing.complete()
        if starts is not None:
            self.starts = starts
            self.history = []
            self.plan_ = None

    def set_goal(self, vehicle: int, position: int) -> None:
        """Gives one vehicle its goal now, as VEHICLE_SET_GOAL_POS does. Like the controller,
        it keeps the earlier goal when another vehicle's goal holds the position."""
        self.client.set_goal_pos(vehicle, position)
        if self._goal_marking.set(vehicle, position):
            goals = self._goal_marking.complete()
            if goals is not None:
                self.goals = goals

    def positions(self) -> Positions:
        """Where the controller holds the vehicles now."""
        found = [self.client.get_current_pos(v) for v in VEHICLES]
        first, second, third = found
        if first is None or second is None or third is None:
            raise MissionError(f"a vehicle has no current position: {found}")
        return (first, second, third)

    # ----- planning ------------------------------------------------------------------------

    def plan(self) -> Plan:
        """Computes a plan from scratch (MOVA_START_MISSION) and reads it step by step; a plan
        that was not found has `found` False and its one step where the vehicles stand.
        MissionError before `build` and `place`, PlanCheckError for a plan that does not hold
        together.

        A search left over from an earlier plan is ended first (MOVA_END_MISSION): its values
        belong to other goals and would mix with the new search.
        """
        self._ready()
        if self._searched:
            self.client.end_mission()
        self._searched = True
        return self._read_plan(self.client.start_mission())

    def add_obstacle(self, a: int, b: int) -> None:
        """Reports a blocked road (either direction); `replan` plans around it. MissionError
        when no road joins a and b."""
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

        Returns the moves made and whether the vehicles now stand on their goals. MissionError
        without a plan, or when the controller moved the vehicles elsewhere than the plan said.
        """
        plan = self.plan_
        if plan is None or not plan.found:
            raise MissionError("there is no plan to follow")
        before = plan.steps[0]
        arrived = self.client.moved_forward()
        after = self.positions()
        if plan.num_steps >= 1 and after != plan.steps[1]:
            raise MissionError(f"the vehicles went to {after}, the plan said {plan.steps[1]}")
        if after != before:
            self.history.append(before)
        # The rest of the plan stays as it was read; it now starts one step later.
        rest = plan.steps[1:] if plan.num_steps >= 1 else plan.steps
        self.plan_ = Plan(True, plan.roads, plan.obstacles, plan.goals, rest, tuple(self.history))
        return moves_between(before, after), arrived

    def steps(self) -> Iterable[tuple[int, Positions]]:
        """The steps of the current plan: (step number, positions of vehicles 1 to 3)."""
        if self.plan_ is None:
            raise MissionError("no plan yet")
        return enumerate(self.plan_.steps)

    def end(self) -> None:
        """Ends the mission on the controller (MOVA_END_MISSION): it forgets the search."""
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
            steps = read_plan(self.client)
            if steps[0] != now:
                raise PlanCheckError(f"step 0 of the plan is {steps[0]}, the vehicles stand on {now}")
            fault = controller_plan_fault(self.roads, self.obstacles, self.goals, steps)
            if fault is not None:
                raise PlanCheckError(fault)
        plan = Plan(found, tuple(self.roads), tuple(self.obstacles), self.goals, tuple(steps),
                    tuple(self.history))
        self.plan_ = plan
        return plan
