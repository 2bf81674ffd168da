"""What the person edits in the workbench, without a controller: every change checked, refused
in words, and a refused change changes nothing."""

from __future__ import annotations

import copy
import unittest

from support import BASE, changed

from mova_host.errors import Conflict, Refused
from mova_host.scenario import parse_scenario
from mova_host.workbench.model import Design


class DesignTest(unittest.TestCase):
    def test_roads_beside_roads(self):
        design = Design()
        self.assertEqual(design.add_road({"kind": "one-lane", "from": 0, "to": 1}),
                         "Added a one-lane road between 0 and 1 (1 of 15 roads).")
        design.add_road({"kind": "one-lane", "from": 1, "to": 0})  # a second lane to pass on
        design.add_road({"kind": "one-way", "from": 2, "to": 3})
        design.add_road({"kind": "one-way", "from": 3, "to": 2})  # the other way is another road
        for body, words in [({"kind": "one-way", "from": 2, "to": 3}, "already joined by a one-way road from 2 to 3"),
                            ({"kind": "two-lanes", "from": 0, "to": 1}, "a two-lane road beside it adds nothing"),
                            ({"kind": "two-lane", "from": 5, "to": 6}, "one of one-way, one-lane, two-lanes, not \"two-lane\""),
                            ({"kind": ["one-way"], "from": 5, "to": 6}, "not a list"),
                            ({"kind": "one-way", "from": 5, "to": True}, "whole number from 0 to 11, not true"),
                            ({"kind": "one-way", "from": 5}, "the second position is missing")]:
            with self.subTest(body=body), self.assertRaisesRegex(Refused, words):
                design.add_road(body)
        self.assertEqual(len(design.roads), 4)
        for a, b in ((4, 5), (5, 6), (6, 7), (8, 9), (9, 10), (10, 11), (4, 8), (5, 9), (6, 10), (7, 11), (0, 4)):
            design.add_road({"kind": "two-lanes", "from": a, "to": b})
        with self.assertRaisesRegex(Refused, "at most 15 roads"):
            design.add_road({"kind": "one-way", "from": 1, "to": 5})

    def test_an_obstacle_goes_with_the_last_road_between_its_ends(self):
        design = Design()
        design.add_road({"kind": "one-lane", "from": 0, "to": 1})
        design.add_road({"kind": "one-lane", "from": 1, "to": 0})
        design.obstacles.append(design.new_obstacle({"from": 1, "to": 0}))
        with self.assertRaisesRegex(Refused, "already blocked"):
            design.new_obstacle({"from": 0, "to": 1})
        self.assertEqual(design.remove_road({"index": 0}), "Removed the one-lane road between 0 and 1.")
        self.assertEqual(design.obstacles, [(1, 0)])
        design.remove_road({"index": 0})
        self.assertEqual(design.obstacles, [])

    def test_a_mission_is_planned_only_when_placed_with_goals_of_their_own(self):
        design = Design()
        self.assertTrue(design.set_vehicles({"starts": [0, None, 2], "goals": [3, 4, 5]}))
        with self.assertRaisesRegex(Conflict, "place the start of vehicle 2 first"):
            design.placed()
        self.assertFalse(design.set_vehicles({"starts": [0, None, 2], "goals": [3, 4, 5]}))
        with self.assertRaisesRegex(Refused, "cannot both have position 3 as goal"):
            design.set_vehicles({"starts": [0, 1, 2], "goals": [3, 3, 5]})
        design.set_vehicles({"starts": [0, 1, 2], "goals": [3, 4, 5]})
        self.assertEqual(design.placed(), ((0, 1, 2), (3, 4, 5)))
        shared = changed("vehicles[2].goal", 2)  # a scenario file may send two vehicles to one goal
        design.load(parse_scenario(shared))
        with self.assertRaisesRegex(Conflict, "vehicles 1 and 2 share the goal 2"):
            design.placed()

    def test_a_scenario_that_cannot_be_taken_over_changes_nothing(self):
        design = Design()
        design.add_road({"kind": "two-lanes", "from": 0, "to": 1})
        before = copy.deepcopy(design.__dict__)
        long_name = copy.deepcopy(BASE)
        long_name["positions"][0]["name"] = "n" * 41
        with self.assertRaisesRegex(Refused, "the name of position 0 is longer than 40"):
            design.load(parse_scenario(long_name))
        self.assertEqual(design.__dict__, before)
        self.assertFalse(design.load(parse_scenario(BASE)))
        self.assertEqual((design.starts, design.goals, design.names[0]), ([0, 1, 5], [2, 0, 5], "dock"))
        self.assertEqual(parse_scenario(BASE).roads, design.scenario().roads)

    def test_a_move_with_a_refused_field_moves_nothing(self):
        design = Design()
        before = (design.coords[3], design.names[3])
        for body, words in [({"position": 3, "x": 400, "y": 300, "name": "n" * 41}, "longer than 40"),
                            ({"position": 3, "x": 400, "y": 300, "name": 7}, "must be a text"),
                            ({"position": 3, "x": 400, "y": 10**400, "name": "dock"}, "y must lie from 30 to 610"),
                            ({"position": 3, "x": 400, "name": "dock"}, "y is missing")]:
            with self.subTest(body=str(body)[:50]), self.assertRaisesRegex(Refused, words):
                design.move_position(body)
            self.assertEqual((design.coords[3], design.names[3]), before)
        design.move_position({"position": 3, "x": 400.04, "y": 300, "name": " dock\x01 "})
        self.assertEqual((design.coords[3], design.names[3]), ((400.0, 300), "dock"))

    def test_clearing_the_roads_and_a_scenario_made_in_python(self):
        design = Design()
        design.add_road({"kind": "two-lanes", "from": 0, "to": 1})
        design.obstacles.append(design.new_obstacle({"from": 0, "to": 1}))
        design.move_position({"position": 0, "x": 100, "y": 100})
        self.assertEqual((design.coords[0], design.names[0]), ((100, 100), None))
        design.clear_roads()
        self.assertEqual((design.roads, design.obstacles), ([], []))
        many = parse_scenario(BASE)
        many.roads = many.roads * 8  # not read from a file: never checked against the 15 roads
        with self.assertRaisesRegex(Refused, "16 roads; the controller holds at most 15"):
            design.load(many)
        self.assertEqual(design.roads, [])

    def test_a_scenario_over_the_pages_limits_changes_nothing(self):
        design = Design()
        design.add_road({"kind": "two-lanes", "from": 0, "to": 1})
        before = copy.deepcopy(design.__dict__)
        for settings, words in (({"timeout_ms": 600_001}, "time limit .* from 0 to 600000"),
                                ({"memory_mb": 2**20 + 1}, "memory limit .* from 0 to 1048576")):
            with self.subTest(settings=settings), self.assertRaisesRegex(Refused, words):
                design.load(parse_scenario(changed("settings", settings)))
            self.assertEqual(design.__dict__, before)

    def test_coordinates_far_apart_or_close_together_fit_the_picture(self):
        design = Design()
        for xs in ((-1e6, 1e6), (0.0, 5e-324), (1e-7, 2e-7)):
            data = changed("positions", [{"position": 0, "x": xs[0], "y": 0}, {"position": 1, "x": xs[1], "y": 0}])
            design.load(parse_scenario(data))
            for x, y in (design.coords[0], design.coords[1]):
                self.assertTrue(30 <= x <= 870 and 30 <= y <= 610, design.coords)


if __name__ == "__main__":
    unittest.main()
