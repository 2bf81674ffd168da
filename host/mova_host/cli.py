"""Command line: `run FILE` plays a command stream, `plan` draws a mission; `check`,
`explain` and `commands` work on scenario files (JSON).

Lines that begin with "#" in a command file are comments: the command line does not send them.
Exit statuses: 0 a plan was found, 1 no plan, 2 bad input or usage, 3 the controller failed.
"""

from __future__ import annotations

import argparse
import contextlib
import io
import json
import os
import sys
from pathlib import Path
from typing import Callable, Iterable, Iterator, TextIO

from . import about, actions, svg
from .client import ChildExited, Exchange, MovaClient, MovaError, MovaTimeout, ProtocolError, Timeouts
from .mission import ROAD_KIND_OF_COMMAND, Mission, MissionError, Plan, PlanCheckError, RoadKind
from .protocol import integer_word, parse_line
from .runner import start_client
from .scenario import ScenarioError
from .fleet import cli as fleet_cli

WIDTH = 44


def format_exchange(exchange: Exchange) -> str:
    if exchange.dropped:
        problem = parse_line(exchange.line).problem
        result = "dropped" if exchange.answers or problem is None else f"dropped ({problem})"
    elif exchange.answer is not None:
        result = exchange.answer
    else:
        result = ""
    return f"{exchange.line:<{WIDTH}} | {result}".rstrip()


def _command_lines(text: str) -> list[str]:
    return [line for line in text.splitlines() if not line.startswith("#")]


def _client(args: argparse.Namespace, out: TextIO, trace: bool) -> MovaClient:
    timeouts = Timeouts(answer=args.timeout, planning_margin=args.timeout)
    hook: Callable[[Exchange], None] | None = None
    if trace:
        hook = lambda exchange: print(format_exchange(exchange), file=out, flush=True)  # noqa: E731
    return start_client(args.binary, args.workdir, timeouts=timeouts, on_exchange=hook)


def run_stream(args: argparse.Namespace, out: TextIO) -> int:
    """Status 1 when the last planning command answered FALSE."""
    lines = _command_lines(_read(args.file))
    exchanges: list[Exchange] = []
    with _client(args, out, trace=not args.json) as client:
        for line in lines:
            exchanges.append(client.request(line))
    planned = [e.answer for e in exchanges if e.command in ("MOVA_START_MISSION", "OBSTACLES_CONFIRM")]
    if args.json:
        print(json.dumps({"exchanges": [{"line": e.line, "command": e.command, "answer": e.answer,
                                         "dropped": e.dropped} for e in exchanges]}, indent=2), file=out)
    return 1 if planned and planned[-1] != "TRUE" else 0


def _read(path: str) -> str:
    try:
        return Path(path).read_text()
    except (OSError, UnicodeDecodeError) as error:
        raise actions.UsageError(f"{path}: cannot be read ({getattr(error, 'strerror', None) or error})") from None


# ----- plan ------------------------------------------------------------------------------------


class _Drawing:
    """Writes the picture of every plan a mission computes: the first under the given names,
    later ones (after re-planning) with -2, -3, ... before the suffix."""

    def __init__(self, args: argparse.Namespace, out: TextIO):
        self.args, self.out, self.count = args, out, 0
        self.plans: list[Plan] = []

    @staticmethod
    def _name(path: str, count: int) -> Path:
        p = Path(path)
        return p if count == 1 else p.with_name(f"{p.stem}-{count}{p.suffix}")

    def __call__(self, plan: Plan) -> None:
        self.count += 1
        self.plans.append(plan)
        print(f"\nPlan {self.count}:", file=self.out)
        print(plan.table(), file=self.out)
        layout = self.args.layout
        written = []
        if self.args.svg:
            path = self._name(self.args.svg, self.count)
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(svg.render_plan(plan, layout=layout))
            written.append(path)
        if self.args.animate and plan.found:
            path = self._name(self.args.animate, self.count)
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(svg.render_animation(plan, layout=layout))
            written.append(path)
        if self.args.frames and plan.found:
            folder = Path(self.args.frames)
            folder.mkdir(parents=True, exist_ok=True)
            for step in range(plan.num_steps + 1):
                frame = folder / f"plan{self.count}-step{step:02d}.svg"
                frame.write_text(svg.render_plan(plan, layout=layout, step=step))
            written.append(folder / f"plan{self.count}-step*.svg")
        for path in written:
            print(f"picture: {path}", file=self.out)
        print(file=self.out)


