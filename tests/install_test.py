"""The whole product as it is installed, checked in scratch folders (no root, no container):

- `cmake --install` of the build into a prefix;
- the Debian packages that cpack makes of the same build, unpacked with `dpkg -x` into a root;
- the host package installed with pip, offline, into a fresh virtual environment.

In the first two the installed `mova-host` explains an installed example against the installed
`mova` and serves the workbench from the installed package; the documentation's relative links
resolve inside the installed tree; the man page is compressed.

Run by CTest with MOVA_BUILD_DIR naming the build folder. When a part cannot run for want of a
tool, the test exits 77 (CTest: skipped) after saying why; under CI (CI set) that is a failure.
"""

from __future__ import annotations

import http.client
import io
import json
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
PYTHON = sys.executable  # the build's interpreter (MOVA_PYTHON), which the launcher names
HOST_PACKAGE = "python3-mova-host"
PYTHON_DIR = Path("lib/python3/dist-packages")
DOC_DIR = Path("share/doc/mova")
EXAMPLE = "siding.json"  # explained by the installed client
LINTIAN_MISSING = "lintian is not installed"
FENCE = re.compile(r"^(```|~~~).*?^\1", re.M | re.S)

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)|^\[[^\]]+\]:\s*(\S+)|<(?:img|a)\s[^>]*?(?:src|href)=\"([^\"]+)\"",
                  re.M)


def run(command: list[str], **options) -> subprocess.CompletedProcess[str]:
    options.setdefault("timeout", 300)
    done = subprocess.run(command, capture_output=True, text=True, **options)
    if done.returncode != 0:
        raise AssertionError(f"{' '.join(map(str, command))} failed ({done.returncode}):\n{done.stdout}\n{done.stderr}")
    return done


def files_under(folder: Path) -> set[str]:
    """The files of a folder, relative to it, without Python's caches."""
    return {p.relative_to(folder).as_posix() for p in folder.rglob("*")
            if p.is_file() and "__pycache__" not in p.parts and p.suffix not in (".pyc", ".pyo")}


def without_code(markdown: str) -> str:
    """Markdown without fenced blocks and code spans, where brackets are not links."""
    return re.sub(r"`[^`\n]*`", "", FENCE.sub("", markdown))


def anchors(markdown: str) -> set[str]:
    """The anchors of a Markdown file's headings, as the usual renderers make them."""
    found: set[str] = set()
    for heading in re.findall(r"^#{1,6}\s+(.+?)\s*#*$", FENCE.sub("", markdown), re.M):
        slug = re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")
        anchor, number = slug, 0
        while anchor in found:
            number += 1
            anchor = f"{slug}-{number}"
        found.add(anchor)
    return found


def broken_links(folder: Path) -> tuple[int, list[str]]:
    """The number of relative links in the Markdown files of a folder, and those that do not
    resolve inside it (a missing file, or a missing heading for a #fragment)."""
    checked, broken = 0, []
    for document in sorted(folder.rglob("*.md")):
        for match in LINK.finditer(without_code(document.read_text())):
            target = next(group for group in match.groups() if group)
            if re.match(r"[a-z][a-z0-9+.-]*:", target, re.I):
                continue  # http:, mailto: ...
            checked += 1
            path, _, fragment = target.partition("#")
            resolved = (document.parent / path).resolve() if path else document
            where = f"{document.relative_to(folder)}: {target}"
            if not resolved.is_relative_to(folder.resolve()) or not resolved.exists():
                broken.append(f"{where} (no such file in the installed tree)")
            elif fragment and resolved.suffix == ".md" and fragment not in anchors(resolved.read_text()):
                broken.append(f"{where} (no such heading)")
    return checked, broken


def plain_environment(bin_dir: Path) -> dict[str, str]:
    """The environment of a user with the installation's bin/ first on the PATH: no
    MOVA_BINARY, no PYTHONPATH."""
    environment = {k: v for k, v in os.environ.items() if k not in ("MOVA_BINARY", "PYTHONPATH")}
    environment["PATH"] = f"{bin_dir}{os.pathsep}{environment.get('PATH', '')}"
    return environment


