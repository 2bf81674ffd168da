"""Why the controller answered as it did, in words, measured against the exact search.

Categories:

- `plan`: the controller found a plan; its steps, vehicle moves and waits stand beside the
  fewest steps and the fewest moves possible.
- `missed`: a plan exists, the controller answered FALSE. The cause is named where it can be
  recognised: the vehicles already stand on their goals; a time or memory limit (from the
  computation's log records); the cap on evaluations; a vehicle on a position that lies on no
  cycle of roads (the controller's distance from the position to itself is 32767 and the cost
  estimate of its search wraps around); a position on the way from which the table has no
  road back to a vehicle's start (the same wrap).
- `unreachable`: a vehicle cannot reach its goal on the roads even alone and without
  obstacles; the one-way road in the way, or the missing road, is named.
- `obstacles`: there is no plan with the obstacles, there is one without them.
- `blocked`: each vehicle could reach its goal alone, but not all of them together: two share
  a goal, two meet head-on where neither can give way, one stays on the only way of another...
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Iterable, Mapping, Sequence

from .exact import ExactResult, Network, check_plan, distance_table, solve
from .limits import MAX_EVALUATIONS, Limits
from .logrecords import record_parts
from .plans import Placement, plan_figures
from .protocol import NO_PATH
from .roads import KIND_WORDS, Obstacle, Road, RoadKind

Causes = tuple[str, list[str]]  # the reason in words and the short codes of what it names


@dataclass(frozen=True)
class Cut:
    """A vehicle that obstacles cut off from its goal: every way of it runs over one of `roads`
    (blocked roads by their two ends, as the obstacles give them; empty when none of them could
    be singled out)."""

    vehicle: int
    start: int
    goal: int
    roads: tuple[tuple[int, int], ...]

    def to_json(self) -> dict[str, Any]:
        """{"vehicle": 1, "start": 0, "goal": 2, "roads": [[1, 2]]}"""
        return {"vehicle": self.vehicle, "start": self.start, "goal": self.goal,
                "roads": [list(road) for road in self.roads]}


@dataclass
class Explanation:
    """The explanation of one computation: the controller's answer and plan beside the exact
    search's (whether a plan exists, the fewest steps and moves, a plan of the fewest steps);
    the `category` (plan, missed, unreachable, obstacles, blocked), the `reason` in words, the
    short codes of its `causes`, and the vehicles obstacles `cut` off."""

    answer: bool
    plan_exists: bool
    optimal_steps: int | None
    optimal_moves: int | None
    steps: int | None
    moves: int | None
    waits: int | None
    category: str
    reason: str
    causes: list[str] = field(default_factory=list)  # short codes of what the reason names
    plan: list[Placement] | None = None  # the controller's plan
    optimal_plan: list[Placement] | None = None  # a plan with the fewest steps
    evaluations: int | None = None
    cut: list[Cut] = field(default_factory=list)  # the vehicles obstacles cut off (category obstacles)

    def to_json(self) -> dict[str, Any]:
        """The JSON object `mova-host explain --json` prints (its keys are described in
        host/README.md)."""
        return {
            "answer": self.answer,
            "plan_exists": self.plan_exists,
            "optimal_steps": self.optimal_steps,
            "optimal_moves": self.optimal_moves,
            "steps": self.steps,
            "moves": self.moves,
            "waits": self.waits,
            "category": self.category,
            "reason": self.reason,
            "causes": list(self.causes),
            "plan": None if self.plan is None else [list(p) for p in self.plan],
            "optimal_plan": None if self.optimal_plan is None else [list(p) for p in self.optimal_plan],
            "evaluations": self.evaluations,
            "cut": [c.to_json() for c in self.cut],
        }

    def text(self) -> str:
        """The answer and the reason, in words."""
        return f"Answer {'TRUE' if self.answer else 'FALSE'}. {self.reason}"

    def picture_title(self) -> str:
        """A title for a picture of the plan explained."""
        if self.category == "plan":
            return f"Plan: {self.steps} steps (fewest {self.optimal_steps})"
        if self.category == "missed":
            return f"No plan found, though one of {self.optimal_steps} steps exists"
        return f"No plan exists ({self.category})"


def _plural(n: int | None, word: str) -> str:
    return f"{n} {word}{'' if n == 1 else 's'}"


def _listing(items: Sequence[str]) -> str:
    items = list(items)
    if len(items) <= 1:
        return "".join(items)
    return ", ".join(items[:-1]) + " and " + items[-1]


class _Words:
    def __init__(self, names: Mapping[int, str] | None):
        self.names = names or {}

    def pos(self, p: int) -> str:
        name = self.names.get(p)
        return f"{p} ({name})" if name else str(p)

    def way(self, positions: Sequence[int]) -> str:
        return " -> ".join(self.pos(p) for p in positions)

    def road(self, road: Road) -> str:
        if road.kind is RoadKind.ONE_WAY:
            return f"the one-way road from {self.pos(road.a)} to {self.pos(road.b)}"
        return f"the {KIND_WORDS[road.kind].noun} {road.a}-{road.b}"


@dataclass(frozen=True)
class _Case:
    """The mission explained: roads, obstacles, starts, goals, the exact search's result."""

    roads: tuple[Road, ...]
    obstacles: tuple[Obstacle, ...]
    start: Placement
    goal: Placement
    exact: ExactResult
    words: _Words


