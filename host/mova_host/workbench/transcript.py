"""A session's transcript: every command line sent to its controller, what came back, and the
log records the line produced; grouped by what the person did. The latest entries are kept."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any

MAX_ENTRIES = 20000


@dataclass
class Entry:
    """One command line sent to the controller, what came back and the log records it wrote;
    or, with a `note`, something that happened to the controller."""

    seq: int
    action: str
    line: str
    answers: bool
    answer: str | None
    dropped: bool
    records: list[str] = field(default_factory=list)
    note: str | None = None

    def to_json(self) -> dict[str, Any]:
        return {"seq": self.seq, "action": self.action, "line": self.line, "answers": self.answers,
                "answer": self.answer, "dropped": self.dropped, "records": self.records,
                "note": self.note}


class Transcript:
    """The entries in order, each with its sequence number (1, 2, ...)."""

    def __init__(self) -> None:
        self.entries: list[Entry] = []
        self.seq = 0  # the sequence number of the last entry
        self.forgotten = 0  # entries no longer kept

    def append(self, entry: Entry) -> None:
        self.seq += 1
        entry.seq = self.seq
        self.entries.append(entry)
        if len(self.entries) > MAX_ENTRIES:
            del self.entries[0]
            self.forgotten += 1

    def since(self, seq: int) -> list[Entry]:
        """The entries after sequence number `seq` (all with 0)."""
        first = max(0, len(self.entries) - (self.seq - seq)) if seq else 0
        return self.entries[first:]

    def records_since(self, seq: int) -> list[str]:
        """The log records of the entries after sequence number `seq`."""
        return [record for entry in self.since(seq) for record in entry.records]

    def commands_text(self) -> str:
        """The command lines as a command file that `mova-host run` plays again, with the
        actions and notes as comments."""
        lines = ["# Commands a MOVA workbench session sent to its controller, in order.",
                 "# `mova-host run FILE` plays them again; it does not send the lines that begin with",
                 "# \"#\" (comments), and the controller would drop them."]
        if self.forgotten:
            lines.append(f"# (the first {self.forgotten} commands are no longer kept)")
        action = None
        for entry in self.entries:
            if entry.note is not None:
                lines.append(f"# {entry.note}")
                continue
            if entry.action != action:
                action = entry.action
                lines.append(f"# {action}")
            lines.append(entry.line)
        return "\n".join(lines) + "\n"
