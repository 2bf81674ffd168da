"""Input checks: every value that comes from outside (a scenario file, a request of the
workbench's page, a command-line option, an argument of a typed call) is checked here.

A check returns the value in the type asked for, or raises `InputError` saying what is wrong
(`Problem.TYPE`, `RANGE`, `LENGTH`, `CHOICE`) with the bounds it held the value to; the caller
puts that in the words of its own place (`scenario.py`, the workbench's model, the client).
Each kind of value has one check with its bounds: whole numbers within stated bounds, finite
numbers within stated bounds, positions, true or false, texts of a bounded length, words from a
list.
"""

from __future__ import annotations

import json
import math
import re
from typing import Sequence

from .errors import InputError, Problem
from .protocol import INT32_MAX, MAX_POS

_CONTROL = re.compile(r"[\x00-\x1f\x7f]")
SHOWN_LENGTH = 40


def whole(value: object, low: int = 0, high: int = INT32_MAX) -> int:
    """A whole number from `low` to `high` (a JSON true or false is not one)."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise InputError(Problem.TYPE, value, low, high)
    if not low <= value <= high:
        raise InputError(Problem.RANGE, value, low, high)
    return value


def position(value: object) -> int:
    """One of the controller's positions, 0 to 11."""
    return whole(value, 0, MAX_POS - 1)


def number(value: object, low: float = -math.inf, high: float = math.inf) -> float:
    """A finite number (whole or not) from `low` to `high`."""
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
        raise InputError(Problem.TYPE, value, low, high)
    if not low <= value <= high:
        raise InputError(Problem.RANGE, value, low, high)
    return float(value)


def flag(value: object) -> bool:
    """true or false."""
    if not isinstance(value, bool):
        raise InputError(Problem.TYPE, value)
    return value


def text(value: object, limit: int | None = None) -> str:
    """A text of at most `limit` characters (any length without a limit)."""
    if not isinstance(value, str):
        raise InputError(Problem.TYPE, value)
    if limit is not None and len(value) > limit:
        raise InputError(Problem.LENGTH, value, 0, limit)
    return value


def line_text(value: object, limit: int) -> str | None:
    """A name or title on one line: control characters become blanks, the ends are trimmed;
    None for nothing (None, or only blanks)."""
    if value is None:
        return None
    cleaned = _CONTROL.sub(" ", text(value, limit)).strip()
    return cleaned or None


def choice(value: object, words: Sequence[str]) -> str:
    """One of the words given."""
    if not isinstance(value, str) or value not in words:
        raise InputError(Problem.CHOICE, value)
    return value


def json_type(value: object) -> str:
    """The kind of a decoded JSON value, in words."""
    if value is None:
        return "null"
    kinds: dict[type, str] = {bool: "true/false", int: "a number", float: "a number", str: "a text",
                              list: "a list", dict: "an object"}
    return kinds.get(type(value), type(value).__name__)


def shown(value: object) -> str:
    """A value as JSON writes it, cut to 40 characters; a list or an object by its kind."""
    if isinstance(value, (dict, list)):
        return json_type(value)
    try:
        rendered = json.dumps(value)
    except (TypeError, ValueError):
        rendered = repr(value)
    return rendered if len(rendered) <= SHOWN_LENGTH else rendered[:SHOWN_LENGTH - 3] + "..."
