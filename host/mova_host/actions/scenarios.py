"""The actions on scenario files (JSON): `check` reads a file and says what is doubtful in it,
`commands` prints the command stream that plans it, `plan FILE` plans it, `explain` plans it
and explains the answer against the exact search; --json gives one JSON object instead of text.
"""

from __future__ import annotations

import argparse
import textwrap
from typing import Any, TextIO

from ..errors import ScenarioError
from ..explain import Explanation, explain
from ..geometry import Layout
from ..plans import plan_figures, plan_json
from ..runner import Run, ScenarioRunner
from ..scenario import Scenario, command_lines, load_scenario
from ..scenario_check import check_scenario
from .common import (
    BAD_INPUT,
    NO_PLAN,
    PLAN_FOUND,
    Action,
    add_json_option,
    add_mission_options,
    scenario_of,
    start_traced_client,
    write_json,
)
from .pictures import PictureFiles

TEXT_WIDTH = 96  # explanations are wrapped to this width


def add_parsers(sub: Any, common: argparse.ArgumentParser) -> None:
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


def _layout(s: Scenario, args: argparse.Namespace) -> Layout:
    coordinates = s.coordinates()
    if coordinates is not None:
        return coordinates
    layout: str = getattr(args, "layout", "grid")
    return layout


def _title(s: Scenario, text: str) -> str:
    return f"{s.name}: {text}" if s.name else text


def run_json(run: Run) -> dict[str, Any]:
    """A computation of a scenario as `plan FILE --json` prints it."""
    shape = plan_json(run.as_plan())
    figures = plan_figures(run.plan) if run.plan else (None, None, None)
    return {"scenario": run.scenario.name, "answer": shape["answer"], "steps": shape["steps"],
            "moves": figures[1], "waits": figures[2], "plan": shape["plan"], "evaluations": run.evaluations}


def plan_scenario(args: argparse.Namespace, out: TextIO) -> int:
    """`plan FILE` with a scenario file: one computation, its table and pictures."""
    s = load_scenario(args.file)
    with start_traced_client(args, out, trace=args.trace and not args.json) as client:
        run = ScenarioRunner(client).run(s)
    plan = run.as_plan()
    written = PictureFiles.of(args).write(plan, _layout(s, args), title=_title(s, plan.title()), names=s.names())
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
    return explain(s.roads, s.starts, s.goals, s.obstacles, answer=run.answer, controller_plan=run.plan,
                   distances=run.distances, log_records=run.log_records, evaluations=run.evaluations,
                   timeout_ms=s.timeout_ms, memory_mb=s.memory_mb, names=s.names())


def explain_action(args: argparse.Namespace, out: TextIO) -> int:
    s = scenario_of(args, "explain")
    with start_traced_client(args, out, trace=args.trace and not args.json) as client:
        run = ScenarioRunner(client, logging=True).run(s, read_distances=True)
    result = explain_scenario(s, run)
    pictures = PictureFiles(svg=args.svg)
    written = pictures.write(run.as_plan(), _layout(s, args), title=_title(s, result.picture_title()), names=s.names())
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
        print("\n".join(textwrap.wrap(result.text(), TEXT_WIDTH)), file=out)
        for path in written:
            print(f"picture: {path}", file=out)
    return PLAN_FOUND if run.answer else NO_PLAN


ACTIONS: dict[str, Action] = {"check": check_action, "explain": explain_action, "commands": commands_action}
