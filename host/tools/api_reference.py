#!/usr/bin/env python3
"""Writes docs/python-api.md, the reference of the host package's Python API, from its docstrings.

    api_reference.py           writes docs/python-api.md
    api_reference.py --check   exits 1, naming what is wrong, when docs/python-api.md is not what
                               it would write or a public name has no docstring of its own

The API is what `mova_host` exports (its `__all__`), in the sections of SECTIONS: each name
with its signature and docstring; for a class also its public methods and properties, its own
and those of its bases in the package; for an enumeration its members. The suite runs the check
(host/tests/test_api_reference.py).
"""

from __future__ import annotations

import enum
import inspect
import sys
from pathlib import Path
from typing import Any, Iterator

HOST = Path(__file__).resolve().parents[1]
OUTPUT = HOST.parent / "docs" / "python-api.md"
sys.path.insert(0, str(HOST))

import mova_host  # noqa: E402

SECTIONS: list[tuple[str, str, list[str]]] = [
    ("The controller", "A client runs one controller process and speaks its line protocol.",
     ["MovaClient", "Timeouts", "Exchange", "find_binary"]),
    ("Missions", "A mission on top of a client: roads, vehicles, plans, moves, obstacles.",
     ["Mission", "Plan", "Move", "Road", "RoadKind"]),
    ("Scenario files", "A mission as a JSON document (the format is described in host/README.md).",
     ["Scenario", "PositionInfo", "load_scenario", "loads_scenario", "parse_scenario", "dumps_scenario",
      "scenario_to_json", "command_lines", "check_scenario", "Finding"]),
    ("Command streams as scenarios", "The mission a stream of controller commands plans first.",
     ["read_stream", "load_stream", "load_mission", "StreamScenario"]),
    ("Planning scenarios", "Scenarios one after the other on one controller, with what an explanation needs.",
     ["ScenarioRunner", "Run"]),
    ("Explanations", "Why the controller answered as it did, against an exact search.",
     ["explain", "Explanation", "Cut"]),
    ("Pictures", "SVG text of a network, a plan and a plan driven.",
     ["render_network", "render_plan", "render_animation"]),
    ("Errors", "Every exception the package raises is defined in `mova_host.errors`.",
     ["MovaError", "ControllerNotFound", "CommandDropped", "MovaTimeout", "ChildExited", "ControllerFailed",
      "ProtocolError", "MissionError", "PlanCheckError", "ScenarioError"]),
]

HEAD = """\
# The Python API of `mova_host`

This page is generated from the package's docstrings by `host/tools/api_reference.py`; the test
suite fails when it is stale or when a public name has no docstring. It covers what the package
exports (`from mova_host import ...`); the modules hold more, for the package's own use.

Conventions: positions are 0 to 11, vehicles 1 to 3; a placement is a tuple of the positions of
vehicles 1, 2 and 3. Each line sent to the controller and each line read from it is logged at
DEBUG on the logger `mova_host.wire` (off unless the program switches it on, e.g.
`logging.basicConfig(level=logging.DEBUG)`).
"""


def _own_doc(obj: Any) -> str | None:
    """The object's own docstring, not one made up for it (dataclasses, enumerations) or
    inherited."""
    doc = obj.__dict__.get("__doc__") if inspect.isclass(obj) else getattr(obj, "__doc__", None)
    if not doc or not doc.strip():
        return None
    if inspect.isclass(obj) and (doc.startswith(f"{obj.__name__}(") or doc == "An enumeration."):
        return None
    return inspect.cleandoc(doc)


class _Text(str):
    """An annotation kept as text by `from __future__ import annotations`, shown without quotes."""

    def __repr__(self) -> str:
        return str(self)


def _plain(signature: inspect.Signature) -> inspect.Signature:
    """The signature with its annotations shown as written in the source."""
    def text(annotation: Any) -> Any:
        return _Text(annotation) if isinstance(annotation, str) else annotation

    parameters = [p.replace(annotation=text(p.annotation)) for p in signature.parameters.values()]
    return signature.replace(parameters=parameters, return_annotation=text(signature.return_annotation))


def _signature(obj: Any) -> str:
    try:
        return str(_plain(inspect.signature(obj)))
    except (TypeError, ValueError):
        return ""


