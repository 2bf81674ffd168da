"""A local Mosquitto broker on a free loopback port, with the project's configuration
(mosquitto.conf beside this module), for the tests and the demo."""

from __future__ import annotations

import shutil
import socket
import subprocess
import tempfile
import time
from pathlib import Path

CONFIG = Path(__file__).with_name("mosquitto.conf")
MOSQUITTO_MISSING = "the MQTT broker is missing: install mosquitto"


def mosquitto_binary() -> str | None:
    return shutil.which("mosquitto") or next((p for p in ("/usr/sbin/mosquitto",) if Path(p).is_file()), None)


def free_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return int(probe.getsockname()[1])


class LocalBroker:
    """Mosquitto as a child process; `stop` and `start` again keep the port."""

    def __init__(self, port: int | None = None, log: Path | None = None):
        binary = mosquitto_binary()
        if binary is None:
            raise FileNotFoundError(MOSQUITTO_MISSING)
        self.binary = binary
        self.port = port or free_port()
        self.folder = tempfile.TemporaryDirectory(prefix="mova-broker-")
        self.config = Path(self.folder.name) / "mosquitto.conf"
        self.config.write_text(CONFIG.read_text() + f"\nlistener {self.port} 127.0.0.1\n")
        self.log = log or Path(self.folder.name) / "mosquitto.log"
        self.process: subprocess.Popen[bytes] | None = None

    @property
    def url(self) -> str:
        return f"mqtt://127.0.0.1:{self.port}"

    def start(self, seconds: float = 10.0) -> "LocalBroker":
        with open(self.log, "ab") as log:
            self.process = subprocess.Popen([self.binary, "-c", str(self.config)], stdout=log,
                                            stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"mosquitto ended at once (status {self.process.returncode}); see {self.log}")
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.5):
                    return self
            except OSError:
                time.sleep(0.05)
        self.stop()
        raise RuntimeError(f"mosquitto did not listen on port {self.port} within {seconds:g} s")

    def stop(self) -> None:
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def kill(self) -> None:
        """Ends the broker at once, as a crash would."""
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.process = None

    def close(self) -> None:
        self.stop()
        self.folder.cleanup()

    def __enter__(self) -> "LocalBroker":
        return self.start()

    def __exit__(self, *exc: object) -> None:
        self.close()
