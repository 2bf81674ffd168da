"""The controller as a child process, with stand-ins that misbehave: where the executable is
found, a child that talks too much on its error stream, one that closes its pipes but stays, one
that does not end when its input does."""

from __future__ import annotations

import os
import tempfile
import time
import unittest
from pathlib import Path
from unittest import mock

from support import temporary_folder, write_script

from mova_host import process
from mova_host.errors import ChildExited
from mova_host.process import ControllerProcess, find_binary


class FindBinaryTest(unittest.TestCase):
    def test_the_project_build_then_the_path(self):
        self.assertEqual(process._project_binary().parts[-2:], ("build", "mova"))
        folder = Path(temporary_folder(self))
        own = Path(write_script(str(folder), "pass\n"))
        on_path = folder / "bin"
        on_path.mkdir()
        (on_path / "mova").write_text("#!/bin/sh\n")
        (on_path / "mova").chmod(0o755)
        environment = {k: v for k, v in os.environ.items() if k != "MOVA_BINARY"}
        with mock.patch.dict(os.environ, environment, clear=True):
            with mock.patch.object(process, "_project_binary", return_value=own):
                self.assertEqual(find_binary(), own)
            with mock.patch.object(process, "_project_binary", return_value=folder / "none"):
                with mock.patch.dict(os.environ, {"PATH": str(on_path)}):
                    self.assertEqual(find_binary(), on_path / "mova")
                with mock.patch.dict(os.environ, {"PATH": str(folder / "empty")}):
                    with self.assertRaisesRegex(FileNotFoundError, r"name one \(--binary\), set MOVA_BINARY"):
                        find_binary()


class MisbehavingChildTest(unittest.TestCase):
    def child(self, text: str, workdir: str | None = None) -> ControllerProcess:
        script = write_script(temporary_folder(self), text)
        child = ControllerProcess(Path(script), workdir)
        self.addCleanup(child.kill)
        return child

    def test_a_long_diagnostic_is_kept_to_its_first_lines(self):
        child = self.child("import sys\nfor n in range(500):\n    sys.stderr.write(f'line {n}\\n')\nsys.exit(4)\n")
        with self.assertRaises(ChildExited) as caught:
            child.read("MOVA_INIT", time.monotonic() + 10, 10)
        self.assertEqual(caught.exception.returncode, 4)
        self.assertIn("line 99\n", caught.exception.stderr)
        self.assertNotIn("line 100\n", caught.exception.stderr)

    def test_a_child_that_closes_its_pipes_but_stays(self):
        child = self.child("import os, time\nos.close(0)\nos.close(1)\ntime.sleep(20)\n")
        with self.assertRaises(ChildExited) as caught:
            child.read("MOVA_INIT", time.monotonic() + 10, 10)
        self.assertIsNone(caught.exception.returncode)  # still running: no status to report
        self.assertIn("unknown status", str(caught.exception))
        other = self.child("import os, time\nos.close(0)\ntime.sleep(20)\n")
        time.sleep(0.3)
        with self.assertRaises(ChildExited):
            other.write("MOVA_INIT", "MOVA_INIT")

    def test_a_child_that_outlives_its_input_is_killed_and_its_folder_goes(self):
        child = self.child("import signal, time\nsignal.signal(signal.SIGTERM, signal.SIG_IGN)\ntime.sleep(20)\n")
        folder = child.workdir
        self.assertTrue(folder.is_dir())
        began = time.monotonic()
        self.assertEqual(child.close(0.3), -9)
        self.assertLess(time.monotonic() - began, 5)
        self.assertFalse(folder.exists())
        self.assertEqual(child.close(0.3), -9)  # closing again changes nothing

    def test_a_folder_given_is_kept_when_the_executable_cannot_start(self):
        folder = temporary_folder(self)
        not_executable = Path(folder, "mova")
        not_executable.write_text("")
        with self.assertRaises(PermissionError):
            ControllerProcess(not_executable, folder)
        self.assertTrue(Path(folder).is_dir())
        temporary = Path(folder, "tmp")
        temporary.mkdir()
        with mock.patch.object(tempfile, "tempdir", str(temporary)), self.assertRaises(PermissionError):
            ControllerProcess(not_executable, None)
        self.assertEqual(list(temporary.iterdir()), [])


if __name__ == "__main__":
    unittest.main()
