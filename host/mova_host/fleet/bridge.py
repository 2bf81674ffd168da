"""The master control of one zone: vehicles that speak VDA 5050 2.0.0 follow the controller's plan.

The bridge learns where the vehicles stand from their states, plans with the controller, and
runs the plan one joint step at a time (see `dispatch` for the rules of a step). Everything it
hears arrives as events on one queue and is handled on one thread, so the step's bookkeeping
needs no locks. It ends with a status:

0 every vehicle on its goal; 1 no plan (at the start or after a blocked road); 2 bad input;
3 a controller failure that restarts cannot mend; 4 a fleet failure (a vehicle or the broker
gone longer than the wait).
"""

from __future__ import annotations

import math
import queue
import time
import uuid
from dataclasses import dataclass, field
from typing import Any

from . import messages
from .controller import Controller, ControllerGone, Positions, at_goals
from .core import VEHICLES, Plan, Scenario
from .dispatch import CancelCommand, Command, Note, OrderCommand, Step, edge_id
from .link import Connected, Disconnected, Incoming, Link
from .output import Report
from .site import Site, VehicleId

DONE, NO_PLAN, BAD_INPUT, CONTROLLER_FAILED, FLEET_FAILED = 0, 1, 2, 3, 4
REQUEST_EVERY = 2.0  # seconds between state requests to a vehicle whose state is awaited
MAX_REFUSALS = 3  # refused orders in a row (no blocked road named) before the zone gives up


class FleetFailure(Exception):
    """A vehicle or the broker gone longer than the wait, or vehicles in an impossible place."""


class BadInput(Exception):
    """The site does not fit what the vehicles report."""


@dataclass
class View:
    """What the bridge knows of one vehicle."""

    ident: VehicleId
    state: messages.State | None = None
    received: float = -math.inf
    connection: str | None = None
    connection_at: float = -math.inf
    errors: frozenset[messages.VehicleError] = frozenset()
    offline_since: float | None = None
    requested: float = -math.inf

    def offline_reason(self, now: float, silence: float, link_since: float) -> str | None:
        if self.connection in ("OFFLINE", "CONNECTIONBROKEN") and self.connection_at >= self.received:
            return f"connection {self.connection}"
        heard = max(self.received, link_since)
        if now - heard > silence:
            return f"no state for {now - heard:.0f} s"
        return None

    def fatal(self) -> list[messages.VehicleError]:
        if self.state is None:
            return []
        return [e for e in self.state.errors if e.level == "FATAL"]


@dataclass
class Timing:
    bridge: list[float] = field(default_factory=list)  # seconds: release to release minus driving
    driving: list[float] = field(default_factory=list)


