"""What `check` finds doubtful in a scenario that reads correctly."""

from __future__ import annotations

import copy
import unittest

from support import BASE, LIBRARY, changed

from mova_host.scenario import load_scenario, parse_scenario, scenario_to_json
from mova_host.scenario_check import check_scenario


class CheckTest(unittest.TestCase):
    def test_doubtful_points_name_the_field(self):
        data = copy.deepcopy(BASE)
        data["roads"].append({"kind": "two-lanes", "from": 1, "to": 0})  # the same road again
        data["positions"].append({"position": 7})
        data["vehicles"][2]["goal"] = 2  # vehicle 2 shares vehicle 1's goal
        data["obstacles"].append({"from": 4, "to": 6})
        found = [str(f) for f in check_scenario(parse_scenario(data))]
        for expected in [
            "roads[2]: repeats roads[0]",
            "positions[1]: position 7 has no road",
            "vehicles[1].start: position 5 of vehicle 3 has no road to another position",
            "vehicles[1].start: vehicle 3 stays on position 5, which lies on no cycle of roads",
            "vehicles[2].goal: position 2 is also the goal of vehicle 1",
            "obstacles[1]: no road joins 4 and 6",
            "vehicles[0].goal: vehicle 1 cannot reach its goal 2 from its start 0 (dock) past the obstacles",
        ]:
            self.assertTrue(any(f.startswith(expected) for f in found), f"{expected!r} not in {found}")
        one_way = changed("roads[1]", {"kind": "one-way", "from": 2, "to": 1})
        found = [str(f) for f in check_scenario(parse_scenario(one_way))]
        self.assertIn("vehicles[0].goal: vehicle 1 cannot reach its goal 2 from its start 0 (dock) on the roads", found)
        beside = changed("roads[1]", {"kind": "one-lane", "from": 1, "to": 0})
        self.assertIn("roads[1]: adds nothing to the two-lane road roads[0] between 1 and 0",
                      [str(f) for f in check_scenario(parse_scenario(beside))])

    def test_unknown_fields_and_roads_to_themselves(self):
        data = changed("note", "kept as it is")
        data["expect"] = {"answer": True, "cause": "a key of the tests' own"}
        data["roads"].append({"kind": "one-way", "from": 5, "to": 5})
        s = parse_scenario(data)
        self.assertEqual(scenario_to_json(s)["note"], "kept as it is")
        self.assertEqual(parse_scenario(scenario_to_json(s)), s)
        found = [str(f) for f in check_scenario(s)]
        self.assertIn("note: unknown field, ignored", found)
        self.assertTrue(any(f.startswith("roads[2]: leads from 5 to itself") for f in found), found)
        # A road to itself closes a cycle: vehicle 3 staying on 5 no longer worries the check.
        self.assertFalse(any("stays on position 5" in f for f in found), found)

    def test_library_scenarios_that_can_plan_have_nothing_doubtful(self):
        for name in ("passing-two-lanes", "siding", "one-way-loops", "rotation", "swap-two-roads"):
            with self.subTest(name):
                self.assertEqual(check_scenario(load_scenario(LIBRARY / f"{name}.json")), [])


if __name__ == "__main__":
    unittest.main()
