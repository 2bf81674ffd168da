"""Host client of the MOVA traffic controller: the process and its protocol, missions, pictures."""

from .client import (
    ChildExited,
    CommandDropped,
    Exchange,
    MovaClient,
    MovaError,
    MovaTimeout,
    ProtocolError,
    Timeouts,
    find_binary,
)
from .mission import Mission, MissionError, Plan, Road, RoadKind

__all__ = [
    "ChildExited",
    "CommandDropped",
    "Exchange",
    "Mission",
    "MissionError",
    "MovaClient",
    "MovaError",
    "MovaTimeout",
    "Plan",
    "ProtocolError",
    "Road",
    "RoadKind",
    "Timeouts",
    "find_binary",
]
