"""The HTTP side of the workbench: the server, and the plumbing every request goes through.

It binds to 127.0.0.1 unless told otherwise. Every request is checked: a bad one gets a status
of 400 (or 404, 405, 411, 413, 415) with a sentence in plain text, never a traceback. Requests
that change something must carry JSON (`Content-Type: application/json`), which a page of
another site cannot send without the browser asking first; a `Host` header naming another
machine is refused while the server listens on loopback only.
"""

from __future__ import annotations

import json
import re
import socket
import sys
import traceback
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Any, Callable, ClassVar
from urllib.parse import urlsplit

from ..errors import HTTPProblem
from .registry import Sessions

MAX_BODY = 256 * 1024
LOOPBACK_NAMES = {"127.0.0.1", "localhost", "::1", "[::1]"}
SECURITY_HEADERS = {
    "X-Content-Type-Options": "nosniff",
    "X-Frame-Options": "DENY",
    "Referrer-Policy": "no-referrer",
    "Content-Security-Policy": "default-src 'self'; style-src 'self' 'unsafe-inline'; "
                               "img-src 'self' data: blob:; frame-ancestors 'none'",
}
Route = tuple[str, re.Pattern[str], Callable[..., None]]


def sentence(message: str) -> str:
    """A message as a sentence: a capital first, a full stop last."""
    message = message.strip()
    return (message[:1].upper() + message[1:]).rstrip(".") + "."


def _no_constant(name: str) -> Any:
    raise ValueError(f"{name} is not a number JSON allows")


class JsonRequestHandler(BaseHTTPRequestHandler):
    """The plumbing of every request: routing by method and path, the host check, reading a
    JSON body (bounded, checked), and answers as JSON or a sentence of plain text."""

    server: WorkbenchServer
    routes: ClassVar[list[Route]] = []
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
            matches = [(m, p.fullmatch(path), h) for m, p, h in self.routes if p.fullmatch(path)]
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
            self._text(problem.status, sentence(problem.message))
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


class WorkbenchServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address: tuple[str, int], sessions: Sessions, handler: type[JsonRequestHandler], *,
                 quiet: bool = True):
        self.sessions = sessions
        self.quiet = quiet
        self.loopback = address[0] in LOOPBACK_NAMES
        if ":" in address[0]:
            self.address_family = socket.AF_INET6
        super().__init__(address, handler)

    @property
    def url(self) -> str:
        host, port = self.server_address[:2]
        name = host.decode() if isinstance(host, bytes) else str(host)
        shown = f"[{name}]" if ":" in name else name
        return f"http://{shown}:{port!s}/"
