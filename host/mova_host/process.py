"""The controller as a child process: finding the executable, starting it in a working
directory, writing lines to it, reading its lines against a deadline, and ending it.

Every line written to the child and every line read from it is logged at DEBUG on the logger
`mova_host.wire` ("mova[PID] > LINE" and 'mova[PID] < "LINE"', the quotes showing the blanks
of an answer), sentinels included. Nothing is shown unless the program switches it on, e.g.
`logging.basicConfig(level=logging.DEBUG)` or
`logging.getLogger("mova_host.wire").setLevel(logging.DEBUG)` with a handler.
"""

from __future__ import annotations

import logging
import os
import queue
import shutil
import subprocess
import tempfile
import threading
import time
from pathlib import Path

from .errors import ChildExited, ControllerNotFound, MovaTimeout

WIRE = logging.getLogger("mova_host.wire")
_EOF = object()
_STDERR_LINES = 100  # the diagnostic kept of a child that exits
_ROOT = Path(__file__).resolve().parents[2]  # the source tree, when the package runs from one


def _project_binary() -> Path | None:
    """build/mova of the source tree the package runs from; None for an installed package."""
    if (_ROOT / "CMakeLists.txt").is_file() and (_ROOT / "host" / "mova_host").is_dir():
        return _ROOT / "build" / "mova"
    return None


def find_binary(binary: str | os.PathLike[str] | None = None) -> Path:
    """The controller executable: the one named, else $MOVA_BINARY, else the project's own
    build (build/mova at the top of the source tree the package runs from), else `mova` on the
    PATH.

    Raises ControllerNotFound (a FileNotFoundError) naming the places searched when there is
    none: the file named, or $MOVA_BINARY, or the build folder and every folder of the PATH.
    """
    if binary is not None:
        path = Path(binary)
        if not path.is_file():
            raise ControllerNotFound(f"no controller executable at {path}")
        return path
    from_environment = os.environ.get("MOVA_BINARY")
    if from_environment:
        path = Path(from_environment)
        if not path.is_file():
            raise ControllerNotFound(f"MOVA_BINARY names {path}, which does not exist")
        return path
    own = _project_binary()
    if own is not None and own.is_file() and os.access(own, os.X_OK):
        return own
    on_path = shutil.which("mova")
    if on_path:
        return Path(on_path)
    raise ControllerNotFound(_not_found(own))


def _not_found(own: Path | None) -> str:
    """Where the controller was looked for, and how to give it one."""
    search_path = os.environ.get("PATH", os.defpath)
    places = ["MOVA_BINARY is not set"]
    if own is not None:
        places.append(f"there is no build of the source tree ({own})")
    places.append(f"no mova is on the PATH ({search_path or 'empty'})")
    return ("no controller executable found: " + ", ".join(places[:-1]) + " and " + places[-1] +
            "; name one (--binary), set MOVA_BINARY or put mova on the PATH")


class ControllerProcess:
    """One controller child. Its output is read line by line on a thread of its own, so that a
    read can wait with a deadline and never waits on a dead child. Without a working directory
    given, it runs in a temporary one that goes when the child ends."""

    def __init__(self, binary: Path, workdir: str | os.PathLike[str] | None):
        self.binary = binary
        self.own_workdir = workdir is None
        self.workdir = Path(tempfile.mkdtemp(prefix="mova-")) if workdir is None else Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.dead = False
        self._stderr: list[bytes] = []
        self._lines: queue.Queue[object] = queue.Queue()
        try:
            self._process = subprocess.Popen([str(binary)], cwd=self.workdir, stdin=subprocess.PIPE,
                                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        except BaseException:  # the executable cannot be started at all: its folder goes too
            if self.own_workdir:
                shutil.rmtree(self.workdir, ignore_errors=True)
            raise
        threading.Thread(target=self._read_stdout, daemon=True).start()
        threading.Thread(target=self._read_stderr, daemon=True).start()

    @property
    def pid(self) -> int:
        """The child's process id."""
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
            if len(self._stderr) < _STDERR_LINES:
                self._stderr.append(raw)
        self._process.stderr.close()

    def exited(self, command: str) -> ChildExited:
        """The error that reports the child gone during `command` (it is reaped first)."""
        self.dead = True
        try:
            code = self._process.wait(timeout=1.0)
        except subprocess.TimeoutExpired:
            code = None
        time.sleep(0.05)  # let the stderr reader take the diagnostic
        self.cleanup()
        return ChildExited(command, code, b"".join(self._stderr).decode("utf-8", "replace"))

    def write(self, text: str, command: str) -> None:
        """Writes the text and a line end; ChildExited when the child is gone."""
        if self.dead or self._process.poll() is not None:
            raise self.exited(command)
        assert self._process.stdin is not None
        try:
            self._process.stdin.write(text.encode("utf-8") + b"\n")
            self._process.stdin.flush()
        except (BrokenPipeError, OSError, ValueError):
            raise self.exited(command) from None
        if WIRE.isEnabledFor(logging.DEBUG):
            for line in text.split("\n"):
                WIRE.debug("mova[%d] > %s", self.pid, line)

    def read(self, command: str, deadline: float, seconds: float) -> str:
        """One line, waiting until `deadline` at most (MovaTimeout naming `seconds` after it)."""
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise MovaTimeout(command, seconds)
            try:
                item = self._lines.get(timeout=min(remaining, 0.25))
            except queue.Empty:
                if self._process.poll() is not None and self._lines.empty():
                    raise self.exited(command) from None
                continue
            if item is _EOF:
                raise self.exited(command)
            assert isinstance(item, str)
            WIRE.debug('mova[%d] < "%s"', self.pid, item)
            return item

    def close(self, seconds: float) -> int | None:
        """Ends the input and waits for the child to exit; kills it after `seconds`."""
        if self._process.stdin is not None and not self._process.stdin.closed:
            try:
                self._process.stdin.close()
            except OSError:
                pass
        try:
            code = self._process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.kill()
            code = self._process.returncode
        self.dead = True
        self.cleanup()
        return code

    def kill(self) -> None:
        """Kills the child at once."""
        if self._process.poll() is None:
            self._process.kill()
            self._process.wait()
        self.dead = True
        self.cleanup()

    def cleanup(self) -> None:
        """Closes the child's input and removes the temporary working directory, if it is ours."""
        stream = self._process.stdin
        if stream is not None and not stream.closed:
            try:
                stream.close()
            except OSError:
                pass
        if self.own_workdir:
            shutil.rmtree(self.workdir, ignore_errors=True)
