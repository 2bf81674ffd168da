"""What the workbench's page draws, as JSON: the settings of the page (`config_json`) and the
state of a session (`state_json`), with the course of its roads as the pictures draw them."""

from __future__ import annotations

from typing import Any

from .. import svg
from ..geometry import HEIGHT, WIDTH, geometry_json
from ..plans import plan_json
from ..protocol import MAX_POS, MAX_ROADS, NO_PATH, VEHICLES
from ..roads import KIND_VALUES, KIND_WORDS
from .session import WorkbenchSession


def config_json(idle_seconds: float) -> dict[str, Any]:
    """What every page needs to know first: the controller's sizes, the words and colours."""
    return {
        "positions": MAX_POS, "max_roads": MAX_ROADS, "vehicles": list(VEHICLES),
        "kinds": list(KIND_VALUES),
        "kind_words": {kind.value: {"noun": words.noun, "label": words.label, "phrase": words.phrase}
                       for kind, words in KIND_WORDS.items()},
        "colours": {str(v): c for v, c in svg.COLOURS.items()},
        "obstacle_colour": svg.OBSTACLE_COLOUR, "road_colour": svg.ROAD_COLOUR,
        "width": WIDTH, "height": HEIGHT, "idle_seconds": idle_seconds,
    }


def state_json(session: WorkbenchSession, since: int = 0) -> dict[str, Any]:
    """Everything the page draws; the transcript from entry `since` on (sequence numbers)."""
    design, link, plan = session.design, session.link, session.plan
    return {
        "id": session.id,
        "controller": {"running": link.down is None, "pid": link.pid, "problem": link.down,
                       "restarts": session.restarts},
        "positions": [{"position": p, "x": design.coords[p][0], "y": design.coords[p][1],
                       "name": design.names[p]} for p in range(MAX_POS)],
        "roads": [{"index": i, "kind": r.kind.value, "from": r.a, "to": r.b} for i, r in enumerate(design.roads)],
        "geometry": geometry_json(design.coords, design.roads),
        "max_roads": MAX_ROADS,
        "built": session.built,
        "starts": list(design.starts),
        "goals": list(design.goals),
        "obstacles": [list(o) for o in design.obstacles],
        "settings": {"timeout_ms": design.limits.timeout_ms, "memory_mb": design.limits.memory_mb},
        "scenario": {"name": design.scenario_name, "description": design.description},
        "plan": plan_json(plan) if plan is not None else None,
        "now": list(plan.steps[0]) if plan is not None else None,
        "explanation": session.explanation,
        "distances": session.distances,
        "no_path": NO_PATH,
        "message": session.message,
        "transcript": [e.to_json() for e in session.transcript.since(since)],
        "transcript_seq": session.transcript.seq,
    }

