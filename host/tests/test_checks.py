"""The input checks every value from outside goes through."""

from __future__ import annotations

import math
import unittest

import support  # noqa: F401  (puts the package on the path)

from mova_host import checks
from mova_host.errors import InputError, Problem


class ChecksTest(unittest.TestCase):
    def problem(self, check, *args) -> tuple[Problem, object, object]:
        with self.assertRaises(InputError) as caught:
            check(*args)
        return caught.exception.problem, caught.exception.low, caught.exception.high

    def test_whole_numbers_within_their_bounds(self):
        self.assertEqual(checks.whole(0, 0, 11), 0)
        self.assertEqual(checks.whole(11, 0, 11), 11)
        for value in (True, 1.0, "1", None, [1]):
            with self.subTest(value=value):
                self.assertEqual(self.problem(checks.whole, value, 0, 11), (Problem.TYPE, 0, 11))
        self.assertEqual(self.problem(checks.whole, 12, 0, 11), (Problem.RANGE, 0, 11))
        self.assertEqual(self.problem(checks.position, -1)[0], Problem.RANGE)
        self.assertEqual(self.problem(checks.whole, 2**31)[0], Problem.RANGE)  # 32 bits by default

    def test_numbers_are_finite(self):
        self.assertEqual(checks.number(3), 3.0)
        for value in (math.nan, math.inf, -math.inf, False, "2"):
            with self.subTest(value=value):
                self.assertEqual(self.problem(checks.number, value)[0], Problem.TYPE)
        self.assertEqual(self.problem(checks.number, 900.5, 30, 870), (Problem.RANGE, 30, 870))

    def test_texts_words_and_lines(self):
        self.assertEqual(checks.line_text("  dock\tA\n", 40), "dock A")
        self.assertIsNone(checks.line_text(" \n ", 40))
        self.assertIsNone(checks.line_text(None, 40))
        self.assertEqual(self.problem(checks.line_text, "x" * 41, 40), (Problem.LENGTH, 0, 40))
        self.assertEqual(self.problem(checks.text, 7)[0], Problem.TYPE)
        self.assertEqual(checks.choice("one-way", ("one-way", "one-lane")), "one-way")
        self.assertEqual(self.problem(checks.choice, ["one-way"], ("one-way",))[0], Problem.CHOICE)

    def test_values_are_shown_as_json_writes_them(self):
        self.assertEqual([checks.shown(v) for v in (True, None, "a", 2.5, [1], {"a": 1})],
                         ["true", "null", '"a"', "2.5", "a list", "an object"])
        self.assertEqual(checks.shown("x" * 100), '"' + "x" * 36 + "...")


if __name__ == "__main__":
    unittest.main()
