"""The source rules' checker (tests/check_sources.py) on sources made to break them."""

from __future__ import annotations

import importlib.util
import unittest
from pathlib import Path

from support import ROOT, temporary_folder

_spec = importlib.util.spec_from_file_location("check_sources", ROOT / "tests" / "check_sources.py")
assert _spec is not None and _spec.loader is not None
check_sources = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check_sources)


def lengths(text: str) -> dict[int, int]:
    """First line -> length of each outermost JavaScript function."""
    return {first: last - first + 1 for _, first, last in check_sources.javascript_functions(text)}


class JavaScriptTest(unittest.TestCase):
    def test_braces_in_strings_comments_regexes_and_templates_do_not_count(self):
        text = "\n".join([
            "function a(x) {",
            "  const s = '{' + \"}}\" + `${x.map((y) => { return `{${y}}`; }).join('}')}`;",
            "  // } a brace in a comment",
            "  /* { another } */",
            "  return /[{}]\\/}/g.test(s) ? x / 2 : s;",
            "}",
            "const b = (y) => {",
            "  return y;",
            "};",
        ])
        self.assertEqual(lengths(text), {1: 6, 7: 3})

    def test_methods_and_callbacks_count_towards_what_holds_them(self):
        text = "\n".join([
            "export class Geometry {",
            "  constructor(c) {",
            "    this.c = c.map((p) => {",
            "      return p;",
            "    });",
            "  }",
            "  point(a) { return a; }",
            "}",
            "test(\"a test\", async () => {",
            "  for (const x of [1]) {",
            "    if (x) { await run(() => { return x; }); }",
            "  }",
            "});",
        ])
        self.assertEqual(lengths(text), {2: 5, 7: 1, 9: 5})


class ImportTest(unittest.TestCase):
    def package(self, files: dict[str, str]) -> tuple[list[str], list[str]]:
        """(breaches of the layers and imports inside functions, circles) of a package made of `files`."""
        root = Path(temporary_folder(self))
        package = root / "host" / "mova_host"
        for name, text in files.items():
            (package / name).parent.mkdir(parents=True, exist_ok=True)
            (package / name).write_text(text)
        imports, found, inside = check_sources.python_imports(package, root)
        layers = check_sources.layer_breaches(imports, found, check_sources.PYTHON_LAYERS, root)
        return inside + layers, check_sources.circle_breaches(imports, "pkg")

    def test_an_import_upwards_a_circle_and_an_import_inside_a_function_are_found(self):
        breaches, circles = self.package({
            "__init__.py": "from .client import MovaClient\n",
            "protocol.py": "from .errors import ProtocolError\n",
            "errors.py": "def later():\n    from . import protocol\n    return protocol\n",
            "client.py": "from . import protocol\n",
            "workbench/__init__.py": "",
            "workbench/session.py": "from ..client import MovaClient\nfrom .view import state_json\n",
            "workbench/view.py": "from .session import WorkbenchSession\n",
            "extra.py": "",
        })
        self.assertIn("host/mova_host/errors.py:2: imports protocol inside a function", [b.split(" (")[0] for b in breaches])
        self.assertTrue(any("workbench/session.py:2: imports workbench.view, a higher layer" in b for b in breaches))
        self.assertTrue(any("module extra has no place in the layer order" in b for b in breaches))
        self.assertFalse(any("client" in b or "__init__" in b for b in breaches))
        self.assertEqual(sorted(circles), ["pkg: import circle errors -> protocol",
                                           "pkg: import circle workbench.session -> workbench.view"])

    def test_the_package_as_it_stands_keeps_the_rules(self):
        self.assertEqual(check_sources.check_python(ROOT, False) + check_sources.check_javascript(ROOT, False), [])


if __name__ == "__main__":
    unittest.main()
