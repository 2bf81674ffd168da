from __future__ import annotations

import unittest

from support import ClientCase

from mova_host import Mission, MissionError, Road, RoadKind


def ring(mission: Mission) -> Mission:
    """Positions 0 to 5 on a ring of two-way roads, with a one-way short cut from 0 to 3."""
    mission.add_road(RoadKind.TWO_LANES, 0, 1)
    mission.add_road(RoadKind.ONE_LANE, 1, 2)
    mission.add_road(RoadKind.TWO_LANES, 2, 3)
    mission.add_road(RoadKind.ONE_LANE, 3, 4)
    mission.add_road(RoadKind.TWO_LANES, 4, 5)
    mission.add_road(RoadKind.ONE_LANE, 5, 0)
    mission.add_road(RoadKind.ONE_WAY, 0, 3)
    return mission


class MissionTest(ClientCase):
    def setUp(self):
        self.client = self.new_client()
        self.mission = ring(Mission(self.client))
        self.mission.build()

    def test_plan_is_read_step_by_step_and_followed_to_the_goal(self):
        self.mission.place([0, 2, 4], [2, 4, 0])  # vehicle 1 starts on position 0
        plan = self.mission.plan()
        self.assertTrue(plan.found)
        self.assertEqual(plan.num_steps, self.client.get_num_steps())
        self.assertEqual(plan.steps[0], (0, 2, 4))
        self.assertEqual(plan.steps[-1], (2, 4, 0))
        self.assertEqual(plan.path(1)[0], 0)
        self.assertEqual(plan.steps[1], tuple(self.client.get_next_pos(v) for v in (1, 2, 3)))
        arrived = False
        for step in range(1, plan.num_steps + 1):
            moves, arrived = self.mission.advance()
            self.assertEqual({(m.vehicle, m.origin, m.destination) for m in moves},
                             {(m.vehicle, m.origin, m.destination) for m in plan.moves(step)})
            self.assertEqual(self.mission.positions(), plan.steps[step])
            self.assertEqual(arrived, step == plan.num_steps)
        self.assertTrue(arrived)
        self.assertTrue(self.client.goal_reached())
        self.assertEqual(len(self.mission.history), plan.num_steps)

    def test_obstacle_and_replan_avoid_the_blocked_road(self):
        self.mission.place([0, 3, 5], [2, 4, 1])
        first = self.mission.plan()
        self.assertTrue(first.found)
        self.mission.advance()
        self.mission.add_obstacle(2, 1)
        second = self.mission.replan()
        self.assertTrue(second.found)
        self.assertEqual(second.obstacles, ((2, 1),))
        self.assertEqual(second.steps[0], first.steps[1])
        self.assertEqual(second.history, (first.steps[0],))
        for index in range(1, len(second.steps)):
            for v in (1, 2, 3):
                a, b = second.steps[index - 1][v - 1], second.steps[index][v - 1]
                self.assertNotEqual({a, b}, {1, 2})
        with self.assertRaises(MissionError):
            self.mission.add_obstacle(1, 4)  # no such road

    def test_goals_can_be_rotated_between_missions(self):
        self.mission.place([0, 2, 4], [1, 3, 5])
        self.assertTrue(self.mission.plan().found)
        # Each new goal is the old goal of another vehicle: the goals are moved in a safe order.
        self.mission.place([0, 2, 4], [3, 5, 1])
        plan = self.mission.plan()
        self.assertTrue(plan.found)
        self.assertEqual(plan.steps[-1], (3, 5, 1))

    def test_no_plan_when_a_goal_cannot_be_reached(self):
        self.mission.place([0, 2, 5], [1, 3, 11])  # position 11 has no road
        plan = self.mission.plan()
        self.assertFalse(plan.found)
        self.assertEqual(plan.steps, ((0, 2, 5),))
        with self.assertRaises(MissionError):
            self.mission.advance()

    def test_bad_mission_input_is_refused_before_sending(self):
        with self.assertRaises(ValueError):
            self.mission.place([0, 0, 1], [2, 3, 4])
        with self.assertRaises(ValueError):
            self.mission.place([0, 1], [2, 3, 4])
        with self.assertRaises(ValueError):
            self.mission.place([0, 1, 12], [2, 3, 4])
        with self.assertRaises(ValueError):
            Road(RoadKind.ONE_LANE, 3, 12)
        Road(RoadKind.ONE_LANE, 3, 3)  # the controller accepts a road from a position to itself
        with self.assertRaises(MissionError):
            Mission(self.client).plan()


if __name__ == "__main__":
    unittest.main()
