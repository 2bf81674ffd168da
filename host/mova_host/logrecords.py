"""The controller's log file, mova.log: its records, and reading the records added since a
last look.

A record: "2024-03-01 16:03:07 : DAEMON : ERROR : Timeout  " (time, facility, severity,
message and two blanks).
"""

from __future__ import annotations

import re
from pathlib import Path

LOG_NAME = "mova.log"
_RECORD = re.compile(r"^.{19} : [A-Z_0-9]+ : ([A-Z]+) : (.*?)  $")
_CHUNK = 1 << 20  # at most this much is read at one look


def record_parts(record: str) -> tuple[str, str]:
    """(severity, message) of a log record; a text that is not a record is all message."""
    match = _RECORD.match(record.rstrip("\r\n"))
    return (match.group(1), match.group(2)) if match else ("", record.strip())


def computation_records(records: list[str]) -> list[str]:
    """The records of the last planning computation among the records given: from its
    "Start mission" or "Obstacles confirmed" record to its solution record."""
    begin = None
    for index, record in enumerate(records):
        if record_parts(record)[1] in ("Start mission", "Obstacles confirmed"):
            begin = index
    if begin is None:
        return []
    out = []
    for record in records[begin:]:
        out.append(record)
        if record_parts(record)[1].startswith(("Solution computed", "Solution recomputed")):
            break
    return out


class LogTail:
    """The records a log file gained since the last look (whole lines only; a line still being
    written waits for the next look)."""

    def __init__(self, path: Path, *, from_end: bool = False):
        self.path = path
        self.offset = 0
        if from_end:
            try:
                self.offset = path.stat().st_size
            except OSError:
                self.offset = 0

    def new_records(self) -> list[str]:
        """The whole lines added since the last look, at most about a megabyte of them."""
        try:
            with open(self.path, "rb") as log:
                log.seek(self.offset)
                data = log.read(_CHUNK)
        except OSError:
            return []
        end = data.rfind(b"\n") + 1
        self.offset += end
        return [line.decode("utf-8", "replace").rstrip("\r") for line in data[:end].split(b"\n")[:-1]]

    def all_new_records(self) -> list[str]:
        """Every whole line added since the last look."""
        records: list[str] = []
        while True:
            more = self.new_records()
            if not more:
                return records
            records += more
