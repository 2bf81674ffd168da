#!/usr/bin/env python3
"""A transcript of what the host package does from the outside, to compare two versions of it.

    transcript.py record OUT [--binary PATH]   writes OUT/cli/*.txt and OUT/http/*.txt
    transcript.py compare BEFORE AFTER         names every case that differs (status 1 if any)
    transcript.py compare BEFORE AFTER --named the same, once the changes named below are
                                               made to BEFORE's workbench answers

`record` runs every command of the command line (run, plan, check, explain, commands,
scenario, --version and the help texts, with --json where it exists) on examples/mission.txt and on
every scenario of examples/scenarios/, and drives the workbench's HTTP interface through one
scripted session (a network edited by hand, a plan, moves, a blocked road, a re-plan, every
example scenario loaded and planned, bad requests, a killed and restarted controller).
Each case keeps its exit status or HTTP status, its output and every file it wrote.

What changes from run to run without meaning is masked: the output folder, time stamps of log
records, CPU times, the controller's build identifier, process and session identifiers.
It runs the package from this source tree with /usr/bin/python3, so it records whatever
version of the package the tree holds.

The changes the restructuring of the host package made on purpose (--named), all in the
workbench's HTTP answers; the command line's are unchanged:
- a session's state gives the course of its roads ("geometry"), the page draws them from it;
- the plan has the package's one JSON shape: "steps" the number of steps and "plan" the
  placements (both null without a plan), and "now" beside it where the vehicles stand;
- the page's settings give the words of the road kinds ("kind_words");
- the plan is read from step 0 on, so its step queries come in that order in the transcript;
- a refusal shows the value refused as JSON writes it (true, "1", a list);
- the page's own files (its modules and index.html) changed with it.
"""

from __future__ import annotations

import ast
import http.client
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path
from typing import Any, Callable

