"""Command streams read as scenarios: the mission the first planning command plans, what is
left out after it, and the streams a scenario cannot stand for (each error names its line)."""

from __future__ import annotations

import random
import unittest

from support import EXAMPLES, LIBRARY, random_scenario

from mova_host.errors import ScenarioError
from mova_host.roads import Road, RoadKind
from mova_host.scenario import Scenario, command_lines, load_scenario
from mova_host.scenario_stream import load_mission, read_stream

SQUARE = ["ENVIRONMENT_CLEAN", "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 1", "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 1 2",
          "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 2 3", "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 3 0",
          "ENVIRONMENT_BUILD"]
PLACED = ["VEHICLE_SET_CURRENT_POS 1 0", "VEHICLE_SET_CURRENT_POS 2 2", "VEHICLE_SET_CURRENT_POS 3 5",
          "VEHICLE_SET_GOAL_POS 1 2", "VEHICLE_SET_GOAL_POS 2 0", "VEHICLE_SET_GOAL_POS 3 5"]


def mission(s: Scenario) -> tuple[object, ...]:
    return (s.roads, s.starts, s.goals, s.obstacles, s.timeout_ms, s.memory_mb)


def read(*lines: str):
    return read_stream("\n".join(lines) + "\n", "s.txt")


class StreamOfAScenarioTest(unittest.TestCase):
    def test_the_commands_of_a_scenario_read_back_as_its_mission(self):
        # Every example (two vehicles sharing a goal included: the controller refuses the
        # second goal line, the scenario keeps both) and random ones, obstacles and limits too.
        rng = random.Random(22)
        cases = [load_scenario(path) for path in sorted(LIBRARY.glob("*.json"))]
        cases += [random_scenario(rng) for _ in range(300)]
        for s in cases:
            with self.subTest(s.name or str(mission(s))):
                read_back = read_stream("\n".join(command_lines(s)))
                self.assertEqual(mission(read_back.scenario), mission(s))
                self.assertEqual(read_back.planned_at, len(command_lines(s)))

    def test_the_example_stream_is_its_first_mission_and_the_rest_is_named(self):
        s, found = load_mission(EXAMPLES / "mission.txt")
        self.assertIsNotNone(found)
        self.assertEqual((s.starts, s.goals, s.obstacles, len(s.roads)), ((0, 7, 10), (11, 4, 1), [], 15))
        self.assertEqual(s.roads[0], Road(RoadKind.TWO_LANES, 0, 1))
        text = (EXAMPLES / "mission.txt").read_text().splitlines()
        self.assertEqual(text[found.planned_at - 1], "MOVA_START_MISSION")
        self.assertEqual(text[found.line_of("roads[9]") - 1], "ENVIRONMENT_ADD_ONE_WAY_ROAD 4 8")
        self.assertEqual(text[found.line_of("vehicles[1].goal") - 1], "VEHICLE_SET_GOAL_POS 2 4")
        self.assertEqual(found.line_of("vehicles[2]"), found.line_of("vehicles[2].start"))
        self.assertIsNone(found.line_of("roads"))
        (note,) = found.notes
        self.assertIn("VEHICLE_MOVED_FORWARD (9 lines from line", note)
        self.assertIn("OBSTACLES_ADD_OBSTACLE (line", note)
        self.assertIn("OBSTACLES_CONFIRM (line", note)
        self.assertNotIn("VEHICLE_GOAL_REACHED", note)  # a query changes nothing

    def test_a_json_file_is_read_as_a_scenario(self):
        path = LIBRARY / "siding.json"
        self.assertEqual(load_mission(path), (load_scenario(path), None))


