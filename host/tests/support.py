"""Shared helpers: the controller under test and a fresh working directory per client."""

from __future__ import annotations

import os
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from mova_host import MovaClient, Timeouts, find_binary  # noqa: E402


def binary() -> Path:
    try:
        return find_binary()
    except FileNotFoundError as missing:
        raise unittest.SkipTest(f"no controller to test against: {missing}") from None


class ClientCase(unittest.TestCase):
    """Gives each test a client on the real controller in its own temporary directory."""

    def new_client(self, **options) -> MovaClient:
        folder = tempfile.TemporaryDirectory(prefix="mova-host-test-")
        self.addCleanup(folder.cleanup)
        options.setdefault("timeouts", Timeouts(answer=10.0))
        client = MovaClient(binary(), folder.name, **options)
        self.addCleanup(client.kill)
        return client


def write_script(folder: str, text: str) -> str:
    """An executable stand-in for the controller, written in Python."""
    path = os.path.join(folder, "fake-mova")
    with open(path, "w") as script:
        script.write(f"#!{sys.executable}\n{text}")
    os.chmod(path, 0o755)
    return path
