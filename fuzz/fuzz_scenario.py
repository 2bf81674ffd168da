#!/usr/bin/env python3
"""Structure-aware fuzzing of the host package's readers of scenario files and site files.

Inputs are made from real documents (examples/scenarios/*.json, examples/fleet/*.json and the
files of fuzz/corpus/scenario/) by changing their JSON trees: hostile numbers (hundreds of
digits, 1e308, 1e999, 5e-324, NaN, Infinity), lists and objects nested thousands deep, values
of the wrong type, keys removed, unknown keys added, lists repeated, huge texts, control
characters and halves of characters (lone surrogates), parts of other documents; now and then
the text itself is cut or changed. Every input goes to both readers (`loads_scenario` and
`loads_site`), as bytes or as a text. One input in four is a command stream instead (a scenario
as a stream can be given where a scenario file can): the command streams of the examples with
lines removed, repeated, swapped or added and arguments made hostile, read by `read_stream`. The
only outcomes allowed:

- the document is read: a scenario is then written back strictly and read again to the same
  scenario, its command stream, its doubtful points and its picture are made (the picture must
  parse as XML);
- the reader's own error (ScenarioError, SiteError) with one line of at most 500 characters
  that begins with the source's name.

Anything else (another exception, an input that takes longer than --limit seconds) is a
finding: the input is saved as <findings>/crash-<sha1> (the text as UTF-8, halves of characters
kept) with the traceback beside it, and the run ends with status 1. The files of the corpus
folder are run first: an input that ever failed is kept there as regression-<fault>.
Documents that read well join the pool the later inputs are made from.

Usage: fuzz_scenario.py [--seconds S] [--seed N] [--corpus DIR] [--findings DIR]
Standard library only; runs with the interpreter of the host package.
"""

from __future__ import annotations

import argparse
import copy
import hashlib
import json
import random
import resource
import signal
import sys
import time
import traceback
import xml.etree.ElementTree as ET
from pathlib import Path
from typing import Any

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "host"))

from mova_host import svg  # noqa: E402
from mova_host.errors import ScenarioError  # noqa: E402
from mova_host.fleet.site import SiteError, loads_site  # noqa: E402
from mova_host.protocol import COMMANDS  # noqa: E402
from mova_host.scenario import command_lines, dumps_scenario, loads_scenario, parse_scenario  # noqa: E402
from mova_host.scenario_check import check_scenario  # noqa: E402
from mova_host.scenario_stream import read_stream  # noqa: E402

SOURCE = "fuzzed.json"
POOL_LIMIT = 400


class Raw:
    """A piece of JSON text written as it is: what JSON's own writer would not write."""

    def __init__(self, text: str):
        self.text = text


NUMBERS = ["1e308", "-1e308", "1e309", "1e999", "5e-324", "-0.0", "0.0", "9" * 400, "-" + "1" * 41, "1" * 40,
           "1" * 5000, "2147483647", "2147483648", "-2147483649", "1e-400", "NaN", "Infinity", "-Infinity",
           "12", "11", "-1", "0", "1", "2", "3", "1.5", "1E2", "600001", "1048577", "1000000", "1000000.5"]
TEXTS = ["", " ", "dock A", "\x00\x01\x08\x0b\x1b[2J\x7f", "\u2028\u2029\u202e", "\U0001f600", "a/b#+$",
         "one-way", "one-lane", "two-lanes", "mova-scenario", "mova-site", "\ufffe\uffff", "]]>&<\"'"]
ESCAPES = ["\\ud800", "\\udfff", "\\ud83d\\ude00", "\\ud83d", "\\u0000", "\\\\ud800"]


def write(value: Any) -> str:
    """JSON text of a tree that may hold Raw pieces."""
    if isinstance(value, Raw):
        return value.text
    if isinstance(value, dict):
        return "{" + ", ".join(f"{json.dumps(k)}: {write(v)}" for k, v in value.items()) + "}"
    if isinstance(value, list):
        return "[" + ", ".join(write(v) for v in value) + "]"
    return json.dumps(value)


def hostile(rng: random.Random, pool: list[Any]) -> Any:
    """A value to put somewhere it does not belong (or does)."""
    kind = rng.randrange(10)
    if kind < 3:
        return Raw(rng.choice(NUMBERS))
    if kind == 3:
        return rng.choice(TEXTS)
    if kind == 4:
        return Raw('"' + "".join(rng.choice(ESCAPES + ["x", " "]) for _ in range(rng.randint(1, 6))) + '"')
    if kind == 5:
        depth = rng.choice([2, 63, 64, 65, 1000, 5000, 100_000])
        opening, closing = ("[", "]") if rng.randrange(2) else ('{"a": ', "}")
        return Raw(opening * depth + ("[]" if opening == "[" else "1") + closing * depth)
    if kind == 6:
        return "x" * rng.choice([41, 201, 2001, 10_001, 300_000, (1 << 20) + 1])
    if kind == 7:
        return rng.choice([True, False, None, [], {}, [0, 1], {"position": 0}])
    if kind == 8:
        return copy.deepcopy(pick(rng, rng.choice(pool))[1]) if pool else None
    return rng.randint(-2, 13)


