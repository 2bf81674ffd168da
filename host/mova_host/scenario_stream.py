"""Command streams read as scenarios: the mission that a stream of controller commands sets up
and plans, as a `Scenario`.

A command stream is what `mova-host run` plays and what the workbench exports: one controller
command per line; lines that begin with "#" are comments and blank lines are skipped. The
stream is followed as the controller takes it, up to its first planning command
(MOVA_START_MISSION or OBSTACLES_CONFIRM), or to its end when it has none. The scenario is the
mission that command plans:

- roads: those added since the last ENVIRONMENT_CLEAN, as the last ENVIRONMENT_BUILD built them;
- starts: where VEHICLE_SET_CURRENT_POS left the vehicles (a vehicle placed on the position of
  another takes its place, and the other stands nowhere);
- goals: the goals the controller took. VEHICLE_SET_GOAL_POS is refused when the position is
  already another vehicle's goal; a vehicle whose goal was refused that way and that has no
  other keeps the goal it was given, so two vehicles share it, as a scenario writes that;
- obstacles: those added since the last OBSTACLES_CLEAN;
- settings: the last SETTINGS_SET_TIMEOUT and SETTINGS_SET_MAX_RAM.

Queries, logging, MOVA_END_MISSION, and MOVA_INIT or VEHICLE_MOVED_FORWARD before the network
is built and before any plan change nothing the scenario holds. What the stream does after its
first planning command (moves, obstacles, plans again, further missions) is not part of the
scenario; `StreamScenario.notes` says what was left out.

A stream the scenario cannot stand for is refused with a ScenarioError naming the line: a line
the controller drops for its words (an unknown command, a bad or missing argument), a road the
controller refuses (the environment locked, a sixteenth road), MOVA_INIT after the build (it
sets every road distance to 0 until the next build), a network not built, a vehicle without a
position or a goal, an obstacle with an end of 12 or from a position to itself.
"""

from __future__ import annotations

import os
from dataclasses import dataclass, field
from typing import Any, Sequence

from . import checks
from .errors import ScenarioError
from .protocol import MAX_POS, MAX_ROADS, PLANNING_COMMANDS, VEHICLES, ParsedLine, parse_line
from .roads import ROAD_KIND_OF_COMMAND, Road
from .scenario import FORMAT, VERSION, Scenario, load_scenario, parse_scenario, read_scenario_text
from .vehicles import GoalMarking, Placing

__all__ = ["StreamScenario", "load_mission", "load_stream", "looks_like_json", "read_stream"]

# After the plan, these change nothing worth a note: the end of the mission, the log switch.
_QUIET = frozenset({"MOVA_END_MISSION", "SETTINGS_ENABLE_LOGGING", "SETTINGS_DISABLE_LOGGING"})
_MOVES = frozenset({"VEHICLE_MOVED_FORWARD", *PLANNING_COMMANDS})


@dataclass(frozen=True)
class StreamScenario:
    """The scenario of a command stream, and where its parts come from.

    `lines` gives the line of the stream behind each place of the scenario ("roads[2]",
    "vehicles[0].start", "obstacles[1]", "settings.timeout_ms"); `planned_at` is the line of the
    planning command the scenario stops at (None: the stream has none, the scenario is the
    mission at its end); `notes` tells what the stream does that the scenario leaves out.
    """

    scenario: Scenario
    lines: dict[str, int] = field(default_factory=dict)
    planned_at: int | None = None
    notes: tuple[str, ...] = ()

    def line_of(self, place: str) -> int | None:
        """The line behind a place of the scenario, or behind the part that holds it."""
        while place:
            if place in self.lines:
                return self.lines[place]
            place = place.rpartition(".")[0]
        return None


