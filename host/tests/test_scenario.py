from __future__ import annotations

import json
import math
import random
import unittest

from support import BASE, LIBRARY, changed, random_scenario

from mova_host.scenario import (
    ScenarioError,
    command_lines,
    dumps_scenario,
    load_scenario,
    loads_scenario,
    parse_scenario,
    scenario_to_json,
)

class ReadingTest(unittest.TestCase):
    def test_fields(self):
        s = parse_scenario(BASE)
        self.assertEqual((s.starts, s.goals), ((0, 1, 5), (2, 0, 5)))  # by vehicle number
        self.assertEqual(s.obstacles, [(2, 1)])
        self.assertEqual((s.timeout_ms, s.memory_mb), (250, 64))
        self.assertEqual(s.positions[0].name, "dock")
        self.assertEqual(s.label(0), "0 (dock)")
        self.assertIsNone(s.coordinates())  # positions 1, 2 and 5 have none

    def test_round_trips(self):
        files = sorted(LIBRARY.glob("*.json"))
        self.assertGreaterEqual(len(files), 15)
        for path in files:
            with self.subTest(path.name):
                data = json.loads(path.read_text())
                s = load_scenario(path)
                self.assertEqual(scenario_to_json(s), data)
                self.assertEqual(loads_scenario(dumps_scenario(s)), s)
        rng = random.Random(5)
        for _ in range(200):
            s = random_scenario(rng)
            self.assertEqual(parse_scenario(json.loads(json.dumps(scenario_to_json(s)))), s)

    def test_coordinates_only_when_every_position_used_has_them(self):
        data = changed("positions", [{"position": 0, "x": 1, "y": 2}, {"position": 1, "name": "one"},
                                     {"position": 2, "x": 5, "y": 6}])
        s = parse_scenario(data)
        self.assertIsNone(s.coordinates())  # position 1 is used and has none
        self.assertEqual(scenario_to_json(s)["positions"][1], {"position": 1, "name": "one"})
        data["positions"][1].update(x=3, y=4)
        data["positions"].append({"position": 5, "x": 7, "y": 8})
        self.assertEqual(parse_scenario(data).coordinates(), {0: (1, 2), 1: (3, 4), 2: (5, 6), 5: (7, 8)})

    def test_malformed_files_name_the_place(self):
        cases = [
            (changed("format", "mova"), "format:"),
            (changed("version", 2), "version: version 2 is newer"),
            (changed("version", "1"), "version: must be a whole number"),
            (changed("roads", ...), 'the field "roads" is missing'),
            (changed("roads", {}), "roads: must be a list"),
            (changed("roads[1].kind", "two-lane"), 'roads[1].kind: "two-lane" is not one of one-way, one-lane, two-lanes'),
            (changed("roads[0].to", 12), "roads[0].to: position 12 is outside 0 to 11"),
            (changed("roads[0].to", 1.0), "roads[0].to: must be a whole number, not 1.0"),
            (changed("roads[0].lanes", 2), "roads[0].lanes: unknown field"),
            (changed("roads", [{"kind": "one-way", "from": 0, "to": 1}] * 16), "roads: 16 roads"),
            (changed("vehicles[1].vehicle", 4), "vehicles[1].vehicle: must be 1, 2 or 3"),
            (changed("vehicles[2].vehicle", 1), "vehicles[2].vehicle: vehicle 1 is listed twice"),
            (changed("vehicles", BASE["vehicles"][:2]), "vehicles: must list vehicles 1, 2 and 3; missing 2"),
            (changed("vehicles[2].start", 0), "vehicles[2].start: position 0 is already the start of vehicle 1"),
            (changed("vehicles[0].goal", -1), "vehicles[0].goal: position -1 is outside"),
            (changed("obstacles[0].to", 2), "obstacles[0]: an obstacle blocks the road between two different"),
            (changed("obstacles[0].from", 12), "obstacles[0].from: position 12"),
            (changed("settings.timeout_ms", -5), "settings.timeout_ms: -5 is outside"),
            (changed("settings.timeout", 5), "settings.timeout: unknown field"),
            (changed("positions[0].y", ...), "positions[0]: give both x and y"),
            (changed("positions[0].x", "80"), "positions[0].x: must be a number"),
            (changed("positions", [{"position": 3}, {"position": 3}]), "positions[1].position: position 3 is described twice"),
            (changed("expect", {"category": "stuck"}), 'expect.category: "stuck" is not one of'),
            (changed("expect", {"answer": "yes"}), "expect.answer: must be true or false"),
            ([], "must be an object"),
            # Bounds of values and sizes.
            (changed("positions[0].x", 1e308), "positions[0].x: 1e+308 is outside -1,000,000 to 1,000,000"),
            (changed("positions[0].y", -(10**400)), "positions[0].y: a whole number of 401 digits is outside"),
            (changed("positions[0].x", math.nan), "positions[0].x: must be a number, not NaN"),
            (changed("roads[0].to", 10**400), "roads[0].to: position a whole number of 401 digits is outside 0 to 11"),
            (changed("settings.memory_mb", 2**31), "settings.memory_mb: 2147483648 is outside 0 to 2147483647"),
            (changed("name", "n" * 201), "name: a text of 201 characters; at most 200"),
            (changed("positions[0].name", "n" * 201), "positions[0].name: a text of 201 characters"),
            (changed("description", "d" * 10_001), "description: a text of 10,001 characters; at most 10,000"),
            (changed("obstacles", [{"from": 1, "to": 2}] * 67), "obstacles: 67 obstacles; 12 positions make at most 66"),
            (changed("comment", [math.inf]), "comment: holds Infinity, which is not plain JSON"),
            (changed("expect", {"mine": {1: 2}}), "expect.mine: holds 1, which is not plain JSON"),
            (changed("roads[0].a b", 1), 'roads[0]."a b": unknown field'),
            (changed("roads", None), "roads: must be a list, not null"),
            (changed("positions", "all"), 'positions: must be a list, not a text'),
            (changed("positions[0].name", 5), "positions[0].name: must be a text, not 5"),
            (changed("expect", [True]), "expect: must be an object, not a list"),
        ]
        for data, message in cases:
            with self.subTest(message):
                with self.assertRaises(ScenarioError) as caught:
                    parse_scenario(data, "file.json")
                self.assertIn(message, str(caught.exception))
                self.assertTrue(str(caught.exception).startswith("file.json: "))
        with self.assertRaises(ScenarioError) as caught:
            loads_scenario('{"format": "mova-scenario",\n "version": 1,,}', "bad.json")
        self.assertIn("bad.json: line 2, column 15: not valid JSON", str(caught.exception))
        with self.assertRaises(ScenarioError) as caught:
            load_scenario(LIBRARY / "no-such-file.json")
        self.assertIn("no such file", str(caught.exception))


class CommandStreamTest(unittest.TestCase):
    def test_the_stream_a_fresh_controller_gets(self):
        self.assertEqual(command_lines(parse_scenario(BASE)), [
            "ENVIRONMENT_CLEAN",
            "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 1",
            "ENVIRONMENT_ADD_ONE_WAY_ROAD 1 2",
            "ENVIRONMENT_BUILD",
            "SETTINGS_SET_TIMEOUT 250",
            "SETTINGS_SET_MAX_RAM 64",
            "VEHICLE_SET_CURRENT_POS 1 0",
            "VEHICLE_SET_CURRENT_POS 2 1",
            "VEHICLE_SET_CURRENT_POS 3 5",
            "VEHICLE_SET_GOAL_POS 1 2",
            "VEHICLE_SET_GOAL_POS 2 0",
            "VEHICLE_SET_GOAL_POS 3 5",
            "OBSTACLES_ADD_OBSTACLE 2 1",
            "MOVA_START_MISSION",
        ])


if __name__ == "__main__":
    unittest.main()