class InstalledTree:
    """Checks of an installed tree under `prefix` (a prefix of cmake --install, or usr/ of an
    unpacked root), shared by the test cases below."""

    prefix: Path
    work: Path

    def test_the_controller_and_its_compressed_man_page(self):
        mova = self.prefix / "bin" / "mova"
        self.assertTrue(os.access(mova, os.X_OK))
        self.assertEqual(run([str(mova)], input="MOVA_GENERATION\n", cwd=self.work).stdout, "2024\n")
        page = self.prefix / "share/man/man1/mova.1.gz"
        self.assertFalse((self.prefix / "share/man/man1/mova.1").exists())
        header = page.read_bytes()[:10]
        self.assertEqual(header[:3], b"\x1f\x8b\x08")  # gzip, deflate
        self.assertEqual(header[3] & 0x08, 0, "the original name is stored (gzip -n)")
        self.assertEqual(int.from_bytes(header[4:8], "little"), 0, "a time stamp is stored (gzip -n)")
        self.assertEqual(header[8], 2, "not compressed at the highest level (gzip -9)")
        text = run(["gzip", "-dc", str(page)]).stdout
        self.assertIn(f'"mova {VERSION}"', text.splitlines()[0])
        self.assertNotIn("pip install", text)

    def test_the_man_page_renders_without_a_warning(self):
        if not shutil.which("groff"):
            self.skipTest("the man page was not rendered: groff is not installed (Debian package groff-base)")
        text = run(["gzip", "-dc", str(self.prefix / "share/man/man1/mova.1.gz")]).stdout
        rendered = run(["groff", "-man", "-Tutf8", "-ww"], input=text)
        self.assertEqual(rendered.stderr, "")
        self.assertIn("EXIT STATUS", re.sub(".\b", "", rendered.stdout))  # no overstrike

    def test_the_documentation_and_the_examples_as_in_the_source_tree(self):
        docs = self.prefix / DOC_DIR
        for name in ("README.md", "CHANGELOG.md", "LICENSE", "NOTICE", "copyright", "host/README.md"):
            self.assertTrue((docs / name).is_file(), name)
        self.assertEqual((docs / "LICENSE").read_text(), (ROOT / "LICENSE").read_text())
        source_docs = {name for name in files_under(ROOT / "docs") if not name.endswith(".in")}
        self.assertEqual(files_under(docs / "docs"), source_docs)
        self.assertEqual(files_under(docs / "examples"), files_under(ROOT / "examples"))

    def test_every_relative_link_of_the_installed_documentation_resolves(self):
        checked, broken = broken_links(self.prefix / DOC_DIR)
        self.assertGreater(checked, 10)  # the README's links were found
        self.assertEqual(broken, [])

    def test_the_whole_host_package_with_its_metadata(self):
        packages = self.prefix / PYTHON_DIR
        self.assertEqual(files_under(packages / "mova_host"), files_under(ROOT / "host" / "mova_host"))
        metadata = (packages / f"mova_host-{VERSION}.dist-info" / "METADATA").read_text()
        self.assertIn("Name: mova-host\n", metadata)
        self.assertIn(f"Version: {VERSION}\n", metadata)
        self.assertTrue(os.access(self.prefix / "bin" / "mova-host", os.X_OK))
        self.assertEqual((self.prefix / "bin/mova-host").read_text().splitlines()[0], f"#!{PYTHON}")

    def test_the_installed_client_explains_an_installed_example_with_the_installed_controller(self):
        environment = plain_environment(self.prefix / "bin")
        outside = subprocess.run([PYTHON, "-c", "import mova_host"], cwd=self.work, env=environment,
                                 capture_output=True)
        self.assertNotEqual(outside.returncode, 0, "mova_host is importable without the installation: "
                            "the test cannot tell which package runs")
        command = str(self.prefix / "bin" / "mova-host")
        shown = run([command, "--version"], cwd=self.work, env=environment).stdout.splitlines()
        self.assertEqual(shown[0], f"mova-host {VERSION}")
        mova = re.escape(str((self.prefix / "bin" / "mova").resolve()))
        self.assertRegex(shown[1], f"^controller: {mova}, build [0-9a-f]{{40}}$")

        example = self.prefix / DOC_DIR / "examples" / "scenarios" / EXAMPLE
        expected = json.loads(example.read_text())["expect"]
        explained = json.loads(run([command, "explain", "--json", str(example)], cwd=self.work,
                                   env=environment).stdout)
        for key in ("answer", "steps", "optimal_steps", "category"):
            self.assertEqual(explained[key], expected[key], key)
        text = run([command, "explain", str(example)], cwd=self.work, env=environment).stdout
        self.assertIn(f"category: {expected['category']}", text)

    def test_the_installed_workbench_serves_its_page(self):
        server = subprocess.Popen([str(self.prefix / "bin" / "mova-host"), "serve", "--port", "0"],
                                  cwd=self.work, env=plain_environment(self.prefix / "bin"),
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            port = int(re.search(r"http://127\.0\.0\.1:(\d+)/", server.stdout.readline()).group(1))
            static = sorted(files_under(self.prefix / PYTHON_DIR / "mova_host" / "web"))
            self.assertIn("app.js", static)
            for path in ["/"] + [f"/static/{name}" for name in static if name != "index.html"]:
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
                connection.request("GET", path)
                self.assertEqual(connection.getresponse().status, 200, path)
                connection.close()
        finally:
            server.terminate()
            server.wait(10)
            server.stdout.close()


def setUpModule():
    if not (BUILD / "mova").is_file():
        raise unittest.SkipTest(f"no build in {BUILD}")


class CMakeInstallTest(InstalledTree, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix="mova-install-")
        cls.prefix = Path(cls.folder.name) / "prefix"
        cls.work = Path(cls.folder.name) / "work"
        cls.work.mkdir()
        run(["cmake", "--install", str(BUILD), "--prefix", str(cls.prefix)])

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()


class DebianPackagesTest(InstalledTree, unittest.TestCase):
    """The packages as `cpack` makes them, unpacked with `dpkg -x` into a scratch root."""

    @classmethod
    def setUpClass(cls):
        missing = [tool for tool in ("dpkg", "dpkg-deb", "dpkg-shlibdeps") if not shutil.which(tool)]
        if missing:
            raise unittest.SkipTest(f"the Debian packages were not made: {', '.join(missing)} not "
                                    "installed (Debian package dpkg-dev)")
        cls.folder = tempfile.TemporaryDirectory(prefix="mova-debian-")
        folder = Path(cls.folder.name)
        run(["cpack", "-G", "DEB", "--config", str(BUILD / "CPackConfig.cmake"), "-B", str(folder / "packages")])
        cls.packages = {run(["dpkg-deb", "-f", str(deb), "Package"]).stdout.strip(): deb
                        for deb in (folder / "packages").glob("*.deb")}
        cls.root = folder / "root"
        for deb in cls.packages.values():
            run(["dpkg", "-x", str(deb), str(cls.root)])
        cls.prefix = cls.root / "usr"
        cls.work = folder / "work"
        cls.work.mkdir()

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def field(self, package: str, name: str) -> str:
        return run(["dpkg-deb", "-f", str(self.packages[package]), name]).stdout.strip()

    def test_two_packages_named_and_versioned_with_their_maintainer_and_dependencies(self):
        self.assertEqual(sorted(self.packages), ["mova", HOST_PACKAGE])
        architecture = run(["dpkg", "--print-architecture"]).stdout.strip()
        self.assertEqual(self.packages["mova"].name, f"mova_{VERSION}_{architecture}.deb")
        self.assertEqual(self.packages[HOST_PACKAGE].name, f"{HOST_PACKAGE}_{VERSION}_all.deb")
        maintainer = self.field("mova", "Maintainer")
        self.assertRegex(maintainer, r"^[^<>]+ <[^@<>\s]+@[^@<>\s]+\.[a-z]+>$")
        self.assertIn(f"Upstream-Contact: {maintainer}\n", (ROOT / "packaging/copyright").read_text())
        metadata = (self.prefix / PYTHON_DIR / f"mova_host-{VERSION}.dist-info" / "METADATA").read_text()
        self.assertIn(f"Author-email: {maintainer}\n", metadata)
        for package in self.packages:
            self.assertEqual(self.field(package, "Version"), VERSION)
            self.assertEqual(self.field(package, "Maintainer"), maintainer)
        self.assertIn("libc6", self.field("mova", "Depends"))  # from dpkg-shlibdeps
        self.assertEqual(self.field("mova", "Recommends"), HOST_PACKAGE)
        self.assertEqual(self.field(HOST_PACKAGE, "Architecture"), "all")
        self.assertEqual(self.field(HOST_PACKAGE, "Depends"), f"python3 (>= 3.11), mova (= {VERSION})")

    def test_no_file_in_both_packages_and_every_file_owned_by_root(self):
        seen: dict[str, str] = {}
        for package, deb in self.packages.items():
            for line in run(["dpkg-deb", "-c", str(deb)]).stdout.splitlines():
                mode, owner, *_, path = line.split()
                self.assertEqual(owner, "root/root", line)
                if not mode.startswith("d"):
                    self.assertNotIn(path, seen, f"{path} in {package} and {seen.get(path)}")
                    seen[path] = package
        self.assertIn(f"./usr/share/doc/{HOST_PACKAGE}/copyright", seen)
        self.assertIn("./usr/share/doc/mova/copyright", seen)

    def test_the_host_package_compiles_its_modules_on_installation_and_removes_them_on_removal(self):
        control = Path(self.folder.name) / "control"
        run(["dpkg-deb", "-e", str(self.packages[HOST_PACKAGE]), str(control)])
        for script, tool in (("postinst", "py3compile"), ("prerm", "py3clean")):
            self.assertTrue(os.access(control / script, os.X_OK), script)
            run(["sh", "-n", str(control / script)])
            self.assertIn(f"{tool} -p {HOST_PACKAGE}", (control / script).read_text())

    @unittest.skipUnless(shutil.which("lintian"), LINTIAN_MISSING)
    def test_lintian_finds_no_error(self):
        for deb in self.packages.values():
            done = subprocess.run(["lintian", "--no-tag-display-limit", str(deb)], capture_output=True, text=True)
            self.assertNotRegex(done.stdout, r"(?m)^E: ", done.stdout)


class PipInstallTest(unittest.TestCase):
    """The host package installed with pip, offline, into a virtual environment of its own, with
    the controller of cmake --install on the PATH."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix="mova-pip-")
        cls.root = Path(cls.folder.name)
        cls.prefix = cls.root / "prefix"
        run(["cmake", "--install", str(BUILD), "--prefix", str(cls.prefix), "--component", "controller"])
        # The package is built from a copy, so that the build leaves nothing in the source tree.
        source = cls.root / "src"
        shutil.copytree(ROOT / "host", source / "host",
                        ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info", "tests",
                                                      "browser-tests"))
        shutil.copy(ROOT / "CMakeLists.txt", source / "CMakeLists.txt")
        cls.venv = cls.root / "venv"
        run([PYTHON, "-m", "venv", str(cls.venv)])
        run([str(cls.venv / "bin" / "pip"), "install", "--no-build-isolation", "--no-index", str(source / "host")])
        shutil.rmtree(source)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_a_mission_through_the_client_of_the_virtual_environment(self):
        environment = plain_environment(self.prefix / "bin")
        work = self.root / "work"
        work.mkdir()
        command = str(self.venv / "bin" / "mova-host")
        shown = run([command, "--version"], cwd=work, env=environment).stdout.splitlines()
        self.assertEqual(shown[0], f"mova-host {VERSION}")
        self.assertRegex(shown[1], f"^controller: {re.escape(str(self.prefix / 'bin' / 'mova'))}, build [0-9a-f]{{40}}$")
        where = run([str(self.venv / "bin" / "python"), "-c", "import mova_host; print(mova_host.__file__)"],
                    cwd=work, env=environment).stdout
        self.assertTrue(where.startswith(str(self.venv)), where)
        # The whole package, whatever its package data patterns say.
        self.assertEqual(files_under(Path(where.strip()).parent), files_under(ROOT / "host" / "mova_host"))

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


def main() -> int:
    """Runs the tests; the report is printed in full on a failure. Exit status 77 when all that
    ran passed but a part was skipped for want of a tool (1 under CI); lintian is optional."""
    report = io.StringIO()
    result = unittest.TextTestRunner(stream=report, verbosity=2).run(
        unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__]))
    if not result.wasSuccessful():
        print(report.getvalue())
        return 1
    reasons = sorted({reason for _, reason in result.skipped})
    missing = [reason for reason in reasons if reason != LINTIAN_MISSING]
    for reason in missing:
        print(f"not checked: {reason}")
    print(f"{result.testsRun - len(result.skipped)} installation checks passed"
          + (f" ({LINTIAN_MISSING})" if LINTIAN_MISSING in reasons else ""))
    if not missing:
        return 0
    return 1 if os.environ.get("CI") else 77


if __name__ == "__main__":
    sys.exit(main())
