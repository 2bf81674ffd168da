"""Every error the host package raises, in one place.

- About the controller process: `MovaError` and its kinds (`ControllerNotFound`,
  `CommandDropped`, `MovaTimeout`, `ChildExited`, `ControllerFailed`); `ProtocolError` for a
  line the protocol does not allow.
- About a mission: `MissionError`, and `PlanCheckError` for a plan that does not hold together.
- About input: `InputError` from the input checks (what was wrong with a value, for the caller
  to put in its own words), `JsonError` from the strict JSON reader (a document that is not
  JSON, or holds what the reader refuses, with its line and column), `ScenarioError` naming the
  place in a scenario file, `UsageError` for the command line, `OutputError` for a file that
  cannot be written.
- The workbench: `Refused` and `Conflict` (a request that cannot be done, with the reason),
  `ControllerDown` (the session's controller is gone), `HTTPProblem` (an answer with a status).
"""

from __future__ import annotations

from enum import Enum
from http import HTTPStatus

# ----- the controller --------------------------------------------------------------------------


class MovaError(Exception):
    """Base of the errors the client raises about the controller."""


class ControllerNotFound(MovaError, FileNotFoundError):
    """No controller executable where it was looked for; the message names every place
    searched. It is also a FileNotFoundError, as the lookup raised before."""


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


class ControllerFailed(MovaError):
    """The controller did not answer as the protocol promises (an answer missing, a plan that
    cannot be read), or could not be started."""


class ProtocolError(Exception):
    """The controller wrote a line the protocol does not allow at that point."""


# ----- missions --------------------------------------------------------------------------------


class MissionError(Exception):
    """The mission cannot go on as asked, or the controller's plan does not hold together."""


class PlanCheckError(MissionError):
    """The controller's plan does not hold together: it breaks the step rules, or does not
    run from where the vehicles stand to their goals."""


# ----- input -----------------------------------------------------------------------------------


class Problem(Enum):
    """What an input check found wrong with a value."""

    TYPE = "type"  # not of the kind asked for (a whole number, a finite number, a text)
    RANGE = "range"  # of the right kind, outside the bounds
    LENGTH = "length"  # a text longer than allowed
    CHOICE = "choice"  # not one of the words allowed


class InputError(ValueError):
    """A value that fails an input check. The check says what is wrong; the caller says it in
    the words of its own place (a scenario file, a request of the page, an argument)."""

    def __init__(self, problem: Problem, value: object, low: float | None = None,
                 high: float | None = None):
        huge = isinstance(value, int) and value.bit_length() > 4096  # too long to write out
        super().__init__(f"{problem.value}: {'a whole number too long to write' if huge else repr(value)}")
        self.problem = problem
        self.value = value
        self.low = low
        self.high = high


class JsonError(ValueError):
    """A JSON document the strict reader refuses: not JSON, too large, nested too deep, or
    holding a number or a text it does not take; `place` says where ("line 3, column 12")."""

    def __init__(self, place: str, problem: str):
        self.place, self.problem = place, problem
        super().__init__(f"{place}: {problem}" if place else problem)


class ScenarioError(ValueError):
    """A scenario that cannot be read; the message names the file and the place in it."""

    def __init__(self, place: str, problem: str, source: str = "scenario"):
        self.place, self.problem, self.source = place, problem, source
        where = f"{place}: " if place else ""
        super().__init__(f"{source}: {where}{problem}")


class UsageError(ValueError):
    """Bad options or input of the command line: the action runs nothing and ends with status 2."""


class OutputError(OSError):
    """A file that cannot be written (a picture); nothing of it is left behind. The message is
    a sentence naming the file and the reason."""

    def __init__(self, message: str):
        super().__init__(message)
        self.message = message

    def __str__(self) -> str:
        return self.message


# ----- the workbench ---------------------------------------------------------------------------


class Refused(ValueError):
    """The request cannot be done as asked; the message says why, in words."""


class Conflict(Refused):
    """The request does not fit the state the session is in (no plan yet, network not built)."""


class ControllerDown(Exception):
    """The controller exited or stopped answering; the session can restart it."""


class HTTPProblem(Exception):
    """A request the workbench answers with an error status and a sentence."""

    def __init__(self, status: HTTPStatus, message: str):
        super().__init__(message)
        self.status = status
        self.message = message
