"""Shared pieces of the fleet tests: a real Mosquitto per test, a recorder of every message on
the broker, the bridge run in a thread, the VDA 5050 schemas, and the proof of the step order.

Without paho, jsonschema, mosquitto or the controller the tests are skipped with the reason;
with the environment variable CI set they fail instead.
"""

from __future__ import annotations

import io
import json
import math
import os
import queue
import re
import tempfile
import threading
import time
import unittest
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import support  # noqa: F401  (puts the package on the path)

from mova_host.cli import main
from mova_host.fleet.broker import LocalBroker, mosquitto_binary
from mova_host.fleet.core import Network, Road, RoadKind
from mova_host.fleet.link import Incoming, Link, paho_available

try:
    import jsonschema
except ImportError:  # pragma: no cover
    jsonschema = None

SCHEMAS = Path(__file__).resolve().parents[1] / "third_party" / "vda5050"
TIMESTAMP = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z")
FAST = 40.0  # m/s: a road of a few metres takes a tenth of a second


def require_tools() -> None:
    missing = []
    if not paho_available():
        missing.append("python3-paho-mqtt")
    if jsonschema is None:
        missing.append("python3-jsonschema")
    if mosquitto_binary() is None:
        missing.append("mosquitto")
    if missing:
        reason = "the fleet tests need " + ", ".join(missing)
        if os.environ.get("CI"):
            raise AssertionError(reason)
        raise unittest.SkipTest(reason)
    support.binary()


# ----- files -----------------------------------------------------------------------------------


def site_data(nodes: dict[int, tuple[float, float]], serial: str = "T") -> dict[str, Any]:
    return {"format": "mova-site", "version": 1, "interface": "uagv", "map": "test-map",
            "positions": [{"position": p, "node": f"n{p}", "x": x, "y": y} for p, (x, y) in sorted(nodes.items())],
            "vehicles": [{"vehicle": v, "manufacturer": "Test", "serial": f"{serial}-{v}"} for v in (1, 2, 3)]}


def scenario_data(roads: list[tuple[str, int, int]], starts: tuple[int, int, int], goals: tuple[int, int, int],
                  obstacles: list[tuple[int, int]] | None = None) -> dict[str, Any]:
    return {"format": "mova-scenario", "version": 1,
            "roads": [{"kind": k, "from": a, "to": b} for k, a, b in roads],
            "vehicles": [{"vehicle": v, "start": starts[v - 1], "goal": goals[v - 1]} for v in (1, 2, 3)],
            "obstacles": [{"from": a, "to": b} for a, b in obstacles or []]}


def roads_of(data: dict[str, Any]) -> list[Road]:
    return [Road(RoadKind(r["kind"]), r["from"], r["to"]) for r in data["roads"]]


# ----- the broker's traffic --------------------------------------------------------------------


@dataclass
class Record:
    at: float
    topic: str
    data: Any  # decoded JSON, or None
    payload: bytes
    retained: bool

    @property
    def subtopic(self) -> str:
        return self.topic.rsplit("/", 1)[-1]

    @property
    def serial(self) -> str:
        return self.topic.split("/")[3]


class Recorder:
    """Subscribes to every topic and keeps every message in the broker's order."""

    def __init__(self, url: str):
        self.events: queue.Queue[Any] = queue.Queue()
        self.records: list[Record] = []
        self.link = Link(url, f"recorder-{os.getpid()}-{id(self)}", self.events, subscriptions=(("#", 1),))
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def start(self) -> "Recorder":
        self.link.start()
        self.link.wait_connected(5)
        self._thread.start()
        return self

    def _run(self) -> None:
        while not self._stop.is_set():
            try:
                event = self.events.get(timeout=0.05)
            except queue.Empty:
                continue
            if isinstance(event, Incoming):
                try:
                    data = json.loads(event.payload)
                except ValueError:
                    data = None
                self.records.append(Record(time.monotonic(), event.topic, data, event.payload, event.retained))

    def stop(self) -> None:
        time.sleep(0.2)
        self._stop.set()
        self._thread.join(2)
        self.link.stop()

    def of(self, subtopic: str) -> list[Record]:
        return [r for r in self.records if r.subtopic == subtopic and not r.retained]


class Schemas:
    def __init__(self) -> None:
        assert jsonschema is not None
        self.validators = {}
        for name in ("order", "instantActions", "state", "connection"):
            schema = json.loads((SCHEMAS / "2.0.0" / f"{name}.schema").read_text())
            self.validators[name] = [jsonschema.Draft202012Validator(schema)]
        later = json.loads((SCHEMAS / "2.1.0" / "instantActions.schema").read_text())
        self.validators["instantActions"].append(jsonschema.Draft202012Validator(later))

    def errors(self, record: Record) -> list[str]:
        found = []
        for validator in self.validators.get(record.subtopic, []):
            found += [f"{record.topic}: {e.message}" for e in validator.iter_errors(record.data)]
        return found


