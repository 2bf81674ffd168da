"""The actions on scenarios, each given as a scenario file (JSON) or as a command stream read as
one (`scenario_stream`): `check` says what is doubtful in it, `commands` prints the command
stream that plans it, `scenario` writes it as a scenario file, `plan FILE` (a JSON file) plans
it, `explain` plans it and explains the answer against the exact search; --json gives one JSON
object instead of text.
"""

from __future__ import annotations

import argparse
import os
import textwrap
from pathlib import Path
from typing import Any, TextIO

from ..errors import ScenarioError, UsageError
from ..explain import Explanation, explain
from ..geometry import Layout
from ..plans import plan_figures, plan_json
from ..runner import Run, ScenarioRunner
from ..scenario import Scenario, command_lines, dumps_scenario, load_scenario
from ..scenario_check import Finding, check_scenario
from ..scenario_stream import StreamScenario
from .common import (
    BAD_INPUT,
    MISSION_FILE,
    NO_PLAN,
    PLAN_FOUND,
    STATUS_BAD_INPUT,
    STATUS_CONTROLLER,
    Action,
    add_json_option,
    add_mission_options,
    describe,
    help_text,
    load_input,
    scenario_of,
    start_traced_client,
    write_json,
)
from .pictures import PictureFiles

TEXT_WIDTH = 96  # explanations are wrapped to this width
_HELP = argparse.RawDescriptionHelpFormatter


def add_parsers(sub: Any, common: argparse.ArgumentParser) -> None:
    """Adds the actions `check`, `explain`, `commands` and `scenario`."""
    check = sub.add_parser("check", help="check a scenario: what is doubtful in it", formatter_class=_HELP,
                           description=describe("Reads a scenario and says what is doubtful in it, each finding with its "
                           "place (for a command stream, its line). Nothing is run."),
                           epilog=help_text(["mova-host check examples/scenarios/island.json",
                                             "mova-host check examples/mission.txt --json"],
                                            [(PLAN_FOUND, "nothing doubtful"),
                                             (NO_PLAN, "the file reads, but something is doubtful"),
                                             (BAD_INPUT, "the file cannot be read as a scenario")]))
    check.add_argument("file", help=MISSION_FILE)
    add_json_option(check, "file, valid, errors and warnings, each with its place")
    _add_explain(sub, common)
    commands = sub.add_parser("commands", help="print the command stream that plans a scenario", formatter_class=_HELP,
                              description=describe("Prints the lines that plan the scenario on a freshly started controller, "
                              "up to MOVA_START_MISSION. Nothing is run."),
                              epilog=help_text(["mova-host commands examples/scenarios/siding.json > siding.txt",
                                                "mova-host run siding.txt"],
                                               [(PLAN_FOUND, "printed"), STATUS_BAD_INPUT]))
    commands.add_argument("file", help=MISSION_FILE)
    scenario = sub.add_parser("scenario", help="write a command stream as a scenario file (JSON)", formatter_class=_HELP,
                              description=describe("Reads a command stream as a scenario and writes it as a scenario file. "
                              "The scenario is the mission the stream's first MOVA_START_MISSION or OBSTACLES_CONFIRM "
                              "plans (the stream's end when it has none); what the stream does after that line is "
                              "left out, and a note on standard error says what. Nothing is run."),
                              epilog=help_text(["mova-host scenario examples/mission.txt",
                                                "mova-host scenario mova-commands.txt -o mission.json"],
                                               [(PLAN_FOUND, "written"), STATUS_BAD_INPUT]))
    scenario.add_argument("file", metavar="STREAM", help="a command stream (a scenario file is written back "
                          "as it reads)")
    scenario.add_argument("-o", "--output", metavar="FILE", help="write the scenario to FILE (default: standard "
                          "output)")


def _add_explain(sub: Any, common: argparse.ArgumentParser) -> None:
    explain_ = sub.add_parser("explain", parents=[common], formatter_class=_HELP,
                              help="plan a scenario and explain the answer against the exact search",
                              description=describe("Plans the scenario on the controller (obstacles given before the "
                              "plan) and explains the answer: whether a plan exists, the fewest steps and moves, "
                              "and why the controller answered as it did."),
                              epilog=help_text([
                                  "mova-host explain examples/scenarios/controller-misses.json",
                                  "mova-host explain examples/mission.txt --json",
                                  "mova-host explain --road one-lane 0 1 --start 0 1 5 --goal 1 0 5",
                              ], [(PLAN_FOUND, "the controller found a plan"), (NO_PLAN, "it found none"),
                                  STATUS_BAD_INPUT, STATUS_CONTROLLER]))
    explain_.add_argument("file", nargs="?", help=MISSION_FILE + "; or give the mission with --road, --start "
                          "and --goal")
    add_mission_options(explain_)
    add_json_option(explain_, "the figures, the category, the reason, its causes, the roads cut and the plans")
    explain_.add_argument("--svg", metavar="FILE", help="write a picture of the plan (SVG) to FILE")
    explain_.add_argument("--trace", action="store_true", help="print every command sent and its answer")


# ----- check, commands and scenario ------------------------------------------------------------


def _finding_json(finding: Finding, found: StreamScenario | None) -> dict[str, Any]:
    data: dict[str, Any] = finding.to_json()
    if found is not None:
        data["line"] = found.line_of(finding.place)
    return data


def _finding_text(finding: Finding, found: StreamScenario | None) -> str:
    line = found.line_of(finding.place) if found is not None else None
    return f"line {line} ({finding.place}): {finding.message}" if line is not None else str(finding)


def check_action(args: argparse.Namespace, out: TextIO) -> int:
    try:
        s, found = load_input(args.file)
    except ScenarioError as error:
        if args.json:
            write_json(out, {"file": args.file, "valid": False,
                             "errors": [{"place": error.place, "message": error.problem}], "warnings": []})
            return BAD_INPUT
        raise
    findings = check_scenario(s)
    if args.json:
        write_json(out, {"file": args.file, "valid": True, "errors": [],
                         "warnings": [_finding_json(f, found) for f in findings]})
    else:
        for finding in findings:
            print(f"{args.file}: {_finding_text(finding, found)}", file=out)
        if not findings:
            print(f"{args.file}: no problems found", file=out)
    return NO_PLAN if findings else PLAN_FOUND


def commands_action(args: argparse.Namespace, out: TextIO) -> int:
    for line in command_lines(load_input(args.file)[0]):
        print(line, file=out)
    return PLAN_FOUND


def scenario_action(args: argparse.Namespace, out: TextIO) -> int:
    """`scenario STREAM [-o FILE]`: the scenario as a scenario file."""
    text = dumps_scenario(load_input(args.file)[0])
    if args.output and Path(args.output).exists() and os.path.samefile(args.output, args.file):
        raise UsageError(f"scenario: -o {args.output} would overwrite the file it reads")
    if args.output:
        try:
            Path(args.output).write_text(text)
        except OSError as error:
            raise UsageError(f"{args.output}: cannot be written ({error.strerror or error})") from None
    else:
        out.write(text)
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


ACTIONS: dict[str, Action] = {"check": check_action, "explain": explain_action, "commands": commands_action,
                              "scenario": scenario_action}
