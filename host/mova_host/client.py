"""A client that runs the controller as a child process and speaks its line protocol: one
typed method per command.

Typed methods check their arguments before anything is written and raise TypeError or
ValueError; a query the controller drops raises CommandDropped; a missing answer raises
MovaTimeout; a dead child raises ChildExited. `request(line)` sends any line as it is.
"""

from __future__ import annotations

from . import checks, protocol
from .errors import (
    ChildExited,
    CommandDropped,
    InputError,
    MovaError,
    MovaTimeout,
    Problem,
    ProtocolError,
)
from .exchange import CommandChannel, Exchange, Timeouts
from .process import find_binary
from .protocol import COMMANDS, Command

__all__ = [
    "ChildExited",
    "CommandDropped",
    "Exchange",
    "MovaClient",
    "MovaError",
    "MovaTimeout",
    "ProtocolError",
    "Timeouts",
    "find_binary",
]


def _checked(command: Command, args: tuple[int, ...]) -> tuple[int, ...]:
    """The arguments of a typed call, each checked against the range the controller accepts."""
    for index, (kind, value) in enumerate(zip(command.args, args), start=1):
        what = f"{command.name} argument {index} ({kind.name})"
        low, high = kind.accepted
        try:
            checks.whole(value, low, high)
        except InputError as error:
            if error.problem is Problem.TYPE:
                raise TypeError(f"{what} must be an int, not {type(value).__name__}") from None
            raise ValueError(f"{what} must lie in {low} to {high}, got {value}") from None
    return args


