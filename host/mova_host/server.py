"""The workbench's web server: the page, its files and a JSON interface to the sessions.

`mova-host serve` runs it. It binds to 127.0.0.1 unless told otherwise; each browser session
gets its own controller child (see `workbench`). Every request is checked here or in the
session: a bad one gets a status of 400 (or 404, 405, 409, 411, 413, 415) with a sentence in plain
text, never a traceback. Requests that change something must carry JSON (`Content-Type:
application/json`), which a page of another site cannot send without the browser asking first;
a `Host` header naming another machine is refused while the server listens on loopback only.
Idle sessions end after a while and their children with them; there are at most so many
sessions at once.
"""

from __future__ import annotations

import argparse
import json
import re
import secrets
import signal
import socket
import sys
import threading
import time
import traceback
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from importlib import resources
from pathlib import Path
from typing import Any, Callable, TextIO
from urllib.parse import parse_qs, urlsplit

from . import svg
from .client import Timeouts, find_binary
from .mission import RoadKind
from .protocol import MAX_POS, MAX_ROADS, VEHICLES
from .workbench import Conflict, ControllerDown, Refused, Session

DEFAULT_PORT = 8765
MAX_BODY = 256 * 1024
LOOPBACK_NAMES = {"127.0.0.1", "localhost", "::1", "[::1]"}
STATIC_NAME = re.compile(r"[a-z0-9][a-z0-9_-]*\.(?:js|css|html|svg|png)")
CONTENT_TYPES = {"js": "text/javascript; charset=utf-8", "css": "text/css; charset=utf-8",
                 "html": "text/html; charset=utf-8", "svg": "image/svg+xml", "png": "image/png"}
SECURITY_HEADERS = {
    "X-Content-Type-Options": "nosniff",
    "X-Frame-Options": "DENY",
    "Referrer-Policy": "no-referrer",
    "Content-Security-Policy": "default-src 'self'; style-src 'self' 'unsafe-inline'; "
                               "img-src 'self' data: blob:; frame-ancestors 'none'",
}


class HTTPProblem(Exception):
    def __init__(self, status: HTTPStatus, message: str):
        super().__init__(message)
        self.status = status
        self.message = message


# ----- sessions --------------------------------------------------------------------------------


class Sessions:
    """The sessions of one server: created on request, looked up by id, ended when idle."""

    def __init__(self, binary: Path, *, max_sessions: int = 8, idle_seconds: float = 900.0,
                 timeouts: Timeouts = Timeouts(), root: Path | None = None):
        self.binary = binary
        self.max_sessions = max_sessions
        self.idle_seconds = idle_seconds
        self.timeouts = timeouts
        self.root = root
        self._sessions: dict[str, Session] = {}
        self._locks: dict[str, threading.Lock] = {}
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self.ended_idle = 0

    def create(self) -> Session:
        self.expire()
        with self._lock:
            if len(self._sessions) >= self.max_sessions:
                raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE,
                                  f"the workbench already runs {self.max_sessions} sessions, its limit; "
                                  "close another workbench page or wait until an idle one ends")
            ident = secrets.token_urlsafe(18)
            # Reserve the place before the (slow) start of the controller.
            self._locks[ident] = threading.Lock()
            self._sessions[ident] = None  # type: ignore[assignment]
        try:
            session = Session(ident, self.binary, timeouts=self.timeouts, root=self.root)
        except BaseException:
            with self._lock:
                self._sessions.pop(ident, None)
                self._locks.pop(ident, None)
            raise
        with self._lock:
            self._sessions[ident] = session
        return session

    def use(self, ident: str) -> tuple[Session, threading.Lock]:
        with self._lock:
            session = self._sessions.get(ident)
            lock = self._locks.get(ident)
        if session is None or lock is None:
            raise HTTPProblem(HTTPStatus.NOT_FOUND, "this session has ended (it was idle too long, "
                              "or the server was restarted); reload the page to start a new one")
        return session, lock

    def end(self, ident: str) -> bool:
        with self._lock:
            session = self._sessions.pop(ident, None)
            lock = self._locks.pop(ident, None)
        if session is None or lock is None:
            return False
        with lock:
            session.close()
        return True

    def expire(self) -> int:
        """Ends every session left idle longer than the limit; returns how many ended."""
        now = time.monotonic()
        ended = 0
        with self._lock:
            idle = [i for i, s in self._sessions.items()
                    if s is not None and now - s.last_used > self.idle_seconds]
        for ident in idle:
            with self._lock:
                lock = self._locks.get(ident)
            if lock is None or not lock.acquire(blocking=False):
                continue  # busy: not idle after all
            try:
                with self._lock:
                    session = self._sessions.get(ident)
                    if session is None or time.monotonic() - session.last_used <= self.idle_seconds:
                        continue
                    del self._sessions[ident]
                    del self._locks[ident]
                session.close()
                ended += 1
            finally:
                lock.release()
        self.ended_idle += ended
        return ended

    def count(self) -> int:
        with self._lock:
            return len(self._sessions)

    def get(self, ident: str) -> Session | None:
        with self._lock:
            return self._sessions.get(ident)

    def watch(self) -> threading.Thread:
        """Starts the thread that ends idle sessions."""
        period = max(0.2, min(30.0, self.idle_seconds / 4))

        def run() -> None:
            while not self._stop.wait(period):
                try:
                    self.expire()
                except Exception:
                    traceback.print_exc(file=sys.stderr)

        thread = threading.Thread(target=run, name="session-expiry", daemon=True)
        thread.start()
        return thread

    def close_all(self) -> None:
        self._stop.set()
        with self._lock:
            idents = list(self._sessions)
        for ident in idents:
            self.end(ident)


