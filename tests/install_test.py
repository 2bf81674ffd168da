"""Installs the controller (cmake --install) and the host client (pip, offline, into a fresh
virtual environment) into a temporary folder, checks what lands where, and runs a mission
through the installed `mova-host` with the installed `mova`; also packs the Debian package.

Run by CTest with MOVA_BUILD_DIR naming the build folder."""

from __future__ import annotations

import http.client
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("MOVA_BUILD_DIR", ROOT / "build"))
VERSION = re.search(r"project\(mova VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
DOCS = ["README.md", "CHANGELOG.md", "LICENSE", "NOTICE", "copyright", "docs/protocol.md",
        "docs/reliability.md", "docs/performance.md", "examples/mission.txt"]


def run(command: list[str], **options) -> subprocess.CompletedProcess[str]:
    options.setdefault("timeout", 300)
    done = subprocess.run(command, capture_output=True, text=True, **options)
    if done.returncode != 0:
        raise AssertionError(f"{' '.join(command)} failed ({done.returncode}):\n{done.stdout}\n{done.stderr}")
    return done


class InstallationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not (BUILD / "mova").is_file():
            raise unittest.SkipTest(f"no build in {BUILD}")
        cls.folder = tempfile.TemporaryDirectory(prefix="mova-install-")
        cls.root = Path(cls.folder.name)
        cls.prefix = cls.root / "prefix"
        run(["cmake", "--install", str(BUILD), "--prefix", str(cls.prefix)])

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_the_binary_the_man_page_and_the_documents_are_installed(self):
        mova = self.prefix / "bin" / "mova"
        self.assertTrue(os.access(mova, os.X_OK))
        self.assertEqual(run([str(mova)], input="MOVA_GENERATION\n").stdout, "2024\n")
        page = (self.prefix / "share" / "man" / "man1" / "mova.1").read_text()
        self.assertIn(f'"mova {VERSION}"', page.splitlines()[0])
        if shutil.which("groff"):
            rendered = run(["groff", "-man", "-Tutf8", "-ww", str(self.prefix / "share/man/man1/mova.1")])
            self.assertEqual(rendered.stderr, "")
            self.assertIn("EXIT STATUS", re.sub(".\b", "", rendered.stdout))  # no overstrike
        for name in DOCS:
            installed = self.prefix / "share" / "doc" / "mova" / name
            self.assertTrue(installed.is_file(), name)
        self.assertEqual((self.prefix / "share/doc/mova/LICENSE").read_text(), (ROOT / "LICENSE").read_text())

    def test_a_mission_through_the_installed_host_client_and_controller(self):
        # The package is built from a copy, so that the build leaves nothing in the source tree.
        source = self.root / "src"
        shutil.copytree(ROOT / "host", source / "host",
                        ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info", "tests",
                                                      "browser-tests"))
        shutil.copy(ROOT / "CMakeLists.txt", source / "CMakeLists.txt")
        venv = self.root / "venv"
        run([sys.executable, "-m", "venv", str(venv)])
        run([str(venv / "bin" / "pip"), "install", "--no-build-isolation", "--no-index", str(source / "host")])
        shutil.rmtree(source)

        environment = {k: v for k, v in os.environ.items() if k not in ("MOVA_BINARY", "PYTHONPATH")}
        environment["PATH"] = f"{self.prefix / 'bin'}{os.pathsep}{environment.get('PATH', '')}"
        work = self.root / "work"
        work.mkdir()
        command = str(venv / "bin" / "mova-host")

        shown = run([command, "--version"], cwd=work, env=environment).stdout.splitlines()
        self.assertEqual(shown[0], f"mova-host {VERSION}")
        self.assertRegex(shown[1], f"^controller: {re.escape(str(self.prefix / 'bin' / 'mova'))}, build [0-9a-f]{{40}}$")

        where = run([str(venv / "bin" / "python"), "-c", "import mova_host; print(mova_host.__file__)"],
                    cwd=work, env=environment).stdout
        self.assertTrue(where.startswith(str(venv)), where)

        plan = run([command, "plan", "--road", "two-lanes", "0", "1", "--road", "one-lane", "1", "2",
                    "--road", "two-lanes", "2", "3", "--road", "two-lanes", "3", "0",
                    "--start", "0", "2", "5", "--goal", "2", "0", "5", "--obstacle", "1", "2",
                    "--svg", "plan.svg", "--trace"], cwd=work, env=environment).stdout
        self.assertIn("MOVA_START_MISSION                           | TRUE", plan)
        self.assertIn("OBSTACLES_CONFIRM                            | TRUE", plan)
        tables = re.findall(r"^ +[0-9]+ \| +([0-9]+) \| +([0-9]+) \| +([0-9]+) \|", plan, re.M)
        self.assertEqual(tables[-1], ("2", "0", "5"), plan)  # the plan after the obstacle ends on the goals
        self.assertTrue((work / "plan.svg").is_file() and (work / "plan-2.svg").is_file())

        played = run([command, "run", str(ROOT / "examples" / "mission.txt")], cwd=work, env=environment).stdout
        self.assertRegex(played, r"VEHICLE_GOAL_REACHED +\| TRUE")

        # The workbench serves its page and modules from the installed package.
        server = subprocess.Popen([command, "serve", "--port", "0"], cwd=work, env=environment,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            port = int(re.search(r"http://127\.0\.0\.1:(\d+)/", server.stdout.readline()).group(1))
            for path in ("/", "/static/app.js", "/static/canvas.js", "/static/style.css"):
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
                connection.request("GET", path)
                self.assertEqual(connection.getresponse().status, 200, path)
                connection.close()
        finally:
            server.terminate()
            server.wait(10)
            server.stdout.close()

    @unittest.skipUnless(shutil.which("dpkg-deb"), "dpkg-deb is not installed")
    def test_the_debian_package_holds_the_same_files(self):
        packages = self.root / "packages"
        run(["cpack", "-G", "DEB", "--config", str(BUILD / "CPackConfig.cmake"), "-B", str(packages)])
        package = next(packages.glob("mova_*.deb"))
        self.assertEqual(run(["dpkg-deb", "-f", str(package), "Version"]).stdout.strip(), VERSION)
        listing = run(["dpkg-deb", "-c", str(package)]).stdout
        for path in ["./usr/bin/mova", "./usr/share/man/man1/mova.1"] + [f"./usr/share/doc/mova/{d}" for d in DOCS]:
            self.assertRegex(listing, rf"(?m) {re.escape(path)}$")


if __name__ == "__main__":
    unittest.main()
