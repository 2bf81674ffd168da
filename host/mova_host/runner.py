"""Plans scenarios on a controller and reads back what an explanation needs.

A `ScenarioRunner` drives one controller process through any number of scenarios. On a freshly
started controller the first scenario is sent exactly as `command_lines` gives it; later ones
first end the previous mission, clear its obstacles, put changed limits back and move the goals
so that no goal is refused because another vehicle still holds it.
"""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Any

from .client import MovaClient
from .errors import CommandDropped, ControllerFailed
from .exchange import Exchange
from .limits import Limits
from .logrecords import LOG_NAME, LogTail, computation_records
from .mission import read_distances as read_distance_table
from .mission import read_plan
from .plans import Plan
from .protocol import VEHICLES
from .scenario import Scenario, command_lines, network_lines, obstacle_lines, start_lines
from .vehicles import GoalMarking, Positions


def start_client(binary: str | os.PathLike[str] | None, workdir: str | os.PathLike[str] | None,
                 **options: Any) -> MovaClient:
    """A client on a new controller process; ControllerFailed when it cannot be started."""
    try:
        return MovaClient(binary, workdir, **options)
    except OSError as error:
        raise ControllerFailed(f"the controller cannot be started: {error}") from None


@dataclass(frozen=True)
class Run:
    """One planning computation of a scenario and what the controller told about it."""

    scenario: Scenario
    answer: bool
    plan: list[Positions] | None  # step 0 (the starts) to the goals; None without a plan
    evaluations: int | None
    distances: list[list[int]] | None  # the controller's distance table, when read
    log_records: list[str] | None  # the log records of the computation, when logging was on
    lines: tuple[str, ...]  # the command lines that set up and started the computation

    @property
    def steps(self) -> int | None:
        """The number of steps of the plan, None without a plan."""
        return None if self.plan is None else len(self.plan) - 1

    def as_plan(self) -> Plan:
        """The run as the mission helper's plan (for tables and pictures)."""
        s = self.scenario
        steps = tuple(self.plan) if self.plan is not None else (s.starts,)
        return Plan(self.answer, tuple(s.roads), tuple(s.obstacles), s.goals, steps)


class ScenarioRunner:
    """Plans scenarios one after the other on one controller (the client's own process)."""

    def __init__(self, client: MovaClient, *, logging: bool = False):
        self.client = client
        self.logging = logging
        self._goals = GoalMarking()  # the controller's goal marking as set so far
        self._limits = Limits()  # the limits the controller holds
        self._obstacles = False
        self._planned = False
        self._fresh = True
        if logging:
            self.client.enable_logging()

    def _goal_steps(self, s: Scenario) -> list[tuple[int, int]]:
        if self._fresh:
            return [(v, s.goals[v - 1]) for v in VEHICLES]
        return self._goals.steps_to(s.goals)

    def lines_for(self, s: Scenario) -> list[str]:
        """The lines that set the scenario up and start its computation on this controller."""
        if self._fresh:
            return command_lines(s)
        if len(set(s.goals)) < len(s.goals):
            raise ValueError("vehicles that share a goal can only be planned on a fresh controller")
        lines = []
        if self._planned:
            lines.append("MOVA_END_MISSION")
        if self._obstacles:
            lines.append("OBSTACLES_CLEAN")
        lines += network_lines(s)
        change = s.limits.changes_from(self._limits)
        if change.timeout_ms is not None:
            lines.append(f"SETTINGS_SET_TIMEOUT {change.timeout_ms}")
        if change.memory_mb is not None:
            lines.append(f"SETTINGS_SET_MAX_RAM {change.memory_mb}")
        lines += start_lines(s)
        lines += [f"VEHICLE_SET_GOAL_POS {v} {p}" for v, p in self._goal_steps(s)]
        lines += obstacle_lines(s)
        lines.append("MOVA_START_MISSION")
        return lines

    def run(self, s: Scenario, *, read_distances: bool = False) -> Run:
        """Sets the scenario up, plans it and reads the plan (and, if asked, the distance
        table and the computation's log records)."""
        lines = self.lines_for(s)
        tail = LogTail(self.client.workdir / LOG_NAME, from_end=True) if self.logging else None
        for line in lines[:-1]:
            self.client.request(line)
        self._note(s)
        answer = self._planning(self.client.request(lines[-1]), lines[-1])
        try:
            evaluations = self.client.evaluations()
            plan = read_plan(self.client) if answer else None
            distances = read_distance_table(self.client, s.starts) if read_distances else None
        except CommandDropped as dropped:
            raise ControllerFailed(f"the controller dropped {dropped.command} after the plan was computed") from None
        records = computation_records(tail.all_new_records()) if tail is not None else None
        return Run(s, answer, plan, evaluations, distances, records, tuple(lines))

    def _planning(self, exchange: Exchange, line: str) -> bool:
        self._planned = True
        if exchange.answer not in ("TRUE", "FALSE"):
            raise ControllerFailed(f"{line} got no answer")
        return exchange.answer == "TRUE"

    def _note(self, s: Scenario) -> None:
        """What the controller holds once the scenario's set-up lines are sent."""
        for v, p in self._goal_steps(s):
            self._goals.set(v, p)
        self._limits = s.limits
        self._obstacles = bool(s.obstacles)
        self._fresh = False