class _Player:
    """What the controller holds as the stream goes, as far as a scenario needs it."""

    def __init__(self, source: str):
        self.source = source
        self.locked = True  # the environment starts locked
        self.built = False  # built, and not cleaned since
        self.roads: list[tuple[Road, int]] = []
        self.clean_line: int | None = None
        self.build_line: int | None = None
        self.zeroed_line: int | None = None  # MOVA_INIT after the build
        self.placing = Placing()
        self.start_lines: dict[int, int] = {}
        self.lost: dict[int, tuple[int, int, int]] = {}  # vehicle -> (line, other vehicle, position)
        self.goals = GoalMarking()
        self.goal_lines: dict[int, int] = {}
        self.refused: dict[int, tuple[int, int, int]] = {}  # vehicle -> (position, line, holder)
        self.obstacles: list[tuple[int, int, int]] = []  # a, b, line
        self.settings: dict[str, tuple[int, int]] = {}  # timeout_ms / memory_mb -> (value, line)

    def fail(self, line: int | None, problem: str) -> ScenarioError:
        return ScenarioError(f"line {line}" if line else "", problem, self.source)

    def play(self, number: int, parsed: ParsedLine) -> None:
        """Takes one line before the plan."""
        if parsed.problem is not None or parsed.command is None:
            raise self.fail(number, f"{checks.one_line(parsed.text)}: {parsed.problem}; the controller drops this line")
        name, args = parsed.command.name, parsed.args
        if name in ROAD_KIND_OF_COMMAND:
            self.road(number, Road(ROAD_KIND_OF_COMMAND[name], args[0], args[1]), parsed.text)
        elif name == "ENVIRONMENT_CLEAN":
            self.locked, self.built, self.roads, self.clean_line = False, False, [], number
        elif name == "ENVIRONMENT_BUILD":
            self.locked, self.built, self.build_line, self.zeroed_line = True, True, number, None
        elif name == "MOVA_INIT" and self.built:
            self.zeroed_line = number
        elif name == "VEHICLE_SET_CURRENT_POS":
            self.place(number, args[0], args[1])
        elif name == "VEHICLE_SET_GOAL_POS":
            self.goal(number, args[0], args[1])
        elif name == "OBSTACLES_ADD_OBSTACLE":
            self.obstacles.append((args[0], args[1], number))
        elif name == "OBSTACLES_CLEAN":
            self.obstacles = []
        elif name == "SETTINGS_SET_TIMEOUT":
            self.settings["timeout_ms"] = (args[0], number)
        elif name == "SETTINGS_SET_MAX_RAM":
            self.settings["memory_mb"] = (args[0], number)

    def road(self, number: int, road: Road, text: str) -> None:
        if self.locked:
            why = (f"ENVIRONMENT_BUILD at line {self.build_line} locked it" if self.build_line
                   else "it is locked at the start")
            raise self.fail(number, f"{text}: the environment is locked ({why}), so the controller refuses "
                            "this road; send ENVIRONMENT_CLEAN before the roads")
        if len(self.roads) >= MAX_ROADS:
            raise self.fail(number, f"{text}: a road more than the {MAX_ROADS} the controller holds; "
                            "it refuses this one")
        self.roads.append((road, number))

    def place(self, number: int, vehicle: int, position: int) -> None:
        for other, at in self.placing.given.items():
            if at == position and other != vehicle:
                self.lost[other] = (number, vehicle, position)
        self.placing.set(vehicle, position)
        self.start_lines[vehicle] = number
        self.lost.pop(vehicle, None)

    def goal(self, number: int, vehicle: int, position: int) -> None:
        holder = next((v for v, p in self.goals.held.items() if p == position and v != vehicle), None)
        if self.goals.set(vehicle, position):
            self.goal_lines[vehicle] = number
            self.refused.pop(vehicle, None)
        elif holder is not None:
            self.refused[vehicle] = (position, number, holder)

    # ----- the scenario at the plan ----------------------------------------------------------

    def network(self, at: int | None, word: str) -> list[dict[str, Any]]:
        if not self.built:
            if self.clean_line is None:
                problem = "the stream never builds the network (ENVIRONMENT_CLEAN, the roads, ENVIRONMENT_BUILD)"
            else:
                problem = (f"the roads added since ENVIRONMENT_CLEAN at line {self.clean_line} are not built: "
                           f"send ENVIRONMENT_BUILD before {word}")
            raise self.fail(at, problem)
        if self.zeroed_line is not None:
            raise self.fail(self.zeroed_line, f"MOVA_INIT after ENVIRONMENT_BUILD at line {self.build_line} "
                            "sets every road distance to 0 until the next build, which a scenario cannot hold; "
                            "send it before the build")
        return [{"kind": road.kind.value, "from": road.a, "to": road.b} for road, _ in self.roads]

    def starts(self, at: int | None, word: str) -> dict[int, int]:
        for v in VEHICLES:
            if v in self.placing.given:
                continue
            if v in self.lost:
                line, other, position = self.lost[v]
                why = f"vehicle {other} was placed on its position {position} at line {line}"
            else:
                why = "it is never placed (VEHICLE_SET_CURRENT_POS)"
            raise self.fail(at, f"vehicle {v} stands nowhere when {word} plans: {why}")
        return dict(self.placing.given)

    def goals_at(self, at: int | None, word: str, notes: list[str]) -> dict[int, tuple[int, int]]:
        """Each vehicle's goal and the line that gave it."""
        goals = {v: (p, self.goal_lines[v]) for v, p in self.goals.held.items()}
        for v in VEHICLES:
            if v in goals:
                continue
            if v not in self.refused:
                raise self.fail(at, f"vehicle {v} has no goal when {word} plans: it is never given one "
                                "(VEHICLE_SET_GOAL_POS)")
            position, line, holder = self.refused[v]
            if self.goals.held.get(holder) != position:
                raise self.fail(at, f"vehicle {v} has no goal when {word} plans: the controller refused its goal "
                                f"{position} at line {line} (then the goal of vehicle {holder}) and it gets no other")
            goals[v] = (position, line)
            notes.append(f"line {line}: the controller refuses goal {position} for vehicle {v}, the goal of "
                         f"vehicle {holder}; the scenario gives both vehicles goal {position}, as the stream does")
        return goals

    def obstacle_list(self) -> list[dict[str, int]]:
        for a, b, line in self.obstacles:
            if MAX_POS in (a, b):
                raise self.fail(line, f"an obstacle end of {MAX_POS} makes the controller drop every computation "
                                "until OBSTACLES_CLEAN; a scenario's positions are 0 to 11")
            if a == b:
                raise self.fail(line, f"an obstacle from {a} to itself blocks no road; a scenario refuses it")
        return [{"from": a, "to": b} for a, b, _ in self.obstacles]

    def scenario(self, at: int | None, word: str | None, rest: Sequence[str]) -> StreamScenario:
        """The mission as the planning command at line `at` (None: the end) plans it."""
        when = word or "the end of the stream"
        notes: list[str] = []
        roads = self.network(at, when)
        starts = self.starts(at, when)
        goals = self.goals_at(at, when, notes)
        data: dict[str, Any] = {
            "format": FORMAT, "version": VERSION,
            "description": f"The mission of the command stream {self.source}"
                           + (f" as line {at} ({word}) plans it" if at else ""),
            "roads": roads,
            "vehicles": [{"vehicle": v, "start": starts[v], "goal": goals[v][0]} for v in VEHICLES],
            "obstacles": self.obstacle_list(),
        }
        if self.settings:
            data["settings"] = {key: value for key, (value, _) in self.settings.items()}
        lines = {f"roads[{i}]": line for i, (_, line) in enumerate(self.roads)}
        lines.update({f"obstacles[{i}]": line for i, (_, _, line) in enumerate(self.obstacles)})
        lines.update({f"settings.{key}": line for key, (_, line) in self.settings.items()})
        for v in VEHICLES:
            lines[f"vehicles[{v - 1}]"] = lines[f"vehicles[{v - 1}].start"] = self.start_lines[v]
            lines[f"vehicles[{v - 1}].goal"] = goals[v][1]
        if at is not None and word is not None:
            notes += _left_out(at, word, rest)
        return StreamScenario(parse_scenario(data, self.source), lines, at, tuple(notes))


