"""Input checks: every value that comes from outside (a scenario file, a site file, a request
of the workbench's page, a command-line option, an argument of a typed call) is checked here.

A check returns the value in the type asked for, or raises `InputError` saying what is wrong
(`Problem.TYPE`, `RANGE`, `LENGTH`, `CHOICE`) with the bounds it held the value to; the caller
puts that in the words of its own place (`scenario.py`, the workbench's model, the client).
Each kind of value has one check with its bounds: whole numbers within stated bounds, finite
numbers within stated bounds, coordinates, positions, true or false, texts of a bounded length,
words from a list.

JSON documents from outside (scenario files, site files, the bodies of the page's requests) are
read by one strict reader, `read_json` (`load_json_file` for a file), which refuses with
`JsonError`, naming the line and column: a document larger than its limit, lists and objects
nested more than `MAX_DEPTH` deep, a number written with more than `MAX_NUMBER_LENGTH`
characters or too large to be finite, NaN and Infinity (which JSON does not have), and texts
with half a character (a lone surrogate escape such as "\\ud800").
"""

from __future__ import annotations

import json
import math
import os
import re
from pathlib import Path
from typing import Any, Sequence

from .errors import InputError, JsonError, Problem
from .protocol import INT32_MAX, MAX_POS

_CONTROL = re.compile(r"[\x00-\x1f\x7f]")
SHOWN_LENGTH = 40

