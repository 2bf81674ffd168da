"""The sessions of one workbench server: created on request, looked up by id, ended when idle
or a little after their page went away; at most so many at once, and at most so many for one
client address.

What is fair: no client holds more than `per_client` sessions (by default half of them,
rounded up), so that one page or script that opens sessions and keeps them alive by asking for
their state leaves the other half to others. Clients on this machine share one address
(127.0.0.1 or ::1); a server for one person alone may let that person hold every session
(`--sessions-per-client` equal to `--max-sessions`).

A session is ended (by DELETE, by idleness, when its page went away, or when the server stops)
under its own lock, the lock every request of the session holds while it works; a request that
gets the lock after the end finds the session closed and is answered 404, and a closed session
starts no controller, so a restart that races an end never leaves a controller or a folder
behind.
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
# A session whose page went away ends this long after, unless a page takes it up again (a reload
# does at once); a server that is full ends such sessions at once to make room.
LEAVE_SECONDS = 10.0
ENDED = ("this session has ended (it was idle too long, or the server was restarted); reload the page "
         "to start a new one")


def fair_share(max_sessions: int) -> int:
    """The sessions one client may hold by default: half of them, rounded up."""
    return max(1, (max_sessions + 1) // 2)


class Sessions:
    """The sessions of one server: created on request, looked up by id, ended when idle or
    left by their page."""

    def __init__(self, binary: Path, *, max_sessions: int = MAX_SESSIONS, idle_seconds: float = IDLE_SECONDS,
                 timeouts: Timeouts = Timeouts(), root: Path | None = None, leave_seconds: float = LEAVE_SECONDS,
                 per_client: int | None = None):
        self.binary = binary
        self.max_sessions = max_sessions
        self.per_client = fair_share(max_sessions) if per_client is None else per_client
        self.idle_seconds = idle_seconds
        self.leave_seconds = leave_seconds
        self.timeouts = timeouts
        self.root = root
        # A session's place is taken (None) before its controller starts.
        self._sessions: dict[str, WorkbenchSession | None] = {}
        self._locks: dict[str, threading.Lock] = {}
        self._left: dict[str, float] = {}  # when the page of a session went away
        self._owners: dict[str, str] = {}  # the client address of each session
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self.ended_idle = 0

    def create(self, client: str = "") -> WorkbenchSession:
        """A new session for the client (its address); 503 when the server is full, 429 when the
        client holds its share. Sessions whose page went away end at once to make room."""
        self.expire()
        if self.count() >= self.max_sessions or self.held_by(client) >= self.per_client:
            self.expire(leave_seconds=0.0)
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

    def held_by(self, client: str) -> int:
        """The sessions the client holds (those still starting included)."""
        with self._lock:
            return sum(1 for owner in self._owners.values() if owner == client)

    def _check_room(self, client: str) -> None:
        """HTTPProblem when there is no room for a session of the client (lock held)."""
        if self._stop.is_set():
            raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE, "the workbench is stopping")
        if len(self._sessions) >= self.max_sessions:
            raise HTTPProblem(HTTPStatus.SERVICE_UNAVAILABLE,
                              f"the workbench already runs {self.max_sessions} "
                              f"session{'s' if self.max_sessions != 1 else ''}, its limit; "
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
            self._left.pop(ident, None)
            self._owners.pop(ident, None)

    def use(self, ident: str) -> tuple[WorkbenchSession, threading.Lock]:
        with self._lock:
            session = self._sessions.get(ident)
            lock = self._locks.get(ident)
            if session is not None:
                self._left.pop(ident, None)  # a page uses it: not left after all
        if session is None or lock is None:
            raise HTTPProblem(HTTPStatus.NOT_FOUND, ENDED)
        return session, lock

    def leave(self, ident: str) -> bool:
        """Notes that the page of a session went away: the session ends `leave_seconds` later
        unless a page uses it again. False for a session that does not exist."""
        with self._lock:
            if self._sessions.get(ident) is None:
                return False
            self._left[ident] = time.monotonic()
        return True

    def end(self, ident: str) -> bool:
        """Ends a session (under its lock); False for one that does not exist or still starts."""
        with self._lock:
            session = self._sessions.get(ident)
            lock = self._locks.get(ident)
            if session is None or lock is None:
                return False
            del self._sessions[ident], self._locks[ident]
            self._left.pop(ident, None)
            self._owners.pop(ident, None)
        with lock:
            session.close()
        return True

    def _over(self, ident: str, leave_seconds: float) -> bool:
        """Whether a session is idle too long, or its page went away long enough ago (lock held)."""
        session, now = self._sessions.get(ident), time.monotonic()
        if session is None:
            return False
        left = self._left.get(ident)
        return now - session.last_used > self.idle_seconds or (left is not None and now - left >= leave_seconds)

    def expire(self, leave_seconds: float | None = None) -> int:
        """Ends every session left idle longer than the limit, or whose page went away more than
        `leave_seconds` ago (by default the server's); returns how many ended."""
        grace = self.leave_seconds if leave_seconds is None else leave_seconds
        ended = 0
        with self._lock:
            idle = [i for i in self._sessions if self._over(i, grace)]
        for ident in idle:
            with self._lock:
                lock = self._locks.get(ident)
            if lock is None or not lock.acquire(blocking=False):
                continue  # busy: not idle after all
            try:
                with self._lock:
                    session = self._sessions.get(ident)
                    if session is None or not self._over(ident, grace):
                        continue
                    del self._sessions[ident]
                    del self._locks[ident]
                    self._left.pop(ident, None)
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
        period = max(0.2, min(30.0, self.idle_seconds / 4, self.leave_seconds / 2))

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
