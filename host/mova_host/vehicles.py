"""The three vehicles: their positions, and the rules by which the controller takes their
current positions and their goals.

- VEHICLE_SET_CURRENT_POS puts a vehicle on a position; a vehicle that stood there loses its
  place (`Placing`).
- VEHICLE_SET_GOAL_POS is refused when another vehicle's goal holds the position; the earlier
  goal stays (`GoalMarking`). Goals that swap positions are therefore set by parking one of
  them on a free position first (`GoalMarking.steps_to`).
"""

from __future__ import annotations

from typing import Mapping, Sequence

from . import checks
from .errors import InputError
from .protocol import MAX_POS, VEHICLES

Positions = tuple[int, int, int]  # positions of vehicles 1, 2 and 3


def positions(value: Sequence[int] | Mapping[int, int], what: str) -> Positions:
    """Three different positions, of vehicles 1, 2 and 3 (a list, or a map by vehicle)."""
    if isinstance(value, Mapping):
        if sorted(value) != list(VEHICLES):
            raise ValueError(f"{what} must name vehicles 1, 2 and 3")
        value = [value[v] for v in VEHICLES]
    if len(value) != len(VEHICLES):
        raise ValueError(f"{what} must give three positions, got {len(value)}")
    for p in value:
        try:
            checks.position(p)
        except InputError:
            raise ValueError(f"{what}: {p!r} is not a position 0 to {MAX_POS - 1}") from None
    if len(set(value)) != len(value):
        raise ValueError(f"{what} must be three different positions, got {tuple(value)}")
    return (value[0], value[1], value[2])


class Placing:
    """The current positions given to the controller so far, vehicle by vehicle."""

    def __init__(self, given: Mapping[int, int] | None = None):
        self.given: dict[int, int] = dict(given or {})

    def set(self, vehicle: int, position: int) -> None:
        """As VEHICLE_SET_CURRENT_POS: a vehicle that stood on the position loses its place."""
        self.given = {v: p for v, p in self.given.items() if p != position}
        self.given[vehicle] = position

    def complete(self) -> Positions | None:
        """The positions of all three vehicles, once each has one."""
        return positions(self.given, "starts") if sorted(self.given) == list(VEHICLES) else None


class GoalMarking:
    """The goals the controller holds, as VEHICLE_SET_GOAL_POS leaves them."""

    def __init__(self, held: Mapping[int, int] | None = None):
        self.held: dict[int, int] = dict(held or {})

    def set(self, vehicle: int, position: int) -> bool:
        """As the controller does: refused (False) when another vehicle's goal holds the position."""
        if any(p == position and v != vehicle for v, p in self.held.items()):
            return False
        self.held[vehicle] = position
        return True

    def complete(self) -> Positions | None:
        return positions(self.held, "goals") if sorted(self.held) == list(VEHICLES) else None

    def steps_to(self, goals: Sequence[int]) -> list[tuple[int, int]]:
        """The (vehicle, position) goal settings, in order, that bring the held goals to `goals`
        (three different positions) without a refusal: a vehicle whose new goal is still held
        waits, and a cycle of goals is opened by parking one of them on a free position."""
        held = dict(self.held)
        wanted = {v: goals[v - 1] for v in VEHICLES if held.get(v) != goals[v - 1]}
        steps: list[tuple[int, int]] = []
        while wanted:
            holder = {p: v for v, p in held.items()}
            ready = [v for v, p in wanted.items() if p not in holder]
            if ready:
                v = ready[0]
                held[v] = wanted.pop(v)
            else:
                v = next(iter(wanted))
                busy = set(holder) | set(goals)
                held[v] = next(p for p in range(MAX_POS) if p not in busy)
            steps.append((v, held[v]))
        return steps
