#!/usr/bin/env python3
"""Checks the types of the host package with `mypy --strict`.

    check_types.py [CACHE_FOLDER]

Exit status: mypy's own (0 clean, 1 errors found); 77 ("skipped") when mypy is not installed
for this interpreter, unless CI is set, where a missing mypy is a failure (1).
"""

from __future__ import annotations

import importlib.util
import os
import subprocess
import sys
from pathlib import Path

HOST = Path(__file__).resolve().parents[1]


def main(argv: list[str]) -> int:
    if importlib.util.find_spec("mypy") is None:
        ci = bool(os.environ.get("CI"))
        print(f"type check {'cannot run' if ci else 'skipped'}: mypy is not installed for {sys.executable} "
              "(apt-get install mypy)")
        return 1 if ci else 77
    cache = ["--cache-dir", argv[0]] if argv else []
    done = subprocess.run([sys.executable, "-m", "mypy", "--strict", *cache, "mova_host"], cwd=HOST, check=False)
    return done.returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
