#!/usr/bin/env python3
"""Branch coverage of the host package (mova_host) by its unittest suite, measured with
python3-coverage (`--branch`), the package's child processes included (`mova-host serve`,
`fleet-sim`, `python3 -m mova_host` started by the tests); fails when the branch coverage is
below the threshold, or when a test fails.

Every process of the run starts measuring from a `sitecustomize` module put first on its path
(which then runs the system's own), so the suite runs as `make test` runs it. The measured
figures: branches (covered branches of all branches), and lines and branches together as
coverage.py counts them. Writes the text report to OUT/coverage.txt and the HTML report to
OUT/html.

Usage: host_coverage.py --binary PATH --out DIR [--fail-under PERCENT]
"""

from __future__ import annotations

import argparse
import importlib.util
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

HOST = Path(__file__).resolve().parents[1]
RC = """\
[run]
branch = True
parallel = True
source_pkgs = mova_host
data_file = {data}

[report]
exclude_lines =
    pragma: no cover
    if __name__ == .__main__.:
"""
SITECUSTOMIZE = """\
import coverage
coverage.process_startup()
# The system's own sitecustomize, which this one stands in front of.
import importlib.machinery as _machinery
import importlib.util as _util
import sys as _sys
_paths = [p for p in _sys.path if not p.startswith({here!r})]
_spec = _machinery.PathFinder.find_spec("sitecustomize", _paths)
if _spec is not None and _spec.loader is not None:
    _spec.loader.exec_module(_util.module_from_spec(_spec))
"""


def run(command: list[str], env: dict[str, str] | None = None) -> int:
    return subprocess.run(command, cwd=HOST, env=env, check=False).returncode


def measure(binary: Path, out: Path) -> int:
    """Runs the suite with every process measured; the suite's exit status."""
    shutil.rmtree(out, ignore_errors=True)
    site = out / "site"
    site.mkdir(parents=True)
    rc = out / "coveragerc"
    rc.write_text(RC.format(data=out / ".coverage"))
    (site / "sitecustomize.py").write_text(SITECUSTOMIZE.format(here=str(site)))
    env = {**os.environ, "MOVA_BINARY": str(binary), "COVERAGE_PROCESS_START": str(rc),
           "PYTHONPATH": os.pathsep.join([str(site), *filter(None, [os.environ.get("PYTHONPATH")])]),
           "PYTHONDONTWRITEBYTECODE": "1"}
    return run([sys.executable, "-m", "unittest", "discover", "-s", "tests", "-t", "tests"], env)


def report(out: Path) -> dict[str, float]:
    rc = str(out / "coveragerc")
    coverage = [sys.executable, "-m", "coverage"]
    if run([*coverage, "combine", "--quiet", f"--rcfile={rc}"]) != 0:
        raise SystemExit("host coverage: no coverage data was written")
    with open(out / "coverage.txt", "w") as text:
        subprocess.run([*coverage, "report", "-m", f"--rcfile={rc}"], cwd=HOST, stdout=text, check=True)
    run([*coverage, "html", "--quiet", f"--rcfile={rc}", "-d", str(out / "html")])
    run([*coverage, "json", "--quiet", f"--rcfile={rc}", "-o", str(out / "coverage.json")])
    totals = json.loads((out / "coverage.json").read_text())["totals"]
    return {"branches": 100.0 * totals["covered_branches"] / max(1, totals["num_branches"]),
            "covered_branches": totals["covered_branches"], "num_branches": totals["num_branches"],
            "lines": 100.0 * totals["covered_lines"] / max(1, totals["num_statements"]),
            "covered_lines": totals["covered_lines"], "num_statements": totals["num_statements"],
            "combined": totals["percent_covered"]}


def main() -> int:
    if importlib.util.find_spec("coverage") is None:
        raise SystemExit(f"host coverage needs coverage.py for {sys.executable} (apt-get install python3-coverage)")
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", required=True, type=Path)
    parser.add_argument("--out", required=True, type=Path)
    parser.add_argument("--fail-under", type=float, default=0.0, help="least branch coverage, percent")
    args = parser.parse_args()
    out = args.out.resolve()
    status = measure(args.binary.resolve(), out)
    figures = report(out)
    print(f"host coverage: branches {figures['branches']:.1f} % ({figures['covered_branches']:,} of "
          f"{figures['num_branches']:,}), lines {figures['lines']:.1f} % ({figures['covered_lines']:,} of "
          f"{figures['num_statements']:,}), both together {figures['combined']:.1f} %; "
          f"report {out / 'coverage.txt'}")
    if status != 0:
        print("host coverage: the suite failed")
        return 1
    if figures["branches"] < args.fail_under:
        print(f"host coverage: branch coverage {figures['branches']:.1f} % is below {args.fail_under:g} %")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
