"""Plans scenarios on a controller and reads back what an explanation needs.

A `Session` drives one controller process through any number of scenarios. On a freshly
started controller the first scenario is sent exactly as `command_lines` gives it; later ones
first end the previous mission, clear its obstacles, put changed settings back and move the
goals so that no goal is refused because another vehicle still holds it.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from pathlib import Path

from .client import CommandDropped, MovaClient, MovaError
from .mission import Plan
from .protocol import MAX_POS, VEHICLES
from .scenario import Scenario, command_lines

DEFAULT_TIMEOUT_MS = 1000
DEFAULT_MEMORY_MB = 2048
MAX_EVALUATIONS = 30000
# "2024-03-01 16:03:07 : DAEMON : ERROR : Timeout  "
_RECORD = re.compile(r"^.{19} : [A-Z_0-9]+ : ([A-Z]+) : (.*?)  $")


class ControllerFailed(MovaError):
    """The controller did not answer as the protocol promises (an answer missing, a plan that
    cannot be read), or could not be started."""


def start_client(binary: str | None, workdir: str | None, **options) -> MovaClient:
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
    plan: list[tuple[int, int, int]] | None  # step 0 (the starts) to the goals; None without a plan
    evaluations: int | None
    distances: list[list[int]] | None  # the controller's distance table, when read
    log_records: list[str] | None  # the log records of the computation, when logging was on
    lines: tuple[str, ...]  # the command lines that set up and started the computation

    @property
    def steps(self) -> int | None:
        return None if self.plan is None else len(self.plan) - 1

    def as_plan(self) -> Plan:
        """The run as the mission helper's plan (for tables and pictures)."""
        s = self.scenario
        steps = tuple(self.plan) if self.plan is not None else (s.starts,)
        return Plan(self.answer, tuple(s.roads), tuple(s.obstacles), s.goals, steps)


def record_parts(record: str) -> tuple[str, str]:
    """(severity, message) of a log record; a text that is not a record is all message."""
    match = _RECORD.match(record.rstrip("\r\n"))
    return (match.group(1), match.group(2)) if match else ("", record.strip())


def computation_records(records: list[str]) -> list[str]:
    """The records of the last planning computation among the records given: from its
    "Start mission" or "Obstacles confirmed" record to its solution record."""
    begin = None
    for index, record in enumerate(records):
        message = record_parts(record)[1]
        if message in ("Start mission", "Obstacles confirmed"):
            begin = index
    if begin is None:
        return []
    out = []
    for record in records[begin:]:
        out.append(record)
        if record_parts(record)[1].startswith(("Solution computed", "Solution recomputed")):
            break
    return out