# ----- the HTTP side ---------------------------------------------------------------------------


class WorkbenchServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address: tuple[str, int], sessions: Sessions, *, quiet: bool = True):
        self.sessions = sessions
        self.quiet = quiet
        self.loopback = address[0] in LOOPBACK_NAMES
        if ":" in address[0]:
            self.address_family = socket.AF_INET6
        super().__init__(address, Handler)

    @property
    def url(self) -> str:
        host, port = self.server_address[:2]
        shown = f"[{host}]" if ":" in str(host) else str(host)
        return f"http://{shown}:{port}/"


Route = tuple[str, re.Pattern[str], Callable[..., Any]]


def _session_route(method: str, tail: str) -> tuple[str, re.Pattern[str]]:
    return method, re.compile(r"/api/sessions/(?P<ident>[A-Za-z0-9_-]{1,64})" + tail)


class Handler(BaseHTTPRequestHandler):
    server: WorkbenchServer
    server_version = "mova-workbench"
    sys_version = ""
    protocol_version = "HTTP/1.1"
    timeout = 60
    error_content_type = "text/plain; charset=utf-8"
    error_message_format = "%(code)d %(message)s\n"

    # ----- plumbing ------------------------------------------------------------------------

    def log_message(self, format: str, *args: Any) -> None:
        if not self.server.quiet:
            sys.stderr.write(f"{self.address_string()} {format % args}\n")

    def _send(self, status: int, body: bytes, content_type: str, headers: dict[str, str] | None = None) -> None:
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        for key, value in {**SECURITY_HEADERS, **(headers or {})}.items():
            self.send_header(key, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def _text(self, status: int, message: str) -> None:
        self._send(status, (message.rstrip() + "\n").encode("utf-8"), "text/plain; charset=utf-8")

    def _json(self, value: Any, status: int = 200) -> None:
        self._send(status, json.dumps(value).encode("utf-8"), "application/json")

    def do_GET(self) -> None:
        self._dispatch("GET")

    def do_POST(self) -> None:
        self._dispatch("POST")

    def do_DELETE(self) -> None:
        self._dispatch("DELETE")

    def do_PUT(self) -> None:
        self._dispatch("PUT")

    def do_PATCH(self) -> None:
        self._dispatch("PATCH")

    def do_HEAD(self) -> None:
        self._dispatch("HEAD")

    def _dispatch(self, method: str) -> None:
        try:
            self._check_host()
            path = urlsplit(self.path).path
            matches = [(m, p.fullmatch(path), h) for m, p, h in ROUTES if p.fullmatch(path)]
            wanted = "GET" if method == "HEAD" else method
            chosen = [(match, handler) for m, match, handler in matches if m == wanted]
            if not chosen:
                self._discard_body()
                if matches:
                    allowed = sorted({m for m, _, _ in matches})
                    raise HTTPProblem(HTTPStatus.METHOD_NOT_ALLOWED,
                                      f"{method} is not used here; use {' or '.join(allowed)}")
                raise HTTPProblem(HTTPStatus.NOT_FOUND, f"nothing is at {path[:200]}")
            match, handler = chosen[0]
            body = self._read_json() if method == "POST" else None
            if method not in ("POST",):
                self._discard_body()
            assert match is not None
            handler(self, body=body, **match.groupdict())
        except HTTPProblem as problem:
            self._text(problem.status, _sentence(problem.message))
        except Exception:
            traceback.print_exc(file=sys.stderr)
            self.close_connection = True
            self._text(HTTPStatus.INTERNAL_SERVER_ERROR,
                       "the workbench failed on this request; the server's console tells more")

    def _check_host(self) -> None:
        if not self.server.loopback:
            return
        host = (self.headers.get("Host") or "").strip().lower()
        name = host.rsplit(":", 1)[0] if not host.endswith("]") else host
        if name not in LOOPBACK_NAMES:
            self.close_connection = True
            raise HTTPProblem(HTTPStatus.BAD_REQUEST,
                              "this workbench answers requests for 127.0.0.1 or localhost only")

    def _length(self) -> int:
        raw = self.headers.get("Content-Length")
        if self.headers.get("Transfer-Encoding"):
            self.close_connection = True
            raise HTTPProblem(HTTPStatus.LENGTH_REQUIRED, "send the body with a Content-Length, not in chunks")
        if raw is None:
            return 0
        if not raw.strip().isdigit():
            self.close_connection = True
            raise HTTPProblem(HTTPStatus.BAD_REQUEST, "the Content-Length header is not a number")
        return int(raw)

    def _discard_body(self) -> None:
        length = self._length()
        if length > MAX_BODY:
            self.close_connection = True
        elif length:
            self.rfile.read(length)

    def _read_json(self) -> Any:
        length = self._length()
        if length > MAX_BODY:
            self.close_connection = True
            raise HTTPProblem(HTTPStatus.REQUEST_ENTITY_TOO_LARGE,
                              f"the request body is too large: at most {MAX_BODY // 1024} KiB")
        try:
            data = self.rfile.read(length) if length else b""
        except OSError:  # the socket's time-out: the body never came
            self.close_connection = True
            raise HTTPProblem(HTTPStatus.REQUEST_TIMEOUT, "the request body did not arrive in time") from None
        if len(data) != length:
            self.close_connection = True
            raise HTTPProblem(HTTPStatus.BAD_REQUEST, "the request body ended early")
        content_type = (self.headers.get("Content-Type") or "").split(";")[0].strip().lower()
        if content_type != "application/json":
            raise HTTPProblem(HTTPStatus.UNSUPPORTED_MEDIA_TYPE,
                              "send the request body as JSON (Content-Type: application/json)")
        if not data.strip():
            return {}
        try:
            return json.loads(data.decode("utf-8"), parse_constant=_no_constant)
        except UnicodeDecodeError:
            raise HTTPProblem(HTTPStatus.BAD_REQUEST, "the request body is not UTF-8 text") from None
        except json.JSONDecodeError as error:
            raise HTTPProblem(HTTPStatus.BAD_REQUEST,
                              f"the request body is not valid JSON: {error.msg} at line {error.lineno} "
                              f"column {error.colno}") from None
        except (ValueError, RecursionError) as error:
            raise HTTPProblem(HTTPStatus.BAD_REQUEST, f"the request body cannot be read as JSON: {error}") from None

    # ----- pages and files -----------------------------------------------------------------

    def page(self, body: Any) -> None:
        self.static(body, "index.html")

    def static(self, body: Any, name: str) -> None:
        if not STATIC_NAME.fullmatch(name):
            raise HTTPProblem(HTTPStatus.NOT_FOUND, f"no file {name[:100]}")
        try:
            data = resources.files("mova_host").joinpath("web", name).read_bytes()
        except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
            raise HTTPProblem(HTTPStatus.NOT_FOUND, f"no file {name}") from None
        self._send(200, data, CONTENT_TYPES[name.rsplit(".", 1)[1]])

    def config(self, body: Any) -> None:
        self._json({
            "positions": MAX_POS, "max_roads": MAX_ROADS, "vehicles": list(VEHICLES),
            "kinds": [k.value for k in RoadKind], "colours": {str(v): c for v, c in svg.COLOURS.items()},
            "obstacle_colour": svg.OBSTACLE_COLOUR, "road_colour": svg.ROAD_COLOUR,
            "width": svg.WIDTH, "height": svg.HEIGHT, "idle_seconds": self.server.sessions.idle_seconds,
        })

    # ----- sessions ------------------------------------------------------------------------

    def new_session(self, body: Any) -> None:
        try:
            session = self.server.sessions.create()
        except ControllerDown as down:
            raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE, str(down)) from None
        self._json(session.state(), HTTPStatus.CREATED)

    def end_session(self, body: Any, ident: str) -> None:
        if not self.server.sessions.end(ident):
            raise HTTPProblem(HTTPStatus.NOT_FOUND, "no such session")
        self._text(200, "the session has ended")

    def _with_session(self, ident: str, work: Callable[[Session], None], since: int | None = None) -> None:
        session, lock = self.server.sessions.use(ident)
        if not lock.acquire(timeout=120):
            raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE, "the session is still busy with an earlier request")
        try:
            session.last_used = time.monotonic()
            seq = session.state_seq() if since is None else since
            try:
                work(session)
            except Conflict as conflict:
                raise HTTPProblem(HTTPStatus.CONFLICT, _sentence(str(conflict))) from None
            except Refused as refused:
                raise HTTPProblem(HTTPStatus.BAD_REQUEST, _sentence(str(refused))) from None
            except ControllerDown as down:
                raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE,
                                  _sentence(f"{down}. Restart the controller to go on")) from None
            self._json(session.state(since=seq))
        finally:
            session.last_used = time.monotonic()
            lock.release()

    def get_state(self, body: Any, ident: str) -> None:
        query = parse_qs(urlsplit(self.path).query)
        since = 0
        if "since" in query:
            raw = query["since"][0]
            if not raw.isdigit() or len(raw) > 12:
                raise HTTPProblem(HTTPStatus.BAD_REQUEST, "since must be a whole number")
            since = int(raw)
        self._with_session(ident, lambda s: None, since=since)

    def action(self, body: Any, ident: str, name: str) -> None:
        operation = ACTIONS.get(name)
        if operation is None:
            raise HTTPProblem(HTTPStatus.NOT_FOUND, f"no action {name[:60]}")
        takes_data, run = operation
        if takes_data and not isinstance(body, dict):
            raise HTTPProblem(HTTPStatus.BAD_REQUEST, "the request body must be a JSON object")
        self._with_session(ident, (lambda s: run(s, body)) if takes_data else run)

    def load_scenario(self, body: Any, ident: str) -> None:
        self._with_session(ident, lambda s: s.load_scenario(body))

    def save_scenario(self, body: Any, ident: str) -> None:
        session, lock = self.server.sessions.use(ident)
        with lock:
            session.last_used = time.monotonic()
            try:
                data = session.scenario()
            except Refused as refused:
                raise HTTPProblem(HTTPStatus.CONFLICT, _sentence(str(refused))) from None
        name = _file_name(data.get("name") or "scenario")
        self._send(200, (json.dumps(data, indent=2) + "\n").encode("utf-8"), "application/json",
                   {"Content-Disposition": f'attachment; filename="{name}.json"'})

    def commands(self, body: Any, ident: str) -> None:
        session, lock = self.server.sessions.use(ident)
        with lock:
            session.last_used = time.monotonic()
            data = session.commands_text().encode("utf-8")
        self._send(200, data, "text/plain; charset=utf-8",
                   {"Content-Disposition": 'attachment; filename="mova-commands.txt"'})