def _arguments(line: str) -> list[int]:
    words = line.split(" ")
    values = [integer_word(w) for w in words[1:3]]
    return [v for v in values if v is not None]


@contextlib.contextmanager
def _untraced_reads(client: MovaClient, word: str) -> Iterator[None]:
    """Traces only the exchange of the script's own command, not the queries the mission helper
    adds to read the plan and the positions."""
    hook = client.on_exchange
    if hook is not None:
        client.on_exchange = lambda exchange: hook(exchange) if exchange.command == word else None
    try:
        yield
    finally:
        client.on_exchange = hook


def play_mission(lines: Iterable[str], client: MovaClient, draw: Callable[[Plan], None],
                 out: TextIO) -> Mission:
    """Plays a mission script through the mission helper.

    Roads are collected and ENVIRONMENT_BUILD sends and builds them; positions and goals are
    sent in their place in the script; MOVA_START_MISSION plans and reads the plan (its queries
    are not traced), VEHICLE_MOVED_FORWARD follows the plan one step,
    OBSTACLES_ADD_OBSTACLE and OBSTACLES_CONFIRM block a road and plan again. Any other line
    goes to the controller as it is.
    """
    mission = Mission(client)
    for line in lines:
        parsed = parse_line(line)
        name = parsed.command.name if parsed.command else None
        args = _arguments(line) if parsed.problem is None else []
        if name in ROAD_KIND_OF_COMMAND and parsed.problem is None:
            mission.add_road(ROAD_KIND_OF_COMMAND[name], *args)
        elif name == "ENVIRONMENT_CLEAN" and parsed.problem is None:
            mission.roads.clear()
        elif name == "ENVIRONMENT_BUILD":
            mission.build()
        elif name == "VEHICLE_SET_CURRENT_POS" and parsed.problem is None:
            mission.set_start(*args)
        elif name == "VEHICLE_SET_GOAL_POS" and parsed.problem is None:
            mission.set_goal(*args)
        elif name == "MOVA_START_MISSION":
            with _untraced_reads(client, name):
                plan = mission.plan()
            draw(plan)
        elif name == "VEHICLE_MOVED_FORWARD":
            with _untraced_reads(client, name):
                moves, arrived = mission.advance()
            text = ", ".join(f"V{m.vehicle} {m.origin}->{m.destination}" for m in moves) or "nothing moved"
            print(f"   moved: {text}{'; all vehicles on their goals' if arrived else ''}", file=out)
        elif name == "OBSTACLES_ADD_OBSTACLE" and parsed.problem is None:
            mission.add_obstacle(*args)
        elif name == "OBSTACLES_CONFIRM":
            with _untraced_reads(client, name):
                plan = mission.replan()
            draw(plan)
        else:
            client.request(line)
    return mission


def _flag_lines(args: argparse.Namespace) -> list[str]:
    lines = ["ENVIRONMENT_CLEAN"]
    for kind, a, b in args.road or []:
        lines.append(f"{_road_command(kind)} {a} {b}")
    lines.append("ENVIRONMENT_BUILD")
    for v, p in enumerate(args.start or [], start=1):
        lines.append(f"VEHICLE_SET_CURRENT_POS {v} {p}")
    for v, p in enumerate(args.goal or [], start=1):
        lines.append(f"VEHICLE_SET_GOAL_POS {v} {p}")
    lines.append("MOVA_START_MISSION")
    if args.obstacle:
        for a, b in args.obstacle:
            lines.append(f"OBSTACLES_ADD_OBSTACLE {a} {b}")
        lines.append("OBSTACLES_CONFIRM")
    return lines


