"""Writes what an installation of the host package holds besides its source folder, from the
package's own metadata (host/pyproject.toml) and the release version:

- `packages/<name>-<version>.dist-info/` with METADATA, entry_points.txt and top_level.txt, so
  that the installed package knows its version (`mova-host --version`) and `pip` sees it as
  installed (there is no RECORD, so pip leaves the files to the system's package manager);
- `bin/<command>`, one launcher per command of `[project.scripts]` (`mova-host`), run by the
  given interpreter. A launcher finds the package relative to its own place
  (bin/../lib/python3/dist-packages), so that an installation works under any prefix and in a
  root unpacked anywhere.

Run by the build:
    host_install.py PYPROJECT VERSION OUTPUT_DIR INTERPRETER PACKAGES_FROM_BIN
"""

from __future__ import annotations

import shutil
import sys
import tomllib
from pathlib import Path

LAUNCHER = '''#!{interpreter}
"""{name}: the command line of the {project} package installed beside this script."""
import sys
from pathlib import Path

_PACKAGES = str((Path(__file__).resolve().parent / "{packages}").resolve())
if _PACKAGES not in sys.path:
    sys.path.insert(1, _PACKAGES)

from {module} import {function}

sys.exit({function}())
'''


def metadata_text(project: dict, version: str) -> str:
    """The core metadata (METADATA) of the distribution."""
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}", f"Version: {version}",
             f"Summary: {project['description']}"]
    for author in project.get("authors", []):
        if "email" in author:
            lines.append(f"Author-email: {author['name']} <{author['email']}>")
        else:
            lines.append(f"Author: {author['name']}")
    if "license" in project:
        lines.append(f"License: {project['license']['text']}")
    lines.append(f"Requires-Python: {project['requires-python']}")
    lines += [f"Classifier: {c}" for c in project.get("classifiers", [])]
    lines += [f"Requires-Dist: {d}" for d in project.get("dependencies", [])]
    return "\n".join(lines) + "\n"


def write(pyproject: Path, version: str, output: Path, interpreter: str, packages_from_bin: str) -> None:
    config = tomllib.loads(pyproject.read_text())
    project = config["project"]
    scripts: dict[str, str] = project.get("scripts", {})
    top_level = sorted({entry.split(":")[0].split(".")[0] for entry in scripts.values()})
    name = project["name"].replace("-", "_")
    packages = output / "packages"
    for stale in packages.glob(f"{name}-*.dist-info"):  # of an earlier version
        shutil.rmtree(stale)
    dist_info = packages / f"{name}-{version}.dist-info"
    dist_info.mkdir(parents=True)
    (dist_info / "METADATA").write_text(metadata_text(project, version))
    (dist_info / "top_level.txt").write_text("".join(f"{name}\n" for name in top_level))
    entries = "".join(f"{name} = {entry}\n" for name, entry in scripts.items())
    (dist_info / "entry_points.txt").write_text(f"[console_scripts]\n{entries}")
    bin_dir = output / "bin"
    bin_dir.mkdir(exist_ok=True)
    for name, entry in scripts.items():
        module, function = entry.split(":")
        launcher = bin_dir / name
        launcher.write_text(LAUNCHER.format(interpreter=interpreter, name=name, project=project["name"],
                                            packages=packages_from_bin, module=module, function=function))
        launcher.chmod(0o755)


def main(arguments: list[str]) -> int:
    if len(arguments) != 5:
        print(f"usage: {__doc__.strip().splitlines()[-1].strip()}", file=sys.stderr)
        return 2
    pyproject, version, output, interpreter, packages = arguments
    write(Path(pyproject), version, Path(output), interpreter, packages)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