class MovaClient(CommandChannel):
    """One controller process and the protocol spoken with it."""

    def _send(self, name: str, args: tuple[int, ...]) -> Exchange:
        command = COMMANDS[name]
        return self._exchange(protocol.command_line(command, _checked(command, args)))

    def _command(self, name: str, *args: int) -> None:
        self._send(name, args)

    def _query(self, name: str, *args: int) -> tuple[Command, str]:
        exchange = self._send(name, args)
        if exchange.answer is None:
            raise CommandDropped(name, exchange.line)
        return COMMANDS[name], exchange.answer

    def _integer(self, name: str, *args: int) -> int:
        return protocol.integer_answer(*self._query(name, *args))

    def _boolean(self, name: str, *args: int) -> bool:
        return protocol.boolean_answer(*self._query(name, *args))

    def _text(self, name: str) -> str:
        return protocol.line_answer(*self._query(name))

    def __enter__(self) -> MovaClient:
        return self

    def __exit__(self, *exc: object) -> None:
        if exc[0] is None:
            self.close()
        else:
            self.kill()

    # ----- mission -------------------------------------------------------------------------

    def init(self) -> None:
        """MOVA_INIT: writes the notice files if missing; pauses 0.369 s."""
        self._command("MOVA_INIT")

    def generation(self) -> str:
        return self._text("MOVA_GENERATION")

    def build_version(self) -> str:
        return self._text("MOVA_BUILD_VERSION")

    def start_mission(self) -> bool:
        """MOVA_START_MISSION: plans from the current to the goal positions; True when a plan exists."""
        return self._boolean("MOVA_START_MISSION")

    def get_num_steps(self) -> int:
        return self._integer("MOVA_GET_NUM_STEPS")

    def end_mission(self) -> None:
        self._command("MOVA_END_MISSION")

    # ----- vehicles ------------------------------------------------------------------------

    def set_current_pos(self, vehicle: int, position: int) -> None:
        self._command("VEHICLE_SET_CURRENT_POS", vehicle, position)

    def get_current_pos(self, vehicle: int) -> int | None:
        """The vehicle's current position, None when it has none."""
        value = self._integer("VEHICLE_GET_CURRENT_POS", vehicle)
        return None if value == -1 else value

    def get_dis_to_pos(self, vehicle: int, position: int) -> int:
        """Road distance from the vehicle's current position; NO_PATH (32767) when unreachable."""
        return self._integer("VEHICLE_GET_DIS_TO_POS", vehicle, position)

    def set_goal_pos(self, vehicle: int, position: int) -> None:
        self._command("VEHICLE_SET_GOAL_POS", vehicle, position)

    def get_next_pos(self, vehicle: int) -> int:
        """Position after the next step; 0 also stands for "not in the plan"."""
        return self._integer("VEHICLE_GET_NEXT_POS", vehicle)

    def get_step_pos(self, vehicle: int, step: int) -> int:
        """Position at a step of the plan (0 is now); 0 also stands for "not in the plan"."""
        return self._integer("VEHICLE_GET_STEP_POS", vehicle, step)

    def moved_forward(self) -> bool:
        """Reports that the vehicles made the next step; True when they now stand on their goals."""
        return self._boolean("VEHICLE_MOVED_FORWARD")

    def goal_reached(self) -> bool:
        return self._boolean("VEHICLE_GOAL_REACHED")

    # ----- environment and obstacles -------------------------------------------------------

    def environment_clean(self) -> None:
        self._command("ENVIRONMENT_CLEAN")

    def environment_build(self) -> None:
        self._command("ENVIRONMENT_BUILD")

    def get_max_pos(self) -> int:
        return self._integer("ENVIRONMENT_GET_MAX_POS")

    def get_max_roads(self) -> int:
        return self._integer("ENVIRONMENT_GET_MAX_ROADS")

    def add_one_way_road(self, origin: int, destination: int) -> None:
        self._command("ENVIRONMENT_ADD_ONE_WAY_ROAD", origin, destination)

    def add_two_way_road_one_lane(self, first: int, second: int) -> None:
        self._command("ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE", first, second)

    def add_two_way_road_two_lanes(self, first: int, second: int) -> None:
        self._command("ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES", first, second)

    def obstacles_clean(self) -> None:
        self._command("OBSTACLES_CLEAN")

    def add_obstacle(self, origin: int, destination: int) -> None:
        self._command("OBSTACLES_ADD_OBSTACLE", origin, destination)

    def obstacles_count(self) -> int:
        return self._integer("OBSTACLES_GET_NUM")

    def obstacle_present(self, first: int, second: int) -> bool:
        return self._boolean("OBSTACLES_PRESENT", first, second)

    def confirm_obstacles(self) -> bool:
        """OBSTACLES_CONFIRM: plans again around the obstacles; True when a plan exists."""
        return self._boolean("OBSTACLES_CONFIRM")

    # ----- settings, monitoring, information -----------------------------------------------

    def set_max_ram(self, megabytes: int) -> None:
        self._command("SETTINGS_SET_MAX_RAM", megabytes)

    def set_timeout(self, milliseconds: int) -> None:
        """The planner's time limit; the client's planning time-out follows it."""
        self._command("SETTINGS_SET_TIMEOUT", milliseconds)

    def enable_logging(self) -> None:
        self._command("SETTINGS_ENABLE_LOGGING")

    def disable_logging(self) -> None:
        self._command("SETTINGS_DISABLE_LOGGING")

    def num_vehicles(self) -> int:
        return self._integer("MONITORING_GET_NUM_VEHICLES")

    def cpu_time(self) -> float:
        """Seconds the last search reported."""
        return protocol.fixed_answer(*self._query("MONITORING_GET_CPU_TIME"))

    def ram_usage(self) -> int:
        return self._integer("MONITORING_GET_RAM_USAGE")

    def evaluations(self) -> int:
        return self._integer("MONITORING_GET_EVALUATIONS")

    def author(self) -> str:
        return self._text("INFORMATION_GET_AUTHOR")

    def organisation(self) -> str:
        return self._text("INFORMATION_GET_ORG")

    def copyright(self) -> str:
        return self._text("INFORMATION_GET_COPYRIGHT")

    def watermark(self) -> str:
        return self._text("INFORMATION_GET_WATERMARK")
