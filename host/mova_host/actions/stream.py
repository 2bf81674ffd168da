"""`run FILE` plays a command stream and prints each command beside its answer; `plan` plays a
mission (a command stream, or --road/--start/--goal options) and prints and draws every plan
the controller computes; with --trace it prints every command sent beside its answer, and the
stream's comments in their place. `plan` on a scenario file is planned as a scenario
(`scenarios.py`).
"""

from __future__ import annotations

import argparse
import contextlib
import io
from typing import Any, Callable, Iterable, Iterator, TextIO

from ..client import MovaClient
from ..errors import UsageError
from ..exchange import Exchange
from ..geometry import LAYOUTS
from ..mission import Mission
from ..plans import Plan, plan_json
from ..protocol import PLANNING_COMMANDS, parse_line
from ..roads import ROAD_COMMANDS, ROAD_KIND_OF_COMMAND, RoadKind
from . import scenarios
from ..scenario_stream import looks_like_json
from .common import (
    BAD_INPUT,
    NO_PLAN,
    PLAN_FOUND,
    STATUS_BAD_INPUT,
    STATUS_CONTROLLER,
    Action,
    add_json_option,
    add_mission_options,
    command_file_lines,
    describe,
    help_text,
    mission_flags_given,
    read_text,
    roads_from_options,
    start_traced_client,
    write_json,
)
from .pictures import PictureFiles

_HELP = argparse.RawDescriptionHelpFormatter
STREAM = 'a command stream: one controller command per line, lines that begin with "#" are comments'


def add_parsers(sub: Any, common: argparse.ArgumentParser) -> None:
    """Adds the actions `run` and `plan`."""
    run = sub.add_parser("run", parents=[common], formatter_class=_HELP,
                         help="run a command stream, print each command beside its answer",
                         description=describe("Sends each line of a command stream to the controller as it is and "
                         "prints it beside the answer, or \"dropped\" when the controller wrote none."),
                         epilog=help_text(["mova-host run examples/mission.txt",
                                           "mova-host run mova-commands.txt --json"],
                                          [(PLAN_FOUND, "the last planning command answered TRUE, or there was none"),
                                           (NO_PLAN, "the last planning command answered FALSE"),
                                           (BAD_INPUT, "the file cannot be read"), STATUS_CONTROLLER]))
    run.add_argument("file", help=STREAM)
    add_json_option(run, "exchanges: each line with its command, answer and whether it was dropped")
    _add_plan(sub, common)


def _add_plan(sub: Any, common: argparse.ArgumentParser) -> None:
    plan = sub.add_parser("plan", parents=[common], formatter_class=_HELP, help="plan a mission and draw it",
                          description=describe("Plans a mission and prints each plan the controller computes as a table. "
                          "A command stream is played through the mission helper: every plan, move, blocked "
                          "road and new plan in it; a scenario file (JSON) is planned once, its obstacles "
                          "given before the plan."),
                          epilog=help_text([
                              "mova-host plan examples/mission.txt --trace --svg plan.svg",
                              "mova-host plan examples/scenarios/siding.json --animate siding.svg",
                              "mova-host plan --road two-lanes 0 1 --road one-lane 1 2 --start 0 1 5 --goal 2 0 5",
                          ], [(PLAN_FOUND, "the last plan computed was found"),
                              (NO_PLAN, "it was not found, or no plan was computed"),
                              STATUS_BAD_INPUT, STATUS_CONTROLLER],
                              note="Pictures of a second plan (after a blocked road) get -2 before the suffix, and "
                              "so on."))
    plan.add_argument("file", nargs="?", help=STREAM + ", or a scenario file (JSON); or give the mission with "
                      "--road, --start and --goal")
    add_mission_options(plan)
    add_json_option(plan, "the plans, or for a scenario file its one plan with its figures")
    plan.add_argument("--svg", metavar="FILE", help="write a picture of the plan (SVG) to FILE")
    plan.add_argument("--animate", metavar="FILE", help="write an animated picture of the plan (SVG) to FILE")
    plan.add_argument("--frames", metavar="DIR", help="write one picture per step into the folder DIR")
    plan.add_argument("--layout", choices=sorted(LAYOUTS), default="grid",
                      help="where the pictures draw the positions when a scenario gives no coordinates: grid "
                      "(4 by 3, 0 to 3 on top; the default) or circle")
    plan.add_argument("--trace", action="store_true", help="print every command sent beside its answer, "
                      "and the stream's comments in their place")


# ----- run -------------------------------------------------------------------------------------


def run_stream(args: argparse.Namespace, out: TextIO) -> int:
    """Status 1 when the last planning command answered FALSE."""
    lines = command_file_lines(args.file)
    exchanges: list[Exchange] = []
    with start_traced_client(args, out, trace=not args.json) as client:
        for line in lines:
            exchanges.append(client.request(line))
    planned = [e.answer for e in exchanges if e.command in PLANNING_COMMANDS]
    if args.json:
        write_json(out, {"exchanges": [{"line": e.line, "command": e.command, "answer": e.answer,
                                        "dropped": e.dropped} for e in exchanges]})
    return NO_PLAN if planned and planned[-1] != "TRUE" else PLAN_FOUND


# ----- plan ------------------------------------------------------------------------------------