class StreamMappingTest(unittest.TestCase):
    def test_the_controller_state_at_the_first_plan(self):
        found = read(
            "# a workbench session", "", "MOVA_INIT",
            "ENVIRONMENT_CLEAN", "ENVIRONMENT_ADD_ONE_WAY_ROAD 4 8", "ENVIRONMENT_BUILD",  # an earlier network
            *SQUARE, "ENVIRONMENT_BUILD", "SETTINGS_SET_TIMEOUT 250", "SETTINGS_SET_TIMEOUT 300",
            "VEHICLE_SET_CURRENT_POS 1 9", *PLACED,
            "VEHICLE_MOVED_FORWARD", "MOVA_END_MISSION",  # before any plan: nothing moves
            # the distance table as the workbench reads it: vehicle 1 over every position, then back
            *[f"VEHICLE_SET_CURRENT_POS 1 {p}" for p in range(12)],
            "VEHICLE_SET_CURRENT_POS 1 0", "VEHICLE_SET_CURRENT_POS 2 2", "VEHICLE_SET_CURRENT_POS 3 5",
            "VEHICLE_SET_GOAL_POS 1 7", "VEHICLE_SET_GOAL_POS 1 2",  # the later goal counts
            "OBSTACLES_ADD_OBSTACLE 0 3", "OBSTACLES_CLEAN", "OBSTACLES_ADD_OBSTACLE 2 1",
            "OBSTACLES_CONFIRM",  # the first plan: obstacles known beforehand
            "MOVA_START_MISSION", "ENVIRONMENT_CLEAN")
        s = found.scenario
        self.assertEqual(s.roads, [Road(RoadKind.TWO_LANES, 0, 1), Road(RoadKind.ONE_LANE, 1, 2),
                                   Road(RoadKind.TWO_LANES, 2, 3), Road(RoadKind.TWO_LANES, 3, 0)])
        self.assertEqual((s.starts, s.goals, s.obstacles), ((0, 2, 5), (2, 0, 5), [(2, 1)]))
        self.assertEqual((s.timeout_ms, s.memory_mb), (300, None))
        self.assertEqual(found.line_of("settings.timeout_ms"), 15)
        self.assertEqual(found.line_of("obstacles[0]"), 44)
        self.assertIn("MOVA_START_MISSION (line 46), ENVIRONMENT_CLEAN (line 47)", found.notes[0])

    def test_a_goal_refused_for_another_vehicle_is_shared_only_while_that_vehicle_holds_it(self):
        shared = read(*SQUARE, *PLACED[:3], "VEHICLE_SET_GOAL_POS 1 2", "VEHICLE_SET_GOAL_POS 2 2",
                      "VEHICLE_SET_GOAL_POS 3 5", "MOVA_START_MISSION")
        self.assertEqual(shared.scenario.goals, (2, 2, 5))
        self.assertEqual(shared.line_of("vehicles[1].goal"), 11)
        self.assertIn("line 11: the controller refuses goal 2 for vehicle 2", shared.notes[0])
        with self.assertRaisesRegex(ScenarioError, "s.txt: line 14: vehicle 2 has no goal when MOVA_START_MISSION "
                                    "plans: the controller refused its goal 2 at line 11"):
            read(*SQUARE, *PLACED[:3], "VEHICLE_SET_GOAL_POS 1 2", "VEHICLE_SET_GOAL_POS 2 2",
                 "VEHICLE_SET_GOAL_POS 1 3", "VEHICLE_SET_GOAL_POS 3 5", "MOVA_START_MISSION")

    def test_without_a_plan_the_scenario_is_the_mission_at_the_end(self):
        found = read(*SQUARE, *PLACED)
        self.assertEqual((found.planned_at, found.notes, found.scenario.goals), (None, (), (2, 0, 5)))

    def test_streams_a_scenario_cannot_stand_for_name_their_line(self):
        start = ["VEHICLE_SET_CURRENT_POS 1 0", "VEHICLE_SET_CURRENT_POS 2 2", "VEHICLE_SET_CURRENT_POS 3 5"]
        goals = ["VEHICLE_SET_GOAL_POS 1 2", "VEHICLE_SET_GOAL_POS 2 0", "VEHICLE_SET_GOAL_POS 3 5"]
        cases = {
            "line 1: ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1: the environment is locked (it is locked at the start)":
                ["ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1", *SQUARE],
            "line 7: ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1: the environment is locked (ENVIRONMENT_BUILD at line 6":
                [*SQUARE, "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1"],
            "line 17: ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1: a road more than the 15":
                ["ENVIRONMENT_CLEAN", *["ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1"] * 16],
            "line 2: ENVIRONMENT_ADD_ROAD 0 1: unknown command word; the controller drops this line":
                ["ENVIRONMENT_CLEAN", "ENVIRONMENT_ADD_ROAD 0 1"],
            "line 7: VEHICLE_SET_CURRENT_POS 1 12: position 12 is outside 0 to 11":
                [*SQUARE, "VEHICLE_SET_CURRENT_POS 1 12"],
            "line 11: the roads added since ENVIRONMENT_CLEAN at line 10 are not built":
                [*SQUARE, *start, "ENVIRONMENT_CLEAN", "MOVA_START_MISSION"],
            "s.txt: the stream never builds the network": [*start, *goals],
            "line 7: MOVA_INIT after ENVIRONMENT_BUILD at line 6 sets every road distance to 0":
                [*SQUARE, "MOVA_INIT", *start, *goals, "MOVA_START_MISSION"],
            "line 14: vehicle 2 stands nowhere when MOVA_START_MISSION plans: vehicle 3 was placed on its "
            "position 2 at line 10": [*SQUARE, *start, "VEHICLE_SET_CURRENT_POS 3 2", *goals, "MOVA_START_MISSION"],
            "s.txt: vehicle 3 stands nowhere when the end of the stream plans: it is never placed":
                [*SQUARE, *start[:2], *goals],
            "line 12: vehicle 3 has no goal when MOVA_START_MISSION plans: it is never given one":
                [*SQUARE, *start, *goals[:2], "MOVA_START_MISSION"],
            "line 13: an obstacle end of 12 makes the controller drop every computation":
                [*SQUARE, *start, *goals, "OBSTACLES_ADD_OBSTACLE 12 0", "OBSTACLES_CONFIRM"],
            "line 13: an obstacle from 3 to itself blocks no road":
                [*SQUARE, *start, *goals, "OBSTACLES_ADD_OBSTACLE 3 3", "MOVA_START_MISSION"],
            # A line quoted in a message is cut, and its control characters shown as blanks (found
            # by fuzz/fuzz_scenario.py: the whole line of 5,000 digits was the message).
            "line 2: ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1111111111111111111111111111111111111111111111...: position "
            "argument is not an integer": ["ENVIRONMENT_CLEAN", "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 " + "1" * 5000],
            "line 1: ENVIRONMENT CLEAN: unknown command word": ["ENVIRONMENT\x1bCLEAN"],
        }
        for message, lines in cases.items():
            with self.subTest(message):
                with self.assertRaises(ScenarioError) as caught:
                    read(*lines)
                self.assertIn(message, str(caught.exception))
        # Lines the controller drops after the plan, or MOVA_INIT before the build, are harmless.
        self.assertEqual(read("MOVA_INIT", *SQUARE, *start, *goals, "MOVA_START_MISSION", "BOGUS").notes, ())


if __name__ == "__main__":
    unittest.main()
