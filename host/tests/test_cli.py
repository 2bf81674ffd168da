"""The command line: each action, its output (text and JSON), its pictures and exit statuses."""

from __future__ import annotations

import argparse
import io
import json
import os
import socket
import subprocess
import sys
import unittest
import unittest.mock
import xml.etree.ElementTree as ET
from pathlib import Path

from support import EXAMPLES, LIBRARY, NS, binary, temporary_folder, write_file, write_script

from mova_host.cli import main, parser
from mova_host.scenario import command_lines, load_scenario

MISSION = str(EXAMPLES / "mission.txt")


class CommandLineCase(unittest.TestCase):
    """A folder per test for files and the controller's working directory (folder/work)."""

    def setUp(self):
        self.folder = temporary_folder(self)
        self.work = os.path.join(self.folder, "work")
        self.common = ["--binary", str(binary()), "--workdir", self.work]

    def file(self, name: str, text: str) -> str:
        return write_file(self.folder, name, text)

    def call(self, *argv: str) -> tuple[int, str, str]:
        """The exit status, standard output and standard error of the command line."""
        out, err = io.StringIO(), io.StringIO()
        with unittest.mock.patch("sys.stderr", err):
            status = main(list(argv), out)
        return status, out.getvalue(), err.getvalue()


class CommandLineTest(CommandLineCase):
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
        picture = os.path.join(self.folder, "out", "plan.svg")
        frames = os.path.join(self.folder, "frames")
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


# A stand-in controller that answers the client's sentinel, leaves a mark that it ran, and dies
# when asked to plan.
DYING = """
import sys
open("started", "w").close()
for line in sys.stdin:
    if line.startswith("MOVA_START_MISSION"):
        sys.exit(9)
    if line.strip() == "INFORMATION_GET_WATERMARK":
        print("a watermark line. ", flush=True)
"""