def _no_constant(name: str) -> Any:
    raise ValueError(f"{name} is not a number JSON allows")


def _sentence(message: str) -> str:
    message = message.strip()
    return (message[:1].upper() + message[1:]).rstrip(".") + "."


def _file_name(name: str) -> str:
    cleaned = re.sub(r"[^A-Za-z0-9_-]+", "-", name).strip("-")[:60]
    return cleaned or "scenario"


ACTIONS: dict[str, tuple[bool, Callable[..., None]]] = {
    "position": (True, Session.move_position),
    "road": (True, Session.add_road),
    "remove-road": (True, Session.remove_road),
    "clear-roads": (False, Session.clear_roads),
    "build": (False, Session.build),
    "distances": (False, Session.distance_table),
    "vehicles": (True, Session.set_vehicles),
    "plan": (False, Session.run_plan),
    "move": (False, Session.move),
    "obstacle": (True, Session.add_obstacle),
    "clear-obstacles": (False, Session.clear_obstacles),
    "confirm": (False, Session.confirm),
    "settings": (True, Session.settings),
    "restart": (False, Session.restart),
}

ROUTES: list[Route] = [
    ("GET", re.compile(r"/"), Handler.page),
    ("GET", re.compile(r"/index\.html"), Handler.page),
    ("GET", re.compile(r"/static/(?P<name>[^/]{1,100})"), Handler.static),
    ("GET", re.compile(r"/api/config"), Handler.config),
    ("POST", re.compile(r"/api/sessions"), Handler.new_session),
    (*_session_route("GET", ""), Handler.get_state),
    (*_session_route("DELETE", ""), Handler.end_session),
    (*_session_route("POST", r"/scenario"), Handler.load_scenario),
    (*_session_route("GET", r"/scenario"), Handler.save_scenario),
    (*_session_route("GET", r"/commands\.txt"), Handler.commands),
    (*_session_route("POST", r"/(?P<name>[a-z-]{1,30})"), Handler.action),
]


