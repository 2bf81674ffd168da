"""Exact search over the joint placements of the vehicles, with the controller's step rules.

A placement gives the position of each vehicle (vehicle 1 first). One step moves one or more
vehicles at the same time, each along one road in the road's direction; the rules:

- a one-way road is used from its first end to its second, two-way roads both ways;
- a blocked road (an obstacle, given by its two ends) is used in neither direction, whichever
  road joins those ends;
- never two vehicles on one position, so no vehicle enters a position whose vehicle stays;
  a vehicle may enter a position that another vehicle leaves in the same step (vehicles
  following each other, and all three turning round a cycle of roads at once);
- two vehicles swap positions in one step only over a two-lane road, or over two different
  roads joining the same two positions; on a one-lane road they never pass each other.

With 12 positions there are at most 12 x 11 x 10 = 1320 placements of three vehicles, so the
whole space is searched in milliseconds. `solve` gives whether a plan exists, the fewest steps
and the fewest vehicle moves (a step that moves two vehicles counts two moves).
"""

from __future__ import annotations

import heapq
from collections import deque
from dataclasses import dataclass
from itertools import product
from typing import Callable, Iterable, Iterator, Sequence

from . import checks
from .errors import InputError
from .plans import Placement, moved
from .protocol import MAX_POS, NO_PATH, VEHICLES
from .roads import Obstacle, Road, RoadKind

Successors = Callable[[Placement], list[Placement]]


class Network:
    """The roads as seen by one vehicle: where it can go from each position, and where two
    vehicles can swap. Blocked roads are left out in both directions."""

    def __init__(self, roads: Iterable[Road], obstacles: Iterable[Obstacle] = ()):
        # A road from a position to itself moves no vehicle; it only closes a cycle there.
        self.roads = tuple(roads)
        self.blocked = frozenset(frozenset(o) for o in obstacles)
        # ways[p][q]: the indexes of the roads a vehicle can take from p to q (p != q).
        self.ways: list[dict[int, list[int]]] = [{} for _ in range(MAX_POS)]
        for index, road in enumerate(self.roads):
            directions = [(road.a, road.b)]
            if road.kind is not RoadKind.ONE_WAY:
                directions.append((road.b, road.a))
            for a, b in directions:
                if a != b and frozenset((a, b)) not in self.blocked:
                    self.ways[a].setdefault(b, []).append(index)
        # Each vehicle's choices from p: stay, or go to one of the neighbours.
        self.options: list[tuple[int, ...]] = [(p, *sorted(self.ways[p])) for p in range(MAX_POS)]

    def swap_allowed(self, p: int, q: int) -> bool:
        """Whether a vehicle on p and one on q can change places in one step."""
        there, back = self.ways[p].get(q, []), self.ways[q].get(p, [])
        return any(r1 != r2 or self.roads[r1].kind is RoadKind.TWO_LANES for r1 in there for r2 in back)

    def neighbours(self, p: int) -> list[int]:
        return sorted(self.ways[p])

    def reachable_from(self, p: int) -> set[int]:
        """The positions one vehicle alone can reach from p (p itself included)."""
        seen, open_ = {p}, deque([p])
        while open_:
            for q in self.ways[open_.popleft()]:
                if q not in seen:
                    seen.add(q)
                    open_.append(q)
        return seen

    def reaching(self, p: int) -> set[int]:
        """The positions from which one vehicle alone can reach p (p itself included)."""
        back: list[list[int]] = [[] for _ in range(MAX_POS)]
        for a in range(MAX_POS):
            for b in self.ways[a]:
                back[b].append(a)
        seen, open_ = {p}, deque([p])
        while open_:
            for q in back[open_.popleft()]:
                if q not in seen:
                    seen.add(q)
                    open_.append(q)
        return seen

    def route(self, a: int, b: int, avoid: frozenset[int] = frozenset()) -> list[int] | None:
        """A shortest way of one vehicle from a to b that does not pass the positions in
        `avoid` (a and b may be in it); None when there is none."""
        parent = {a: a}
        open_ = deque([a])
        while open_:
            p = open_.popleft()
            if p == b:
                way = [b]
                while way[-1] != a:
                    way.append(parent[way[-1]])
                return way[::-1]
            for q in self.ways[p]:
                if q not in parent and (q not in avoid or q == b):
                    parent[q] = p
                    open_.append(q)
        return None

    def successors(self, placement: Placement) -> Iterator[Placement]:
        """Every placement one legal step away (each once)."""
        n = len(placement)
        seen: set[Placement] = set()
        for after in product(*(self.options[p] for p in placement)):
            if after == placement or after in seen or len(set(after)) < n:
                continue
            legal = True
            for i in range(n):
                a = placement[i]
                if after[i] == a:
                    continue
                for j in range(i + 1, n):
                    if after[i] == placement[j] and after[j] == a and not self.swap_allowed(a, after[i]):
                        legal = False
                        break
                if not legal:
                    break
            if legal:
                seen.add(after)
                yield after

    def legal(self, before: Placement, after: Placement) -> bool:
        n = len(before)
        if len(after) != n or len(set(before)) < n or len(set(after)) < n:
            return False
        if any(not 0 <= p < MAX_POS for p in (*before, *after)):
            return False
        if before == after:
            return False
        for i in range(n):
            a, b = before[i], after[i]
            if a != b and b not in self.ways[a]:
                return False
            for j in range(i + 1, n):
                if a != b and b == before[j] and after[j] == a and not self.swap_allowed(a, b):
                    return False
        return True


