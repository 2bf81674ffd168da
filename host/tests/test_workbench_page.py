"""What the workbench's page relies on from the server: a page that goes away ends its session
(soon, so that a reload keeps it), a full server makes room for a new page, and the scenario the
page saves passes `mova-host check` with a name."""

from __future__ import annotations

import json
import subprocess
import sys
import time
import unittest
from pathlib import Path

from support import temporary_folder
from test_workbench import ServerCase, gone

HOST = Path(__file__).resolve().parents[1]


class LeaveTest(ServerCase):
    def wait_until(self, condition, seconds: float = 10.0) -> None:
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline and not condition():
            time.sleep(0.05)

    def test_a_page_that_went_away_ends_its_session_unless_a_page_takes_it_up_again(self):
        self.start(leave_seconds=0.5)
        closed, reloaded = self.new_session(), self.new_session()
        for state in (closed, reloaded):
            status, text = self.request("POST", f"/api/sessions/{state['id']}/leave", {})
            self.assertEqual(status, 202, text)
        # The reloaded page asks for its session at once; the closed one never comes back.
        status, _ = self.request("GET", f"/api/sessions/{reloaded['id']}", headers={})
        self.assertEqual(status, 200)
        self.wait_until(lambda: gone(closed["controller"]["pid"]))
        self.assertTrue(gone(closed["controller"]["pid"]))
        status, _ = self.request("GET", f"/api/sessions/{closed['id']}", headers={})
        self.assertEqual(status, 404)
        time.sleep(0.6)  # longer than the grace: the session taken up again stays
        status, state = self.request("GET", f"/api/sessions/{reloaded['id']}", headers={})
        self.assertEqual((status, state["controller"]["pid"]), (200, reloaded["controller"]["pid"]))
        status, text = self.request("POST", f"/api/sessions/{closed['id']}/leave", {})
        self.assertEqual(status, 404, text)

    def test_a_full_server_ends_the_sessions_of_pages_gone_before_it_refuses(self):
        self.start(max_sessions=1, leave_seconds=600)
        first = self.new_session()
        status, text = self.request("POST", "/api/sessions", {})
        self.assertEqual(status, 503)
        self.assertIn("close another workbench page", text)
        self.request("POST", f"/api/sessions/{first['id']}/leave", {})
        second = self.new_session()
        self.assertTrue(gone(first["controller"]["pid"]))
        self.assertEqual(self.server.sessions.count(), 1)
        self.assertNotEqual(second["id"], first["id"])


class SavedScenarioTest(ServerCase):
    def check(self, scenario: dict) -> subprocess.CompletedProcess[str]:
        path = Path(temporary_folder(self)) / "saved.json"
        path.write_text(json.dumps(scenario))
        return subprocess.run([sys.executable, "-m", "mova_host", "check", str(path)], cwd=HOST,
                              capture_output=True, text=True, timeout=60)

    def save(self, ident: str) -> dict:
        status, saved = self.request("GET", f"/api/sessions/{ident}/scenario", headers={})
        self.assertEqual(status, 200, saved)
        return saved

    def test_the_saved_scenario_passes_the_check_and_has_a_name(self):
        self.start()
        ident = self.new_session()["id"]
        self.network(ident, [("two-lanes", 0, 1), ("one-lane", 1, 2), ("two-lanes", 1, 5), ("one-way", 5, 0)])
        self.act(ident, "vehicles", {"starts": [0, 2, 5], "goals": [2, 5, 0]})
        self.act(ident, "position", {"position": 5, "x": 350, "y": 320})
        saved = self.save(ident)
        self.assertEqual(saved["name"], "workbench scenario")
        self.assertEqual([p["position"] for p in saved["positions"]], [0, 1, 2, 5])
        self.assertEqual((saved["positions"][3]["x"], saved["positions"][3]["y"]), (350, 320))
        result = self.check(saved)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("no problems found", result.stdout)

        state = self.act(ident, "name", {"name": "  round the loop ", "description": "three vehicles"})
        self.assertEqual(state["scenario"], {"name": "round the loop", "description": "three vehicles"})
        self.assertIn("round the loop", state["message"])
        self.assertEqual(self.save(ident)["name"], "round the loop")
        self.assertIn("must be a text", self.refused(ident, "name", {"name": 7}))
        self.assertIn("missing", self.refused(ident, "name", {}))
        self.assertEqual(self.save(ident)["name"], "round the loop")

        # A name given to a position without roads is kept, and the check says what it is.
        self.act(ident, "position", {"position": 9, "name": "spare dock"})
        saved = self.save(ident)
        self.assertEqual(saved["positions"][-1], {"position": 9, "name": "spare dock", "x": 340, "y": 490})
        result = self.check(saved)
        self.assertIn("positions[4]: position 9 (spare dock) has no road", result.stdout)


if __name__ == "__main__":
    unittest.main()
