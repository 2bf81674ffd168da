"""Plans: their moves and figures, their table and their one JSON shape."""

from __future__ import annotations

import unittest

import support  # noqa: F401  (puts the package on the path)

from mova_host.plans import Plan, moves_between, plan_figures, plan_json
from mova_host.roads import Road, RoadKind

ROADS = (Road(RoadKind.TWO_LANES, 0, 1), Road(RoadKind.ONE_LANE, 1, 2))


class PlanTableTest(unittest.TestCase):
    def test_table_lists_each_step_and_its_moves(self):
        plan = Plan(True, (Road(RoadKind.TWO_LANES, 0, 1),), (), (1, 5, 9), ((0, 5, 9), (1, 5, 9)))
        lines = plan.table().splitlines()
        self.assertEqual(len(lines), 4)
        self.assertIn("V1 0->1", lines[3])
        self.assertEqual(lines[2].split("|")[1].strip(), "0")


class PlanShapeTest(unittest.TestCase):
    def test_the_json_of_a_plan_found_and_of_none(self):
        found = Plan(True, ROADS, ((1, 2),), (1, 0, 9), ((0, 1, 9), (1, 0, 9)), history=((2, 1, 9),))
        self.assertEqual(plan_json(found), {"answer": True, "steps": 1, "plan": [[0, 1, 9], [1, 0, 9]],
                                            "obstacles": [[1, 2]], "history": [[2, 1, 9]]})
        none = Plan(False, ROADS, (), (2, 0, 9), ((0, 1, 9),))
        self.assertEqual(plan_json(none), {"answer": False, "steps": None, "plan": None, "obstacles": [],
                                           "history": []})
        self.assertEqual((found.title(), none.title()), ("Plan: 1 step (after 1 step made), 1 obstacle", "No plan found"))

    def test_figures_count_moves_and_waits(self):
        # V1 waits at step 1 before it moves at step 2, V2 at step 2 before it moves again at
        # step 3; V3 never moves and never waits.
        plan = [(0, 1, 9), (0, 2, 9), (1, 2, 9), (1, 3, 9)]
        self.assertEqual(plan_figures(plan), (3, 3, 2))
        self.assertEqual([str(m) for m in moves_between((0, 1, 9), (1, 0, 9))], ["V1 0->1", "V2 1->0"])


if __name__ == "__main__":
    unittest.main()
