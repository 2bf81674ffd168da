"""The workbench server under hostile and careless clients: the Host and Origin checks, hostile
numbers and lengths, the per-client limits, slow and vanishing clients, and a session's end
racing its restart. Each reproduction of a fault found against the server is a test here."""

from __future__ import annotations

import contextlib
import http.client
import io
import json
import math
import os
import signal
import socket
import threading
import time
from pathlib import Path

import unittest.mock

from support import LIBRARY, binary
from test_workbench import JSON, ServerCase, gone

from mova_host import Timeouts
from mova_host.cli import main
from mova_host.workbench import routes
from mova_host.workbench.http import ClientLimits, host_name


def strict(text: str):
    """JSON as the page reads it: NaN or Infinity in it fails the test."""
    def refuse(constant: str):
        raise AssertionError(f"the server answered {constant}, which JSON does not have")
    return json.loads(text, parse_constant=refuse)


def controllers_in(root: Path) -> list[int]:
    """The processes whose working folder lies under `root` (a controller of a session)."""
    found = []
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            with contextlib.suppress(OSError):
                if os.readlink(entry / "cwd").startswith(str(root)):
                    found.append(int(entry.name))
    return found


class HostCase(ServerCase):
    def answer(self, host_header: str, method: str = "GET", path: str = "/api/config", origin: str | None = None,
               connect: str = "127.0.0.1") -> tuple[int, str]:
        headers = {"Host": host_header, **JSON}
        if origin is not None:
            headers["Origin"] = origin
        connection = http.client.HTTPConnection(connect, self.server.server_address[1], timeout=20)
        self.addCleanup(connection.close)
        connection.request(method, path, body="{}" if method == "POST" else None, headers=headers)
        response = connection.getresponse()
        return response.status, response.read().decode("utf-8")


class HostAndOriginTest(HostCase):
    def test_host_names_the_bound_address_on_any_loopback_address(self):
        self.start(host="127.0.0.2")
        self.assertTrue(self.server.loopback)  # 127.0.0.2 is this machine, not "beyond" it
        port = self.server.server_address[1]
        for header, status in [(f"127.0.0.2:{port}", 200), ("localhost", 200), ("LOCALHOST.:80", 200),
                               ("evil.example", 400), (f"evil.example:{port}", 400), ("127.0.0.1", 400),
                               ("", 400), ("127.0.0.2:x", 400), ("127.0.0.2/x", 400)]:
            with self.subTest(host=header):
                code, text = self.answer(header, connect="127.0.0.2")
                self.assertEqual(code, status, text)
                if status == 400:
                    self.assertIn("127.0.0.2 or localhost only", text)

    def test_a_wildcard_bind_answers_to_the_address_reached_and_the_machines_names(self):
        self.start(host="0.0.0.0")
        self.assertFalse(self.server.loopback)
        port = self.server.server_address[1]
        for header, status in [(f"127.0.0.1:{port}", 200), ("localhost", 200), (socket.gethostname(), 200),
                               ("evil.example", 400), ("127.0.0.3", 400), ("0.0.0.0", 400)]:
            with self.subTest(host=header):
                self.assertEqual(self.answer(header)[0], status)

    def test_names_allowed_by_the_operator_are_answered(self):
        self.start(allowed_hosts=["workbench.lan"])
        self.assertEqual(self.answer("workbench.lan:8080")[0], 200)
        self.assertEqual(self.answer("other.lan")[0], 400)

    def test_a_page_of_another_origin_changes_nothing(self):
        self.start()
        port = self.server.server_address[1]
        own = f"127.0.0.1:{port}"
        for origin in ("http://evil.example", f"http://evil.example:{port}", "null", f"https://{own}",
                       f"http://127.0.0.1:{port + 1}", f"http://{own}/path", "http://localhost"):
            with self.subTest(origin=origin):
                code, text = self.answer(own, "POST", "/api/sessions", origin=origin)
                self.assertEqual(code, 403, text)
                self.assertIn("may not change anything", text)
        self.assertEqual(self.server.sessions.count(), 0)
        code, state = self.answer(own, "POST", "/api/sessions", origin=f"http://{own}")
        self.assertEqual(code, 201, state)
        ident = json.loads(state)["id"]
        self.assertEqual(self.answer("localhost", "POST", f"/api/sessions/{ident}/build", origin="http://localhost")[0],
                         400)  # the page's own origin by another name: refused for what it asks, not for its origin
        self.assertEqual(self.answer(own, "DELETE", f"/api/sessions/{ident}", origin="http://evil.example")[0], 403)
        self.assertEqual(self.answer(own, "GET", f"/api/sessions/{ident}", origin="http://evil.example")[0], 200)
        self.assertEqual(self.answer(own, "DELETE", f"/api/sessions/{ident}")[0], 200)  # a program: no Origin

    def test_host_and_origin_parsing(self):
        self.assertEqual(host_name("[::1]:8765"), ("::1", 8765))
        self.assertEqual(host_name("Example.org."), ("example.org", None))
        for bad in ("", "[::1", "[::1]x", "a:b", "a b", "user@host", "a:²"):
            self.assertIsNone(host_name(bad), bad)


