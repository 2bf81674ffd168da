"""The one door from the fleet bridge into the rest of the host package.

Everything the bridge needs of the controller client, missions and plans, scenario files,
explanations and the input checks (the strict JSON reader among them) is imported here; the other fleet modules import it from this module only.
"""

from __future__ import annotations

from .. import checks
from ..client import MovaClient
from ..errors import (
    ChildExited,
    CommandDropped,
    InputError,
    JsonError,
    MissionError,
    MovaError,
    MovaTimeout,
    PlanCheckError,
    Problem,
    ProtocolError,
    ScenarioError,
)
from ..exact import Network
from ..exchange import Timeouts
from ..explain import Explanation, explain
from ..mission import Mission
from ..plans import Plan
from ..protocol import MAX_POS, VEHICLES
from ..roads import Road, RoadKind
from ..scenario import Scenario, load_scenario
from ..scenario_check import check_scenario
from ..scenario_stream import load_mission

__all__ = [
    "MAX_POS",
    "VEHICLES",
    "ChildExited",
    "CommandDropped",
    "Explanation",
    "InputError",
    "JsonError",
    "Mission",
    "MissionError",
    "MovaClient",
    "MovaError",
    "MovaTimeout",
    "Network",
    "Plan",
    "PlanCheckError",
    "Problem",
    "ProtocolError",
    "Road",
    "RoadKind",
    "Scenario",
    "ScenarioError",
    "Timeouts",
    "check_scenario",
    "checks",
    "explain",
    "load_mission",
    "load_scenario",
]
