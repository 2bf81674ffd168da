"""The command line `mova-host` (or `python3 -m mova_host`): `run` plays a command stream, `plan`
plans and draws a mission; `check`, `explain`, `commands` and `scenario` work on scenarios,
given as scenario files (JSON) or as command streams; `serve` runs the workbench; `fleet` and
`fleet-sim` run a zone of vehicles that speak VDA 5050 over MQTT.

Exit statuses: 0 a plan was found, 1 no plan, 2 bad input or usage, 3 the controller failed,
4 (`serve`) the address and port cannot be listened on.
"""

from __future__ import annotations

import argparse
import contextlib
import json
import os
import sys
from typing import TextIO

from .actions import scenarios, stream
from .actions.common import (
    BAD_INPUT,
    CANNOT_LISTEN,
    CONTROLLER_FAILED,
    NO_PLAN,
    PLAN_FOUND,
    STATUS_BAD_INPUT,
    STATUS_CONTROLLER,
    Action,
    describe,
    help_text,
)
from .actions.version import VersionAction, program_name
from .errors import (
    ChildExited,
    MissionError,
    MovaError,
    MovaTimeout,
    PlanCheckError,
    ProtocolError,
    ScenarioError,
    UsageError,
)
from .fleet import cli as fleet_cli
from .workbench import server

ACTIONS: dict[str, Action] = {**stream.ACTIONS, **scenarios.ACTIONS}
_HELP = argparse.RawDescriptionHelpFormatter
DESCRIPTION = """\
The host client of the MOVA traffic controller: it runs the controller `mova` as a child
process and speaks its line protocol. A mission is given as a scenario file (JSON) or as a
command stream (one controller command per line, lines that begin with "#" are comments: what
`run` plays and the workbench exports); every action that takes a scenario takes a stream."""
EPILOG = help_text([
    "mova-host run examples/mission.txt",
    "mova-host plan examples/mission.txt --svg plan.svg",
    "mova-host explain examples/scenarios/siding.json",
    "mova-host scenario examples/mission.txt -o mission.json",
    "mova-host serve",
    "mova-host ACTION --help",
], [
    (PLAN_FOUND, "a plan was found (check: nothing doubtful; commands, scenario: written)"),
    (NO_PLAN, "no plan (check: the file reads, but something is doubtful)"),
    STATUS_BAD_INPUT, STATUS_CONTROLLER,
    (CANNOT_LISTEN, "serve: the address and port cannot be listened on (fleet: see its --help)"),
], note="The controller is the one named with --binary, else $MOVA_BINARY, else build/mova of the source "
        "tree,\nelse mova on the PATH.")


def parser() -> argparse.ArgumentParser:
    """The command line's parser: every action, its options and its help text."""
    top = argparse.ArgumentParser(prog=program_name(), description=DESCRIPTION, epilog=EPILOG,
                                  formatter_class=_HELP)
    top.add_argument("--version", action=VersionAction)
    common = _controller_options("the controller's working directory, where its log mova.log goes (default: a "
                                 "temporary one, removed at the end)")
    sub = top.add_subparsers(dest="action", required=True)
    stream.add_parsers(sub, common)
    scenarios.add_parsers(sub, common)
    fleet_cli.register(sub)
    sessions = _controller_options("the folder that each session's folder (its controller's working directory) "
                                   "goes into (default: a temporary one)")
    serve = sub.add_parser("serve", parents=[sessions], formatter_class=_HELP,
                           help="the workbench: a local web page to design a network, plan a mission and watch it",
                           description=describe("Serves the workbench, a web page on which a person designs a network and "
                           "plans a mission against the real controller; each page gets its own controller "
                           "process in a folder of its own."),
                           epilog=help_text(["mova-host serve", "mova-host serve --port 0 --max-sessions 2"], [
                               (PLAN_FOUND, "stopped with Ctrl+C or SIGTERM"), STATUS_BAD_INPUT,
                               (CONTROLLER_FAILED, "no controller found"),
                               (CANNOT_LISTEN, "the address and port cannot be listened on (in use, or not an "
                                               "address of this machine)")]))
    server.add_arguments(serve)
    return top


def _controller_options(workdir: str) -> argparse.ArgumentParser:
    """--binary, --workdir and --timeout, shared by the actions that run the controller."""
    options = argparse.ArgumentParser(add_help=False)
    options.add_argument("--binary", metavar="FILE", help="the controller executable (default: $MOVA_BINARY, "
                         "else build/mova of the source tree, else mova on the PATH)")
    options.add_argument("--workdir", metavar="DIR", help=workdir)
    options.add_argument("--timeout", metavar="SECONDS", type=float, default=5.0,
                         help="how long to wait for an answer (default 5; a planning command gets this much "
                         "more than 6 times the planner's time limit)")
    return options


def main(argv: list[str] | None = None, out: TextIO = sys.stdout) -> int:
    try:
        return _main(argv, out)
    except BrokenPipeError:
        # The reader of the output went away (`mova-host ... | head`): nothing more can be said.
        # Standard output is pointed at /dev/null so that the interpreter's final flush is quiet;
        # the status is the one a shell shows for a program ended by the broken-pipe signal.
        with contextlib.suppress(OSError, ValueError):
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 141


def _main(argv: list[str] | None, out: TextIO) -> int:
    try:
        args = parser().parse_args(argv)
    except SystemExit as stop:  # usage errors (status 2) and --help (status 0)
        return stop.code if isinstance(stop.code, int) else 2
    if args.action in fleet_cli.ACTIONS:
        return fleet_cli.dispatch(args, out)
    try:
        if args.action == "serve":
            return server.serve(args, out)
        return ACTIONS[args.action](args, out)
    except BrokenPipeError:
        raise
    except (ChildExited, MovaTimeout, ProtocolError, PlanCheckError, MovaError) as error:
        return _fail(CONTROLLER_FAILED, error, args, out)
    except (ScenarioError, UsageError, MissionError, ValueError, OSError) as error:
        return _fail(BAD_INPUT, error, args, out)


def _fail(status: int, error: Exception, args: argparse.Namespace, out: TextIO) -> int:
    print(f"error: {error}", file=sys.stderr)
    if getattr(args, "json", False):
        print(json.dumps({"error": str(error), "status": status}), file=out)
    return status
