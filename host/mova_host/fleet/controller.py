"""The zone's controller process: the network built once, plans from where the vehicles stand,
reported steps, and a restart when the process dies or stops answering."""

from __future__ import annotations

from typing import Callable

from .core import (VEHICLES, Explanation, Mission, MissionError, MovaClient, MovaError, Plan, Scenario,
                   Timeouts, explain)

MAX_RESTARTS = 3  # in a row, without a plan or a step reported in between

Positions = tuple[int, int, int]


class ControllerGone(Exception):
    """The controller failed again after every restart."""


class Controller:
    """One `mova` child at a time, for one scenario; restarted on failure."""

    def __init__(self, scenario: Scenario, binary: str | None, on_restart: Callable[[str], None],
                 timeouts: Timeouts = Timeouts()):
        self.scenario = scenario
        self.binary = binary
        self.on_restart = on_restart
        self.timeouts = timeouts
        self.obstacles: list[tuple[int, int]] = list(scenario.obstacles)
        self.client: MovaClient | None = None
        self.mission: Mission | None = None
        self.restarts = 0

    @property
    def pid(self) -> int | None:
        return self.client.pid if self.client is not None else None

    def close(self) -> None:
        if self.client is not None:
            self.client.kill()
        self.client, self.mission = None, None

    def _start(self, positions: Positions) -> Mission:
        s = self.scenario
        self.client = MovaClient(self.binary, timeouts=self.timeouts)
        mission = Mission(self.client)
        for road in s.roads:
            mission.add_road(road.kind, road.a, road.b)
        mission.build()
        if s.timeout_ms is not None:
            self.client.set_timeout(s.timeout_ms)
        if s.memory_mb is not None:
            self.client.set_max_ram(s.memory_mb)
        mission.place(positions, s.goals)
        for a, b in self.obstacles:
            mission.add_obstacle(a, b)
        self.mission = mission
        return mission

    def _attempt(self, action: Callable[[], Plan], positions: Positions) -> Plan:
        """Runs `action`; on a failure restarts the controller, places the vehicles where they
        stand, plans again, and returns that plan."""
        while True:
            try:
                plan = action()
                self.restarts = 0
                return plan
            except (MovaError, MissionError, OSError) as error:
                self._failed(error)
                action = lambda: self._start(positions).plan()  # noqa: E731

    def _failed(self, error: Exception) -> None:
        """Closes the controller that failed; raises ControllerGone when it failed more than
        MAX_RESTARTS times in a row, else reports the restart to come."""
        self.close()
        self.restarts += 1
        if self.restarts > MAX_RESTARTS:
            raise ControllerGone(f"the controller failed {self.restarts} times in a row: {error}") from None
        self.on_restart(str(error) or type(error).__name__)

    def plan(self, positions: Positions) -> Plan:
        """A plan from `positions` around every known obstacle."""

        def fresh() -> Plan:
            if self.mission is None:
                return self._start(positions).plan()
            self.mission.place(positions, self.scenario.goals)
            return self.mission.plan()

        return self._attempt(fresh, positions)

    def blocked(self, positions: Positions, road: tuple[int, int]) -> Plan:
        """Adds the obstacle, confirms it, and plans from `positions`."""
        self.obstacles.append(road)

        def confirm() -> Plan:
            if self.mission is None:
                return self._start(positions).plan()
            self.mission.place(positions, self.scenario.goals)
            self.mission.add_obstacle(*road)
            return self.mission.replan()

        return self._attempt(confirm, positions)

    def moved(self, after: Positions) -> Plan | None:
        """Reports the step made; None when the controller followed, else the new plan from
        `after` that a restart made."""
        mission = self.mission
        try:
            if mission is None:
                raise MissionError("no controller")
            mission.advance()
            self.restarts = 0
            return None
        except (MovaError, MissionError, OSError) as error:
            self._failed(error)
            return self._attempt(lambda: self._start(after).plan(), after)

    def explanation(self, positions: Positions) -> Explanation:
        s = self.scenario
        names = {p: info.name for p, info in s.positions.items() if info.name}
        return explain(s.roads, positions, s.goals, self.obstacles, answer=False, controller_plan=None, names=names)


def at_goals(positions: Positions, scenario: Scenario) -> bool:
    return all(positions[v - 1] == scenario.goals[v - 1] for v in VEHICLES)
