"""A client that runs the controller as a child process and speaks its line protocol: one
typed method per command.

Typed methods check their arguments before anything is written and raise TypeError or
ValueError; a query the controller drops raises CommandDropped; a missing answer raises
MovaTimeout; a dead child raises ChildExited. `request(line)` sends any line as it is.
Without a controller executable the client raises ControllerNotFound.
"""

from __future__ import annotations

from . import checks, protocol
from .errors import (
    ChildExited,
    CommandDropped,
    ControllerNotFound,
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
    "ControllerNotFound",
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
    """One controller process and the protocol spoken with it: one method per command.

    It starts the controller (`find_binary(binary)`) in `workdir`, or in a temporary directory
    that goes when it ends; `on_exchange` is told of every exchange. It raises ControllerNotFound when there is no executable, OSError when it
    cannot be started, and MovaTimeout or ProtocolError when it does not answer as a
    controller. Used in a `with` block it is closed at the end, and killed after an exception.

    Each method checks its arguments (TypeError, ValueError) before anything is written; a
    query the controller drops raises CommandDropped; MovaTimeout, ChildExited and ProtocolError
    as for `request()`.
    """

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
        """MOVA_INIT: writes the notice files into the working directory if missing, and pauses
        0.369 s. It also sets every road distance to 0 until the next environment_build(); it
        is not needed to plan."""
        self._command("MOVA_INIT")

    def generation(self) -> str:
        """MOVA_GENERATION: the generation line, "2024"."""
        return self._text("MOVA_GENERATION")

    def build_version(self) -> str:
        """MOVA_BUILD_VERSION: the commit the controller was built from, 40 lower-case
        hexadecimal digits (40 zeros for a build outside a git checkout)."""
        return self._text("MOVA_BUILD_VERSION")

    def start_mission(self) -> bool:
        """MOVA_START_MISSION: plans from the current positions to the goals, around the
        obstacles; True when the controller found a plan (False does not prove that none exists).
        It waits up to the planning time-out (`Timeouts`)."""
        return self._boolean("MOVA_START_MISSION")

    def get_num_steps(self) -> int:
        """MOVA_GET_NUM_STEPS: the steps of the plan from where the vehicles stand to their goals;
        0 without a plan and once they stand on their goals. CommandDropped after end_mission()
        until the next computation."""
        return self._integer("MOVA_GET_NUM_STEPS")

    def end_mission(self) -> None:
        """MOVA_END_MISSION: forgets the search and its plan (positions, goals, roads, obstacles
        and settings stay). Send it before every computation of a new mission but the first."""
        self._command("MOVA_END_MISSION")

    # ----- vehicles ------------------------------------------------------------------------

    def set_current_pos(self, vehicle: int, position: int) -> None:
        """VEHICLE_SET_CURRENT_POS: puts the vehicle (1 to 3) on the position (0 to 11). A
        vehicle that stood there loses its place; the controller does not check it."""
        self._command("VEHICLE_SET_CURRENT_POS", vehicle, position)

    def get_current_pos(self, vehicle: int) -> int | None:
        """VEHICLE_GET_CURRENT_POS: the vehicle's position, None when it stands nowhere (at the
        start, or after another vehicle was placed on its position)."""
        value = self._integer("VEHICLE_GET_CURRENT_POS", vehicle)
        return None if value == -1 else value

    def get_dis_to_pos(self, vehicle: int, position: int) -> int:
        """VEHICLE_GET_DIS_TO_POS: the road moves from the vehicle's position to `position`, as
        the last environment_build() worked them out; NO_PATH (32767) when no road leads there,
        and from a position to itself when it lies on no cycle of roads. CommandDropped when the
        vehicle stands nowhere."""
        return self._integer("VEHICLE_GET_DIS_TO_POS", vehicle, position)

    def set_goal_pos(self, vehicle: int, position: int) -> None:
        """VEHICLE_SET_GOAL_POS: gives the vehicle (1 to 3) its goal (0 to 11). The controller
        refuses it without an answer when the position is already a goal (its own or another
        vehicle's): the earlier goal stays, and only its log tells ("Goal position not empty")."""
        self._command("VEHICLE_SET_GOAL_POS", vehicle, position)

    def get_next_pos(self, vehicle: int) -> int:
        """VEHICLE_GET_NEXT_POS: the vehicle's position after the next step of the plan; 0 also
        stands for "not in the plan" and "no plan yet"."""
        return self._integer("VEHICLE_GET_NEXT_POS", vehicle)

    def get_step_pos(self, vehicle: int, step: int) -> int:
        """VEHICLE_GET_STEP_POS: the vehicle's position at a step of the plan (0 is where it
        stands now, get_num_steps() its goal); 0 also stands for "not in the plan". Ask only for
        steps 0 to get_num_steps(). CommandDropped before the first computation and after
        end_mission()."""
        return self._integer("VEHICLE_GET_STEP_POS", vehicle, step)

    def moved_forward(self) -> bool:
        """VEHICLE_MOVED_FORWARD: reports that the vehicles made the next step of the plan; True
        when they now stand on their goals (False after a move short of them is no error).
        CommandDropped after end_mission() until the next computation."""
        return self._boolean("VEHICLE_MOVED_FORWARD")

    def goal_reached(self) -> bool:
        """VEHICLE_GOAL_REACHED: True when every vehicle stands on its goal (also at the start,
        with no vehicle placed and no goal set)."""
        return self._boolean("VEHICLE_GOAL_REACHED")

    # ----- environment and obstacles -------------------------------------------------------

    def environment_clean(self) -> None:
        """ENVIRONMENT_CLEAN: unlocks the environment and removes every road; vehicles, goals,
        obstacles and settings stay."""
        self._command("ENVIRONMENT_CLEAN")

    def environment_build(self) -> None:
        """ENVIRONMENT_BUILD: locks the environment and works out the road distances from the
        roads added since environment_clean(). Roads sent afterwards are refused until the next
        environment_clean()."""
        self._command("ENVIRONMENT_BUILD")

    def get_max_pos(self) -> int:
        """ENVIRONMENT_GET_MAX_POS: the number of positions, 12."""
        return self._integer("ENVIRONMENT_GET_MAX_POS")

    def get_max_roads(self) -> int:
        """ENVIRONMENT_GET_MAX_ROADS: the most roads the controller holds, 15."""
        return self._integer("ENVIRONMENT_GET_MAX_ROADS")

    def add_one_way_road(self, origin: int, destination: int) -> None:
        """ENVIRONMENT_ADD_ONE_WAY_ROAD: a road from `origin` to `destination` (0 to 11). The
        controller refuses it without an answer while the environment is locked (at the start and
        after environment_build()) or once 15 roads exist."""
        self._command("ENVIRONMENT_ADD_ONE_WAY_ROAD", origin, destination)

    def add_two_way_road_one_lane(self, first: int, second: int) -> None:
        """ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE: a road both ways on which two vehicles never
        pass each other (0 to 11); refused as add_one_way_road() is."""
        self._command("ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE", first, second)

    def add_two_way_road_two_lanes(self, first: int, second: int) -> None:
        """ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES: a road both ways on which vehicles pass each
        other (0 to 11); refused as add_one_way_road() is."""
        self._command("ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES", first, second)

    def obstacles_clean(self) -> None:
        """OBSTACLES_CLEAN: removes every obstacle; the plan stays until the next computation."""
        self._command("OBSTACLES_CLEAN")

    def add_obstacle(self, origin: int, destination: int) -> None:
        """OBSTACLES_ADD_OBSTACLE: blocks the road between the two positions, both ways, from
        the next computation (confirm_obstacles()). The ends are not checked against the roads.
        Ends 0 to 12 are sent; an end of 12 makes the controller drop every computation until
        obstacles_clean(), so keep to 0 to 11."""
        self._command("OBSTACLES_ADD_OBSTACLE", origin, destination)

    def obstacles_count(self) -> int:
        """OBSTACLES_GET_NUM: the obstacles added since the last obstacles_clean(), duplicates
        included."""
        return self._integer("OBSTACLES_GET_NUM")

    def obstacle_present(self, first: int, second: int) -> bool:
        """OBSTACLES_PRESENT: whether an obstacle joins the two positions, in either order."""
        return self._boolean("OBSTACLES_PRESENT", first, second)

    def confirm_obstacles(self) -> bool:
        """OBSTACLES_CONFIRM: resets the search and plans again from where the vehicles stand,
        around every obstacle; True when the controller found a plan."""
        return self._boolean("OBSTACLES_CONFIRM")

    # ----- settings, monitoring, information -----------------------------------------------

    def set_max_ram(self, megabytes: int) -> None:
        """SETTINGS_SET_MAX_RAM: the memory limit of each computation in MB (2048 at the start).
        The controller does not measure its memory, so only 0 has an effect: every computation
        then stops at its first step."""
        self._command("SETTINGS_SET_MAX_RAM", megabytes)

    def set_timeout(self, milliseconds: int) -> None:
        """SETTINGS_SET_TIMEOUT: the time limit of each computation in milliseconds (1000 at the
        start); the client's time-out of the planning commands follows it."""
        self._command("SETTINGS_SET_TIMEOUT", milliseconds)

    def enable_logging(self) -> None:
        """SETTINGS_ENABLE_LOGGING: the controller appends a record of each command to mova.log
        in its working directory (`workdir`)."""
        self._command("SETTINGS_ENABLE_LOGGING")

    def disable_logging(self) -> None:
        """SETTINGS_DISABLE_LOGGING: no more log records."""
        self._command("SETTINGS_DISABLE_LOGGING")

    def num_vehicles(self) -> int:
        """MONITORING_GET_NUM_VEHICLES: the number of vehicles, always 3."""
        return self._integer("MONITORING_GET_NUM_VEHICLES")

    def cpu_time(self) -> float:
        """MONITORING_GET_CPU_TIME: the seconds the last search reported (for a computation,
        4.371 times its wall-clock time, which is also the pause after it)."""
        return protocol.fixed_answer(*self._query("MONITORING_GET_CPU_TIME"))

    def ram_usage(self) -> int:
        """MONITORING_GET_RAM_USAGE: always 0 (the controller does not measure its memory)."""
        return self._integer("MONITORING_GET_RAM_USAGE")

    def evaluations(self) -> int:
        """MONITORING_GET_EVALUATIONS: the placements the last search took from its queue (a
        computation stops at 30000); 0 before any search."""
        return self._integer("MONITORING_GET_EVALUATIONS")

    def author(self) -> str:
        """INFORMATION_GET_AUTHOR: the author line."""
        return self._text("INFORMATION_GET_AUTHOR")

    def organisation(self) -> str:
        """INFORMATION_GET_ORG: the organisation line."""
        return self._text("INFORMATION_GET_ORG")

    def copyright(self) -> str:
        """INFORMATION_GET_COPYRIGHT: the copyright line."""
        return self._text("INFORMATION_GET_COPYRIGHT")

    def watermark(self) -> str:
        """INFORMATION_GET_WATERMARK: the watermark line (it ends with a blank); no other command
        ever answers it, which makes it the client's sentinel."""
        return self._text("INFORMATION_GET_WATERMARK")