def pick(rng: random.Random, tree: Any) -> tuple[list[Any], Any]:
    """A random node of the tree: its path of keys and indexes, and the node."""
    path: list[Any] = []
    node = tree
    while isinstance(node, (dict, list)) and node and rng.randrange(4):
        key = rng.choice(list(node)) if isinstance(node, dict) else rng.randrange(len(node))
        path.append(key)
        node = node[key]
    return path, node


def mutate(rng: random.Random, tree: Any, pool: list[Any]) -> Any:
    """One change of the tree (in place where it can be; the new tree returned)."""
    path, node = pick(rng, tree)
    parent = tree
    for key in path[:-1]:
        parent = parent[key]
    choice = rng.randrange(7)
    if not path:
        return hostile(rng, pool) if choice == 0 else tree
    key = path[-1]
    if choice <= 2:
        parent[key] = hostile(rng, pool)
    elif choice == 3:
        del parent[key]
    elif choice == 4 and isinstance(node, dict):
        node[rng.choice(["x", "position", "kind", "from", "to", "name", "a b", "\x00", "x" * 300])] = hostile(rng, pool)
    elif choice == 5 and isinstance(node, list) and node:
        item = rng.choice(node)
        times = min(rng.choice([1, 12, 70, 500]), (2 << 20) // (len(write(item)) + 2))
        node.extend(copy.deepcopy(item) for _ in range(times))
    else:
        parent[key] = [node] if rng.randrange(2) else {"value": node}
    return tree


ARGUMENTS = ["0", "1", "2", "3", "5", "11", "12", "-1", "+3", "007", "2147483647", "2147483648", "1" * 5000,
             "1.5", "0x1", "\u00b2", "", "a", "\x00", "\ud800"]


def make_stream(rng: random.Random, streams: list[list[str]]) -> str:
    """A command stream of the examples, changed line by line."""
    lines = list(rng.choice(streams))
    for _ in range(rng.randint(1, 4)):
        index = rng.randrange(len(lines) + 1)
        choice = rng.randrange(6)
        if choice == 0 and lines:
            del lines[min(index, len(lines) - 1)]
        elif choice == 1 and lines:
            lines[index:index] = [rng.choice(lines)] * rng.choice([1, 2, 20, 200])
        elif choice == 2:
            name = rng.choice(list(COMMANDS))
            lines.insert(index, " ".join([name, *(rng.choice(ARGUMENTS) for _ in COMMANDS[name].args)]))
        elif choice == 3 and lines:
            words = lines[min(index, len(lines) - 1)].split(" ")
            words[rng.randrange(len(words))] = rng.choice(ARGUMENTS)
            lines[min(index, len(lines) - 1)] = " ".join(words)
        elif choice == 4 and len(lines) > 1:
            i, j = rng.randrange(len(lines)), rng.randrange(len(lines))
            lines[i], lines[j] = lines[j], lines[i]
        else:
            lines.insert(index, rng.choice(["# a comment", "", "  ", "\t", "MOVA_START_MISSION", "\x00" * 3]))
    return "\n".join(lines) + rng.choice(["\n", "", "\r\n"])


def make_input(rng: random.Random, pool: list[Any]) -> str | bytes:
    tree = copy.deepcopy(rng.choice(pool))
    for _ in range(rng.randint(1, 4)):
        tree = mutate(rng, tree, pool)
    text = write(tree)
    if rng.randrange(12) == 0:
        cut = rng.randrange(len(text) + 1)
        text = text[:cut] + rng.choice(["", ",", "}", "]", '"', "\\", "\x00", "\ud800", ",,"]) + text[cut + 1:]
    if rng.randrange(3) == 0:
        return text  # a text, which may hold a half of a character as it is
    return text.encode("utf-8", "surrogatepass")


# ----- running one input -----------------------------------------------------------------------


class Finding(Exception):
    """An outcome the readers may not have."""


def check_error(error: Exception) -> None:
    message = str(error)
    if "\n" in message or len(message) > 500 or not message.startswith(f"{SOURCE}: "):
        raise Finding(f"the reader's error is not one line naming its place: {message[:600]!r}")


def exercise_scenario(data: str | bytes) -> Any:
    try:
        scenario = loads_scenario(data, SOURCE)
    except ScenarioError as error:
        check_error(error)
        return None
    again = loads_scenario(dumps_scenario(scenario), SOURCE)
    if again != scenario:
        raise Finding("a scenario written back does not read back the same")
    command_lines(scenario)
    check_scenario(scenario)
    picture = svg.render_network(scenario.roads, scenario.obstacles, layout=scenario.coordinates() or "grid",
                                 title=scenario.name or "scenario", names=scenario.names())
    ET.fromstring(picture.encode("utf-8"))
    return json.loads(dumps_scenario(scenario))


def exercise_stream(text: str) -> bool:
    try:
        read = read_stream(text, SOURCE)
    except ScenarioError as error:
        check_error(error)
        return False
    again = parse_scenario(json.loads(dumps_scenario(read.scenario)), SOURCE)
    if again != read.scenario:
        raise Finding("the scenario of a stream written back does not read back the same")
    command_lines(read.scenario)
    return True


def exercise_site(data: str | bytes) -> Any:
    try:
        site = loads_site(data, SOURCE)
    except SiteError as error:
        check_error(error)
        return None
    return site


class Timeout(Exception):
    pass


def run_one(data: str | bytes, limit: float, stream: bool = False) -> tuple[bool, list[Any]]:
    """Whether the input was read, and the documents it read as (for the pool); Finding for any
    other outcome."""
    def expired(signum: int, frame: Any) -> None:
        raise Timeout()

    previous = signal.signal(signal.SIGALRM, expired)
    signal.setitimer(signal.ITIMER_REAL, limit)
    try:
        if stream:
            return exercise_stream(data if isinstance(data, str) else data.decode("utf-8", "surrogatepass")), []
        scenario = exercise_scenario(data)
        site = exercise_site(data)
    except Finding:
        raise
    except Timeout:
        raise Finding(f"the readers took longer than {limit:g} s") from None
    except Exception as error:
        raise Finding(f"{type(error).__name__} escaped the reader: {error}"[:600]) from error
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    read = [scenario] if scenario is not None else []
    if site is not None:
        read.append(json.loads(data))
    return bool(read), read


# ----- the campaign ----------------------------------------------------------------------------


def seeds(corpus: Path) -> tuple[list[Any], list[list[str]], list[tuple[str, bytes]]]:
    """The documents and command streams to start from, and the corpus files to run first (by
    name; a file whose name ends in .txt is a stream)."""
    paths = sorted((ROOT / "examples" / "scenarios").glob("*.json"))
    documents = [json.loads(p.read_text()) for p in paths]
    streams = [command_lines(loads_scenario(p.read_bytes())) for p in paths]
    streams.append((ROOT / "examples" / "mission.txt").read_text().splitlines())
    documents += [json.loads(p.read_text()) for p in sorted((ROOT / "examples" / "fleet").glob("*.json"))]
    files = [(p.name, p.read_bytes()) for p in sorted(corpus.glob("*")) if p.is_file()] if corpus.is_dir() else []
    return documents, streams, files


def save(findings: Path, data: str | bytes, reason: str, details: str) -> Path:
    raw = data.encode("utf-8", "surrogatepass") if isinstance(data, str) else data
    findings.mkdir(parents=True, exist_ok=True)
    path = findings / f"crash-{hashlib.sha1(raw).hexdigest()}"
    path.write_bytes(raw)
    path.with_suffix(".txt").write_text(f"{reason}\n\n{details}")
    return path


def campaign(args: argparse.Namespace) -> int:
    documents, streams, files = seeds(Path(args.corpus))
    pool, rng = list(documents), random.Random(args.seed)
    counts = {"runs": 0, "read": 0, "refused": 0}
    started = time.monotonic()
    inputs = ((name, data) for name, data in files)
    while True:
        item = next(inputs, None)
        if item is None and time.monotonic() - started >= args.seconds:
            break
        stream = item[0].endswith(".txt") if item is not None else rng.randrange(4) == 0
        if item is not None:
            name, data = item
        else:
            name, data = "generated", make_stream(rng, streams) if stream else make_input(rng, pool)
        try:
            was_read, read = run_one(data, args.limit, stream)
        except Finding as finding:
            path = save(Path(args.findings), data, str(finding), traceback.format_exc())
            print(f"finding ({name}): {finding}\ninput: {path}")
            return report(args, counts, started, len(files), "FAILED")
        counts["runs"] += 1
        counts["read" if was_read else "refused"] += 1
        if read and len(pool) < POOL_LIMIT:
            pool += read
    return report(args, counts, started, len(files), "ok")


def report(args: argparse.Namespace, counts: dict[str, int], started: float, seeds_run: int, result: str) -> int:
    seconds = time.monotonic() - started
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024
    print(f"fuzz_scenario: {result}, {seconds:.0f} s, {counts['runs']} executions "
          f"({counts['runs'] / max(seconds, 1e-9):.0f}/s), seed {args.seed}, {seeds_run} corpus inputs first, "
          f"{counts['read']} read, {counts['refused']} refused, peak RSS {peak} MB")
    return 0 if result == "ok" else 1


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--seed", type=int, default=20)
    parser.add_argument("--limit", type=float, default=10.0, help="seconds one input may take")
    parser.add_argument("--corpus", default=str(ROOT / "fuzz" / "corpus" / "scenario"))
    parser.add_argument("--findings", default=str(ROOT / "build-fuzz" / "findings-scenario"))
    return campaign(parser.parse_args())


if __name__ == "__main__":
    sys.exit(main())
