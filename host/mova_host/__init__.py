"""Host client of the MOVA traffic controller: the process and its protocol, missions, scenario
files, explanations, pictures, the command line and the workbench.

What the package exports is its Python API (docs/python-api.md, generated from the docstrings).
The modules in layers, each importing only from the layers below it (tests/check_sources.py
keeps it so):

- words: `errors` (every exception), `limits` (the controller's defaults), `protocol`;
- model: `checks` (input checks), `roads`, `vehicles`, `plans`, `logrecords`;
- `exact` (the exact search), then `geometry`, `svg`, `scenario`, `scenario_stream`,
  `scenario_check`, `explain`;
- the controller: `process`, `exchange`, `client`; then `mission`, `runner`;
- `fleet`; the command line's `actions`; the `workbench`; `cli`.
"""

from .client import MovaClient
from .errors import (
    ChildExited,
    CommandDropped,
    ControllerFailed,
    ControllerNotFound,
    MissionError,
    MovaError,
    MovaTimeout,
    PlanCheckError,
    ProtocolError,
    ScenarioError,
)
from .exchange import Exchange, Timeouts
from .explain import Cut, Explanation, explain
from .mission import Mission
from .plans import Move, Plan
from .process import find_binary
from .roads import Road, RoadKind
from .runner import Run, ScenarioRunner
from .scenario import (
    PositionInfo,
    Scenario,
    command_lines,
    dumps_scenario,
    load_scenario,
    loads_scenario,
    parse_scenario,
    scenario_to_json,
)
from .scenario_check import Finding, check_scenario
from .scenario_stream import StreamScenario, load_mission, load_stream, read_stream
from .svg import render_animation, render_network, render_plan

__all__ = [
    "ChildExited",
    "CommandDropped",
    "ControllerFailed",
    "ControllerNotFound",
    "Cut",
    "Exchange",
    "Explanation",
    "Finding",
    "Mission",
    "MissionError",
    "Move",
    "MovaClient",
    "MovaError",
    "MovaTimeout",
    "Plan",
    "PlanCheckError",
    "PositionInfo",
    "ProtocolError",
    "Road",
    "RoadKind",
    "Run",
    "Scenario",
    "ScenarioError",
    "ScenarioRunner",
    "StreamScenario",
    "Timeouts",
    "check_scenario",
    "command_lines",
    "dumps_scenario",
    "explain",
    "find_binary",
    "load_mission",
    "load_scenario",
    "load_stream",
    "loads_scenario",
    "parse_scenario",
    "read_stream",
    "render_animation",
    "render_network",
    "render_plan",
    "scenario_to_json",
]
