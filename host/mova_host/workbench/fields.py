"""The fields of a request of the workbench's page, checked, with a refusal a person can act on
when one is wrong ("the first position must be a whole number from 0 to 11, not 1.5")."""

from __future__ import annotations

from typing import Any, Mapping

from .. import checks
from ..errors import InputError, Problem, Refused
from ..protocol import MAX_POS, VEHICLES
from ..roads import KIND_VALUES, RoadKind


def field(data: Mapping[str, Any], key: str, what: str | None = None) -> Any:
    if key not in data:
        raise Refused(f"{what or key} is missing")
    return data[key]


def whole(value: Any, what: str, low: int, high: int) -> int:
    try:
        return checks.whole(value, low, high)
    except InputError as error:
        if error.problem is Problem.TYPE:
            raise Refused(f"{what} must be a whole number from {low} to {high}, not {checks.shown(value)}") from None
        raise Refused(f"{what} must be from {low} to {high}, not {checks.shown(value)}") from None


def position(value: Any, what: str) -> int:
    return whole(value, what, 0, MAX_POS - 1)


def optional_position(value: Any, what: str) -> int | None:
    return None if value is None else position(value, what)


def number(value: Any, what: str, low: float, high: float) -> float:
    try:
        return checks.number(value, low, high)
    except InputError as error:
        if error.problem is Problem.TYPE:
            raise Refused(f"{what} must be a number, not {checks.shown(value)}") from None
        raise Refused(f"{what} must lie from {low:g} to {high:g}, not {checks.shown(value)}") from None


def text(value: Any, what: str, limit: int) -> str | None:
    """A name or title: control characters become blanks; None for nothing."""
    try:
        return checks.line_text(value, limit)
    except InputError as error:
        if error.problem is Problem.LENGTH:
            raise Refused(f"{what} is longer than {limit} characters") from None
        raise Refused(f"{what} must be a text, not {checks.shown(value)}") from None


def road_kind(value: Any) -> RoadKind:
    try:
        return RoadKind(checks.choice(value, KIND_VALUES))
    except InputError:
        raise Refused(f"the kind of road must be one of {', '.join(KIND_VALUES)}, not {checks.shown(value)}") from None


def vehicle_list(value: Any, what: str) -> list[int | None]:
    """A position (or null) for each of the vehicles 1, 2 and 3, no two the same."""
    if not isinstance(value, list) or len(value) != len(VEHICLES):
        raise Refused(f"{what} must list a position (or null) for each of the vehicles 1, 2 and 3")
    found = [optional_position(p, f"{what} of vehicle {v}") for v, p in zip(VEHICLES, value)]
    for v in VEHICLES:
        for w in VEHICLES:
            if v < w and found[v - 1] is not None and found[v - 1] == found[w - 1]:
                raise Refused(f"vehicles {v} and {w} cannot both have position {found[v - 1]} as {what}")
    return found