@dataclass(frozen=True)
class _Computation:
    """What the controller told about its computation."""

    answer: bool
    plan: list[Placement] | None
    distances: list[list[int]] | None
    log_records: list[str] | None
    evaluations: int | None
    limits: Limits


def explain(roads: Iterable[Road], starts: Sequence[int], goals: Sequence[int],
            obstacles: Iterable[Sequence[int]] = (), *, answer: bool,
            controller_plan: Sequence[Sequence[int]] | None,
            distances: list[list[int]] | None = None, log_records: list[str] | None = None,
            evaluations: int | None = None, timeout_ms: int | None = None,
            memory_mb: int | None = None, names: Mapping[int, str] | None = None) -> Explanation:
    """Explains one computation: the controller's answer and plan against the exact search.

    `distances` is the controller's distance table (computed from the roads when absent),
    `log_records` the log records of the computation, `evaluations` its evaluation count,
    `timeout_ms`/`memory_mb` the limits it ran with, `names` position names for the words.
    """
    road_list = tuple(roads)
    blocked = tuple((o[0], o[1]) for o in obstacles)
    start, goal = tuple(starts), tuple(goals)
    case = _Case(road_list, blocked, start, goal, solve(road_list, start, goal, blocked), _Words(names))
    plan = [tuple(p) for p in controller_plan] if controller_plan is not None else None
    done = _Computation(answer, plan, distances, log_records, evaluations, Limits(timeout_ms, memory_mb))
    steps, moves, waits = plan_figures(plan) if plan else (None, None, None)
    exact = case.exact

    def explanation(category: str, reason: str, causes: list[str], cut: list[Cut] | None = None) -> Explanation:
        return Explanation(answer, exact.plan_exists, exact.optimal_steps, exact.optimal_moves, steps, moves,
                           waits, category, reason, causes, plan, exact.plan, evaluations, cut or [])

    if answer:
        return explanation("plan", *_found(case, plan))
    if exact.plan_exists:
        return explanation("missed", *_missed(case, done))
    return explanation(*_no_plan(case))


# ----- TRUE ------------------------------------------------------------------------------------


def _found(case: _Case, plan: list[Placement] | None) -> Causes:
    if not plan:
        return "The controller answered TRUE, but its plan could not be read.", ["unreadable"]
    steps, moves, waits = plan_figures(plan)
    text = (f"The controller found a plan of {_plural(steps, 'step')} with "
            f"{_plural(moves, 'vehicle move')} and {_plural(waits, 'wait')}.")
    causes: list[str] = []
    fault = check_plan(case.roads, case.obstacles, plan, case.start, case.goal)
    exact = case.exact
    if not exact.plan_exists or exact.optimal_steps is None or exact.optimal_moves is None:
        return text + " Yet by the step rules no plan exists: the answer is wrong.", ["wrong-answer"]
    if fault is not None:
        text += f" It breaks the step rules: {fault}."
        causes.append("illegal-plan")
    best_steps, best_moves = exact.optimal_steps, exact.optimal_moves
    text += (f" The fewest possible are {_plural(best_steps, 'step')} and "
             f"{_plural(best_moves, 'vehicle move')}.")
    if steps == best_steps and moves == best_moves:
        return text + " The plan is optimal in both.", causes
    parts = []
    if steps > best_steps:
        parts.append(f"{_plural(steps - best_steps, 'step')} more than needed")
        causes.append("longer")
    if moves > best_moves:
        parts.append(f"{_plural(moves - best_moves, 'vehicle move')} more than needed")
        causes.append("more-moves")
    if parts:
        text += " It takes " + _listing(parts) + "."
    if steps > best_steps and case.start != case.goal and exact.plan:
        text += (" A plan of the fewest steps: " + "; ".join(
            f"step {i} {_placement_text(exact.plan[i])}" for i in range(1, len(exact.plan))) + ".")
    return text, causes


