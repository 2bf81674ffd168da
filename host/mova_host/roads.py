"""The road network: the three kinds of road, a road between two positions, obstacles, and the
words every part of the package uses for the kinds.
"""

from __future__ import annotations

from dataclasses import dataclass
from enum import Enum

from . import checks
from .errors import InputError
from .protocol import MAX_POS

Obstacle = tuple[int, int]  # a blocked road, by its two ends (blocked in both directions)


class RoadKind(Enum):
    """The three kinds of road: one-way (from its first end to its second), two-way with one
    lane (two vehicles never pass each other on it) and two-way with two lanes."""

    ONE_WAY = "one-way"
    ONE_LANE = "one-lane"
    TWO_LANES = "two-lanes"


KIND_VALUES = tuple(kind.value for kind in RoadKind)


@dataclass(frozen=True)
class KindWords:
    """How a kind of road is called: `noun` in sentences ("a one-lane road"), `label` in
    legends and lists ("two-way, one lane"), `phrase` in the page's hints."""

    noun: str
    label: str
    phrase: str


KIND_WORDS = {
    RoadKind.ONE_WAY: KindWords("one-way road", "one-way", "one-way road"),
    RoadKind.ONE_LANE: KindWords("one-lane road", "two-way, one lane", "two-way road with one lane"),
    RoadKind.TWO_LANES: KindWords("two-lane road", "two-way, two lanes", "two-way road with two lanes"),
}

ROAD_COMMANDS = {
    RoadKind.ONE_WAY: "ENVIRONMENT_ADD_ONE_WAY_ROAD",
    RoadKind.ONE_LANE: "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE",
    RoadKind.TWO_LANES: "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES",
}
ROAD_KIND_OF_COMMAND = {command: kind for kind, command in ROAD_COMMANDS.items()}


@dataclass(frozen=True)
class Road:
    """A road of a kind between positions `a` and `b` (0 to 11; a one-way road leads from a to
    b). ValueError for an end outside 0 to 11."""

    kind: RoadKind
    a: int  # origin of a one-way road
    b: int  # destination of a one-way road

    def __post_init__(self) -> None:
        for end in (self.a, self.b):
            try:
                checks.position(end)
            except InputError:
                raise ValueError(f"road end {end!r} is not a position 0 to {MAX_POS - 1}") from None

    @property
    def command(self) -> str:
        """The command word that adds a road of this kind."""
        return ROAD_COMMANDS[self.kind]

    @property
    def line(self) -> str:
        """The command line that adds this road."""
        return f"{self.command} {self.a} {self.b}"

    def allows(self, origin: int, destination: int) -> bool:
        """Whether a vehicle may go along this road from `origin` to `destination`."""
        if (origin, destination) == (self.a, self.b):
            return True
        return self.kind is not RoadKind.ONE_WAY and (origin, destination) == (self.b, self.a)

    def joins(self, first: int, second: int) -> bool:
        """Whether the road joins the two positions, in either direction."""
        return {first, second} == {self.a, self.b}