def _road_command(kind: str) -> str:
    return next(c for c, k in ROAD_KIND_OF_COMMAND.items() if k is RoadKind(kind))


def plan_mission(args: argparse.Namespace, out: TextIO) -> int:
    """Status 1 when the last plan computed was not found (or none was computed)."""
    if args.file and any((args.road, args.start, args.goal, args.obstacle)):
        raise actions.UsageError("plan: give a mission FILE or the --road/--start/--goal options, not both")
    if args.file and actions.is_scenario_file(args.file):
        return actions.plan_scenario(args, out)
    if args.file:
        lines = _command_lines(_read(args.file))
    else:
        if not args.road or not args.start or not args.goal:
            raise actions.UsageError("plan: give a mission FILE, or --road, --start and --goal")
        actions.roads_from_options(args.road)
        lines = _flag_lines(args)
    text = io.StringIO() if args.json else out
    drawing = _Drawing(args, text)
    with _client(args, text, trace=args.trace and not args.json) as client:
        play_mission(lines, client, drawing, text)
    if args.json:
        print(json.dumps({"plans": [_plan_json(p) for p in drawing.plans]}, indent=2), file=out)
    return 0 if drawing.plans and drawing.plans[-1].found else 1


def _plan_json(plan: Plan) -> dict:
    return {"answer": plan.found, "steps": plan.num_steps if plan.found else None,
            "plan": [list(p) for p in plan.steps] if plan.found else None,
            "obstacles": [list(o) for o in plan.obstacles], "history": [list(p) for p in plan.history]}


# ----- entry -----------------------------------------------------------------------------------


def parser() -> argparse.ArgumentParser:
    top = argparse.ArgumentParser(prog=about.program_name(), description=__doc__)
    top.add_argument("--version", action=about.VersionAction)
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--binary", help="controller executable (default: $MOVA_BINARY, the "
                        "project build, or mova on the PATH)")
    common.add_argument("--workdir", help="working directory of the controller (default: a "
                        "temporary one)")
    common.add_argument("--timeout", type=float, default=5.0,
                        help="seconds to wait for an answer (default 5)")
    sub = top.add_subparsers(dest="action", required=True)
    run = sub.add_parser("run", parents=[common], help="run a command stream, print each "
                         "command beside its answer")
    run.add_argument("file")
    actions.add_json_option(run)
    plan = sub.add_parser("plan", parents=[common], help="plan a mission and draw it")
    plan.add_argument("file", nargs="?", help="mission as a command stream or a scenario file (JSON)")
    actions.add_mission_options(plan)
    actions.add_json_option(plan)
    plan.add_argument("--svg", help="picture of the plan")
    plan.add_argument("--animate", help="animated picture of the plan")
    plan.add_argument("--frames", help="folder for one picture per step")
    plan.add_argument("--layout", choices=sorted(svg.LAYOUTS), default="grid")
    plan.add_argument("--trace", action="store_true", help="print every command and its answer")
    actions.register(sub, common)
    from . import server
    serve = sub.add_parser("serve", parents=[common], help="the workbench: a local web page to design "
                           "a network, plan a mission and watch it (--workdir: where session folders go)")
    server.add_arguments(serve)
    fleet_cli.register(sub)
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
    json_out = getattr(args, "json", False)

    def fail(status: int, error: Exception) -> int:
        print(f"error: {error}", file=sys.stderr)
        if json_out:
            print(json.dumps({"error": str(error), "status": status}), file=out)
        return status

    if args.action == "serve":
        from . import server
        return server.serve(args, out)
    if args.action in fleet_cli.ACTIONS:
        return fleet_cli.dispatch(args, out)
    try:
        if args.action in actions.ACTIONS:
            return actions.dispatch(args, out)
        return run_stream(args, out) if args.action == "run" else plan_mission(args, out)
    except BrokenPipeError:
        raise
    except (ChildExited, MovaTimeout, ProtocolError, PlanCheckError, MovaError) as error:
        return fail(3, error)
    except (ScenarioError, actions.UsageError, MissionError, ValueError, OSError) as error:
        return fail(2, error)

