"""The sessions of one workbench server: created on request, looked up by id, ended when idle;
at most so many at once, and at most so many for one client address.

What is fair: no client holds more than `per_client` sessions (by default half of them,
rounded up), so that one page or script that opens sessions and keeps them alive by asking for
their state leaves the other half to others. Clients on this machine share one address
(127.0.0.1 or ::1); a server for one person alone may let that person hold every session
(`--sessions-per-client` equal to `--max-sessions`).

A session is ended (by DELETE, by idleness, or when the server stops) under its own lock, the
lock every request of the session holds while it works; a request that gets the lock after the
end finds the session closed and is answered 404, and a closed session starts no controller,
so a restart that races an end never leaves a controller or a folder behind.
"""

from __future__ import annotations

import secrets
import sys
import threading
import time
import traceback
from http import HTTPStatus
from pathlib import Path

from ..errors import HTTPProblem
from ..exchange import Timeouts
from .session import WorkbenchSession

MAX_SESSIONS = 8
IDLE_SECONDS = 900.0
ENDED = ("this session has ended (it was idle too long, or the server was restarted); reload the page "
         "to start a new one")


def fair_share(max_sessions: int) -> int:
    """The sessions one client may hold by default: half of them, rounded up."""
    return max(1, (max_sessions + 1) // 2)


class Sessions:
    """The sessions of one server: created on request, looked up by id, ended when idle."""

    def __init__(self, binary: Path, *, max_sessions: int = MAX_SESSIONS, idle_seconds: float = IDLE_SECONDS,
                 timeouts: Timeouts = Timeouts(), root: Path | None = None, per_client: int | None = None):
        self.binary = binary
        self.max_sessions = max_sessions
        self.per_client = fair_share(max_sessions) if per_client is None else per_client
        self.idle_seconds = idle_seconds
        self.timeouts = timeouts
        self.root = root
        # A session's place is taken (None) before its controller starts.
        self._sessions: dict[str, WorkbenchSession | None] = {}
        self._locks: dict[str, threading.Lock] = {}
        self._owners: dict[str, str] = {}
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self.ended_idle = 0

    def create(self, client: str = "") -> WorkbenchSession:
        """A new session for the client (its address); 503 when the server is full, 429 when the
        client holds its share."""
        self.expire()
        with self._lock:
            self._check_room(client)
            ident = secrets.token_urlsafe(18)
            # Reserve the place before the (slow) start of the controller.
            self._locks[ident] = threading.Lock()
            self._sessions[ident] = None
            self._owners[ident] = client
        try:
            session = WorkbenchSession(ident, self.binary, timeouts=self.timeouts, root=self.root)
        except BaseException:
            self._forget(ident)
            raise
        with self._lock:
            kept = ident in self._sessions and not self._stop.is_set()
            if kept:
                self._sessions[ident] = session
        if not kept:  # the server stopped while the controller started
            session.close()
            self._forget(ident)
            raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE, "the workbench is stopping")
        return session

    def _check_room(self, client: str) -> None:
        if self._stop.is_set():
            raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE, "the workbench is stopping")
        if len(self._sessions) >= self.max_sessions:
            raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE,
                              f"the workbench already runs {self.max_sessions} sessions, its limit; "
                              "close another workbench page or wait until an idle one ends")
        held = sum(1 for owner in self._owners.values() if owner == client)
        if held >= self.per_client:
            raise HTTPProblem(HTTPStatus.TOO_MANY_REQUESTS,
                              f"{client or 'this client'} already holds {held} of the workbench's sessions, "
                              f"the limit for one client (of {self.max_sessions} in all); close another "
                              "workbench page first")

    def _forget(self, ident: str) -> None:
        with self._lock:
            self._sessions.pop(ident, None)
            self._locks.pop(ident, None)
            self._owners.pop(ident, None)

    def use(self, ident: str) -> tuple[WorkbenchSession, threading.Lock]:
        with self._lock:
            session = self._sessions.get(ident)
            lock = self._locks.get(ident)
        if session is None or lock is None:
            raise HTTPProblem(HTTPStatus.NOT_FOUND, ENDED)
        return session, lock

    def end(self, ident: str) -> bool:
        with self._lock:
            session = self._sessions.get(ident)
            lock = self._locks.get(ident)
            if session is not None:
                self._sessions.pop(ident, None)
                self._locks.pop(ident, None)
                self._owners.pop(ident, None)
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
                    self._owners.pop(ident, None)
                session.close()
                ended += 1
            finally:
                lock.release()
        self.ended_idle += ended
        return ended

    def count(self) -> int:
        with self._lock:
            return len(self._sessions)

    def get(self, ident: str) -> WorkbenchSession | None:
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
