"""Prints why each test that CTest skipped was skipped: what the test printed, from CTest's JUnit
results (ctest --output-junit FILE). Prints nothing when no test was skipped.

    skipped_tests.py RESULTS.xml
"""

from __future__ import annotations

import sys
import xml.etree.ElementTree as ElementTree


def reasons(results: str) -> list[tuple[str, str]]:
    """(test name, its output) of each skipped test."""
    try:
        root = ElementTree.parse(results).getroot()
    except (OSError, ElementTree.ParseError):
        return []
    found = []
    for case in root.iter("testcase"):
        if case.find("skipped") is not None:
            output = (case.findtext("system-out") or "").strip()
            found.append((case.get("name", "?"), output or "(it printed nothing)"))
    return found


def main(arguments: list[str]) -> int:
    if len(arguments) != 1:
        print("usage: skipped_tests.py RESULTS.xml", file=sys.stderr)
        return 2
    found = reasons(arguments[0])
    if found:
        print("\nWhy tests were skipped:")
        for name, output in found:
            lines = output.splitlines()
            print(f"  {name}: {lines[0]}")
            for line in lines[1:]:
                print(f"    {line}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
