"""`mova-host --version`: the package's release and the controller's build identifier; and the
name the command line is called by."""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import Any, Sequence

from ..about import DISTRIBUTION, version
from ..process import find_binary

_BUILD_ID = re.compile(r"[0-9a-f]{40}")


def controller_build_id(binary: str | os.PathLike[str], seconds: float = 10.0) -> str:
    """The build identifier the controller prints for MOVA_BUILD_VERSION (40 hexadecimal
    digits). Raises OSError, subprocess.SubprocessError or ValueError when it cannot be had."""
    with tempfile.TemporaryDirectory(prefix="mova-version-") as folder:
        done = subprocess.run([os.fspath(binary)], input=b"MOVA_BUILD_VERSION\n", cwd=folder,
                              capture_output=True, timeout=seconds, check=False)
    line = done.stdout.decode("utf-8", "replace").strip()
    if not _BUILD_ID.fullmatch(line):
        raise ValueError(f"no build identifier in its answer {line!r} (exit status {done.returncode})")
    return line


def version_text(binary: str | os.PathLike[str] | None = None) -> str:
    """Two lines: this package's version; the controller it would run and its build identifier."""
    lines = [f"{DISTRIBUTION} {version()}"]
    try:
        path = find_binary(binary).resolve()
    except FileNotFoundError as missing:
        lines.append(f"controller: none found ({missing})")
        return "\n".join(lines)
    try:
        lines.append(f"controller: {path}, build {controller_build_id(path)}")
    except (OSError, subprocess.SubprocessError, ValueError) as error:
        lines.append(f"controller: {path}, build unknown ({error})")
    return "\n".join(lines)


class VersionAction(argparse.Action):
    """`--version`: prints `version_text()` and exits; the controller is asked only then."""

    def __init__(self, option_strings: Sequence[str], dest: str = argparse.SUPPRESS, **kwargs: Any):
        kwargs.setdefault("help", "show the version and the controller's build identifier, then exit")
        super().__init__(option_strings, dest=dest, nargs=0, default=argparse.SUPPRESS, **kwargs)

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace,
                 values: object, option_string: str | None = None) -> None:
        print(version_text())
        parser.exit()


def program_name() -> str:
    """How the user called the command line: `mova-host`, or `python3 -m mova_host`."""
    name = Path(sys.argv[0]).name if sys.argv and sys.argv[0] else ""
    return "mova-host" if name.startswith("mova-host") else "python3 -m mova_host"