HOST = Path(__file__).resolve().parents[1]
ROOT = HOST.parent
EXAMPLES = ROOT / "examples"
SCENARIOS = sorted((EXAMPLES / "scenarios").glob("*.json"))
PYTHON = "/usr/bin/python3"
MASKS = [
    (re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d"), "<TIME>"),
    (re.compile(r"\b[0-9a-f]{40}\b"), "<BUILD-ID>"),
    (re.compile(r"-?\b\d+\.\d{5}\b(?!E)"), "<FIXED>"),
    (re.compile(r" -?\d+\.\d{9}\b"), " <DURATION>"),
    (re.compile(r"[ -]\d\.\d{5}E[+-]\d\d"), " <FLOAT>"),
]


class Masker:
    def __init__(self, out: Path):
        self.words: dict[str, str] = {str(out): "<OUT>"}

    def add(self, word: str, mask: str) -> None:
        self.words[word] = mask

    def __call__(self, text: str) -> str:
        for word, mask in sorted(self.words.items(), key=lambda item: -len(item[0])):
            text = text.replace(word, mask)
        for pattern, mask in MASKS:
            text = pattern.sub(mask, text)
        return text


# ----- the command line ------------------------------------------------------------------------


def cli_cases(files: Path) -> list[tuple[str, list[str]]]:
    """(case name, arguments) of every command-line case; pictures go below `files`."""
    mission = str(EXAMPLES / "mission.txt")
    cases: list[tuple[str, list[str]]] = [
        ("version", ["--version"]), ("help", ["--help"]), ("no-arguments", []),
        ("unknown-action", ["fly"]),
    ]
    for action in ("run", "plan", "check", "explain", "commands", "scenario", "serve", "fleet", "fleet-sim"):
        cases.append((f"help-{action}", [action, "--help"]))
    pictures = lambda name: ["--svg", f"{files}/{name}/plan.svg", "--animate", f"{files}/{name}/anim.svg",
                             "--frames", f"{files}/{name}/frames"]  # noqa: E731
    cases += [
        ("run-mission", ["run", mission]), ("run-mission-json", ["run", mission, "--json"]),
        ("plan-mission", ["plan", mission]), ("plan-mission-json", ["plan", mission, "--json"]),
        ("plan-mission-trace", ["plan", mission, "--trace"]),
        ("plan-mission-pictures", ["plan", mission, *pictures("plan-mission-pictures")]),
        ("plan-mission-circle", ["plan", mission, "--layout", "circle", "--svg", f"{files}/circle/plan.svg"]),
        ("check-mission", ["check", mission]), ("check-mission-json", ["check", mission, "--json"]),
        ("commands-mission", ["commands", mission]), ("explain-mission", ["explain", mission]),
        ("explain-mission-json", ["explain", mission, "--json"]), ("scenario-mission", ["scenario", mission]),
        ("missing-file", ["plan", f"{files}/nothing.txt"]), ("missing-scenario", ["check", f"{files}/nothing.json"]),
    ]
    flags = ["--road", "two-lanes", "0", "1", "--road", "one-lane", "1", "2", "--road", "two-lanes", "2", "3",
             "--road", "two-lanes", "3", "0", "--start", "0", "2", "5", "--goal", "2", "0", "5"]
    cases += [
        ("plan-flags", ["plan", *flags, "--obstacle", "1", "2", "--trace", *pictures("plan-flags")]),
        ("plan-flags-json", ["plan", *flags, "--json"]),
        ("explain-flags", ["explain", *flags]), ("explain-flags-json", ["explain", *flags, "--json"]),
        ("explain-flags-obstacle", ["explain", *flags, "--obstacle", "1", "2", "--obstacle", "0", "3"]),
        ("plan-bad-road", ["plan", "--road", "two-lane", "0", "1", "--start", "0", "1", "2", "--goal", "1", "2", "3"]),
        ("plan-file-and-flags", ["plan", mission, *flags]),
        ("explain-bad-road-json", ["explain", "--road", "one-way", "0", "12", "--start", "0", "1", "2",
                                   "--goal", "1", "2", "3", "--json"]),
    ]
    for path in SCENARIOS:
        name, file = path.stem, str(path)
        cases += [
            (f"check-{name}", ["check", file]), (f"check-{name}-json", ["check", file, "--json"]),
            (f"commands-{name}", ["commands", file]), (f"run-{name}", ["run", file]),
            (f"plan-{name}", ["plan", file, "--trace"]), (f"plan-{name}-json", ["plan", file, "--json"]),
            (f"plan-{name}-pictures", ["plan", file, *pictures(f"plan-{name}")]),
            (f"explain-{name}", ["explain", file, "--trace", "--svg", f"{files}/explain-{name}/why.svg"]),
            (f"explain-{name}-json", ["explain", file, "--json"]),
        ]
    return cases


def bad_scenarios(folder: Path) -> list[tuple[str, list[str]]]:
    """Scenario files with faults, checked and explained."""
    base = json.loads((EXAMPLES / "scenarios" / "passing-two-lanes.json").read_text())
    broken = {
        "not-json": "{\"format\": \"mova-scenario\",\n  \"version\": 1,,}\n",
        "bad-kind": json.dumps({**base, "roads": [{"kind": "two-lane", "from": 0, "to": 1}]}),
        "bad-position": json.dumps({**base, "roads": [{"kind": "one-way", "from": 0, "to": 12}]}),
        "float-position": json.dumps({**base, "roads": [{"kind": "one-way", "from": 0.5, "to": 1}]}),
        "bool-position": json.dumps({**base, "obstacles": [{"from": True, "to": 1}]}),
        "list-name": json.dumps({**base, "name": ["x"]}),
        "two-starts": json.dumps({**base, "vehicles": [{"vehicle": 1, "start": 0, "goal": 1},
                                                        {"vehicle": 2, "start": 0, "goal": 2},
                                                        {"vehicle": 3, "start": 5, "goal": 5}]}),
        "doubtful": json.dumps({**base, "extra": 1, "roads": [*base["roads"], *base["roads"]],
                                "obstacles": [{"from": 8, "to": 9}]}),
        "nan-x": json.dumps({**base, "positions": [{"position": 0, "x": float("nan"), "y": 1}]}),
        "newer": json.dumps({**base, "version": 2}),
    }
    cases = []
    for name, text in broken.items():
        path = folder / f"{name}.json"
        path.write_text(text)
        cases += [(f"bad-{name}-check", ["check", str(path)]), (f"bad-{name}-check-json", ["check", str(path), "--json"]),
                  (f"bad-{name}-explain-json", ["explain", str(path), "--json"])]
    return cases


def run_cli(out: Path, binary: str, mask: Masker) -> None:
    files = out / "files"
    files.mkdir(parents=True)
    folder = out / "cli"
    folder.mkdir()
    for name, argv in cli_cases(files) + bad_scenarios(files):
        work = out / "work" / name
        needs_controller = argv and argv[0] in ("run", "plan", "explain") and "--help" not in argv
        extra = ["--binary", binary, "--workdir", str(work)] if needs_controller else []
        done = subprocess.run([PYTHON, "-m", "mova_host", *argv, *extra], cwd=HOST, capture_output=True,
                              text=True, timeout=600, env={**os.environ, "PYTHONDONTWRITEBYTECODE": "1",
                                                           "MOVA_BINARY": binary, "COLUMNS": "100"})
        text = [f"$ mova-host {' '.join(argv)}", f"status {done.returncode}", "--- stdout", done.stdout,
                "--- stderr", done.stderr]
        for path in sorted(files.rglob("*")):
            if path.is_file() and path.suffix == ".svg":
                text += [f"--- file {path.relative_to(files)}", path.read_text()]
                path.unlink()
        (folder / f"{name}.txt").write_text(mask("\n".join(text)))
    shutil.rmtree(out / "work", ignore_errors=True)


# ----- the workbench's HTTP interface ----------------------------------------------------------


class Browser:
    """One HTTP client of the workbench that writes each exchange into its own file."""

    def __init__(self, port: int, folder: Path, mask: Masker):
        self.port, self.folder, self.mask = port, folder, mask
        self.count = 0
        self.ident = ""

    def call(self, label: str, method: str, path: str, body: Any = None,
             headers: dict[str, str] | None = None) -> Any:
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=120)
        data = body if isinstance(body, (str, bytes)) or body is None else json.dumps(body)
        sent = {"Content-Type": "application/json"} if headers is None else headers
        connection.request(method, path.replace("{id}", self.ident), body=data, headers=sent)
        response = connection.getresponse()
        payload = response.read()
        connection.close()
        kind = response.getheader("Content-Type", "")
        value: Any = payload.decode("utf-8", "replace")
        shown = value
        if kind.startswith("application/json"):
            value = json.loads(payload)
            shown = json.dumps(self.masked(value), indent=1, ensure_ascii=False)
        elif path.startswith("/static/") or path in ("/", "/index.html"):
            shown = f"{len(payload)} bytes"
        self.count += 1
        lines = [f"{method} {path}", f"body {str(data)[:300] if data is not None else '-'}",
                 f"status {response.status}", f"type {kind}",
                 f"disposition {response.getheader('Content-Disposition', '-')}", "---", shown]
        (self.folder / f"{self.count:03d}-{label}.txt").write_text(self.mask("\n".join(lines)))
        return value

    @staticmethod
    def masked(value: Any) -> Any:
        if isinstance(value, dict):
            hidden = {"pid": "<PID>", "id": "<SESSION>"}
            return {k: (hidden[k] if k in hidden and v is not None else Browser.masked(v)) for k, v in value.items()}
        if isinstance(value, list):
            return [Browser.masked(v) for v in value]
        return value

    def act(self, label: str, action: str, body: Any = None) -> Any:
        return self.call(label, "POST", f"/api/sessions/{{id}}/{action}", {} if body is None else body)


