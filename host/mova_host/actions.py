"""The command-line actions on scenario files: check, plan, explain, commands; JSON output.

Exit statuses of every action: 0 a plan was found (for `check`: nothing doubtful), 1 no plan
(for `check`: the file reads but has doubtful points), 2 bad input or usage (nothing is run),
3 the controller failed or died.
"""

from __future__ import annotations

import argparse
import json
from dataclasses import dataclass
from pathlib import Path
from typing import Any, TextIO

from . import svg
from .client import MovaClient
from .explain import Explanation, explain, plan_figures
from .mission import Plan, Road, RoadKind
from .protocol import integer_word
from .runner import Run, Session
from .scenario import Scenario, ScenarioError, check_scenario, command_lines, load_scenario, scenario_from_options

PLAN_FOUND, NO_PLAN, BAD_INPUT, CONTROLLER_FAILED = 0, 1, 2, 3


class UsageError(ValueError):
    """Bad options or input: the action runs nothing and ends with status 2."""


def add_mission_options(parser: argparse.ArgumentParser) -> None:
    """--road, --start, --goal and --obstacle, shared by `plan` and `explain`."""
    kinds = [k.value for k in RoadKind]
    parser.add_argument("--road", nargs=3, action="append", metavar=("KIND", "A", "B"),
                        help=f"a road, KIND one of {', '.join(kinds)}")
    parser.add_argument("--start", nargs=3, type=int, metavar="P", help="start of vehicles 1 to 3")
    parser.add_argument("--goal", nargs=3, type=int, metavar="P", help="goals of vehicles 1 to 3")
    parser.add_argument("--obstacle", nargs=2, type=int, action="append", metavar=("A", "B"),
                        help="block a road (both directions)")


def add_json_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--json", action="store_true", help="print one JSON object instead of text")


def register(sub: Any, common: argparse.ArgumentParser) -> None:
    """Adds the actions `check`, `explain` and `commands`."""
    check = sub.add_parser("check", help="check a scenario file")
    check.add_argument("file")
    add_json_option(check)
    explain_ = sub.add_parser("explain", parents=[common], help="plan a scenario and explain the "
                              "answer against the exact search")
    explain_.add_argument("file", nargs="?", help="scenario file (JSON)")
    add_mission_options(explain_)
    add_json_option(explain_)
    explain_.add_argument("--svg", help="picture of the plan")
    explain_.add_argument("--trace", action="store_true", help="print every command and its answer")
    commands = sub.add_parser("commands", help="print the command stream that plans a scenario")
    commands.add_argument("file")


ACTIONS = ("check", "explain", "commands")


def dispatch(args: argparse.Namespace, out: TextIO) -> int:
    if args.action == "check":
        return check_action(args, out)
    if args.action == "commands":
        return commands_action(args, out)
    return explain_action(args, out)


# ----- reading the input -----------------------------------------------------------------------


def is_scenario_file(path: str) -> bool:
    """A scenario file is JSON: named *.json, or its first non-blank character is "{"."""
    if path.endswith(".json"):
        return True
    try:
        with open(path, encoding="utf-8", errors="replace") as handle:
            return handle.read(4096).lstrip().startswith("{")
    except OSError:
        return False


def roads_from_options(items: list[list[str]] | None) -> list[Road]:
    roads = []
    for kind, a, b in items or []:
        ends = integer_word(a), integer_word(b)
        if kind not in [k.value for k in RoadKind] or ends[0] is None or ends[1] is None:
            raise UsageError(f"bad road {kind} {a} {b}: give one of "
                             f"{', '.join(k.value for k in RoadKind)} and two positions")
        try:
            roads.append(Road(RoadKind(kind), ends[0], ends[1]))
        except ValueError as error:
            raise UsageError(f"bad road {kind} {a} {b}: {error}") from None
    return roads


def scenario_of(args: argparse.Namespace, action: str) -> Scenario:
    """The scenario named by the file argument or described by the mission options."""
    flags = any(getattr(args, name, None) for name in ("road", "start", "goal", "obstacle"))
    if args.file:
        if flags:
            raise UsageError(f"{action}: give a scenario FILE or the --road/--start/--goal options, not both")
        if not is_scenario_file(args.file) and Path(args.file).is_file():
            raise UsageError(f"{action}: {args.file} is not a scenario file (JSON)")
        return load_scenario(args.file)
    if not args.road or not args.start or not args.goal:
        raise UsageError(f"{action}: give a scenario FILE, or --road, --start and --goal")
    return scenario_from_options(roads_from_options(args.road), args.start, args.goal,
                                 [tuple(o) for o in args.obstacle or []])


def write_json(out: TextIO, data: object) -> None:
    print(json.dumps(data, indent=2), file=out)


# ----- check and commands ----------------------------------------------------------------------


def check_action(args: argparse.Namespace, out: TextIO) -> int:
    try:
        s = load_scenario(args.file)
    except ScenarioError as error:
        if args.json:
            write_json(out, {"file": args.file, "valid": False,
                             "errors": [{"place": error.place, "message": error.problem}], "warnings": []})
            return BAD_INPUT
        raise
    findings = check_scenario(s)
    if args.json:
        write_json(out, {"file": args.file, "valid": True, "errors": [],
                         "warnings": [f.to_json() for f in findings]})
    else:
        for finding in findings:
            print(f"{args.file}: {finding}", file=out)
        if not findings:
            print(f"{args.file}: no problems found", file=out)
    return NO_PLAN if findings else PLAN_FOUND


