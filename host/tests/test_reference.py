"""The documentation against the real controller: the protocol reference's example exchanges and
log records, its command table against the console's and the client's, the README's Python
example, and the licence and version texts."""

from __future__ import annotations

import contextlib
import io
import os
import re
import subprocess
import sys
import tempfile
import unittest
from dataclasses import dataclass, field
from pathlib import Path

from support import ClientCase, binary

from mova_host import about, protocol
from mova_host.cli import main

ROOT = Path(__file__).resolve().parents[2]
REFERENCE = ROOT / "docs" / "protocol.md"

ARROW = "→"
STAMP = re.compile(r"[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}")
# Durations (" 0.000524412") and scientific numbers (" 1.53000E-03") vary from run to run.
VARYING = re.compile(r"[0-9]+\\\.[0-9]{9}|[0-9]\\\.[0-9]{5}E[+-][0-9]{2}")


@dataclass
class Line:
    text: str
    answer: str | None  # the exact answer, "like:..." for a shape, "" for nothing, None: no arrow


@dataclass
class ReferenceSession:
    start: int  # line number in the reference
    continued: bool
    lines: list[Line]
    logs: list[list[str]] = field(default_factory=list)  # log blocks that follow it


def parse_line(raw: str, where: str) -> Line:
    if ARROW not in raw:
        return Line(raw.rstrip(), None)
    command, result = raw.split(ARROW, 1)
    command, result = command.rstrip(), result.strip()
    if result == "nothing":
        return Line(command, "")
    shape = re.fullmatch(r'like "(.*)"', result)
    if shape:
        return Line(command, "like:" + shape.group(1))
    exact = re.fullmatch(r'"(.*)"', result)
    if not exact:
        raise AssertionError(f"{where}: cannot read the answer {result!r}")
    return Line(command, exact.group(1))


def sessions(text: str) -> list[ReferenceSession]:
    found: list[ReferenceSession] = []
    for block in re.finditer(r"^```(mova(?: continued)?|log)\n(.*?)^```", text, re.M | re.S):
        kind, body = block.group(1), block.group(2)
        number = text.count("\n", 0, block.start()) + 1
        rows = [row for row in body.splitlines() if row.strip()]
        if kind == "log":
            assert found, f"line {number}: a log block before any session"
            found[-1].logs.append(rows)
        else:
            lines = [parse_line(row, f"line {number}") for row in rows]
            found.append(ReferenceSession(number, kind.endswith("continued"), lines))
    return found


def same_shape(example: str, answer: str) -> bool:
    if len(example) != len(answer):
        return False
    for a, b in zip(example, answer):
        digit = "0123456789abcdef"
        if (a in digit) != (b in digit) or (a not in digit and a != b):
            return False
    return True


def record_pattern(example: str) -> re.Pattern[str]:
    stamp = STAMP.match(example)
    assert stamp, f"a log record without a time stamp: {example!r}"
    rest = re.escape(example[stamp.end():].rstrip())
    return re.compile(STAMP.pattern + VARYING.sub(lambda m: _varying(m.group(0)), rest))


def _varying(escaped: str) -> str:
    return r"[0-9]\.[0-9]{5}E[+-][0-9]{2}" if "E" in escaped else r"[0-9]+\.[0-9]{9}"


class ReferenceExamplesTest(ClientCase):
    def test_every_example_exchange_and_log_of_the_reference(self):
        text = REFERENCE.read_text()
        found = sessions(text)
        self.assertGreaterEqual(len(found), 10)
        client = None
        for session in found:
            if client is None or not session.continued:
                client = self.new_client()
                seen_records = 0
            for line in session.lines:
                with self.subTest(line=line.text, block=session.start):
                    exchange = client.request(line.text)
                    if line.answer is None:
                        self.assertIsNone(exchange.answer, "a command shown without an answer wrote one")
                    elif line.answer == "":
                        self.assertTrue(exchange.answers and exchange.answer is None,
                                        f"expected no answer, got {exchange.answer!r}")
                    elif line.answer.startswith("like:"):
                        self.assertIsNotNone(exchange.answer)
                        self.assertTrue(same_shape(line.answer[5:], exchange.answer),
                                        f"{exchange.answer!r} is not like {line.answer[5:]!r}")
                    else:
                        self.assertEqual(exchange.answer, line.answer)
            for shown in session.logs:
                log = client.workdir / "mova.log"
                records = log.read_text().splitlines() if log.exists() else []
                written = records[seen_records:seen_records + len(shown)]
                with self.subTest(log_after_block=session.start):
                    self.assertEqual(len(written), len(shown), "\n".join(records))
                    for example, record in zip(shown, written):
                        self.assertRegex(record.rstrip(" "), record_pattern(example))
                        self.assertTrue(record.endswith("  "), f"{record!r} lacks its two blanks")
                seen_records += len(shown)