def _left_out(at: int, word: str, rest: Sequence[str]) -> list[str]:
    """A note on the lines after the plan that would change the mission, if there are any."""
    seen: dict[str, list[int]] = {}
    for number, text in enumerate(rest, start=at + 1):
        parsed = parse_line(text) if not text.startswith("#") and text.strip() else None
        if parsed is None or parsed.command is None or parsed.problem is not None:
            continue
        command = parsed.command
        if command.name in _QUIET or (command.answers and command.name not in _MOVES):
            continue
        seen.setdefault(command.name, []).append(number)
    if not seen:
        return []
    parts = []
    for name, numbers in seen.items():
        count = len(numbers)
        parts.append(f"{name} (line {numbers[0]})" if count == 1 else f"{name} ({count} lines from line {numbers[0]})")
    return [f"the scenario is the mission as line {at} ({word}) plans it; what the stream does after that "
            "line is left out: " + ", ".join(parts)]


def read_stream(text: str, source: str = "stream") -> StreamScenario:
    """The scenario of a command stream given as text; ScenarioError naming the line when the
    stream cannot be one (see the module's description)."""
    player = _Player(source)
    lines = text.splitlines()
    for number, line in enumerate(lines, start=1):
        if line.startswith("#") or not line.strip():
            continue
        parsed = parse_line(line)
        if parsed.command is not None and parsed.command.name in PLANNING_COMMANDS and parsed.problem is None:
            return player.scenario(number, parsed.command.name, lines[number:])
        player.play(number, parsed)
    return player.scenario(None, None, ())


def load_stream(path: str | os.PathLike[str]) -> StreamScenario:
    """The scenario of the command stream in a file; ScenarioError naming the file (and line)."""
    return read_stream(read_scenario_text(path), str(path))


def looks_like_json(path: str | os.PathLike[str]) -> bool:
    """Whether a file holds a scenario (JSON) rather than a command stream: it is named *.json,
    or its first character other than a blank is "{"."""
    if str(path).endswith(".json"):
        return True
    try:
        with open(path, encoding="utf-8", errors="replace") as handle:
            return handle.read(4096).lstrip().startswith("{")
    except OSError:
        return False


def load_mission(path: str | os.PathLike[str]) -> tuple[Scenario, StreamScenario | None]:
    """The scenario of a file that holds either a scenario (JSON) or a command stream; for a
    stream also where its parts come from. ScenarioError when it cannot be read."""
    if looks_like_json(path):
        return load_scenario(path), None
    read = load_stream(path)
    return read.scenario, read
