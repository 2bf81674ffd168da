"""What the command line's actions share: exit statuses, options, reading the input, starting
the controller with a trace, writing JSON.

Exit statuses of every action: 0 a plan was found (for `check`: nothing doubtful), 1 no plan
(for `check`: the file reads but has doubtful points), 2 bad input or usage (nothing is run),
3 the controller failed or died.
"""

from __future__ import annotations

import argparse
import json
from pathlib import Path
from typing import Any, Callable, TextIO

from .. import checks
from ..client import MovaClient
from ..errors import InputError, UsageError
from ..exchange import Exchange, Timeouts
from ..protocol import integer_word, parse_line
from ..roads import KIND_VALUES, Road, RoadKind
from ..runner import start_client
from ..scenario import Scenario, load_scenario, scenario_from_options

PLAN_FOUND, NO_PLAN, BAD_INPUT, CONTROLLER_FAILED = 0, 1, 2, 3
TRACE_WIDTH = 44  # the width of the command column of a trace
Action = Callable[[argparse.Namespace, TextIO], int]


# ----- options ---------------------------------------------------------------------------------


def add_json_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--json", action="store_true", help="print one JSON object instead of text")


def add_mission_options(parser: argparse.ArgumentParser) -> None:
    """--road, --start, --goal and --obstacle, shared by `plan` and `explain`."""
    parser.add_argument("--road", nargs=3, action="append", metavar=("KIND", "A", "B"),
                        help=f"a road, KIND one of {', '.join(KIND_VALUES)}")
    parser.add_argument("--start", nargs=3, type=int, metavar="P", help="start of vehicles 1 to 3")
    parser.add_argument("--goal", nargs=3, type=int, metavar="P", help="goals of vehicles 1 to 3")
    parser.add_argument("--obstacle", nargs=2, type=int, action="append", metavar=("A", "B"),
                        help="block a road (both directions)")


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
    try:
        return Path(path).read_text()
    except (OSError, UnicodeDecodeError) as error:
        raise UsageError(f"{path}: cannot be read ({getattr(error, 'strerror', None) or error})") from None


def command_file_lines(path: str) -> list[str]:
    """The lines of a command file; lines that begin with "#" are comments and are not sent."""
    return [line for line in read_text(path).splitlines() if not line.startswith("#")]


def is_scenario_file(path: str) -> bool:
    """A scenario file is JSON: named *.json, or its first non-blank character is "{"."""
    if path.endswith(".json"):
        return True
    try:
        with open(path, encoding="utf-8", errors="replace") as handle:
            return handle.read(4096).lstrip().startswith("{")
    except OSError:
        return False


def scenario_of(args: argparse.Namespace, action: str) -> Scenario:
    """The scenario named by the file argument or described by the mission options."""
    if args.file:
        if mission_flags_given(args):
            raise UsageError(f"{action}: give a scenario FILE or the --road/--start/--goal options, not both")
        if not is_scenario_file(args.file) and Path(args.file).is_file():
            raise UsageError(f"{action}: {args.file} is not a scenario file (JSON)")
        return load_scenario(args.file)
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
