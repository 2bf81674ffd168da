"""`mova-host serve`: the workbench's web server, a local page to design a network, plan a
mission and watch it.

It binds to 127.0.0.1 unless told otherwise; each browser session gets its own controller child.
Idle sessions end after a while and their children with them; there are at most so many
sessions at once, and at most so many for one client address (`registry.py`). What the server
checks of every request and what it allows one client is described in `http.py`.
"""

from __future__ import annotations

import argparse
import signal
import sys
from pathlib import Path
from typing import Iterable, TextIO

from ..actions.common import CANNOT_LISTEN
from ..errors import ControllerNotFound, UsageError
from ..exchange import Timeouts
from ..process import find_binary
from .http import MAX_BODY, ClientLimits, WorkbenchServer
from .registry import IDLE_SECONDS, LEAVE_SECONDS, MAX_SESSIONS, Sessions, fair_share
from .routes import Handler

__all__ = ["DEFAULT_PORT", "MAX_BODY", "add_arguments", "make_server", "serve"]

DEFAULT_PORT = 8765


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--port", type=int, default=DEFAULT_PORT,
                        help=f"port to listen on (default {DEFAULT_PORT}; 0 picks a free one)")
    parser.add_argument("--host", default="127.0.0.1",
                        help="address to listen on (default 127.0.0.1, this machine only)")
    parser.add_argument("--max-sessions", type=int, default=MAX_SESSIONS,
                        help=f"sessions at once (default {MAX_SESSIONS})")
    parser.add_argument("--sessions-per-client", type=int, default=None,
                        help="sessions one client address may hold (default: half of --max-sessions, "
                        "rounded up; clients on this machine share one address)")
    parser.add_argument("--allow-host", action="append", default=[], metavar="NAME",
                        help="another name the page may be reached by (a proxy's, a forwarded "
                        "port's); the Host header must name the bound address otherwise")
    parser.add_argument("--idle-minutes", type=float, default=15.0,
                        help="end a session idle this long, and its controller (default 15)")


def make_server(binary: str | Path | None = None, *, host: str = "127.0.0.1", port: int = DEFAULT_PORT,
                max_sessions: int = MAX_SESSIONS, idle_seconds: float = IDLE_SECONDS,
                timeouts: Timeouts = Timeouts(), root: Path | None = None, quiet: bool = True,
                leave_seconds: float = LEAVE_SECONDS, sessions_per_client: int | None = None,
                limits: ClientLimits | None = None, allowed_hosts: Iterable[str] = ()) -> WorkbenchServer:
    """A server (not yet serving) with its sessions; the worker pool has two threads per session
    (one at work, one next) and eight for the rest unless `limits` says otherwise."""
    sessions = Sessions(find_binary(binary).resolve(), max_sessions=max_sessions, idle_seconds=idle_seconds,
                        timeouts=timeouts, root=root, leave_seconds=leave_seconds, per_client=sessions_per_client)
    limits = limits or ClientLimits(workers=2 * max_sessions + 8)
    server = WorkbenchServer((host, port), sessions, Handler, quiet=quiet, limits=limits, allowed_hosts=allowed_hosts)
    sessions.watch()
    return server


def serve(args: argparse.Namespace, out: TextIO = sys.stdout) -> int:
    """Serves until Ctrl+C or SIGTERM (status 0). UsageError for bad options, ControllerNotFound
    without a controller; CANNOT_LISTEN (4) when the address and port cannot be listened on."""
    if not 0 <= args.port <= 65535:
        raise UsageError(f"serve: port {args.port} is not 0 to 65535")
    if not 1 <= args.max_sessions <= 1000 or not 0 < args.idle_minutes <= 10_000_000:
        raise UsageError("serve: --max-sessions must be 1 to 1000 and --idle-minutes more than 0")
    per_client = fair_share(args.max_sessions) if args.sessions_per_client is None else args.sessions_per_client
    if not 1 <= per_client <= args.max_sessions:
        raise UsageError("serve: --sessions-per-client must be 1 to --max-sessions")
    root = Path(args.workdir) if args.workdir else None
    if root is not None:
        root.mkdir(parents=True, exist_ok=True)
    try:
        server = make_server(args.binary, host=args.host, port=args.port, max_sessions=args.max_sessions,
                             idle_seconds=args.idle_minutes * 60,
                             timeouts=Timeouts(answer=args.timeout, planning_margin=args.timeout),
                             root=root, quiet=False, sessions_per_client=per_client,
                             allowed_hosts=args.allow_host)
    except ControllerNotFound:
        raise
    except (OSError, OverflowError) as error:
        reason = getattr(error, "strerror", None) or error
        print(f"error: cannot listen on {args.host} port {args.port}: {reason}", file=sys.stderr)
        return CANNOT_LISTEN
    print(f"MOVA workbench: {server.url}  (Ctrl+C to stop)", file=out, flush=True)
    if not server.loopback:
        print("note: listening beyond this machine; anyone who reaches it can drive controllers "
              f"(requests must name {server.host_words()})", file=out, flush=True)

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
