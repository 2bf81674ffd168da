"""Three simulated vehicles that speak VDA 5050 2.0.0, for demos and tests.

Each vehicle has its own MQTT connection with a last will (`connection` CONNECTIONBROKEN,
retained), says ONLINE when it connects and OFFLINE when it leaves in order, publishes its state
on every change, at least once a second, and four times a second while it drives. It takes an
order whose first node is where it stands and drives the released edges at the given speed; it
refuses an order whose first node is elsewhere, one that arrives while it still has released
nodes of another to drive (a new order replaces one whose rest is only a horizon),
and, with `refuse`, every order over a road it is told to find blocked (an error naming the
order and the edge). An order update (same orderId, higher orderUpdateId, starting on the last
base node) releases more of the order. Instant actions: stateRequest, cancelOrder.
"""

from __future__ import annotations

import math
import queue
import threading
import time
from dataclasses import dataclass, field
from typing import Any

from . import messages
from .core import VEHICLES
from .link import Connected, Incoming, Link
from .site import Site

TICK = 0.02  # seconds between two moves of the simulation
QUIET_EVERY = 1.0  # a state at least this often
DRIVING_EVERY = 0.25  # and this often while driving


@dataclass
class Control:
    """A request from outside the simulation's thread: take a vehicle off the broker or back,
    or stop it where it is."""

    vehicle: int
    # "offline" (in order), "crash" (no word: the last will), "online", "fatal", "clear", "mute" (no
    # more states, the connection kept), "unmute", "halt" (stands still wherever it is, on an edge
    # too, its order kept), "go"
    action: str


@dataclass
class _Node:
    node_id: str
    sequence: int
    released: bool
    x: float
    y: float


@dataclass
class _Edge:
    edge_id: str
    sequence: int
    released: bool


def _refs(**values: str | int) -> list[dict[str, str]]:
    return [{"referenceKey": k, "referenceValue": str(v)} for k, v in values.items()]