class ExitStatusTest(CommandLineCase):
    """0 a plan was found, 1 no plan, 2 bad input or usage (nothing run), 3 the controller failed."""

    def test_plan_found_and_not_found(self):
        found, missing = str(LIBRARY / "passing-two-lanes.json"), str(LIBRARY / "head-on-one-lane.json")
        self.assertEqual(self.call("plan", found, *self.common)[0], 0)
        self.assertEqual(self.call("plan", missing, *self.common)[0], 1)
        self.assertEqual(self.call("explain", found, *self.common)[0], 0)
        status, out, _ = self.call("explain", missing, *self.common)
        self.assertEqual(status, 1)
        self.assertIn("category: blocked", out)
        flags = ["--road", "one-lane", "0", "1", "--start", "0", "1", "5", "--goal", "1", "0", "5"]
        self.assertEqual(self.call("plan", *flags, *self.common)[0], 1)
        self.assertEqual(self.call("explain", *flags, "--json", *self.common)[0], 1)
        stream = self.file("stream.txt", "\n".join(command_lines(load_scenario(missing))) + "\n")
        self.assertEqual(self.call("run", stream, *self.common)[0], 1)
        stream = self.file("stream2.txt", "\n".join(command_lines(load_scenario(found))) + "\n")
        self.assertEqual(self.call("run", stream, *self.common)[0], 0)

    def test_reader_gone_ends_quietly_with_the_broken_pipe_status(self):
        # `mova-host run FILE | head -1`: the reader closes the pipe after the first line.
        stream = self.file("stream.txt", "MOVA_GENERATION\n" * 2000)
        env = dict(os.environ, PYTHONPATH=str(Path(__file__).resolve().parents[1]))
        child = subprocess.Popen([sys.executable, "-m", "mova_host", "run", stream, *self.common],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        first = child.stdout.readline()
        child.stdout.close()
        error = child.stderr.read()
        child.stderr.close()
        self.assertEqual(child.wait(timeout=60), 141)
        self.assertIn(b"MOVA_GENERATION", first)
        self.assertEqual(error, b"", "no traceback and no error line when the reader is gone")

    def test_check(self):
        status, out, _ = self.call("check", str(LIBRARY / "rotation.json"))
        self.assertEqual((status, out.strip()), (0, f"{LIBRARY / 'rotation.json'}: no problems found"))
        status, out, _ = self.call("check", str(LIBRARY / "island.json"), "--json")
        report = json.loads(out)
        self.assertEqual((status, report["valid"], report["errors"]), (1, True, []))
        self.assertEqual(report["warnings"][0]["place"], "vehicles[2].goal")

    def test_bad_input_runs_nothing(self):
        dying = write_script(self.folder, DYING)
        bad = self.file("bad.json", '{"format": "mova-scenario", "version": 1, "roads": [{"kind": "lane", '
                        '"from": 0, "to": 1}], "vehicles": []}')
        for argv in (["plan", bad], ["explain", bad], ["check", bad], ["commands", bad],
                     ["explain", os.path.join(self.folder, "missing.json")],
                     ["explain", bad, "--road", "one-way", "0", "1"],
                     ["explain", "--road", "two-lane", "0", "1", "--start", "0", "1", "2", "--goal", "1", "2", "3"],
                     ["explain", "--road", "one-way", "0", "1", "--start", "0", "1", "2", "--goal", "1", "2", "3",
                      "--obstacle", "1", "1"],
                     ["explain", "--road", "one-way", "0", "1", "--start", "0", "0", "2", "--goal", "1", "2", "3"],
                     ["plan", "--road", "one-way", "0", "1"],
                     ["plan", str(LIBRARY / "rotation.json"), "--obstacle", "0", "1"],
                     ["plan", "--no-such-option"],
                     ["explain", self.file("stream.txt", "ENVIRONMENT_CLEAN\n")]):
            with self.subTest(argv=argv):
                runs = argv[0] in ("plan", "explain")
                status, out, err = self.call(*argv, *(["--binary", dying, "--workdir", self.work] if runs else []))
                self.assertEqual(status, 2)
                self.assertFalse(os.path.exists(os.path.join(self.work, "started")))
                if argv[1:] == [bad]:
                    self.assertEqual(err.count("\n"), 1, err)  # one message
                    self.assertIn('roads[0].kind: "lane" is not one of', err)
        status, out, err = self.call("explain", bad, "--json")
        self.assertEqual(json.loads(out)["status"], 2)
        self.assertIn("roads[0].kind", json.loads(out)["error"])

    def test_controller_failure(self):
        dying = write_script(self.folder, DYING)
        scenario = str(LIBRARY / "rotation.json")
        for action in ("plan", "explain"):
            with self.subTest(action):
                status, _, err = self.call(action, scenario, "--binary", dying, "--workdir", self.work)
                self.assertEqual(status, 3)
                self.assertIn("exited (status 9) during MOVA_START_MISSION", err)
        status, _, err = self.call("plan", scenario, "--binary", os.path.join(self.folder, "nothing"))
        self.assertEqual(status, 3)
        self.assertIn("no controller executable", err)


class OutputTest(CommandLineCase):
    def run_main(self, *argv: str) -> str:
        return self.call(*argv)[1]

    def test_json_of_run_plan_and_explain(self):
        scenario = str(LIBRARY / "one-way-loops.json")
        stream = os.path.join(self.folder, "stream.txt")
        commands = self.run_main("commands", scenario)
        self.assertEqual(commands.splitlines(), command_lines(load_scenario(scenario)))
        Path(stream).write_text(commands + "MOVA_GET_NUM_STEPS\n")
        run = json.loads(self.run_main("run", stream, "--json", *self.common))
        self.assertEqual([e["answer"] for e in run["exchanges"][-2:]], ["TRUE", " 16"])
        plan = json.loads(self.run_main("plan", scenario, "--json", *self.common))
        self.assertEqual((plan["answer"], plan["steps"], plan["moves"]), (True, 16, 18))
        self.assertEqual(plan["plan"][0], [0, 1, 2])
        explained = json.loads(self.run_main("explain", scenario, "--json", *self.common))
        self.assertEqual(explained["plan"], plan["plan"])
        self.assertEqual((explained["optimal_steps"], explained["optimal_moves"]), (6, 18))
        flags = ["--road", "two-lanes", "0", "1", "--road", "one-lane", "1", "2", "--start", "0", "2", "5",
                 "--goal", "2", "0", "5", "--obstacle", "0", "1"]
        plans = json.loads(self.run_main("plan", *flags, "--json", *self.common))["plans"]
        self.assertEqual([p["answer"] for p in plans], [True, False])
        self.assertEqual(plans[1]["obstacles"], [[0, 1]])

    def test_explain_draws_the_scenario_at_its_coordinates(self):
        picture = os.path.join(self.folder, "loops.svg")
        text = self.run_main("explain", str(LIBRARY / "one-way-loops.json"), "--svg", picture, *self.common)
        self.assertIn("category: plan", text)
        self.assertIn(f"picture: {picture}", text)
        root = ET.parse(picture).getroot()
        circle = root.find(".//s:g[@data-pos='4']/s:circle", NS)
        self.assertEqual((circle.get("cx"), circle.get("cy")), ("380", "460"))
        self.assertEqual(root.find("s:title", NS).text, "one-way loops: Plan: 16 steps (fewest 6)")


class StreamInputTest(CommandLineCase):
    """A command stream goes wherever a scenario goes: it is explained, checked and converted as
    the mission its first planning command plans."""

    def test_a_stream_is_explained_as_the_plan_it_asks_for_first(self):
        status, out, err = self.call("explain", MISSION, "--json", *self.common)
        explained = json.loads(out)
        played = json.loads(self.call("plan", MISSION, "--json", *self.common)[1])["plans"][0]
        self.assertEqual((status, explained["answer"], explained["plan"]), (0, True, played["plan"]))
        self.assertIn(f"note: {MISSION}: the scenario is the mission as line 32 (MOVA_START_MISSION) plans it", err)
        self.assertIn("left out: VEHICLE_MOVED_FORWARD (9 lines from line 35)", err)

    def test_scenario_writes_the_mission_of_a_stream(self):
        target = os.path.join(self.folder, "mission.json")
        status, out, _ = self.call("scenario", MISSION, "-o", target)
        self.assertEqual((status, out), (0, ""))
        self.assertEqual(command_lines(load_scenario(target)), self.call("commands", MISSION)[1].splitlines())
        written = json.loads(self.call("scenario", MISSION)[1])  # to standard output without -o
        self.assertEqual(written, json.loads(Path(target).read_text()))
        self.assertIn("as line 32 (MOVA_START_MISSION) plans it", written["description"])
        text = Path(MISSION).read_text()
        copy = self.file("stream.txt", text)
        status, _, err = self.call("scenario", copy, "-o", copy)
        self.assertEqual((status, Path(copy).read_text()), (2, text))
        self.assertIn("would overwrite the file it reads", err)

    def test_a_stream_no_scenario_stands_for_is_bad_input_naming_the_line(self):
        dying = write_script(self.folder, DYING)
        stream = self.file("late.txt", "ENVIRONMENT_CLEAN\nENVIRONMENT_BUILD\nENVIRONMENT_ADD_ONE_WAY_ROAD 0 1\n")
        for argv in (["explain", stream, "--binary", dying, "--workdir", self.work], ["check", stream],
                     ["commands", stream], ["scenario", stream]):
            with self.subTest(argv[0]):
                status, out, err = self.call(*argv)
                self.assertEqual((status, out), (2, ""))
                self.assertIn(f"{stream}: line 3: ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1: the environment is locked", err)
        self.assertFalse(os.path.exists(os.path.join(self.work, "started")))
        report = json.loads(self.call("check", stream, "--json")[1])
        self.assertEqual((report["valid"], report["errors"][0]["place"]), (False, "line 3"))

    def test_check_names_the_line_behind_each_finding(self):
        stream = self.file("doubtful.txt", "\n".join([
            "ENVIRONMENT_CLEAN", "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1", "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1",
            "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 1 2", "ENVIRONMENT_BUILD", "VEHICLE_SET_CURRENT_POS 1 0",
            "VEHICLE_SET_CURRENT_POS 2 1", "VEHICLE_SET_CURRENT_POS 3 2", "VEHICLE_SET_GOAL_POS 1 1",
            "VEHICLE_SET_GOAL_POS 2 0", "VEHICLE_SET_GOAL_POS 3 2"]) + "\n")
        status, out, _ = self.call("check", stream)
        self.assertEqual(status, 1)
        self.assertIn(f"{stream}: line 3 (roads[1]): repeats roads[0]", out)
        self.assertIn(f"{stream}: line 10 (vehicles[1].goal): vehicle 2 cannot reach its goal 0", out)
        warnings = json.loads(self.call("check", stream, "--json")[1])["warnings"]
        self.assertEqual([w["line"] for w in warnings], [3, 10])

    def test_the_fleet_reads_a_stream_as_its_scenario(self):
        lines = command_lines(load_scenario(EXAMPLES / "fleet" / "zone.json"))
        stream = self.file("zone.txt", "\n".join(["BOGUS", *lines]) + "\n")
        status, _, err = self.call("fleet", stream, "--site", str(EXAMPLES / "fleet" / "site.json"),
                                   "--broker", "mqtt://127.0.0.1:1")
        self.assertEqual(status, 2)
        self.assertIn(f"{stream}: line 1: BOGUS: unknown command word", err)
        Path(stream).write_text("\n".join(lines) + "\n")
        status, _, err = self.call("fleet", stream, "--site", self.file("site.json", "{}"), "--broker",
                                   "mqtt://127.0.0.1:1")
        self.assertEqual(status, 2)  # the stream read, the site is refused
        self.assertIn("site.json", err)


class TraceTest(CommandLineCase):
    def test_plan_trace_shows_the_streams_comments_where_they_stand(self):
        status, out, _ = self.call("plan", MISSION, "--trace", *self.common)
        lines = out.splitlines()
        self.assertEqual(status, 0)
        comment = lines.index("# No plan yet: the controller drops this query and writes nothing.")
        self.assertEqual(lines[comment + 1].split(" | "), ["VEHICLE_GET_STEP_POS 1 0".ljust(44), "dropped"])
        self.assertEqual(lines[0], (EXAMPLES / "mission.txt").read_text().splitlines()[0])
        self.assertNotIn("#", self.call("run", MISSION, *self.common)[1])  # run keeps one row per command


class HelpTest(CommandLineCase):
    def test_every_argument_of_every_action_is_described_with_examples_and_statuses(self):
        actions = next(a for a in parser()._actions if isinstance(a, argparse._SubParsersAction))
        self.assertGreaterEqual(len(actions.choices), 9)
        for name, sub in actions.choices.items():
            with self.subTest(name):
                for argument in sub._actions:
                    self.assertTrue(argument.help, f"{name}: {argument.option_strings or argument.dest}")
                text = sub.format_help()
                self.assertIn("\nexamples:\n", text)
                self.assertIn("\nexit statuses:\n  0  ", text)
        with unittest.mock.patch("sys.stdout", io.StringIO()) as out:
            self.assertEqual(self.call("--help")[0], 0)
        self.assertIn("\n  4  serve: the address and port cannot be listened on", out.getvalue())

    def test_serve_statuses(self):
        with socket.socket() as busy:
            busy.bind(("127.0.0.1", 0))
            busy.listen()
            port = busy.getsockname()[1]
            status, _, err = self.call("serve", "--port", str(port), "--binary", str(binary()))
        self.assertEqual(status, 4)
        self.assertIn(f"cannot listen on 127.0.0.1 port {port}", err)
        self.assertEqual(self.call("serve", "--port", "70000")[0], 2)
        status, _, err = self.call("serve", "--port", "0", "--binary", os.path.join(self.folder, "nothing"))
        self.assertEqual(status, 3)
        self.assertIn("no controller executable at", err)


if __name__ == "__main__":
    unittest.main()