EXAMPLE_ROADS = [("two-lanes", 0, 1), ("one-lane", 1, 2), ("two-lanes", 2, 3), ("one-lane", 0, 4),
                 ("two-lanes", 1, 5), ("one-lane", 3, 7), ("one-lane", 4, 5), ("two-lanes", 5, 6),
                 ("one-lane", 6, 7), ("one-way", 4, 8), ("one-way", 8, 9), ("two-lanes", 9, 10),
                 ("one-way", 10, 11), ("one-way", 11, 7), ("one-lane", 6, 10)]


def edit_network(b: Browser) -> None:
    b.act("name", "position", {"position": 4, "x": 200, "y": 150.5, "name": "dock\nA"})
    for body in ({"position": 12, "x": 1, "y": 1}, {"position": 4, "x": 5000, "y": 100},
                 {"position": 4, "x": "1", "y": 100}, {"position": True}, {"position": 4, "x": 100},
                 {"position": 4, "name": "x" * 41}, {"position": 4, "name": 7}):
        b.act("bad-position", "position", body)
    for kind, a, c in [("one-way", 3, 3), ("two-lane", 0, 1), (["one-way"], 0, 1)]:
        b.act("bad-road", "road", {"kind": kind, "from": a, "to": c})
    for kind, a, c in EXAMPLE_ROADS:
        b.act("road", "road", {"kind": kind, "from": a, "to": c})
    b.act("sixteenth-road", "road", {"kind": "one-way", "from": 8, "to": 11})
    b.act("remove-road", "remove-road", {"index": 14})
    for kind, a, c in [("two-lanes", 1, 0), ("one-lane", 1, 0), ("two-lanes", 2, 1), ("one-way", 8, 9)]:
        b.act("road-beside", "road", {"kind": kind, "from": a, "to": c})
    b.act("road", "road", {"kind": "one-lane", "from": 6, "to": 10})
    b.act("bad-index", "remove-road", {"index": 99})
    b.act("build", "build")
    b.act("distances-unplaced", "distances")


