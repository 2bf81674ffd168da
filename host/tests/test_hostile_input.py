"""Hostile and careless input on the command line: numbers too large or not finite, JSON nested
thousands deep, halves of characters, files too large, control characters in names. Every such
input ends with exit status 2 and a sentence (and the JSON error object under --json), never a
traceback; every picture written parses as XML."""

from __future__ import annotations

import json
import os
import xml.etree.ElementTree as ET
from pathlib import Path

from support import EXAMPLES, LIBRARY
from test_cli import CommandLineCase

SCENARIO = json.loads((LIBRARY / "siding.json").read_text())
SITE = json.loads((EXAMPLES / "fleet" / "site.json").read_text())
ZONE = json.loads((EXAMPLES / "fleet" / "zone.json").read_text())


def hostile_texts(document: dict, number_at: tuple) -> dict[str, str]:
    """The document made hostile in each way, as JSON text; `number_at` is the path of a number."""
    def with_number(literal: str) -> str:
        data = json.loads(json.dumps(document))
        target = data
        for key in number_at[:-1]:
            target = target[key]
        target[number_at[-1]] = "@NUMBER@"
        return json.dumps(data).replace('"@NUMBER@"', literal)

    text = json.dumps(document)
    return {
        "far coordinate": with_number("1e308"),
        "400 digits": with_number("9" * 400),
        "5000 digits": with_number("1" * 5000),
        "NaN": with_number("NaN"),
        "Infinity": with_number("-Infinity"),
        "beyond a float": with_number("1e999"),
        "nested 5000 deep": text[:-1] + ', "deep": ' + "[" * 5000 + "]" * 5000 + "}",
        "a lone surrogate": text[:-1] + ', "name": "dock \\udc80"}',
        "larger than 1 MiB": text[:-1] + ', "padding": "' + "x" * (1 << 20) + '"}',
        "not UTF-8": text[:-1] + ', "name": "\xff"}',
    }


class HostileFileTest(CommandLineCase):
    def refused(self, argv: list[str], json_option: bool) -> str:
        """Checks status 2, one sentence on standard error and the JSON object; returns the error."""
        status, out, err = self.call(*argv, *(["--json"] if json_option else []))
        self.assertEqual(status, 2, (argv, out, err))
        self.assertNotIn("Traceback", err)
        if not json_option:
            self.assertRegex(err, r"^error: .+\n$")
            return err
        data = json.loads(out.splitlines()[-1] if argv[0] == "fleet" else out)
        if argv[0] == "check":  # check --json reports the error among its findings
            self.assertEqual((data["valid"], len(data["errors"])), (False, 1))
            return f"{argv[1]}: {data['errors'][0]['place']}: {data['errors'][0]['message']}"
        self.assertEqual(data["status"], 2)
        self.assertEqual(err, f"error: {data['error']}\n")
        return err

    def test_scenario_actions_refuse_hostile_files(self):
        for name, text in hostile_texts(SCENARIO, ("positions", 0, "x")).items():
            path = self.file(f"{name.replace(' ', '-')}.json", "")
            Path(path).write_bytes(text.encode("latin-1" if name == "not UTF-8" else "utf-8", "surrogatepass"))
            for action, json_option in (("check", True), ("commands", False), ("explain", True), ("plan", True)):
                with self.subTest(hostile=name, action=action):
                    argv = [action, path] + (self.common if action in ("explain", "plan") else [])
                    error = self.refused(argv, json_option)
                    self.assertIn(path, error)
                    if name in ("far coordinate", "400 digits"):
                        self.assertRegex(error, r"positions\[0\]\.x: 1e\+308 is outside|line 1, column \d+: the number")
        self.assertFalse(os.path.exists(self.work) and os.listdir(self.work))  # no controller ran

    def test_check_json_names_the_place_of_the_error(self):
        prefix = json.dumps(SCENARIO)[:-1] + ', "deep": '  # the top object is the first of 64
        path = self.file("deep.json", prefix + "[" * 5000 + "]" * 5000 + "}")
        status, out, _ = self.call("check", path, "--json")
        self.assertEqual(status, 2)
        self.assertEqual(json.loads(out)["errors"], [{"place": f"line 1, column {len(prefix) + 64}",
                                                      "message": "lists and objects nested more than 64 deep"}])

    def test_mission_options_with_hostile_numbers(self):
        roads = ["--road", "two-lanes", "0", "1", "--road", "two-lanes", "1", "2"]
        for action in ("plan", "explain"):
            for argv, words in ((["--start", "0", "1", "9" * 400, "--goal", "1", "2", "0"], "outside 0 to 11"),
                                (["--road", "one-lane", "0", "9" * 400, "--start", "0", "1", "2",
                                  "--goal", "1", "2", "0"], "bad road one-lane 0 999")):
                with self.subTest(action=action, words=words):
                    error = self.refused([action, *roads, *argv, *self.common], True)
                    # plan sends the options as a command stream: the controller drops the start.
                    self.assertIn("place the vehicles and goals first" if action == "plan" and
                                  words.startswith("outside") else words, error)

    def test_streams_with_hostile_numbers_reach_the_controller(self):
        # A command stream is played as it is: the controller drops a line whose number does not
        # fit 32 bits. The host does not refuse the stream for it.
        stream = self.file("stream.txt", "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 " + "1" * 5000 + "\nMOVA_GENERATION\n")
        status, out, err = self.call("run", stream, "--json", *self.common)
        self.assertEqual(status, 0, err)
        exchanges = json.loads(out)["exchanges"]
        self.assertEqual([(e["dropped"], e["answer"]) for e in exchanges], [(True, None), (False, "2024")])
        status, out, err = self.call("plan", stream, *self.common)
        self.assertEqual(status, 1, err)
        self.assertIn("dropped (position argument is not an integer)", self.call("plan", stream, "--trace",
                                                                                  *self.common)[1])

    def test_a_command_stream_that_never_ends_is_refused_after_64_mib(self):
        # /dev/zero reads as a command stream (it does not begin with "{") that never ends.
        for action, json_option in (("check", True), ("explain", True), ("commands", False), ("run", False)):
            with self.subTest(action=action):
                argv = [action, "/dev/zero"] + (self.common if action in ("explain", "run") else [])
                self.assertIn("larger than 64 MiB", self.refused(argv, json_option))

    def test_fleet_commands_refuse_hostile_site_and_scenario_files(self):
        zone = self.file("zone.json", json.dumps(ZONE))
        site = self.file("site.json", json.dumps(SITE))
        broker = ["--broker", "mqtt://127.0.0.1:1"]
        for which, document, number_at in (("site", SITE, ("positions", 0, "x")),
                                           ("scenario", ZONE, ("positions", 0, "x"))):
            for name, text in hostile_texts(document, number_at).items():
                if name == "not UTF-8":
                    continue
                path = self.file(f"{which}-{name.replace(' ', '-')}.json", "")
                Path(path).write_bytes(text.encode("utf-8", "surrogatepass"))
                files = [zone, "--site", path] if which == "site" else [path, "--site", site]
                for action in ("fleet", "fleet-sim"):
                    with self.subTest(which=which, hostile=name, action=action):
                        error = self.refused([action, *files, *broker], action == "fleet")
                        self.assertIn(path, error)