# ----- the command table -------------------------------------------------------------------

ANSWER_OF_PYTHON = {
    protocol.Answer.NONE: "none",
    protocol.Answer.INTEGER: "integer",
    protocol.Answer.BOOLEAN: "Boolean",
    protocol.Answer.FIXED: "CPU time",
    protocol.Answer.LINE: "line",
}


def reference_table() -> dict[str, tuple[tuple[str, ...], str]]:
    rows = re.findall(r"^\| (\d+) \| `(\w+)` \| ([^|]+) \| ([^|]+) \|$", REFERENCE.read_text(), re.M)
    table = {}
    for number, word, arguments, answer in rows:
        kinds = () if arguments.strip() == "—" else tuple(a.strip() for a in arguments.split(","))
        table[word] = (int(number), kinds, answer.strip())
    return table


def console_table() -> dict[str, tuple[int, tuple[str, ...], str]]:
    """The console's command table and what each command prints, read from its source."""
    source = (ROOT / "console" / "launcher.cpp").read_text()
    facade = (ROOT / "controller" / "mova.hpp").read_text()
    operations = (ROOT / "controller" / "mova.cpp").read_text()
    returns = dict((name, kind) for kind, name in re.findall(r"^(bool|std::int32_t|float) (\w+)\(", facade, re.M))
    printers = set(re.findall(r"void (\w+)\(\)\s*\{\s*Print_Line\(", operations))
    table = {}
    # A row: {"WORD", arity, {kinds}, [](A a) { what it calls and prints }},
    entries = re.findall(r'\{"(\w+)", (\d), \{([^}]*)\},\s*\[\]\(A(?: a)?\) \{(.*?)\}\},', source, re.S)
    for number, (word, arity, kinds, call) in enumerate(entries):
        names = tuple(k.strip().removeprefix("K::").lower() for k in kinds.split(",") if k.strip())
        assert len(names) == int(arity), word
        operation = re.search(r"Mova::(\w+)\(", call).group(1)
        if "Fixed_Image" in call:
            answer = "CPU time"
        elif "Print(" in call:
            answer = {"bool": "Boolean", "std::int32_t": "integer"}[returns[operation]]
        elif operation in printers:
            answer = "line"
        else:
            answer = "none"
        table[word] = (number, names, answer)
    return table


def python_table() -> dict[str, tuple[int, tuple[str, ...], str]]:
    table = {}
    for number, command in enumerate(protocol.COMMANDS.values()):
        # An argument kind is named by the range the console checks for it.
        kinds = tuple("position" if kind.console == (-1, protocol.MAX_POS) else kind.name
                      for kind in command.args)
        table[command.name] = (number, kinds, ANSWER_OF_PYTHON[command.answer])
    return table


class CommandTableTest(unittest.TestCase):
    def test_the_reference_table_agrees_with_the_console_and_the_client(self):
        reference = reference_table()
        self.assertEqual(len(reference), 38)
        self.assertEqual(console_table(), reference)
        self.assertEqual(python_table(), reference)

    def test_every_command_has_an_entry_in_the_reference(self):
        text = REFERENCE.read_text()
        headings = "\n".join(re.findall(r"^####.*$", text, re.M))
        for word in reference_table():
            self.assertIn(f"`{word}`", headings)

    def test_the_binary_answers_each_command_as_the_table_says(self):
        # A state in which every query has an answer: a network, placed vehicles, a plan.
        setup = ["ENVIRONMENT_CLEAN", "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 1", "ENVIRONMENT_BUILD",
                 "VEHICLE_SET_CURRENT_POS 1 0", "VEHICLE_SET_CURRENT_POS 2 5",
                 "VEHICLE_SET_CURRENT_POS 3 9", "VEHICLE_SET_GOAL_POS 1 1",
                 "VEHICLE_SET_GOAL_POS 2 5", "VEHICLE_SET_GOAL_POS 3 9", "MOVA_START_MISSION"]
        value = {"vehicle": "1", "position": "0", "step": "1", "amount": "1000"}
        shapes = {"integer": r"(?: [0-9]+|-[0-9]+)", "Boolean": "TRUE|FALSE",
                  "CPU time": r"[0-9]+\.[0-9]{5}", "line": r".+"}
        for word, (_, kinds, answer) in reference_table().items():
            with self.subTest(command=word), tempfile.TemporaryDirectory() as folder:
                line = " ".join([word, *(value[k] for k in kinds)])
                done = subprocess.run([str(binary())], input="\n".join(setup + [line]) + "\n",
                                      capture_output=True, text=True, cwd=folder, timeout=60)
                printed = done.stdout.splitlines()[1:]  # the first line answers the setup
                if answer == "none":
                    self.assertEqual(printed, [])
                else:
                    self.assertEqual(len(printed), 1, printed)
                    self.assertRegex(printed[0], f"^(?:{shapes[answer]})$")