def run_mission(b: Browser) -> None:
    b.act("plan-unplaced", "plan")
    b.act("bad-vehicles", "vehicles", {"starts": [0, 0, 10], "goals": [11, 4, 1]})
    b.act("bad-vehicles", "vehicles", {"starts": [0, 1], "goals": [2, 3, 4]})
    b.act("bad-vehicles", "vehicles", {"starts": [0, 1, 99], "goals": [2, 3, 4]})
    b.act("bad-vehicles", "vehicles", {"starts": [0, 1, 2.5], "goals": [2, 3, 4]})
    b.act("vehicles", "vehicles", {"starts": [0, 7, 10], "goals": [11, 4, 1]})
    b.act("move-unplanned", "move")
    b.act("plan", "plan")
    b.act("distances", "distances")
    b.act("move", "move")
    b.act("obstacle-no-road", "obstacle", {"from": 0, "to": 5})
    b.act("obstacle", "obstacle", {"from": 6, "to": 5})
    b.act("obstacle-again", "obstacle", {"from": 5, "to": 6})
    state = b.act("confirm", "confirm")
    for _ in range(20):
        if not isinstance(state, dict) or not state["plan"] or not state["plan"]["answer"]:
            break
        state = b.act("move", "move")
    b.act("clear-obstacles", "clear-obstacles")
    b.act("clear-obstacles-none", "clear-obstacles")
    b.act("settings", "settings", {"timeout_ms": 1500, "memory_mb": 512})
    b.act("bad-settings", "settings", {"timeout_ms": -1})
    b.act("bad-settings", "settings", {"memory_mb": "a lot"})
    b.call("save-scenario", "GET", "/api/sessions/{id}/scenario", headers={})
    b.call("commands", "GET", "/api/sessions/{id}/commands.txt", headers={})
    b.call("state-since", "GET", "/api/sessions/{id}?since=3", headers={})


