"""The controller's line protocol: its commands, their arguments and the shape of answers.

Everything here is pure data and text handling; nothing talks to a process. The numbers of the
controller's tables (positions, roads, vehicles, the distance of no path) are stated here.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from enum import Enum

from .errors import ProtocolError

INT32_MAX = 2**31 - 1
MAX_POS = 12
MAX_ROADS = 15
VEHICLES = (1, 2, 3)
NO_PATH = 32767


class Answer(Enum):
    """What a command writes back: nothing, or one line of a given shape."""

    NONE = "none"
    INTEGER = "integer"  # " 12", " 0", "-1"
    BOOLEAN = "boolean"  # "TRUE" / "FALSE"
    FIXED = "fixed"  # "0.00512": fixed point, five decimals
    LINE = "line"  # a fixed information text


@dataclass(frozen=True)
class Kind:
    """An argument kind: the range the console lets through and the range that takes effect."""

    name: str
    console: tuple[int, int]
    accepted: tuple[int, int]


VEHICLE = Kind("vehicle", (1, 3), (1, 3))
POSITION = Kind("position", (-1, 12), (0, MAX_POS - 1))
# The ends of an obstacle: the console stops at 12, the controller refuses negative ends only.
OBSTACLE_END = Kind("obstacle end", (-1, 12), (0, 12))
# OBSTACLES_PRESENT compares the words as given, without a check of its own.
ANY_POSITION = Kind("position", (-1, 12), (-1, 12))
STEP = Kind("step", (0, INT32_MAX), (0, INT32_MAX))
AMOUNT = Kind("amount", (0, INT32_MAX), (0, INT32_MAX))


@dataclass(frozen=True)
class Command:
    name: str
    args: tuple[Kind, ...]
    answer: Answer

    @property
    def answers(self) -> bool:
        return self.answer is not Answer.NONE


_TABLE = [
    ("MOVA_INIT", (), Answer.NONE),
    ("MOVA_GENERATION", (), Answer.LINE),
    ("MOVA_BUILD_VERSION", (), Answer.LINE),
    ("MOVA_START_MISSION", (), Answer.BOOLEAN),
    ("MOVA_GET_NUM_STEPS", (), Answer.INTEGER),
    ("MOVA_END_MISSION", (), Answer.NONE),
    ("VEHICLE_SET_CURRENT_POS", (VEHICLE, POSITION), Answer.NONE),
    ("VEHICLE_GET_CURRENT_POS", (VEHICLE,), Answer.INTEGER),
    ("VEHICLE_GET_DIS_TO_POS", (VEHICLE, POSITION), Answer.INTEGER),
    ("VEHICLE_SET_GOAL_POS", (VEHICLE, POSITION), Answer.NONE),
    ("VEHICLE_GET_NEXT_POS", (VEHICLE,), Answer.INTEGER),
    ("VEHICLE_GET_STEP_POS", (VEHICLE, STEP), Answer.INTEGER),
    ("VEHICLE_MOVED_FORWARD", (), Answer.BOOLEAN),
    ("VEHICLE_GOAL_REACHED", (), Answer.BOOLEAN),
    ("ENVIRONMENT_CLEAN", (), Answer.NONE),
    ("ENVIRONMENT_BUILD", (), Answer.NONE),
    ("ENVIRONMENT_GET_MAX_POS", (), Answer.INTEGER),
    ("ENVIRONMENT_GET_MAX_ROADS", (), Answer.INTEGER),
    ("ENVIRONMENT_ADD_ONE_WAY_ROAD", (POSITION, POSITION), Answer.NONE),
    ("ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE", (POSITION, POSITION), Answer.NONE),
    ("ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES", (POSITION, POSITION), Answer.NONE),
    ("OBSTACLES_CLEAN", (), Answer.NONE),
    ("OBSTACLES_ADD_OBSTACLE", (OBSTACLE_END, OBSTACLE_END), Answer.NONE),
    ("OBSTACLES_GET_NUM", (), Answer.INTEGER),
    ("OBSTACLES_PRESENT", (ANY_POSITION, ANY_POSITION), Answer.BOOLEAN),
    ("OBSTACLES_CONFIRM", (), Answer.BOOLEAN),
    ("SETTINGS_SET_MAX_RAM", (AMOUNT,), Answer.NONE),
    ("SETTINGS_SET_TIMEOUT", (AMOUNT,), Answer.NONE),
    ("SETTINGS_ENABLE_LOGGING", (), Answer.NONE),
    ("SETTINGS_DISABLE_LOGGING", (), Answer.NONE),
    ("MONITORING_GET_NUM_VEHICLES", (), Answer.INTEGER),
    ("MONITORING_GET_CPU_TIME", (), Answer.FIXED),
    ("MONITORING_GET_RAM_USAGE", (), Answer.INTEGER),
    ("MONITORING_GET_EVALUATIONS", (), Answer.INTEGER),
    ("INFORMATION_GET_AUTHOR", (), Answer.LINE),
    ("INFORMATION_GET_ORG", (), Answer.LINE),
    ("INFORMATION_GET_COPYRIGHT", (), Answer.LINE),
    ("INFORMATION_GET_WATERMARK", (), Answer.LINE),
]

COMMANDS: dict[str, Command] = {name: Command(name, args, answer) for name, args, answer in _TABLE}

WATERMARK_COMMAND = "INFORMATION_GET_WATERMARK"
GENERATION_COMMAND = "MOVA_GENERATION"
# Commands that run a planning computation (and pause after it).
PLANNING_COMMANDS = frozenset({"MOVA_START_MISSION", "OBSTACLES_CONFIRM"})

GENERATION_ANSWER = "2024"  # the answer of MOVA_GENERATION

_INTEGER_WORD = re.compile(r"[+-]?[0-9]+")
_INTEGER_ANSWER = re.compile(r"(?: [0-9]+|-[0-9]+)")
_FIXED_ANSWER = re.compile(r"-?[0-9]+\.[0-9]{5}")
_BUILD_ID = re.compile(r"[0-9a-f]{40}")
# The console compares command words without regard to case, for the letters a to z only.
_ASCII_UPPER = str.maketrans("abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ")


@dataclass(frozen=True)
class ParsedLine:
    """A command line as the console reads it."""

    text: str
    command: Command | None  # None: no command word matched
    problem: str | None  # why the console itself drops the line, or None
    args: tuple[int, ...] = ()  # the argument values, when the line is not dropped

    @property
    def word(self) -> str:
        """The command's name, or the line's first word, for messages."""
        if self.command is not None:
            return self.command.name
        return self.text.split(" ")[0] or "(empty line)"


def integer_word(word: str) -> int | None:
    """The console's reading of an argument word: optional sign, decimal digits, 32 bits."""
    word = word.strip(" ")
    if not _INTEGER_WORD.fullmatch(word) or len(word.lstrip("+-").lstrip("0")) > 10:
        return None  # not a number, or more digits than 32 bits hold
    value = int(word)
    if value < -(2**31) or value > INT32_MAX:
        return None
    return value


