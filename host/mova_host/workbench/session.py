"""A browser session of the workbench: the design the person edits, driven on a controller of
its own.

The controller is told about the network only when it is built, and about the vehicles when a
plan is asked for, so the roads can be edited freely in between. Every operation checks its
input and raises `Refused` (or `Conflict`) with a sentence a person can act on; a controller
that exits or stops answering raises `ControllerDown` and stays down until `restart`.
"""

from __future__ import annotations

import sys
import time
import traceback
from contextlib import contextmanager
from pathlib import Path
from typing import Any, Callable, Iterator, Mapping

from ..client import MovaClient
from ..errors import Conflict, ControllerDown, MissionError, Refused, ScenarioError
from ..explain import explain
from ..exchange import Timeouts
from ..limits import Limits
from ..mission import Mission, read_distances
from ..plans import Plan
from ..protocol import VEHICLES
from ..roads import Road
from ..scenario import parse_scenario, scenario_to_json
from .link import ControllerLink
from .model import Design, limits_of
from .transcript import Entry, Transcript


class WorkbenchSession:
    """One browser session: its design, its controller child, the plan and the transcript."""

    def __init__(self, ident: str, binary: Path, *, timeouts: Timeouts = Timeouts(), root: Path | None = None):
        self.id = ident
        self.created = self.last_used = time.monotonic()
        self.design = Design()
        self.transcript = Transcript()
        self.link = ControllerLink(binary, self.transcript, timeouts=timeouts, root=root)
        self.mission: Mission | None = None
        self.built_roads: tuple[Road, ...] | None = None  # the network the controller holds
        self.plan: Plan | None = None
        self.explanation: dict[str, Any] | None = None
        self.distances: list[list[int]] | None = None
        self.message = ""
        self.restarts = 0
        self.closed = False  # ended: it answers no more requests and starts no controller
        try:
            self._start()
        except BaseException:
            self.close()
            raise

    # ----- the controller ------------------------------------------------------------------

    def _start(self) -> None:
        self.mission = None
        self.built_roads = None
        self.mission = Mission(self.link.start())
        limits = self.design.limits
        with self._controller("start the controller") as client:
            client.enable_logging()
            client.init()
            if limits.timeout_ms is not None:
                client.set_timeout(limits.timeout_ms)
            if limits.memory_mb is not None:
                client.set_max_ram(limits.memory_mb)

    @contextmanager
    def _controller(self, action: str) -> Iterator[MovaClient]:
        """Runs commands of one action; the plan goes when the controller does."""
        try:
            with self.link.running(action) as client:
                yield client
        except ControllerDown:
            self.plan = None
            raise

    def _mission(self) -> Mission:
        if self.mission is None:
            raise ControllerDown(self.link.down or "the controller is not running")
        return self.mission

    def restart(self) -> None:
        """Ends the controller (if it still runs) and starts a new one with the session's settings;
        the network is built again when it was built before."""
        was_built = bool(self.design.roads) and self.built_roads == tuple(self.design.roads)
        self.link.stop()
        self.restarts += 1
        self.transcript.append(Entry(0, "restart", "# a new controller starts here", False, None, False,
                                     note="the controller was restarted"))
        self.plan = None
        self.explanation = None
        self._start()
        if was_built:
            self.build(action="build the network again")
        self.message = "A new controller is running" + (" and holds the network again." if was_built else ".")

    def close(self) -> None:
        """Ends the controller child and removes the working directory, for good: the session
        starts no controller after this (a restart that was waiting raises ControllerDown)."""
        self.closed = True
        self.link.close()

    # ----- the network ---------------------------------------------------------------------

    def _network_changed(self) -> None:
        self.plan = None
        self.explanation = None
        self.distances = None

    def move_position(self, data: Mapping[str, Any]) -> None:
        self.design.move_position(data)
        self.message = ""

    def add_road(self, data: Mapping[str, Any]) -> None:
        message = self.design.add_road(data)
        self._network_changed()
        self.message = message

    def remove_road(self, data: Mapping[str, Any]) -> None:
        message = self.design.remove_road(data)
        self._network_changed()
        self.message = message

    def clear_roads(self) -> None:
        self.design.clear_roads()
        self._network_changed()
        self.message = "Removed every road."

    @property
    def built(self) -> bool:
        roads = self.design.roads
        return self.link.down is None and self.built_roads == tuple(roads) and bool(roads)

    def build(self, action: str = "build the network") -> None:
        """Sends the roads and builds; the obstacles the session holds are sent again."""
        roads, obstacles = self.design.roads, self.design.obstacles
        if not roads:
            raise Refused("add at least one road before building")
        mission = self._mission()
        with self._controller(action) as client:
            mission.roads = list(roads)
            mission.build()
            self.built_roads = tuple(roads)
            if mission.obstacles != obstacles:
                if mission.obstacles:
                    client.obstacles_clean()
                mission.obstacles = []
                for a, b in obstacles:
                    mission.add_obstacle(a, b)
        self.plan = None
        self.explanation = None
        self.message = f"Built the network of {len(roads)} road{'s' if len(roads) != 1 else ''}."

    def distance_table(self) -> None:
        """Asks the controller for the road distance between every two positions; afterwards
        every vehicle is put back where the controller held it."""
        self._need_built()
        with self._controller("distance table") as client:
            held = [client.get_current_pos(v) for v in VEHICLES]
            self.distances = read_distances(client, held)
        self.message = "The distance table, as the controller computed it when the network was built."

    def _need_built(self) -> None:
        if not self.design.roads:
            raise Conflict("add roads and build the network first")
        if not self.built:
            self.build()

    # ----- the mission ---------------------------------------------------------------------

    def set_vehicles(self, data: Mapping[str, Any]) -> None:
        if self.design.set_vehicles(data):
            self.plan = None
            self.explanation = None
        self.message = ""

    def run_plan(self) -> None:
        starts, goals = self.design.placed()
        self._need_built()
        mission = self._mission()
        with self._controller("plan"):
            mission.place(starts, goals)
            plan, seq, evaluations = self._computed(mission, mission.plan)
        self._after_plan(plan, seq, "MOVA_START_MISSION", evaluations)

    def confirm(self) -> None:
        """Plans again around the obstacles from where the vehicles stand (OBSTACLES_CONFIRM)."""
        if self.plan is None or self.mission is None or self.mission.starts is None:
            raise Conflict("plan first; Confirm plans again from where the vehicles stand")
        if not self.built:
            raise Conflict("the network has changed since the plan; plan again")
        mission = self.mission
        with self._controller("confirm the obstacles"):
            plan, seq, evaluations = self._computed(mission, mission.replan)
        self._after_plan(plan, seq, "OBSTACLES_CONFIRM", evaluations)

    def _computed(self, mission: Mission, compute: Callable[[], Plan]) -> tuple[Plan, int, int]:
        """The plan of `compute` (a computation of the mission's), the transcript's position
        before it, and the controller's count of evaluations."""
        seq = self.transcript.seq
        try:
            plan = compute()
        except MissionError as error:
            raise Conflict(f"the controller's plan does not hold together: {error}") from None
        return plan, seq, mission.client.evaluations()

    def _after_plan(self, plan: Plan, seq: int, command: str, evaluations: int) -> None:
        self.plan = plan
        self.explanation = self._explain(plan, self.transcript.records_since(seq), evaluations)
        if plan.found:
            self.message = (f"{command} answered TRUE: a plan of {plan.num_steps} "
                            f"step{'s' if plan.num_steps != 1 else ''}.")
        else:
            self.message = f"{command} answered FALSE: the controller found no plan."

    def _explain(self, plan: Plan, records: list[str], evaluations: int) -> dict[str, Any]:
        limits = self.design.limits
        try:
            result = explain(list(plan.roads), plan.steps[0], plan.goals, list(plan.obstacles),
                             answer=plan.found, controller_plan=list(plan.steps) if plan.found else None,
                             distances=self.distances, log_records=records, evaluations=evaluations,
                             timeout_ms=limits.timeout_ms, memory_mb=limits.memory_mb,
                             names=self.design.position_names())
            return {**result.to_json(), "text": result.text()}
        except Exception as error:  # the explanation is a help; the plan stands without it
            traceback.print_exc(file=sys.stderr)
            return {"error": f"the explanation could not be made: {error}"}

    def move(self) -> None:
        """Reports one step to the controller (VEHICLE_MOVED_FORWARD); the vehicles go one step on."""
        if self.plan is None or not self.plan.found or self.mission is None:
            raise Conflict("there is no plan to follow; plan first")
        if self.plan.num_steps == 0:
            raise Conflict("the vehicles already stand on their goals")
        mission = self.mission
        with self._controller("move one step"):
            try:
                moves, arrived = mission.advance()
            except MissionError as error:
                raise Conflict(f"the controller did not follow its plan: {error}") from None
        self.plan = mission.plan_
        made = ", ".join(f"vehicle {m.vehicle} {m.origin} to {m.destination}" for m in moves) or "nothing moved"
        self.message = f"Moved: {made}." + (" Every vehicle stands on its goal." if arrived else "")

    def add_obstacle(self, data: Mapping[str, Any]) -> None:
        a, b = self.design.new_obstacle(data)
        self._need_built()
        mission = self._mission()
        with self._controller("block a road"):
            mission.add_obstacle(a, b)
        self.design.obstacles.append((a, b))
        self.message = (f"The road between {a} and {b} is blocked. "
                        + ("Confirm to plan again around it." if self.plan is not None else ""))

    def clear_obstacles(self) -> None:
        if not self.design.obstacles:
            raise Refused("no road is blocked")
        if self.built:
            mission = self._mission()
            with self._controller("clear the obstacles") as client:
                client.obstacles_clean()
                mission.obstacles = []
        self.design.obstacles = []
        self.message = "No road is blocked now." + (" Confirm to plan again." if self.plan is not None else "")

    def settings(self, data: Mapping[str, Any], action: str = "settings") -> None:
        timeout, memory = limits_of(data)
        with self._controller(action) as client:
            if timeout is not None:
                client.set_timeout(timeout)
                self.design.limits = Limits(timeout, self.design.limits.memory_mb)
            if memory is not None:
                client.set_max_ram(memory)
                self.design.limits = Limits(self.design.limits.timeout_ms, memory)
        self.message = "Settings sent to the controller."

    # ----- scenario files ------------------------------------------------------------------

    def load_scenario(self, data: Any) -> None:
        try:
            scenario = parse_scenario(data, "the scenario file")
        except ScenarioError as error:
            where = f"{error.place}: " if error.place else ""
            raise Refused(f"the scenario file cannot be used: {where}{error.problem}") from None
        scaled = self.design.load(scenario)
        self._network_changed()
        # Limits the file leaves out are the controller's own defaults.
        change = scenario.limits.changes_from(self.design.limits)
        if change.timeout_ms is not None or change.memory_mb is not None:
            self.settings({"timeout_ms": change.timeout_ms, "memory_mb": change.memory_mb}, action="load a scenario")
        self.design.limits = scenario.limits
        if self.design.roads:
            self.build(action="load a scenario")
        design = self.design
        title = f"“{design.scenario_name}”" if design.scenario_name else "the scenario"
        self.message = (f"Loaded {title}: {len(design.roads)} roads, vehicles and goals placed"
                        + (f", {len(design.obstacles)} blocked" if design.obstacles else "") + ". "
                        + ("The positions were scaled to fit the picture. " if scaled else "")
                        + "Plan to send the mission.")

    def name_scenario(self, data: Mapping[str, Any]) -> None:
        name = self.design.rename(data)
        self.message = f"The scenario is called “{name}”." if name else "The scenario has no name now."

    def scenario_json(self) -> dict[str, Any]:
        """The design as a scenario file's JSON."""
        return scenario_to_json(self.design.scenario())
