"""The workbench's sessions: each drives its own controller child in its own working directory.

A session holds what the person edits in the page (where the 12 positions are drawn, the roads,
the vehicles' starts and goals, the obstacles) and a transcript of every command sent to its
controller with the answer and the log records the command produced. The controller is told
about the network only when it is built, and about the vehicles when a plan is asked for, so
the roads can be edited freely in between. Every method checks its input and raises `Refused`
with a sentence a person can act on; a controller that exits or stops answering raises
`ControllerDown` and stays down until `restart`.
"""

from __future__ import annotations

import math
import re
import shutil
import signal
import sys
import tempfile
import time
import traceback
from contextlib import contextmanager
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Iterator

from . import svg
from .client import ChildExited, CommandDropped, Exchange, MovaClient, MovaTimeout, ProtocolError, Timeouts
from .mission import Mission, MissionError, Plan, Road, RoadKind
from .protocol import MAX_POS, MAX_ROADS, NO_PATH, VEHICLES

from .explain import explain
from .scenario import PositionInfo, Scenario, ScenarioError, parse_scenario, scenario_to_json

WIDTH, HEIGHT = svg.WIDTH, svg.HEIGHT  # the picture the positions are drawn on
MARGIN = 30  # how close to the picture's edge a position may be dragged
MAX_NAME = 40
MAX_TEXT = 2000
MAX_TRANSCRIPT = 20000
DEFAULT_TIMEOUT_MS = 1000  # the controller's limits when nothing set them
DEFAULT_MEMORY_MB = 2048
KIND_WORDS = {RoadKind.ONE_WAY: "one-way road", RoadKind.ONE_LANE: "one-lane road",
              RoadKind.TWO_LANES: "two-lane road"}
_CONTROL = re.compile(r"[\x00-\x1f\x7f]")


class Refused(ValueError):
    """The request cannot be done as asked; the message says why, in words."""


class Conflict(Refused):
    """The request does not fit the state the session is in (no plan yet, network not built)."""


class ControllerDown(Exception):
    """The controller exited or stopped answering; the session can restart it."""


# ----- checking input --------------------------------------------------------------------------


def _field(data: dict[str, Any], key: str, what: str | None = None) -> Any:
    if key not in data:
        raise Refused(f"{what or key} is missing")
    return data[key]