def legal_step(roads: Iterable[Road], obstacles: Iterable[Obstacle], before: Sequence[int],
               after: Sequence[int]) -> bool:
    """Whether the controller may move the vehicles from `before` to `after` in one step."""
    return Network(roads, obstacles).legal(tuple(before), tuple(after))


def check_plan(roads: Iterable[Road], obstacles: Iterable[Obstacle], plan: Sequence[Sequence[int]],
               start: Sequence[int] | None = None, goal: Sequence[int] | None = None) -> str | None:
    """None when every step of the plan is legal (and it runs from start to goal when given);
    otherwise the first fault in words."""
    net = Network(roads, obstacles)
    steps = [tuple(p) for p in plan]
    if not steps:
        return "the plan is empty"
    if start is not None and steps[0] != tuple(start):
        return f"the plan starts on {steps[0]}, not on {tuple(start)}"
    if goal is not None and steps[-1] != tuple(goal):
        return f"the plan ends on {steps[-1]}, not on the goals {tuple(goal)}"
    for index in range(1, len(steps)):
        if not net.legal(steps[index - 1], steps[index]):
            return f"step {index} from {steps[index - 1]} to {steps[index]} is not a legal step"
    return None


def controller_plan_fault(roads: Sequence[Road], obstacles: Sequence[Obstacle], goals: Sequence[int],
                          steps: Sequence[Sequence[int]]) -> str | None:
    """None when a plan read from the controller ends on the goals and every step keeps the
    rules; otherwise the first fault in words."""
    if tuple(steps[-1]) != tuple(goals):
        return f"the plan ends on {tuple(steps[-1])}, the goals are {tuple(goals)}"
    net = Network(roads, obstacles)
    for index in range(1, len(steps)):
        before, after = tuple(steps[index - 1]), tuple(steps[index])
        if len(set(after)) != len(after):
            return f"step {index} puts two vehicles on one position: {after}"
        for v in VEHICLES:
            a, b = before[v - 1], after[v - 1]
            if a == b:
                continue
            if not any(road.allows(a, b) for road in roads):
                return f"step {index}: vehicle {v} moves {a}->{b} where no road leads"
            if any({a, b} == {x, y} for x, y in obstacles):
                return f"step {index}: vehicle {v} moves {a}->{b} over an obstacle"
        if not net.legal(before, after):
            return (f"step {index} from {before} to {after} breaks the step rules "
                    "(no vehicle moves, or two pass each other on a one-lane road)")
    return None


