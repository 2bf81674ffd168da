"""A zone run end to end: the real controller, a real Mosquitto, the simulated vehicles; the step
order and legality proven from the messages seen on the broker."""

from __future__ import annotations

import json
import os
import signal
import time
from pathlib import Path

import support
from fleet_support import FAST, FleetCase, prove_steps, roads_of, scenario_data, site_data, start_bridge

from mova_host.fleet.site import parse_site
from mova_host.fleet.sim import Simulator

EXAMPLES = Path(__file__).resolve().parents[2] / "examples" / "fleet"
GRID = {p: (4.0 * (p % 4), -5.0 * (p // 4)) for p in range(12)}


class ZoneCase(FleetCase):
    def simulate(self, site: dict, starts: tuple[int, int, int], speed: float = FAST,
                 refuse: tuple[tuple[int, int], ...] = ()) -> Simulator:
        sim = Simulator(parse_site(site), starts, self.broker.url, speed=speed, refuse=refuse).start()
        self.addCleanup(sim.stop)
        return sim

    def example(self) -> tuple[dict, dict]:
        return (json.loads((EXAMPLES / "zone.json").read_text()), json.loads((EXAMPLES / "site.json").read_text()))

    def example_site(self) -> dict:
        """The example's nodes under the test's node names."""
        site = json.loads((EXAMPLES / "site.json").read_text())
        return site_data({p["position"]: (p["x"], p["y"]) for p in site["positions"]})

    def finish(self, run, status: int = 0) -> list[dict]:
        self.assertEqual(run.wait(), status, run.out.lines[-8:])
        self.recorder.stop()
        return run.out.events()

    def positions(self, sim: Simulator) -> tuple[int, ...]:
        return tuple(sim.site.position_of(v.last_node) for v in sim.vehicles.values())


class MissionTest(ZoneCase):
    def test_mission_reaches_the_goals_in_proven_steps(self):
        scenario, _ = self.example()
        site = self.example_site()
        sim = self.simulate(site, tuple(scenario["vehicles"][v]["start"] for v in range(3)))
        run = self.bridge(*self.zone(scenario, site))
        events = self.finish(run)
        goals = tuple(v["goal"] for v in scenario["vehicles"])
        self.assertEqual(self.positions(sim), goals)
        self.assertEqual(events[-1]["event"], "done")
        history = prove_steps(self.recorder.records, site, roads_of(scenario), tuple(events[1]["positions"]), [])
        plan = next(e for e in events if e["event"] == "plan")["steps"]
        self.assertEqual([list(p) for p in history], plan)
        # The two vehicles that swap over the two-lane road got held orders first.
        held = [r for r in self.recorder.of("order") if not r.data["edges"][0]["released"]]
        self.assertEqual(len(held), 2)
        self.assert_valid_messages()
        # Every order went to a vehicle that moves in its step; instant actions were state requests.
        moves = sum(1 for a, b in zip(plan, plan[1:]) for v in range(3) if a[v] != b[v])
        released = {(r.data["orderId"], r.data["orderUpdateId"]) for r in self.recorder.of("order")}
        self.assertEqual(len({o for o, _ in released}), moves)

    def test_vehicles_start_where_they_stand_not_where_the_scenario_says(self):
        scenario, _ = self.example()
        site = self.example_site()
        sim = self.simulate(site, (4, 3, 5))
        events = self.finish(self.bridge(*self.zone(scenario, site)))
        differs = [e for e in events if e["event"] == "start-differs"]
        self.assertEqual([(e["vehicle"], e["scenario"], e["actual"]) for e in differs], [(1, 0, 4)])
        self.assertEqual(self.positions(sim), (3, 0, 7))


class BlockedRoadTest(ZoneCase):
    def test_refused_road_is_planned_around(self):
        scenario, _ = self.example()
        site = self.example_site()
        sim = self.simulate(site, (0, 3, 5), refuse=((1, 2),))
        events = self.finish(self.bridge(*self.zone(scenario, site)))
        blocked = [tuple(sorted(e["road"])) for e in events if e["event"] == "blocked"]
        self.assertEqual(blocked, [(1, 2)])
        self.assertEqual(self.positions(sim), (3, 0, 7))
        prove_steps(self.recorder.records, site, roads_of(scenario), (0, 3, 5), [], [(1, 2)])
        refusal = next(i for i, r in enumerate(self.recorder.records) if r.subtopic == "state" and r.data["errors"])
        later = [r.data["edges"][0]["edgeId"] for r in self.recorder.records[refusal:] if r.subtopic == "order"]
        self.assertTrue(later)
        self.assertFalse({"n1-n2", "n2-n1"} & set(later))
        self.assert_valid_messages()

    def test_refused_road_without_a_way_round_ends_with_no_plan(self):
        scenario = scenario_data([("two-lanes", 0, 1), ("two-lanes", 4, 5), ("two-lanes", 8, 9), ("one-lane", 2, 3)],
                                 (0, 4, 8), (1, 4, 8), obstacles=[(2, 3)])
        scenario["settings"] = {"timeout_ms": 2000, "memory_mb": 512}
        site = site_data(GRID)
        self.simulate(site, (0, 4, 8), refuse=((0, 1),))
        events = self.finish(self.bridge(*self.zone(scenario, site)), status=1)
        self.assertEqual(events[-1]["event"], "no-plan")
        self.assertEqual(events[-1]["category"], "obstacles")
        self.assertEqual(sorted(map(sorted, events[-1]["obstacles"])), [[0, 1], [2, 3]])
        refusal = next(i for i, r in enumerate(self.recorder.records) if r.subtopic == "state" and r.data["errors"])
        self.assertEqual([r for r in self.recorder.records[refusal:] if r.subtopic == "order"], [])
        self.assertEqual(len(self.recorder.of("order")), 1)


class FaultTest(ZoneCase):
    SLOW = 10.0

    def test_offline_fatal_and_broken_connection_hold_the_zone(self):
        scenario, _ = self.example()
        site = self.example_site()
        sim = self.simulate(site, (0, 3, 5), speed=3.0)
        run = self.bridge(*self.zone(scenario, site), "--silence-s", "2.5")
        run.out.wait_for("released", step=1)
        windows = []
        for off, on, vehicle, why in (("mute", "unmute", 3, "vehicle 3 offline (no state for"),
                                      ("offline", "online", 3, "vehicle 3 offline (connection OFFLINE)"),
                                      ("fatal", "clear", 3, "vehicle 3 has a FATAL error"),
                                      ("crash", "online", 2, "vehicle 2 offline (connection CONNECTIONBROKEN)")):
            seen = len(run.out.events())
            sim.control(vehicle, off)
            run.out.wait_for("hold", after=seen, within=why)
            begin = time.monotonic()
            time.sleep(0.8)
            end = time.monotonic()
            seen = len(run.out.events())
            sim.control(vehicle, on)
            run.out.wait_for("resume", after=seen)
            windows.append((begin, end))
        self.finish(run)
        self.assertEqual(self.positions(sim), (3, 0, 7))
        for begin, end in windows:
            self.assertEqual([r.data["orderId"] for r in self.recorder.of("order") if begin <= r.at <= end], [])
        states = [r.data["connectionState"] for r in self.recorder.records if r.subtopic == "connection"]
        self.assertIn("CONNECTIONBROKEN", states)
        prove_steps(self.recorder.records, site, roads_of(scenario), (0, 3, 5), [])

    def test_vehicle_stopped_on_its_road_holds_the_next_step(self):
        scenario, _ = self.example()
        site = self.example_site()
        sim = self.simulate(site, (0, 3, 5), speed=2.0)
        run = self.bridge(*self.zone(scenario, site))
        run.out.wait_for("released", step=1)
        deadline = time.monotonic() + 5
        while not any(v.driving for v in sim.vehicles.values()) and time.monotonic() < deadline:
            time.sleep(0.01)
        moving = [v.number for v in sim.vehicles.values() if v.driving]
        self.assertTrue(moving, "a vehicle drives in step 1")
        for v in moving:
            sim.control(v, "halt")
        time.sleep(0.2)
        where = {v: (sim.vehicles[v].x, sim.vehicles[v].y) for v in moving}
        nodes = {(n.x, n.y) for n in sim.site.nodes.values()}
        self.assertTrue(set(where.values()) - nodes, "a vehicle stands between two nodes")
        seen, begin = len(run.out.events()), time.monotonic()
        time.sleep(2.0)
        end = time.monotonic()
        # Standing on its road, it holds the step: nothing more is released, nothing is done.
        self.assertEqual({v: (sim.vehicles[v].x, sim.vehicles[v].y) for v in moving}, where)
        self.assertEqual([r.data["orderId"] for r in self.recorder.of("order") if begin <= r.at <= end], [])
        self.assertFalse([e for e in run.out.events()[seen:] if e["event"] in ("released", "step-done")])
        for v in moving:
            sim.control(v, "go")
        self.finish(run)
        self.assertEqual(self.positions(sim), (3, 0, 7))
        prove_steps(self.recorder.records, site, roads_of(scenario), (0, 3, 5), [])

    def test_vehicle_gone_longer_than_the_wait_ends_the_zone(self):
        scenario, _ = self.example()
        site = self.example_site()
        sim = self.simulate(site, (0, 3, 5), speed=self.SLOW)
        run = start_short(self, scenario, site)
        run.out.wait_for("step-done", step=1)
        sim.control(1, "offline")
        events = self.finish(run, status=4)
        self.assertIn("offline", events[-1]["reason"])

    def test_broker_gone_longer_than_the_wait_ends_the_zone(self):
        scenario, _ = self.example()
        site = self.example_site()
        self.simulate(site, (0, 3, 5), speed=self.SLOW)
        run = start_short(self, scenario, site)
        run.out.wait_for("step-done", step=1)
        self.broker.kill()
        events = self.finish(run, status=4)
        self.assertIn("the broker has been away for more than 1.5 s", events[-1]["reason"])

    def test_broker_killed_and_restarted_mid_mission(self):
        scenario, _ = self.example()
        site = self.example_site()
        sim = self.simulate(site, (0, 3, 5), speed=self.SLOW)
        run = self.bridge(*self.zone(scenario, site))
        run.out.wait_for("step-done", step=2)
        self.broker.kill()
        time.sleep(1.5)
        self.broker.start()
        events = self.finish(run)
        self.assertEqual(self.positions(sim), (3, 0, 7))
        self.assertTrue(any(e["event"] == "broker" and e["connected"] is False for e in events))
        released = [e["order"] for e in events if e["event"] == "released"]
        self.assertEqual(len(released), len(set(released)))
        self.assertEqual([e["step"] for e in events if e["event"] == "step-done"], [1, 2, 3, 4, 5])
        for v in sim.vehicles.values():  # no order taken twice, none skipped: each ends on its goal
            self.assertEqual(len(v.taken), len(set(v.taken)))
        plan = next(e for e in events if e["event"] == "plan")["steps"]
        for v in sim.vehicles.values():
            path = [step[v.number - 1] for step in plan]
            moves = sum(1 for a, b in zip(path, path[1:]) if a != b)
            self.assertEqual(len({o for o, _ in v.taken}), moves)

    def test_controller_killed_mid_mission_is_restarted_and_replans(self):
        scenario, _ = self.example()
        site = self.example_site()
        sim = self.simulate(site, (0, 3, 5), speed=self.SLOW)
        run = self.bridge(*self.zone(scenario, site))
        run.out.wait_for("step-done", step=1)
        children = controller_children()
        self.assertEqual(len(children), 1)
        os.kill(children[0], signal.SIGKILL)
        events = self.finish(run)
        self.assertEqual(self.positions(sim), (3, 0, 7))
        kinds = [e["event"] for e in events]
        self.assertIn("controller-restarted", kinds)
        self.assertEqual(kinds.count("plan"), 2)
        prove_steps(self.recorder.records, site, roads_of(scenario), (0, 3, 5), [])

    def test_malformed_and_foreign_messages_are_ignored(self):
        scenario, _ = self.example()
        site = self.example_site()
        sim = self.simulate(site, (0, 3, 5), speed=self.SLOW)
        run = self.bridge(*self.zone(scenario, site))
        run.out.wait_for("step-done", step=1)
        link = self.recorder.link
        topic = "uagv/v2/Test/T-1/state"
        link.publish(topic, b"{not json")
        link.publish(topic, json.dumps({"headerId": 1, "manufacturer": "Test", "serialNumber": "T-1",
                                        "version": "2.0.0"}).encode())
        foreign = sim.vehicles[1].state()
        foreign["serialNumber"] = "T-9"
        link.publish(topic, json.dumps(foreign).encode())
        link.publish("uagv/v2/Test/T-1/connection", b"[]")
        link.publish("uagv/v2/Other/X-1/state", b"{}")
        events = self.finish(run)
        reasons = [e["reason"] for e in events if e["event"] == "ignored"]
        self.assertEqual(len(reasons), 4, reasons)
        self.assertTrue(any("names another vehicle" in r for r in reasons))
        self.assertEqual(self.positions(sim), (3, 0, 7))


def start_short(case: ZoneCase, scenario: dict, site: dict):
    paths = case.zone(scenario, site)
    return start_bridge([paths[0], "--site", paths[1], "--broker", case.broker.url, "--binary",
                         str(support.binary()), "--wait-s", "1.5"])


def controller_children() -> list[int]:
    """The controller processes this test process started."""
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            stat = (entry / "stat").read_text()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        if ppid == os.getpid() and name == "mova":
            found.append(int(entry.name))
    return found
