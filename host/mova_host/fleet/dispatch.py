"""One joint step of a plan, turned into orders and followed until every vehicle has arrived.

The rules, in the order they are applied:

- Only the vehicles that move in the step get an order: the node they stand on, the edge, the
  next node. A vehicle that waits gets nothing.
- A vehicle that enters the position another vehicle leaves in the same step (it follows that
  vehicle) gets its order only once the leader's state shows the leader's order taken and the
  leader gone: arrived on its next node, or reported past the middle of its edge.
- Vehicles that enter each other's positions (two swapping over a two-lane road, three turning
  round a cycle of roads) cannot wait for one another. They first get their orders held: the
  next node and the edge not released, so the order is taken but nobody drives. Only when every
  one of them has taken its held order are all released together, by an order update.
- Nothing new goes out while the step is held (a vehicle offline or silent, a FATAL error, the
  broker away): a held step only waits.
- The step is done when every moving vehicle's state shows it on its next node with its order
  done (no nodes or edges left, not driving).
- When an order is refused or a vehicle stops on the way, the step is cut short: nothing more
  is sent, held orders of the others and the stopped vehicle's order are cancelled, released
  orders are left to finish, and the step ends once every vehicle is still (nothing released
  left to drive: its order done, refused or cancelled; a held order that a cancel overtook
  leaves only a horizon). The bridge then plans again from where the
  vehicles stand.
- An order a vehicle has not taken, and has not refused, is sent again unchanged (same orderId
  and orderUpdateId, which a vehicle ignores when it already has them) when a state that comes
  RESEND_AFTER seconds after the sending still shows the vehicle without it: the message was
  lost, for example with the broker going away.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from enum import Enum

from .messages import State, VehicleError
from .site import Site

RESEND_AFTER = 2.0  # seconds


class Status(Enum):
    WAITING = "waiting"  # not sent yet
    SENT = "sent"  # sent, not yet seen taken
    HELD = "held"  # a held order seen taken, waiting for the others of its cycle
    TAKEN = "taken"  # taken and released, the vehicle may not have left yet
    LEFT = "left"  # the vehicle has left its node
    ARRIVED = "arrived"
    REFUSED = "refused"
    STOPPED = "stopped"  # took the order, stopped on the way: cancelled


FINAL = (Status.ARRIVED, Status.REFUSED)


@dataclass
class Move:
    vehicle: int
    origin: int
    target: int
    order_id: str
    edge_id: str
    leaders: frozenset[int]  # vehicles whose leaving this move waits for
    cycle: bool
    status: Status = Status.WAITING
    update: int = 0  # the orderUpdateId sent last
    sent_at: float = 0.0
    cancelled: bool = False


@dataclass(frozen=True)
class OrderCommand:
    vehicle: int
    move: Move
    released: bool
    update: int
    resend: bool = False


@dataclass(frozen=True)
class CancelCommand:
    vehicle: int
    order_id: str


Command = OrderCommand | CancelCommand


@dataclass(frozen=True)
class Note:
    """Something the step learned: a refused order, a blocked road, a vehicle that stopped."""

    kind: str  # "refused", "blocked", "stopped", "arrived"
    vehicle: int
    error: VehicleError | None = None
    road: tuple[int, int] | None = None


def edge_id(site: Site, a: int, b: int) -> str:
    return f"{site.node_of(a).node}-{site.node_of(b).node}"


def followers(before: tuple[int, ...], after: tuple[int, ...]) -> dict[int, set[int]]:
    """For each moving vehicle v, the vehicles that leave the position v enters."""
    moving = [v for v in range(1, len(before) + 1) if before[v - 1] != after[v - 1]]
    return {v: {w for w in moving if w != v and before[w - 1] == after[v - 1]} for v in moving}


def in_cycle(leads: dict[int, set[int]]) -> set[int]:
    """The vehicles whose chain of leaders comes back to themselves."""
    found = set()
    for v in leads:
        seen, current = set(), v
        while True:
            nxt = next(iter(leads.get(current, ())), None)
            if nxt is None or nxt in seen:
                break
            if nxt == v:
                found.add(v)
                break
            seen.add(nxt)
            current = nxt
    return found


@dataclass
class Step:
    number: int
    before: tuple[int, ...]
    after: tuple[int, ...]
    site: Site
    order_prefix: str
    moves: dict[int, Move] = field(default_factory=dict)
    aborted: bool = False
    released_at: float | None = None
    arrived_at: float | None = None

    def __post_init__(self) -> None:
        leads = followers(self.before, self.after)
        cycle = in_cycle(leads)
        for v, leaders in leads.items():
            a, b = self.before[v - 1], self.after[v - 1]
            self.moves[v] = Move(v, a, b, f"{self.order_prefix}-s{self.number}-v{v}", edge_id(self.site, a, b),
                                 frozenset(leaders), v in cycle)

    # ----- what to send ----------------------------------------------------------------------

    def commands(self, now: float, held: bool) -> list[Command]:
        """The orders that may go out now (none while held or cut short)."""
        if held or self.aborted:
            return []
        out: list[Command] = []
        cycle = [m for m in self.moves.values() if m.cycle]
        for m in self.moves.values():
            if m.status is not Status.WAITING:
                continue
            if m.cycle:
                out.append(self._send(m, now, released=False, update=0))
            elif all(self.moves[w].status in (Status.LEFT, Status.ARRIVED) for w in m.leaders):
                out.append(self._send(m, now, released=True, update=0))
        if cycle and all(m.status is Status.HELD for m in cycle):
            out += [self._send(m, now, released=True, update=1) for m in cycle]
        if out and self.released_at is None:
            self.released_at = now
        return out

    def _send(self, m: Move, now: float, released: bool, update: int) -> OrderCommand:
        m.status, m.update, m.sent_at = Status.SENT, update, now
        return OrderCommand(m.vehicle, m, released, update)

    def resend_on(self, m: Move, state: State, now: float) -> list[Command]:
        if m.status is not Status.SENT or self.aborted or now - m.sent_at < RESEND_AFTER:
            return []
        if state.order_id == m.order_id and state.order_update_id >= m.update:
            return []
        m.sent_at = now
        return [OrderCommand(m.vehicle, m, not m.cycle or m.update == 1, m.update, resend=True)]

    # ----- what the vehicles say -------------------------------------------------------------

    def observe(self, vehicle: int, state: State, new_errors: list[VehicleError], now: float,
                roads: dict[str, tuple[int, int]]) -> tuple[list[Note], list[Command]]:
        m = self.moves.get(vehicle)
        notes: list[Note] = []
        commands: list[Command] = []
        for error in new_errors:
            notes += self._error(vehicle, m, state, error, roads, commands)
        if m is None or m.status in FINAL:
            return notes, commands
        holds = state.order_id == m.order_id and state.order_update_id >= m.update
        if m.status is Status.SENT and holds:
            m.status = Status.HELD if m.cycle and m.update == 0 else Status.TAKEN
        if m.status in (Status.TAKEN, Status.LEFT) and self._gone(m, state):
            m.status = Status.LEFT
        if m.status in (Status.TAKEN, Status.LEFT, Status.STOPPED) and holds and self._arrived(m, state):
            m.status = Status.ARRIVED
            notes.append(Note("arrived", vehicle))
        commands += self.resend_on(m, state, now)
        if self.done and self.arrived_at is None:
            self.arrived_at = now
        return notes, commands

    def _error(self, vehicle: int, m: Move | None, state: State, error: VehicleError,
               roads: dict[str, tuple[int, int]], commands: list[Command]) -> list[Note]:
        edge = error.reference("edgeId")
        road = roads.get(edge) if edge is not None else None
        names_order = m is not None and error.reference("orderId") == m.order_id
        notes = [Note("blocked", vehicle, error, road)] if road is not None else []
        if m is None or m.status in FINAL or not (names_order or road is not None):
            return notes
        if state.order_id == m.order_id and m.status is not Status.SENT:
            m.status = Status.STOPPED
            notes.append(Note("stopped", m.vehicle, error, road))
        else:
            m.status = Status.REFUSED
            notes.append(Note("refused", m.vehicle, error, road))
        self.abort(commands)
        return notes

    def abort(self, commands: list[Command]) -> None:
        """Cuts the step short: nothing more is sent; held and stopped orders are cancelled."""
        self.aborted = True
        for m in self.moves.values():
            # Held orders, taken or on their way, and the order of a vehicle that stopped; released
            # orders are left to finish.
            if m.status in (Status.HELD, Status.STOPPED) or (m.cycle and m.status is Status.SENT and m.update == 0):
                if not m.cancelled:
                    m.cancelled = True
                    commands.append(CancelCommand(m.vehicle, m.order_id))

    def _gone(self, m: Move, state: State) -> bool:
        if state.order_id != m.order_id:
            return False
        if state.last_node_id == self.site.node_of(m.target).node:
            return True
        half = self.site.distance(m.origin, m.target) / 2
        if state.position is None or half <= 0 or state.position[2] != self.site.map_id:
            return False
        origin = self.site.node_of(m.origin)
        x, y, _ = state.position
        return bool(((x - origin.x) ** 2 + (y - origin.y) ** 2) ** 0.5 > half)

    def _arrived(self, m: Move, state: State) -> bool:
        return (state.last_node_id == self.site.node_of(m.target).node and not state.node_ids
                and not state.edge_ids and not state.driving)

    # ----- where the step stands -------------------------------------------------------------

    @property
    def done(self) -> bool:
        return not self.aborted and all(m.status is Status.ARRIVED for m in self.moves.values())

    def settled(self, states: dict[int, tuple[State, float]]) -> bool:
        """After a cut: every vehicle that got an order is still again, as a state received at
        least RESEND_AFTER seconds after the sending shows (an order still on its way would
        otherwise be taken later)."""
        if not self.aborted:
            return False
        for m in self.moves.values():
            if m.status in FINAL or m.status is Status.WAITING:
                continue
            if m.vehicle not in states:
                return False
            state, received = states[m.vehicle]
            if not state.still or received - m.sent_at < RESEND_AFTER:
                return False
        return True

    def unsettled(self) -> list[int]:
        """The vehicles whose moves may still be on their way."""
        return [m.vehicle for m in self.moves.values() if m.status not in FINAL and m.status is not Status.WAITING]

