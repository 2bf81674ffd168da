"""The input checks every value from outside goes through."""

from __future__ import annotations

import math
import unittest

import support  # noqa: F401  (puts the package on the path)

import os
import tempfile

from mova_host import checks
from mova_host.errors import InputError, JsonError, Problem


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
        # A whole number beyond every float is out of range, not an OverflowError.
        self.assertEqual(self.problem(checks.number, 10**400)[0], Problem.RANGE)
        self.assertEqual(self.problem(checks.number, -(10**5000))[0], Problem.RANGE)
        self.assertEqual(checks.coordinate(-1e6), -1e6)
        for value in (1e6 + 1, -1e308, 10**30):
            self.assertEqual(self.problem(checks.coordinate, value)[0], Problem.RANGE)

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
        # Too long to write out (Python refuses more than 4300 digits): shown by its length.
        self.assertEqual(checks.shown(10**5000), "a whole number of 5001 digits")
        self.assertEqual(checks.shown(-(10**400) + 1), "a whole number of 400 digits")
        self.assertEqual(checks.shown(math.nan), "NaN")
        self.assertTrue(checks.shown({1, 2}).startswith("<set object at 0x"))  # what JSON cannot write


class StrictJsonTest(unittest.TestCase):
    def refused(self, text: str | bytes, limit: int | None = None) -> str:
        with self.assertRaises(JsonError) as caught:
            checks.read_json(text, limit)
        return str(caught.exception)

    def test_nesting_is_bounded_with_its_place(self):
        deep = "[" * checks.MAX_DEPTH + "]" * checks.MAX_DEPTH
        self.assertEqual(len(str(checks.read_json(deep))), 2 * checks.MAX_DEPTH)
        self.assertEqual(self.refused('{"a": [\n  ' + "[" * 5000 + "]" * 5000 + "]}"),
                         "line 2, column 65: lists and objects nested more than 64 deep")
        # Brackets in texts do not count.
        self.assertEqual(checks.read_json('["' + "[" * 100 + '\\"' + "{" * 100 + '"]')[0][:3], "[[[")

    def test_hostile_numbers_are_refused_with_their_place(self):
        self.assertEqual(checks.read_json("[" + "9" * 40 + ", 1e308, -0.5]"), [int("9" * 40), 1e308, -0.5])
        cases = {
            '{"x": ' + "4" * 400 + "}": "line 1, column 7: the number 44444444444444444... has 400 characters",
            "[1,\n " + "1" * 41 + ".5]": "line 2, column 2: the number 11111111111111111... has 43 characters",
            '[1, "NaN", NaN]': "line 1, column 12: NaN is not a number JSON allows",
            "[-Infinity]": "line 1, column 2: -Infinity is not a number JSON allows",
            "[Infinity]": "line 1, column 2: Infinity is not a number JSON allows",
            '{"1e999": 1e999}': "line 1, column 11: the number 1e999 is too large",
            "[1, 2": "line 1, column 6: not valid JSON: Expecting ',' delimiter",
        }
        for text, words in cases.items():
            with self.subTest(text=text[:30]):
                self.assertTrue(self.refused(text).startswith(words), self.refused(text))

    def test_texts_are_whole_characters(self):
        self.assertEqual(checks.read_json('["\\ud83d\\ude00", "\\\\ud800"]'), ["\U0001f600", "\\ud800"])
        for text, column in (('["\\ud800"]', 3), ('["ab\\udc00"]', 5), ('["\\ud83d\\ud83d\\ude00"]', 3)):
            with self.subTest(text=text):
                self.assertIn(f"column {column}: ", self.refused(text))
                self.assertIn("lone surrogate", self.refused(text))
        self.assertIn("lone surrogate", self.refused('["\ud800"]'))  # a Python text that holds one
        self.assertEqual(self.refused(b'["\xff"]'), "byte 2: not UTF-8 text")

    def test_sizes_are_bounded(self):
        self.assertEqual(self.refused(b"[" + b"1," * 600 + b"1]", 1024), "larger than 1 KiB (1,203 bytes)")
        self.assertEqual(self.refused("[" + "1," * 600 + "1]", 1024), "larger than 1 KiB (1,203 characters)")
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "big.json")
            with open(path, "w") as handle:
                handle.write('{"a": "' + "x" * checks.MAX_FILE_BYTES + '"}')
            with self.assertRaisesRegex(JsonError, "^larger than 1 MiB$"):
                checks.load_json_file(path)
            with self.assertRaisesRegex(JsonError, "^no such file$"):
                checks.load_json_file(path + ".none")
            with self.assertRaisesRegex(JsonError, "^cannot be read \\(Is a directory\\)$"):
                checks.load_json_file(folder)

    def test_plain_json_values(self):
        value = {"a": [1, 2.5, None, True, "x", {"b": []}]}
        self.assertIs(checks.json_value(value), value)
        deep: list = []
        for _ in range(70):
            deep = [deep]
        for bad, problem in ((math.nan, Problem.TYPE), ({1: 2}, Problem.TYPE), (10**50, Problem.RANGE),
                             ({"a": "\ud800"}, Problem.TYPE), ([{1, 2}], Problem.TYPE), (deep, Problem.RANGE)):
            with self.subTest(bad=str(bad)[:20]), self.assertRaises(InputError) as caught:
                checks.json_value(bad)
            self.assertEqual(caught.exception.problem, problem)


if __name__ == "__main__":
    unittest.main()
