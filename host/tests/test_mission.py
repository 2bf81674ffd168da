from __future__ import annotations

import unittest

from support import ClientCase, temporary_folder, write_script

from mova_host import Mission, MissionError, MovaClient, Road, RoadKind
from mova_host.errors import PlanCheckError
from mova_host.mission import read_distances
from mova_host.protocol import COMMANDS


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

    def test_the_plan_before_and_after_planning_and_the_state_read_back(self):
        with self.assertRaisesRegex(MissionError, "no plan yet"):
            list(self.mission.steps())
        with self.assertRaisesRegex(MissionError, "a vehicle has no current position"):
            self.mission.positions()  # a fresh controller places no vehicle
        self.mission.place([0, 2, 4], [2, 4, 0])
        plan = self.mission.plan()
        self.assertEqual([placement for _, placement in self.mission.steps()], list(plan.steps))
        self.mission.end()  # MOVA_END_MISSION: the next plan is computed afresh
        self.assertEqual(self.mission.plan().steps, plan.steps)
        table = read_distances(self.client, [5, None, 3])
        self.assertEqual(table[0][3], 1)  # the one-way short cut
        # Vehicle 2 was not put back: vehicle 1's tour over every position took its place.
        self.assertEqual([self.client.get_current_pos(v) for v in (1, 2, 3)], [5, None, 3])
        self.mission.set_goal(1, 1)
        self.mission.set_goal(2, 1)  # the controller keeps vehicle 2's goal: 1 is vehicle 1's
        self.mission.set_goal(3, 2)
        self.assertEqual(self.mission.goals, (1, 4, 2))
        for _ in range(8):
            self.mission.add_road(RoadKind.ONE_WAY, 6, 7)
        with self.assertRaisesRegex(MissionError, "at most 15 roads"):
            self.mission.add_road(RoadKind.ONE_WAY, 6, 7)


# A stand-in controller that keeps the vehicles where they are set and plans one step, read
# from PLAN (the positions of vehicles 1 to 3 at steps 0 and 1); it never moves a vehicle.
FAKE = """\
import sys
PLAN = {plan!r}
QUERIES = {queries!r}
held = {{1: None, 2: None, 3: None}}
for line in sys.stdin:
    words = line.split()
    word = words[0] if words else ""
    if word == "INFORMATION_GET_WATERMARK":
        print("a stand-in controller", flush=True)
    elif word == "VEHICLE_SET_CURRENT_POS":
        held[int(words[1])] = int(words[2])
    elif word == "VEHICLE_GET_CURRENT_POS":
        print(f" {{held[int(words[1])]}}", flush=True)
    elif word == "MOVA_START_MISSION":
        print("TRUE", flush=True)
    elif word == "VEHICLE_MOVED_FORWARD":
        print("FALSE", flush=True)
    elif word == "MOVA_GET_NUM_STEPS":
        print(" 1", flush=True)
    elif word == "VEHICLE_GET_STEP_POS":
        print(f" {{PLAN[int(words[2])][int(words[1]) - 1]}}", flush=True)
    elif word in QUERIES:
        print(" 0", flush=True)
"""


class WrongControllerTest(unittest.TestCase):
    """A controller whose plan or moves do not hold together is caught, in words."""

    def mission(self, plan) -> Mission:
        folder = temporary_folder(self)
        queries = sorted(name for name, command in COMMANDS.items() if command.answers)
        client = MovaClient(write_script(folder, FAKE.format(plan=plan, queries=queries)), folder)
        self.addCleanup(client.kill)
        mission = Mission(client)
        mission.add_road(RoadKind.TWO_LANES, 0, 1)
        mission.build()
        mission.place([0, 5, 9], [1, 5, 9])
        return mission

    def test_plans_and_moves_that_do_not_hold_together(self):
        with self.assertRaisesRegex(PlanCheckError, r"step 0 of the plan is \(9, 5, 9\), the vehicles stand on"):
            self.mission([(9, 5, 9), (1, 5, 9)]).plan()
        with self.assertRaisesRegex(PlanCheckError, "the plan ends on \\(2, 5, 9\\), the goals are \\(1, 5, 9\\)"):
            self.mission([(0, 5, 9), (2, 5, 9)]).plan()
        mission = self.mission([(0, 5, 9), (1, 5, 9)])
        self.assertTrue(mission.plan().found)
        with self.assertRaisesRegex(MissionError, r"the vehicles went to \(0, 5, 9\), the plan said \(1, 5, 9\)"):
            mission.advance()


if __name__ == "__main__":
    unittest.main()