class Bridge:
    def __init__(self, scenario: Scenario, site: Site, broker: str, report: Report, *,
                 binary: str | None = None, wait_s: float = 60.0, silence_s: float = 40.0):
        self.scenario, self.site, self.report = scenario, site, report
        self.wait_s, self.silence_s = wait_s, silence_s
        self.events: queue.Queue[Any] = queue.Queue()
        self.views = {v: View(site.vehicles[v]) for v in VEHICLES}
        self.headers = messages.Headers()
        self.run_id = uuid.uuid4().hex[:8]
        subscriptions = tuple((site.topic(v, sub), 1 if sub == "connection" else 0)
                              for v in VEHICLES for sub in ("state", "connection"))
        self.link = Link(broker, f"mova-fleet-{self.run_id}", self.events, subscriptions=subscriptions)
        self.controller = Controller(scenario, binary, self._restarted)
        self.roads = {edge_id(site, a, b): (a, b) for r in scenario.roads if r.a != r.b
                      for a, b in ((r.a, r.b), (r.b, r.a))}
        self.link_since: float = time.monotonic()  # the link's state changed then
        self.link_up = False
        self.hold: str | None = None
        self.step: Step | None = None
        self.steps_made = 0
        self.plans = 0
        self.actions = 0
        self.refusals = 0
        self.timing = Timing()
        self._last_arrival: float | None = None
        self._blocked: list[tuple[int, int]] = []

    # ----- running ---------------------------------------------------------------------------

    def run(self) -> int:
        try:
            self.link.start()
            positions = self.gather()
            return self.drive(positions)
        except FleetFailure as failure:
            return self._fail(FLEET_FAILED, str(failure))
        except ControllerGone as gone:
            return self._fail(CONTROLLER_FAILED, str(gone))
        except BadInput as bad:
            return self._fail(BAD_INPUT, str(bad))
        finally:
            self.link.stop()
            self.controller.close()

    def _fail(self, status: int, reason: str) -> int:
        self.report.event("failed", f"failed: {reason}", status=status, reason=reason)
        return status

    def _restarted(self, reason: str) -> None:
        self.report.event("controller-restarted", f"controller restarted ({reason})", reason=reason)

    def gather(self) -> Positions:
        """Waits for the broker and a state of every vehicle standing still; their nodes."""
        deadline = time.monotonic() + self.wait_s
        if not self.link.wait_connected(self.wait_s):
            raise FleetFailure(f"the broker {self.link.host}:{self.link.port} cannot be reached "
                               f"within {self.wait_s:g} s")
        while True:
            now = time.monotonic()
            waiting = [v for v, view in self.views.items() if not self._still(view)]
            if not waiting:
                break
            if now > deadline:
                names = ", ".join(self._name(v) for v in waiting)
                raise FleetFailure(f"no state of a vehicle standing still within {self.wait_s:g} s: {names}")
            for v in waiting:
                self._request_state(v, now, REQUEST_EVERY)
            self.pump(0.05)
        positions = self.positions(start=True)
        self.report.event("start", "vehicles on " + ", ".join(
            f"V{v} {positions[v - 1]} ({self.site.node_of(positions[v - 1]).node})" for v in VEHICLES),
            positions=list(positions))
        for v in VEHICLES:
            planned = self.scenario.starts[v - 1]
            if planned != positions[v - 1]:
                self.report.event("start-differs", f"vehicle {v} stands on {positions[v - 1]}, the scenario "
                                  f"starts it on {planned}; planning from where it stands",
                                  vehicle=v, scenario=planned, actual=positions[v - 1])
        return positions

    @staticmethod
    def _still(view: View) -> bool:
        return view.state is not None and view.state.still

    def _name(self, v: int) -> str:
        ident = self.views[v].ident
        return f"vehicle {v} ({ident.manufacturer} {ident.serial})"

    def positions(self, start: bool = False) -> Positions:
        found = []
        for v, view in self.views.items():
            node = view.state.last_node_id if view.state is not None else ""
            p = self.site.position_of(node)
            if p is None:
                what = f'reports the node "{node}", which the site does not hold' if node else "reports no node"
                message = f"{self._name(v)} {what}"
                raise BadInput(message) if start else FleetFailure(message)
            found.append(p)
        if len(set(found)) < len(found):
            raise FleetFailure(f"two vehicles report the same node: {tuple(found)}")
        return (found[0], found[1], found[2])

    def drive(self, positions: Positions) -> int:
        plan = None if at_goals(positions, self.scenario) else self._new_plan(self.controller.plan(positions), "start")
        index = 1
        while plan is not None and index <= plan.num_steps:
            outcome = self.run_step(plan.steps[index - 1], plan.steps[index])
            if outcome is None:
                positions = plan.steps[index]
                restarted = self.controller.moved(positions)
                index += 1
                if restarted is not None:
                    plan, index = self._new_plan(restarted, "controller restarted"), 1
                continue
            positions, roads = outcome
            plan, index = self._after_cut(positions, roads), 1
        if plan is not None and not plan.found:
            return self._no_plan(plan.steps[0])
        self.report.event("done", f"done: every vehicle on its goal after {self.steps_made} steps",
                          steps=self.steps_made, positions=list(positions),
                          bridge_ms=[round(s * 1000, 2) for s in self.timing.bridge])
        return DONE

    def _after_cut(self, positions: Positions, roads: list[tuple[int, int]]) -> Plan | None:
        if at_goals(positions, self.scenario):
            return None
        plan = None
        for road in roads:
            if any({road[0], road[1]} == {a, b} for a, b in self.controller.obstacles):
                continue
            plan = self.controller.blocked(positions, road)
        if plan is None:
            plan = self.controller.plan(positions)
        return self._new_plan(plan, "blocked road" if roads else "refused order")

    def _new_plan(self, plan: Plan, reason: str) -> Plan:
        self.plans += 1
        if plan.found:
            self.report.event("plan", f"plan {self.plans} ({reason}): {plan.num_steps} steps",
                              plan=self.plans, reason=reason, steps=[list(p) for p in plan.steps])
            self.report.lines(plan.table())
        return plan

    def _no_plan(self, positions: Positions) -> int:
        why = self.controller.explanation(positions)
        self.report.event("no-plan", f"no plan from {positions}: {why.reason}", positions=list(positions),
                          category=why.category, reason=why.reason, obstacles=[list(o) for o in self.controller.obstacles])
        return NO_PLAN

    # ----- one step --------------------------------------------------------------------------

    def run_step(self, before: Positions, after: Positions) -> tuple[Positions, list[tuple[int, int]]] | None:
        """None when every vehicle of the step arrived; otherwise where the vehicles stand after
        the cut and the roads found blocked."""
        step = Step(self.steps_made + 1, before, after, self.site, f"{self.run_id}-p{self.plans}")
        self.step = step
        blocked: list[tuple[int, int]] = []
        self._blocked = blocked
        self._settle_checks(step, before)
        while True:
            now = time.monotonic()
            self.execute(step.commands(now, held=self.hold is not None))
            if step.done:
                self._step_done(step)
                return None
            if step.aborted:
                for v in step.unsettled():
                    self._request_state(v, now, REQUEST_EVERY)
            if step.aborted and step.settled(self._states()):
                self.step = None
                positions = self.positions()
                self.report.event("step-cut", f"step {step.number} cut short; the vehicles stand on {positions}",
                                  step=step.number, positions=list(positions))
                return positions, blocked
            self.pump(0.05)

    def _settle_checks(self, step: Step, before: Positions) -> None:
        standing = self.positions()
        if standing != before:
            raise FleetFailure(f"the vehicles stand on {standing}, the plan has them on {before}")

    def _states(self) -> dict[int, tuple[messages.State, float]]:
        return {v: (view.state, view.received) for v, view in self.views.items() if view.state is not None}

    def _step_done(self, step: Step) -> None:
        self.steps_made += 1
        self.refusals = 0
        assert step.released_at is not None and step.arrived_at is not None
        driving = step.arrived_at - step.released_at
        self.timing.driving.append(driving)
        self._last_arrival = step.arrived_at
        where = ", ".join(f"V{v} {p}" for v, p in zip(VEHICLES, step.after))
        self.report.event("step-done", f"step {step.number} done in {driving:.2f} s: {where}", step=step.number,
                          positions=list(step.after), seconds=round(driving, 3))
        self.step = None

    def execute(self, commands: list[Command]) -> None:
        for command in commands:
            if isinstance(command, OrderCommand):
                self._send_order(command)
            else:
                self._cancel(command)

    def _send_order(self, c: OrderCommand) -> None:
        m, site = c.move, self.site
        start, end = site.node_of(m.origin), site.node_of(m.target)
        topic = site.topic(c.vehicle, "order")
        ident = self.views[c.vehicle].ident
        message = messages.order(self.headers.header(topic, ident.manufacturer, ident.serial), m.order_id,
                                 c.update, messages.NodeRef(start.node, start.x, start.y),
                                 messages.NodeRef(end.node, end.x, end.y), m.edge_id, site.map_id, c.released)
        self.link.publish(topic, messages.encode(message))
        step = self.step
        if step is None or c.resend:
            return
        what = f"step {step.number}: V{m.vehicle} {m.origin}->{m.target}"
        if m.cycle and c.update == 0:
            self.report.event("held", f"{what} sent held: it moves together with the vehicles whose place it takes",
                              step=step.number, vehicle=m.vehicle, origin=m.origin, target=m.target, order=m.order_id)
            return
        now = time.monotonic()
        why = " with the others of its cycle" if m.cycle else "".join(
            f" after V{w} left {m.target}" for w in sorted(m.leaders))
        self.report.event("released", f"{what} released{why} (order {m.order_id})", step=step.number,
                          vehicle=m.vehicle, origin=m.origin, target=m.target, order=m.order_id)
        if self._last_arrival is not None:
            self.timing.bridge.append(now - self._last_arrival)
            self._last_arrival = None

    def _cancel(self, c: CancelCommand) -> None:
        self.report.event("cancel", f"vehicle {c.vehicle}: order {c.order_id} cancelled", vehicle=c.vehicle,
                          order=c.order_id)
        self._instant(c.vehicle, "cancelOrder")

    def _instant(self, vehicle: int, action: str) -> None:
        topic = self.site.topic(vehicle, "instantActions")
        ident = self.views[vehicle].ident
        self.actions += 1
        message = messages.instant_action(self.headers.header(topic, ident.manufacturer, ident.serial),
                                          action, f"{self.run_id}-a{self.actions}")
        self.link.publish(topic, messages.encode(message))

    def _request_state(self, v: int, now: float, every: float) -> None:
        view = self.views[v]
        if self.link_up and now - view.requested >= every:
            view.requested = now
            self._instant(v, "stateRequest")

    # ----- events ----------------------------------------------------------------------------

    def pump(self, timeout: float) -> None:
        """Handles the events that came, waiting up to `timeout` for the first; then the timers."""
        try:
            event = self.events.get(timeout=timeout)
            while True:
                self.handle(event)
                event = self.events.get_nowait()
        except queue.Empty:
            pass
        self.tick(time.monotonic())

    def handle(self, event: Any) -> None:
        now = time.monotonic()
        if isinstance(event, Incoming):
            self._incoming(event, now)
        elif isinstance(event, Connected):
            self.link_up, self.link_since = True, now
            self.report.event("broker", f"broker {self.link.host}:{self.link.port} connected", connected=True)
            for v in VEHICLES:
                self.views[v].requested = -math.inf
                self._request_state(v, now, 0)
        elif isinstance(event, Disconnected):
            self.link_up, self.link_since = False, now
            self.report.event("broker", "broker lost; reconnecting", connected=False)

    def _incoming(self, event: Incoming, now: float) -> None:
        found = self.site.vehicle_of_topic(event.topic)
        if found is None:
            return self._ignore(event.topic, "not a topic of this zone")
        v, sub = found
        try:
            data = messages.decode(event.payload)
            ident = self.views[v].ident
            if (data.get("manufacturer"), data.get("serialNumber")) != (ident.manufacturer, ident.serial):
                return self._ignore(event.topic, "the message names another vehicle")
            if not str(data.get("version", "")).startswith("2."):
                return self._ignore(event.topic, f"version {data.get('version')!r} is not 2.x")
            if sub == "state":
                self._state(v, messages.read_state(data), now)
            elif sub == "connection":
                self._connection(v, messages.read_connection(data), now)
        except messages.MessageError as error:
            self._ignore(event.topic, str(error))

    def _ignore(self, topic: str, reason: str) -> None:
        self.report.event("ignored", f"ignored a message on {topic}: {reason}", topic=topic, reason=reason)

    def _connection(self, v: int, state: str, now: float) -> None:
        """A vehicle says ONLINE when it connects, so a retained OFFLINE or last will is its latest
        word; a state heard later shows it back all the same."""
        view = self.views[v]
        view.connection, view.connection_at = state, now

    def _state(self, v: int, state: messages.State, now: float) -> None:
        view = self.views[v]
        new = [e for e in state.errors if e not in view.errors]
        view.state, view.received, view.errors = state, now, frozenset(state.errors)
        notes: list[Note] = []
        if self.step is not None:
            notes, commands = self.step.observe(v, state, new, now, self.roads)
            self.execute(commands)
        self._notes(v, notes, new)

    def _notes(self, v: int, notes: list[Note], new: list[messages.VehicleError]) -> None:
        explained = set()
        for note in notes:
            if note.kind == "blocked" and note.road is not None:
                self._blocked.append(note.road)
                self.report.event("blocked", f"vehicle {v} finds the road {note.road[0]}-{note.road[1]} blocked",
                                  vehicle=v, road=list(note.road))
            elif note.kind in ("refused", "stopped"):
                if note.road is None and note.kind == "refused":
                    self.refusals += 1
                if self.refusals > MAX_REFUSALS:
                    raise FleetFailure(f"{self._name(v)} refused {self.refusals} orders in a row")
                self.report.event(note.kind, f"vehicle {v}: order {note.kind}", vehicle=v)
                for w in VEHICLES:
                    self._request_state(w, time.monotonic(), 0)
            if note.error is not None:
                explained.add(note.error)
        for error in new:
            if error not in explained:
                self.report.event("vehicle-error", f"vehicle {v}: {error.text()}", vehicle=v,
                                  level=error.level, error=error.error_type)

    def tick(self, now: float) -> None:
        if not self.link_up and now - self.link_since > self.wait_s:
            raise FleetFailure(f"the broker has been away for more than {self.wait_s:g} s")
        reasons = []
        for v, view in self.views.items():
            why = self._offline(v, view, now) if self.link_up else None
            if why is not None:
                reasons.append(f"vehicle {v} offline ({why})")
            fatal = view.fatal()
            if fatal:
                reasons.append(f"vehicle {v} has a FATAL error ({fatal[0].error_type})")
        if not self.link_up:
            reasons.insert(0, "the broker is away")
        hold = "; ".join(reasons) or None
        if hold != self.hold:
            if hold is None:
                self.report.event("resume", "zone running again", held=False)
            else:
                self.report.event("hold", f"zone held: {hold}", held=True, reason=hold)
            self.hold = hold

    def _offline(self, v: int, view: View, now: float) -> str | None:
        why = view.offline_reason(now, self.silence_s, self.link_since)
        if why is None:
            view.offline_since = None
            if now - max(view.received, self.link_since) > self.silence_s / 2:
                self._request_state(v, now, REQUEST_EVERY * 2)
            return None
        if view.offline_since is None:
            view.offline_since = now
        elif now - view.offline_since > self.wait_s:
            raise FleetFailure(f"{self._name(v)} has been offline for more than {self.wait_s:g} s ({why})")
        self._request_state(v, now, REQUEST_EVERY * 2)
        return why