# The bounds of the JSON documents the host reads and of the numbers in them.
MAX_FILE_BYTES = 1 << 20  # a scenario or site file: 1 MiB
MAX_STREAM_BYTES = 64 << 20  # a command stream: 64 MiB
MAX_DEPTH = 64  # lists and objects inside each other
MAX_NUMBER_LENGTH = 40  # characters of one number as written
# Coordinates (scenario positions in picture units, site nodes in metres) lie within this bound,
# either way from 0.
COORDINATE_LIMIT = 1_000_000.0
# A whole number this many bits long or longer is beyond every bound and beyond a float.
_HUGE_BITS = 1024


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
    """A finite number (whole or not) from `low` to `high`; a whole number too large for a
    float is out of range, not an error of its own."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise InputError(Problem.TYPE, value, low, high)
    if isinstance(value, int) and value.bit_length() >= _HUGE_BITS:
        raise InputError(Problem.RANGE, value, low, high)
    if not math.isfinite(value):
        raise InputError(Problem.TYPE, value, low, high)
    if not low <= value <= high:
        raise InputError(Problem.RANGE, value, low, high)
    return float(value)


def coordinate(value: object) -> float:
    """A coordinate: a finite number within COORDINATE_LIMIT either way from 0."""
    return number(value, -COORDINATE_LIMIT, COORDINATE_LIMIT)


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


def json_value(value: object) -> Any:
    """A value as the strict reader gives it (texts, finite numbers of at most 40 digits, true,
    false, null, lists and objects with text keys, nested at most MAX_DEPTH deep), returned as
    it is; InputError naming the first part that is not."""
    pending: list[tuple[object, int]] = [(value, 1)]
    while pending:
        item, depth = pending.pop()
        if isinstance(item, (dict, list)):
            if depth > MAX_DEPTH:
                raise InputError(Problem.RANGE, item)
            children = list(item.values()) if isinstance(item, dict) else item
            pending += [(child, depth + 1) for child in children]
            for key in item if isinstance(item, dict) else ():
                if not isinstance(key, str):
                    raise InputError(Problem.TYPE, key)
                _encodable(key)
        elif isinstance(item, str):
            _encodable(item)
        elif isinstance(item, float) and not math.isfinite(item):
            raise InputError(Problem.TYPE, item)
        elif isinstance(item, int) and not isinstance(item, bool) and _digits(item) > MAX_NUMBER_LENGTH:
            raise InputError(Problem.RANGE, item)
        elif item is not None and not isinstance(item, (bool, int, float)):
            raise InputError(Problem.TYPE, item)
    return value


def _encodable(item: str) -> None:
    try:
        item.encode("utf-8")
    except UnicodeEncodeError:
        raise InputError(Problem.TYPE, item) from None


def json_type(value: object) -> str:
    """The kind of a decoded JSON value, in words."""
    if value is None:
        return "null"
    kinds: dict[type, str] = {bool: "true/false", int: "a number", float: "a number", str: "a text",
                              list: "a list", dict: "an object"}
    return kinds.get(type(value), type(value).__name__)


def shown(value: object) -> str:
    """A value as JSON writes it, cut to 40 characters; a list or an object by its kind, a
    whole number of hundreds of digits by its length."""
    if isinstance(value, (dict, list)):
        return json_type(value)
    if isinstance(value, int) and not isinstance(value, bool) and value.bit_length() > 128:
        return f"a whole number of {_digits(value)} digits"
    try:
        rendered = json.dumps(value)
    except (TypeError, ValueError):
        rendered = object.__repr__(value)
    return cut(rendered)


def cut(text: str, limit: int = SHOWN_LENGTH) -> str:
    """The text, cut to `limit` characters with "..." at the end when it is longer."""
    return text if len(text) <= limit else text[:limit - 3] + "..."


def one_line(text: str, limit: int = 80) -> str:
    """A text from outside as a message quotes it: control characters as blanks, cut to `limit`."""
    return cut(_CONTROL.sub(" ", text), limit)


def _digits(value: int) -> int:
    """The number of decimal digits of a whole number (without writing it out)."""
    digits = max(1, int(abs(value).bit_length() * math.log10(2)))
    return digits + 1 if abs(value) >= 10**digits else digits


# ----- the strict JSON reader ------------------------------------------------------------------


class _Refused(Exception):
    """A number literal the reader does not take (raised inside json's hooks)."""

    def __init__(self, literal: str, problem: str):
        super().__init__(problem)
        self.literal, self.problem = literal, problem


def _int(literal: str) -> int:
    if len(literal) > MAX_NUMBER_LENGTH:
        raise _Refused(literal, f"the number {cut(literal, 20)} has {len(literal)} characters; "
                       f"at most {MAX_NUMBER_LENGTH} are read")
    return int(literal)


def _float(literal: str) -> float:
    if len(literal) > MAX_NUMBER_LENGTH:
        _int(literal)  # the same refusal
    value = float(literal)
    if not math.isfinite(value):
        raise _Refused(literal, f"the number {cut(literal, 20)} is too large (beyond 1.8e308)")
    return value


def _constant(literal: str) -> Any:
    raise _Refused(literal, f"{literal} is not a number JSON allows")


# Texts (their escapes skipped whole) and the other tokens of a JSON document.
_TOKENS = re.compile(r'"(?:[^"\\]|\\.)*"|[\[\]{}]|-?(?:Infinity|[0-9][-+.0-9eE]*)|NaN')
_SURROGATE_ESCAPE = re.compile(r"(\\+)u([dD][89a-fA-F][0-9a-fA-F]{2})")


def line_column(text: str, index: int) -> str:
    """ "line L, column C" of a character of the text (both counted from 1)."""
    line = text.count("\n", 0, index) + 1
    column = index - (text.rfind("\n", 0, index) + 1) + 1
    return f"line {line}, column {column}"


def _too_deep(text: str) -> int | None:
    """Where the first list or object nested more than MAX_DEPTH deep opens, if one is."""
    if text.count("[") + text.count("{") <= MAX_DEPTH:
        return None
    depth = 0
    for token in _TOKENS.finditer(text):
        kind = token.group()
        if kind in "[{":
            depth += 1
            if depth > MAX_DEPTH:
                return token.start()
        elif kind in "]}":
            depth = max(0, depth - 1)
    return None


def _lone_surrogate(text: str) -> int | None:
    """Where the first escape of half a character stands (a high surrogate not followed by a
    low one, or a low one alone), if one does."""
    if "\\u" not in text:
        return None
    paired = -1  # the start of the low half of the last pair seen
    for found in _SURROGATE_ESCAPE.finditer(text):
        if len(found.group(1)) % 2 == 0 or found.start() == paired:
            continue  # an escaped backslash followed by text, or the low half of a pair
        start = found.start(1) + len(found.group(1)) - 1
        high = found.group(2)[1].lower() in "89ab"
        after = text[found.end():found.end() + 6]
        if high and re.fullmatch(r"\\u[dD][c-fC-F][0-9a-fA-F]{2}", after):
            paired = found.end()
            continue
        return start
    return None


def _where(text: str, literal: str) -> str:
    """The place of the first appearance of a number or constant outside texts."""
    for token in _TOKENS.finditer(text):
        if token.group() == literal:
            return line_column(text, token.start())
    return ""


def read_json(text: str | bytes, limit: int | None = None) -> Any:
    """A JSON document read strictly (the module's description says what it refuses): bytes are
    UTF-8; `limit` bounds its size in bytes."""
    if isinstance(text, bytes):
        if limit is not None and len(text) > limit:
            raise JsonError("", f"larger than {_size(limit)} ({len(text):,} bytes)")
        try:
            text = text.decode("utf-8")
        except UnicodeDecodeError as error:
            raise JsonError(f"byte {error.start}", "not UTF-8 text") from None
    elif limit is not None and len(text) > limit:
        raise JsonError("", f"larger than {_size(limit)} ({len(text):,} characters)")
    else:
        try:
            text.encode("utf-8")
        except UnicodeEncodeError as error:
            raise JsonError(line_column(text, error.start), "half of a character (a lone surrogate), "
                            "not text") from None
    deep = _too_deep(text)
    if deep is not None:
        raise JsonError(line_column(text, deep), f"lists and objects nested more than {MAX_DEPTH} deep")
    half = _lone_surrogate(text)
    if half is not None:
        raise JsonError(line_column(text, half), f"{text[half:half + 6]} is half of a character "
                        "(a lone surrogate), not text")
    try:
        return json.loads(text, parse_int=_int, parse_float=_float, parse_constant=_constant)
    except _Refused as refused:
        raise JsonError(_where(text, refused.literal), refused.problem) from None
    except json.JSONDecodeError as error:
        raise JsonError(f"line {error.lineno}, column {error.colno}", f"not valid JSON: {error.msg}") from None
    except RecursionError:  # not reached below MAX_DEPTH; a last guard
        raise JsonError("", "lists and objects nested too deep") from None


def _size(limit: int) -> str:
    return f"{limit // (1 << 20)} MiB" if limit % (1 << 20) == 0 else f"{limit // 1024} KiB"


def read_file_bytes(path: str | os.PathLike[str], limit: int) -> bytes:
    """The bytes of a file, refused whole (JsonError) when it holds more than `limit` of them or
    cannot be read; a file that never ends (a device, a pipe) is read no further than that."""
    try:
        with Path(path).open("rb") as handle:
            data = handle.read(limit + 1)
    except FileNotFoundError:
        raise JsonError("", "no such file") from None
    except OSError as error:
        raise JsonError("", f"cannot be read ({error.strerror or error})") from None
    if len(data) > limit:
        raise JsonError("", f"larger than {_size(limit)}")
    return data


def load_json_file(path: str | os.PathLike[str], limit: int = MAX_FILE_BYTES) -> Any:
    """A JSON file read strictly (`read_json`), refused whole when larger than `limit` bytes."""
    return read_json(read_file_bytes(path, limit))