# ----- README, demo, licence, version ------------------------------------------------------

class ReadmeTest(unittest.TestCase):
    def test_the_python_example_runs_as_written_and_prints_what_the_readme_shows(self):
        text = (ROOT / "README.md").read_text()
        example = re.search(r"```python\n(.*?)```", text, re.S)
        shown = re.search(r"```python\n.*?```\n.*?\n```text\n(.*?)```", text, re.S)
        self.assertIsNotNone(example)
        self.assertIsNotNone(shown, "the README shows what the example prints")
        environment = dict(os.environ, MOVA_BINARY=str(binary()),
                           PYTHONPATH=str(ROOT / "host"), PYTHONDONTWRITEBYTECODE="1")
        with tempfile.TemporaryDirectory() as folder:
            done = subprocess.run([sys.executable, "-c", example.group(1)], cwd=folder, env=environment,
                                  capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout, shown.group(1))

    def test_the_quick_start_comes_first(self):
        text = (ROOT / "README.md").read_text()
        self.assertRegex(text, r"\A# [^\n]+\n+## Quick start\n+    make demo\n    make test\n")


class DemoTest(unittest.TestCase):
    def test_the_plan_trace_shows_the_script_in_file_order_with_the_answers_run_gives(self):
        script = ROOT / "examples" / "mission.txt"
        traces = {}
        for action in ("run", "plan"):
            with tempfile.TemporaryDirectory() as folder:
                out = io.StringIO()
                extra = ["--trace"] if action == "plan" else []
                code = main([action, str(script), *extra, "--binary", str(binary()), "--workdir", folder], out)
                self.assertEqual(code, 0)
                rows = [row for row in out.getvalue().splitlines() if re.match(r"^[A-Z_]+[ 0-9-]* +\|", row)]
                # The CPU time differs from run to run.
                traces[action] = [re.sub(r"\| [0-9]+\.[0-9]{5}$", "| <time>", row) for row in rows]
        expected = [line for line in script.read_text().splitlines() if line and not line.startswith("#")]
        self.assertEqual([row.split(" |")[0].rstrip() for row in traces["run"]], expected)
        self.assertEqual(traces["plan"], traces["run"])


class LicenceAndVersionTest(unittest.TestCase):
    def test_the_copyright_line_and_the_notice_files_agree_with_the_licence(self):
        notice = (ROOT / "NOTICE").read_text()
        self.assertIn("Apache License", (ROOT / "LICENSE").read_text()[:200])
        with tempfile.TemporaryDirectory() as folder:
            done = subprocess.run([str(binary())], input="MOVA_INIT\nINFORMATION_GET_COPYRIGHT\n",
                                  capture_output=True, text=True, cwd=folder, timeout=30)
            copyright_line = done.stdout.strip()
            disclaimer = Path(folder, "MOVA_Disclaimer.txt").read_text().splitlines()
            self.assertEqual(Path(folder, "MOVA_Copyright.txt").read_text(), copyright_line + "\n")
        self.assertIn("Licensed under the Apache License, Version 2.0", copyright_line)
        self.assertNotIn("All rights reserved", copyright_line)
        for line in [copyright_line, disclaimer[0], disclaimer[2]]:
            self.assertIn(line, notice)

    def test_one_version_in_cmake_the_package_and_the_changelog(self):
        version = about.version_in(ROOT / "CMakeLists.txt")
        self.assertRegex(version, r"^[0-9]+\.[0-9]+\.[0-9]+$")
        self.assertEqual(about.version(), version)
        releases = re.findall(r"^## \[([0-9.]+)\] - [0-9]{4}-[0-9]{2}-[0-9]{2}$",
                              (ROOT / "CHANGELOG.md").read_text(), re.M)
        self.assertEqual(releases[0], version)

    def test_version_option_shows_the_release_and_the_controllers_build(self):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status = main(["--version"])
        self.assertEqual(status, 0)
        lines = out.getvalue().splitlines()
        self.assertEqual(lines[0], f"mova-host {about.version()}")
        build = re.fullmatch(r"controller: (.+), build ([0-9a-f]{40})", lines[1])
        self.assertIsNotNone(build, lines[1])
        head = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "HEAD"], capture_output=True, text=True)
        if head.returncode == 0:
            self.assertEqual(build.group(2), head.stdout.strip(), "the binary names the commit it was built from")


if __name__ == "__main__":
    unittest.main()
