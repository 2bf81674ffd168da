from __future__ import annotations

import random
import unittest
from itertools import permutations

from support import ClientCase

from mova_host import Road, RoadKind
from mova_host.exact import Network, check_plan, controller_plan_fault, distance_table, legal_step, moved, solve
from mova_host.runner import ScenarioRunner
from mova_host.scenario import Scenario

W, L, T = RoadKind.ONE_WAY, RoadKind.ONE_LANE, RoadKind.TWO_LANES


def roads(*items: tuple[RoadKind, int, int]) -> list[Road]:
    return [Road(kind, a, b) for kind, a, b in items]


def random_roads(rng: random.Random) -> list[Road]:
    out = []
    for _ in range(rng.randint(2, 15)):
        a = rng.randrange(12)
        b = a if rng.randrange(12) == 0 else (a + rng.randint(1, 11)) % 12  # now and then a loop
        out.append(Road(rng.choice(list(RoadKind)), a, b))
    return out


# Missions whose answer hangs on one step rule; each was confirmed on the controller
# (StepRulesOnTheControllerTest repeats that). Fewest steps, None without a plan.
RULES = {
    "swap on a two-lane road": (roads((T, 0, 1), (T, 8, 9)), (0, 1, 8), (1, 0, 8), 1),
    "no swap on a one-lane road": (roads((L, 0, 1), (T, 8, 9)), (0, 1, 8), (1, 0, 8), None),
    "swap over two one-way roads": (roads((W, 0, 1), (W, 1, 0), (T, 8, 9)), (0, 1, 8), (1, 0, 8), 1),
    "swap over a one-lane and a one-way road": (roads((L, 0, 1), (W, 1, 0), (T, 8, 9)), (0, 1, 8), (1, 0, 8), 1),
    "swap over two one-lane roads": (roads((L, 0, 1), (L, 0, 1), (T, 8, 9)), (0, 1, 8), (1, 0, 8), 1),
    "all three turn round a one-way triangle": (roads((W, 0, 1), (W, 1, 2), (W, 2, 0)), (0, 1, 2), (1, 2, 0), 1),
    "all three turn round a one-lane triangle": (roads((L, 0, 1), (L, 1, 2), (L, 2, 0)), (0, 1, 2), (1, 2, 0), 1),
    "following into a position being left": (roads((W, 0, 1), (W, 1, 2), (W, 2, 3), (T, 8, 9)), (0, 1, 8), (2, 3, 8), 2),
    "a blocked road in neither direction": (roads((T, 0, 1), (T, 1, 2), (T, 8, 9)), (0, 2, 8), (1, 2, 8), None),
}
RULE_OBSTACLES = {"a blocked road in neither direction": [(1, 0)]}


class StepRulesTest(unittest.TestCase):
    def test_each_rule_decides_its_mission(self):
        for name, (network, start, goal, steps) in RULES.items():
            with self.subTest(name):
                result = solve(network, start, goal, RULE_OBSTACLES.get(name, ()))
                self.assertEqual(result.optimal_steps, steps)
                self.assertEqual(result.plan_exists, steps is not None)

    def test_single_steps(self):
        ring = roads((L, 0, 1), (W, 1, 2), (T, 2, 3), (T, 3, 0))
        cases = [
            ((0, 1, 5), (1, 2, 5), True),  # following
            ((0, 1, 5), (1, 0, 5), False),  # passing on one lane
            ((2, 3, 5), (3, 2, 5), True),  # passing on two lanes
            ((1, 2, 5), (2, 1, 5), False),  # a one-way road backwards
            ((0, 1, 5), (1, 1, 5), False),  # onto a position whose vehicle stays
            ((0, 3, 5), (1, 2, 5), True),  # two vehicles, two roads
            ((0, 3, 5), (0, 3, 5), False),  # nobody moves
            ((0, 3, 5), (2, 3, 5), False),  # no road from 0 to 2
        ]
        for before, after, legal in cases:
            with self.subTest(before=before, after=after):
                self.assertEqual(legal_step(ring, (), before, after), legal)
        self.assertFalse(legal_step(ring, [(3, 2)], (2, 3, 5), (3, 2, 5)))

    def test_successors_are_exactly_the_legal_steps(self):
        # The search expands placements one way and checks steps another: both must agree.
        rng = random.Random(7)
        placements = list(permutations(range(12), 3))
        for _ in range(15):
            network, blocked = random_roads(rng), [tuple(rng.sample(range(12), 2)) for _ in range(rng.randint(0, 2))]
            net = Network(network, blocked)
            for before in rng.sample(placements, 30):
                listed = set(net.successors(before))
                legal = {after for after in placements if net.legal(before, after)}
                self.assertEqual(listed, legal, f"{network} {blocked} from {before}")


