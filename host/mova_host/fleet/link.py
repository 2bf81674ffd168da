"""One MQTT connection, typed, over the paho client (which has no type information).

The connection is made and kept in paho's own network thread: a lost connection is tried again
with a growing pause (back-off), and every (re)connection subscribes the link's topics again.
Messages and the coming and going of the connection are handed over as events on a queue, so
that the bridge and the simulated vehicles handle everything on one thread of their own.
"""

from __future__ import annotations

import queue
import threading
from dataclasses import dataclass
from typing import Any, Union
from urllib.parse import urlsplit

_paho: Any
try:  # Debian: python3-paho-mqtt (untyped: this module is its typed face)
    import paho.mqtt.client as _paho
except ImportError:  # pragma: no cover - exercised only where paho is missing
    _paho = None

PAHO_MISSING = "the MQTT client is missing: install python3-paho-mqtt"
DEFAULT_PORT = 1883


class LinkError(ValueError):
    """A broker address that cannot be used."""


@dataclass(frozen=True)
class Incoming:
    topic: str
    payload: bytes
    retained: bool


@dataclass(frozen=True)
class Connected:
    link: str


@dataclass(frozen=True)
class Disconnected:
    link: str


Event = Union[Incoming, Connected, Disconnected]


def paho_available() -> bool:
    return _paho is not None


def parse_broker(url: str) -> tuple[str, int]:
    """(host, port) of mqtt://HOST[:PORT]."""
    parts = urlsplit(url)
    if parts.scheme != "mqtt" or not parts.hostname:
        raise LinkError(f"broker {url!r}: give mqtt://HOST:PORT")
    try:
        port = parts.port or DEFAULT_PORT
    except ValueError:
        raise LinkError(f"broker {url!r}: the port is not a number 1 to 65535") from None
    if parts.path not in ("", "/") or parts.query or parts.username:
        raise LinkError(f"broker {url!r}: give mqtt://HOST:PORT and nothing more")
    return parts.hostname, port


class Link:
    """An MQTT client that connects in the background and reports to `events`."""

    def __init__(self, url: str, client_id: str, events: "queue.Queue[Any]", *,
                 subscriptions: tuple[tuple[str, int], ...] = (), will: tuple[str, bytes] | None = None,
                 keepalive: int = 10, backoff: tuple[float, float] = (0.25, 4.0)):
        if _paho is None:
            raise LinkError(PAHO_MISSING)
        self.host, self.port = parse_broker(url)
        self.name = client_id
        self.events = events
        self.subscriptions = subscriptions
        self._connected = threading.Event()
        self._client: Any = _paho.Client(client_id=client_id, clean_session=True)
        if will is not None:
            self._client.will_set(will[0], will[1], qos=1, retain=True)
        self._client.reconnect_delay_set(min_delay=backoff[0], max_delay=backoff[1])
        self._client.on_connect = self._on_connect
        self._client.on_disconnect = self._on_disconnect
        self._client.on_message = self._on_message
        self._keepalive = keepalive

    def start(self) -> None:
        self._client.connect_async(self.host, self.port, keepalive=self._keepalive)
        self._client.loop_start()

    def stop(self) -> None:
        """Disconnects in an orderly way (no last will) and ends the network thread."""
        self._client.disconnect()
        self._client.loop_stop()
        self._connected.clear()

    def abort(self) -> None:
        """Ends the network thread and drops the connection without a word, as a crash would:
        the broker sends the last will when it notices."""
        self._client.loop_stop()
        sock = self._client.socket()
        if sock is not None:
            sock.close()
        self._connected.clear()

    @property
    def connected(self) -> bool:
        return self._connected.is_set()

    def wait_connected(self, seconds: float) -> bool:
        return self._connected.wait(seconds)

    def publish(self, topic: str, payload: bytes, *, qos: int = 0, retain: bool = False) -> bool:
        """True when the message went to the network (QoS 0) or into paho's queue (QoS 1)."""
        if not self.connected:
            return False
        info = self._client.publish(topic, payload, qos=qos, retain=retain)
        return bool(info.rc == _paho.MQTT_ERR_SUCCESS) if _paho is not None else False

    # ----- paho's callbacks, on its network thread ---------------------------------------

    def _on_connect(self, client: Any, userdata: Any, flags: Any, rc: int) -> None:
        if rc != 0:
            return
        if self.subscriptions:
            client.subscribe(list(self.subscriptions))
        self._connected.set()
        self.events.put(Connected(self.name))

    def _on_disconnect(self, client: Any, userdata: Any, rc: int) -> None:
        if self._connected.is_set():
            self._connected.clear()
            self.events.put(Disconnected(self.name))

    def _on_message(self, client: Any, userdata: Any, message: Any) -> None:
        self.events.put(Incoming(str(message.topic), bytes(message.payload), bool(message.retain)))