@dataclass
class SimVehicle:
    number: int
    site: Site
    position: int
    speed: float
    refuse: frozenset[frozenset[str]]
    x: float = 0.0
    y: float = 0.0
    last_node: str = ""
    last_sequence: int = 0
    order_id: str = ""
    update_id: int = 0
    nodes: list[_Node] = field(default_factory=list)  # still to traverse
    edges: list[_Edge] = field(default_factory=list)
    errors: list[dict[str, Any]] = field(default_factory=list)
    actions: list[dict[str, str]] = field(default_factory=list)
    cancelling: bool = False
    muted: bool = False
    halted: bool = False
    taken: list[tuple[str, int]] = field(default_factory=list)  # (orderId, orderUpdateId) taken
    dirty: bool = True
    published: float = -math.inf
    headers: messages.Headers = field(default_factory=messages.Headers)
    link: Link | None = None

    def __post_init__(self) -> None:
        node = self.site.node_of(self.position)
        self.x, self.y, self.last_node = node.x, node.y, node.node

    @property
    def driving(self) -> bool:
        return not self.halted and bool(self.edges) and self.edges[0].released and self.nodes[0].released

    def topic(self, sub: str) -> str:
        return self.site.topic(self.number, sub)

    def header(self, sub: str) -> dict[str, Any]:
        ident = self.site.vehicles[self.number]
        return self.headers.header(self.topic(sub), ident.manufacturer, ident.serial)

    # ----- orders ----------------------------------------------------------------------------

    def error(self, kind: str, description: str, **refs: str | int) -> None:
        self.errors = [{"errorType": kind, "errorLevel": "WARNING", "errorDescription": description,
                        "errorReferences": _refs(**refs)}]
        self.dirty = True

    def take_order(self, data: dict[str, Any]) -> None:
        try:
            order_id, update = str(data["orderId"]), int(data["orderUpdateId"])
            nodes = [_Node(n["nodeId"], int(n["sequenceId"]), bool(n["released"]),
                           float(n.get("nodePosition", {}).get("x", math.nan)),
                           float(n.get("nodePosition", {}).get("y", math.nan))) for n in data["nodes"]]
            edges = [_Edge(e["edgeId"], int(e["sequenceId"]), bool(e["released"])) for e in data["edges"]]
        except (KeyError, TypeError, ValueError, AttributeError) as error:
            return self.error("validationError", f"malformed order: {error}")
        if not nodes or len(edges) != len(nodes) - 1:
            return self.error("validationError", "an order needs nodes and one edge fewer", orderId=order_id)
        if order_id == self.order_id:
            return self._update(order_id, update, nodes, edges)
        if any(n.released for n in self.nodes):
            return self.error("orderError", "still driving another order", orderId=order_id)
        if nodes[0].node_id != self.last_node:
            return self.error("orderError", f"the order starts on {nodes[0].node_id}, the vehicle stands on "
                               f"{self.last_node}", orderId=order_id, nodeId=nodes[0].node_id)
        blocked = self._blocked(nodes, edges)
        if blocked is not None:
            return self.error("noRouteError", "the road is blocked", orderId=order_id, edgeId=blocked)
        self.order_id, self.update_id, self.errors = order_id, update, []
        self.taken.append((order_id, update))
        self.last_sequence = nodes[0].sequence
        self.nodes, self.edges, self.dirty = nodes[1:], edges, True

    def _blocked(self, nodes: list[_Node], edges: list[_Edge]) -> str | None:
        for i, edge in enumerate(edges):
            if frozenset((nodes[i].node_id, nodes[i + 1].node_id)) in self.refuse:
                return edge.edge_id
        return None

    def _update(self, order_id: str, update: int, nodes: list[_Node], edges: list[_Edge]) -> None:
        if update == self.update_id:
            return  # the same order again: ignored
        if update < self.update_id:
            return self.error("orderUpdateError", "an older update", orderId=order_id, orderUpdateId=update)
        base = [n for n in self.nodes if n.released]
        last = (base[-1].node_id, base[-1].sequence) if base else (self.last_node, self.last_sequence)
        if (nodes[0].node_id, nodes[0].sequence) != last:
            return self.error("orderUpdateError", "the update does not start on the last base node",
                               orderId=order_id, orderUpdateId=update)
        blocked = self._blocked(nodes, edges)
        if blocked is not None:
            return self.error("noRouteError", "the road is blocked", orderId=order_id, edgeId=blocked)
        kept = len(self.nodes) - len([n for n in self.nodes if not n.released])
        self.nodes = self.nodes[:kept] + nodes[1:]
        self.edges = [e for e in self.edges if e.released] + edges
        self.update_id, self.errors, self.dirty = update, [], True
        self.taken.append((order_id, update))

    def instant(self, data: dict[str, Any]) -> None:
        for action in data.get("actions", []):
            kind = action.get("actionType", action.get("actionName"))
            action_id = str(action.get("actionId", ""))
            status = "FINISHED"
            if kind == "cancelOrder":
                status = self._cancel(action_id)
            self.actions = [a for a in self.actions if a["actionId"] != action_id][-9:]
            self.actions.append({"actionId": action_id, "actionType": str(kind), "actionStatus": status})
            self.dirty = True

    def _cancel(self, action_id: str) -> str:
        if not self.nodes:
            self.error("noOrderToCancel", "no order to cancel", actionId=action_id)
            return "FAILED"
        if self.driving:
            self.cancelling = True  # stops on the next node
        else:
            self.nodes, self.edges = [], []
        return "FINISHED"

    # ----- driving ---------------------------------------------------------------------------

    def drive(self, seconds: float) -> None:
        while self.driving and seconds > 0:
            target = self.nodes[0]
            gap = math.hypot(target.x - self.x, target.y - self.y)
            step = self.speed * seconds
            if math.isnan(gap) or step >= gap:
                seconds -= gap / self.speed if not math.isnan(gap) and self.speed > 0 else seconds
                self._arrive(target)
            else:
                self.x += (target.x - self.x) * step / gap
                self.y += (target.y - self.y) * step / gap
                seconds = 0

    def _arrive(self, node: _Node) -> None:
        site_node = self.site.position_of(node.node_id)
        if site_node is not None:
            self.x, self.y = self.site.node_of(site_node).x, self.site.node_of(site_node).y
        self.last_node, self.last_sequence = node.node_id, node.sequence
        self.nodes.pop(0)
        self.edges.pop(0)
        if self.cancelling:
            self.nodes, self.edges, self.cancelling = [], [], False
        self.dirty = True

    def state(self) -> dict[str, Any]:
        map_id = self.site.map_id
        return {
            **self.header("state"), "orderId": self.order_id, "orderUpdateId": self.update_id,
            "lastNodeId": self.last_node, "lastNodeSequenceId": self.last_sequence,
            "nodeStates": [{"nodeId": n.node_id, "sequenceId": n.sequence, "released": n.released} for n in self.nodes],
            "edgeStates": [{"edgeId": e.edge_id, "sequenceId": e.sequence, "released": e.released} for e in self.edges],
            "agvPosition": {"x": self.x, "y": self.y, "theta": 0.0, "mapId": map_id, "positionInitialized": True},
            "driving": self.driving, "actionStates": list(self.actions),
            "batteryState": {"batteryCharge": 80.0, "charging": False}, "operatingMode": "AUTOMATIC",
            "errors": list(self.errors), "information": [],
            "safetyState": {"eStop": "NONE", "fieldViolation": False},
        }


