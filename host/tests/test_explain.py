from __future__ import annotations

import io
import json
import tempfile
import unittest

from support import LIBRARY, binary

from mova_host import Road, RoadKind
from mova_host.cli import main
from mova_host.explain import explain, plan_figures
from mova_host.scenario import load_scenario

W, L, T = RoadKind.ONE_WAY, RoadKind.ONE_LANE, RoadKind.TWO_LANES
LINE = [Road(T, 0, 1), Road(T, 1, 2), Road(T, 2, 3), Road(T, 3, 0)]  # a ring of two-lane roads
RECORD = "2024-03-01 16:03:07 : DAEMON : {} : {}  "


class LibraryTest(unittest.TestCase):
    """Every scenario of the library, explained on the real controller, gives the outcome its
    file expects."""

    def test_each_scenario_as_expected(self):
        files = sorted(LIBRARY.glob("*.json"))
        categories = set()
        for path in files:
            expect = load_scenario(path).expect
            with self.subTest(path.name), tempfile.TemporaryDirectory() as folder:
                out = io.StringIO()
                status = main(["explain", str(path), "--json", "--binary", str(binary()), "--workdir", folder], out)
                got = json.loads(out.getvalue())
                self.assertEqual(status, 0 if expect["answer"] else 1)
                for key in ("answer", "steps", "optimal_steps", "category"):
                    self.assertEqual(got[key], expect[key], key)
                self.assertIn(expect.get("reason", ""), got["reason"])
                self.assertEqual(got["plan_exists"], got["optimal_steps"] is not None)
                if got["answer"]:
                    self.assertEqual(got["plan"][0], [v["start"] for v in sorted(
                        json.loads(path.read_text())["vehicles"], key=lambda v: v["vehicle"])])
                categories.add(got["category"])
        self.assertEqual(categories, {"plan", "missed", "unreachable", "obstacles", "blocked"})


