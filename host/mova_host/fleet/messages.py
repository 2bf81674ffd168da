"""VDA 5050 version 2.0.0 messages: building what the master control sends, reading what the
vehicles send.

Every message starts with the header: `headerId` counted up by one per topic for each message
sent on it, `timestamp` in UTC (ISO 8601 with milliseconds and "Z"), `version` "2.0.0",
`manufacturer` and `serialNumber`. Instant actions carry both `actionType` (the standard's text
and its later schemas) and `actionName` (the 2.0.0 instantActions schema), so a message is
valid against both and understood by vehicles that read either.
"""

from __future__ import annotations

import json
import math
from dataclasses import dataclass, field
from datetime import datetime, timezone
from typing import Any

VERSION = "2.0.0"
LEVELS = ("WARNING", "FATAL")
CONNECTION_STATES = ("ONLINE", "OFFLINE", "CONNECTIONBROKEN")


class MessageError(ValueError):
    """A message that is not JSON or not shaped as its topic requires."""


def timestamp(moment: datetime | None = None) -> str:
    """UTC, ISO 8601 with milliseconds: 2024-04-15T11:40:03.120Z."""
    moment = (moment or datetime.now(timezone.utc)).astimezone(timezone.utc)
    return moment.strftime("%Y-%m-%dT%H:%M:%S.") + f"{moment.microsecond // 1000:03d}Z"


class Headers:
    """The header counters of one sender: one count per topic, going up by one per message."""

    def __init__(self) -> None:
        self._counts: dict[str, int] = {}

    def header(self, topic: str, manufacturer: str, serial: str) -> dict[str, Any]:
        count = self._counts.get(topic, -1) + 1
        self._counts[topic] = count
        return {"headerId": count, "timestamp": timestamp(), "version": VERSION,
                "manufacturer": manufacturer, "serialNumber": serial}


@dataclass(frozen=True)
class NodeRef:
    node_id: str
    x: float
    y: float


def order(header: dict[str, Any], order_id: str, update_id: int, start: NodeRef, end: NodeRef,
          edge_id: str, map_id: str, released: bool = True) -> dict[str, Any]:
    """An order over one edge: the node the vehicle stands on, the edge, the next node. With
    `released` false only the first node is base: the vehicle takes the order and waits."""

    def node(ref: NodeRef, sequence: int, base: bool) -> dict[str, Any]:
        return {"nodeId": ref.node_id, "sequenceId": sequence, "released": base,
                "nodePosition": {"x": ref.x, "y": ref.y, "mapId": map_id}, "actions": []}

    edge = {"edgeId": edge_id, "sequenceId": 1, "released": released, "startNodeId": start.node_id,
            "endNodeId": end.node_id, "actions": []}
    return {**header, "orderId": order_id, "orderUpdateId": update_id,
            "nodes": [node(start, 0, True), node(end, 2, released)], "edges": [edge]}


def instant_action(header: dict[str, Any], action_type: str, action_id: str) -> dict[str, Any]:
    action = {"actionType": action_type, "actionName": action_type, "actionId": action_id,
              "blockingType": "NONE", "actionParameters": []}
    return {**header, "actions": [action]}


def connection(header: dict[str, Any], state: str) -> dict[str, Any]:
    return {**header, "connectionState": state}


def encode(message: dict[str, Any]) -> bytes:
    return json.dumps(message, separators=(",", ":")).encode("utf-8")


# ----- reading ---------------------------------------------------------------------------------


@dataclass(frozen=True)
class VehicleError:
    error_type: str
    level: str
    references: tuple[tuple[str, str], ...]
    description: str = ""

    def reference(self, key: str) -> str | None:
        for k, value in self.references:
            if k == key:
                return value
        return None

    def text(self) -> str:
        refs = ", ".join(f"{k} {v}" for k, v in self.references)
        words = f"{self.level} {self.error_type}" + (f" ({refs})" if refs else "")
        return words + (f": {self.description}" if self.description else "")


@dataclass(frozen=True)
class State:
    """What the bridge reads of a vehicle's state message."""

    header_id: int
    manufacturer: str
    serial: str
    order_id: str
    order_update_id: int
    last_node_id: str
    node_ids: tuple[str, ...]  # the nodes still to traverse
    edge_ids: tuple[str, ...]
    driving: bool
    errors: tuple[VehicleError, ...]
    position: tuple[float, float, str] | None = None  # x, y, mapId
    action_ids: dict[str, str] = field(default_factory=dict)  # actionId -> actionStatus
    base_left: bool = False  # released nodes or edges still to traverse

    @property
    def still(self) -> bool:
        """Not driving, and nothing released left to drive (a held horizon may remain)."""
        return not self.driving and not self.base_left


MAX_PAYLOAD = 1 << 20  # the largest message read

