"""Host client of the MOVA traffic controller: the process and its protocol, missions, scenario
files, explanations, pictures, the command line and the workbench.

The modules in layers, each importing only from the layers below it (tests/check_sources.py
keeps it so):

- words: `errors` (every exception), `limits` (the controller's defaults), `protocol`;
- model: `checks` (input checks), `roads`, `vehicles`, `plans`, `logrecords`;
- `exact` (the exact search), then `geometry`, `svg`, `scenario`, `scenario_check`, `explain`;
- the controller: `process`, `exchange`, `client`; then `mission`, `runner`;
- `fleet`; the command line's `actions`; the `workbench`; `cli`.
"""

from .client import MovaClient
from .errors import (
    ChildExited,
    CommandDropped,
    ControllerNotFound,
    MissionError,
    MovaError,
    MovaTimeout,
    PlanCheckError,
    ProtocolError,
    ScenarioError,
)
from .exchange import Exchange, Timeouts
from .explain import Explanation, explain
from .mission import Mission
from .plans import Plan
from .process import find_binary
from .roads import Road, RoadKind
from .scenario import Scenario, load_scenario, loads_scenario, parse_scenario
from .scenario_check import check_scenario

__all__ = [
    "ChildExited",
    "CommandDropped",
    "ControllerNotFound",
    "Exchange",
    "Explanation",
    "Mission",
    "MissionError",
    "MovaClient",
    "MovaError",
    "MovaTimeout",
    "Plan",
    "PlanCheckError",
    "ProtocolError",
    "Road",
    "RoadKind",
    "Scenario",
    "ScenarioError",
    "Timeouts",
    "check_scenario",
    "explain",
    "find_binary",
    "load_scenario",
    "loads_scenario",
    "parse_scenario",
]
