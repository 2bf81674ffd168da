"""A workbench session and the registry of sessions on the real controller, without HTTP: what a
restart keeps, what a closed session refuses, the order of the actions, and sessions that end
while they start or while they work."""

from __future__ import annotations

import unittest
from pathlib import Path
from unittest import mock

from support import binary, temporary_folder, write_script

from mova_host import Timeouts
from mova_host.errors import Conflict, ControllerDown, HTTPProblem, Refused
from mova_host.protocol import COMMANDS
from mova_host.workbench import registry, transcript
from mova_host.workbench.registry import Sessions
from mova_host.workbench.session import WorkbenchSession
from mova_host.workbench.transcript import Entry, Transcript


class SessionCase(unittest.TestCase):
    def new_session(self) -> WorkbenchSession:
        self.root = Path(temporary_folder(self))
        session = WorkbenchSession("test", binary(), timeouts=Timeouts(answer=10.0), root=self.root)
        self.addCleanup(session.close)
        return session


class SessionTest(SessionCase):
    def test_a_restart_keeps_the_limits_and_the_network(self):
        session = self.new_session()
        session.settings({"timeout_ms": 1500, "memory_mb": 512})
        session.add_road({"kind": "two-lanes", "from": 0, "to": 1})
        session.build()
        seq = session.transcript.seq
        session.restart()
        lines = [e.line for e in session.transcript.since(seq)]
        self.assertIn("SETTINGS_SET_TIMEOUT 1500", lines)
        self.assertIn("SETTINGS_SET_MAX_RAM 512", lines)
        self.assertEqual(lines[-1], "ENVIRONMENT_BUILD")
        self.assertTrue(session.built)
        self.assertEqual(len(list(self.root.iterdir())), 1)  # the old folder went with the old controller
        self.assertIn("# the controller was restarted", session.transcript.commands_text())

    def test_a_closed_session_starts_no_controller(self):
        session = self.new_session()
        session.close()
        with self.assertRaisesRegex(ControllerDown, "the session has ended"):
            session.restart()
        with self.assertRaises(ControllerDown):
            session.link.start()
        session.add_road({"kind": "two-lanes", "from": 0, "to": 1})
        with self.assertRaisesRegex(ControllerDown, "the session has ended"):
            session.build()
        self.assertEqual(list(self.root.iterdir()), [])
        self.assertIsNone(session.link.pid)

    def test_actions_out_of_order_say_what_comes_first(self):
        session = self.new_session()
        with self.assertRaisesRegex(Conflict, "add roads and build the network first"):
            session.distance_table()
        with self.assertRaisesRegex(Conflict, "plan first"):
            session.confirm()
        with self.assertRaisesRegex(Refused, "no road is blocked"):
            session.clear_obstacles()
        for a, b in ((0, 1), (1, 2), (2, 3)):
            session.add_road({"kind": "two-lanes", "from": a, "to": b})
        session.set_vehicles({"starts": [0, 1, 2], "goals": [1, 2, 3]})
        session.run_plan()
        self.assertTrue(session.plan.found)
        session.add_road({"kind": "one-way", "from": 3, "to": 0})  # the plan was for another network
        self.assertIsNone(session.plan)
        with self.assertRaisesRegex(Conflict, "plan first"):
            session.confirm()
        session.clear_roads()
        self.assertEqual((session.design.roads, session.design.obstacles, session.plan), ([], [], None))
        self.assertEqual(session.message, "Removed every road.")


FAKE = """\
import sys
QUERIES = {queries!r}
for line in sys.stdin:
    word = line.split()[0] if line.split() else ""
    if word == "INFORMATION_GET_WATERMARK":
        print("a stand-in controller", flush=True)
    elif word == "SETTINGS_SET_TIMEOUT":
        sys.exit(3)
    elif word == "OBSTACLES_ADD_OBSTACLE":
        print("something unexpected", flush=True)
    elif word in QUERIES and word != "VEHICLE_GET_DIS_TO_POS":
        print(" 0", flush=True)  # every vehicle on 0, every count 0
"""


