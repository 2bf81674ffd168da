"""What the command line's actions share: exit statuses, options and help texts, reading the
input, starting the controller with a trace, writing JSON.

Exit statuses of every action: 0 a plan was found (for `check`: nothing doubtful), 1 no plan
(for `check`: the file reads but has doubtful points), 2 bad input or usage (nothing is run),
3 the controller failed: not found, not started, dead or not answering; 4 (`serve`) the address
and port cannot be listened on.
"""

from __future__ import annotations

import argparse
import json
import sys
import textwrap
from pathlib import Path
from typing import Any, Callable, Sequence, TextIO

from .. import checks
from ..client import MovaClient
from ..errors import InputError, JsonError, UsageError
from ..exchange import Exchange, Timeouts
from ..protocol import integer_word, parse_line
from ..roads import KIND_VALUES, Road, RoadKind
from ..runner import start_client
from ..scenario import Scenario, scenario_from_options
from ..scenario_stream import StreamScenario, load_mission

PLAN_FOUND, NO_PLAN, BAD_INPUT, CONTROLLER_FAILED, CANNOT_LISTEN = 0, 1, 2, 3, 4
TRACE_WIDTH = 44  # the width of the command column of a trace
HELP_WIDTH = 78  # descriptions, notes and exit statuses of --help are filled to this width
Action = Callable[[argparse.Namespace, TextIO], int]
# What the statuses mean, for the help texts.
STATUS_BAD_INPUT = (BAD_INPUT, "bad input or usage: a file that cannot be read or used, bad options; "
                    "nothing is run")
STATUS_CONTROLLER = (CONTROLLER_FAILED, "the controller failed: none found, it could not be started, "
                     "died, did not answer in time or answered outside the protocol")
MISSION_FILE = ("a scenario file (JSON) or a command stream (one controller command per line, "
                '"#" comments: what `run` plays and the workbench exports)')


# ----- options ---------------------------------------------------------------------------------


def describe(text: str) -> str:
    """A description for --help, filled to HELP_WIDTH columns."""
    return textwrap.fill(" ".join(text.split()), HELP_WIDTH)


def help_text(examples: Sequence[str], statuses: Sequence[tuple[int, str]], note: str = "") -> str:
    """The end of an action's --help: a note, examples and the exit statuses."""
    parts = [describe(note), ""] if note else []
    parts += ["examples:", *(f"  {line}" for line in examples), "", "exit statuses:"]
    parts += [textwrap.fill(meaning, HELP_WIDTH, initial_indent=f"  {status}  ", subsequent_indent="     ")
              for status, meaning in statuses]
    return "\n".join(parts)


def add_json_option(parser: argparse.ArgumentParser, what: str = "") -> None:
    parser.add_argument("--json", action="store_true", help="print one JSON object instead of text"
                        + (f" ({what})" if what else ""))


def add_mission_options(parser: argparse.ArgumentParser) -> None:
    """--road, --start, --goal and --obstacle, shared by `plan` and `explain`."""
    parser.add_argument("--road", nargs=3, action="append", metavar=("KIND", "A", "B"),
                        help=f"a road between positions A and B (0 to 11), KIND one of {', '.join(KIND_VALUES)} "
                        "(a one-way road leads from A to B); repeat it for each road")
    parser.add_argument("--start", nargs=3, type=int, metavar="P", help="the positions vehicles 1, 2 and 3 "
                        "start on")
    parser.add_argument("--goal", nargs=3, type=int, metavar="P", help="the goals of vehicles 1, 2 and 3")
    parser.add_argument("--obstacle", nargs=2, type=int, action="append", metavar=("A", "B"),
                        help="block the road between A and B (both directions); repeatable")


def roads_from_options(items: list[list[str]] | None) -> list[Road]:
    roads = []
    for kind, a, b in items or []:
        ends = integer_word(a), integer_word(b)
        try:
            chosen = checks.choice(kind, KIND_VALUES)
        except InputError:
            chosen = None
        if chosen is None or ends[0] is None or ends[1] is None:
            raise UsageError(f"bad road {kind} {a} {b}: give one of {', '.join(KIND_VALUES)} and two positions")
        try:
            roads.append(Road(RoadKind(chosen), ends[0], ends[1]))
        except ValueError as error:
            raise UsageError(f"bad road {kind} {a} {b}: {error}") from None
    return roads


def mission_flags_given(args: argparse.Namespace) -> bool:
    return any(getattr(args, name, None) for name in ("road", "start", "goal", "obstacle"))


# ----- input -----------------------------------------------------------------------------------


def read_text(path: str) -> str:
    """The text of a command file (at most 64 MiB); UsageError when it cannot be read."""
    try:
        return checks.read_file_bytes(path, checks.MAX_STREAM_BYTES).decode("utf-8")
    except JsonError as error:
        raise UsageError(f"{path}: {error.problem}") from None
    except UnicodeDecodeError as error:
        raise UsageError(f"{path}: cannot be read (not UTF-8 text at byte {error.start})") from None


def command_file_lines(path: str) -> list[str]:
    """The lines of a command file; lines that begin with "#" are comments and are not sent."""
    return [line for line in read_text(path).splitlines() if not line.startswith("#")]


def load_input(path: str) -> tuple[Scenario, StreamScenario | None]:
    """The scenario of a file that holds a scenario or a command stream; for a stream, what the
    scenario leaves out of it is noted on standard error."""
    scenario, found = load_mission(path)
    for note in found.notes if found else ():
        print(f"note: {path}: {note}", file=sys.stderr)
    return scenario, found


def scenario_of(args: argparse.Namespace, action: str) -> Scenario:
    """The scenario named by the file argument (a scenario or a command stream) or described by
    the mission options."""
    if args.file:
        if mission_flags_given(args):
            raise UsageError(f"{action}: give a scenario FILE or the --road/--start/--goal options, not both")
        return load_input(args.file)[0]
    if not args.road or not args.start or not args.goal:
        raise UsageError(f"{action}: give a scenario FILE, or --road, --start and --goal")
    return scenario_from_options(roads_from_options(args.road), args.start, args.goal,
                                 [(a, b) for a, b in args.obstacle or []])


# ----- the controller and the output -----------------------------------------------------------


def format_exchange(exchange: Exchange) -> str:
    """A line of a trace: the command line, and beside it its answer or why it was dropped."""
    if exchange.dropped:
        problem = parse_line(exchange.line).problem
        result = "dropped" if exchange.answers or problem is None else f"dropped ({problem})"
    elif exchange.answer is not None:
        result = exchange.answer
    else:
        result = ""
    return f"{exchange.line:<{TRACE_WIDTH}} | {result}".rstrip()


def start_traced_client(args: argparse.Namespace, out: TextIO, trace: bool) -> MovaClient:
    """A client on a new controller as the options say; with `trace`, every exchange is printed."""
    timeouts = Timeouts(answer=args.timeout, planning_margin=args.timeout)

    def show(exchange: Exchange) -> None:
        print(format_exchange(exchange), file=out, flush=True)

    return start_client(args.binary, args.workdir, timeouts=timeouts, on_exchange=show if trace else None)


def write_json(out: TextIO, data: Any) -> None:
    print(json.dumps(data, indent=2), file=out)
