"""The commands `fleet` (the master control of one zone) and `fleet-sim` (three simulated
vehicles), added to the host's command line."""

from __future__ import annotations

import argparse
import json
import signal
import sys
import textwrap
import threading
from typing import Any, TextIO

from .bridge import BAD_INPUT, Bridge
from .core import ScenarioError, load_mission
from .link import PAHO_MISSING, LinkError, paho_available, parse_broker
from .output import Report
from .sim import Simulator
from .site import SiteError, check_fit, load_site

ACTIONS = ("fleet", "fleet-sim")


class UsageError(ValueError):
    """Options that do not fit together."""


def _seconds(text: str) -> float:
    value = float(text)
    if not value > 0:
        raise argparse.ArgumentTypeError(f"{text} is not a positive number of seconds")
    return value


def _road(text: str) -> tuple[int, int]:
    parts = text.split("-")
    if len(parts) != 2 or not all(p.isdigit() for p in parts):
        raise argparse.ArgumentTypeError(f"{text!r}: give a road as two positions, A-B")
    return int(parts[0]), int(parts[1])


_HELP = argparse.RawDescriptionHelpFormatter


def _describe(text: str) -> str:
    return textwrap.fill(text, 78)


_SCENARIO = ("scenario file (JSON) or command stream (read as `mova-host scenario` reads it): the roads, the "
             "goals, obstacles known beforehand, the planner's settings")
_FLEET_EPILOG = """\
examples:
  mova-host fleet examples/fleet/zone.json --site examples/fleet/site.json --broker mqtt://127.0.0.1:1883
  make fleet-demo      (a local broker, three simulated vehicles and the bridge)

exit statuses:
  0  every vehicle stands on its goal
  1  no plan, at the start or after a blocked road; the last line explains why
  2  bad input: a scenario or site file that cannot be used, a bad broker address, a vehicle on a node
     the site does not hold, the MQTT client missing
  3  the controller failed and restarts did not mend it
  4  a fleet failure: the broker or a vehicle gone longer than --wait-s, vehicles not where the plan
     has them, a vehicle that keeps refusing orders (docs/fleet.md tells each)"""
_SIM_EPILOG = """\
examples:
  mova-host fleet-sim examples/fleet/zone.json --site examples/fleet/site.json --broker mqtt://127.0.0.1:1883
  mova-host fleet-sim examples/fleet/zone.json --site examples/fleet/site.json --broker mqtt://127.0.0.1:1883 \\
      --refuse 5-6

exit statuses:
  0  stopped with Ctrl+C or SIGTERM
  2  bad input: a scenario or site file that cannot be used, a bad broker address or road, the MQTT
     client missing"""


def register(sub: Any) -> None:
    """Adds the actions `fleet` and `fleet-sim`."""
    fleet = sub.add_parser("fleet", formatter_class=_HELP, epilog=_FLEET_EPILOG,
                           help="the master control of one zone: vehicles that speak VDA 5050 2.0.0 "
                           "over MQTT follow the controller's plan",
                           description=_describe("Plans with the controller from where the vehicles report they stand, sends "
                           "each moving vehicle its order for each joint step, reports each step to the controller "
                           "and plans again around a road a vehicle finds blocked."))
    fleet.add_argument("file", metavar="SCENARIO", help=_SCENARIO)
    fleet.add_argument("--site", metavar="FILE", required=True, help="site file (JSON): the nodes of the "
                       "positions, the vehicles")
    fleet.add_argument("--broker", metavar="URL", required=True, help="the MQTT broker, mqtt://HOST:PORT (port "
                       "1883 when left out)")
    fleet.add_argument("--binary", metavar="FILE", help="the controller executable (default: $MOVA_BINARY, else "
                       "build/mova of the source tree, else mova on the PATH)")
    fleet.add_argument("--json", action="store_true", help="one JSON object per event and line")
    fleet.add_argument("--wait-s", metavar="SECONDS", type=_seconds, default=60.0, help="seconds to wait for the "
                       "broker and the vehicles' states at the start, and for a vehicle or the broker that went "
                       "away (60)")
    fleet.add_argument("--silence-s", metavar="SECONDS", type=_seconds, default=40.0, help="a vehicle without a "
                       "state for this long counts as offline (40; vehicles publish at least every 30 s)")
    sim = sub.add_parser("fleet-sim", formatter_class=_HELP, epilog=_SIM_EPILOG,
                         help="three simulated vehicles that speak VDA 5050 2.0.0",
                         description=_describe("Three simulated vehicles on the site's nodes that take orders over MQTT and "
                         "drive them, until Ctrl+C or SIGTERM."))
    sim.add_argument("file", metavar="SCENARIO", help=_SCENARIO + "; the vehicles start on its starts")
    sim.add_argument("--site", metavar="FILE", required=True, help="site file (JSON)")
    sim.add_argument("--broker", metavar="URL", required=True, help="the MQTT broker, mqtt://HOST:PORT")
    sim.add_argument("--speed", metavar="M_PER_S", type=_seconds, default=1.0, help="driving speed in m/s (1)")
    sim.add_argument("--refuse", type=_road, action="append", default=[], metavar="A-B",
                     help="refuse every order over the road between positions A and B (repeatable)")
    sim.add_argument("--start", type=int, nargs=3, metavar="P", help="start vehicles 1, 2 and 3 on these "
                     "positions instead")


def dispatch(args: argparse.Namespace, out: TextIO) -> int:
    try:
        if not paho_available():
            raise LinkError(PAHO_MISSING)
        parse_broker(args.broker)
        scenario, read = load_mission(args.file)
        for note in read.notes if read else ():
            print(f"note: {args.file}: {note}", file=sys.stderr)
        site = load_site(args.site)
        check_fit(site, scenario, args.site)
        starts = tuple(args.start) if getattr(args, "start", None) else scenario.starts
        for p in starts:
            if p not in site.nodes:
                raise SiteError("positions", f"position {p} (a start) has no node", args.site)
        if len(set(starts)) < len(starts):
            raise UsageError(f"--start: the vehicles cannot start on one position: {starts}")
    except (ScenarioError, SiteError, LinkError, UsageError) as error:
        print(f"error: {error}", file=sys.stderr)
        if getattr(args, "json", False):
            print(json.dumps({"error": str(error), "status": BAD_INPUT}), file=out)
        return BAD_INPUT
    if args.action == "fleet":
        report = Report(out, args.json)
        return Bridge(scenario, site, args.broker, report, binary=args.binary, wait_s=args.wait_s,
                      silence_s=args.silence_s).run()
    return run_sim(Simulator(site, starts, args.broker, speed=args.speed, refuse=tuple(args.refuse)), out)


def run_sim(sim: Simulator, out: TextIO) -> int:
    """Runs the vehicles until SIGINT or SIGTERM; they leave the broker in order."""
    stop = threading.Event()
    previous = {sig: signal.signal(sig, lambda *_: stop.set()) for sig in (signal.SIGINT, signal.SIGTERM)}
    try:
        sim.start()
        where = ", ".join(f"V{v.number} on {v.position}" for v in sim.vehicles.values())
        print(f"fleet-sim: {where}, broker {sim.broker}", file=out, flush=True)
        stop.wait()
    finally:
        sim.stop()
        for sig, handler in previous.items():
            signal.signal(sig, handler)
    return 0
