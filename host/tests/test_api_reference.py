"""The Python API reference, docs/python-api.md: generated from the docstrings, and complete."""

from __future__ import annotations

import importlib.util
import unittest
from pathlib import Path

import support  # noqa: F401  (the package on the path)

import mova_host

TOOL = Path(__file__).resolve().parents[1] / "tools" / "api_reference.py"


def _tool():
    module_spec = importlib.util.spec_from_file_location("api_reference", TOOL)
    assert module_spec is not None and module_spec.loader is not None
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


class ApiReferenceTest(unittest.TestCase):
    def test_every_exported_name_and_member_has_a_docstring(self):
        self.assertEqual(_tool().missing(), [])

    def test_the_reference_is_what_the_docstrings_give(self):
        tool = _tool()
        self.assertEqual(tool.OUTPUT.read_text(), tool.render(),
                         "docs/python-api.md is stale: run /usr/bin/python3 host/tools/api_reference.py")

    def test_the_check_finds_a_name_without_a_docstring(self):
        tool = _tool()
        original = mova_host.MovaClient.watermark.__doc__
        mova_host.MovaClient.watermark.__doc__ = None
        self.addCleanup(setattr, mova_host.MovaClient.watermark, "__doc__", original)
        self.assertEqual(tool.missing(), ["MovaClient.watermark: no docstring"])
        self.assertIn("#### `MovaClient.watermark() -> str`\n\n(no docstring)", tool.render())


if __name__ == "__main__":
    unittest.main()
