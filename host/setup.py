"""Build script beside pyproject.toml, which holds the package's metadata.

It adds two things setuptools cannot take from pyproject.toml here:
- the version, read from the controller's CMakeLists.txt (the one place that holds it), or from
  PKG-INFO when building from a source archive;
- a `bdist_wheel` command for machines without the `wheel` package (setuptools of this age
  relies on it to build and install a package, and no package index may be reachable): it packs
  the pure-Python package, its metadata and its entry points into a py3-none-any wheel.
"""

from __future__ import annotations

import base64
import csv
import hashlib
import io
import runpy
import shutil
import tempfile
import zipfile
from pathlib import Path
from types import SimpleNamespace

from setuptools import Command, setup

HERE = Path(__file__).resolve().parent


def _about():
    return SimpleNamespace(**runpy.run_path(str(HERE / "mova_host" / "about.py")))


def _version() -> str:
    found = _about().version_in(HERE.parent / "CMakeLists.txt")
    if found:
        return found
    pkg_info = HERE / "PKG-INFO"
    if pkg_info.is_file():
        for line in pkg_info.read_text().splitlines():
            if line.startswith("Version: "):
                return line.split(": ", 1)[1].strip()
    raise SystemExit("mova-host: no version: build from the source tree (it reads ../CMakeLists.txt)")


class PureWheel(Command):
    """Builds a py3-none-any wheel of this pure-Python package without the `wheel` package."""

    description = "build a wheel of this pure-Python package"
    user_options = [("dist-dir=", "d", "directory to put the wheel in")]

    def initialize_options(self) -> None:
        self.dist_dir: str | None = None

    def finalize_options(self) -> None:
        self.dist_dir = self.dist_dir or "dist"

    def egg2dist(self, egg_info: str, dist_info: str) -> None:
        """Turns the egg-info metadata into dist-info (also used for pip's metadata step)."""
        source, target = Path(egg_info), Path(dist_info)
        if target.exists():
            shutil.rmtree(target)
        target.mkdir(parents=True)
        shutil.copyfile(source / "PKG-INFO", target / "METADATA")
        for name in ("entry_points.txt", "top_level.txt"):
            if (source / name).is_file():
                shutil.copyfile(source / name, target / name)

    def run(self) -> None:
        self.run_command("egg_info")
        self.run_command("build_py")
        egg_info = self.get_finalized_command("egg_info")
        build_lib = Path(self.get_finalized_command("build_py").build_lib)
        name = self.distribution.get_name().replace("-", "_")
        version = self.distribution.get_version()
        dist_info = f"{name}-{version}.dist-info"
        files: dict[str, bytes] = {}
        for path in sorted(build_lib.rglob("*")):
            if path.is_file() and "__pycache__" not in path.parts:
                files[path.relative_to(build_lib).as_posix()] = path.read_bytes()
        with tempfile.TemporaryDirectory() as folder:
            self.egg2dist(egg_info.egg_info, str(Path(folder) / dist_info))
            for path in sorted((Path(folder) / dist_info).iterdir()):
                files[f"{dist_info}/{path.name}"] = path.read_bytes()
        files[f"{dist_info}/WHEEL"] = (
            "Wheel-Version: 1.0\nGenerator: mova-host setup.py\nRoot-Is-Purelib: true\n"
            "Tag: py3-none-any\n"
        ).encode()
        record = io.StringIO()
        writer = csv.writer(record, lineterminator="\n")
        for arcname, data in files.items():
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            writer.writerow([arcname, f"sha256={digest}", len(data)])
        writer.writerow([f"{dist_info}/RECORD", "", ""])
        files[f"{dist_info}/RECORD"] = record.getvalue().encode()
        assert self.dist_dir is not None
        Path(self.dist_dir).mkdir(parents=True, exist_ok=True)
        wheel = Path(self.dist_dir) / f"{name}-{version}-py3-none-any.whl"
        with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as archive:
            for arcname, data in files.items():
                archive.writestr(arcname, data)


def _commands() -> dict[str, type[Command]]:
    try:
        import wheel.bdist_wheel  # noqa: F401  (the real command is there: use it)
    except ImportError:
        try:
            import setuptools.command.bdist_wheel  # noqa: F401  (newer setuptools has its own)
        except ImportError:
            return {"bdist_wheel": PureWheel}
    return {}


setup(version=_version(), cmdclass=_commands())
