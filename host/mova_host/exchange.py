"""One command line to the controller and what it wrote back, over a sentinel.

The controller answers queries only, and drops a line it cannot execute without a word. After
every command the channel therefore writes a sentinel, an information command whose line can
never be an answer (the watermark line). Reading up to the sentinel tells exactly what the
command wrote: its answer, or nothing when the line was dropped.
"""

from __future__ import annotations

import os
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

from . import protocol
from .errors import ProtocolError
from .limits import DEFAULT_TIMEOUT_MS
from .process import ControllerProcess, find_binary
from .protocol import Command, ParsedLine


@dataclass(frozen=True)
class Timeouts:
    """Time-outs in seconds.

    `answer` bounds every ordinary command. A planning command (MOVA_START_MISSION,
    OBSTACLES_CONFIRM) computes for up to the planner's time limit and then pauses about 4.4
    times as long as it computed; it gets `planning_margin` + `planning_factor` times the time
    limit last set on the controller (its default until SETTINGS_SET_TIMEOUT changes it).
    """

    answer: float = 5.0
    start: float = 5.0
    planning_margin: float = 5.0
    planning_factor: float = 6.0
    close: float = 5.0


@dataclass(frozen=True)
class Exchange:
    """One command line and what came back for it: the command word (None when no command
    matched), whether the command is a query, the answer line (None for none), and whether the
    line was dropped (a query that wrote nothing, or a line the console refuses outright)."""

    line: str
    command: str | None  # the command word, or None when no command matched
    answers: bool  # the command is a query
    answer: str | None  # the answer line, None for no answer
    dropped: bool  # a query that wrote nothing, or a line the console refuses outright


@dataclass(frozen=True)
class _Pending:
    """An exchange still owing lines: its name, its sentinel line and its command."""

    name: str
    sentinel: str
    command: Command | None


class CommandChannel:
    """Exchanges lines with one controller process (its own child).

    `request(line)` sends any line as it is and returns the Exchange; it raises only for
    time-outs (MovaTimeout), a dead child (ChildExited) and lines the protocol does not allow
    (ProtocolError). `on_exchange` is told of every exchange. The lines on the wire are logged
    on the logger `mova_host.wire` at DEBUG (see `mova_host.process`).
    """

    def __init__(self, binary: str | os.PathLike[str] | None = None,
                 workdir: str | os.PathLike[str] | None = None, *, timeouts: Timeouts = Timeouts(),
                 on_exchange: Callable[[Exchange], None] | None = None):
        self.binary = find_binary(binary).resolve()
        self.timeouts = timeouts
        self.on_exchange = on_exchange
        self._planner_limit = DEFAULT_TIMEOUT_MS / 1000.0  # seconds
        self._pending: list[_Pending] = []
        self._child = ControllerProcess(self.binary, workdir)
        try:
            self._child.write(protocol.WATERMARK_COMMAND, "start-up")
            self.watermark_line = self._child.read("start-up", time.monotonic() + timeouts.start, timeouts.start)
            if protocol.looks_like_answer(self.watermark_line):
                raise ProtocolError(f"the watermark line {self.watermark_line!r} looks like an answer")
        except BaseException:
            self.kill()
            raise

    @property
    def pid(self) -> int:
        """The controller's process id."""
        return self._child.pid

    @property
    def workdir(self) -> Path:
        """The controller's working directory (where its log, mova.log, goes)."""
        return self._child.workdir

    def _time_out_for(self, command: Command | None) -> float:
        if command is not None and command.name in protocol.PLANNING_COMMANDS:
            return self.timeouts.planning_margin + self.timeouts.planning_factor * self._planner_limit
        return self.timeouts.answer

    def _drain_pending(self) -> None:
        """After a time-out: reads what the unanswered exchanges still owe, up to their sentinels."""
        while self._pending:
            owed = self._pending[0]
            seconds = self._time_out_for(owed.command)
            deadline = time.monotonic() + seconds
            while self._child.read(owed.name, deadline, seconds) != owed.sentinel:
                pass
            self._pending.pop(0)

    def resync(self) -> None:
        """Waits for the lines of commands that timed out; raises MovaTimeout if they still do not come."""
        self._drain_pending()

    def request(self, line: str) -> Exchange:
        """Sends one line as it is and returns what it wrote.

        A query gets its answer or `dropped`; a command without an answer is marked `dropped`
        only when the console's own checks or the argument ranges are sure to refuse it.
        """
        return self._exchange(protocol.parse_line(line))

    def _sentinel(self, command: Command | None) -> tuple[str, str]:
        """(sentinel command, its line). The watermark query is itself answered with the
        watermark line; its sentinel is the generation line, which no other exchange of the
        watermark command can produce."""
        if command is not None and command.name == protocol.WATERMARK_COMMAND:
            return protocol.GENERATION_COMMAND, protocol.GENERATION_ANSWER
        return protocol.WATERMARK_COMMAND, self.watermark_line

    def _exchange(self, parsed: ParsedLine) -> Exchange:
        self._drain_pending()
        command, name = parsed.command, parsed.word
        sentinel_command, sentinel = self._sentinel(command)
        seconds = self._time_out_for(command)
        self._pending.append(_Pending(name, sentinel, command))
        self._child.write(parsed.text + "\n" + sentinel_command, name)
        answer = self._read_answer(name, sentinel, time.monotonic() + seconds, seconds)
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

    def _read_answer(self, name: str, sentinel: str, deadline: float, seconds: float) -> str | None:
        """The answer line before the sentinel, or None when the sentinel comes first."""
        first = self._child.read(name, deadline, seconds)
        if first == sentinel:
            return None
        closing = self._child.read(name, deadline, seconds)
        if closing != sentinel:
            self._pending.pop(0)
            self.kill()
            raise ProtocolError(f"{name} wrote two lines: {first!r}, {closing!r}")
        return first

    def _note_settings(self, parsed: ParsedLine) -> None:
        """A time limit sent to the controller sets the time-out of the planning commands."""
        if parsed.command is not None and parsed.command.name == "SETTINGS_SET_TIMEOUT":
            self._planner_limit = parsed.args[0] / 1000.0

    # ----- ending --------------------------------------------------------------------------

    def close(self) -> int | None:
        """Ends the input, waits for the controller to exit (kills it after the close time-out)."""
        return self._child.close(self.timeouts.close)

    def kill(self) -> None:
        """Kills the controller process (this client's own child) at once."""
        self._child.kill()