class Simulator:
    """The three vehicles of a zone, run on one thread of their own."""

    def __init__(self, site: Site, starts: tuple[int, ...], broker: str, *, speed: float = 1.0,
                 refuse: tuple[tuple[int, int], ...] = (), keepalive: int = 5):
        self.site, self.broker, self.keepalive = site, broker, keepalive
        blocked = frozenset(frozenset((site.node_of(a).node, site.node_of(b).node)) for a, b in refuse)
        self.vehicles = {v: SimVehicle(v, site, starts[v - 1], speed, blocked) for v in VEHICLES}
        self.events: queue.Queue[Any] = queue.Queue()
        self._stop = threading.Event()
        self._thread: threading.Thread | None = None

    def _connect(self, v: SimVehicle) -> None:
        ident = self.site.vehicles[v.number]
        will = messages.encode(messages.connection(v.header("connection"), "CONNECTIONBROKEN"))
        v.link = Link(self.broker, f"sim-{ident.manufacturer}-{ident.serial}", self.events,
                      subscriptions=((v.topic("order"), 0), (v.topic("instantActions"), 0)),
                      will=(v.topic("connection"), will), keepalive=self.keepalive)
        v.link.start()

    def start(self) -> "Simulator":
        for v in self.vehicles.values():
            self._connect(v)
        self._thread = threading.Thread(target=self.run, name="fleet-sim", daemon=True)
        self._thread.start()
        return self

    def control(self, vehicle: int, action: str) -> None:
        self.events.put(Control(vehicle, action))

    def stop(self) -> None:
        """Every vehicle says OFFLINE and leaves the broker."""
        self._stop.set()
        if self._thread is not None:
            self._thread.join(5)
        for v in self.vehicles.values():
            self._leave(v)

    def _leave(self, v: SimVehicle) -> None:
        if v.link is not None:
            if v.link.connected:
                message = messages.encode(messages.connection(v.header("connection"), "OFFLINE"))
                v.link.publish(v.topic("connection"), message, qos=1, retain=True)
                time.sleep(0.05)
            v.link.stop()
            v.link = None

    def run(self) -> None:
        last = time.monotonic()
        while not self._stop.is_set():
            try:
                event = self.events.get(timeout=TICK)
                while True:
                    self._handle(event)
                    event = self.events.get_nowait()
            except queue.Empty:
                pass
            now = time.monotonic()
            for v in self.vehicles.values():
                v.drive(now - last)
                self._publish(v, now)
            last = now

    def _publish(self, v: SimVehicle, now: float, force: bool = False) -> None:
        every = DRIVING_EVERY if v.driving else QUIET_EVERY
        if v.link is None or not v.link.connected or v.muted or not (force or v.dirty or now - v.published >= every):
            return
        v.link.publish(v.topic("state"), messages.encode(v.state()))
        v.dirty, v.published = False, now

    def _handle(self, event: Any) -> None:
        if isinstance(event, Incoming):
            self._incoming(event)
        elif isinstance(event, Connected):
            self._online(event.link)
        elif isinstance(event, Control):
            self._control(self.vehicles[event.vehicle], event.action)

    def _incoming(self, event: Incoming) -> None:
        found = self.site.vehicle_of_topic(event.topic)
        if found is None:
            return
        v = self.vehicles[found[0]]
        try:
            data = messages.decode(event.payload)
        except messages.MessageError as error:
            return v.error("validationError", str(error))
        if found[1] == "order":
            v.take_order(data)
        elif found[1] == "instantActions":
            v.instant(data)
            self._publish(v, time.monotonic(), force=True)

    def _online(self, link: str) -> None:
        v = self._of_link(link)
        if v is not None and v.link is not None:
            online = messages.encode(messages.connection(v.header("connection"), "ONLINE"))
            v.link.publish(v.topic("connection"), online, qos=1, retain=True)
            self._publish(v, time.monotonic(), force=True)

    def _of_link(self, name: str) -> SimVehicle | None:
        for v in self.vehicles.values():
            if v.link is not None and v.link.name == name:
                return v
        return None

    def _control(self, v: SimVehicle, action: str) -> None:
        if action == "offline":
            self._leave(v)
        elif action == "crash" and v.link is not None:
            v.link.abort()
            v.link = None
        elif action == "online" and v.link is None:
            self._connect(v)
        elif action == "fatal":
            v.errors = [{"errorType": "laserScannerContaminated", "errorLevel": "FATAL", "errorReferences": []}]
            v.dirty = True
        elif action == "clear":
            v.errors, v.dirty = [], True
        elif action in ("mute", "unmute"):
            v.muted, v.dirty = action == "mute", True
        elif action in ("halt", "go"):
            v.halted, v.dirty = action == "halt", True
