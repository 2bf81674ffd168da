"""The HTTP side of the workbench: the server, and the plumbing every request goes through.

It binds to 127.0.0.1 unless told otherwise. Every request is checked: a bad one gets a status
of 400 (or 403, 404, 405, 408, 411, 413, 415, 429, 431) with a sentence in plain text, never a
traceback.

- Host: the `Host` header must name the address the server is bound to (for a loopback address
  also "localhost"); on a wildcard address (0.0.0.0, ::) the address the connection came in on,
  the machine's own names (its host name and fully qualified name) and "localhost". Names given
  with `--allow-host` are added. Anything else is refused: a page of another site that a DNS
  name points at this machine gets no answer.
- Origin: a request that changes something (POST, PUT, PATCH, DELETE) that carries an `Origin`
  must come from the page's own origin (http://, the same host and port as its `Host`);
  another origin, or "null", is refused with 403. Browsers send `Origin` with every such
  request; a request without one comes from a program (a script, curl) and is let through. Such
  requests must carry JSON (`Content-Type: application/json`) as well, which a page of another
  site cannot send without the browser asking first.
- One thread takes the connections and reads each request whole before any worker sees it, so a
  connection costs no thread while its request arrives; a bounded pool of worker threads
  answers. A request must arrive whole within `request_seconds` (10) of its first byte, a
  connection that sends nothing is closed after `idle_seconds` (60), an answer must be taken
  within `write_seconds` (10); a client that goes away is forgotten without a word on the
  console. The listen backlog is 128.
- Limits per client address (`ClientLimits`): at most `connections_per_client` connections
  (128; the client's longest-waiting connection makes room for a new one, as the longest-waiting
  of all does when the server holds `connections`, 512), `rate` requests a second on average
  with bursts of `burst` (100 and 200; more is answered 429), and at most two requests of one
  session at the workers at once (more wait their turn, so that one session cannot occupy every
  worker). The number of sessions a client may hold is the registry's (`registry.py`).
"""

from __future__ import annotations

import collections
import contextlib
import io
import ipaddress
import json
import queue
import re
import selectors
import socket
import sys
import threading
import time
import traceback
from dataclasses import dataclass
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler
from typing import Any, Callable, ClassVar, Iterable
from urllib.parse import urlsplit

from .. import checks
from ..errors import HTTPProblem, JsonError
from .registry import Sessions

MAX_BODY = 256 * 1024
MAX_HEAD = 64 * 1024  # the request line and the headers
BACKLOG = 128
LOOPBACK_NAMES = {"127.0.0.1", "localhost", "::1"}
STATE_CHANGING = {"POST", "PUT", "PATCH", "DELETE"}
SESSION_REQUESTS_AT_ONCE = 2  # requests of one session at the workers: one at work, one next
SECURITY_HEADERS = {
    "X-Content-Type-Options": "nosniff",
    "X-Frame-Options": "DENY",
    "Referrer-Policy": "no-referrer",
    "Content-Security-Policy": "default-src 'self'; style-src 'self' 'unsafe-inline'; "
                               "img-src 'self' data: blob:; frame-ancestors 'none'",
}
Route = tuple[str, re.Pattern[str], Callable[..., None]]
_HEAD_END = re.compile(rb"\r?\n\r?\n")
_SESSION_PATH = re.compile(rb"[A-Z]{1,10} /api/sessions/([A-Za-z0-9_-]{1,64})[/? ]")
_DIGITS = re.compile(r"[0-9]{1,12}")


@dataclass(frozen=True)
class ClientLimits:
    """What one client address may use of the server, and the time limits of a request."""

    connections: int = 512
    connections_per_client: int = 128
    rate: float = 100.0  # requests a second, on average
    burst: int = 200
    request_seconds: float = 10.0
    idle_seconds: float = 60.0
    write_seconds: float = 10.0
    workers: int = 24


def sentence(message: str) -> str:
    """A message as a sentence: a capital first, a full stop last."""
    message = message.strip()
    return (message[:1].upper() + message[1:]).rstrip(".") + "."


def client_of(address: Any) -> str:
    """The client's address as the limits count it (an IPv4 address mapped into IPv6 as itself)."""
    text = str(address[0]) if isinstance(address, tuple) and address else str(address)
    try:
        ip = ipaddress.ip_address(text.split("%")[0])
    except ValueError:
        return text
    mapped = getattr(ip, "ipv4_mapped", None)
    return str(mapped or ip)


