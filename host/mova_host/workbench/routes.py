"""The workbench's HTTP interface: the page and its files, the page's settings, and the sessions
with their actions, their scenario files and their command streams.

    GET  /, /static/NAME, /api/config
    POST /api/sessions                        a new session (and its controller)
    GET  /api/sessions/ID?since=SEQ           its state, the transcript after SEQ
    DELETE /api/sessions/ID                   end it now
    POST /api/sessions/ID/leave               its page went away: end it soon (a beacon)
    POST /api/sessions/ID/ACTION              an action (see ACTIONS) with a JSON object
    POST /api/sessions/ID/scenario            load a scenario file; GET: save it
    GET  /api/sessions/ID/commands.txt        the commands sent, as a command file
"""

from __future__ import annotations

import json
import re
import threading
import time
from http import HTTPStatus
from importlib import resources
from typing import Any, Callable
from urllib.parse import parse_qs, urlsplit

from ..errors import Conflict, ControllerDown, HTTPProblem, Refused
from .http import JsonRequestHandler, Route, sentence
from .registry import ENDED
from .session import WorkbenchSession
from .view import config_json, state_json

STATIC_NAME = re.compile(r"[a-z0-9][a-z0-9_-]*\.(?:js|css|html|svg|png)")
CONTENT_TYPES = {"js": "text/javascript; charset=utf-8", "css": "text/css; charset=utf-8",
                 "html": "text/html; charset=utf-8", "svg": "image/svg+xml", "png": "image/png"}
BUSY_SECONDS = 120  # how long a request waits for the session's earlier one

# The actions of a session: those that take the request's JSON object, and those that do not.
ACTIONS_WITH_DATA: dict[str, Callable[[WorkbenchSession, dict[str, Any]], None]] = {
    "position": WorkbenchSession.move_position,
    "road": WorkbenchSession.add_road,
    "remove-road": WorkbenchSession.remove_road,
    "vehicles": WorkbenchSession.set_vehicles,
    "obstacle": WorkbenchSession.add_obstacle,
    "settings": WorkbenchSession.settings,
    "name": WorkbenchSession.name_scenario,
}
ACTIONS: dict[str, Callable[[WorkbenchSession], None]] = {
    "clear-roads": WorkbenchSession.clear_roads,
    "build": WorkbenchSession.build,
    "distances": WorkbenchSession.distance_table,
    "plan": WorkbenchSession.run_plan,
    "move": WorkbenchSession.move,
    "clear-obstacles": WorkbenchSession.clear_obstacles,
    "confirm": WorkbenchSession.confirm,
    "restart": WorkbenchSession.restart,
}


def _file_name(name: str) -> str:
    cleaned = re.sub(r"[^A-Za-z0-9_-]+", "-", name).strip("-")[:60]
    return cleaned or "scenario"