# ----- the command line ------------------------------------------------------------------------


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--port", type=int, default=DEFAULT_PORT,
                        help=f"port to listen on (default {DEFAULT_PORT}; 0 picks a free one)")
    parser.add_argument("--host", default="127.0.0.1",
                        help="address to listen on (default 127.0.0.1, this machine only)")
    parser.add_argument("--max-sessions", type=int, default=8, help="sessions at once (default 8)")
    parser.add_argument("--idle-minutes", type=float, default=15.0,
                        help="end a session idle this long, and its controller (default 15)")


def make_server(binary: str | Path | None = None, *, host: str = "127.0.0.1", port: int = DEFAULT_PORT,
                max_sessions: int = 8, idle_seconds: float = 900.0, timeouts: Timeouts = Timeouts(),
                root: Path | None = None, quiet: bool = True) -> WorkbenchServer:
    sessions = Sessions(find_binary(binary).resolve(), max_sessions=max_sessions, idle_seconds=idle_seconds,
                        timeouts=timeouts, root=root)
    server = WorkbenchServer((host, port), sessions, quiet=quiet)
    sessions.watch()
    return server


def serve(args: argparse.Namespace, out: TextIO = sys.stdout) -> int:
    if not 0 <= args.port <= 65535:
        raise SystemExit(f"serve: port {args.port} is not 0 to 65535")
    if args.max_sessions < 1 or args.idle_minutes <= 0:
        raise SystemExit("serve: --max-sessions must be 1 or more and --idle-minutes more than 0")
    root = Path(args.workdir) if args.workdir else None
    if root is not None:
        root.mkdir(parents=True, exist_ok=True)
    try:
        server = make_server(args.binary, host=args.host, port=args.port, max_sessions=args.max_sessions,
                             idle_seconds=args.idle_minutes * 60,
                             timeouts=Timeouts(answer=args.timeout, planning_margin=args.timeout),
                             root=root, quiet=False)
    except OSError as error:
        print(f"error: cannot listen on {args.host} port {args.port}: {error.strerror or error}", file=sys.stderr)
        return 1
    print(f"MOVA workbench: {server.url}  (Ctrl+C to stop)", file=out, flush=True)
    if not server.loopback:
        print("note: listening beyond this machine; anyone who reaches it can drive controllers",
              file=out, flush=True)
    def terminate(signum: int, frame: object) -> None:
        raise SystemExit(0)

    previous = signal.signal(signal.SIGTERM, terminate)
    try:
        server.serve_forever()
    except (KeyboardInterrupt, SystemExit):
        pass
    finally:
        signal.signal(signal.SIGTERM, previous)
        server.server_close()
        server.sessions.close_all()
    return 0