class HostileNameTest(CommandLineCase):
    def test_pictures_of_names_with_control_characters_parse_as_xml(self):
        data = json.loads(json.dumps(SCENARIO))
        data["name"] = "bad\x01\x0b\x1b[31m name & <b>\ufffe"
        data["positions"][4]["name"] = "sid\x00ing\x08]]>"
        path = self.file("names.json", json.dumps(data))
        out = os.path.join(self.folder, "out")
        status, _, err = self.call("plan", path, "--svg", f"{out}/plan.svg", "--animate", f"{out}/anim.svg",
                                   "--frames", f"{out}/frames", *self.common)
        self.assertEqual(status, 0, err)
        status, _, err = self.call("explain", path, "--svg", f"{out}/explain.svg", *self.common)
        self.assertEqual(status, 0, err)
        pictures = sorted(Path(out).rglob("*.svg"))
        self.assertGreater(len(pictures), 4)
        for picture in pictures:
            root = ET.parse(picture).getroot()  # raises on a picture that is not XML
            self.assertTrue(root.tag.endswith("svg"))
        title = ET.parse(f"{out}/plan.svg").getroot().find("{http://www.w3.org/2000/svg}title").text
        self.assertTrue(title.startswith("bad   [31m name & <b>\ufffd"), repr(title))

    def test_a_picture_that_cannot_be_written_leaves_nothing_behind(self):
        path = self.file("siding.json", json.dumps(SCENARIO))
        Path(self.folder, "taken").mkdir()
        Path(self.folder, "a-file").write_text("")
        for target, words in (("taken", "taken: Is a directory"),
                              ("a-file/plan.svg", "a-file/plan.svg: its folder cannot be made")):
            with self.subTest(target=target):
                before = sorted(p.name for p in Path(self.folder).rglob("*"))
                status, out, err = self.call("plan", path, "--svg", os.path.join(self.folder, target), "--json",
                                             *self.common)
                self.assertEqual(status, 2)
                self.assertIn(words, err)
                self.assertEqual(json.loads(out)["status"], 2)
                after = sorted(p.name for p in Path(self.folder).rglob("*") if "work" not in p.parts)
                self.assertEqual(after, [n for n in before if n != "work"])