class OptimaTest(unittest.TestCase):
    def test_fewest_steps_and_fewest_moves(self):
        loops = roads(*[(W, b + i, b + (i + 1) % 4) for b in (0, 4, 8) for i in range(4)],
                      (L, 2, 5), (W, 3, 4), (W, 7, 8))
        result = solve(loops, (0, 1, 2), (8, 9, 10))
        self.assertEqual((result.optimal_steps, result.optimal_moves), (6, 18))
        self.assertIsNone(check_plan(loops, (), result.plan, (0, 1, 2), (8, 9, 10)))
        self.assertIsNone(check_plan(loops, (), result.moves_plan, (0, 1, 2), (8, 9, 10)))
        self.assertEqual(sum(moved(a, b) for a, b in zip(result.moves_plan, result.moves_plan[1:])), 18)

    def test_fewest_moves_may_take_more_steps(self):
        # Vehicle 1 goes from 0 to 3: through 2, where vehicle 2 must step aside to 5 and come
        # back (3 steps, 5 moves), or round by 6 and 7 while vehicle 2 stays (4 steps, 4 moves).
        network = roads((T, 0, 1), (T, 1, 2), (T, 2, 3), (T, 2, 5), (T, 1, 6), (T, 6, 7), (T, 7, 3), (T, 9, 10))
        result = solve(network, (0, 2, 9), (3, 2, 9))
        self.assertEqual((result.optimal_steps, result.optimal_moves), (3, 4))
        self.assertEqual(len(result.moves_plan) - 1, 4)
        self.assertEqual(sum(moved(a, b) for a, b in zip(result.plan, result.plan[1:])), 5)

    def test_no_plan(self):
        line = roads((L, 0, 1), (L, 1, 2), (L, 2, 3))
        self.assertFalse(solve(line, (0, 1, 2), (3, 2, 1)).plan_exists)  # one lane keeps the order
        self.assertFalse(solve(line, (0, 1, 2), (3, 3, 1)).plan_exists)  # a shared goal
        self.assertEqual(solve(line, (0, 1, 2), (0, 1, 2)).optimal_steps, 0)
        self.assertEqual(solve(line, (0, 2), (1, 3)).optimal_steps, 1)  # two vehicles

    def test_check_plan_names_the_fault(self):
        line = roads((T, 0, 1), (T, 1, 2))
        self.assertIsNone(check_plan(line, (), [(0, 5, 9), (1, 5, 9), (2, 5, 9)], (0, 5, 9), (2, 5, 9)))
        self.assertIn("step 1", check_plan(line, (), [(0, 5, 9), (2, 5, 9)]))
        self.assertIn("ends on", check_plan(line, (), [(0, 5, 9), (1, 5, 9)], goal=(2, 5, 9)))
        self.assertIn("step 2", check_plan(line, [(1, 2)], [(0, 5, 9), (1, 5, 9), (2, 5, 9)]))
        self.assertEqual(check_plan(line, (), []), "the plan is empty")
        self.assertEqual(check_plan(line, (), [(1, 5, 9)], start=(0, 5, 9)), "the plan starts on (1, 5, 9), not on (0, 5, 9)")

    def test_a_plan_read_from_the_controller_is_held_to_the_rules(self):
        line = roads((L, 0, 1), (L, 1, 2), (T, 2, 3))
        cases = [
            ([(0, 2, 9), (1, 2, 9)], "the plan ends on (1, 2, 9), the goals are (1, 3, 9)"),
            ([(0, 2, 9), (1, 1, 9), (1, 3, 9)], "step 1 puts two vehicles on one position: (1, 1, 9)"),
            ([(0, 2, 9), (0, 2, 8), (1, 3, 9)], "step 1: vehicle 3 moves 9->8 where no road leads"),
            ([(0, 2, 9), (0, 3, 9), (1, 3, 9)], "step 2: vehicle 1 moves 0->1 over an obstacle"),
            ([(0, 2, 9), (0, 2, 9), (1, 3, 9)], "step 1 from (0, 2, 9) to (0, 2, 9) breaks the step rules"),
            ([(0, 2, 9), (1, 3, 9)], None),
        ]
        for steps, fault in cases:
            with self.subTest(fault=fault):
                found = controller_plan_fault(line, [(1, 0)] if "obstacle" in str(fault) else [], (1, 3, 9), steps)
                self.assertEqual(found if fault is None else (found or "")[:len(fault)], fault)
        with self.assertRaisesRegex(ValueError, "starts and goals must name the same vehicles"):
            solve(line, (0, 1), (1, 2, 3))
        with self.assertRaisesRegex(ValueError, r"goals \(1, 12\) holds a position outside 0 to 11"):
            solve(line, (0, 1), (1, 12))


class StepRulesOnTheControllerTest(ClientCase):
    """The rules above, and the distance table, against the real controller."""

    def test_the_controller_agrees_with_each_rule(self):
        session = ScenarioRunner(self.new_client())
        for name, (network, start, goal, steps) in RULES.items():
            with self.subTest(name):
                run = session.run(Scenario(network, start, goal, RULE_OBSTACLES.get(name, [])))
                self.assertEqual(run.answer, steps is not None)
                if steps is not None:
                    self.assertEqual(run.steps, steps)

    def test_distance_table_as_the_controller_reads_it(self):
        rng = random.Random(3)
        session = ScenarioRunner(self.new_client())
        for _ in range(3):
            network = random_roads(rng)
            start = tuple(rng.sample(range(12), 3))
            run = session.run(Scenario(network, start, start, []), read_distances=True)
            self.assertEqual(run.distances, distance_table(network))
            positions = [session.client.get_current_pos(v) for v in (1, 2, 3)]
            self.assertEqual(tuple(positions), start)  # put back after reading


if __name__ == "__main__":
    unittest.main()
