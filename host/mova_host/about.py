"""The package's release version.

The release version is held once, in the `project(... VERSION ...)` line of the controller's
CMakeLists.txt. An installed package knows it from its metadata (the build read it from that
file); a package run from the source tree reads the file itself. The package's build script
runs this module on its own (without the package), so it imports nothing of the package.
"""

from __future__ import annotations

import re
from importlib import metadata
from pathlib import Path

DISTRIBUTION = "mova-host"
_PROJECT_VERSION = re.compile(r"project\s*\(\s*mova\b[^)]*?\bVERSION\s+([0-9]+\.[0-9]+\.[0-9]+)", re.S)


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