class Handler(JsonRequestHandler):
    """One request to the workbench."""

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
        self._json(config_json(self.server.sessions.idle_seconds))

    # ----- sessions ------------------------------------------------------------------------

    def new_session(self, body: Any) -> None:
        try:
            session = self.server.sessions.create(self.client)
        except ControllerDown as down:
            raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE, str(down)) from None
        self._json(state_json(session), HTTPStatus.CREATED)

    def end_session(self, body: Any, ident: str) -> None:
        if not self.server.sessions.end(ident):
            raise HTTPProblem(HTTPStatus.NOT_FOUND, "no such session")
        self._text(200, "the session has ended")

    def leave_session(self, body: Any, ident: str) -> None:
        """The page's farewell (`navigator.sendBeacon` on `pagehide`): the session ends a few
        seconds later unless a page takes it up again, as a reload does."""
        if not self.server.sessions.leave(ident):
            raise HTTPProblem(HTTPStatus.NOT_FOUND, "no such session")
        self._text(HTTPStatus.ACCEPTED, "the session ends unless a page takes it up again")

    def _locked(self, ident: str) -> tuple[WorkbenchSession, threading.Lock]:
        """The session, its lock taken (released by the caller); 404 when the session ended
        while the request waited for the lock."""
        session, lock = self.server.sessions.use(ident)
        if not lock.acquire(timeout=BUSY_SECONDS):
            raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE, "the session is still busy with an earlier request")
        if session.closed:
            lock.release()
            raise HTTPProblem(HTTPStatus.NOT_FOUND, ENDED)
        session.last_used = time.monotonic()
        return session, lock

    def _with_session(self, ident: str, work: Callable[[WorkbenchSession], None], since: int | None = None) -> None:
        """Does the work on the session and answers with its state (the transcript since the
        work began, or since `since`)."""
        session, lock = self._locked(ident)
        try:
            seq = session.transcript.seq if since is None else since
            try:
                work(session)
            except Conflict as conflict:
                raise HTTPProblem(HTTPStatus.CONFLICT, sentence(str(conflict))) from None
            except Refused as refused:
                raise HTTPProblem(HTTPStatus.BAD_REQUEST, sentence(str(refused))) from None
            except ControllerDown as down:
                raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE,
                                  sentence(f"{down}. Restart the controller to go on")) from None
            self._json(state_json(session, since=seq))
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
        if name in ACTIONS_WITH_DATA:
            if not isinstance(body, dict):
                raise HTTPProblem(HTTPStatus.BAD_REQUEST, "the request body must be a JSON object")
            run, data = ACTIONS_WITH_DATA[name], body
            self._with_session(ident, lambda s: run(s, data))
        elif name in ACTIONS:
            self._with_session(ident, ACTIONS[name])
        else:
            raise HTTPProblem(HTTPStatus.NOT_FOUND, f"no action {name[:60]}")

    def load_scenario(self, body: Any, ident: str) -> None:
        self._with_session(ident, lambda s: s.load_scenario(body))

    def save_scenario(self, body: Any, ident: str) -> None:
        session, lock = self._locked(ident)
        try:
            data = session.scenario_json()
        except Refused as refused:
            raise HTTPProblem(HTTPStatus.CONFLICT, sentence(str(refused))) from None
        finally:
            lock.release()
        name = _file_name(data.get("name") or "scenario")
        self._send(200, (json.dumps(data, indent=2, allow_nan=False) + "\n").encode("utf-8"), "application/json",
                   {"Content-Disposition": f'attachment; filename="{name}.json"'})

    def commands(self, body: Any, ident: str) -> None:
        session, lock = self._locked(ident)
        try:
            data = session.transcript.commands_text().encode("utf-8")
        finally:
            lock.release()
        self._send(200, data, "text/plain; charset=utf-8",
                   {"Content-Disposition": 'attachment; filename="mova-commands.txt"'})


def _session_route(method: str, tail: str) -> tuple[str, re.Pattern[str]]:
    return method, re.compile(r"/api/sessions/(?P<ident>[A-Za-z0-9_-]{1,64})" + tail)


ROUTES: list[Route] = [
    ("GET", re.compile(r"/"), Handler.page),
    ("GET", re.compile(r"/index\.html"), Handler.page),
    ("GET", re.compile(r"/static/(?P<name>[^/]{1,100})"), Handler.static),
    ("GET", re.compile(r"/api/config"), Handler.config),
    ("POST", re.compile(r"/api/sessions"), Handler.new_session),
    (*_session_route("GET", ""), Handler.get_state),
    (*_session_route("DELETE", ""), Handler.end_session),
    (*_session_route("POST", r"/leave"), Handler.leave_session),
    (*_session_route("POST", r"/scenario"), Handler.load_scenario),
    (*_session_route("GET", r"/scenario"), Handler.save_scenario),
    (*_session_route("GET", r"/commands\.txt"), Handler.commands),
    (*_session_route("POST", r"/(?P<name>[a-z-]{1,30})"), Handler.action),
]
Handler.routes = ROUTES
