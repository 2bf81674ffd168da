"""A plan: the positions of the three vehicles step by step, from where they stand to their
goals; its moves, its figures, its text table and its JSON shape.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Sequence

from .protocol import VEHICLES
from .roads import Obstacle, Road
from .vehicles import Positions

Placement = tuple[int, ...]  # position of vehicle 1, 2, (3): the exact search also places two


@dataclass(frozen=True)
class Move:
    """One vehicle going from `origin` to `destination` in one step; shown as "V1 0->4"."""

    vehicle: int
    origin: int
    destination: int

    def __str__(self) -> str:
        return f"V{self.vehicle} {self.origin}->{self.destination}"


def moves_between(before: Positions, after: Positions) -> list[Move]:
    """The moves of one step, vehicle by vehicle."""
    return [Move(v, before[v - 1], after[v - 1]) for v in VEHICLES if before[v - 1] != after[v - 1]]


def moved(before: Sequence[int], after: Sequence[int]) -> int:
    """How many vehicles a step moves."""
    return sum(1 for a, b in zip(before, after) if a != b)


def plan_figures(plan: Sequence[Sequence[int]]) -> tuple[int, int, int]:
    """(steps, vehicle moves, waits) of a plan. A wait is a step in which a vehicle stands
    still although it still has a move to make later."""
    steps = len(plan) - 1
    moves = sum(moved(plan[i - 1], plan[i]) for i in range(1, len(plan)))
    waits = 0
    for v in range(len(plan[0]) if plan else 0):
        last = max((i for i in range(1, len(plan)) if plan[i][v] != plan[i - 1][v]), default=0)
        waits += sum(1 for i in range(1, last) if plan[i][v] == plan[i - 1][v])
    return steps, moves, waits


@dataclass(frozen=True)
class Plan:
    """A plan as the controller holds it: positions of the three vehicles at each step.

    `steps[0]` is where the vehicles stand now, `steps[-1]` the goals. `history` holds the
    positions the vehicles passed through before this plan (earlier moves of the mission).
    """

    found: bool
    roads: tuple[Road, ...]
    obstacles: tuple[Obstacle, ...]
    goals: Positions
    steps: tuple[Positions, ...]
    history: tuple[Positions, ...] = ()

    @property
    def num_steps(self) -> int:
        """The number of steps from where the vehicles stand to their goals (0 without a plan)."""
        return len(self.steps) - 1

    def path(self, vehicle: int) -> list[int]:
        """The positions of one vehicle (1 to 3), step by step."""
        return [step[vehicle - 1] for step in self.steps]

    def moves(self, step: int) -> list[Move]:
        """The moves that lead from step - 1 to step."""
        if not 1 <= step <= self.num_steps:
            raise IndexError(f"step {step} is not a move of this plan (1 to {self.num_steps})")
        return moves_between(self.steps[step - 1], self.steps[step])

    def table(self) -> str:
        """The plan step by step as a text table."""
        rows = [f"{'step':>4} | {'V1':>3} | {'V2':>3} | {'V3':>3} | moves"]
        rows.append("-----+-----+-----+-----+" + "-" * 30)
        for index, positions in enumerate(self.steps):
            moves = "start" if index == 0 else ", ".join(str(m) for m in self.moves(index))
            cells = " | ".join(f"{p:>3}" for p in positions)
            rows.append(f"{index:>4} | {cells} | {moves}")
        if not self.found:
            rows.append("(no plan: the controller found none)")
        return "\n".join(rows)

    def title(self) -> str:
        """A short title: the steps, the steps made and the obstacles."""
        if not self.found:
            return "No plan found"
        done = len(self.history)
        text = f"Plan: {_count(self.num_steps, 'step')}"
        if done:
            text += f" (after {_count(done, 'step')} made)"
        if self.obstacles:
            text += f", {_count(len(self.obstacles), 'obstacle')}"
        return text


def _count(n: int, word: str) -> str:
    return f"{n} {word}{'s' if n != 1 else ''}"


def plan_json(plan: Plan) -> dict[str, Any]:
    """The JSON shape of a plan: whether the controller found it, its number of steps and its
    placements (both null without a plan), the obstacles it avoids and the steps made before it."""
    return {"answer": plan.found, "steps": plan.num_steps if plan.found else None,
            "plan": [list(p) for p in plan.steps] if plan.found else None,
            "obstacles": [list(o) for o in plan.obstacles], "history": [list(p) for p in plan.history]}
