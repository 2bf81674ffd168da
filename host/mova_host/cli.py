"""Command line: `run FILE` plays a command stream, `plan` draws a mission; `check`,
`explain` and `commands` work on scenario files (JSON); `serve` runs the workbench; `fleet` and
`fleet-sim` run a zone of vehicles that speak VDA 5050 over MQTT.

Lines that begin with "#" in a command file are comments: the command line does not send them.
Exit statuses: 0 a plan was found, 1 no plan, 2 bad input or usage, 3 the controller failed.
"""

from __future__ import annotations

import argparse
import contextlib
import json
import os
import sys
from typing import TextIO

from .actions import scenarios, stream
from .actions.common import BAD_INPUT, CONTROLLER_FAILED, Action
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


def parser() -> argparse.ArgumentParser:
    top = argparse.ArgumentParser(prog=program_name(), description=__doc__)
    top.add_argument("--version", action=VersionAction)
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--binary", help="controller executable (default: $MOVA_BINARY, the "
                        "project build, or mova on the PATH)")
    common.add_argument("--workdir", help="working directory of the controller (default: a "
                        "temporary one)")
    common.add_argument("--timeout", type=float, default=5.0,
                        help="seconds to wait for an answer (default 5)")
    sub = top.add_subparsers(dest="action", required=True)
    stream.add_parsers(sub, common)
    scenarios.add_parsers(sub, common)
    fleet_cli.register(sub)
    serve = sub.add_parser("serve", parents=[common], help="the workbench: a local web page to design "
                           "a network, plan a mission and watch it (--workdir: where session folders go)")
    server.add_arguments(serve)
    return top


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
    if args.action == "serve":
        return server.serve(args, out)
    if args.action in fleet_cli.ACTIONS:
        return fleet_cli.dispatch(args, out)
    try:
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
