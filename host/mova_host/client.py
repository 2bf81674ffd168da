"""A client that runs the controller as a child process and speaks its line protocol.

The controller answers queries only, and drops a line it cannot execute without a word. After
every command the client therefore writes a sentinel, an information command whose line can
never be an answer (the watermark line). Reading up to the sentinel tells exactly what the
command wrote: its answer, or nothing when the line was dropped.
"""

from __future__ import annotations

import os
import queue
import shutil
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

from . import protocol
from .protocol import COMMANDS, Command, ProtocolError

__all__ = [
    "ChildExited",
    "CommandDropped",
    "Exchange",
    "MovaClient",
    "MovaError",
    "MovaTimeout",
    "ProtocolError",
    "Timeouts",
    "find_binary",
]


class MovaError(Exception):
    """Base of the errors this client raises about the controller."""


class CommandDropped(MovaError):
    """The controller dropped a query line: it wrote no answer."""

    def __init__(self, command: str, line: str):
        super().__init__(f"{command} was dropped by the controller (line {line!r})")
        self.command = command
        self.line = line


class MovaTimeout(MovaError, TimeoutError):
    """No answer within the time-out; the child keeps running and the client resynchronises."""

    def __init__(self, command: str, seconds: float):
        super().__init__(f"no answer to {command} within {seconds:g} s")
        self.command = command
        self.seconds = seconds


class ChildExited(MovaError):
    """The controller process is gone."""

    def __init__(self, command: str, returncode: int | None, stderr: str):
        status = "unknown status" if returncode is None else f"status {returncode}"
        detail = f": {stderr.strip()}" if stderr.strip() else ""
        super().__init__(f"the controller exited ({status}) during {command}{detail}")
        self.command = command
        self.returncode = returncode
        self.stderr = stderr


@dataclass(frozen=True)
class Timeouts:
    """Time-outs in seconds.

    `answer` bounds every ordinary command. A planning command (MOVA_START_MISSION,
    OBSTACLES_CONFIRM) computes for up to the planner's time limit and then pauses about 4.4
    times as long as it computed; it gets `planning_margin` + `planning_factor` times the time
    limit last set on the controller (1 s until SETTINGS_SET_TIMEOUT changes it).
    """

    answer: float = 5.0
    start: float = 5.0
    planning_margin: float = 5.0
    planning_factor: float = 6.0
    close: float = 5.0


@dataclass(frozen=True)
class Exchange:
    """One command line and what came back for it."""

    line: str
    command: str | None  # the command word, or None when no command matched
    answers: bool  # the command is a query
    answer: str | None  # the answer line, None for no answer
    dropped: bool  # a query that wrote nothing, or a line the console refuses outright


_EOF = object()


def _project_binary() -> Path:
    return Path(__file__).resolve().parents[2] / "build" / "mova"


def find_binary(binary: str | os.PathLike[str] | None = None) -> Path:
    """The controller executable: the one named, else $MOVA_BINARY, else the project's own
    build (build/mova at the top of the repository), else `mova` on the PATH."""
    if binary is not None:
        path = Path(binary)
        if not path.is_file():
            raise FileNotFoundError(f"no controller executable at {path}")
        return path
    from_environment = os.environ.get("MOVA_BINARY")
    if from_environment:
        path = Path(from_environment)
        if not path.is_file():
            raise FileNotFoundError(f"MOVA_BINARY names {path}, which does not exist")
        return path
    own = _project_binary()
    if own.is_file() and os.access(own, os.X_OK):
        return own
    on_path = shutil.which("mova")
    if on_path:
        return Path(on_path)
    raise FileNotFoundError("no controller executable: name one, set MOVA_BINARY or build the project")