def bad_requests(b: Browser) -> None:
    base = "/api/sessions/{id}"
    json_type = {"Content-Type": "application/json"}
    for label, method, path, body, headers in [
        ("text-body", "POST", f"{base}/road", '{"kind": "one-way", "from": 0, "to": 1}', {"Content-Type": "text/plain"}),
        ("broken-json", "POST", f"{base}/road", '{"kind": "one-way", "from": 0,', json_type),
        ("not-utf8", "POST", f"{base}/road", b"\xff\xfe{}", json_type),
        ("nan", "POST", f"{base}/road", '{"kind": "one-way", "from": NaN, "to": 1}', json_type),
        ("list-body", "POST", f"{base}/road", "[1, 2]", json_type),
        ("deep", "POST", f"{base}/road", "[" * 100000 + "]" * 100000, json_type),
        ("long-number", "POST", f"{base}/road", '{"kind": "one-way", "from": 1' + "0" * 5000 + ', "to": 1}', json_type),
        ("float", "POST", f"{base}/road", '{"kind": "one-way", "from": 1.0, "to": 2}', json_type),
        ("missing", "POST", f"{base}/road", "{}", json_type),
        ("no-action", "POST", f"{base}/explode", "{}", json_type),
        ("no-session", "POST", "/api/sessions/nobody/road", "{}", json_type),
        ("put", "PUT", f"{base}/road", "{}", json_type),
        ("bad-since", "GET", f"{base}?since=x", None, {}),
        ("foreign-host", "GET", "/", None, {"Host": "evil.example:80"}),
        ("no-file", "GET", "/static/nothing.js", None, {}),
        ("escape", "GET", "/static/..%2Fserver.py", None, {}),
    ]:
        b.call(label, method, path, body, headers)