def _placement_text(p: Placement) -> str:
    return "(" + ", ".join(f"V{v + 1} {p[v]}" for v in range(len(p))) + ")"


# ----- FALSE although a plan exists ----------------------------------------------------------

_WRAPS = ("the sum wraps around (costs count modulo 32768), such placements look worse than they "
          "are, and the search ends without reaching the starts")


def _missed(case: _Case, done: _Computation) -> Causes:
    exact = case.exact
    text = (f"A plan of {_plural(exact.optimal_steps, 'step')} exists "
            f"({_plural(exact.optimal_moves, 'vehicle move')} at the fewest), but the controller did not find it.")
    found: list[tuple[str, str]] = []
    if case.start == case.goal:
        found.append(("at-goal", "The vehicles already stand on their goals: the controller does not "
                      "stop there at once, it answers TRUE only when its search finds a way to leave "
                      "the goals and come back to them"))
    found += _limits_reached(done)
    table = done.distances if done.distances is not None else distance_table(case.roads)
    found += _wrapped_estimates(case, table)
    if not found:
        found.append(("unknown", "The cause is none of those this explanation recognises (limits, "
                      "evaluation cap, wrapped cost estimates)"))
    return text + " " + ". ".join(words for _, words in found) + ".", [code for code, _ in found]


def _limits_reached(done: _Computation) -> list[tuple[str, str]]:
    """The limits the computation's log records and evaluation count show it reached."""
    found: list[tuple[str, str]] = []
    messages = [record_parts(r) for r in done.log_records or []]
    timeout_ms, memory_mb = done.limits.timeout_ms, done.limits.memory_mb
    if any(sev == "ERROR" and msg == "Timeout" for sev, msg in messages):
        limit = f" of {timeout_ms} ms" if timeout_ms is not None else ""
        found.append(("time-limit", f"The computation reached its time limit{limit}: the log records "
                      "\"Timeout\""))
    if any(sev == "ERROR" and msg == "Out of memory" for sev, msg in messages):
        limit = f" of {memory_mb} MB" if memory_mb is not None else ""
        found.append(("memory-limit", f"The computation stopped at its memory limit{limit}: the log "
                      "records \"Out of memory\" (the controller does not measure its graph, so only a "
                      "limit of 0 stops it, at the first placement it examines)"))
    if done.evaluations is not None and done.evaluations >= MAX_EVALUATIONS:
        found.append(("evaluation-cap", f"The search stopped at its cap of {MAX_EVALUATIONS} "
                      "evaluations"))
    return found


def _wrapped_estimates(case: _Case, table: list[list[int]]) -> list[tuple[str, str]]:
    """Starts on no cycle of roads, or positions on the way with no road back to a start: the
    controller's cost estimate wraps around there."""
    start, words = case.start, case.words
    lonely = [v for v, p in enumerate(start) if table[p][p] >= NO_PATH]
    if len(lonely) == 1:
        v, p = lonely[0], start[lonely[0]]
        return [("no-cycle", f"Vehicle {v + 1} stands on position {words.pos(p)}, which lies on no "
                 f"cycle of roads: the controller's distance from {words.pos(p)} to itself is "
                 f"{NO_PATH}. Its search adds that to the cost estimate of every placement with "
                 f"vehicle {v + 1} on {words.pos(p)}; {_WRAPS}")]
    if lonely:
        who = _listing([str(v + 1) for v in lonely])
        where = _listing([words.pos(start[v]) for v in lonely])
        return [("no-cycle", f"Vehicles {who} stand on positions {where}, which lie on no cycle of "
                 f"roads: the controller's distance from each of them to itself is {NO_PATH}. Its "
                 "search adds that to the cost estimate of every placement with such a vehicle on "
                 f"its start; {_WRAPS}")]
    for v in range(len(start)):
        bad = [p[v] for p in case.exact.plan or [] if p[v] != start[v] and table[p[v]][start[v]] >= NO_PATH]
        if bad:
            x = bad[0]
            return [("wrap", f"On its way vehicle {v + 1} passes position {words.pos(x)}, from which "
                     f"the controller's table has no road back to its start {words.pos(start[v])} "
                     f"({NO_PATH}). Its search adds that to the cost estimate of every placement "
                     f"with vehicle {v + 1} on {words.pos(x)}; {_WRAPS}")]
    return []