class MisbehavingControllerTest(SessionCase):
    """A stand-in controller that drops the distance queries, holds every vehicle on 0, answers
    an obstacle with a line where none belongs and exits when given a time limit."""

    def test_each_fault_is_reported_in_words(self):
        queries = sorted(name for name, command in COMMANDS.items() if command.answers)
        fake = Path(write_script(temporary_folder(self), FAKE.format(queries=queries)))
        self.root = Path(temporary_folder(self))
        session = WorkbenchSession("fake", fake, timeouts=Timeouts(answer=5.0), root=self.root)
        self.addCleanup(session.close)
        for a, b in ((0, 1), (1, 2)):
            session.add_road({"kind": "two-lanes", "from": a, "to": b})
        with self.assertRaisesRegex(Conflict, "dropped VEHICLE_GET_DIS_TO_POS without an answer"):
            session.distance_table()
        session.set_vehicles({"starts": [1, 2, 5], "goals": [0, 1, 5]})
        with self.assertRaisesRegex(Conflict, r"does not hold what the workbench sent: the controller holds the "
                                              r"vehicles on \(0, 0, 0\), not \(1, 2, 5\)"):
            session.run_plan()
        with self.assertRaisesRegex(ControllerDown, "wrote something unexpected .* and was stopped"):
            session.add_obstacle({"from": 0, "to": 1})
        self.assertFalse(session.built)
        session.restart()
        with self.assertRaisesRegex(ControllerDown, r"exited during SETTINGS_SET_TIMEOUT \(exit status 3\)"):
            session.settings({"timeout_ms": 5})
        self.assertIn("exit status 3", session.link.down)


class TranscriptTest(unittest.TestCase):
    def test_the_oldest_entries_are_forgotten_and_the_export_says_so(self):
        kept = Transcript()
        with mock.patch.object(transcript, "MAX_ENTRIES", 3):
            for n in range(5):
                kept.append(Entry(0, "build", f"LINE {n}", False, None, False))
        self.assertEqual([e.line for e in kept.since(0)], ["LINE 2", "LINE 3", "LINE 4"])
        self.assertEqual([e.seq for e in kept.since(3)], [4, 5])
        text = kept.commands_text()
        self.assertIn("# (the first 2 commands are no longer kept)\n# build\nLINE 2\n", text)


class RegistryTest(unittest.TestCase):
    def sessions(self, **options) -> Sessions:
        self.root = Path(temporary_folder(self))
        sessions = Sessions(binary(), root=self.root, timeouts=Timeouts(answer=10.0), **options)
        self.addCleanup(sessions.close_all)
        return sessions

    def test_a_session_that_starts_while_the_server_stops_is_ended(self):
        sessions = self.sessions()
        real = registry.WorkbenchSession
        ends: list[bool] = []

        def starting(ident: str, *args, **kwargs) -> WorkbenchSession:
            session = real(ident, *args, **kwargs)
            ends.append(sessions.end(ident))  # its place is taken, the session not there yet
            sessions.close_all()
            return session

        with mock.patch.object(registry, "WorkbenchSession", starting):
            with self.assertRaisesRegex(HTTPProblem, "the workbench is stopping"):
                sessions.create("127.0.0.1")
        self.assertEqual((ends, sessions.count()), ([False], 0))
        self.assertEqual(list(self.root.iterdir()), [])
        with self.assertRaisesRegex(HTTPProblem, "the workbench is stopping"):
            sessions.create("127.0.0.1")

    def test_a_busy_session_is_not_idle(self):
        sessions = self.sessions(idle_seconds=60)
        session = sessions.create("::1")
        session.last_used -= 120
        _, lock = sessions.use(session.id)
        with lock:
            self.assertEqual(sessions.expire(), 0)
        self.assertEqual(sessions.expire(), 1)
        self.assertEqual(sessions.ended_idle, 1)
        self.assertTrue(session.closed)

    def test_each_client_holds_its_share(self):
        sessions = self.sessions(max_sessions=3)
        self.assertEqual(sessions.per_client, 2)
        sessions.create("10.0.0.1")
        sessions.create("10.0.0.1")
        with self.assertRaises(HTTPProblem) as caught:
            sessions.create("10.0.0.1")
        self.assertEqual(caught.exception.status, 429)
        sessions.create("10.0.0.2")
        with self.assertRaises(HTTPProblem) as caught:
            sessions.create("10.0.0.3")
        self.assertEqual(caught.exception.status, 503)
        self.assertEqual([registry.fair_share(n) for n in (1, 2, 7, 8)], [1, 1, 4, 4])


if __name__ == "__main__":
    unittest.main()