def whole(value: Any, what: str, low: int, high: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise Refused(f"{what} must be a whole number from {low} to {high}, not {_show(value)}")
    if not low <= value <= high:
        raise Refused(f"{what} must be from {low} to {high}, not {value}")
    return value


def position(value: Any, what: str) -> int:
    return whole(value, what, 0, MAX_POS - 1)


def optional_position(value: Any, what: str) -> int | None:
    return None if value is None else position(value, what)


def number(value: Any, what: str, low: float, high: float) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
        raise Refused(f"{what} must be a number, not {_show(value)}")
    if not low <= value <= high:
        raise Refused(f"{what} must lie from {low:g} to {high:g}, not {value:g}")
    return float(value)


def text(value: Any, what: str, limit: int) -> str | None:
    if value is None:
        return None
    if not isinstance(value, str):
        raise Refused(f"{what} must be a text, not {_show(value)}")
    if len(value) > limit:
        raise Refused(f"{what} is longer than {limit} characters")
    cleaned = _CONTROL.sub(" ", value).strip()
    return cleaned or None


def road_kind(value: Any) -> RoadKind:
    kinds = [k.value for k in RoadKind]
    if value not in kinds:
        raise Refused(f"the kind of road must be one of {', '.join(kinds)}, not {_show(value)}")
    return RoadKind(value)


def _show(value: Any) -> str:
    shown = repr(value)
    return shown if len(shown) <= 40 else shown[:37] + "..."


def _vehicle_list(value: Any, what: str) -> list[int | None]:
    if not isinstance(value, list) or len(value) != len(VEHICLES):
        raise Refused(f"{what} must list a position (or null) for each of the vehicles 1, 2 and 3")
    found = [optional_position(p, f"{what} of vehicle {v}") for v, p in zip(VEHICLES, value)]
    for v in VEHICLES:
        for w in VEHICLES:
            if v < w and found[v - 1] is not None and found[v - 1] == found[w - 1]:
                raise Refused(f"vehicles {v} and {w} cannot both have position {found[v - 1]} as {what}")
    return found


# ----- the transcript --------------------------------------------------------------------------


@dataclass
class Entry:
    """One command line sent to the controller, what came back and the log records it wrote."""

    seq: int
    action: str
    line: str
    answers: bool
    answer: str | None
    dropped: bool
    records: list[str] = field(default_factory=list)
    note: str | None = None

    def to_json(self) -> dict[str, Any]:
        return {"seq": self.seq, "action": self.action, "line": self.line, "answers": self.answers,
                "answer": self.answer, "dropped": self.dropped, "records": self.records,
                "note": self.note}


def _plan_json(plan: Plan) -> dict[str, Any]:
    return {"answer": plan.found, "steps": [list(s) for s in plan.steps],
            "history": [list(s) for s in plan.history], "goals": list(plan.goals),
            "obstacles": [list(o) for o in plan.obstacles], "num_steps": plan.num_steps if plan.found else None}


# ----- a session -------------------------------------------------------------------------------


class Session:
    """One browser session: its controller child, the network and mission, the transcript."""

    def __init__(self, ident: str, binary: Path, *, timeouts: Timeouts = Timeouts(),
                 root: Path | None = None):
        self.id = ident
        self.binary = binary
        self.timeouts = timeouts
        self.root = root
        self.created = self.last_used = time.monotonic()
        grid = svg.grid_layout()
        self.coords: dict[int, tuple[float, float]] = dict(grid)
        self.names: dict[int, str | None] = {p: None for p in range(MAX_POS)}
        self.roads: list[Road] = []
        self.starts: list[int | None] = [None] * len(VEHICLES)
        self.goals: list[int | None] = [None] * len(VEHICLES)
        self.obstacles: list[tuple[int, int]] = []
        self.timeout_ms: int | None = None
        self.memory_mb: int | None = None
        self.scenario_name: str | None = None
        self.description: str | None = None
        self.built_roads: tuple[Road, ...] | None = None  # the network the controller holds
        self.plan: Plan | None = None
        self.explanation: dict[str, Any] | None = None
        self.distances: list[list[int]] | None = None
        self.message = ""
        self.transcript: list[Entry] = []
        self.dropped_entries = 0
        self._seq = 0
        self._action = "start"
        self._log_offset = 0
        self.restarts = 0
        self.client: MovaClient | None = None
        self.down: str | None = None
        self.workdir: Path | None = None
        try:
            self._start()
        except BaseException:
            self.close()
            raise

    # ----- the controller ------------------------------------------------------------------

    def _start(self) -> None:
        self.workdir = Path(tempfile.mkdtemp(prefix="mova-workbench-", dir=self.root))
        self._log_offset = 0
        self.mission: Mission | None = None
        self.built_roads = None
        self.down = None
        try:
            self.client = MovaClient(self.binary, self.workdir, timeouts=self.timeouts,
                                     on_exchange=self._record)
        except Exception as error:  # the binary cannot be started at all
            self.client = None
            self.down = f"the controller could not be started: {error}"
            raise ControllerDown(self.down) from None
        self.mission = Mission(self.client)
        with self._controller("start the controller"):
            self.client.enable_logging()
            self.client.init()
            if self.timeout_ms is not None:
                self.client.set_timeout(self.timeout_ms)
            if self.memory_mb is not None:
                self.client.set_max_ram(self.memory_mb)

    @contextmanager
    def _controller(self, action: str) -> Iterator[MovaClient]:
        """Runs commands of one action; a controller that exits or stops answering is marked down."""
        if self.client is None or self.down is not None:
            raise ControllerDown(self.down or "the controller is not running")
        self._action = action
        client = self.client
        try:
            yield client
        except ChildExited as error:
            code = error.returncode
            if code is None:
                how = ""
            elif code < 0:
                how = f" (ended by signal {-code}, {_signal_name(-code)})"
            else:
                how = f" (exit status {code})"
            self._mark_down(f"the controller exited during {error.command}{how}", error.command)
        except MovaTimeout as error:
            client.kill()
            self._mark_down(f"the controller did not answer {error.command} within {error.seconds:g} s "
                            "and was stopped", error.command)
        except ProtocolError as error:
            client.kill()
            self._mark_down(f"the controller wrote something unexpected ({error}) and was stopped", None)
        except CommandDropped as error:
            raise Conflict(f"the controller dropped {error.command} without an answer; its log records "
                           "in the command panel tell why") from None
        except MissionError as error:
            raise Conflict(f"the controller does not hold what the workbench sent: {error}") from None

    def _mark_down(self, message: str, command: str | None) -> None:
        self.down = message
        self.plan = None
        self._append(Entry(0, self._action, command or "(no command)", False, None, False,
                           self._new_records(), note=message))
        raise ControllerDown(message)

    def _record(self, exchange: Exchange) -> None:
        self._append(Entry(0, self._action, exchange.line, exchange.answers, exchange.answer,
                           exchange.dropped, self._new_records()))

    def _append(self, entry: Entry) -> None:
        self._seq += 1
        entry.seq = self._seq
        self.transcript.append(entry)
        if len(self.transcript) > MAX_TRANSCRIPT:
            del self.transcript[0]
            self.dropped_entries += 1

    def _new_records(self) -> list[str]:
        """The log lines the controller wrote since the last look."""
        if self.workdir is None:
            return []
        try:
            with open(self.workdir / "mova.log", "rb") as log:
                log.seek(self._log_offset)
                data = log.read(1 << 20)
        except OSError:
            return []
        end = data.rfind(b"\n") + 1
        self._log_offset += end
        return [line.decode("utf-8", "replace").rstrip("\r") for line in data[:end].split(b"\n")[:-1]]

    def restart(self) -> None:
        """Ends the controller (if it still runs) and starts a new one with the session's settings;
        the network is built again when it was built before."""
        was_built = bool(self.roads) and self.built_roads == tuple(self.roads)
        self._stop()
        self.restarts += 1
        self._append(Entry(0, "restart", "# a new controller starts here", False, None, False,
                           note="the controller was restarted"))
        self.plan = None
        self.explanation = None
        self._start()
        if was_built:
            self.build(action="build the network again")
        self.message = "A new controller is running" + (" and holds the network again." if was_built else ".")

    def _stop(self) -> None:
        if self.client is not None:
            self.client.kill()
            self.client = None
        if self.workdir is not None:
            shutil.rmtree(self.workdir, ignore_errors=True)
            self.workdir = None

    def close(self) -> None:
        """Ends the controller child and removes the working directory."""
        self._stop()
        self.down = "the session has ended"

    # ----- the network ---------------------------------------------------------------------

    def _network_changed(self) -> None:
        self.plan = None
        self.explanation = None
        self.distances = None

    def move_position(self, data: dict[str, Any]) -> None:
        p = position(_field(data, "position"), "position")
        if "x" in data or "y" in data:
            x = number(_field(data, "x"), "x", MARGIN, WIDTH - MARGIN)
            y = number(_field(data, "y"), "y", MARGIN, HEIGHT - MARGIN)
            self.coords[p] = (round(x, 1), round(y, 1))
        if "name" in data:
            self.names[p] = text(data["name"], "the name of a position", MAX_NAME)
        self.message = ""

    def add_road(self, data: dict[str, Any]) -> None:
        kind = road_kind(_field(data, "kind", "the kind of road"))
        a = position(_field(data, "from", "the first position"), "the first position")
        b = position(_field(data, "to", "the second position"), "the second position")
        if a == b:
            raise Refused(f"a road joins two different positions; both ends are {a}")
        # Roads may run side by side (a second one-lane road lets vehicles pass each other), but
        # the same one-way road twice, or anything beside a two-lane road, adds nothing.
        for road in self.roads:
            if not road.joins(a, b):
                continue
            same_way = road.kind is RoadKind.ONE_WAY and kind is RoadKind.ONE_WAY and (road.a, road.b) == (a, b)
            if same_way or RoadKind.TWO_LANES in (road.kind, kind):
                raise Refused(f"positions {a} and {b} are already joined by a {KIND_WORDS[road.kind]}"
                              + (f" from {road.a} to {road.b}" if road.kind is RoadKind.ONE_WAY else "")
                              + f"; a {KIND_WORDS[kind]} beside it adds nothing")
        if len(self.roads) >= MAX_ROADS:
            raise Refused(f"the controller holds at most {MAX_ROADS} roads; remove one before adding another")
        self.roads.append(Road(kind, a, b))
        self._network_changed()
        self.message = (f"Added a {KIND_WORDS[kind]} {'from' if kind is RoadKind.ONE_WAY else 'between'} "
                        f"{a} {'to' if kind is RoadKind.ONE_WAY else 'and'} {b} "
                        f"({len(self.roads)} of {MAX_ROADS} roads).")

    def remove_road(self, data: dict[str, Any]) -> None:
        if not self.roads:
            raise Refused("there is no road to remove")
        index = whole(_field(data, "index", "the road's number"), "the road's number", 0, len(self.roads) - 1)
        road = self.roads.pop(index)
        still = any(r.joins(road.a, road.b) for r in self.roads)
        if not still:
            self.obstacles = [o for o in self.obstacles if not road.joins(*o)]
        self._network_changed()
        self.message = f"Removed the {KIND_WORDS[road.kind]} between {road.a} and {road.b}."

    def clear_roads(self) -> None:
        self.roads.clear()
        self.obstacles.clear()
        self._network_changed()
        self.message = "Removed every road."

    @property
    def built(self) -> bool:
        return self.down is None and self.built_roads == tuple(self.roads) and bool(self.roads)

    def build(self, action: str = "build the network") -> None:
        """Sends the roads and builds; the obstacles the session holds are sent again."""
        if not self.roads:
            raise Refused("add at least one road before building")
        assert self.mission is not None
        with self._controller(action) as client:
            self.mission.roads = list(self.roads)
            self.mission.build()
            self.built_roads = tuple(self.roads)
            if self.mission.obstacles != self.obstacles:
                if self.mission.obstacles:
                    client.obstacles_clean()
                self.mission.obstacles = []
                for a, b in self.obstacles:
                    self.mission.add_obstacle(a, b)
        self.plan = None
        self.explanation = None
        self.message = f"Built the network of {len(self.roads)} road{'s' if len(self.roads) != 1 else ''}."

    def distance_table(self) -> None:
        """Asks the controller for the road distance between every two positions.

        The controller tells distances from a vehicle's position only, so vehicle 1 visits every
        position in turn; afterwards every vehicle is put back where the controller held it.
        """
        self._need_built()
        table: list[list[int]] = []
        with self._controller("distance table") as client:
            held = [client.get_current_pos(v) for v in VEHICLES]
            for origin in range(MAX_POS):
                client.set_current_pos(1, origin)
                table.append([client.get_dis_to_pos(1, to) for to in range(MAX_POS)])
            for v in VEHICLES:
                if held[v - 1] is not None:
                    client.set_current_pos(v, held[v - 1])
        self.distances = table
        self.message = "The distance table, as the controller computed it when the network was built."

    def _need_built(self) -> None:
        if not self.roads:
            raise Conflict("add roads and build the network first")
        if not self.built:
            self.build()

    # ----- the mission ---------------------------------------------------------------------

    def set_vehicles(self, data: dict[str, Any]) -> None:
        starts = _vehicle_list(_field(data, "starts", "the starts"), "start")
        goals = _vehicle_list(_field(data, "goals", "the goals"), "goal")
        if starts != self.starts or goals != self.goals:
            self.plan = None
            self.explanation = None
        self.starts, self.goals = starts, goals
        self.message = ""

    def run_plan(self) -> None:
        missing = [f"the start of vehicle {v}" for v in VEHICLES if self.starts[v - 1] is None]
        missing += [f"the goal of vehicle {v}" for v in VEHICLES if self.goals[v - 1] is None]
        if missing:
            raise Conflict("place " + ", ".join(missing) + " first")
        for v in VEHICLES:
            for w in VEHICLES:
                if v < w and self.goals[v - 1] == self.goals[w - 1]:
                    raise Conflict(f"vehicles {v} and {w} share the goal {self.goals[v - 1]}: the controller "
                                   "refuses a goal on a position another goal holds (\"Goal position not "
                                   "empty\"), so no plan can bring both there; give each vehicle its own goal")
        self._need_built()
        assert self.mission is not None
        with self._controller("plan"):
            self.mission.place(self.starts, self.goals)  # type: ignore[arg-type]
            first = len(self.transcript)
            try:
                plan = self.mission.plan()
            except MissionError as error:
                raise Conflict(f"the controller's plan does not hold together: {error}") from None
            evaluations = self.mission.client.evaluations()
        self._after_plan(plan, first, "MOVA_START_MISSION", evaluations)

    def confirm(self) -> None:
        """Plans again around the obstacles from where the vehicles stand (OBSTACLES_CONFIRM)."""
        if self.plan is None or self.mission is None or self.mission.starts is None:
            raise Conflict("plan first; Confirm plans again from where the vehicles stand")
        if not self.built:
            raise Conflict("the network has changed since the plan; plan again")
        with self._controller("confirm the obstacles"):
            first = len(self.transcript)
            try:
                plan = self.mission.replan()
            except MissionError as error:
                raise Conflict(f"the controller's plan does not hold together: {error}") from None
            evaluations = self.mission.client.evaluations()
        self._after_plan(plan, first, "OBSTACLES_CONFIRM", evaluations)

    def _after_plan(self, plan: Plan, first: int, command: str, evaluations: int) -> None:
        self.plan = plan
        records = [r for e in self.transcript[first:] for r in e.records]
        self.explanation = self._explain(plan, records, evaluations)
        if plan.found:
            self.message = (f"{command} answered TRUE: a plan of {plan.num_steps} "
                            f"step{'s' if plan.num_steps != 1 else ''}.")
        else:
            self.message = f"{command} answered FALSE: the controller found no plan."

    def _explain(self, plan: Plan, records: list[str], evaluations: int) -> dict[str, Any]:
        names = {p: name for p, name in self.names.items() if name}
        try:
            result = explain(list(plan.roads), plan.steps[0], plan.goals, list(plan.obstacles),
                             answer=plan.found, controller_plan=list(plan.steps) if plan.found else None,
                             distances=self.distances, log_records=records, evaluations=evaluations,
                             timeout_ms=self.timeout_ms, memory_mb=self.memory_mb, names=names)
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
        with self._controller("move one step"):
            try:
                moves, arrived = self.mission.advance()
            except MissionError as error:
                raise Conflict(f"the controller did not follow its plan: {error}") from None
        self.plan = self.mission.plan_
        made = ", ".join(f"vehicle {m.vehicle} {m.origin} to {m.destination}" for m in moves) or "nothing moved"
        self.message = f"Moved: {made}." + (" Every vehicle stands on its goal." if arrived else "")

    def add_obstacle(self, data: dict[str, Any]) -> None:
        a = position(_field(data, "from", "the first end"), "the first end")
        b = position(_field(data, "to", "the second end"), "the second end")
        if not any(r.joins(a, b) for r in self.roads):
            raise Refused(f"no road joins {a} and {b}")
        if any({a, b} == set(o) for o in self.obstacles):
            raise Refused(f"the road between {a} and {b} is already blocked")
        self._need_built()
        assert self.mission is not None
        with self._controller("block a road"):
            self.mission.add_obstacle(a, b)
        self.obstacles.append((a, b))
        self.message = (f"The road between {a} and {b} is blocked. "
                        + ("Confirm to plan again around it." if self.plan is not None else ""))

    def clear_obstacles(self) -> None:
        if not self.obstacles:
            raise Refused("no road is blocked")
        if self.built:
            assert self.mission is not None
            with self._controller("clear the obstacles") as client:
                client.obstacles_clean()
                self.mission.obstacles = []
        self.obstacles = []
        self.message = "No road is blocked now." + (" Confirm to plan again." if self.plan is not None else "")

    def settings(self, data: dict[str, Any], action: str = "settings") -> None:
        timeout = data.get("timeout_ms")
        memory = data.get("memory_mb")
        if timeout is not None:
            timeout = whole(timeout, "the planning time limit (ms)", 0, 600_000)
        if memory is not None:
            memory = whole(memory, "the memory limit (MB)", 0, 1 << 20)
        with self._controller(action) as client:
            if timeout is not None:
                client.set_timeout(timeout)
                self.timeout_ms = timeout
            if memory is not None:
                client.set_max_ram(memory)
                self.memory_mb = memory
        self.message = "Settings sent to the controller."

    # ----- scenario files ------------------------------------------------------------------

    def load_scenario(self, data: Any) -> None:
        try:
            scenario = parse_scenario(data, "the scenario file")
        except ScenarioError as error:
            raise Refused(f"the scenario file cannot be used: {error}") from None
        if len(scenario.roads) > MAX_ROADS:
            raise Refused(f"the scenario file has {len(scenario.roads)} roads; the controller holds at most {MAX_ROADS}")
        for a, b in scenario.obstacles:
            if not any(r.joins(a, b) for r in scenario.roads):
                raise Refused(f"the scenario file blocks the road between {a} and {b}, but no road joins them")
        coords, scaled = _fit(scenario.positions)
        names = {p: text(info.name, f"the name of position {p}", MAX_NAME) if info is not None else None
                 for p in range(MAX_POS) for info in [scenario.positions.get(p)]}
        name = text(scenario.name, "the scenario's name", MAX_TEXT)
        description = text(scenario.description, "the description", MAX_TEXT)
        self.names = names
        self.coords = coords
        self.roads = list(scenario.roads)
        self.starts, self.goals = list(scenario.starts), list(scenario.goals)
        self.obstacles = [tuple(o) for o in scenario.obstacles]  # type: ignore[misc]
        self.scenario_name, self.description = name, description
        self._network_changed()
        # Limits the file leaves out are the controller's own defaults.
        timeout = scenario.timeout_ms if scenario.timeout_ms is not None else DEFAULT_TIMEOUT_MS
        memory = scenario.memory_mb if scenario.memory_mb is not None else DEFAULT_MEMORY_MB
        change = {"timeout_ms": timeout if timeout != (self.timeout_ms if self.timeout_ms is not None
                                                      else DEFAULT_TIMEOUT_MS) else None,
                  "memory_mb": memory if memory != (self.memory_mb if self.memory_mb is not None
                                                    else DEFAULT_MEMORY_MB) else None}
        if change["timeout_ms"] is not None or change["memory_mb"] is not None:
            self.settings(change, action="load a scenario")
        self.timeout_ms, self.memory_mb = scenario.timeout_ms, scenario.memory_mb
        if self.roads:
            self.build(action="load a scenario")
        title = f"“{self.scenario_name}”" if self.scenario_name else "the scenario"
        self.message = (f"Loaded {title}: {len(self.roads)} roads, vehicles and goals placed"
                        + (f", {len(self.obstacles)} blocked" if self.obstacles else "") + ". "
                        + ("The positions were scaled to fit the picture. " if scaled else "")
                        + "Plan to send the mission.")

    def scenario(self) -> dict[str, Any]:
        if None in self.starts or None in self.goals:
            raise Conflict("place the start and goal of every vehicle before saving a scenario")
        positions = {p: PositionInfo(self.names[p], self.coords[p][0], self.coords[p][1]) for p in range(MAX_POS)}
        scenario = Scenario(roads=list(self.roads), starts=tuple(self.starts),  # type: ignore[arg-type]
                            goals=tuple(self.goals), obstacles=list(self.obstacles),  # type: ignore[arg-type]
                            positions=positions, name=self.scenario_name, description=self.description,
                            timeout_ms=self.timeout_ms, memory_mb=self.memory_mb, expect=None)
        return scenario_to_json(scenario)

    # ----- what the page shows -------------------------------------------------------------

    def state_seq(self) -> int:
        """The sequence number of the last transcript entry."""
        return self._seq

    def commands_text(self) -> str:
        lines = ["# Commands a MOVA workbench session sent to its controller, in order.",
                 "# `mova-host run FILE` plays them again; it does not send the lines that begin with",
                 "# \"#\" (comments), and the controller would drop them."]
        if self.dropped_entries:
            lines.append(f"# (the first {self.dropped_entries} commands are no longer kept)")
        action = None
        for entry in self.transcript:
            if entry.note is not None:
                lines.append(f"# {entry.note}")
                continue
            if entry.action != action:
                action = entry.action
                lines.append(f"# {action}")
            lines.append(entry.line)
        return "\n".join(lines) + "\n"

    def state(self, since: int = 0) -> dict[str, Any]:
        """Everything the page draws; the transcript from entry `since` on (sequence numbers)."""
        first = max(0, len(self.transcript) - (self._seq - since)) if since else 0
        return {
            "id": self.id,
            "controller": {"running": self.down is None, "pid": self.client.pid if self.client and
                           self.down is None else None, "problem": self.down, "restarts": self.restarts},
            "positions": [{"position": p, "x": self.coords[p][0], "y": self.coords[p][1],
                           "name": self.names[p]} for p in range(MAX_POS)],
            "roads": [{"index": i, "kind": r.kind.value, "from": r.a, "to": r.b} for i, r in enumerate(self.roads)],
            "max_roads": MAX_ROADS,
            "built": self.built,
            "starts": list(self.starts),
            "goals": list(self.goals),
            "obstacles": [list(o) for o in self.obstacles],
            "settings": {"timeout_ms": self.timeout_ms, "memory_mb": self.memory_mb},
            "scenario": {"name": self.scenario_name, "description": self.description},
            "plan": _plan_json(self.plan) if self.plan is not None else None,
            "explanation": self.explanation,
            "distances": self.distances,
            "no_path": NO_PATH,
            "message": self.message,
            "transcript": [e.to_json() for e in self.transcript[first:]],
            "transcript_seq": self._seq,
        }


def _signal_name(number: int) -> str:
    try:
        return signal.Signals(number).name
    except ValueError:
        return "unknown signal"


def _fit(positions: dict[int, PositionInfo]) -> tuple[dict[int, tuple[float, float]], bool]:
    """The scenario's coordinates, scaled into the picture when some lie outside it."""
    coords = dict(svg.grid_layout())
    given = {p: (float(i.x), float(i.y)) for p, i in positions.items()
             if isinstance(i.x, (int, float)) and isinstance(i.y, (int, float))
             and not isinstance(i.x, bool) and not isinstance(i.y, bool)
             and math.isfinite(i.x) and math.isfinite(i.y)}
    if not given:
        return coords, False
    xs = [x for x, _ in given.values()]
    ys = [y for _, y in given.values()]
    inside = min(xs) >= MARGIN and max(xs) <= WIDTH - MARGIN and min(ys) >= MARGIN and max(ys) <= HEIGHT - MARGIN
    if not inside:
        span_x, span_y = max(xs) - min(xs) or 1.0, max(ys) - min(ys) or 1.0
        scale = min((WIDTH - 4 * MARGIN) / span_x, (HEIGHT - 4 * MARGIN) / span_y)
        given = {p: (round(2 * MARGIN + (x - min(xs)) * scale, 1), round(2 * MARGIN + (y - min(ys)) * scale, 1))
                 for p, (x, y) in given.items()}
    coords.update(given)
    return coords, not inside