# ----- running the bridge ----------------------------------------------------------------------


class Lines(io.TextIOBase):
    """A text stream that others can read while the bridge writes it."""

    def __init__(self) -> None:
        self.lines: list[str] = []
        self._part = ""
        self._lock = threading.Lock()

    def write(self, text: str) -> int:
        with self._lock:
            self._part += text
            *done, self._part = self._part.split("\n")
            self.lines += done
        return len(text)

    def events(self) -> list[dict[str, Any]]:
        with self._lock:
            return [json.loads(line) for line in self.lines if line.startswith("{")]

    def wait_for(self, kind: str, seconds: float = 20.0, count: int = 1, after: int = 0, within: str = "",
                 **match: Any) -> dict[str, Any]:
        """The count-th event of a kind (among the events from index `after` on) whose fields match
        and whose reason holds `within`."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            found = [e for e in self.events()[after:] if e["event"] == kind and within in e.get("reason", "")
                     and all(e.get(k) == v for k, v in match.items())]
            if len(found) >= count:
                return found[count - 1]
            time.sleep(0.01)
        raise AssertionError(f"no {kind} event {match} within {seconds} s; saw {self.lines[-10:]}")


@dataclass
class BridgeRun:
    out: Lines
    thread: threading.Thread
    status: list[int] = field(default_factory=list)

    def wait(self, seconds: float = 60.0) -> int:
        self.thread.join(seconds)
        if self.thread.is_alive():
            raise AssertionError(f"the bridge did not end within {seconds} s; last lines {self.out.lines[-10:]}")
        return self.status[0]


def start_bridge(args: list[str]) -> BridgeRun:
    out = Lines()
    run = BridgeRun(out, threading.Thread(target=lambda: None))

    def target() -> None:
        run.status.append(main(["fleet", *args, "--json"], out=out))  # type: ignore[arg-type]

    run.thread = threading.Thread(target=target, daemon=True)
    run.thread.start()
    return run


class FleetCase(unittest.TestCase):
    """A broker, a recorder and a folder for each test."""

    @classmethod
    def setUpClass(cls) -> None:
        require_tools()
        cls.schemas = Schemas()

    def setUp(self) -> None:
        folder = tempfile.TemporaryDirectory(prefix="mova-fleet-test-")
        self.addCleanup(folder.cleanup)
        self.folder = Path(folder.name)
        self.broker = LocalBroker(log=self.folder / "mosquitto.log").start()
        self.addCleanup(self.broker.close)
        self.recorder = Recorder(self.broker.url).start()
        self.addCleanup(self.recorder.stop)

    def write(self, name: str, data: dict[str, Any]) -> str:
        path = self.folder / name
        path.write_text(json.dumps(data))
        return str(path)

    def zone(self, scenario: dict[str, Any], site: dict[str, Any]) -> tuple[str, str]:
        return self.write("scenario.json", scenario), self.write("site.json", site)

    def bridge(self, scenario: str, site: str, *extra: str) -> BridgeRun:
        return start_bridge([scenario, "--site", site, "--broker", self.broker.url, "--binary",
                             str(support.binary()), "--wait-s", "10", *extra])

    def assert_valid_messages(self) -> None:
        """Every message of the bridge and the vehicles against the schemas; header counts."""
        counts: dict[str, int] = {}
        problems = []
        for record in self.recorder.records:
            if record.data is None or record.subtopic not in self.schemas.validators:
                continue
            problems += self.schemas.errors(record)
            if not TIMESTAMP.fullmatch(str(record.data.get("timestamp"))):
                problems.append(f"{record.topic}: timestamp {record.data.get('timestamp')!r}")
            if record.subtopic in ("order", "instantActions"):
                expected = counts.get(record.topic, -1) + 1
                if record.data.get("headerId") != expected:
                    problems.append(f"{record.topic}: headerId {record.data.get('headerId')}, expected {expected}")
                counts[record.topic] = expected
        self.assertEqual(problems, [])


# ----- the proof of the step order -------------------------------------------------------------


def _arrived(record: Record, order_id: str, node: str) -> bool:
    d = record.data
    return (record.subtopic == "state" and d.get("orderId") == order_id and d.get("lastNodeId") == node
            and not d.get("nodeStates") and not d.get("edgeStates") and not d.get("driving"))


def _holds(record: Record, order_id: str, update: int) -> bool:
    d = record.data
    return record.subtopic == "state" and d.get("orderId") == order_id and d.get("orderUpdateId", -1) >= update


def _gone(record: Record, order_id: str, origin: tuple[float, float], target: tuple[float, float], node: str) -> bool:
    """The leader's state shows its order taken and it arrived, or past the middle of its edge."""
    if not _holds(record, order_id, 0):
        return False
    if record.data.get("lastNodeId") == node:
        return True
    where = record.data.get("agvPosition")
    half = math.dist(origin, target) / 2
    return bool(where) and half > 0 and math.dist(origin, (where["x"], where["y"])) > half


