"""The controller's log records, and reading what a log gained since the last look."""

from __future__ import annotations

import os
import unittest
from pathlib import Path

from support import temporary_folder

from mova_host.logrecords import LogTail, computation_records, record_parts


def record(message: str, severity: str = "INFORMATIONAL") -> str:
    return f"2024-03-01 16:03:07 : DAEMON : {severity} : {message}  "


class LogTailTest(unittest.TestCase):
    def test_whole_lines_only_and_each_once(self):
        path = Path(temporary_folder(self)) / "mova.log"
        tail = LogTail(path)
        self.assertEqual(tail.new_records(), [])  # no log yet
        two = record("two")
        with open(path, "ab") as log:
            log.write(f"{record('one')}\n{two[:30]}".encode())  # the second line still being written
            log.flush()
            self.assertEqual(tail.new_records(), [record("one")])
            log.write(f"{two[30:]}\r\n{record('three')}\n".encode())
        self.assertEqual(tail.new_records(), [record("two"), record("three")])
        self.assertEqual(tail.new_records(), [])
        self.assertEqual(LogTail(path, from_end=True).new_records(), [])

    def test_all_new_records_beyond_one_look(self):
        path = Path(temporary_folder(self)) / "mova.log"
        lines = [record(f"record {k:07d}") for k in range(40000)]  # about 2 MB
        path.write_text("".join(line + "\n" for line in lines))
        self.assertGreater(os.path.getsize(path), 2 * (1 << 20) - 1)
        tail = LogTail(path)
        self.assertLess(len(tail.new_records()), len(lines))  # one look reads a megabyte
        self.assertEqual(LogTail(path).all_new_records(), lines)


class RecordsTest(unittest.TestCase):
    def test_the_records_of_the_last_computation(self):
        records = [record("Start mission"), record("Solution computed FALSE"), record("Goal set"),
                   record("Obstacles confirmed"), record("Timeout", "ERROR"), record("Solution recomputed TRUE"),
                   record("Evaluations requested ( 3 )")]
        self.assertEqual(computation_records(records), records[3:6])
        self.assertEqual(computation_records(records[1:3]), [])
        self.assertEqual(record_parts(records[4]), ("ERROR", "Timeout"))
        self.assertEqual(record_parts("  not a record "), ("", "not a record"))


if __name__ == "__main__":
    unittest.main()