@dataclass(frozen=True)
class ExactResult:
    plan_exists: bool
    optimal_steps: int | None
    optimal_moves: int | None
    plan: list[Placement] | None  # a plan with the fewest steps, start to goal
    moves_plan: list[Placement] | None = None  # a plan with the fewest vehicle moves


def _walk_back(parent: dict[Placement, Placement], goal: Placement) -> list[Placement]:
    plan = [goal]
    while parent[plan[-1]] != plan[-1]:
        plan.append(parent[plan[-1]])
    return plan[::-1]


class _Cached:
    """Successor lists worked out once per placement and shared by the two searches."""

    def __init__(self, net: Network):
        self.net = net
        self.lists: dict[Placement, list[Placement]] = {}

    def __call__(self, placement: Placement) -> list[Placement]:
        found = self.lists.get(placement)
        if found is None:
            found = self.lists[placement] = list(self.net.successors(placement))
        return found


def fewest_steps(next_of: Successors, start: Placement, goal: Placement) -> list[Placement] | None:
    parent = {start: start}
    open_ = deque([start])
    while open_:
        p = open_.popleft()
        if p == goal:
            return _walk_back(parent, goal)
        for q in next_of(p):
            if q not in parent:
                parent[q] = p
                open_.append(q)
    return None


def fewest_moves(next_of: Successors, start: Placement, goal: Placement) -> list[Placement] | None:
    cost = {start: 0}
    parent = {start: start}
    heap: list[tuple[int, Placement]] = [(0, start)]
    while heap:
        c, p = heapq.heappop(heap)
        if c > cost[p]:
            continue
        if p == goal:
            return _walk_back(parent, goal)
        for q in next_of(p):
            nc = c + moved(p, q)
            if nc < cost.get(q, NO_PATH):
                cost[q], parent[q] = nc, p
                heapq.heappush(heap, (nc, q))
    return None


def _placement(values: Sequence[int], what: str) -> Placement:
    placement = tuple(values)
    try:
        for p in placement:
            checks.position(p)
    except InputError:
        raise ValueError(f"{what} {placement} holds a position outside 0 to {MAX_POS - 1}") from None
    return placement


def solve(roads: Iterable[Road], starts: Sequence[int], goals: Sequence[int],
          obstacles: Iterable[Obstacle] = ()) -> ExactResult:
    """Whether the vehicles can go from `starts` to `goals`, and the two optima.

    Two vehicles on one start, or sharing one goal, can never be moved as asked: no plan.
    """
    start, goal = _placement(starts, "starts"), _placement(goals, "goals")
    if len(start) != len(goal):
        raise ValueError("starts and goals must name the same vehicles")
    if len(set(start)) < len(start) or len(set(goal)) < len(goal):
        return ExactResult(False, None, None, None, None)
    next_of = _Cached(Network(roads, obstacles))
    plan = fewest_steps(next_of, start, goal)
    if plan is None:
        return ExactResult(False, None, None, None, None)
    cheapest = fewest_moves(next_of, start, goal)
    assert cheapest is not None
    moves = sum(moved(cheapest[i - 1], cheapest[i]) for i in range(1, len(cheapest)))
    return ExactResult(True, len(plan) - 1, moves, plan, cheapest)


def road_distance(roads: Iterable[Road] | Network, a: int, b: int) -> int:
    """The distance table entry the controller computes for one vehicle from a to b: the
    fewest road steps, NO_PATH without a path, and from a position to itself 0 only when a
    cycle of roads passes through it, a road from the position to itself included (NO_PATH
    otherwise). Obstacles play no part."""
    net = roads if isinstance(roads, Network) else Network(roads)
    if a == b:
        looped = any(road.a == road.b == a for road in net.roads)  # a road from a to itself
        return 0 if looped or any(a in net.reachable_from(q) for q in net.ways[a]) else NO_PATH
    way = net.route(a, b)
    return NO_PATH if way is None else len(way) - 1


def distance_table(roads: Iterable[Road]) -> list[list[int]]:
    net = Network(roads)
    return [[road_distance(net, a, b) for b in range(MAX_POS)] for a in range(MAX_POS)]
