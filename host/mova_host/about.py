"""The package's release version and the controller's build identifier (`mova-host --version`).

The release version is held once, in the `project(... VERSION ...)` line of the controller's
CMakeLists.txt. An installed package knows it from its metadata (the build read it from that
file); a package run from the source tree reads the file itself.
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import tempfile
from importlib import metadata
from pathlib import Path
from typing import Any, Sequence

DISTRIBUTION = "mova-host"
_PROJECT_VERSION = re.compile(r"project\s*\(\s*mova\b[^)]*?\bVERSION\s+([0-9]+\.[0-9]+\.[0-9]+)", re.S)
_BUILD_ID = re.compile(r"[0-9a-f]{40}")


def version_in(cmake_lists: Path) -> str | None:
    """The version of the `project(mova VERSION x.y.z ...)` line of a CMakeLists.txt, if any."""
    try:
        found = _PROJECT_VERSION.search(cmake_lists.read_text())
    except OSError:
        return None
    return found.group(1) if found else None


def source_tree_cmake_lists() -> Path:
    """Where the controller's CMakeLists.txt lies when this package runs from the source tree."""
    return Path(__file__).resolve().parents[2] / "CMakeLists.txt"


def version() -> str:
    from_source = version_in(source_tree_cmake_lists())
    if from_source:
        return from_source
    try:
        return metadata.version(DISTRIBUTION)
    except metadata.PackageNotFoundError:
        return "unknown"


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
    from .client import find_binary

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