class Session:
    """Plans scenarios one after the other on one controller (the client's own process)."""

    def __init__(self, client: MovaClient, *, logging: bool = False):
        self.client = client
        self.logging = logging
        self._goals: dict[int, int] = {}  # the controller's goal marking as set so far
        self._timeout: int | None = None  # None: as the controller started
        self._memory: int | None = None
        self._obstacles = False
        self._planned = False
        self._fresh = True
        if logging:
            self.client.enable_logging()

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
        lines.append("ENVIRONMENT_CLEAN")
        lines += [f"{road.command} {road.a} {road.b}" for road in s.roads]
        lines.append("ENVIRONMENT_BUILD")
        timeout = s.timeout_ms if s.timeout_ms is not None else DEFAULT_TIMEOUT_MS
        if timeout != (self._timeout if self._timeout is not None else DEFAULT_TIMEOUT_MS):
            lines.append(f"SETTINGS_SET_TIMEOUT {timeout}")
        memory = s.memory_mb if s.memory_mb is not None else DEFAULT_MEMORY_MB
        if memory != (self._memory if self._memory is not None else DEFAULT_MEMORY_MB):
            lines.append(f"SETTINGS_SET_MAX_RAM {memory}")
        lines += [f"VEHICLE_SET_CURRENT_POS {v} {s.starts[v - 1]}" for v in VEHICLES]
        lines += goal_lines(self._goals, s.goals)
        lines += [f"OBSTACLES_ADD_OBSTACLE {a} {b}" for a, b in s.obstacles]
        lines.append("MOVA_START_MISSION")
        return lines

    def run(self, s: Scenario, *, read_distances: bool = False) -> Run:
        """Sets the scenario up, plans it and reads the plan (and, if asked, the distance
        table and the computation's log records)."""
        lines = self.lines_for(s)
        log = self.client.workdir / "mova.log"
        log_start = log.stat().st_size if self.logging and log.exists() else 0
        for line in lines[:-1]:
            self.client.request(line)
        self._note(s, lines)
        planning = self.client.request(lines[-1])
        self._planned = True
        if planning.answer not in ("TRUE", "FALSE"):
            raise ControllerFailed(f"{lines[-1]} got no answer")
        answer = planning.answer == "TRUE"
        try:
            evaluations = self.client.evaluations()
            plan = self._read_plan() if answer else None
            distances = self._read_distances(s) if read_distances else None
        except CommandDropped as dropped:
            raise ControllerFailed(f"the controller dropped {dropped.command} after the plan was computed") from None
        records = None
        if self.logging:
            records = computation_records(_read_records(log, log_start))
        return Run(s, answer, plan, evaluations, distances, records, tuple(lines))

    def _note(self, s: Scenario, lines: list[str]) -> None:
        self._fresh = False
        self._obstacles = bool(s.obstacles)
        for line in lines:
            words = line.split(" ")
            if words[0] == "SETTINGS_SET_TIMEOUT":
                self._timeout = int(words[1])
            elif words[0] == "SETTINGS_SET_MAX_RAM":
                self._memory = int(words[1])
            elif words[0] == "VEHICLE_SET_GOAL_POS":
                v, p = int(words[1]), int(words[2])
                if p not in self._goals.values():  # the controller refuses a held position
                    self._goals[v] = p

    def _read_plan(self) -> list[tuple[int, int, int]]:
        count = self.client.get_num_steps()
        plan = []
        for step in range(count + 1):
            p = [self.client.get_step_pos(v, step) for v in VEHICLES]
            plan.append((p[0], p[1], p[2]))
        return plan

    def _read_distances(self, s: Scenario) -> list[list[int]]:
        """The controller's distance table, read by moving vehicle 1 over every position;
        the vehicles are put back on their starts afterwards."""
        table = []
        for a in range(MAX_POS):
            self.client.set_current_pos(1, a)
            table.append([self.client.get_dis_to_pos(1, b) for b in range(MAX_POS)])
        for v in VEHICLES:
            self.client.set_current_pos(v, s.starts[v - 1])
        return table


def goal_lines(held: dict[int, int], goals: tuple[int, ...]) -> list[str]:
    """VEHICLE_SET_GOAL_POS lines that bring the goal marking from `held` to `goals`
    (distinct). The controller refuses a goal on a position another goal holds, so a vehicle
    whose new goal is still held waits, and a cycle of goals is opened by parking one of them
    on a free position first."""
    held = dict(held)
    wanted = {v: goals[v - 1] for v in VEHICLES if held.get(v) != goals[v - 1]}
    lines = []
    while wanted:
        holder = {p: v for v, p in held.items()}
        ready = [v for v, p in wanted.items() if p not in holder]
        if ready:
            v = ready[0]
            held[v] = wanted.pop(v)
        else:
            v = next(iter(wanted))
            busy = set(holder) | set(goals)
            held[v] = next(p for p in range(MAX_POS) if p not in busy)
        lines.append(f"VEHICLE_SET_GOAL_POS {v} {held[v]}")
    return lines


def _read_records(path: Path, start: int) -> list[str]:
    try:
        with open(path, "rb") as handle:
            handle.seek(start)
            return handle.read().decode("utf-8", "replace").splitlines()
    except FileNotFoundError:
        return []