def parse_line(text: str) -> ParsedLine:
    """Reads a line the way the console does and tells whether it is certain to be dropped.

    The prediction covers the console's own checks and the ranges the controller enforces on
    arguments; a query the controller drops for other reasons (no plan yet, a vehicle without a
    position) is only seen in its (missing) answer.
    """
    if "\n" in text or "\r" in text:
        raise ValueError("a command line must not contain a line break")
    words = text.split(" ")
    command = COMMANDS.get(words[0].translate(_ASCII_UPPER)) if words[0] else None
    if command is None:
        return ParsedLine(text, None, "unknown command word")
    values: list[int] = []
    for index, kind in enumerate(command.args, start=1):
        if index >= len(words):
            return ParsedLine(text, command, f"missing {kind.name} argument")
        value = integer_word(words[index])
        if value is None:
            return ParsedLine(text, command, f"{kind.name} argument is not an integer")
        low, high = kind.accepted
        if not low <= value <= high:
            return ParsedLine(text, command, f"{kind.name} {value} is outside {low} to {high}")
        values.append(value)
    return ParsedLine(text, command, None, tuple(values))


def command_line(command: Command, args: tuple[int, ...]) -> ParsedLine:
    """The line of a command with arguments already checked against their kinds."""
    if len(args) != len(command.args):
        raise TypeError(f"{command.name} takes {len(command.args)} arguments, got {len(args)}")
    return ParsedLine(" ".join([command.name, *(str(a) for a in args)]), command, None, args)


def looks_like_answer(line: str) -> bool:
    """True when the line has the shape of some answer (so it cannot serve as a sentinel)."""
    return (
        _INTEGER_ANSWER.fullmatch(line) is not None
        or line in ("TRUE", "FALSE")
        or _FIXED_ANSWER.fullmatch(line) is not None
        or line == GENERATION_ANSWER
        or _BUILD_ID.fullmatch(line) is not None
    )


def _malformed(command: Command, line: str) -> ProtocolError:
    return ProtocolError(f"{command.name}: {line!r} is not a {command.answer.value} answer")


def integer_answer(command: Command, line: str) -> int:
    """The value of an integer answer line; ProtocolError on a malformed line."""
    if command.answer is not Answer.INTEGER or not _INTEGER_ANSWER.fullmatch(line):
        raise _malformed(command, line)
    return int(line)


def boolean_answer(command: Command, line: str) -> bool:
    if command.answer is not Answer.BOOLEAN or line not in ("TRUE", "FALSE"):
        raise _malformed(command, line)
    return line == "TRUE"


def fixed_answer(command: Command, line: str) -> float:
    if command.answer is not Answer.FIXED or not _FIXED_ANSWER.fullmatch(line):
        raise _malformed(command, line)
    return float(line)


def line_answer(command: Command, line: str) -> str:
    if command.answer is not Answer.LINE:
        raise _malformed(command, line)
    return line
