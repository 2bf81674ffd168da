from __future__ import annotations

import io
import os
import tempfile
import unittest
import unittest.mock
import xml.etree.ElementTree as ET

from support import binary

from mova_host.cli import main


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.common = ["--binary", str(binary()), "--workdir", self.folder.name]

    def file(self, name: str, text: str) -> str:
        path = os.path.join(self.folder.name, name)
        with open(path, "w") as handle:
            handle.write(text)
        return path

    def test_run_prints_each_command_beside_its_answer(self):
        stream = self.file("stream.txt", "\n".join([
            "# a comment is not sent",
            "MOVA_GENERATION",
            "VEHICLE_SET_CURRENT_POS 1 5",
            "VEHICLE_GET_CURRENT_POS 1",
            "VEHICLE_GET_STEP_POS 1 0",
            "VEHICLE_SET_CURRENT_POS 1 13",
        ]) + "\n")
        out = io.StringIO()
        self.assertEqual(main(["run", stream, *self.common], out), 0)
        rows = [line.split(" | ") for line in out.getvalue().splitlines()]
        self.assertEqual([r[0].strip() for r in rows][0], "MOVA_GENERATION")
        self.assertEqual(len(rows), 5)
        self.assertEqual(rows[0][1], "2024")
        self.assertEqual(len(rows[1]), 1)  # no answer
        self.assertEqual(rows[2][1], " 5")
        self.assertEqual(rows[3][1], "dropped")
        self.assertTrue(rows[4][1].startswith("dropped (position 13"))

    def test_plan_with_flags_prints_the_table_and_writes_pictures(self):
        picture = os.path.join(self.folder.name, "out", "plan.svg")
        frames = os.path.join(self.folder.name, "frames")
        out = io.StringIO()
        code = main(["plan", "--road", "two-lanes", "0", "1", "--road", "one-lane", "1", "2",
                     "--road", "two-lanes", "2", "3", "--road", "two-lanes", "3", "0",
                     "--start", "0", "2", "5", "--goal", "2", "0", "5", "--obstacle", "1", "2",
                     "--svg", picture, "--frames", frames, "--trace", *self.common], out)
        self.assertEqual(code, 0)
        text = out.getvalue()
        self.assertIn("MOVA_START_MISSION", text)
        self.assertIn("OBSTACLES_CONFIRM", text)
        self.assertIn("Plan 2:", text)
        for name in (picture, picture.replace("plan.svg", "plan-2.svg")):
            root = ET.parse(name).getroot()
            self.assertEqual(len(root.findall(".//{http://www.w3.org/2000/svg}path[@class='path']")), 3)
        self.assertTrue(any(name.startswith("plan2-step") for name in os.listdir(frames)))

    def test_errors_give_a_status(self):
        bad = self.file("bad.txt", "ENVIRONMENT_BUILD\n")
        err = io.StringIO()
        with unittest.mock.patch("sys.stderr", err):
            self.assertEqual(main(["plan", bad, *self.common], io.StringIO()), 2)
        self.assertIn("no roads", err.getvalue())


if __name__ == "__main__":
    unittest.main()