# ----- no plan at all --------------------------------------------------------------------------


def _no_plan(case: _Case) -> tuple[str, str, list[str], list[Cut]]:
    roads, obstacles, start, goal, words = case.roads, case.obstacles, case.start, case.goal, case.words
    free = Network(roads)
    cut_off = [v for v in range(len(start)) if goal[v] != start[v] and goal[v] not in free.reachable_from(start[v])]
    if cut_off:
        parts = [_unreachable(free, roads, v, start[v], goal[v], words) for v in cut_off]
        return "unreachable", "No plan exists. " + " ".join(parts), ["unreachable"], []
    if obstacles:
        without = solve(roads, start, goal)
        if without.plan_exists:
            text, causes, cut = _cut_by_obstacles(roads, obstacles, start, goal, words)
            text += f" Without the obstacles a plan of {_plural(without.optimal_steps, 'step')} exists."
            return "obstacles", "No plan exists with the obstacles. " + text, causes, cut
    text, causes = _stuck(free, start, goal, words)
    return "blocked", "No plan exists. " + text, causes, []


def _unreachable(free: Network, roads: Sequence[Road], v: int, s: int, g: int, words: _Words) -> str:
    head = (f"Vehicle {v + 1} cannot reach its goal {words.pos(g)} from its start {words.pos(s)} on the "
            "roads, even alone and without obstacles")
    here, there = free.reachable_from(s), free.reaching(g)
    wrong = [r for r in roads if r.kind is RoadKind.ONE_WAY and r.b in here and r.a in there]
    if wrong:
        names = _listing([words.road(r) for r in wrong[:3]])
        verb = "leads" if len(wrong) == 1 else "lead"
        return f"{head}: {names} {verb} the wrong way."
    touched = {p for r in roads if r.a != r.b for p in (r.a, r.b)}
    if g not in touched:
        return f"{head}: no road reaches position {words.pos(g)}."
    if s not in touched:
        return f"{head}: no road leaves position {words.pos(s)}."
    if not free.ways[s]:
        return f"{head}: every road at {words.pos(s)} leads into it, none out of it."
    if len(there) == 1:
        return f"{head}: every road at {words.pos(g)} leads out of it, none into it."
    reach = ", ".join(words.pos(p) for p in sorted(here))
    into = [r for r in roads if r.kind is RoadKind.ONE_WAY and r.a not in here and r.b in here]
    text = f"{head}: from {words.pos(s)} it can reach only {reach}, and no road leads from there towards {words.pos(g)}"
    if into:
        text += " (" + _listing([words.road(r) for r in into[:3]]) + (" leads" if len(into) == 1 else " lead") + " only into that part)"
    return text + "."


def _cut_by_obstacles(roads: Sequence[Road], obstacles: Sequence[Obstacle], start: Placement, goal: Placement,
                      words: _Words) -> tuple[str, list[str], list[Cut]]:
    free, net = Network(roads), Network(roads, obstacles)
    parts: list[str] = []
    cuts: list[Cut] = []
    for v in range(len(start)):
        s, g = start[v], goal[v]
        if g == s or g in net.reachable_from(s):
            continue
        here, there = net.reachable_from(s), net.reaching(g)
        cut = [(a, b) for a, b in obstacles
               if any(x in here and y in there and y in free.ways[x] for x, y in ((a, b), (b, a)))]
        if not cut:
            way = free.route(s, g) or []
            legs = {frozenset(leg) for leg in zip(way, way[1:])}
            cut = [(a, b) for a, b in obstacles if frozenset((a, b)) in legs]
        distinct = tuple(dict.fromkeys(cut))
        roads_text = _listing([f"{a}-{b}" for a, b in distinct]) or "the blocked roads"
        parts.append(f"Every way of vehicle {v + 1} from {words.pos(s)} to its goal {words.pos(g)} runs over a "
                     f"blocked road ({roads_text}).")
        cuts.append(Cut(v + 1, s, g, distinct))
    if parts:
        return " ".join(parts), ["cut"], cuts
    blocked = _listing([f"{a}-{b}" for a, b in obstacles])
    text, causes = _stuck(net, start, goal, words)
    return (f"Each vehicle alone could still reach its goal past the blocked roads ({blocked}), but not all together. "
            + text, ["obstacles-block", *causes], [])


