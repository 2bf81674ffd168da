"""TEMPORARY stand-in for the scenario, exact-search and explanation modules.

It lets the workbench run until `scenario.py`, `exact.py` and `explain.py` land; it is deleted
then, and nothing but `workbench_session.py` may import it. Its step rule is a simplification.
"""

from __future__ import annotations

import json
from collections import deque
from dataclasses import dataclass, field

from .mission import Road, RoadKind

Positions = tuple[int, int, int]


class ScenarioError(ValueError):
    pass


@dataclass
class PositionInfo:
    name: str | None = None
    x: float | None = None
    y: float | None = None


@dataclass
class Scenario:
    roads: list[Road]
    starts: Positions
    goals: Positions
    obstacles: list[tuple[int, int]] = field(default_factory=list)
    positions: dict[int, PositionInfo] = field(default_factory=dict)
    name: str | None = None
    description: str | None = None
    timeout_ms: int | None = None
    memory_mb: int | None = None
    expect: dict | None = None


def _position(value: object, where: str) -> int:
    if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= 11:
        raise ScenarioError(f"{where}: {json.dumps(value)} is not a position 0 to 11")
    return value


def parse_scenario(data: object, source: str = "scenario") -> Scenario:
    if not isinstance(data, dict) or data.get("format") != "mova-scenario":
        raise ScenarioError(f"{source}: not a scenario file (format must be \"mova-scenario\")")
    roads = []
    for i, r in enumerate(data.get("roads", [])):
        if not isinstance(r, dict):
            raise ScenarioError(f"roads[{i}]: not an object")
        kinds = [k.value for k in RoadKind]
        if r.get("kind") not in kinds:
            raise ScenarioError(f"roads[{i}].kind: {json.dumps(r.get('kind'))} is not one of {', '.join(kinds)}")
        try:
            roads.append(Road(RoadKind(r["kind"]), _position(r.get("from"), f"roads[{i}].from"),
                              _position(r.get("to"), f"roads[{i}].to")))
        except ValueError as error:
            raise ScenarioError(f"roads[{i}]: {error}") from None
    vehicles = data.get("vehicles")
    if not isinstance(vehicles, list) or sorted(v.get("vehicle", 0) for v in vehicles if isinstance(v, dict)) != [1, 2, 3]:
        raise ScenarioError("vehicles: must list exactly vehicles 1, 2 and 3")
    by = {v["vehicle"]: v for v in vehicles}
    starts = tuple(_position(by[v].get("start"), f"vehicles[{v}].start") for v in (1, 2, 3))
    goals = tuple(_position(by[v].get("goal"), f"vehicles[{v}].goal") for v in (1, 2, 3))
    if len(set(starts)) != 3 or len(set(goals)) != 3:
        raise ScenarioError("vehicles: starts and goals must be three different positions each")
    obstacles = [(_position(o.get("from"), f"obstacles[{i}].from"), _position(o.get("to"), f"obstacles[{i}].to"))
                 for i, o in enumerate(data.get("obstacles", []))]
    positions = {}
    for i, p in enumerate(data.get("positions", [])):
        positions[_position(p.get("position"), f"positions[{i}].position")] = PositionInfo(p.get("name"), p.get("x"), p.get("y"))
    settings = data.get("settings") or {}
    return Scenario(roads, starts, goals, obstacles, positions, data.get("name"), data.get("description"),
                    settings.get("timeout_ms"), settings.get("memory_mb"), data.get("expect"))


def scenario_to_json(s: Scenario) -> dict:
    out: dict = {"format": "mova-scenario", "version": 1}
    if s.name:
        out["name"] = s.name
    if s.description:
        out["description"] = s.description
    out["positions"] = [{"position": p, **{k: v for k, v in vars(i).items() if v is not None}}
                        for p, i in sorted(s.positions.items())]
    out["roads"] = [{"kind": r.kind.value, "from": r.a, "to": r.b} for r in s.roads]
    out["vehicles"] = [{"vehicle": v, "start": s.starts[v - 1], "goal": s.goals[v - 1]} for v in (1, 2, 3)]
    out["obstacles"] = [{"from": a, "to": b} for a, b in s.obstacles]
    settings = {k: v for k, v in (("timeout_ms", s.timeout_ms), ("memory_mb", s.memory_mb)) if v is not None}
    if settings:
        out["settings"] = settings
    return out


def _moves(roads, obstacles, p: int) -> list[int]:
    blocked = {frozenset(o) for o in obstacles}
    return [b for r in roads for a, b in ((r.a, r.b), (r.b, r.a)) if a == p and r.allows(a, b)
            and frozenset((a, b)) not in blocked]


def _solve(roads, starts, goals, obstacles) -> list[Positions] | None:
    seen = {tuple(starts): None}
    queue = deque([tuple(starts)])
    while queue:
        now = queue.popleft()
        if now == tuple(goals):
            path = [now]
            while seen[path[-1]] is not None:
                path.append(seen[path[-1]])
            return path[::-1]
        options = [[now[v]] + [q for q in _moves(roads, obstacles, now[v]) if q not in now] for v in range(3)]
        for a in options[0]:
            for b in options[1]:
                for c in options[2]:
                    after = (a, b, c)
                    if len(set(after)) == 3 and after not in seen:
                        seen[after] = now
                        queue.append(after)
    return None


@dataclass
class Explanation:
    data: dict

    def to_json(self) -> dict:
        return dict(self.data)

    def text(self) -> str:
        return self.data["reason"]


def explain(roads, starts, goals, obstacles, *, answer, controller_plan, distances=None, log_records=None):
    best = _solve(roads, starts, goals, obstacles)
    steps = len(controller_plan) - 1 if controller_plan else None
    moves = (sum(a[v] != b[v] for a, b in zip(controller_plan, controller_plan[1:]) for v in range(3))
             if controller_plan else None)
    optimal_steps = len(best) - 1 if best else None
    optimal_moves = (sum(a[v] != b[v] for a, b in zip(best, best[1:]) for v in range(3)) if best else None)
    if answer:
        category, reason = "plan", f"(temporary) The controller's plan takes {steps} steps; the fewest possible are {optimal_steps}."
    elif best:
        category, reason = "missed", f"(temporary) A plan of {optimal_steps} steps exists, but the controller found none."
    elif obstacles and _solve(roads, starts, goals, ()):
        category, reason = "obstacles", "(temporary) The obstacles cut every plan."
    else:
        category, reason = "unreachable", "(temporary) No plan exists."
    return Explanation({"answer": answer, "plan_exists": best is not None, "optimal_steps": optimal_steps,
                        "optimal_moves": optimal_moves, "steps": steps, "moves": moves,
                        "category": category, "reason": reason,
                        "optimal_plan": [list(p) for p in best] if best else None})
