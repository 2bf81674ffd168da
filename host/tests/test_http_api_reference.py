"""The reference of the workbench's HTTP API (docs/http-api.md) against the server: every route
of the route table documented and nothing else, every action, every field of a session's
state and of the page's settings."""

from __future__ import annotations

import re
import unittest

from support import ROOT
from test_workbench import ServerCase

from mova_host.workbench.routes import ACTIONS, ACTIONS_WITH_DATA, ROUTES

REFERENCE = ROOT / "docs" / "http-api.md"
PLACEHOLDERS = {"ident": "id"}  # the route table's group names as the reference writes them


def route_text(method: str, pattern: str) -> str:
    """`POST /api/sessions/{id}/leave` for the pattern of that route."""
    path = re.sub(r"\(\?P<(\w+)>[^)]*\)", lambda m: "{" + PLACEHOLDERS.get(m.group(1), m.group(1)) + "}", pattern)
    return f"{method} {path.replace(chr(92), '')}"


def section(text: str, heading: str) -> str:
    """The text under a `## heading`, up to the next one."""
    found = re.search(rf"^## {re.escape(heading)}\n(.*?)(?=^## |\Z)", text, re.S | re.M)
    assert found, f"no section {heading!r}"
    return found.group(1)


def table_fields(text: str) -> set[str]:
    """The fields a table names in its first column (`a`, or `a`, `b` in one row)."""
    return {name for row in re.findall(r"^\| (`[^|]+`) \|", text, re.M) for name in re.findall(r"`([^`]+)`", row)}


class ReferenceTest(unittest.TestCase):
    text = REFERENCE.read_text(encoding="utf-8")

    def test_every_route_is_documented_and_every_documented_route_exists(self):
        documented = re.findall(r"^### `([A-Z]+ [^`]+)`$", self.text, re.M)
        served = [route_text(method, pattern.pattern) for method, pattern, _ in ROUTES]
        self.assertEqual(len(documented), len(set(documented)), "a route documented twice")
        self.assertEqual(sorted(documented), sorted(served))

    def test_every_action_is_documented_and_every_documented_action_exists(self):
        routes = section(self.text, "Routes")
        documented = re.findall(r"^#### `([a-z-]+)`$", routes, re.M)
        self.assertEqual(sorted(documented), sorted([*ACTIONS, *ACTIONS_WITH_DATA]))


class StateFieldsTest(ServerCase):
    def test_the_fields_of_the_state_and_of_the_settings_are_those_documented(self):
        text = ReferenceTest.text
        self.start()
        status, state = self.request("POST", "/api/sessions", {})
        self.assertEqual(status, 201)
        self.assertEqual(table_fields(section(text, "The state of a session")), set(state))
        status, config = self.request("GET", "/api/config", headers={})
        config_section = section(text, "Routes").split("### `GET /api/config`")[1].split("###")[0]
        self.assertEqual(table_fields(config_section), set(config))


if __name__ == "__main__":
    unittest.main()
