"""The fleet demo: a local broker, three simulated vehicles and the bridge on the example zone.

    python3 -m mova_host.fleet.demo [--binary PATH] [--speed M/S] [--refuse A-B]

Starts Mosquitto on a free loopback port with the project's configuration, `mova-host
fleet-sim` in the background (its vehicles find the road 1-2 blocked unless told otherwise) and
`mova-host fleet` in the foreground, whose report shows the zone running; then stops the
vehicles and the broker. Its status is the bridge's.
"""

from __future__ import annotations

import argparse
import subprocess
import sys
from pathlib import Path

from . import cli as fleet_cli
from .broker import MOSQUITTO_MISSING, LocalBroker, mosquitto_binary
from .link import PAHO_MISSING, paho_available

EXAMPLES = Path(__file__).resolve().parents[3] / "examples" / "fleet"


def demo(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="fleet-demo", description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", help="the controller to run")
    parser.add_argument("--speed", default="1.5", help="the vehicles' speed in m/s (1.5)")
    parser.add_argument("--refuse", default="1-2", help="a road the vehicles find blocked (1-2; 'none' for none)")
    args = parser.parse_args(argv)
    for missing, words in ((not paho_available(), PAHO_MISSING), (mosquitto_binary() is None, MOSQUITTO_MISSING)):
        if missing:
            print(f"fleet-demo: {words}", file=sys.stderr)
            return 2
    scenario, site = str(EXAMPLES / "zone.json"), str(EXAMPLES / "site.json")
    refuse = [] if args.refuse == "none" else ["--refuse", args.refuse]
    with LocalBroker() as broker:
        print(f"broker: Mosquitto on {broker.url}")
        sim = subprocess.Popen([sys.executable, "-m", "mova_host", "fleet-sim", scenario, "--site", site,
                                "--broker", broker.url, "--speed", args.speed, *refuse],
                               cwd=Path(__file__).resolve().parents[2])
        try:
            binary = ["--binary", args.binary] if args.binary else []
            print(f"bridge: mova-host fleet {Path(scenario).name} --site {Path(site).name} --broker {broker.url}")
            return _bridge(["fleet", scenario, "--site", site, "--broker", broker.url, "--wait-s", "15", *binary])
        finally:
            sim.terminate()
            sim.wait(10)


def _bridge(argv: list[str]) -> int:
    """`mova-host fleet` with `argv`, in this process."""
    top = argparse.ArgumentParser(prog="mova-host")
    fleet_cli.register(top.add_subparsers(dest="action", required=True))
    return fleet_cli.dispatch(top.parse_args(argv), sys.stdout)


if __name__ == "__main__":
    sys.exit(demo())
