"""Load test of the fleet bridge: many zones, one broker, one bridge process per zone.

    PYTHONPATH=host /usr/bin/python3 host/bench/fleet_load.py [--zones 50] [--speed 2] [--binary build/mova]

Every zone runs the example mission (examples/fleet/zone.json) with three simulated vehicles of
its own (a `mova-host fleet-sim` process per zone) and a `mova-host fleet` process; all of them
meet on one local Mosquitto. A recorder subscribed to every topic counts the messages. Printed:
missions done, the run's length, messages per second through the broker, the CPU time and the
peak memory of the bridges (with their controllers), of the simulators and of the broker, and
the bridge's own time per step (release to release, minus the driving) over all zones.
"""

from __future__ import annotations

import argparse
import json
import queue
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from mova_host.fleet.broker import LocalBroker
from mova_host.fleet.link import Incoming, Link

ROOT = Path(__file__).resolve().parents[2]
TICKS = 100  # clock ticks per second of /proc/PID/stat


def proc_figures(pid: int) -> tuple[float, int] | None:
    """(CPU seconds, peak resident kB) of a running process."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
        status = Path(f"/proc/{pid}/status").read_text()
    except OSError:
        return None
    fields = stat[stat.rindex(")") + 2:].split()
    cpu = (int(fields[11]) + int(fields[12])) / TICKS
    peak = next((int(line.split()[1]) for line in status.splitlines() if line.startswith("VmHWM:")), 0)
    return cpu, peak


def parents() -> dict[int, int]:
    """The parent of every process."""
    found = {}
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                stat = (entry / "stat").read_text()
            except OSError:
                continue
            found[int(entry.name)] = int(stat[stat.rindex(")") + 2:].split()[1])
    return found


def zone_files(folder: Path, zone: int) -> tuple[str, str]:
    site = json.loads((ROOT / "examples" / "fleet" / "site.json").read_text())
    site["map"] = f"hall-{zone}"
    for v in site["vehicles"]:
        v["manufacturer"], v["serial"] = "Load", f"Z{zone:03d}-AGV-{v['vehicle']}"
    path = folder / f"site-{zone}.json"
    path.write_text(json.dumps(site))
    return str(ROOT / "examples" / "fleet" / "zone.json"), str(path)


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--zones", type=int, default=50)
    parser.add_argument("--speed", default="2")
    parser.add_argument("--binary", default=str(ROOT / "build" / "mova"))
    args = parser.parse_args()
    folder = Path(tempfile.mkdtemp(prefix="fleet-load-"))
    with LocalBroker(log=folder / "mosquitto.log") as broker:
        events: queue.Queue[object] = queue.Queue()
        recorder = Link(broker.url, "load-recorder", events, subscriptions=(("#", 0),))
        recorder.start()
        recorder.wait_connected(5)
        python = [sys.executable, "-m", "mova_host"]
        sims, bridges, figures = [], [], {}
        for zone in range(args.zones):
            scenario, site = zone_files(folder, zone)
            sims.append(subprocess.Popen([*python, "fleet-sim", scenario, "--site", site, "--broker", broker.url,
                                          "--speed", args.speed], stdout=subprocess.DEVNULL, cwd=ROOT / "host"))
        time.sleep(2)
        start = time.monotonic()
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        for zone in range(args.zones):
            scenario, site = zone_files(folder, zone)
            out = open(folder / f"bridge-{zone}.jsonl", "w")
            bridges.append(subprocess.Popen([*python, "fleet", scenario, "--site", site, "--broker", broker.url,
                                             "--binary", args.binary, "--json", "--wait-s", "60"], stdout=out,
                                            cwd=ROOT / "host"))
        count = 0
        while any(b.poll() is None for b in bridges):
            watched = [("bridge", b.pid) for b in bridges] + [("sim", p.pid) for p in sims]
            bridge_pids = {b.pid for b in bridges}
            watched += [("controller", c) for c, parent in parents().items() if parent in bridge_pids]
            watched += [("broker", broker.process.pid)] if broker.process is not None else []
            for role, pid in watched:
                found = proc_figures(pid)
                if found is not None:
                    figures[(role, pid)] = found
            time.sleep(0.5)
            while True:
                try:
                    count += isinstance(events.get_nowait(), Incoming)
                except queue.Empty:
                    break
        seconds = time.monotonic() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)  # the bridges and their controllers, reaped
        figures[("reaped", 0)] = (after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime, 0)
        while True:
            try:
                count += isinstance(events.get_nowait(), Incoming)
            except queue.Empty:
                break
        for process in sims:
            process.terminate()
        for process in sims:
            process.wait(10)
        recorder.stop()
    report(args.zones, folder, bridges, sims, figures, count, seconds)
    return 0


def report(zones: int, folder: Path, bridges: list, sims: list, figures: dict,
           count: int, seconds: float) -> None:
    done = sum(1 for b in bridges if b.returncode == 0)
    steps, bridge_ms = 0, []
    for zone in range(zones):
        lines = [json.loads(x) for x in (folder / f"bridge-{zone}.jsonl").read_text().splitlines() if x]
        last = lines[-1] if lines else {}
        if last.get("event") == "done":
            steps += last["steps"]
            bridge_ms += last["bridge_ms"]

    def group(role: str) -> tuple[float, list[int]]:
        own = [v for (r, _), v in figures.items() if r == role]
        return sum(c for c, _ in own), [m for _, m in own] or [0]

    bridge_cpu, bridge_mem = group("bridge")
    mova_cpu, mova_mem = group("controller")
    sim_cpu, sim_mem = group("sim")
    broker_cpu, broker_mem = group("broker")
    reaped = figures[("reaped", 0)][0]
    print(f"zones {zones}, missions done {done}/{zones}, steps {steps}, run {seconds:.1f} s")
    print(f"messages through the broker: {count} ({count / seconds:.0f} per second)")
    print(f"CPU seconds: bridges with their controllers {reaped:.1f} (sampled: bridges {bridge_cpu:.1f}, "
          f"controllers {mova_cpu:.1f}), simulators {sim_cpu:.1f}, "
          f"broker {broker_cpu:.1f} (the machine had {2 * seconds:.0f} core-seconds)")
    print(f"peak memory (MB): a bridge {statistics.median(bridge_mem) / 1024:.1f} median, {max(bridge_mem) / 1024:.1f} max; "
          f"a controller {statistics.median(mova_mem) / 1024:.1f}; a simulator {statistics.median(sim_mem) / 1024:.1f}; "
          f"the broker {max(broker_mem) / 1024:.1f}")
    if bridge_ms:
        ordered = sorted(bridge_ms)
        print(f"bridge's own time per step (ms): median {statistics.median(ordered):.1f}, "
              f"p95 {ordered[int(0.95 * (len(ordered) - 1))]:.1f}, max {ordered[-1]:.1f} over {len(ordered)} steps")


if __name__ == "__main__":
    sys.exit(main())