def host_name(value: str) -> tuple[str, int | None] | None:
    """The name (lower case, brackets and a final dot taken off) and the port of a Host header or
    of an origin's authority; None when it is not one."""
    value = value.strip().lower()
    if value.startswith("["):
        name, bracket, rest = value[1:].partition("]")
        if not bracket or (rest and not rest.startswith(":")):
            return None
        port = rest[1:] if rest else None
    else:
        name, colon, port_text = value.partition(":")
        port = port_text if colon else None
    if port is not None and not _DIGITS.fullmatch(port):
        return None
    name = name.rstrip(".")
    if not name or any(c in name for c in "/@ \t\\"):
        return None
    return name, int(port) if port is not None else None


class _Writer:
    """The answer of one request, sent to the client in one piece when flushed (all that the
    request handler asks of its output file)."""

    def __init__(self, sock: socket.socket):
        self.sock = sock
        self.pending = bytearray()

    def write(self, data: Any) -> int:
        self.pending += data
        return len(data)

    def flush(self) -> None:
        if self.pending:
            data, self.pending = bytes(self.pending), bytearray()
            self.sock.sendall(data)


@dataclass(frozen=True)
class _Request:
    """A request read whole, and the connection it came on."""

    sock: socket.socket
    data: bytes
    local: str  # the address of this machine the client connected to


