"""The one door from the fleet bridge into the rest of the host package.

Everything the bridge needs of the controller client, missions and plans, scenario files and
explanations is imported here; the other fleet modules import it from this module only.
"""

from __future__ import annotations

from ..client import ChildExited, CommandDropped, MovaClient, MovaError, MovaTimeout, ProtocolError, Timeouts
from ..exact import Network
from ..explain import Explanation, explain
from ..mission import Mission, MissionError, Plan, PlanCheckError, Road, RoadKind
from ..protocol import MAX_POS, VEHICLES
from ..scenario import Scenario, ScenarioError, check_scenario, load_scenario

__all__ = [
    "MAX_POS",
    "VEHICLES",
    "ChildExited",
    "CommandDropped",
    "Explanation",
    "Mission",
    "MissionError",
    "MovaClient",
    "MovaError",
    "MovaTimeout",
    "Network",
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
    "load_scenario",
]
