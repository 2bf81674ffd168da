"""The bridge's report: a line per event for people, or a JSON object per line with --json."""

from __future__ import annotations

import json
import time
from typing import Any, TextIO


class Report:
    def __init__(self, out: TextIO, as_json: bool):
        self.out = out
        self.as_json = as_json
        self.started = time.monotonic()

    def event(self, kind: str, text: str, **data: Any) -> None:
        if self.as_json:
            line = json.dumps({"event": kind, "t": round(time.monotonic() - self.started, 3), **data})
        else:
            line = text
        print(line, file=self.out, flush=True)

    def lines(self, text: str) -> None:
        """Extra lines for people only (a plan's table)."""
        if not self.as_json:
            print(text, file=self.out, flush=True)
