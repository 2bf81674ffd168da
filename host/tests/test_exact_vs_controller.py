"""The exact search against the real controller on random missions.

Every plan the controller returns must be made of legal steps of the exact search, run from the
starts to the goals and be no shorter than the optimum; whenever the exact search finds no plan
the controller must answer FALSE. One controller process plans all missions, one after the
other (MOVA_END_MISSION between them). The figures (how often a plan is missed, how far plans are
from the optima) are printed; the host's README quotes them.
"""

from __future__ import annotations

import os
import random
import sys
import time
import unittest
from collections import Counter

from support import binary, random_scenario, temporary_folder

from mova_host import MovaClient, Timeouts
from mova_host.exact import check_plan, solve
from mova_host.explain import explain
from mova_host.plans import plan_figures
from mova_host.runner import ScenarioRunner

MISSIONS = int(os.environ.get("MOVA_RANDOM_MISSIONS", "1000"))
SEED = 20240611


class RandomMissionTest(unittest.TestCase):
    def test_controller_plans_against_the_exact_search(self):
        rng = random.Random(SEED)
        client = MovaClient(binary(), temporary_folder(self, "mova-random-"), timeouts=Timeouts(answer=10.0))
        self.addCleanup(client.kill)
        session = ScenarioRunner(client)
        tally: Counter[str] = Counter()
        extra_steps: Counter[int] = Counter()
        ratios: list[float] = []
        began = time.monotonic()
        for n in range(MISSIONS):
            s = random_scenario(rng)
            run = session.run(s)
            exact = solve(s.roads, s.starts, s.goals, s.obstacles)
            where = f"mission {n}: {s.roads} {s.starts}->{s.goals} obstacles {s.obstacles}"
            tally["exists" if exact.plan_exists else "none"] += 1
            if not exact.plan_exists:
                self.assertFalse(run.answer, f"{where}: TRUE although no plan exists")
                continue
            if not run.answer:
                tally["missed"] += 1
                # The explanation names a cause for every miss it can recognise.
                words = explain(s.roads, s.starts, s.goals, s.obstacles, answer=False, controller_plan=None,
                                evaluations=run.evaluations)
                self.assertEqual(words.category, "missed")
                tally["missed: " + ", ".join(words.causes)] += 1
                continue
            self.assertIsNone(check_plan(s.roads, s.obstacles, run.plan, s.starts, s.goals), where)
            steps, moves, _ = plan_figures(run.plan)
            self.assertGreaterEqual(steps, exact.optimal_steps, where)
            self.assertGreaterEqual(moves, exact.optimal_moves, where)
            tally["planned"] += 1
            tally["fewest steps"] += steps == exact.optimal_steps
            tally["fewest moves"] += moves == exact.optimal_moves
            extra_steps[steps - exact.optimal_steps] += 1
            if exact.optimal_steps:
                ratios.append(steps / exact.optimal_steps)
        seconds = time.monotonic() - began
        exists = tally["exists"]
        print(f"\n[random] {MISSIONS} missions in {seconds:.1f} s: a plan exists for {exists}, none for "
              f"{tally['none']} (all answered FALSE); the controller found {tally['planned']} and missed "
              f"{tally['missed']} ({100 * tally['missed'] / max(exists, 1):.1f} %)", file=sys.stderr)
        print(f"[random] of its plans: fewest steps {tally['fewest steps']}, fewest moves "
              f"{tally['fewest moves']}; steps above the optimum {dict(sorted(extra_steps.items()))}; "
              f"mean ratio to the fewest steps {sum(ratios) / max(len(ratios), 1):.3f}, worst "
              f"{max(ratios, default=1.0):.2f}", file=sys.stderr)
        print("[random] causes of the misses: " + "; ".join(
            f"{k[8:]} {v}" for k, v in sorted(tally.items()) if k.startswith("missed: ")), file=sys.stderr)
        self.assertGreater(tally["planned"], MISSIONS // 4)  # the comparison did compare plans


if __name__ == "__main__":
    unittest.main()