class MovaClient:
    """One controller process and the protocol spoken with it.

    Typed methods check their arguments before anything is written and raise TypeError or
    ValueError; a query the controller drops raises CommandDropped; a missing answer raises
    MovaTimeout; a dead child raises ChildExited. `request(line)` sends any line as it is.
    """

    def __init__(
        self,
        binary: str | os.PathLike[str] | None = None,
        workdir: str | os.PathLike[str] | None = None,
        *,
        timeouts: Timeouts = Timeouts(),
        on_exchange: Callable[[Exchange], None] | None = None,
    ):
        self.binary = find_binary(binary).resolve()
        self.timeouts = timeouts
        self.on_exchange = on_exchange
        self._own_workdir = workdir is None
        self.workdir = Path(tempfile.mkdtemp(prefix="mova-")) if workdir is None else Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        self._planner_limit = 1.0  # seconds; the controller's initial planning time limit
        # Exchanges still owing lines, oldest first: (name, sentinel line, command).
        self._pending: list[tuple[str, str, Command | None]] = []
        self._stderr: list[bytes] = []
        self._lines: queue.Queue[object] = queue.Queue()
        self._dead = False
        self._process = subprocess.Popen(
            [str(self.binary)],
            cwd=self.workdir,
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
        )
        threading.Thread(target=self._read_stdout, daemon=True).start()
        threading.Thread(target=self._read_stderr, daemon=True).start()
        try:
            self._write(protocol.WATERMARK_COMMAND, "start-up")
            self.watermark_line = self._read("start-up", time.monotonic() + timeouts.start, timeouts.start)
            if protocol.looks_like_answer(self.watermark_line):
                raise ProtocolError(f"the watermark line {self.watermark_line!r} looks like an answer")
        except BaseException:
            self.kill()
            raise

    # ----- process and line handling -------------------------------------------------------

    @property
    def pid(self) -> int:
        return self._process.pid

    def _read_stdout(self) -> None:
        assert self._process.stdout is not None
        for raw in iter(self._process.stdout.readline, b""):
            self._lines.put(raw.rstrip(b"\n").decode("utf-8", "replace"))
        self._process.stdout.close()
        self._lines.put(_EOF)

    def _read_stderr(self) -> None:
        assert self._process.stderr is not None
        for raw in iter(self._process.stderr.readline, b""):
            if len(self._stderr) < 100:
                self._stderr.append(raw)
        self._process.stderr.close()

    def _exited(self, command: str) -> ChildExited:
        self._dead = True
        try:
            code = self._process.wait(timeout=1.0)
        except subprocess.TimeoutExpired:
            code = None
        time.sleep(0.05)  # let the stderr reader take the diagnostic
        self._cleanup()
        return ChildExited(command, code, b"".join(self._stderr).decode("utf-8", "replace"))

    def _write(self, text: str, command: str) -> None:
        if self._dead or self._process.poll() is not None:
            raise self._exited(command)
        assert self._process.stdin is not None
        try:
            self._process.stdin.write(text.encode("utf-8") + b"\n")
            self._process.stdin.flush()
        except (BrokenPipeError, OSError, ValueError):
            raise self._exited(command) from None

    def _read(self, command: str, deadline: float, seconds: float) -> str:
        """One line, waiting until `deadline` at most; never waits on a dead child."""
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise MovaTimeout(command, seconds)
            try:
                item = self._lines.get(timeout=min(remaining, 0.25))
            except queue.Empty:
                if self._process.poll() is not None and self._lines.empty():
                    raise self._exited(command) from None
                continue
            if item is _EOF:
                raise self._exited(command)
            assert isinstance(item, str)
            return item

    def _time_out_for(self, command: Command | None) -> float:
        if command is not None and command.name in protocol.PLANNING_COMMANDS:
            return self.timeouts.planning_margin + self.timeouts.planning_factor * self._planner_limit
        return self.timeouts.answer

    def _drain_pending(self) -> None:
        """After a time-out: reads what the unanswered exchanges still owe, up to their sentinels."""
        while self._pending:
            name, sentinel, command = self._pending[0]
            seconds = self._time_out_for(command)
            deadline = time.monotonic() + seconds
            while self._read(name, deadline, seconds) != sentinel:
                pass
            self._pending.pop(0)

    def resync(self) -> None:
        """Waits for the lines of commands that timed out; raises MovaTimeout if they still do not come."""
        self._drain_pending()

    # ----- the exchange --------------------------------------------------------------------

    def request(self, line: str) -> Exchange:
        """Sends one line as it is and returns what it wrote (raises only for time-outs and a dead child).

        A query gets its answer or `dropped`; a command without an answer is marked `dropped`
        only when the console's own checks or the argument ranges are sure to refuse it.
        """
        parsed = protocol.parse_line(line)
        return self._exchange(parsed)

    def _exchange(self, parsed: protocol.ParsedLine) -> Exchange:
        self._drain_pending()
        command = parsed.command
        name = command.name if command is not None else parsed.text.split(" ")[0] or "(empty line)"
        # The watermark query is itself answered with the watermark line; its sentinel is the
        # generation line, which no other exchange of the watermark command can produce.
        sentinel_command = protocol.WATERMARK_COMMAND
        if command is not None and command.name == protocol.WATERMARK_COMMAND:
            sentinel_command = protocol.GENERATION_COMMAND
        sentinel = self.watermark_line if sentinel_command == protocol.WATERMARK_COMMAND else "2024"
        seconds = self._time_out_for(command)
        self._pending.append((name, sentinel, command))
        self._write(parsed.text + "\n" + sentinel_command, name)
        deadline = time.monotonic() + seconds
        first = self._read(name, deadline, seconds)
        answer: str | None = None
        if first != sentinel:
            answer = first
            closing = self._read(name, deadline, seconds)
            if closing != sentinel:
                self._pending.pop(0)
                self._dead = True
                self.kill()
                raise ProtocolError(f"{name} wrote two lines: {answer!r}, {closing!r}")
        self._pending.pop(0)
        answers = command is not None and command.answers
        if answer is not None and not answers:
            raise ProtocolError(f"{name} takes no answer but wrote {answer!r}")
        if answer is None and command is not None and not parsed.problem:
            self._note_settings(parsed)
        dropped = (answers and answer is None) or (not answers and parsed.problem is not None)
        exchange = Exchange(parsed.text, command.name if command else None, answers, answer, dropped)
        if self.on_exchange is not None:
            self.on_exchange(exchange)
        return exchange

    def _note_settings(self, parsed: protocol.ParsedLine) -> None:
        assert parsed.command is not None
        if parsed.command.name == "SETTINGS_SET_TIMEOUT":
            value = protocol.integer_word(parsed.text.split(" ")[1])
            assert value is not None
            self._planner_limit = value / 1000.0

    def _call(self, name: str, *args: int) -> int | bool | float | str | None:
        command = COMMANDS[name]
        for index, (kind, value) in enumerate(zip(command.args, args, strict=True), start=1):
            protocol.check_argument(kind, value, f"{name} argument {index} ({kind.name})")
        parsed = protocol.parse_line(protocol.format_line(command, *args))
        exchange = self._exchange(parsed)
        if not command.answers:
            return None
        if exchange.answer is None:
            raise CommandDropped(name, parsed.text)
        return protocol.decode_answer(command, exchange.answer)

    # ----- ending --------------------------------------------------------------------------

    def close(self) -> int | None:
        """Ends the input, waits for the controller to exit (kills it after the close time-out)."""
        if self._process.stdin is not None and not self._process.stdin.closed:
            try:
                self._process.stdin.close()
            except OSError:
                pass
        try:
            code = self._process.wait(timeout=self.timeouts.close)
        except subprocess.TimeoutExpired:
            self.kill()
            code = self._process.returncode
        self._dead = True
        self._cleanup()
        return code

    def kill(self) -> None:
        """Kills the controller process (this client's own child) at once."""
        if self._process.poll() is None:
            self._process.kill()
            self._process.wait()
        self._dead = True
        self._cleanup()

    def _cleanup(self) -> None:
        for stream in (self._process.stdin,):
            if stream is not None and not stream.closed:
                try:
                    stream.close()
                except OSError:
                    pass
        if self._own_workdir:
            shutil.rmtree(self.workdir, ignore_errors=True)

    def __enter__(self) -> MovaClient:
        return self

    def __exit__(self, *exc: object) -> None:
        if exc[0] is None:
            self.close()
        else:
            self.kill()

    # ----- one method per command ----------------------------------------------------------

    def init(self) -> None:
        """MOVA_INIT: writes the notice files if missing; pauses 0.369 s."""
        self._call("MOVA_INIT")

    def generation(self) -> str:
        return str(self._call("MOVA_GENERATION"))

    def build_version(self) -> str:
        return str(self._call("MOVA_BUILD_VERSION"))

    def start_mission(self) -> bool:
        """MOVA_START_MISSION: plans from the current to the goal positions; True when a plan exists."""
        return bool(self._call("MOVA_START_MISSION"))

    def get_num_steps(self) -> int:
        return int(self._call("MOVA_GET_NUM_STEPS"))  # type: ignore[arg-type]

    def end_mission(self) -> None:
        self._call("MOVA_END_MISSION")

    def set_current_pos(self, vehicle: int, position: int) -> None:
        self._call("VEHICLE_SET_CURRENT_POS", vehicle, position)

    def get_current_pos(self, vehicle: int) -> int | None:
        """The vehicle's current position, None when it has none."""
        value = int(self._call("VEHICLE_GET_CURRENT_POS", vehicle))  # type: ignore[arg-type]
        return None if value == -1 else value

    def get_dis_to_pos(self, vehicle: int, position: int) -> int:
        """Road distance from the vehicle's current position; NO_PATH (32767) when unreachable."""
        return int(self._call("VEHICLE_GET_DIS_TO_POS", vehicle, position))  # type: ignore[arg-type]

    def set_goal_pos(self, vehicle: int, position: int) -> None:
        self._call("VEHICLE_SET_GOAL_POS", vehicle, position)

    def get_next_pos(self, vehicle: int) -> int:
        """Position after the next step; 0 also stands for "not in the plan"."""
        return int(self._call("VEHICLE_GET_NEXT_POS", vehicle))  # type: ignore[arg-type]

    def get_step_pos(self, vehicle: int, step: int) -> int:
        """Position at a step of the plan (0 is now); 0 also stands for "not in the plan"."""
        return int(self._call("VEHICLE_GET_STEP_POS", vehicle, step))  # type: ignore[arg-type]

    def moved_forward(self) -> bool:
        """Reports that the vehicles made the next step; True when they now stand on their goals."""
        return bool(self._call("VEHICLE_MOVED_FORWARD"))

    def goal_reached(self) -> bool:
        return bool(self._call("VEHICLE_GOAL_REACHED"))

    def environment_clean(self) -> None:
        self._call("ENVIRONMENT_CLEAN")

    def environment_build(self) -> None:
        self._call("ENVIRONMENT_BUILD")

    def get_max_pos(self) -> int:
        return int(self._call("ENVIRONMENT_GET_MAX_POS"))  # type: ignore[arg-type]

    def get_max_roads(self) -> int:
        return int(self._call("ENVIRONMENT_GET_MAX_ROADS"))  # type: ignore[arg-type]

    def add_one_way_road(self, origin: int, destination: int) -> None:
        self._call("ENVIRONMENT_ADD_ONE_WAY_ROAD", origin, destination)

    def add_two_way_road_one_lane(self, first: int, second: int) -> None:
        self._call("ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE", first, second)

    def add_two_way_road_two_lanes(self, first: int, second: int) -> None:
        self._call("ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES", first, second)

    def obstacles_clean(self) -> None:
        self._call("OBSTACLES_CLEAN")

    def add_obstacle(self, origin: int, destination: int) -> None:
        self._call("OBSTACLES_ADD_OBSTACLE", origin, destination)

    def obstacles_count(self) -> int:
        return int(self._call("OBSTACLES_GET_NUM"))  # type: ignore[arg-type]

    def obstacle_present(self, first: int, second: int) -> bool:
        return bool(self._call("OBSTACLES_PRESENT", first, second))

    def confirm_obstacles(self) -> bool:
        """OBSTACLES_CONFIRM: plans again around the obstacles; True when a plan exists."""
        return bool(self._call("OBSTACLES_CONFIRM"))

    def set_max_ram(self, megabytes: int) -> None:
        self._call("SETTINGS_SET_MAX_RAM", megabytes)

    def set_timeout(self, milliseconds: int) -> None:
        """The planner's time limit; the client's planning time-out follows it."""
        self._call("SETTINGS_SET_TIMEOUT", milliseconds)

    def enable_logging(self) -> None:
        self._call("SETTINGS_ENABLE_LOGGING")

    def disable_logging(self) -> None:
        self._call("SETTINGS_DISABLE_LOGGING")

    def num_vehicles(self) -> int:
        return int(self._call("MONITORING_GET_NUM_VEHICLES"))  # type: ignore[arg-type]

    def cpu_time(self) -> float:
        """Seconds the last search reported."""
        return float(self._call("MONITORING_GET_CPU_TIME"))  # type: ignore[arg-type]

    def ram_usage(self) -> int:
        return int(self._call("MONITORING_GET_RAM_USAGE"))  # type: ignore[arg-type]

    def evaluations(self) -> int:
        return int(self._call("MONITORING_GET_EVALUATIONS"))  # type: ignore[arg-type]

    def author(self) -> str:
        return str(self._call("INFORMATION_GET_AUTHOR"))

    def organisation(self) -> str:
        return str(self._call("INFORMATION_GET_ORG"))

    def copyright(self) -> str:
        return str(self._call("INFORMATION_GET_COPYRIGHT"))

    def watermark(self) -> str:
        return str(self._call("INFORMATION_GET_WATERMARK"))