class ExplanationTest(unittest.TestCase):
    def test_a_true_answer_beside_the_optima(self):
        slow = [(0, 2, 9), (1, 2, 9), (1, 3, 9), (2, 3, 9)]  # vehicles 1 and 2 wait a step each
        words = explain(LINE, (0, 2, 9), (2, 3, 9), answer=True, controller_plan=slow)
        self.assertEqual(words.category, "plan")
        self.assertEqual((words.steps, words.moves, words.waits), (3, 3, 2))
        self.assertEqual((words.optimal_steps, words.optimal_moves), (2, 3))
        self.assertIn("1 step more than needed", words.reason)
        self.assertEqual(words.causes, ["longer"])
        illegal = explain(LINE, (0, 2, 9), (2, 3, 9), answer=True, controller_plan=[(0, 2, 9), (2, 3, 9)])
        self.assertIn("breaks the step rules", illegal.reason)
        wrong = explain(LINE, (0, 2, 9), (2, 3, 3), answer=True, controller_plan=[(0, 2, 9), (2, 3, 3)])
        self.assertEqual(wrong.causes, ["wrong-answer"])

    def test_why_no_plan_exists(self):
        cases = [
            ([Road(T, 0, 1)], (0, 5, 6), (7, 5, 6), (), "no road reaches position 7."),
            ([Road(T, 0, 1)], (7, 5, 6), (0, 5, 6), (), "no road leaves position 7."),
            ([Road(W, 1, 0), Road(T, 2, 3)], (0, 5, 6), (2, 5, 6), (), "every road at 0 leads into it, none out of it."),
            ([Road(T, 0, 1), Road(W, 2, 3)], (0, 5, 6), (2, 5, 6), (), "every road at 2 leads out of it, none into it."),
            ([Road(T, 0, 1), Road(W, 2, 1), Road(T, 3, 4)], (0, 5, 6), (4, 5, 6), (),
             "from 0 it can reach only 0, 1, and no road leads from there towards 4 (the one-way road from 2 to 1 "
             "leads only into that part)."),
            ([Road(T, 0, 1), Road(W, 2, 1), Road(W, 7, 0), Road(T, 3, 4)], (0, 5, 6), (4, 5, 6), (),
             "(the one-way road from 2 to 1 and the one-way road from 7 to 0 lead only into that part)."),
            ([Road(L, 0, 1), Road(L, 1, 2), Road(T, 1, 4)], (0, 2, 9), (2, 0, 9), [(1, 4)],
             "Each vehicle alone could still reach its goal past the blocked roads (1-4), but not all together. "
             "Vehicles 1 and 2 meet head-on on the one-lane roads 0-1-2"),
            ([Road(L, 0, 1), Road(L, 1, 2), Road(L, 2, 3), Road(T, 5, 6)], (0, 3, 9), (3, 0, 9), [(5, 6)],
             "No plan exists. Vehicles 1 and 2 meet head-on on the one-lane roads 0-1-2-3"),
            ([Road(L, 0, 1), Road(L, 1, 2), Road(L, 1, 3)], (0, 2, 3), (2, 3, 0), (),
             "Any two of the vehicles could get past each other, but not all three: their ways use positions "
             "0, 1, 2, 3, and there is no room for all of them to give way."),
        ]
        for roads, starts, goals, obstacles, words in cases:
            with self.subTest(words=words[:40]):
                result = explain(roads, starts, goals, obstacles, answer=False, controller_plan=None)
                self.assertIn(words, result.reason)
                self.assertFalse(result.plan_exists)

    def test_a_true_answer_without_a_plan_or_with_more_moves(self):
        unreadable = explain(LINE, (0, 5, 6), (1, 5, 6), answer=True, controller_plan=None)
        self.assertEqual(unreadable.causes, ["unreadable"])
        roads = [*LINE, Road(T, 5, 6)]
        roundabout = explain(roads, (0, 5, 9), (2, 5, 9), answer=True, controller_plan=[(0, 5, 9), (1, 6, 9), (2, 5, 9)])
        self.assertEqual(roundabout.causes, ["more-moves"])
        self.assertIn("It takes 2 vehicle moves more than needed.", roundabout.reason)

    def test_waits(self):
        self.assertEqual(plan_figures([(0, 1, 2), (0, 1, 3), (4, 1, 3), (4, 5, 3)]), (3, 3, 3))
        self.assertEqual(plan_figures([(0, 1, 2)]), (0, 0, 0))

    def test_causes_of_a_miss(self):
        ring = (0, 1, 2)
        def miss(**given):
            return explain(LINE, ring, (1, 2, 3), answer=False, controller_plan=None, **given)
        self.assertEqual(miss(log_records=[RECORD.format("ERROR", "Timeout")], timeout_ms=5).causes, ["time-limit"])
        self.assertIn("time limit of 5 ms", miss(log_records=[RECORD.format("ERROR", "Timeout")], timeout_ms=5).reason)
        self.assertEqual(miss(log_records=[RECORD.format("ERROR", "Out of memory")]).causes, ["memory-limit"])
        self.assertEqual(miss(log_records=[RECORD.format("INFORMATIONAL", "Timeout set to  5 ms")]).causes, ["unknown"])
        self.assertEqual(miss(evaluations=30000).causes, ["evaluation-cap"])
        table = [[0] * 12 for _ in range(12)]
        table[1][1] = 32767  # as if position 1 lay on no cycle of roads
        lonely = miss(distances=table)
        self.assertEqual(lonely.causes, ["no-cycle"])
        self.assertIn("Vehicle 2 stands on position 1, which lies on no cycle of roads", lonely.reason)
        self.assertEqual(lonely.category, "missed")
        self.assertEqual((lonely.optimal_steps, lonely.steps), (1, None))
        table[1][1], table[1][0] = 0, 32767  # no road back from 1 to vehicle 1's start
        self.assertEqual(miss(distances=table).causes, ["wrap"])

    def test_no_plan_categories(self):
        ring = [Road(T, 0, 1), Road(T, 1, 2), Road(T, 2, 0), Road(W, 3, 2)]
        unreachable = explain(ring, (0, 1, 2), (3, 0, 1), answer=False, controller_plan=None)
        self.assertEqual(unreachable.category, "unreachable")
        self.assertIn("Vehicle 1 cannot reach its goal 3 from its start 0", unreachable.reason)
        self.assertIn("the one-way road from 3 to 2 leads the wrong way", unreachable.reason)
        cut = explain(LINE, (0, 2, 9), (1, 2, 9), [(0, 1), (3, 0)], answer=False, controller_plan=None)
        self.assertEqual(cut.category, "obstacles")
        self.assertIn("Every way of vehicle 1 from 0 to its goal 1 runs over a blocked road (0-1 and 3-0)", cut.reason)
        self.assertIn("Without the obstacles a plan of 1 step exists", cut.reason)
        self.assertEqual(cut.to_json()["cut"], [{"vehicle": 1, "start": 0, "goal": 1, "roads": [[0, 1], [3, 0]]}])
        one_lane = [Road(L, 0, 1), Road(L, 1, 2), Road(L, 2, 3)]
        squeezed = explain(one_lane + [Road(T, 1, 5)], (0, 1, 9), (2, 1, 9), [(1, 5)], answer=False,
                           controller_plan=None)
        self.assertEqual(squeezed.category, "obstacles")  # vehicle 2 could step aside without it
        self.assertIn("Vehicle 2 stays on position 1, which lies on every way of vehicle 1", squeezed.reason)
        self.assertEqual(squeezed.cut, [])  # no vehicle is cut off: they only cannot pass
        head_on = explain(one_lane, (0, 3, 9), (3, 0, 9), answer=False, controller_plan=None)
        self.assertEqual((head_on.category, head_on.causes), ("blocked", ["head-on"]))
        self.assertIn("head-on on the one-lane roads 0-1-2-3", head_on.reason)
        shared = explain(LINE, (0, 1, 9), (2, 2, 9), answer=False, controller_plan=None, names={2: "dock"})
        self.assertEqual((shared.category, shared.causes), ("blocked", ["shared-goal"]))
        self.assertIn("share the goal 2 (dock)", shared.reason)

    def test_json_fields(self):
        data = explain(LINE, (0, 2, 9), (2, 3, 9), answer=False, controller_plan=None).to_json()
        for key in ("answer", "plan_exists", "optimal_steps", "optimal_moves", "steps", "moves", "category", "reason"):
            self.assertIn(key, data)
        self.assertIs(data["answer"], False)
        self.assertIsNone(data["steps"])
        self.assertEqual(data["cut"], [])
        json.dumps(data)


if __name__ == "__main__":
    unittest.main()