def _stuck(net: Network, start: Placement, goal: Placement, words: _Words) -> Causes:
    """Why vehicles that could each reach their goals alone cannot all do it together."""
    n = len(start)
    shared = [(v, w) for v in range(n) for w in range(v + 1, n) if goal[v] == goal[w]]
    if shared:
        v, w = shared[0]
        return (f"Vehicles {v + 1} and {w + 1} share the goal {words.pos(goal[v])}, and two vehicles never "
                "stand on one position."), ["shared-goal"]
    parts: list[str] = []
    causes: list[str] = []
    for v in range(n):
        for w in range(v + 1, n):
            pair = solve(net.roads, (start[v], start[w]), (goal[v], goal[w]), _blocked_pairs(net))
            if not pair.plan_exists:
                text, cause = _pair(net, v, w, start, goal, words)
                parts.append(text)
                causes.append(cause)
    if parts:
        return " ".join(parts), causes
    ways = [net.route(start[v], goal[v]) or [start[v]] for v in range(n)]
    room = sorted({p for way in ways for p in way})
    return (f"Any two of the vehicles could get past each other, but not all three: their ways use "
            f"positions {', '.join(words.pos(p) for p in room)}, and there is no room for all of them to "
            "give way."), ["no-room"]


def _blocked_pairs(net: Network) -> list[Obstacle]:
    pairs = [sorted(o) for o in net.blocked]
    return [(pair[0], pair[1]) for pair in pairs]


def _pair(net: Network, v: int, w: int, start: Placement, goal: Placement, words: _Words) -> tuple[str, str]:
    for stay, go in ((w, v), (v, w)):
        p = start[stay]
        if goal[stay] == p and goal[go] != start[go] and net.route(start[go], goal[go], frozenset({p})) is None:
            return (f"Vehicle {stay + 1} stays on position {words.pos(p)}, which lies on every way of vehicle "
                    f"{go + 1} from {words.pos(start[go])} to {words.pos(goal[go])}, and it has no place where "
                    "it can step aside and come back."), "in-the-way"
    way_v = net.route(start[v], goal[v]) or [start[v]]
    way_w = net.route(start[w], goal[w]) or [start[w]]
    legs_v = list(zip(way_v, way_v[1:]))
    legs_w = set(zip(way_w, way_w[1:]))
    head_on = [(a, b) for a, b in legs_v if (b, a) in legs_w]
    if head_on:
        roads = {frozenset(leg) for leg in head_on}
        kinds = {r.kind for r in net.roads if frozenset((r.a, r.b)) in roads}
        lane = KIND_WORDS[RoadKind.ONE_LANE].noun if kinds == {RoadKind.ONE_LANE} else "road"
        stretch = _stretch(head_on)
        plural = "s" if len(head_on) > 1 else ""
        return (f"Vehicles {v + 1} and {w + 1} meet head-on on the {lane}{plural} {stretch} (vehicle {v + 1} "
                f"going {words.way(way_v)}, vehicle {w + 1} going {words.way(way_w)}), and there is no place "
                "where one of them can give way."), "head-on"
    return (f"Vehicles {v + 1} and {w + 1} cannot get past each other: vehicle {v + 1} must go "
            f"{words.way(way_v)} and vehicle {w + 1} {words.way(way_w)}, and there is no place where one of "
            "them can give way."), "cannot-pass"


def _stretch(legs: list[tuple[int, int]]) -> str:
    chain = [legs[0][0], legs[0][1]]
    for a, b in legs[1:]:
        if a == chain[-1]:
            chain.append(b)
        else:
            return ", ".join(f"{x}-{y}" for x, y in legs)
    return "-".join(str(p) for p in chain)
