"""The fleet bridge's pieces without a broker: site files, reading vehicle messages, and the
rules of a step (who waits for whom, held orders, a refusal, a lost order)."""

from __future__ import annotations

import json
import tempfile
import unittest
from pathlib import Path

import support  # noqa: F401
from fleet_support import site_data

from mova_host.fleet import messages
from mova_host.fleet.dispatch import CancelCommand, OrderCommand, Status, Step, followers, in_cycle
from mova_host.fleet.link import LinkError, parse_broker
from mova_host.fleet.sim import SimVehicle
from mova_host.fleet.site import SiteError, check_fit, load_site, parse_site
from mova_host.scenario import parse_scenario

GRID = {p: (4.0 * (p % 4), -5.0 * (p // 4)) for p in range(12)}


class SiteFileTest(unittest.TestCase):
    def error(self, change) -> str:
        data = site_data(GRID)
        change(data)
        with self.assertRaises(SiteError) as caught:
            parse_site(data, "s.json")
        return str(caught.exception)

    def test_every_error_names_its_place(self):
        cases = [
            (lambda d: d.update(format="site"), 's.json: format: must be "mova-site", not "site"'),
            (lambda d: d.update(version=2), "s.json: version: version 2 is newer than this program reads (1)"),
            (lambda d: d.update(interface="a/b"), "s.json: interface: \"a/b\" must not hold / # + or $"),
            (lambda d: d.update(map=""), "s.json: map: must be a non-empty text"),
            (lambda d: d.pop("vehicles"), 's.json: the field "vehicles" is missing'),
            (lambda d: d.update(extra=1), "s.json: extra: unknown field"),
            (lambda d: d["positions"][1].update(position=0), "s.json: positions[1].position: position 0 is given twice"),
            (lambda d: d["positions"][2].update(node="n0"), 's.json: positions[2].node: node "n0" is already position 0'),
            (lambda d: d["positions"][3].update(x="1"), "s.json: positions[3].x: must be a number"),
            (lambda d: d["positions"][3].update(position=12), "s.json: positions[3].position: 12 is outside 0 to 11"),
            (lambda d: d["positions"][3].update(position=True), "s.json: positions[3].position: must be a whole number"),
            (lambda d: d.update(positions={}), "s.json: positions: must be a list, not an object"),
            (lambda d: d["vehicles"][0].update(vehicle=4), "s.json: vehicles[0].vehicle: must be 1, 2 or 3, not 4"),
            (lambda d: d["vehicles"][1].update(vehicle=1), "s.json: vehicles[1].vehicle: vehicle 1 is listed twice"),
            (lambda d: d["vehicles"][1].update(serial="T-1"), "s.json: vehicles[1].serial: Test T-1 is already vehicle 1"),
            (lambda d: d["vehicles"][2].update(serial="A B"), 's.json: vehicles[2].serial: "A B" may hold only'),
            (lambda d: d["vehicles"].pop(), "s.json: vehicles: must list vehicles 1, 2 and 3; missing 3"),
            (lambda d: d["positions"][3].update(x=1e308), "s.json: positions[3].x: 1e+308 is outside -1,000,000 to "
             "1,000,000 (metres)"),
            (lambda d: d["positions"][3].update(y=10**400), "s.json: positions[3].y: a whole number of 401 digits "
             "is outside"),
            (lambda d: d["positions"][3].update(position=10**400), "s.json: positions[3].position: a whole number of "
             "401 digits is outside 0 to 11"),
            (lambda d: d.update(version=-(10**50)), "s.json: version: a whole number of 51 digits is outside 1 "
             "to 2147483647"),
            (lambda d: d.update(map="m" * 201), "s.json: map: a text of 201 characters; at most 200"),
            (lambda d: d.update({"a.b\n" * 30: 1}), 's.json: "a.b\\na.b\\na.b\\na.b\\na.b\\na.b\\na.b\\na...: unknown field'),
            (lambda d: d["vehicles"].__setitem__(0, []), "s.json: vehicles[0]: must be an object, not a list"),
        ]
        for change, expected in cases:
            with self.subTest(expected=expected):
                self.assertTrue(self.error(change).startswith(expected), self.error(change))

    def test_files_and_the_fit_with_a_scenario(self):
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder) / "site.json"
            for text, expected in (("{", "line 1, column 2: not valid JSON"), (b"\xff", "byte 0: not UTF-8 text"),
                                   ('{"a": ' + "[" * 5000, "line 1, column 70: lists and objects nested more than 64"),
                                   ('{"a": NaN}', "line 1, column 7: NaN is not a number JSON allows"),
                                   ('{"a": "\\udc00"}', "line 1, column 8: \\udc00 is half of a character")):
                path.write_bytes(text if isinstance(text, bytes) else text.encode())
                with self.assertRaises(SiteError) as caught:
                    load_site(path)
                self.assertIn(expected, str(caught.exception))
            with self.assertRaisesRegex(SiteError, "no such file"):
                load_site(Path(folder) / "missing.json")
            with self.assertRaisesRegex(SiteError, "cannot be read"):
                load_site(folder)
            path.write_text(json.dumps(site_data({p: GRID[p] for p in range(4)})))
            site = load_site(path)
        scenario = parse_scenario({"format": "mova-scenario", "version": 1,
                                   "roads": [{"kind": "one-lane", "from": 0, "to": 5}],
                                   "vehicles": [{"vehicle": 1, "start": 0, "goal": 5}, {"vehicle": 2, "start": 1, "goal": 1},
                                                {"vehicle": 3, "start": 2, "goal": 2}]})
        with self.assertRaisesRegex(SiteError, r"position 5 \(used by the scenario's roads\[0\]\) has no node"):
            check_fit(site, scenario)
        self.assertEqual(site.vehicle_of_topic("uagv/v2/Test/T-2/state"), (2, "state"))
        self.assertIsNone(site.vehicle_of_topic("uagv/v2/Test/T-2/x/state"))
        self.assertIsNone(site.position_of("nowhere"))

    def test_broker_addresses(self):
        self.assertEqual(parse_broker("mqtt://localhost"), ("localhost", 1883))
        self.assertEqual(parse_broker("mqtt://127.0.0.1:1999"), ("127.0.0.1", 1999))
        for bad in ("tcp://h:1", "mqtt://h:99999", "mqtt://h:1/x", "mqtt://"):
            with self.subTest(bad=bad), self.assertRaises(LinkError):
                parse_broker(bad)


def state(**change) -> dict:
    data = {"headerId": 1, "timestamp": "2024-01-01T00:00:00.000Z", "version": "2.0.0", "manufacturer": "Test",
            "serialNumber": "T-1", "orderId": "", "orderUpdateId": 0, "lastNodeId": "n0", "lastNodeSequenceId": 0,
            "nodeStates": [], "edgeStates": [], "driving": False, "actionStates": [],
            "batteryState": {"batteryCharge": 1.0, "charging": False}, "operatingMode": "AUTOMATIC",
            "errors": [], "safetyState": {"eStop": "NONE", "fieldViolation": False}}
    data.update(change)
    return data


class MessagesTest(unittest.TestCase):
    def test_a_state_that_breaks_the_schema_is_refused_with_the_field(self):
        cases = [
            (b"{", "not JSON"), (b"[]", "not a JSON object"),
            # Messages anyone on the broker can send, which once ended the bridge with a traceback.
            (b'{"a": ' + b"[" * 5000 + b"]" * 5000 + b"}", "not JSON: nested too deep"),
            (b'{"headerId": ' + b"1" * 5000 + b"}", "not JSON: Exceeds the limit"),
            (b'{"a": "' + b"x" * (1 << 20) + b'"}', "larger than 1024 KiB"),
            (state(driving=1), "driving must be bool"), (state(headerId=True), "headerId must be int"),
            (state(nodeStates=[1]), "nodeStates[0] must be an object"),
            (state(edgeStates=[{}]), "edgeStates[0].edgeId is missing"),
            (state(errors=[{"errorType": "x", "errorLevel": "BAD"}]), "is not WARNING or FATAL"),
            (state(errors=[1]), "errors[0] must be an object"),
            (state(errors=[{"errorType": "x", "errorLevel": "FATAL", "errorReferences": [1]}]), "errorReferences[0]"),
            (state(actionStates=[1]), "actionStates[0] must be an object"),
            (state(agvPosition=[]), "agvPosition must be an object"),
            (state(agvPosition={"x": 1e400, "y": 0, "mapId": "m"}), "agvPosition is not finite"),
        ]
        for payload, expected in cases:
            with self.subTest(expected=expected), self.assertRaisesRegex(messages.MessageError, expected.replace("[", r"\[")):
                data = messages.decode(payload if isinstance(payload, bytes) else json.dumps(payload).encode())
                messages.read_state(data)
        with self.assertRaisesRegex(messages.MessageError, "connectionState 'GONE'"):
            messages.read_connection({**state(), "connectionState": "GONE"})

    def test_a_state_read(self):
        read = messages.read_state(state(errors=[{"errorType": "noRouteError", "errorLevel": "WARNING",
                                                  "errorReferences": [{"referenceKey": "edgeId", "referenceValue": "n0-n1"}],
                                                  "errorDescription": "blocked"}],
                                         agvPosition={"x": 1, "y": 2.5, "theta": 0, "mapId": "m", "positionInitialized": True},
                                         actionStates=[{"actionId": "a", "actionStatus": "FINISHED"}]))
        self.assertEqual(read.position, (1.0, 2.5, "m"))
        self.assertEqual(read.errors[0].reference("edgeId"), "n0-n1")
        self.assertIsNone(read.errors[0].reference("orderId"))
        self.assertEqual(read.errors[0].text(), "WARNING noRouteError (edgeId n0-n1): blocked")
        self.assertEqual(read.action_ids, {"a": "FINISHED"})

    def test_headers_count_per_topic(self):
        headers = messages.Headers()
        ids = [headers.header(t, "M", "S")["headerId"] for t in ("a", "b", "a", "a", "b")]
        self.assertEqual(ids, [0, 0, 1, 2, 1])


class StepTest(unittest.TestCase):
    """A step's rules with states written by hand."""

    def setUp(self):
        self.site = parse_site(site_data(GRID))
        self.roads = {f"n{a}-n{b}": (a, b) for a, b in ((0, 1), (1, 0), (1, 2), (2, 1))}

    def state(self, v: int, order: str = "", node: str = "n0", update: int = 0, nodes=(), x=None, errors=()):
        data = state(serialNumber=f"T-{v}", orderId=order, orderUpdateId=update, lastNodeId=node,
                     nodeStates=[{"nodeId": n, "sequenceId": 2, "released": True} for n in nodes],
                     edgeStates=[{"edgeId": "e", "sequenceId": 1, "released": True} for _ in nodes],
                     driving=bool(nodes), errors=list(errors))
        if x is not None:
            data["agvPosition"] = {"x": x, "y": 0.0, "theta": 0.0, "mapId": "test-map", "positionInitialized": True}
        return messages.read_state(data)

    def test_who_follows_whom(self):
        self.assertEqual(followers((0, 1, 5), (1, 2, 5)), {1: {2}, 2: set()})
        self.assertEqual(in_cycle(followers((0, 1, 5), (1, 0, 5))), {1, 2})
        self.assertEqual(in_cycle(followers((0, 1, 2), (1, 2, 0))), {1, 2, 3})
        self.assertEqual(in_cycle(followers((0, 1, 2), (1, 2, 3))), set())

    def test_a_follower_waits_until_its_leader_took_its_order_and_left(self):
        step = Step(1, (0, 1, 9), (1, 2, 9), self.site, "o")
        first = step.commands(0.0, held=False)
        self.assertEqual([c.vehicle for c in first], [2])
        order = step.moves[2].order_id
        self.assertEqual(step.commands(0.1, held=False), [])
        for leader_state in (self.state(2, order, "n1", nodes=["n2"], x=4.5),  # taken, still near its node
                             self.state(2, "other", "n1", x=7.0)):  # far, but not with this order
            step.observe(2, leader_state, [], 0.2, self.roads)
            self.assertEqual(step.commands(0.2, held=False), [])
        step.observe(2, self.state(2, order, "n1", nodes=["n2"], x=6.5), [], 0.3, self.roads)
        self.assertEqual(step.commands(0.3, held=True), [])  # a held zone releases nothing
        self.assertEqual([c.vehicle for c in step.commands(0.3, held=False)], [1])
        step.observe(2, self.state(2, order, "n2"), [], 0.4, self.roads)
        self.assertFalse(step.done)
        step.observe(1, self.state(1, step.moves[1].order_id, "n1"), [], 0.5, self.roads)
        self.assertTrue(step.done)
        self.assertEqual((step.released_at, step.arrived_at), (0.0, 0.5))

    def test_a_swap_is_held_until_both_took_their_orders(self):
        step = Step(1, (0, 1, 9), (1, 0, 9), self.site, "o")
        held = step.commands(0.0, held=False)
        self.assertEqual([(c.vehicle, c.released, c.update) for c in held], [(1, False, 0), (2, False, 0)])
        step.observe(1, self.state(1, step.moves[1].order_id, "n0"), [], 0.1, self.roads)
        self.assertEqual(step.commands(0.1, held=False), [])
        step.observe(2, self.state(2, step.moves[2].order_id, "n1"), [], 0.2, self.roads)
        released = step.commands(0.2, held=False)
        self.assertEqual([(c.vehicle, c.released, c.update) for c in released], [(1, True, 1), (2, True, 1)])

    def test_a_refused_held_order_cancels_the_other(self):
        step = Step(1, (0, 1, 9), (1, 0, 9), self.site, "o")
        step.commands(0.0, held=False)
        step.observe(1, self.state(1, step.moves[1].order_id, "n0"), [], 0.1, self.roads)
        refusal = messages.read_state(state(serialNumber="T-2", lastNodeId="n1", errors=[
            {"errorType": "noRouteError", "errorLevel": "WARNING", "errorReferences": [
                {"referenceKey": "orderId", "referenceValue": step.moves[2].order_id},
                {"referenceKey": "edgeId", "referenceValue": "n1-n0"}]}])).errors
        notes, commands = step.observe(2, self.state(2, "", "n1", errors=[]), list(refusal), 0.2, self.roads)
        self.assertEqual([(n.kind, n.road) for n in notes], [("blocked", (1, 0)), ("refused", (1, 0))])
        self.assertEqual(commands, [CancelCommand(1, step.moves[1].order_id)])
        self.assertEqual(step.commands(0.3, held=False), [])
        self.assertFalse(step.settled({1: (self.state(1, "x", "n0"), 1.0)}))  # vehicle 2 unheard
        self.assertTrue(step.settled({1: (self.state(1, "x", "n0"), 2.5), 2: (self.state(2), 2.5)}))

    def test_cut_step_settles_when_a_cancel_overtook_a_held_order(self):
        step = Step(1, (0, 1, 8), (1, 0, 9), self.site, "o")
        step.commands(0.0, held=False)
        refusal = messages.VehicleError("noRouteError", "WARNING", (("orderId", step.moves[3].order_id),))
        _, commands = step.observe(3, self.state(3, "", "n8"), [refusal], 0.1, self.roads)
        self.assertEqual(sorted(c.vehicle for c in commands), [1, 2])  # both held orders cancelled
        horizon = messages.read_state(state(serialNumber="T-1", orderId=step.moves[1].order_id, lastNodeId="n0",
                                            nodeStates=[{"nodeId": "n1", "sequenceId": 2, "released": False}],
                                            edgeStates=[{"edgeId": "n0-n1", "sequenceId": 1, "released": False}]))
        self.assertTrue(horizon.still)
        self.assertTrue(step.settled({1: (horizon, 3.0), 2: (self.state(2, "", "n1"), 3.0)}))

    def test_a_vehicle_stopped_on_the_way_is_cancelled(self):
        step = Step(1, (0, 5, 9), (1, 5, 9), self.site, "o")
        step.commands(0.0, held=False)
        order = step.moves[1].order_id
        step.observe(1, self.state(1, order, "n0", nodes=["n1"]), [], 0.1, self.roads)
        blocked = messages.VehicleError("blockedEdge", "WARNING", (("edgeId", "n0-n1"),))
        notes, commands = step.observe(1, self.state(1, order, "n0", nodes=["n1"]), [blocked], 0.2, self.roads)
        self.assertEqual([n.kind for n in notes], ["blocked", "stopped"])
        self.assertEqual(commands, [CancelCommand(1, order)])
        self.assertFalse(step.settled({1: (self.state(1, order, "n0", nodes=["n1"]), 3.0)}))
        self.assertTrue(step.settled({1: (self.state(1, order, "n0"), 3.0)}))

    def test_a_lost_order_is_sent_again_unchanged_once(self):
        step = Step(1, (0, 5, 9), (1, 5, 9), self.site, "o")
        step.commands(0.0, held=False)
        _, again = step.observe(1, self.state(1), [], 1.0, self.roads)
        self.assertEqual(again, [])  # too early: the order may be on its way
        _, again = step.observe(1, self.state(1), [], 2.5, self.roads)
        self.assertEqual([(c.vehicle, c.resend, c.update, c.released) for c in again if isinstance(c, OrderCommand)],
                         [(1, True, 0, True)])
        _, again = step.observe(1, self.state(1, step.moves[1].order_id, "n0", nodes=["n1"]), [], 5.0, self.roads)
        self.assertEqual(again, [])
        self.assertIs(step.moves[1].status, Status.TAKEN)


class SimulatedVehicleTest(unittest.TestCase):
    """The simulated vehicle answers orders and instant actions as the standard asks."""

    def setUp(self):
        self.site = parse_site(site_data(GRID))
        self.vehicle = SimVehicle(1, self.site, 0, 4.0, frozenset({frozenset(("n1", "n2"))}))

    def order(self, order_id: str, nodes: list[str], update: int = 0, released: bool = True, first_seq: int = 0) -> dict:
        data = {"orderId": order_id, "orderUpdateId": update,
                "nodes": [{"nodeId": n, "sequenceId": first_seq + 2 * i, "released": released or i == 0,
                           "nodePosition": {"x": GRID[int(n[1:])][0], "y": GRID[int(n[1:])][1], "mapId": "test-map"}}
                          for i, n in enumerate(nodes)],
                "edges": [{"edgeId": f"{a}-{b}", "sequenceId": first_seq + 2 * i + 1, "released": released}
                          for i, (a, b) in enumerate(zip(nodes, nodes[1:]))]}
        return data

    def error_type(self) -> str | None:
        return self.vehicle.errors[0]["errorType"] if self.vehicle.errors else None

    def test_orders_refused_as_the_standard_asks(self):
        v = self.vehicle
        for data, expected in ((["x"], "validationError"), (self.order("a", ["n0"]) | {"edges": [{}]}, "validationError"),
                               (self.order("a", ["n4", "n5"]), "orderError"), (self.order("a", ["n0", "n1", "n2"]), "noRouteError")):
            v.take_order(data if isinstance(data, dict) else {"orderId": 1})
            self.assertEqual(self.error_type(), expected)
        self.assertEqual(v.order_id, "")
        v.take_order(self.order("b", ["n0", "n1"]))
        self.assertEqual((v.order_id, v.errors, v.driving), ("b", [], True))
        v.take_order(self.order("c", ["n1", "n5"]))
        self.assertEqual(self.error_type(), "orderError")  # still driving b
        v.drive(0.5)
        self.assertEqual((v.x, v.last_node), (2.0, "n0"))
        v.drive(1.0)
        self.assertEqual((v.last_node, v.driving, v.nodes), ("n1", False, []))
        state = v.state()
        self.assertEqual((state["lastNodeId"], state["lastNodeSequenceId"], state["orderId"]), ("n1", 2, "b"))

    def test_held_orders_updates_and_cancelling(self):
        v = self.vehicle
        v.take_order(self.order("h", ["n0", "n1"], released=False))
        self.assertEqual((v.order_id, v.driving), ("h", False))
        v.take_order(self.order("h", ["n0", "n1"], released=False))  # the same again: ignored
        v.take_order(self.order("h", ["n4", "n5"], update=1))
        self.assertEqual(self.error_type(), "orderUpdateError")
        v.take_order(self.order("h", ["n0", "n1"], update=1))
        self.assertTrue(v.driving)
        v.take_order(self.order("h", ["n0", "n1"], update=0))
        self.assertEqual(self.error_type(), "orderUpdateError")
        v.instant({"actions": [{"actionType": "cancelOrder", "actionId": "c1", "blockingType": "NONE"}]})
        self.assertTrue(v.cancelling)
        v.drive(5.0)
        self.assertEqual((v.last_node, v.nodes, v.cancelling), ("n1", [], False))
        v.instant({"actions": [{"actionName": "cancelOrder", "actionId": "c2", "blockingType": "NONE"}]})
        self.assertEqual(self.error_type(), "noOrderToCancel")
        self.assertEqual([a["actionStatus"] for a in v.actions], ["FINISHED", "FAILED"])
        v.take_order(self.order("k", ["n1", "n2"], released=False))
        self.assertEqual(self.error_type(), "noRouteError")
        v.take_order(self.order("k", ["n1", "n5"], released=False))
        v.take_order(self.order("m", ["n1", "n0"]))  # a new order replaces a held one
        self.assertEqual((v.order_id, v.driving), ("m", True))
        v.drive(5.0)
        v.take_order(self.order("n", ["n0", "n4"], released=False))
        v.instant({"actions": [{"actionType": "cancelOrder", "actionId": "c3", "blockingType": "NONE"}]})
        self.assertEqual((v.nodes, v.driving), ([], False))