def prove_steps(records: list[Record], site: dict[str, Any], roads: list[Road], starts: tuple[int, ...],
                obstacles: list[tuple[int, int]], blocked: list[tuple[int, int]] = ()) -> list[tuple[int, ...]]:
    """Checks the step order and legality from the messages seen on the broker; returns the
    placements the zone went through. Orders are grouped into joint steps by their orderId
    (one per vehicle and step); each group is checked against the step rules, every order of a
    group must come after the arrival of every move of the group before, a vehicle that enters a
    node another leaves must get its (released) order only after that vehicle took its order
    and left, and vehicles that swap or turn round get their released orders only after all of
    them took their held ones."""
    coords = {f"n{p['position']}": (p["x"], p["y"]) for p in site["positions"]}
    node_of = {p["position"]: f"n{p['position']}" for p in site["positions"]}
    pos_of = {v: k for k, v in node_of.items()}
    serial_vehicle = {f"{v['serial']}": v["vehicle"] for v in site["vehicles"]}
    groups: dict[str, list[tuple[int, Record]]] = {}
    for index, r in enumerate(records):
        if r.subtopic == "order" and r.data:
            groups.setdefault(r.data["orderId"].rsplit("-v", 1)[0], []).append((index, r))
    placement = list(starts)
    history = [tuple(placement)]
    previous: list[tuple[int, str, str]] = []  # (vehicle, orderId, target node) of the last group
    known_blocked: list[tuple[int, int]] = list(obstacles)
    for key, orders in groups.items():
        first = orders[0][0]
        moves = {}
        for _, r in orders:
            v = serial_vehicle[r.serial]
            moves[v] = (pos_of[r.data["nodes"][0]["nodeId"]], pos_of[r.data["nodes"][-1]["nodeId"]], r.data["orderId"])
        for v, (a, _, _) in moves.items():
            assert placement[v - 1] == a, f"{key}: vehicle {v} ordered from {a}, stands on {placement[v - 1]}"
        after = list(placement)
        for v, (_, b, _) in moves.items():
            after[v - 1] = b
        net = Network(roads, known_blocked)
        assert net.legal(tuple(placement), tuple(after)), f"{key}: {tuple(placement)} -> {tuple(after)} is no legal step"
        for v, order_id, node in previous:
            done = any(_arrived(r, order_id, node) for r in records[:first])
            refused = any(r.subtopic == "state" and any(
                ref.get("referenceValue") == order_id for e in r.data.get("errors", []) for ref in e.get("errorReferences", []))
                for r in records[:first])
            assert done or refused, f"{key} sent before vehicle {v} arrived with {order_id}"
        _prove_followers(records, orders, moves, node_of, coords, serial_vehicle)
        arrived = {v: any(_arrived(r, m[2], node_of[m[1]]) for r in records) for v, m in moves.items()}
        for v, (_, b, _) in moves.items():
            if arrived[v]:
                placement[v - 1] = b
        refused_roads = [road for road in blocked if road not in known_blocked]
        if not all(arrived.values()):
            known_blocked += refused_roads
        previous = [(v, m[2], node_of[m[1]]) for v, m in moves.items() if arrived[v]]
        history.append(tuple(placement))
    return history


def _prove_followers(records: list[Record], orders: list[tuple[int, Record]], moves: dict[int, tuple[int, int, str]],
                     node_of: dict[int, str], coords: dict[str, tuple[float, float]], serial_vehicle: dict[str, int]) -> None:
    leaves = {a: v for v, (a, _, _) in moves.items()}
    for index, r in orders:
        v = serial_vehicle[r.serial]
        if not all(e["released"] for e in r.data["edges"]):
            continue  # a held order moves nothing
        a, b, order_id = moves[v]
        leader = leaves.get(b)
        if leader is None:
            continue
        la, lb, lorder = moves[leader]
        if _cycle(moves, v):
            for w in _cycle_members(moves, v):
                wa, wb, worder = moves[w]
                assert any(_holds(x, worder, 0) for x in records[:index]), \
                    f"{order_id} released before vehicle {w} took its held order {worder}"
            continue
        assert any(_gone(x, lorder, coords[node_of[la]], coords[node_of[lb]], node_of[lb]) for x in records[:index]
                   if serial_vehicle.get(x.serial) == leader), \
            f"{order_id} into {b} sent before vehicle {leader} took {lorder} and left"


def _cycle_members(moves: dict[int, tuple[int, int, str]], v: int) -> list[int]:
    leaves = {a: w for w, (a, _, _) in moves.items()}
    members, current = [v], leaves.get(moves[v][1])
    while current is not None and current != v and current not in members:
        members.append(current)
        current = leaves.get(moves[current][1])
    return members if current == v else []


def _cycle(moves: dict[int, tuple[int, int, str]], v: int) -> bool:
    return bool(_cycle_members(moves, v))
