"""The workbench through its HTTP interface, against the real controller: every operation, bad
requests, faults, sessions."""

from __future__ import annotations

import http.client
import json
import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest
from pathlib import Path

from support import LIBRARY, binary, temporary_folder

from mova_host import MovaClient, Timeouts, svg
from mova_host.workbench.server import MAX_BODY, make_server

JSON = {"Content-Type": "application/json"}
EXAMPLE_ROADS = [("two-lanes", 0, 1), ("one-lane", 1, 2), ("two-lanes", 2, 3), ("one-lane", 0, 4),
                 ("two-lanes", 1, 5), ("one-lane", 3, 7), ("one-lane", 4, 5), ("two-lanes", 5, 6),
                 ("one-lane", 6, 7), ("one-way", 4, 8), ("one-way", 8, 9), ("two-lanes", 9, 10),
                 ("one-way", 10, 11), ("one-way", 11, 7), ("one-lane", 6, 10)]


def gone(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return True
    return False


class ServerCase(unittest.TestCase):
    def start(self, **options):
        folder = temporary_folder(self, "mova-server-test-")
        options.setdefault("timeouts", Timeouts(answer=10.0))
        options.setdefault("host", "127.0.0.1")
        server = make_server(binary(), port=0, root=Path(folder), **options)
        thread = threading.Thread(target=server.serve_forever, daemon=True)
        thread.start()
        self.addCleanup(server.sessions.close_all)
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        self.server = server
        self.root = Path(folder)
        return server

    def request(self, method: str, path: str, body=None, headers=None):
        port = self.server.server_address[1]
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        self.addCleanup(connection.close)
        data = body if isinstance(body, (bytes, str)) or body is None else json.dumps(body)
        connection.request(method, path, body=data, headers=headers if headers is not None else JSON)
        response = connection.getresponse()
        payload = response.read()
        kind = response.getheader("Content-Type", "")
        if kind.startswith("application/json") and response.status < 400:
            return response.status, json.loads(payload)
        return response.status, payload.decode("utf-8")

    def raw(self, data: bytes) -> tuple[int, str]:
        """Sends bytes as they are; returns the status and the body of the answer."""
        port = self.server.server_address[1]
        with socket.create_connection(("127.0.0.1", port), timeout=20) as sock:
            sock.sendall(data)
            answer = b""
            while b"\r\n\r\n" not in answer or len(answer.split(b"\r\n\r\n", 1)[1]) < self._length(answer):
                chunk = sock.recv(65536)
                if not chunk:
                    break
                answer += chunk
        head, _, body = answer.partition(b"\r\n\r\n")
        return int(head.split()[1]), body.decode("utf-8")

    @staticmethod
    def _length(answer: bytes) -> int:
        found = re.search(rb"Content-Length: (\d+)", answer)
        return int(found.group(1)) if found else 0

    def new_session(self) -> dict:
        status, state = self.request("POST", "/api/sessions", {})
        self.assertEqual(status, 201, state)
        return state

    def act(self, ident: str, action: str, body=None, status: int = 200):
        code, answer = self.request("POST", f"/api/sessions/{ident}/{action}", {} if body is None else body)
        self.assertEqual(code, status, answer)
        return answer

    def refused(self, ident: str, action: str, body, status: int = 400) -> str:
        """The refusal's text, in lower case."""
        text = self.act(ident, action, body, status)
        self.assertIsInstance(text, str)
        self.assertNotIn("Traceback", text)
        return text.lower()

    def network(self, ident: str, roads=EXAMPLE_ROADS) -> dict:
        state = {}
        for kind, a, b in roads:
            state = self.act(ident, "road", {"kind": kind, "from": a, "to": b})
        return state


def lines_of(state: dict, action: str | None = None) -> list[str]:
    return [e["line"] for e in state["transcript"] if action is None or e["action"] == action]


class PageTest(ServerCase):
    def test_the_page_its_modules_and_config_are_served_and_nothing_else(self):
        self.start()
        status, page = self.request("GET", "/", headers={})
        self.assertEqual(status, 200)
        self.assertIn('<script type="module" src="/static/app.js">', page)
        # Every module the page imports is there, with a JavaScript content type.
        pending, seen = ["app.js"], set()
        while pending:
            name = pending.pop()
            seen.add(name)
            connection = http.client.HTTPConnection("127.0.0.1", self.server.server_address[1], timeout=10)
            connection.request("GET", f"/static/{name}")
            response = connection.getresponse()
            source = response.read().decode("utf-8")
            self.assertEqual(response.status, 200, name)
            self.assertTrue(response.getheader("Content-Type").startswith("text/javascript"))
            self.assertEqual(response.getheader("X-Content-Type-Options"), "nosniff")
            connection.close()
            pending += [m for m in re.findall(r'from "\./([a-z-]+\.js)"', source) if m not in seen]
        self.assertEqual(seen, {"app.js", "api.js", "canvas.js", "panels.js", "history.js"})
        for path in ("/static/style.css", "/static/icon.svg"):
            self.assertEqual(self.request("GET", path, headers={})[0], 200, path)
        for path in ("/static/..%2Fserver.py", "/static/../server.py", "/static/nothing.js", "/static/.hidden.js",
                     "/server.py", "/api/nothing"):
            status, text = self.request("GET", path, headers={})
            self.assertEqual(status, 404, path)
            self.assertNotIn("import", text)
        status, config = self.request("GET", "/api/config", headers={})
        self.assertEqual(config["colours"], {str(v): c for v, c in svg.COLOURS.items()})
        self.assertEqual((config["positions"], config["max_roads"]), (12, 15))

    def test_serve_on_the_command_line_answers_at_its_address_and_ends_its_children_when_stopped(self):
        host = Path(__file__).resolve().parents[1]
        folder = temporary_folder(self)
        process = subprocess.Popen([sys.executable, "-m", "mova_host", "serve", "--port", "0", "--workdir",
                                    folder, "--binary", str(binary().resolve())], cwd=host,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(process.stdout.close)
        self.addCleanup(process.wait, 10)
        self.addCleanup(process.kill)
        line = process.stdout.readline()
        found = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        self.assertIsNotNone(found, line)
        connection = http.client.HTTPConnection("127.0.0.1", int(found.group(1)), timeout=10)
        connection.request("GET", "/")
        self.assertEqual(connection.getresponse().read()[:15], b"<!doctype html>")
        connection.request("POST", "/api/sessions", body="{}", headers=JSON)
        pid = json.loads(connection.getresponse().read())["controller"]["pid"]
        connection.close()
        self.assertEqual(len(os.listdir(folder)), 1)
        process.terminate()
        self.assertEqual(process.wait(10), 0)
        self.assertTrue(gone(pid))
        self.assertEqual(os.listdir(folder), [])


class NetworkTest(ServerCase):
    def test_roads_are_checked_in_words_and_the_build_sends_them(self):
        self.start()
        ident = self.new_session()["id"]
        self.assertIn("different positions", self.refused(ident, "road", {"kind": "one-way", "from": 3, "to": 3}))
        self.assertIn("one of one-way, one-lane, two-lanes",
                      self.refused(ident, "road", {"kind": "two-lane", "from": 0, "to": 1}))
        state = self.network(ident)
        self.assertEqual(len(state["roads"]), 15)
        self.assertFalse(state["built"])
        self.assertIn("at most 15 roads", self.refused(ident, "road", {"kind": "one-way", "from": 8, "to": 11}))
        state = self.act(ident, "remove-road", {"index": 14})
        self.assertEqual(len(state["roads"]), 14)
        for kind in ("two-lanes", "one-lane"):
            self.assertIn("already joined by a two-lane road",
                          self.refused(ident, "road", {"kind": kind, "from": 1, "to": 0}))
        self.assertIn("beside it adds nothing", self.refused(ident, "road", {"kind": "two-lanes", "from": 2, "to": 1}))
        state = self.act(ident, "road", {"kind": "one-lane", "from": 6, "to": 7})  # lets vehicles pass
        self.act(ident, "remove-road", {"index": len(state["roads"]) - 1})
        # One-way roads in opposite directions are two roads; the same one-way road twice is not.
        self.assertIn("from 8 to 9", self.refused(ident, "road", {"kind": "one-way", "from": 8, "to": 9}))
        state = self.act(ident, "road", {"kind": "one-way", "from": 9, "to": 8})
        state = self.act(ident, "build")
        self.assertTrue(state["built"])
        sent = lines_of(state)
        self.assertEqual(sent[0], "ENVIRONMENT_CLEAN")
        self.assertEqual(sent[-1], "ENVIRONMENT_BUILD")
        self.assertIn("ENVIRONMENT_ADD_ONE_WAY_ROAD 9 8", sent)
        self.assertEqual(len(sent), 2 + 15)
        build = state["transcript"][-1]
        self.assertTrue(any(r.endswith("Environment built  ") for r in build["records"]), build)
        # A change to the network makes it unbuilt again.
        state = self.act(ident, "remove-road", {"index": 0})
        self.assertFalse(state["built"])

    def test_distance_table_comes_from_the_controller_and_leaves_the_vehicles_in_place(self):
        self.start()
        ident = self.new_session()["id"]
        self.network(ident, [("two-lanes", 0, 1), ("one-way", 1, 2), ("one-lane", 2, 3)])
        self.act(ident, "vehicles", {"starts": [0, 5, 6], "goals": [2, 5, 6]})
        state = self.act(ident, "plan")
        self.assertTrue(state["plan"]["answer"])
        state = self.act(ident, "distances")
        table = state["distances"]
        self.assertEqual((table[0][1], table[1][0], table[1][2], table[0][3]), (1, 1, 1, 3))
        self.assertEqual((table[2][1], table[3][0], table[5][5]), (32767, 32767, 32767))
        self.assertEqual(table[0][0], 0)
        self.assertEqual(sum(1 for e in state["transcript"] if e["line"].startswith("VEHICLE_GET_DIS_TO_POS")), 144)
        # The vehicles stand where they stood: the plan can still be followed.
        state = self.act(ident, "move")
        self.assertEqual(state["plan"]["history"], [[0, 5, 6]])

    def test_positions_move_within_the_picture_and_carry_names(self):
        self.start()
        ident = self.new_session()["id"]
        state = self.act(ident, "position", {"position": 4, "x": 200, "y": 150.5, "name": "dock\nA"})
        self.assertEqual(state["positions"][4], {"position": 4, "x": 200.0, "y": 150.5, "name": "dock A"})
        for body, words in [({"position": 12, "x": 1, "y": 1}, "from 0 to 11"),
                            ({"position": 4, "x": 5000, "y": 100}, "must lie from"),
                            ({"position": 4, "x": "1", "y": 100}, "must be a number"),
                            ({"position": True, "x": 100, "y": 100}, "whole number"),
                            ({"position": 4, "x": 100}, "y is missing"),
                            ({"position": 4, "name": "x" * 41}, "longer than 40")]:
            with self.subTest(body=body):
                self.assertIn(words, self.refused(ident, "position", body))


class MissionTest(ServerCase):
    def test_plan_move_block_a_road_and_confirm(self):
        self.start()
        ident = self.new_session()["id"]
        self.network(ident)
        self.assertIn("start of vehicle 1", self.refused(ident, "plan", {}, 409))
        self.assertIn("cannot both", self.refused(ident, "vehicles", {"starts": [0, 0, 10], "goals": [11, 4, 1]}))
        self.act(ident, "vehicles", {"starts": [0, 7, 10], "goals": [11, 4, 1]})
        self.assertIn("no plan to follow", self.refused(ident, "move", {}, 409))
        state = self.act(ident, "plan")
        plan = state["plan"]
        self.assertTrue(plan["answer"])
        self.assertEqual(plan["plan"][0], [0, 7, 10])
        self.assertEqual(plan["plan"][-1], [11, 4, 1])
        self.assertEqual(plan["steps"], len(plan["plan"]) - 1)
        self.assertIn("answered TRUE", state["message"])
        self.assertEqual(state["explanation"]["answer"], True)
        self.assertEqual(state["explanation"]["steps"], plan["steps"])
        start = [e for e in state["transcript"] if e["line"] == "MOVA_START_MISSION"][0]
        self.assertEqual(start["answer"], "TRUE")
        self.assertTrue(any("Solution computed TRUE" in r for r in start["records"]))
        self.assertIn("ENVIRONMENT_BUILD", lines_of(state))  # the plan built the network first

        state = self.act(ident, "move")
        self.assertEqual(state["plan"]["history"], [[0, 7, 10]])
        self.assertEqual(state["plan"]["plan"][0], plan["plan"][1])
        self.assertEqual(state["now"], plan["plan"][1])
        self.assertEqual(lines_of(state)[0], "VEHICLE_MOVED_FORWARD")

        self.assertIn("no road joins", self.refused(ident, "obstacle", {"from": 0, "to": 5}))
        state = self.act(ident, "obstacle", {"from": 6, "to": 5})
        self.assertEqual(lines_of(state), ["OBSTACLES_ADD_OBSTACLE 6 5"])
        self.assertIn("already blocked", self.refused(ident, "obstacle", {"from": 5, "to": 6}))
        state = self.act(ident, "confirm")
        again = state["plan"]
        self.assertTrue(again["answer"])
        self.assertEqual(again["history"], [[0, 7, 10]])  # the part driven stays
        self.assertEqual(again["obstacles"], [[6, 5]])
        for before, after in zip(again["plan"], again["plan"][1:]):
            for v in range(3):
                self.assertNotEqual({before[v], after[v]}, {5, 6}, again["plan"])
        self.assertIn("OBSTACLES_CONFIRM", lines_of(state))
        while state["plan"]["steps"]:
            state = self.act(ident, "move")
        self.assertEqual(state["plan"]["plan"], [[11, 4, 1]])
        self.assertIn("Every vehicle stands on its goal", state["message"])
        self.assertIn("already stand on their goals", self.refused(ident, "move", {}, 409))

        state = self.act(ident, "clear-obstacles")
        self.assertEqual(state["obstacles"], [])
        self.assertEqual(lines_of(state), ["OBSTACLES_CLEAN"])

    def test_a_false_answer_comes_with_its_explanation(self):
        self.start()
        ident = self.new_session()["id"]
        self.network(ident, [("one-way", 0, 1), ("two-lanes", 1, 2)])
        self.act(ident, "vehicles", {"starts": [1, 2, 5], "goals": [0, 1, 5]})
        state = self.act(ident, "plan")
        self.assertFalse(state["plan"]["answer"])
        self.assertEqual((state["plan"]["plan"], state["plan"]["steps"]), (None, None))
        self.assertEqual(state["now"], [1, 2, 5])
        self.assertIn("answered FALSE", state["message"])
        explanation = state["explanation"]
        self.assertFalse(explanation["answer"])
        self.assertFalse(explanation["plan_exists"])
        self.assertTrue(explanation["reason"])
        self.assertIn("no plan to follow", self.refused(ident, "move", {}, 409))

    def test_settings_reach_the_controller(self):
        self.start()
        ident = self.new_session()["id"]
        state = self.act(ident, "settings", {"timeout_ms": 1500, "memory_mb": 512})
        self.assertEqual(lines_of(state), ["SETTINGS_SET_TIMEOUT 1500", "SETTINGS_SET_MAX_RAM 512"])
        self.assertEqual(state["settings"], {"timeout_ms": 1500, "memory_mb": 512})
        self.assertIn("from 0 to 600000", self.refused(ident, "settings", {"timeout_ms": -1}))


class ScenarioTest(ServerCase):
    SCENARIO = {
        "format": "mova-scenario", "version": 1, "name": "around the block",
        "positions": [{"position": 0, "name": "dock", "x": 100, "y": 100}, {"position": 5, "x": 300, "y": 400}],
        "roads": [{"kind": k, "from": a, "to": b} for k, a, b in EXAMPLE_ROADS],
        "vehicles": [{"vehicle": 1, "start": 0, "goal": 11}, {"vehicle": 2, "start": 7, "goal": 4},
                     {"vehicle": 3, "start": 10, "goal": 1}],
        "obstacles": [{"from": 5, "to": 6}],
        "settings": {"timeout_ms": 2000},
    }

    def test_load_plan_and_save_again(self):
        self.start()
        ident = self.new_session()["id"]
        state = self.act(ident, "scenario", self.SCENARIO)
        self.assertEqual(state["starts"], [0, 7, 10])
        self.assertEqual(state["goals"], [11, 4, 1])
        self.assertEqual(state["obstacles"], [[5, 6]])
        self.assertEqual(state["positions"][0]["name"], "dock")
        self.assertEqual((state["positions"][5]["x"], state["positions"][5]["y"]), (300.0, 400.0))
        self.assertTrue(state["built"])
        sent = lines_of(state)
        self.assertIn("SETTINGS_SET_TIMEOUT 2000", sent)
        self.assertEqual(sent[-1], "OBSTACLES_ADD_OBSTACLE 5 6")
        state = self.act(ident, "plan")
        self.assertTrue(state["plan"]["answer"])
        status, saved = self.request("GET", f"/api/sessions/{ident}/scenario", headers={})
        self.assertEqual(status, 200)
        self.assertEqual(saved["name"], "around the block")
        self.assertEqual(saved["roads"], self.SCENARIO["roads"])
        self.assertEqual(saved["vehicles"], self.SCENARIO["vehicles"])
        self.assertEqual(saved["obstacles"], self.SCENARIO["obstacles"])
        self.assertEqual(len(saved["positions"]), 12)
        # A second session loads the saved file to the same state.
        other = self.new_session()["id"]
        state2 = self.act(other, "scenario", saved)
        for key in ("positions", "roads", "starts", "goals", "obstacles"):
            self.assertEqual(state2[key], state[key], key)

    def test_the_scenario_library_one_after_the_other_in_one_session(self):
        """Every example scenario loads and plans as its file expects, on one controller that
        has planned the ones before it (its limits, goals and obstacles carried over)."""
        self.start()
        ident = self.new_session()["id"]
        library = sorted(LIBRARY.glob("*.json"))
        self.assertGreaterEqual(len(library), 10)
        for path in library:
            with self.subTest(scenario=path.name):
                data = json.loads(path.read_text())
                self.act(ident, "scenario", data)
                if len(set(v["goal"] for v in data["vehicles"])) < 3:
                    self.assertIn("share the goal", self.refused(ident, "plan", {}, 409))
                    continue
                explanation = self.act(ident, "plan")["explanation"]
                expect = data["expect"]
                self.assertEqual((explanation["answer"], explanation["category"], explanation["steps"]),
                                 (expect["answer"], expect["category"], expect.get("steps")))

    def test_a_bad_scenario_changes_nothing(self):
        self.start()
        ident = self.new_session()["id"]
        self.network(ident, [("two-lanes", 0, 1)])
        bad_kind = json.loads(json.dumps(self.SCENARIO))
        bad_kind["roads"][3]["kind"] = "two-lane"
        self.assertIn("roads[3].kind", self.refused(ident, "scenario", bad_kind))
        loose = json.loads(json.dumps(self.SCENARIO))
        loose["obstacles"] = [{"from": 0, "to": 5}]
        self.assertIn("no road joins them", self.refused(ident, "scenario", loose))
        self.assertIn("cannot be used", self.refused(ident, "scenario", {"format": "something else"}))
        long_name = json.loads(json.dumps(self.SCENARIO))
        long_name["positions"][1]["name"] = "n" * 41
        self.assertIn("longer than 40", self.refused(ident, "scenario", long_name))
        status, state = self.request("GET", f"/api/sessions/{ident}", headers={})
        self.assertEqual(state["roads"], [{"index": 0, "kind": "two-lanes", "from": 0, "to": 1}])
        self.assertEqual(state["starts"], [None, None, None])

    def test_far_away_coordinates_are_scaled_into_the_picture(self):
        self.start()
        ident = self.new_session()["id"]
        far = json.loads(json.dumps(self.SCENARIO))
        far["positions"] = [{"position": p, "x": 1000 * (p % 4), "y": -2000 * (p // 4)} for p in range(12)]
        state = self.act(ident, "scenario", far)
        self.assertIn("scaled", state["message"])
        for p in state["positions"]:
            self.assertTrue(30 <= p["x"] <= 870 and 30 <= p["y"] <= 610, p)
        self.assertLess(state["positions"][1]["x"], state["positions"][2]["x"])

    def test_saving_needs_every_vehicle_placed(self):
        self.start()
        ident = self.new_session()["id"]
        status, text = self.request("GET", f"/api/sessions/{ident}/scenario", headers={})
        self.assertEqual(status, 409)
        self.assertIn("every vehicle", text)


class TranscriptTest(ServerCase):
    def test_the_exported_stream_replays_to_the_same_answers(self):
        self.start()
        ident = self.new_session()["id"]
        self.network(ident)
        self.act(ident, "vehicles", {"starts": [0, 7, 10], "goals": [11, 4, 1]})
        self.act(ident, "plan")
        self.act(ident, "move")
        self.act(ident, "obstacle", {"from": 5, "to": 6})
        self.act(ident, "confirm")
        state = self.act(ident, "move")
        status, full = self.request("GET", f"/api/sessions/{ident}", headers={})
        entries = full["transcript"]
        self.assertEqual([e["seq"] for e in entries], list(range(1, len(entries) + 1)))
        self.assertTrue(all(not e["dropped"] for e in entries))
        status, text = self.request("GET", f"/api/sessions/{ident}/commands.txt", headers={})
        self.assertEqual(status, 200)
        sent = [line for line in text.splitlines() if not line.startswith("#")]
        self.assertEqual(sent, [e["line"] for e in entries])
        with MovaClient(binary(), temporary_folder(self)) as client:
            answers = [client.request(line).answer for line in sent]
        self.assertEqual(answers, [e["answer"] for e in entries])
        # Only the entries of the last request came with it.
        self.assertEqual([e["line"] for e in state["transcript"]][0], "VEHICLE_MOVED_FORWARD")
        status, tail = self.request("GET", f"/api/sessions/{ident}?since={entries[-2]['seq']}", headers={})
        self.assertEqual([e["seq"] for e in tail["transcript"]], [entries[-1]["seq"]])


class BadRequestTest(ServerCase):
    def test_malformed_and_hostile_requests_get_a_clear_text(self):
        self.start()
        ident = self.new_session()["id"]
        base = f"/api/sessions/{ident}"
        cases = [
            ("POST", f"{base}/road", '{"kind": "one-way", "from": 0, "to": 1}', {"Content-Type": "text/plain"}, 415, "JSON"),
            ("POST", f"{base}/road", '{"kind": "one-way", "from": 0,', JSON, 400, "not valid JSON"),
            ("POST", f"{base}/road", b'\xff\xfe{}', JSON, 400, "UTF-8"),
            ("POST", f"{base}/road", '{"kind": "one-way", "from": NaN, "to": 1}', JSON, 400, "NaN"),
            ("POST", f"{base}/road", "[1, 2]", JSON, 400, "JSON object"),
            ("POST", f"{base}/road", "[" * 100000 + "]" * 100000, JSON, 400, "JSON"),
            ("POST", f"{base}/road", '{"kind": "one-way", "from": 1' + "0" * 5000 + ', "to": 1}', JSON, 400, "JSON"),
            ("POST", f"{base}/road", '{"kind": "one-way", "from": 1.0, "to": 2}', JSON, 400, "whole number"),
            ("POST", f"{base}/road", '{"kind": "one-way", "from": -1, "to": 2}', JSON, 400, "from 0 to 11"),
            ("POST", f"{base}/road", '{"kind": ["one-way"], "from": 1, "to": 2}', JSON, 400, "kind of road"),
            ("POST", f"{base}/road", '{}', JSON, 400, "missing"),
            ("POST", f"{base}/vehicles", '{"starts": [0, 1], "goals": [2, 3, 4]}', JSON, 400, "each of the vehicles"),
            ("POST", f"{base}/vehicles", '{"starts": [0, 1, 99], "goals": [2, 3, 4]}', JSON, 400, "from 0 to 11"),
            ("POST", f"{base}/remove-road", '{"index": 0}', JSON, 400, "no road to remove"),
            ("POST", f"{base}/explode", '{}', JSON, 404, "no action"),
            ("POST", "/api/sessions/nobody/road", '{}', JSON, 404, "session has ended"),
            ("PUT", f"{base}/road", '{}', JSON, 405, "POST"),
            ("GET", f"{base}?since=x", None, {}, 400, "whole number"),
            ("GET", "/", None, {"Host": "evil.example:80"}, 400, "127.0.0.1 or localhost"),
        ]
        for method, path, body, headers, status, words in cases:
            with self.subTest(method=method, path=path[:60], body=str(body)[:60]):
                code, text = self.request(method, path, body, headers)
                self.assertEqual(code, status, text)
                self.assertIsInstance(text, str)
                self.assertIn(words.lower(), text.lower())
                self.assertNotIn("Traceback", text)
        # The session still works after all that.
        state = self.act(ident, "road", {"kind": "one-way", "from": 0, "to": 1})
        self.assertEqual(len(state["roads"]), 1)

    def test_bodies_too_large_or_chunked_are_refused_before_reading_them(self):
        self.start()
        ident = self.new_session()["id"]
        head = (f"POST /api/sessions/{ident}/road HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                "Content-Type: application/json\r\n")
        status, text = self.raw((head + f"Content-Length: {MAX_BODY + 1}\r\n\r\n").encode())
        self.assertEqual(status, 413)
        self.assertIn("too large", text)
        status, text = self.raw((head + "Transfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n").encode())
        self.assertEqual(status, 411)
        status, text = self.raw(b"BREW / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        self.assertEqual(status, 501)
        self.assertNotIn("<html", text.lower())


class FaultTest(ServerCase):
    def test_a_killed_controller_is_reported_and_restarted_with_the_network(self):
        self.start()
        ident = self.new_session()["id"]
        self.network(ident)
        self.act(ident, "vehicles", {"starts": [0, 7, 10], "goals": [11, 4, 1]})
        state = self.act(ident, "plan")
        pid = state["controller"]["pid"]
        os.kill(pid, signal.SIGKILL)
        text = self.refused(ident, "move", {}, 503)
        self.assertIn("exited during vehicle_moved_forward (ended by signal 9, sigkill)", text)
        self.assertIn("restart", text)
        status, state = self.request("GET", f"/api/sessions/{ident}", headers={})
        self.assertFalse(state["controller"]["running"])
        self.assertIn("exited", state["controller"]["problem"])
        self.assertIsNone(state["plan"])
        self.assertIn("exited", self.refused(ident, "plan", {}, 503))
        state = self.act(ident, "restart")
        self.assertTrue(state["controller"]["running"])
        self.assertNotEqual(state["controller"]["pid"], pid)
        self.assertTrue(state["built"])
        self.assertEqual(lines_of(state, "build the network again")[-1], "ENVIRONMENT_BUILD")
        state = self.act(ident, "plan")
        self.assertTrue(state["plan"]["answer"])

    def test_a_controller_that_stops_answering_is_stopped_and_reported(self):
        self.start(timeouts=Timeouts(answer=1.0, planning_margin=1.0, planning_factor=0.5))
        ident = self.new_session()["id"]
        self.network(ident, [("two-lanes", 0, 1)])
        state = self.act(ident, "build")
        pid = state["controller"]["pid"]
        os.kill(pid, signal.SIGSTOP)
        self.addCleanup(lambda: gone(pid) or os.kill(pid, signal.SIGKILL))
        text = self.refused(ident, "distances", {}, 503)
        self.assertIn("did not answer", text)
        deadline = time.monotonic() + 5
        while not gone(pid) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(gone(pid))
        state = self.act(ident, "restart")
        self.assertTrue(state["controller"]["running"])
        self.assertTrue(state["built"])

    def test_a_controller_that_cannot_start_is_reported(self):
        broken = Path(temporary_folder(self)) / "mova"
        broken.write_text("#!/bin/sh\nexit 3\n")
        broken.chmod(0o755)
        self.start()
        self.server.sessions.binary = broken
        status, text = self.request("POST", "/api/sessions", {})
        self.assertEqual(status, 503)
        self.assertIn("exited", text)
        self.assertEqual(self.server.sessions.count(), 0)
        self.assertEqual(list(self.root.iterdir()), [])


class SessionTest(ServerCase):
    def test_idle_sessions_end_with_their_controllers_and_folders(self):
        self.start(idle_seconds=0.6)
        state = self.new_session()
        ident, pid = state["id"], state["controller"]["pid"]
        folders = list(self.root.iterdir())
        self.assertEqual(len(folders), 1)
        # A session leaves the table first, then its controller and folder go: wait for all.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and (self.server.sessions.count() or not gone(pid)
                                               or list(self.root.iterdir())):
            time.sleep(0.1)
        self.assertEqual(self.server.sessions.count(), 0)
        self.assertTrue(gone(pid))
        self.assertEqual(list(self.root.iterdir()), [])
        status, text = self.request("GET", f"/api/sessions/{ident}", headers={})
        self.assertEqual(status, 404)
        self.assertIn("reload the page", text)

    def test_a_session_in_use_does_not_expire(self):
        self.start(idle_seconds=0.8)
        ident = self.new_session()["id"]
        for _ in range(8):
            time.sleep(0.3)
            self.act(ident, "road", {"kind": "one-way", "from": 0, "to": 1})
            self.act(ident, "remove-road", {"index": 0})
        self.assertEqual(self.server.sessions.count(), 1)

    def test_sessions_are_bounded_and_kept_apart(self):
        self.start(max_sessions=2, sessions_per_client=2)
        first, second = self.new_session(), self.new_session()
        self.assertNotEqual(first["controller"]["pid"], second["controller"]["pid"])
        status, text = self.request("POST", "/api/sessions", {})
        self.assertEqual(status, 503)
        self.assertIn("2 sessions", text)
        self.act(first["id"], "road", {"kind": "one-way", "from": 0, "to": 1})
        status, other = self.request("GET", f"/api/sessions/{second['id']}", headers={})
        self.assertEqual(other["roads"], [])
        folders = {self.server.sessions.get(s["id"]).link.workdir for s in (first, second)}
        self.assertEqual(len(folders), 2)
        status, _ = self.request("DELETE", f"/api/sessions/{first['id']}", headers={})
        self.assertEqual(status, 200)
        self.assertTrue(gone(first["controller"]["pid"]))
        self.new_session()


if __name__ == "__main__":
    unittest.main()