_STATE_FIELDS: dict[str, type | tuple[type, ...]] = {
    "headerId": int, "timestamp": str, "version": str, "manufacturer": str, "serialNumber": str,
    "orderId": str, "orderUpdateId": int, "lastNodeId": str, "lastNodeSequenceId": int,
    "nodeStates": list, "edgeStates": list, "driving": bool, "actionStates": list,
    "batteryState": dict, "operatingMode": str, "errors": list, "safetyState": dict,
}


def decode(payload: bytes) -> dict[str, Any]:
    """A message's JSON object; MessageError for anything else (also a payload over 1 MiB, JSON
    nested too deep, a number of more than 4,300 digits), so that no message can end the bridge."""
    if len(payload) > MAX_PAYLOAD:
        raise MessageError(f"larger than {MAX_PAYLOAD // 1024} KiB")
    try:
        data = json.loads(payload.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as error:  # ValueError: json's, and Python's digit limit
        raise MessageError(f"not JSON: {error}") from None
    except RecursionError:
        raise MessageError("not JSON: nested too deep") from None
    if not isinstance(data, dict):
        raise MessageError("not a JSON object")
    return data


def _field(data: dict[str, Any], key: str, kind: type | tuple[type, ...], where: str = "") -> Any:
    if key not in data:
        raise MessageError(f"{where}{key} is missing")
    value = data[key]
    if isinstance(value, bool) and kind is int:
        raise MessageError(f"{where}{key} must be {getattr(kind, '__name__', kind)}")
    if not isinstance(value, kind):
        raise MessageError(f"{where}{key} must be {getattr(kind, '__name__', kind)}")
    return value


def _ids(items: list[Any], key: str, where: str) -> tuple[str, ...]:
    found = []
    for i, item in enumerate(items):
        if not isinstance(item, dict):
            raise MessageError(f"{where}[{i}] must be an object")
        found.append(_field(item, key, str, f"{where}[{i}]."))
    return tuple(found)


def _errors(items: list[Any]) -> tuple[VehicleError, ...]:
    errors = []
    for i, item in enumerate(items):
        where = f"errors[{i}]."
        if not isinstance(item, dict):
            raise MessageError(f"errors[{i}] must be an object")
        level = _field(item, "errorLevel", str, where)
        if level not in LEVELS:
            raise MessageError(f"{where}errorLevel {level!r} is not WARNING or FATAL")
        refs = []
        for j, ref in enumerate(item.get("errorReferences") or []):
            if not isinstance(ref, dict):
                raise MessageError(f"{where}errorReferences[{j}] must be an object")
            refs.append((str(_field(ref, "referenceKey", str, where)), str(_field(ref, "referenceValue", str, where))))
        description = item.get("errorDescription", "")
        errors.append(VehicleError(_field(item, "errorType", str, where), level, tuple(refs),
                                   description if isinstance(description, str) else ""))
    return tuple(errors)


def _position(data: dict[str, Any]) -> tuple[float, float, str] | None:
    value = data.get("agvPosition")
    if value is None:
        return None
    if not isinstance(value, dict):
        raise MessageError("agvPosition must be an object")
    x, y = _field(value, "x", (int, float), "agvPosition."), _field(value, "y", (int, float), "agvPosition.")
    if not (math.isfinite(x) and math.isfinite(y)):
        raise MessageError("agvPosition is not finite")
    return float(x), float(y), str(_field(value, "mapId", str, "agvPosition."))


def read_state(data: dict[str, Any]) -> State:
    """The state's fields the bridge uses; MessageError when a required field is missing or
    of the wrong type."""
    for key, kind in _STATE_FIELDS.items():
        _field(data, key, kind)
    actions: dict[str, str] = {}
    for i, item in enumerate(data["actionStates"]):
        if not isinstance(item, dict):
            raise MessageError(f"actionStates[{i}] must be an object")
        actions[_field(item, "actionId", str, f"actionStates[{i}].")] = str(item.get("actionStatus", ""))
    nodes, edges = _ids(data["nodeStates"], "nodeId", "nodeStates"), _ids(data["edgeStates"], "edgeId", "edgeStates")
    base = any(item.get("released", True) is not False for item in [*data["nodeStates"], *data["edgeStates"]])
    return State(data["headerId"], data["manufacturer"], data["serialNumber"], data["orderId"],
                 data["orderUpdateId"], data["lastNodeId"], nodes, edges, data["driving"], _errors(data["errors"]),
                 _position(data), actions, base)


def read_connection(data: dict[str, Any]) -> str:
    for key in ("headerId", "timestamp", "version", "manufacturer", "serialNumber"):
        _field(data, key, _STATE_FIELDS[key])
    state = _field(data, "connectionState", str)
    if state not in CONNECTION_STATES:
        raise MessageError(f"connectionState {state!r} is not one of {', '.join(CONNECTION_STATES)}")
    return str(state)
