"""The fleet commands' failures and their exit statuses: bad input, no broker, a controller that
cannot be kept alive, a vehicle on a node the site does not hold."""

from __future__ import annotations

import contextlib
import io
import json
import os
import signal
import tempfile
import threading

import support
from fleet_support import FleetCase, scenario_data, site_data, start_bridge

from mova_host.cli import main
from mova_host.fleet import demo
from mova_host.fleet.site import parse_site
from mova_host.fleet.sim import Simulator

GRID = {p: (4.0 * (p % 4), -5.0 * (p // 4)) for p in range(12)}
SCENARIO = scenario_data([("two-lanes", 0, 1), ("two-lanes", 1, 2), ("two-lanes", 4, 5), ("two-lanes", 8, 9)],
                         (0, 4, 8), (2, 4, 8))


class FleetFailureTest(FleetCase):
    def run_fleet(self, *args: str) -> tuple[int, list[dict]]:
        out = io.StringIO()
        status = main(["fleet", *args, "--json"], out=out)
        return status, [json.loads(line) for line in out.getvalue().splitlines()]

    def test_bad_input_names_the_file_and_place(self):
        scenario = self.write("scenario.json", SCENARIO)
        bad = site_data(GRID)
        bad["vehicles"][2]["serial"] = "a/b"
        site = self.write("site.json", bad)
        status, lines = self.run_fleet(scenario, "--site", site, "--broker", self.broker.url)
        self.assertEqual(status, 2)
        self.assertIn("site.json: vehicles[2].serial:", lines[-1]["error"])
        small = self.write("small.json", site_data({p: GRID[p] for p in (0, 1, 4, 5, 8, 9)}))
        status, lines = self.run_fleet(scenario, "--site", small, "--broker", self.broker.url)
        self.assertIn("position 2 (used by the scenario's roads[1]) has no node", lines[-1]["error"])
        status, lines = self.run_fleet(scenario, "--site", small.replace("small", "none"), "--broker", "tcp://x")
        self.assertEqual((status, lines[-1]["status"]), (2, 2))

    def test_no_broker_within_the_wait_is_a_fleet_failure(self):
        scenario, site = self.write("scenario.json", SCENARIO), self.write("site.json", site_data(GRID))
        self.broker.stop()
        status, lines = self.run_fleet(scenario, "--site", site, "--broker", self.broker.url, "--wait-s", "0.5")
        self.assertEqual(status, 4)
        self.assertIn("cannot be reached within 0.5 s", lines[-1]["reason"])

    def test_silent_vehicles_and_unknown_nodes(self):
        scenario, site = self.write("scenario.json", SCENARIO), self.write("site.json", site_data(GRID))
        status, lines = self.run_fleet(scenario, "--site", site, "--broker", self.broker.url, "--wait-s", "0.5")
        self.assertEqual(status, 4)
        self.assertIn("no state of a vehicle standing still", lines[-1]["reason"])
        wider = site_data(GRID)
        self.addCleanup(Simulator(parse_site(wider), (0, 4, 11), self.broker.url).start().stop)
        narrow = self.write("narrow.json", site_data({p: GRID[p] for p in range(11)}))
        status, lines = self.run_fleet(scenario, "--site", narrow, "--broker", self.broker.url, "--wait-s", "5")
        self.assertEqual(status, 2)
        self.assertIn('vehicle 3 (Test T-3) reports the node "n11", which the site does not hold', lines[-1]["reason"])

    def test_a_controller_that_keeps_dying_is_a_controller_failure(self):
        sim = Simulator(parse_site(site_data(GRID)), (0, 4, 8), self.broker.url).start()
        self.addCleanup(sim.stop)
        scenario, site = self.write("scenario.json", SCENARIO), self.write("site.json", site_data(GRID))
        with tempfile.TemporaryDirectory() as folder:
            dying = support.write_script(folder, "import sys\nsys.exit(1)\n")
            run = start_bridge([scenario, "--site", site, "--broker", self.broker.url, "--binary", dying])
            self.assertEqual(run.wait(), 3)
        events = run.out.events()
        self.assertEqual([e["event"] for e in events].count("controller-restarted"), 3)
        self.assertEqual(self.recorder.of("order"), [])

    def test_no_plan_at_the_start_sends_nothing_and_explains(self):
        scenario = self.write("scenario.json", scenario_data([("one-way", 0, 1), ("two-lanes", 4, 5), ("two-lanes", 8, 9)],
                                                             (1, 4, 8), (0, 4, 8)))
        site = self.write("site.json", site_data(GRID))
        sim = Simulator(parse_site(site_data(GRID)), (1, 4, 8), self.broker.url).start()
        self.addCleanup(sim.stop)
        status, lines = self.run_fleet(scenario, "--site", site, "--broker", self.broker.url)
        self.assertEqual((status, lines[-1]["event"], lines[-1]["category"]), (1, "no-plan", "unreachable"))
        self.recorder.stop()
        self.assertEqual(self.recorder.of("order"), [])

    def test_vehicles_already_on_their_goals(self):
        scenario = self.write("scenario.json", scenario_data([("two-lanes", 0, 1)], (0, 4, 8), (0, 4, 8)))
        site = self.write("site.json", site_data(GRID))
        sim = Simulator(parse_site(site_data(GRID)), (0, 4, 8), self.broker.url).start()
        self.addCleanup(sim.stop)
        status, lines = self.run_fleet(scenario, "--site", site, "--broker", self.broker.url)
        self.assertEqual((status, lines[-1]["event"]), (0, "done"))


class CommandTest(FleetCase):
    def test_fleet_sim_runs_until_told_to_stop_and_leaves_in_order(self):
        scenario, site = self.write("scenario.json", SCENARIO), self.write("site.json", site_data(GRID))
        out = io.StringIO()
        stopper = threading.Timer(0.8, os.kill, (os.getpid(), signal.SIGTERM))
        stopper.start()
        status = main(["fleet-sim", scenario, "--site", site, "--broker", self.broker.url, "--refuse", "0-1",
                       "--start", "1", "4", "8"], out=out)
        self.assertEqual(status, 0)
        self.assertIn("fleet-sim: V1 on 1, V2 on 4, V3 on 8", out.getvalue())
        self.recorder.stop()
        states = [r.data["connectionState"] for r in self.recorder.records if r.subtopic == "connection"]
        self.assertEqual(states[-3:], ["OFFLINE"] * 3)
        self.assertGreaterEqual(len(self.recorder.of("state")), 3)

    def test_bad_options(self):
        scenario, site = self.write("scenario.json", SCENARIO), self.write("site.json", site_data(GRID))
        for args in (["fleet-sim", scenario, "--site", site, "--broker", "x", "--refuse", "0:1"],
                     ["fleet", scenario, "--site", site, "--broker", "x", "--wait-s", "0"],
                     ["fleet-sim", scenario, "--site", site, "--broker", self.broker.url, "--start", "0", "4", "4"],
                     ["fleet-sim", scenario, "--site", site, "--broker", self.broker.url, "--start", "0", "4", "12"]):
            with self.subTest(args=args), contextlib.redirect_stderr(io.StringIO()):
                self.assertEqual(main(args, out=io.StringIO()), 2)

    def test_the_demo_runs_the_example_zone_to_the_end(self):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status = demo.demo(["--binary", str(support.binary()), "--speed", "40", "--refuse", "none"])
        self.assertEqual(status, 0, out.getvalue()[-500:])
        text = out.getvalue()
        self.assertIn("sent held: it moves together with the vehicles whose place it takes", text)
        self.assertIn("done: every vehicle on its goal after 5 steps", text)