class HostileNumberTest(ServerCase):
    def scenario(self, **changes) -> dict:
        data = json.loads((LIBRARY / "siding.json").read_text())
        data.update(changes)
        return data

    def test_a_far_coordinate_is_refused_and_every_state_stays_strict_json(self):
        self.start()
        ident = self.new_session()["id"]
        before = self.request("GET", f"/api/sessions/{ident}", headers={})[1]
        for x in (1e308, -1e7, 10**400):
            data = self.scenario()
            data["positions"][0]["x"] = x
            body = json.dumps(data)
            with self.subTest(x=str(x)[:12]):
                code, text = self.request("POST", f"/api/sessions/{ident}/scenario", body)
                self.assertEqual(code, 400, text)
                self.assertRegex(text, r"positions\[0\]\.x|has \d+ characters")
        connection = http.client.HTTPConnection("127.0.0.1", self.server.server_address[1], timeout=20)
        connection.request("GET", f"/api/sessions/{ident}")
        state = strict(connection.getresponse().read().decode())
        connection.close()
        self.assertEqual(state["positions"], before["positions"])

    def test_a_position_x_of_400_digits_is_refused_in_words(self):
        self.start()
        ident = self.new_session()["id"]
        code, text = self.request("POST", f"/api/sessions/{ident}/position",
                                  '{"position": 1, "x": ' + "4" * 400 + ', "y": 100}')
        self.assertEqual(code, 400)
        self.assertIn("400 characters", text)
        for body, words in [({"position": 1, "x": 10**30, "y": 100}, "x must lie from 30 to 870"),
                            ({"position": 10**30, "x": 100, "y": 100}, "position must be from 0 to 11")]:
            self.assertIn(words, self.refused(ident, "position", body))

    def test_a_nan_in_a_state_is_the_servers_fault_not_invalid_json(self):
        self.start()
        ident = self.new_session()["id"]
        self.server.sessions.get(ident).design.coords[0] = (math.nan, 100.0)  # as a fault of the server would
        with contextlib.redirect_stderr(io.StringIO()) as console:
            code, text = self.request("GET", f"/api/sessions/{ident}", headers={})
        self.assertEqual(code, 500)
        self.assertIn("The workbench failed on this request", text)
        self.assertIn("Out of range float values are not JSON compliant", console.getvalue())

    def test_content_length_in_other_digits_is_refused(self):
        self.start()
        ident = self.new_session()["id"]
        head = (f"POST /api/sessions/{ident}/build HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                "Content-Type: application/json\r\n").encode()
        for length in ("\u00b2".encode("latin-1"), "\u00b2".encode(), "\u0661".encode(), b"+2", b"0x2", b"2, 2", b""):
            with self.subTest(length=length):
                status, text = self.raw(head + b"Content-Length: " + length + b"\r\n\r\n{}")
                self.assertEqual(status, 400, text)
                self.assertIn("Content-Length", text)
        status, text = self.raw(head + b"Content-Length: 2\r\nContent-Length: 2\r\n\r\n{}")
        self.assertEqual(status, 400)

    def test_a_scenario_over_the_pages_time_limit_changes_nothing(self):
        self.start()
        ident = self.new_session()["id"]
        self.act(ident, "road", {"kind": "two-lanes", "from": 0, "to": 1})
        state = self.act(ident, "build")
        text = self.refused(ident, "scenario", self.scenario(settings={"timeout_ms": 600_001}))
        self.assertIn("from 0 to 600000", text)
        after = self.request("GET", f"/api/sessions/{ident}", headers={})[1]
        self.assertEqual((after["roads"], after["built"], after["scenario"]),
                         (state["roads"], True, state["scenario"]))

    def test_a_move_with_a_refused_name_moves_nothing(self):
        self.start()
        ident = self.new_session()["id"]
        before = self.request("GET", f"/api/sessions/{ident}", headers={})[1]["positions"][3]
        self.assertIn("longer than 40", self.refused(ident, "position", {"position": 3, "x": 400, "y": 300,
                                                                          "name": "n" * 41}))
        self.assertIn("must be a text", self.refused(ident, "position", {"position": 3, "x": 400, "y": 300,
                                                                          "name": 5}))
        after = self.request("GET", f"/api/sessions/{ident}", headers={})[1]["positions"][3]
        self.assertEqual(after, before)


class PlumbingTest(ServerCase):
    def exchange(self, data: bytes, answers: int = 1) -> list[bytes]:
        """The raw answers to bytes sent on one connection, and whether the server then closed it."""
        with socket.create_connection(("127.0.0.1", self.server.server_address[1]), timeout=20) as sock:
            sock.sendall(data)
            received = b""
            while received.count(b"HTTP/1.1 ") < answers or not received.endswith((b"\n", b"}")):
                chunk = sock.recv(65536)
                if not chunk:
                    break
                received += chunk
        return [b"HTTP/1.1 " + part for part in received.split(b"HTTP/1.1 ")[1:]]

    def test_methods_bodies_and_requests_in_a_row(self):
        self.start()
        head = b"Host: 127.0.0.1\r\n"
        (answer,) = self.exchange(b"HEAD /api/config HTTP/1.1\r\n" + head + b"\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer)
        self.assertTrue(answer.endswith(b"\r\n\r\n"), answer)  # the headers, no body
        self.assertIn(b"Content-Length: ", answer)
        self.assertEqual(self.request("PATCH", "/api/sessions", {})[0], 405)
        status, state = self.request("POST", "/api/sessions", b"")  # no body: an empty object
        self.assertEqual(status, 201, state)
        # Two requests in one packet: two answers, in order, on the one connection.
        two = (b"GET /api/config HTTP/1.1\r\n" + head + b"\r\n" +
               f"GET /api/sessions/{state['id']} HTTP/1.1\r\n".encode() + head + b"\r\n")
        first, second = self.exchange(two, answers=2)
        self.assertIn(b'"max_roads": 15', first)
        self.assertIn(state["id"].encode(), second)
        # A client that waits for "100 Continue" gets the answer itself.
        (answer,) = self.exchange(f"POST /api/sessions/{state['id']}/build HTTP/1.1\r\n".encode() + head +
                                  b"Expect: 100-continue\r\nContent-Type: application/json\r\n"
                                  b"Content-Length: 2\r\n\r\n{}")
        self.assertTrue(answer.startswith(b"HTTP/1.1 400"), answer)
        self.assertIn(b"Add at least one road", answer)

    def test_a_body_too_large_on_a_get_and_a_head_too_large(self):
        self.start()
        (answer,) = self.exchange(b"GET /api/config HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 999999999\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer)
        self.assertIn(b"Connection: close", answer)
        (answer,) = self.exchange(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + b"X-Padding: " + b"x" * 70_000)
        self.assertTrue(answer.startswith(b"HTTP/1.1 431"), answer)
        self.assertIn(b"larger than 64 KiB", answer)

    def test_connections_waiting_in_the_backlog_are_all_answered(self):
        self.start()
        self.server.shutdown()  # the taking thread pauses: connections wait in the listen backlog
        port = self.server.server_address[1]
        waiting = []
        for _ in range(120):
            sock = socket.create_connection(("127.0.0.1", port), timeout=30)
            self.addCleanup(sock.close)
            sock.sendall(b"GET /api/config HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
            waiting.append(sock)
        thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        thread.start()
        for sock in waiting:
            self.assertTrue(sock.recv(64).startswith(b"HTTP/1.1 200"))

    def test_out_of_file_descriptors_the_longest_waiting_connection_makes_room(self):
        self.start()
        port = self.server.server_address[1]
        idle = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.addCleanup(idle.close)
        time.sleep(0.3)
        listening = self.server.socket
        calls = []

        class Exhausted:
            """The listening socket, out of file descriptors at the first accept."""

            def accept(self):
                calls.append(1)
                if len(calls) == 1:
                    raise OSError(24, "Too many open files")
                return listening.accept()

            def __getattr__(self, name):
                return getattr(listening, name)

        self.server.socket = Exhausted()
        self.addCleanup(setattr, self.server, "socket", listening)
        self.assertEqual(self.request("GET", "/api/config", headers={})[0], 200)
        self.assertEqual(idle.recv(10), b"")  # closed to make room
        self.assertGreaterEqual(len(calls), 2)

    def test_a_port_in_use_and_bad_options_are_reported(self):
        server = self.start()
        port = str(server.server_address[1])
        status, out, err = self.serve("--port", port)
        self.assertEqual(status, 4)
        self.assertIn(f"error: cannot listen on 127.0.0.1 port {port}: Address already in use", err)
        for options, words in ((["--port", "70000"], "port 70000 is not 0 to 65535"),
                               (["--max-sessions", "0"], "--max-sessions must be 1 to 1000"),
                               (["--max-sessions", "4", "--sessions-per-client", "5"],
                                "--sessions-per-client must be 1 to --max-sessions")):
            with self.subTest(options=options):
                status, _, err = self.serve(*options)
                self.assertEqual(status, 2)
                self.assertTrue(err.startswith(f"error: serve: {words}"), err)

    def serve(self, *options: str) -> tuple[int, str, str]:
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stderr(err):
            status = main(["serve", "--binary", str(binary()), *options], out)
        return status, out.getvalue(), err.getvalue()

    def test_a_request_that_waits_too_long_for_its_session_is_told_so(self):
        self.start()
        ident = self.new_session()["id"]
        lock = self.server.sessions.use(ident)[1]
        with unittest.mock.patch.object(routes, "BUSY_SECONDS", 0.2), lock:
            text = self.refused(ident, "build", {}, 503)
        self.assertIn("still busy with an earlier request", text)
        self.assertEqual(self.request("DELETE", "/api/sessions/nobody", headers={}), (404, "No such session.\n"))


class LimitTest(ServerCase):
    def test_one_client_holds_its_share_of_the_sessions_and_no_more(self):
        self.start(max_sessions=4)
        held = [self.new_session()["id"] for _ in range(2)]
        status, text = self.request("POST", "/api/sessions", {})
        self.assertEqual(status, 429)
        self.assertIn("127.0.0.1 already holds 2 of the workbench's sessions", text)
        for ident in held:  # asking for their state keeps them, but gives no more
            self.request("GET", f"/api/sessions/{ident}", headers={})
        self.assertEqual(self.request("POST", "/api/sessions", {})[0], 429)
        self.assertEqual(self.server.sessions.count(), 2)
        self.request("DELETE", f"/api/sessions/{held[0]}", headers={})
        self.new_session()

    def test_fifty_creations_at_once_are_each_answered(self):
        self.start(max_sessions=4, sessions_per_client=4)
        statuses: list[object] = []
        barrier = threading.Barrier(50)

        def create() -> None:
            barrier.wait()
            try:
                connection = http.client.HTTPConnection("127.0.0.1", self.server.server_address[1], timeout=60)
                connection.request("POST", "/api/sessions", "{}", JSON)
                response = connection.getresponse()
                response.read()
                statuses.append(response.status)
                connection.close()
            except OSError as error:
                statuses.append(error)

        threads = [threading.Thread(target=create) for _ in range(50)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(sorted(statuses, key=str), [201] * 4 + [503] * 46)

    def test_a_client_past_its_request_rate_is_asked_to_wait(self):
        self.start(limits=ClientLimits(rate=2, burst=5))
        port = self.server.server_address[1]
        statuses = []
        for _ in range(8):
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            connection.request("GET", "/api/config")
            response = connection.getresponse()
            statuses.append((response.status, response.getheader("Retry-After")))
            body = response.read().decode()
            connection.close()
        self.assertEqual(statuses[:5], [(200, None)] * 5)
        self.assertIn((429, "1"), statuses[5:])
        self.assertIn("at most 2 a second", body)

    def test_connections_cost_no_thread_and_the_oldest_make_room(self):
        # The client's own share (30) makes room first; with a share above the server's limit
        # (40), the server's limit does.
        for per_client, total in ((30, 40), (50, 20)):
            with self.subTest(per_client=per_client, total=total):
                self.start(limits=ClientLimits(connections=total, connections_per_client=per_client, workers=3))
                threads = threading.active_count()
                port = self.server.server_address[1]
                idle = [socket.create_connection(("127.0.0.1", port)) for _ in range(60)]
                for sock in idle:
                    self.addCleanup(sock.close)
                self.assertLessEqual(threading.active_count(), threads)
                status, _ = self.request("GET", "/api/config", headers={})
                self.assertEqual(status, 200)
                room = min(per_client, total)
                closed = 0
                for sock in idle[:60 - room]:  # the first ones made room for the later ones
                    sock.settimeout(5)
                    with contextlib.suppress(OSError):
                        closed += sock.recv(1) == b""
                self.assertGreaterEqual(closed, 60 - room - 1)

    def test_connections_at_work_are_never_dropped_to_make_room(self):
        self.start(limits=ClientLimits(connections=3, workers=4))
        ident = self.new_session()["id"]
        lock = self.server.sessions.use(ident)[1]
        port = self.server.server_address[1]
        answers: dict[int, object] = {}

        def ask(n: int) -> None:
            try:
                answers[n] = self.request("GET", f"/api/sessions/{ident}", headers={})[0]
            except (OSError, http.client.HTTPException) as error:
                answers[n] = type(error).__name__

        with lock:  # the session is busy: two requests at work, the third waits its turn
            asking = [threading.Thread(target=ask, args=(n,)) for n in range(3)]
            for thread in asking:
                thread.start()
                time.sleep(0.2)
            newcomer = socket.create_connection(("127.0.0.1", port), timeout=10)
            self.addCleanup(newcomer.close)
            time.sleep(0.2)
            asking[2].join(10)  # the waiting one made room for the newcomer
            self.assertEqual(answers, {2: "RemoteDisconnected"})
            last = socket.create_connection(("127.0.0.1", port), timeout=10)
            self.addCleanup(last.close)
            self.assertEqual(newcomer.recv(10), b"")  # then the newcomer for the last one
            last.close()
            time.sleep(0.2)
            # Now every connection the server holds is at work: a new one finds no room.
            self.server.limits = ClientLimits(connections=2, workers=4)
            refused = socket.create_connection(("127.0.0.1", port), timeout=10)
            self.addCleanup(refused.close)
            self.assertEqual(refused.recv(10), b"")
        for thread in asking[:2]:
            thread.join(10)
        self.assertEqual((answers[0], answers[1]), (200, 200))

    def test_idle_connections_are_closed(self):
        self.start(limits=ClientLimits(idle_seconds=0.3))
        sock = socket.create_connection(("127.0.0.1", self.server.server_address[1]), timeout=10)
        self.addCleanup(sock.close)
        self.assertEqual(sock.recv(10), b"")
        self.server.server_close()
        self.server.server_close()  # once closed, closing again does nothing


class SlowClientTest(ServerCase):
    def test_a_request_that_never_ends_is_timed_out_while_others_are_answered(self):
        self.start(limits=ClientLimits(request_seconds=0.5, workers=1))
        port = self.server.server_address[1]
        slow = [socket.create_connection(("127.0.0.1", port), timeout=10) for _ in range(5)]
        for sock in slow:
            self.addCleanup(sock.close)
            sock.sendall(b"POST /api/sessions HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\n{")
        self.assertEqual(self.request("GET", "/api/config", headers={})[0], 200)  # one worker, not held by them
        for sock in slow:
            answer = sock.recv(4096)
            self.assertTrue(answer.startswith(b"HTTP/1.1 408"), answer)
            self.assertIn(b"did not arrive whole within 0.5 s", answer)
            self.assertEqual(sock.recv(10), b"")
        self.assertEqual(self.server.sessions.count(), 0)

    def test_clients_that_go_away_leave_no_traceback(self):
        with contextlib.redirect_stderr(io.StringIO()) as console:
            self.start(limits=ClientLimits(write_seconds=0.5))
            ident = self.new_session()["id"]
            port = self.server.server_address[1]
            for _ in range(20):
                sock = socket.create_connection(("127.0.0.1", port))
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
                sock.sendall(f"GET /api/sessions/{ident} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n".encode())
                sock.close()  # reset at once, before the answer
            sock = socket.create_connection(("127.0.0.1", port))
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
            for _ in range(200):  # answers it never reads
                sock.sendall(b"GET /static/app.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            time.sleep(1.5)
            sock.close()
            self.assertEqual(self.request("GET", f"/api/sessions/{ident}", headers={})[0], 200)
        self.assertNotIn("Traceback", console.getvalue())

    def test_a_client_that_resets_before_its_answer_costs_nothing(self):
        with contextlib.redirect_stderr(io.StringIO()) as console:
            self.start(limits=ClientLimits(workers=2))
            ident = self.new_session()["id"]
            lock = self.server.sessions.use(ident)[1]
            port = self.server.server_address[1]
            with lock:
                for data in (f"GET /api/sessions/{ident} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n".encode(),
                             b"GET /api/config HTTP/1.1\r\nHost: 127.0.0"):  # the whole request, or a part
                    sock = socket.create_connection(("127.0.0.1", port))
                    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
                    sock.sendall(data)
                    time.sleep(0.2)
                    sock.close()  # a reset
            for _ in range(4):  # every worker is still there
                self.assertEqual(self.request("GET", f"/api/sessions/{ident}", headers={})[0], 200)
        self.assertNotIn("Traceback", console.getvalue())

    def test_a_fault_in_answering_costs_no_worker(self):
        self.start(limits=ClientLimits(workers=1))
        handler = self.server.handler_class

        def faulty(*args):
            raise RuntimeError("a fault of the server")

        self.server.handler_class = faulty
        with contextlib.redirect_stderr(io.StringIO()) as console:
            with self.assertRaises(http.client.RemoteDisconnected):
                self.request("GET", "/api/config", headers={})
        self.assertIn("RuntimeError: a fault of the server", console.getvalue())
        self.server.handler_class = handler
        self.assertEqual(self.request("GET", "/api/config", headers={})[0], 200)

    def test_one_busy_session_does_not_hold_every_worker(self):
        self.start(limits=ClientLimits(workers=4),
                   timeouts=Timeouts(answer=3.0, planning_margin=3.0, planning_factor=0.5))
        busy, other = self.new_session(), self.new_session()
        self.act(busy["id"], "road", {"kind": "two-lanes", "from": 0, "to": 1})
        self.act(busy["id"], "build")
        os.kill(busy["controller"]["pid"], signal.SIGSTOP)
        self.addCleanup(lambda: gone(busy["controller"]["pid"]) or os.kill(busy["controller"]["pid"], signal.SIGKILL))
        finished: list[str] = []

        def ask(name: str, path: str) -> None:
            self.request("POST" if name == "busy" else "GET", path, {} if name == "busy" else None,
                         JSON if name == "busy" else {})
            finished.append(name)

        threads = [threading.Thread(target=ask, args=("busy", f"/api/sessions/{busy['id']}/distances"))
                   for _ in range(8)]
        for thread in threads:
            thread.start()
        time.sleep(0.3)
        ask("other", f"/api/sessions/{other['id']}")
        for thread in threads:
            thread.join()
        self.assertEqual(finished[0], "other", finished)


class EndRaceTest(ServerCase):
    """A restart that has found its session and then waits (here: a pause put between finding the
    session and taking its lock) while the session ends by DELETE or by idleness."""

    def race(self, end) -> list[int]:
        self.start(max_sessions=2, sessions_per_client=2)
        sessions = self.server.sessions
        found = sessions.use

        def slow_use(ident: str):
            result = found(ident)
            time.sleep(0.3)  # the session ends meanwhile
            return result

        sessions.use = slow_use
        outcomes = []
        for _ in range(6):
            ident = self.new_session()["id"]
            codes: list[int] = []
            thread = threading.Thread(target=lambda: codes.append(
                self.request("POST", f"/api/sessions/{ident}/restart", {})[0]))
            thread.start()
            time.sleep(0.1)
            end(ident)
            thread.join()
            outcomes += codes
        deadline = time.monotonic() + 5
        while controllers_in(self.root) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual((controllers_in(self.root), list(self.root.iterdir())), ([], []))
        self.assertEqual(sessions.count(), 0)
        return outcomes

    def test_restart_racing_delete_leaves_no_controller_or_folder(self):
        outcomes = self.race(lambda ident: self.assertEqual(
            self.request("DELETE", f"/api/sessions/{ident}", headers={})[0], 200))
        self.assertEqual(outcomes, [404] * 6)

    def test_restart_racing_expiry_leaves_no_controller_or_folder(self):
        def expire(ident: str) -> None:
            self.server.sessions.get(ident).last_used -= 10_000
            self.assertEqual(self.server.sessions.expire(), 1)

        self.assertEqual(self.race(expire), [404] * 6)