def commands_action(args: argparse.Namespace, out: TextIO) -> int:
    for line in command_lines(load_scenario(args.file)):
        print(line, file=out)
    return PLAN_FOUND


# ----- plan and explain on a controller -------------------------------------------------------


def _client(args: argparse.Namespace, out: TextIO, trace: bool) -> MovaClient:
    from .cli import _client as client  # the command line's own way of starting the controller

    return client(args, out, trace)


def _layout(s: Scenario, args: argparse.Namespace) -> str | dict:
    coordinates = s.coordinates()
    return coordinates if coordinates is not None else getattr(args, "layout", "grid")


def _title(s: Scenario, text: str) -> str:
    return f"{s.name}: {text}" if s.name else text


@dataclass
class Pictures:
    """The picture options of `plan` (some absent for `explain`)."""

    svg: str | None = None
    animate: str | None = None
    frames: str | None = None

    @classmethod
    def of(cls, args: argparse.Namespace) -> "Pictures":
        return cls(getattr(args, "svg", None), getattr(args, "animate", None), getattr(args, "frames", None))

    def write(self, plan: Plan, s: Scenario, layout: str | dict, title: str | None) -> list[Path]:
        names = {p: info.name for p, info in s.positions.items() if info.name}
        written = []
        if self.svg:
            path = Path(self.svg)
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(svg.render_plan(plan, layout=layout, title=title, names=names))
            written.append(path)
        if self.animate and plan.found:
            path = Path(self.animate)
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(svg.render_animation(plan, layout=layout, names=names))
            written.append(path)
        if self.frames and plan.found:
            folder = Path(self.frames)
            folder.mkdir(parents=True, exist_ok=True)
            for step in range(plan.num_steps + 1):
                frame = svg.render_plan(plan, layout=layout, step=step, names=names)
                (folder / f"plan1-step{step:02d}.svg").write_text(frame)
            written.append(folder / "plan1-step*.svg")
        return written


def run_json(run: Run) -> dict:
    figures = plan_figures(run.plan) if run.plan else (None, None, None)
    return {"scenario": run.scenario.name, "answer": run.answer, "steps": figures[0],
            "moves": figures[1], "waits": figures[2],
            "plan": None if run.plan is None else [list(p) for p in run.plan],
            "evaluations": run.evaluations}


def plan_scenario(args: argparse.Namespace, out: TextIO) -> int:
    """`plan FILE` with a scenario file: one computation, its table and pictures."""
    s = load_scenario(args.file)
    with _client(args, out, trace=args.trace and not args.json) as client:
        run = Session(client).run(s)
    plan = run.as_plan()
    written = Pictures.of(args).write(plan, s, _layout(s, args), _title(s, svg.plan_title(plan)))
    if args.json:
        data = run_json(run)
        data["pictures"] = [str(p) for p in written]
        write_json(out, data)
    else:
        if s.name:
            print(s.name, file=out)
        print(plan.table(), file=out)
        for path in written:
            print(f"picture: {path}", file=out)
    return PLAN_FOUND if run.answer else NO_PLAN


def explain_scenario(s: Scenario, run: Run) -> Explanation:
    names = {p: info.name for p, info in s.positions.items() if info.name}
    return explain(s.roads, s.starts, s.goals, s.obstacles, answer=run.answer, controller_plan=run.plan,
                   distances=run.distances, log_records=run.log_records, evaluations=run.evaluations,
                   timeout_ms=s.timeout_ms, memory_mb=s.memory_mb, names=names)


def picture_title(result: Explanation) -> str:
    if result.category == "plan":
        return f"Plan: {result.steps} steps (fewest {result.optimal_steps})"
    if result.category == "missed":
        return f"No plan found, though one of {result.optimal_steps} steps exists"
    return f"No plan exists ({result.category})"


def explain_action(args: argparse.Namespace, out: TextIO) -> int:
    s = scenario_of(args, "explain")
    with _client(args, out, trace=args.trace and not args.json) as client:
        run = Session(client, logging=True).run(s, read_distances=True)
    result = explain_scenario(s, run)
    title = picture_title(result)
    written = Pictures(svg=args.svg).write(run.as_plan(), s, _layout(s, args), _title(s, title))
    if args.json:
        data = result.to_json()
        if s.name:
            data["scenario"] = s.name
        if written:
            data["pictures"] = [str(p) for p in written]
        write_json(out, data)
    else:
        if s.name:
            print(s.name, file=out)
        print(run.as_plan().table(), file=out)
        print(file=out)
        print(f"category: {result.category}", file=out)
        print(_wrap(result.text()), file=out)
        for path in written:
            print(f"picture: {path}", file=out)
    return PLAN_FOUND if run.answer else NO_PLAN


def _wrap(text: str, width: int = 96) -> str:
    import textwrap

    return "\n".join(textwrap.wrap(text, width))