class _Drawing:
    """Prints and draws every plan a mission computes: the first under the picture names given,
    later ones (after re-planning) with -2, -3, ... before the suffix."""

    def __init__(self, args: argparse.Namespace, out: TextIO):
        self.args, self.out = args, out
        self.pictures = PictureFiles.of(args)
        self.plans: list[Plan] = []

    def __call__(self, plan: Plan) -> None:
        self.plans.append(plan)
        count = len(self.plans)
        print(f"\nPlan {count}:", file=self.out)
        print(plan.table(), file=self.out)
        for path in self.pictures.write(plan, self.args.layout, count=count):
            print(f"picture: {path}", file=self.out)
        print(file=self.out)


@contextlib.contextmanager
def _untraced_reads(client: MovaClient, word: str) -> Iterator[None]:
    """Traces only the exchange of the script's own command, not the queries the mission helper
    adds to read the plan and the positions."""
    hook = client.on_exchange
    if hook is not None:
        forward = hook

        def own_only(exchange: Exchange) -> None:
            if exchange.command == word:
                forward(exchange)

        client.on_exchange = own_only
    try:
        yield
    finally:
        client.on_exchange = hook


def _plan_step(mission: Mission, client: MovaClient, name: str, draw: Callable[[Plan], None]) -> None:
    """MOVA_START_MISSION or OBSTACLES_CONFIRM: plans (again) and draws the plan."""
    with _untraced_reads(client, name):
        plan = mission.plan() if name == "MOVA_START_MISSION" else mission.replan()
    draw(plan)


def _move_step(mission: Mission, client: MovaClient, out: TextIO) -> None:
    with _untraced_reads(client, "VEHICLE_MOVED_FORWARD"):
        moves, arrived = mission.advance()
    text = ", ".join(str(m) for m in moves) or "nothing moved"
    print(f"   moved: {text}{'; all vehicles on their goals' if arrived else ''}", file=out)


def play_mission(lines: Iterable[str], client: MovaClient, draw: Callable[[Plan], None],
                 out: TextIO, *, comments: bool = False) -> Mission:
    """Plays a mission script through the mission helper. Lines that begin with "#" are not
    sent; with `comments` they are printed to `out` where they stand.

    Roads are collected and ENVIRONMENT_BUILD sends and builds them; positions and goals are
    sent in their place in the script; MOVA_START_MISSION plans and reads the plan (its queries
    are not traced), VEHICLE_MOVED_FORWARD follows the plan one step,
    OBSTACLES_ADD_OBSTACLE and OBSTACLES_CONFIRM block a road and plan again. Any other line
    goes to the controller as it is.
    """
    mission = Mission(client)
    for line in lines:
        if line.startswith("#"):
            if comments:
                print(line, file=out)
            continue
        parsed = parse_line(line)
        name = parsed.command.name if parsed.command else None
        valid = parsed.problem is None
        args = list(parsed.args)
        if name in ROAD_KIND_OF_COMMAND and valid:
            mission.add_road(ROAD_KIND_OF_COMMAND[name], args[0], args[1])
        elif name == "ENVIRONMENT_CLEAN" and valid:
            mission.roads.clear()
        elif name == "ENVIRONMENT_BUILD":
            mission.build()
        elif name == "VEHICLE_SET_CURRENT_POS" and valid:
            mission.set_start(args[0], args[1])
        elif name == "VEHICLE_SET_GOAL_POS" and valid:
            mission.set_goal(args[0], args[1])
        elif name in PLANNING_COMMANDS:
            _plan_step(mission, client, name, draw)
        elif name == "VEHICLE_MOVED_FORWARD":
            _move_step(mission, client, out)
        elif name == "OBSTACLES_ADD_OBSTACLE" and valid:
            mission.add_obstacle(args[0], args[1])
        else:
            client.request(line)
    return mission


def _flag_lines(args: argparse.Namespace) -> list[str]:
    """The mission the --road/--start/--goal/--obstacle options describe, as a command stream."""
    lines = ["ENVIRONMENT_CLEAN"]
    for kind, a, b in args.road or []:
        lines.append(f"{ROAD_COMMANDS[RoadKind(kind)]} {a} {b}")
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


def plan_mission(args: argparse.Namespace, out: TextIO) -> int:
    """Status 1 when the last plan computed was not found (or none was computed)."""
    if args.file and mission_flags_given(args):
        raise UsageError("plan: give a mission FILE or the --road/--start/--goal options, not both")
    if args.file and looks_like_json(args.file):
        return scenarios.plan_scenario(args, out)
    if args.file:
        lines = read_text(args.file).splitlines()
    else:
        if not args.road or not args.start or not args.goal:
            raise UsageError("plan: give a mission FILE, or --road, --start and --goal")
        roads_from_options(args.road)
        lines = _flag_lines(args)
    text = io.StringIO() if args.json else out
    drawing = _Drawing(args, text)
    trace = args.trace and not args.json
    with start_traced_client(args, text, trace=trace) as client:
        play_mission(lines, client, drawing, text, comments=trace)
    if args.json:
        write_json(out, {"plans": [plan_json(p) for p in drawing.plans]})
    return PLAN_FOUND if drawing.plans and drawing.plans[-1].found else NO_PLAN


ACTIONS: dict[str, Action] = {"run": run_stream, "plan": plan_mission}
