"""A session's controller: a child process in a working directory of its own, every exchange
entered in the session's transcript with the log records the line produced. A controller that
exits or stops answering is marked down, with the reason, until it is started again.
"""

from __future__ import annotations

import shutil
import signal
import tempfile
from contextlib import contextmanager
from pathlib import Path
from typing import Iterator

from ..client import MovaClient
from ..errors import ChildExited, CommandDropped, Conflict, ControllerDown, MissionError, MovaTimeout, ProtocolError
from ..exchange import Exchange, Timeouts
from ..logrecords import LOG_NAME, LogTail
from .transcript import Entry, Transcript


def signal_name(number: int) -> str:
    try:
        return signal.Signals(number).name
    except ValueError:
        return "unknown signal"


class ControllerLink:
    """The controller of one session, started and ended by the session."""

    def __init__(self, binary: Path, transcript: Transcript, *, timeouts: Timeouts = Timeouts(),
                 root: Path | None = None):
        self.binary = binary
        self.transcript = transcript
        self.timeouts = timeouts
        self.root = root
        self.client: MovaClient | None = None
        self.down: str | None = None
        self.workdir: Path | None = None
        self.action = "start"  # what the person did that the commands sent now belong to
        self.closed = False  # closed for good: no controller starts again
        self._log: LogTail | None = None

    @property
    def pid(self) -> int | None:
        return self.client.pid if self.client is not None and self.down is None else None

    def start(self) -> MovaClient:
        """A new controller in a new working directory; ControllerDown when it cannot start, or
        when the link is closed."""
        if self.closed:
            raise ControllerDown(self.down or "the session has ended")
        self.stop()  # never two controllers or folders of one link
        self.workdir = Path(tempfile.mkdtemp(prefix="mova-workbench-", dir=self.root))
        self._log = LogTail(self.workdir / LOG_NAME)
        self.down = None
        try:
            self.client = MovaClient(self.binary, self.workdir, timeouts=self.timeouts, on_exchange=self._record)
        except Exception as error:  # the binary cannot be started at all
            self.client = None
            self.down = f"the controller could not be started: {error}"
            raise ControllerDown(self.down) from None
        return self.client

    @contextmanager
    def running(self, action: str) -> Iterator[MovaClient]:
        """Runs commands of one action; a controller that exits or stops answering is marked
        down (ControllerDown), a query it drops or a state it does not hold is a Conflict."""
        if self.client is None or self.down is not None:
            raise ControllerDown(self.down or "the controller is not running")
        self.action = action
        client = self.client
        try:
            yield client
        except ChildExited as error:
            code = error.returncode
            how = ""
            if code is not None:
                how = f" (ended by signal {-code}, {signal_name(-code)})" if code < 0 else f" (exit status {code})"
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
        self.transcript.append(Entry(0, self.action, command or "(no command)", False, None, False,
                                     self._new_records(), note=message))
        raise ControllerDown(message)

    def _record(self, exchange: Exchange) -> None:
        self.transcript.append(Entry(0, self.action, exchange.line, exchange.answers, exchange.answer,
                                     exchange.dropped, self._new_records()))

    def _new_records(self) -> list[str]:
        """The log lines the controller wrote since the last look."""
        return self._log.new_records() if self._log is not None else []

    def close(self) -> None:
        """Ends the controller and removes its folder for good: no controller starts again."""
        self.closed = True
        self.stop()
        self.down = "the session has ended"

    def stop(self) -> None:
        """Ends the controller (if it still runs) and removes its working directory."""
        if self.client is not None:
            self.client.kill()
            self.client = None
        if self.workdir is not None:
            shutil.rmtree(self.workdir, ignore_errors=True)
            self.workdir = None
            self._log = None
