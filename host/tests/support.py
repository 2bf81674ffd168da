"""Shared fixtures: the package on the path, the controller under test, the examples, a
temporary folder per test, a client per test, stand-in controllers and random scenarios."""

from __future__ import annotations

import copy
import os
import random
import re
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from mova_host import MovaClient, Timeouts, find_binary  # noqa: E402
from mova_host.exact import Network  # noqa: E402
from mova_host.roads import Road, RoadKind  # noqa: E402
from mova_host.scenario import Scenario  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
LIBRARY = EXAMPLES / "scenarios"  # the example scenarios, each with its expected outcome
NS = {"s": "http://www.w3.org/2000/svg"}  # the name space of SVG, for reading pictures back


def binary() -> Path:
    try:
        return find_binary()
    except FileNotFoundError as missing:
        raise unittest.SkipTest(f"no controller to test against: {missing}") from None


def temporary_folder(case: unittest.TestCase, prefix: str = "mova-host-test-") -> str:
    """A folder that lasts as long as the test."""
    folder = tempfile.TemporaryDirectory(prefix=prefix)
    case.addCleanup(folder.cleanup)
    return folder.name


def write_file(folder: str, name: str, text: str) -> str:
    path = os.path.join(folder, name)
    with open(path, "w") as handle:
        handle.write(text)
    return path


class ClientCase(unittest.TestCase):
    """Gives each test a client on the real controller in its own temporary directory."""

    def new_client(self, **options) -> MovaClient:
        options.setdefault("timeouts", Timeouts(answer=10.0))
        client = MovaClient(binary(), temporary_folder(self), **options)
        self.addCleanup(client.kill)
        return client


def write_script(folder: str, text: str) -> str:
    """An executable stand-in for the controller, written in Python."""
    path = os.path.join(folder, "fake-mova")
    with open(path, "w") as script:
        script.write(f"#!{sys.executable}\n{text}")
    os.chmod(path, 0o755)
    return path


def random_scenario(rng: random.Random) -> Scenario:
    """3 to 15 roads of random kinds (now and then from a position to itself); a goal mostly
    some random legal steps away from the starts, otherwise anywhere; now and then obstacles,
    mostly on roads."""
    kinds = list(RoadKind)
    roads = []
    for _ in range(rng.randint(3, 15)):
        a = rng.randrange(12)
        b = a if rng.randrange(20) == 0 else (a + rng.randint(1, 11)) % 12
        roads.append(Road(rng.choice(kinds), a, b))
    starts = tuple(rng.sample(range(12), 3))
    obstacles = []
    if rng.randrange(4) == 0:
        for _ in range(rng.randint(1, 3)):
            road = rng.choice(roads)
            if rng.randrange(4) and road.a != road.b:
                obstacles.append((road.b, road.a))
            else:
                a = rng.randrange(12)
                obstacles.append((a, (a + rng.randint(1, 11)) % 12))
    goals = starts
    if rng.randrange(4):
        net = Network(roads, obstacles)
        for _ in range(rng.randint(1, 14)):
            options = list(net.successors(goals))
            if not options:
                break
            goals = rng.choice(options)
    while goals == starts:
        goals = tuple(rng.sample(range(12), 3))
    return Scenario(roads, starts, goals, obstacles)


# ----- a scenario document ---------------------------------------------------------------------

BASE = {
    "format": "mova-scenario",
    "version": 1,
    "positions": [{"position": 0, "name": "dock", "x": 80, "y": 60.5}],
    "roads": [{"kind": "two-lanes", "from": 0, "to": 1}, {"kind": "one-way", "from": 1, "to": 2}],
    "vehicles": [{"vehicle": 1, "start": 0, "goal": 2}, {"vehicle": 3, "start": 5, "goal": 5},
                 {"vehicle": 2, "start": 1, "goal": 0}],
    "obstacles": [{"from": 2, "to": 1}],
    "settings": {"timeout_ms": 250, "memory_mb": 64},
}


def changed(path: str, value: object) -> dict:
    """BASE with one field set (path like "roads[1].kind"); value ... deletes it."""
    data = copy.deepcopy(BASE)
    keys = [int(k) if k.isdigit() else k for k in path.replace("[", ".").replace("]", "").split(".")]
    target = data
    for key in keys[:-1]:
        target = target[key]
    if value is ...:
        del target[keys[-1]]
    else:
        target[keys[-1]] = value
    return data


# ----- reading pictures back -------------------------------------------------------------------


def parse(text: str) -> ET.Element:
    return ET.fromstring(text.encode())


def numbers(d: str) -> list[tuple[float, float]]:
    values = [float(x) for x in re.findall(r"-?\d+(?:\.\d+)?", d)]
    return list(zip(values[::2], values[1::2]))


def curve_points(d: str) -> list[tuple[float, float]]:
    """Points along path data made of M, L and Q pieces."""
    points: list[tuple[float, float]] = []
    for piece in re.findall(r"[MLQ][^MLQ]*", d):
        values = numbers(piece[1:])
        if piece[0] == "Q" and points:
            (cx, cy), (ex, ey) = values
            sx, sy = points[-1]
            for k in range(1, 21):
                t = k / 20
                u = 1 - t
                points.append((u * u * sx + 2 * u * t * cx + t * t * ex, u * u * sy + 2 * u * t * cy + t * t * ey))
        else:
            points += values
    return points