class JsonRequestHandler(BaseHTTPRequestHandler):
    """The plumbing of every request: routing by method and path, the host and origin checks,
    reading a JSON body (bounded, checked), and answers as JSON or a sentence of plain text."""

    server: WorkbenchServer  # type: ignore[assignment]
    request: _Request
    routes: ClassVar[list[Route]] = []
    server_version = "mova-workbench"
    sys_version = ""
    protocol_version = "HTTP/1.1"
    error_content_type = "text/plain; charset=utf-8"
    error_message_format = "%(code)d %(message)s\n"

    # ----- plumbing ------------------------------------------------------------------------

    def setup(self) -> None:
        self.connection = self.request.sock
        self.rfile = io.BytesIO(self.request.data)
        self.answer = _Writer(self.request.sock)
        self.wfile = self.answer  # type: ignore[assignment]
        self.client = client_of(self.client_address)

    def handle(self) -> None:
        self.handle_one_request()

    def finish(self) -> None:
        self.wfile.flush()

    def handle_expect_100(self) -> bool:
        return True  # the body has arrived already: nothing to wait for

    def log_message(self, format: str, *args: Any) -> None:
        if not self.server.quiet:
            sys.stderr.write(f"{self.address_string()} {format % args}\n")

    def _send(self, status: int, body: bytes, content_type: str, headers: dict[str, str] | None = None) -> None:
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        if self.close_connection:
            self.send_header("Connection", "close")
        for key, value in {**SECURITY_HEADERS, **(headers or {})}.items():
            self.send_header(key, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def _text(self, status: int, message: str) -> None:
        self._send(status, (message.rstrip() + "\n").encode("utf-8"), "text/plain; charset=utf-8")

    def _json(self, value: Any, status: int = 200) -> None:
        """Strict JSON (no NaN or Infinity, which JSON does not have): a value that holds one is
        the server's fault and answered 500."""
        self._send(status, json.dumps(value, allow_nan=False).encode("utf-8"), "application/json")

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
            if method in STATE_CHANGING:
                self._check_origin()
            path = urlsplit(self.path).path
            matches = [(m, p.fullmatch(path), h) for m, p, h in self.routes if p.fullmatch(path)]
            wanted = "GET" if method == "HEAD" else method
            chosen = [(match, handler) for m, match, handler in matches if m == wanted]
            if not chosen:
                self._discard_body()
                if matches:
                    allowed = sorted({m for m, _, _ in matches})
                    raise HTTPProblem(HTTPStatus.METHOD_NOT_ALLOWED,
                                      f"{method} is not used here; use {' or '.join(allowed)}")
                raise HTTPProblem(HTTPStatus.NOT_FOUND, f"nothing is at {checks.cut(path, 200)}")
            match, handler = chosen[0]
            body = self._read_json() if method == "POST" else None
            if method not in ("POST",):
                self._discard_body()
            assert match is not None
            handler(self, body=body, **match.groupdict())
        except HTTPProblem as problem:
            self._text(problem.status, sentence(problem.message))
        except Exception:
            traceback.print_exc(file=sys.stderr)
            self.close_connection = True
            self.answer.pending.clear()  # whatever was begun is not sent
            self._text(HTTPStatus.INTERNAL_SERVER_ERROR,
                       sentence("the workbench failed on this request; the server's console tells more"))

    def _check_host(self) -> None:
        values = self.headers.get_all("Host") or []
        parsed = host_name(values[0]) if len(values) == 1 else None
        if parsed is None or not self.server.host_allowed(parsed[0], self.request.local):
            self.close_connection = True
            raise HTTPProblem(HTTPStatus.BAD_REQUEST,
                              f"this workbench answers requests for {self.server.host_words()} only")

    def _check_origin(self) -> None:
        origin = self.headers.get("Origin")
        if origin is None:
            return  # not a browser: browsers send Origin with every request that changes something
        scheme, _, authority = origin.strip().partition("://")
        own = host_name(self.headers.get("Host") or "")
        theirs = host_name(authority) if scheme.lower() == "http" and "/" not in authority else None
        if theirs is None or own is None or (theirs[0], theirs[1] or 80) != (own[0], own[1] or 80):
            self.close_connection = True
            raise HTTPProblem(HTTPStatus.FORBIDDEN, f"a page of {checks.cut(origin, 80)} may not change "
                              "anything here; only the workbench's own page may")

    def _length(self) -> int:
        lengths = self.headers.get_all("Content-Length") or []
        if self.headers.get("Transfer-Encoding"):
            self.close_connection = True
            raise HTTPProblem(HTTPStatus.LENGTH_REQUIRED, "send the body with a Content-Length, not in chunks")
        if not lengths:
            return 0
        if len(lengths) > 1 or not _DIGITS.fullmatch(lengths[0].strip()):
            self.close_connection = True
            raise HTTPProblem(HTTPStatus.BAD_REQUEST, "the Content-Length header is not a number "
                              "(one header, decimal digits 0 to 9)")
        return int(lengths[0].strip())

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
        data = self.rfile.read(length)  # all there: the request was read whole before it came here
        content_type = (self.headers.get("Content-Type") or "").split(";")[0].strip().lower()
        if content_type != "application/json":
            raise HTTPProblem(HTTPStatus.UNSUPPORTED_MEDIA_TYPE,
                              "send the request body as JSON (Content-Type: application/json)")
        if not data.strip():
            return {}
        try:
            return checks.read_json(data, MAX_BODY)
        except JsonError as error:
            where = f" at {error.place}" if error.place else ""
            raise HTTPProblem(HTTPStatus.BAD_REQUEST,
                              f"the request body cannot be read as JSON{where}: {error.problem}") from None


# ----- connections -----------------------------------------------------------------------------


class _Connection:
    """A client's connection while the server holds it: what has arrived of its next request."""

    def __init__(self, sock: socket.socket, address: Any, now: float):
        self.sock = sock
        self.address = address
        self.client = client_of(address)
        self.local = client_of(sock.getsockname())
        self.buffer = bytearray()
        self.since = now  # when it began to wait for its next request
        self.first_byte: float | None = None  # when the first byte of that request came
        self.state = "waiting"  # "waiting" (for its request), "parked" (for its turn), "working"
        self.session: bytes | None = None  # the session its request is for, at the workers


def _request_size(buffer: bytearray) -> int | None:
    """The size of the first request in the buffer once it is there whole (the head, and the
    body its Content-Length announces); None while it is still arriving. A body that cannot be
    read (chunked, a length that is not one, or too large) is not waited for: the handler refuses
    the request on its head."""
    end = _HEAD_END.search(buffer, 0, MAX_HEAD + 4)
    if end is None:
        return None
    head = bytes(buffer[:end.end()])
    lengths = re.findall(rb"(?im)^content-length:[ \t]*([^\r\n]*?)[ \t]*\r?$", head)
    if re.search(rb"(?im)^transfer-encoding:", head) or len(lengths) != 1:
        return end.end()
    if not re.fullmatch(rb"[0-9]{1,12}", lengths[0]) or int(lengths[0]) > MAX_BODY:
        return end.end()
    return end.end() + int(lengths[0])


class _Rates:
    """The request rate of each client: a bucket of `burst` requests, refilled at `rate` a second."""

    def __init__(self, rate: float, burst: int):
        self.rate, self.burst = rate, burst
        self.buckets: dict[str, tuple[float, float]] = {}

    def allow(self, client: str, now: float) -> bool:
        tokens, stamp = self.buckets.get(client, (float(self.burst), now))
        tokens = min(float(self.burst), tokens + (now - stamp) * self.rate)
        allowed = tokens >= 1.0
        self.buckets[client] = (tokens - 1.0 if allowed else tokens, now)
        return allowed

    def forget_full(self, now: float) -> None:
        """Forgets the clients whose bucket is full again."""
        full = [c for c, (tokens, stamp) in self.buckets.items() if tokens + (now - stamp) * self.rate >= self.burst]
        for client in full:
            del self.buckets[client]


def _quick_answer(connection: _Connection, status: HTTPStatus, message: str) -> None:
    """A short answer sent without waiting (the taking thread never waits on a client); a
    client that cannot take it at once goes without."""
    body = (sentence(message) + "\n").encode("utf-8")
    head = (f"HTTP/1.1 {status.value} {status.phrase}\r\nContent-Type: text/plain; charset=utf-8\r\n"
            f"Content-Length: {len(body)}\r\nConnection: close\r\nCache-Control: no-store\r\n")
    if status is HTTPStatus.TOO_MANY_REQUESTS:
        head += "Retry-After: 1\r\n"
    try:
        connection.sock.send(head.encode("ascii") + b"\r\n" + body)
    except OSError:
        pass


# ----- the server ------------------------------------------------------------------------------


class WorkbenchServer:
    """The workbench's HTTP server: the taking thread (the one that runs `serve_forever`) accepts
    connections and reads requests whole; a pool of worker threads answers them."""

    def __init__(self, address: tuple[str, int], sessions: Sessions, handler: type[JsonRequestHandler], *,
                 quiet: bool = True, limits: ClientLimits = ClientLimits(), allowed_hosts: Iterable[str] = ()):
        self.sessions, self.handler_class, self.quiet, self.limits = sessions, handler, quiet, limits
        family = socket.AF_INET6 if ":" in address[0] else socket.AF_INET
        self.socket = socket.socket(family, socket.SOCK_STREAM)
        try:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            self.socket.bind(address)
            self.socket.listen(BACKLOG)
            self.socket.setblocking(False)
        except BaseException:
            self.socket.close()
            raise
        self.server_address: tuple[Any, ...] = self.socket.getsockname()
        self._names(address[0], allowed_hosts)
        self._selector = selectors.DefaultSelector()
        self._wake_reader, self._waker = socket.socketpair()
        self._wake_reader.setblocking(False)
        self._waker.setblocking(False)
        self._selector.register(self.socket, selectors.EVENT_READ, "listen")
        self._selector.register(self._wake_reader, selectors.EVENT_READ, "wake")
        self._open: set[_Connection] = set()
        self._per_client: collections.Counter[str] = collections.Counter()
        self._active: collections.Counter[bytes] = collections.Counter()
        self._parked: dict[bytes, collections.deque[tuple[_Connection, bytes]]] = {}
        self._rates = _Rates(limits.rate, limits.burst)
        self._jobs: queue.Queue[tuple[_Connection, bytes] | None] = queue.Queue()
        self._returned: queue.Queue[tuple[_Connection, bool]] = queue.Queue()
        self._stopping, self._closed, self._swept = False, False, 0.0
        self._stopped = threading.Event()
        self._stopped.set()
        self._workers = [threading.Thread(target=self._work, name=f"workbench-worker-{n}", daemon=True)
                         for n in range(max(1, limits.workers))]
        for worker in self._workers:
            worker.start()

    # ----- the names this server answers to ------------------------------------------------

    def _names(self, given: str, allowed: Iterable[str]) -> None:
        bound = client_of(self.server_address)
        ip = ipaddress.ip_address(bound)
        self.loopback = ip.is_loopback
        self.wildcard = ip.is_unspecified
        names = {_normal(name) for name in allowed}
        if self.wildcard:
            names |= {"localhost", socket.gethostname().lower(), socket.getfqdn().lower()}
        else:
            names |= {bound, _normal(given)} | ({"localhost"} if self.loopback else set())
        self.names = frozenset(n for n in names if n)

    def host_allowed(self, name: str, local: str) -> bool:
        """Whether a request for `name` (the Host header's name) that came in on the local address
        `local` is one for this server."""
        name = _normal(name)
        return name in self.names or (self.wildcard and name == _normal(local))

    def host_words(self) -> str:
        shown = " or ".join(sorted(self.names, key=lambda n: (n == "localhost", n)))
        return f"this machine's addresses and {shown}" if self.wildcard else shown

    @property
    def url(self) -> str:
        host, port = self.server_address[:2]
        name = str(host)
        shown = f"[{name}]" if ":" in name else name
        return f"http://{shown}:{port!s}/"

    # ----- running and stopping ------------------------------------------------------------

    def serve_forever(self, poll_interval: float = 0.5) -> None:
        """Takes connections and requests until `shutdown`."""
        self._stopped.clear()
        try:
            while not self._stopping:
                for key, _ in self._selector.select(min(poll_interval, 0.25)):
                    self._event(key.data)
                self._take_back()
                now = time.monotonic()
                if now - self._swept >= 0.25:
                    self._sweep(now)
        finally:
            self._stopping = False
            self._stopped.set()

    def shutdown(self) -> None:
        """Stops `serve_forever` and waits until it has stopped."""
        self._stopping = True
        self._wake()
        self._stopped.wait()

    def server_close(self) -> None:
        """Closes the listening socket and every connection; the workers end after their request."""
        if self._closed:
            return
        self._closed = True
        for connection in list(self._open):
            if connection.state != "working":
                self._close(connection)
        for _ in self._workers:
            self._jobs.put(None)
        self._take_back()  # the answered ones are closed now
        self._selector.close()
        for sock in (self.socket, self._wake_reader, self._waker):
            sock.close()

    def _wake(self) -> None:
        try:
            self._waker.send(b"w")
        except OSError:
            pass  # already awake (the pipe is full), or closed

    def _event(self, data: Any) -> None:
        if data == "listen":
            self._accept()
        elif data == "wake":
            with contextlib.suppress(OSError):
                self._wake_reader.recv(4096)  # what is left wakes the next round
        else:
            self._receive(data)

    # ----- connections ---------------------------------------------------------------------

    def _accept(self) -> None:
        for _ in range(64):
            try:
                sock, address = self.socket.accept()
            except (BlockingIOError, InterruptedError):
                return
            except OSError:  # out of file descriptors: the longest-waiting connection makes room
                self._evict(lambda c: True)
                return
            try:
                sock.setblocking(False)
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                connection = _Connection(sock, address, time.monotonic())
            except OSError:
                sock.close()
                continue
            if not self._make_room(connection.client):
                sock.close()
                continue
            self._open.add(connection)
            self._per_client[connection.client] += 1
            self._selector.register(sock, selectors.EVENT_READ, connection)

    def _make_room(self, client: str) -> bool:
        """Room for one more connection of the client: its own longest-waiting connection goes
        when it holds its share, the longest-waiting of all when the server is full."""
        if self._per_client[client] >= self.limits.connections_per_client:
            return self._evict(lambda c: c.client == client)
        if len(self._open) >= self.limits.connections:
            return self._evict(lambda c: True)
        return True

    def _evict(self, which: Callable[[_Connection], bool]) -> bool:
        candidates = [c for c in self._open if c.state != "working" and which(c)]
        if not candidates:
            return False
        self._close(min(candidates, key=lambda c: c.since))
        return True

    def _close(self, connection: _Connection) -> None:
        if connection.state == "waiting":
            try:
                self._selector.unregister(connection.sock)
            except (KeyError, ValueError):
                pass
        elif connection.state == "parked" and connection.session in self._parked:
            waiting = self._parked[connection.session]
            self._parked[connection.session] = collections.deque(j for j in waiting if j[0] is not connection)
        connection.state = "closed"
        if connection in self._open:
            self._open.discard(connection)
            self._per_client[connection.client] -= 1
            if self._per_client[connection.client] <= 0:
                del self._per_client[connection.client]
        try:
            connection.sock.close()
        except OSError:
            pass

    def _receive(self, connection: _Connection) -> None:
        try:
            chunk = connection.sock.recv(65536)
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            chunk = b""
        if not chunk:
            self._close(connection)
            return
        if connection.first_byte is None:
            connection.first_byte = time.monotonic()
        connection.buffer += chunk
        self._examine(connection)

    def _examine(self, connection: _Connection) -> None:
        """Hands the connection's request on once it is there whole."""
        size = _request_size(connection.buffer)
        if size is None:
            if len(connection.buffer) > MAX_HEAD:
                _quick_answer(connection, HTTPStatus.REQUEST_HEADER_FIELDS_TOO_LARGE,
                              f"the request line and headers are larger than {MAX_HEAD // 1024} KiB")
                self._close(connection)
            return
        if len(connection.buffer) < size:
            return
        data = bytes(connection.buffer[:size])
        del connection.buffer[:size]
        if not self._rates.allow(connection.client, time.monotonic()):
            _quick_answer(connection, HTTPStatus.TOO_MANY_REQUESTS,
                          f"too many requests from {connection.client}: at most {self.limits.rate:g} a second "
                          f"(bursts of {self.limits.burst}); try again in a moment")
            self._close(connection)
            return
        self._selector.unregister(connection.sock)
        found = _SESSION_PATH.match(data)
        connection.session = found.group(1) if found else None
        if connection.session is not None and self._active[connection.session] >= SESSION_REQUESTS_AT_ONCE:
            connection.state = "parked"
            self._parked.setdefault(connection.session, collections.deque()).append((connection, data))
            return
        self._work_on(connection, data)

    def _work_on(self, connection: _Connection, data: bytes) -> None:
        connection.state = "working"
        if connection.session is not None:
            self._active[connection.session] += 1
        self._jobs.put((connection, data))

    def _take_back(self) -> None:
        """The connections whose request is answered: kept for the next request, or closed; the
        next request of the same session gets its turn."""
        while True:
            try:
                connection, keep = self._returned.get_nowait()
            except queue.Empty:
                return
            self._next_of(connection.session)
            connection.state = "working-done"
            if not keep or self._closed or self._stopping:
                self._close(connection)
                continue
            now = time.monotonic()
            connection.state, connection.since = "waiting", now
            connection.first_byte = now if connection.buffer else None
            try:
                connection.sock.setblocking(False)
                self._selector.register(connection.sock, selectors.EVENT_READ, connection)
            except (OSError, ValueError):
                self._close(connection)
                continue
            self._examine(connection)  # a request that came right behind the last one

    def _next_of(self, session: bytes | None) -> None:
        if session is None:
            return
        self._active[session] -= 1
        if self._active[session] <= 0:
            del self._active[session]
        waiting = self._parked.get(session)
        if waiting:
            connection, data = waiting.popleft()
            if not waiting:
                del self._parked[session]
            self._work_on(connection, data)

    def _sweep(self, now: float) -> None:
        """Closes the connections whose request takes too long to arrive, and the idle ones."""
        self._swept = now
        for connection in list(self._open):
            if connection.state != "waiting":
                continue
            if connection.first_byte is not None and now - connection.first_byte > self.limits.request_seconds:
                _quick_answer(connection, HTTPStatus.REQUEST_TIMEOUT, "the request did not arrive whole within "
                              f"{self.limits.request_seconds:g} s")
                self._close(connection)
            elif connection.first_byte is None and now - connection.since > self.limits.idle_seconds:
                self._close(connection)
        self._rates.forget_full(now)

    # ----- the workers ---------------------------------------------------------------------

    def _work(self) -> None:
        while True:
            job = self._jobs.get()
            if job is None:
                return
            connection, data = job
            keep = self._answer(connection, data)
            if self._closed:  # nobody takes connections back any more
                with contextlib.suppress(OSError):
                    connection.sock.close()
                continue
            self._returned.put((connection, keep))
            self._wake()

    def _answer(self, connection: _Connection, data: bytes) -> bool:
        """Answers one request; whether the connection stays open for the next."""
        try:
            connection.sock.settimeout(self.limits.write_seconds)
            handler = self.handler_class(_Request(connection.sock, data, connection.local),  # type: ignore[arg-type]
                                         connection.address, self)  # type: ignore[arg-type]
            return not handler.close_connection
        except OSError:  # the client went away, or did not take the answer in time
            return False
        except Exception:
            traceback.print_exc(file=sys.stderr)
            return False


def _normal(name: str) -> str:
    """A host name in lower case, or an address in its usual form."""
    name = name.strip().lower().strip("[]").rstrip(".")
    try:
        return client_of((name,))
    except ValueError:
        return name
