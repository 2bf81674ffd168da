"""How the controller takes the vehicles' positions and goals, and goal parking."""

from __future__ import annotations

import unittest
from itertools import permutations

import support  # noqa: F401  (puts the package on the path)

from mova_host.vehicles import GoalMarking, Placing, positions


class GoalParkingTest(unittest.TestCase):
    def test_every_change_of_goals_is_set_without_a_refusal(self):
        """From any goals held (all three, or some) to any three different goals: every setting
        is one the controller accepts, and the goals end as asked."""
        places = range(5)
        helds = [dict(zip((1, 2, 3), p)) for p in permutations(places, 3)]
        helds += [{1: a, 3: b} for a, b in permutations(places, 2)] + [{}]
        for held in helds:
            for goals in permutations(places, 3):
                marking = GoalMarking(held)
                steps = marking.steps_to(goals)
                with self.subTest(held=held, goals=goals):
                    self.assertTrue(all(marking.set(v, p) for v, p in steps), steps)
                    self.assertEqual(marking.complete(), goals)
                    self.assertLessEqual(len(steps), 4)  # a cycle of goals parks one goal once

    def test_a_goal_held_by_another_vehicle_is_refused_and_the_earlier_goal_stays(self):
        marking = GoalMarking({1: 4, 2: 5})
        self.assertFalse(marking.set(2, 4))
        self.assertEqual(marking.held, {1: 4, 2: 5})
        self.assertEqual(marking.steps_to((5, 4, 0)), [(3, 0), (1, 1), (2, 4), (1, 5)])


class PlacingTest(unittest.TestCase):
    def test_a_vehicle_put_on_another_ones_position_takes_its_place(self):
        placing = Placing()
        for v, p in ((1, 0), (2, 1), (3, 2)):
            placing.set(v, p)
        self.assertEqual(placing.complete(), (0, 1, 2))
        placing.set(3, 0)
        self.assertEqual(placing.given, {2: 1, 3: 0})
        self.assertIsNone(placing.complete())

    def test_positions_of_the_three_vehicles(self):
        self.assertEqual(positions({3: 9, 1: 7, 2: 8}, "starts"), (7, 8, 9))
        for value, words in (([1, 1, 2], "three different"), ([1, 2], "three positions"),
                             ([True, 2, 3], "not a position"), ({1: 0, 2: 1}, "vehicles 1, 2 and 3")):
            with self.subTest(value=value), self.assertRaisesRegex(ValueError, words):
                positions(value, "goals")


if __name__ == "__main__":
    unittest.main()