def members(cls: type) -> Iterator[tuple[str, Any]]:
    """The public methods and properties of a class, its own first, then those of its bases in
    the package, each name once, in the order of definition."""
    seen: set[str] = set()
    for klass in cls.__mro__:
        if not klass.__module__.startswith("mova_host"):
            continue
        for name, value in vars(klass).items():
            if name.startswith("_") or name in seen:
                continue
            if isinstance(value, (property, staticmethod, classmethod)) or inspect.isfunction(value):
                seen.add(name)
                yield name, value


def _member(cls: type, name: str, value: Any) -> list[str]:
    if isinstance(value, property):
        returns = value.fget.__annotations__.get("return") if value.fget else None
        heading = f"#### `{cls.__name__}.{name}`" + (f" (property, `{returns}`)" if returns else " (property)")
        doc = _own_doc(value.fget)
    else:
        function = value.__func__ if isinstance(value, (staticmethod, classmethod)) else value
        parameters = list(inspect.signature(function).parameters.values())
        if parameters and parameters[0].name in ("self", "cls") and not isinstance(value, staticmethod):
            parameters = parameters[1:]
        shown = _plain(inspect.signature(function).replace(parameters=parameters))
        heading = f"#### `{cls.__name__}.{name}{shown}`"
        doc = _own_doc(function)
    return [heading, "", doc or "(no docstring)", ""]


def _entry(name: str, obj: Any) -> list[str]:
    if inspect.isclass(obj):
        kind = "exception" if issubclass(obj, BaseException) else "class"
        shown = "" if issubclass(obj, enum.Enum) else _signature(obj).removesuffix(" -> None")
        bases = [b.__name__ for b in obj.__bases__ if b is not object]
        lines = [f"### {kind} `{name}{shown}`", ""]
        if bases:
            lines += [f"Based on {', '.join(f'`{b}`' for b in bases)}.", ""]
        lines += [_own_doc(obj) or "(no docstring)", ""]
        if issubclass(obj, enum.Enum):
            lines += [f"- `{name}.{m.name}` = `{m.value!r}`" for m in obj] + [""]
        for member, value in members(obj):
            lines += _member(obj, member, value)
        return lines
    return [f"### `{name}{_signature(obj)}`", "", _own_doc(obj) or "(no docstring)", ""]


def render() -> str:
    """The text of docs/python-api.md."""
    lines = [HEAD, "Contents: " + " · ".join(f"[{title}](#{_anchor(title)})" for title, _, _ in SECTIONS), ""]
    for title, intro, names in SECTIONS:
        lines += [f"## {title}", "", intro, ""]
        for name in names:
            lines += _entry(name, getattr(mova_host, name))
    return "\n".join(lines).rstrip("\n") + "\n"


def _anchor(title: str) -> str:
    return "-".join(title.lower().split())


def missing() -> list[str]:
    """The public names without a docstring of their own, and the exported names no section holds
    (or that a section holds but the package does not export)."""
    found: list[str] = []
    listed = [name for _, _, names in SECTIONS for name in names]
    found += [f"{name}: exported, but in no section" for name in mova_host.__all__ if name not in listed]
    found += [f"{name}: in a section, but not exported" for name in listed if name not in mova_host.__all__]
    for name in listed:
        obj = getattr(mova_host, name, None)
        if obj is None:
            continue
        if _own_doc(obj) is None:
            found.append(f"{name}: no docstring")
        if inspect.isclass(obj):
            for member, value in members(obj):
                target = value.fget if isinstance(value, property) else getattr(value, "__func__", value)
                if _own_doc(target) is None:
                    found.append(f"{name}.{member}: no docstring")
    return found


def main(argv: list[str]) -> int:
    if argv == ["--check"]:
        problems = missing()
        if OUTPUT.read_text() != render():
            problems.append(f"{OUTPUT} is stale: run /usr/bin/python3 host/tools/api_reference.py")
        for problem in problems:
            print(problem)
        return 1 if problems else 0
    if argv:
        print(__doc__, file=sys.stderr)
        return 2
    OUTPUT.write_text(render())
    for problem in missing():
        print(problem)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