def library(b: Browser) -> None:
    for path in SCENARIOS:
        b.call(f"load-{path.stem}", "POST", "/api/sessions/{id}/scenario", path.read_text())
        b.act(f"plan-{path.stem}", "plan")
        b.call(f"save-{path.stem}", "GET", "/api/sessions/{id}/scenario", headers={})
    far = json.loads(SCENARIOS[0].read_text())
    far["positions"] = [{"position": p, "x": 1000 * (p % 4), "y": -2000 * (p // 4)} for p in range(12)]
    b.call("load-far", "POST", "/api/sessions/{id}/scenario", json.dumps(far))
    bad = json.loads(SCENARIOS[0].read_text())
    bad["obstacles"] = [{"from": 0, "to": 11}]
    b.call("load-loose-obstacle", "POST", "/api/sessions/{id}/scenario", json.dumps(bad))
    b.call("load-not-scenario", "POST", "/api/sessions/{id}/scenario", '{"format": "something else"}')


def faults(b: Browser) -> None:
    state = b.call("state", "GET", "/api/sessions/{id}", headers={})
    os.kill(state["controller"]["pid"], signal.SIGKILL)
    time.sleep(0.3)
    b.act("move-dead", "move")
    b.act("plan-dead", "plan")
    b.act("restart", "restart")
    b.act("plan-again", "plan")


def run_http(out: Path, binary: str, mask: Masker) -> None:
    folder = out / "http"
    folder.mkdir()
    sessions = out / "sessions"
    sessions.mkdir()
    server = subprocess.Popen([PYTHON, "-m", "mova_host", "serve", "--port", "0", "--workdir", str(sessions),
                               "--binary", binary], cwd=HOST, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              text=True, env={**os.environ, "PYTHONDONTWRITEBYTECODE": "1"})
    try:
        assert server.stdout is not None
        found = re.search(r"http://127\.0\.0\.1:(\d+)/", server.stdout.readline())
        assert found, "the workbench did not start"
        b = Browser(int(found.group(1)), folder, mask)
        for path in ("/", "/static/app.js", "/static/api.js", "/static/canvas.js", "/static/panels.js",
                     "/static/style.css", "/static/icon.svg"):
            b.call("file", "GET", path, headers={})
        b.call("config", "GET", "/api/config", headers={})
        state = b.call("create", "POST", "/api/sessions", {})
        b.ident = state["id"]
        mask.add(b.ident, "<SESSION>")
        steps: list[Callable[[Browser], None]] = [edit_network, run_mission, bad_requests, library, faults]
        for step in steps:
            step(b)
        b.call("end", "DELETE", "/api/sessions/{id}", headers={})
    finally:
        server.terminate()
        server.wait(30)


# ----- comparing -------------------------------------------------------------------------------


_STEP_QUERY = re.compile(r"VEHICLE_GET_STEP_POS (\d+) (\d+)")


def _step_order(line: str) -> tuple[int, int]:
    found = _STEP_QUERY.search(line)
    assert found is not None
    return int(found.group(2)), int(found.group(1))


def _sorted_step_queries(items: list[Any], line_of: Callable[[Any], str]) -> list[Any]:
    """The items with each run of step queries in the order step 0, 1, ... (vehicle 1 to 3)."""
    out: list[Any] = []
    run: list[Any] = []
    for item in [*items, None]:
        if item is not None and _STEP_QUERY.search(line_of(item)):
            run.append(item)
            continue
        out += sorted(run, key=lambda i: _step_order(line_of(i)))
        run = []
        if item is not None:
            out.append(item)
    return out


def _as_named(value: Any, old: bool) -> Any:
    """A workbench answer with the named changes made: the old plan shape to the new one, the
    new keys left out, step queries in one order."""
    if not isinstance(value, dict):
        return value
    value = {k: v for k, v in value.items() if k not in ("geometry", "kind_words")}
    plan = value.get("plan")
    if old and "transcript" in value and (plan is None or "num_steps" in plan):
        value["now"] = plan["steps"][0] if plan else None
        if plan:
            found = plan["answer"]
            value["plan"] = {"answer": found, "steps": plan["num_steps"] if found else None,
                             "plan": plan["steps"] if found else None, "obstacles": plan["obstacles"],
                             "history": plan["history"]}
    if isinstance(value.get("transcript"), list):
        seqs = [e["seq"] for e in value["transcript"]]
        entries = _sorted_step_queries(value["transcript"], lambda e: e["line"])
        value["transcript"] = [{**e, "seq": seq} for e, seq in zip(entries, seqs)]
    return value


def _shown_as_json(match: re.Match[str]) -> str:
    try:
        value = ast.literal_eval(match.group(1))
    except (ValueError, SyntaxError):
        return match.group(0)
    kinds = {list: "a list", dict: "an object"}
    return f"not {kinds.get(type(value)) or json.dumps(value)}."


def named(text: str, old: bool) -> str:
    """A recorded workbench exchange with the named changes made (BEFORE's when `old`)."""
    head, _, body = text.partition("\n---\n")
    if "type application/json" in head:
        body = json.dumps(_as_named(json.loads(body), old), indent=1, ensure_ascii=False, sort_keys=True)
    elif head.startswith(("GET /static/", "GET /\n")):
        body = "(the page's own file)"
    elif "mova-commands.txt" in head:
        body = "\n".join(_sorted_step_queries(body.split("\n"), lambda line: line))
    elif old:
        body = re.sub(r"not ((?:True|False|None|'[^']*'|\[.*\]|\{.*\})|-?[0-9.]+)\.$", _shown_as_json, body)
    return head + "\n---\n" + body


def compare(before: Path, after: Path, with_named: bool = False) -> int:
    names = sorted({p.relative_to(before) for p in before.rglob("*.txt")} |
                   {p.relative_to(after) for p in after.rglob("*.txt")})

    def text(folder: Path, name: Path, old: bool) -> str | None:
        path = folder / name
        if not path.is_file():
            return None
        content = path.read_text()
        return named(content, old) if with_named and name.parts[0] == "http" else content

    differ = [n for n in names if text(before, n, True) is None or text(before, n, True) != text(after, n, False)]
    for name in differ:
        print(f"differs: {name}")
    print(f"{len(names)} cases, {len(names) - len(differ)} equal, {len(differ)} differ")
    return 1 if differ else 0


def main(argv: list[str]) -> int:
    if len(argv) >= 2 and argv[0] == "record":
        out = Path(argv[1]).resolve()
        binary = argv[argv.index("--binary") + 1] if "--binary" in argv else str(ROOT / "build" / "mova")
        if out.exists():
            shutil.rmtree(out)
        out.mkdir(parents=True)
        mask = Masker(out)
        mask.add(str(Path(binary).resolve()), "<BINARY>")
        mask.add(str(ROOT), "<ROOT>")
        run_cli(out, binary, mask)
        run_http(out, binary, mask)
        shutil.rmtree(out / "files", ignore_errors=True)
        shutil.rmtree(out / "sessions", ignore_errors=True)
        return 0
    if len(argv) in (3, 4) and argv[0] == "compare":
        return compare(Path(argv[1]), Path(argv[2]), "--named" in argv[3:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
