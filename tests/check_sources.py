#!/usr/bin/env python3
"""Checks rules of the sources that neither the compilers nor the interpreters check.

1. No function is longer than MAX_FUNCTION_LINES lines, from the first line of its signature to
   its end: in the program (C++), in the host package, its tests and tools (Python), in the
   workbench's page and its browser tests (JavaScript). Lambdas, nested functions and arrow
   functions count towards the function that holds them.
2. Includes and imports point down the layers only: a module may use its own layer and any
   layer below it, never one above. The layers, bottom first:

   Program (C++), by folder: utils, petrinet, reachability, search, controller, console.

   Host package (Python), by module of mova_host (PYTHON_LAYERS):
     words           about, errors, limits, protocol: the release, every exception, the
                     controller's defaults, the protocol's commands and answers
     model           checks (input checks), roads, vehicles, plans, logrecords
     exact search    exact
     pictures        geometry, svg
     scenario files  scenario, scenario_stream (command streams read as scenarios),
                     scenario_check
     explanations    explain
     controller      process, exchange, client
     mission API     mission, runner
     fleet           the fleet bridge (fleet, fleet.*), on the layers below
     actions         the command line's actions: actions.version, .common, .pictures; then
                     actions.scenarios; then actions.stream
     workbench       workbench.fields, .transcript; .model; .link; .session; .view;
                     .registry; .http; .routes; .server, one layer each in this order
     entry           cli, __main__ and the package's own exports (mova_host/__init__.py)

   Workbench page (JavaScript modules of mova_host/web, JS_LAYERS): api.js; canvas.js,
   panels.js and history.js; app.js.

   A Python module of the package that no layer names is a breach: a new module takes its
   place in the order first.
3. No import circle among the modules of the host package or of the page, and no import of the
   package inside a function (imports stand at the top of a module).

Usage: check_sources.py [source root] [--list]   (--list prints every function's length)
Exits 1 and names each breach when a rule is broken.
"""

from __future__ import annotations

import ast
import fnmatch
import re
import sys
from pathlib import Path
from typing import Iterator

LAYERS = ["utils", "petrinet", "reachability", "search", "controller", "console"]
MAX_FUNCTION_LINES = 60
PACKAGE = "mova_host"
PYTHON_LAYERS: list[tuple[str, list[str]]] = [
    ("words", ["about", "errors", "limits", "protocol"]),
    ("model", ["checks", "roads", "vehicles", "plans", "logrecords"]),
    ("exact search", ["exact"]),
    ("pictures", ["geometry", "svg"]),
    ("scenario files", ["scenario", "scenario_stream", "scenario_check"]),
    ("explanations", ["explain"]),
    ("controller", ["process", "exchange", "client"]),
    ("mission API", ["mission", "runner"]),
    ("fleet", ["fleet", "fleet.*"]),
    ("actions: shared", ["actions", "actions.version", "actions.common", "actions.pictures"]),
    ("actions on scenario files", ["actions.scenarios"]),
    ("actions on command streams", ["actions.stream"]),
    ("workbench: requests and transcript", ["workbench", "workbench.fields", "workbench.transcript"]),
    ("workbench: editing model", ["workbench.model"]),
    ("workbench: controller link", ["workbench.link"]),
    ("workbench: session", ["workbench.session"]),
    ("workbench: JSON view", ["workbench.view"]),
    ("workbench: sessions", ["workbench.registry"]),
    ("workbench: HTTP", ["workbench.http"]),
    ("workbench: routes", ["workbench.routes"]),
    ("workbench: server", ["workbench.server"]),
    ("entry", ["cli", "__main__", ""]),  # "": the package itself (its __init__.py)
]
JS_LAYERS: list[tuple[str, list[str]]] = [
    ("requests", ["api.js"]),
    ("picture, panels and the edit history", ["canvas.js", "panels.js", "history.js"]),
    ("page", ["app.js"]),
]
# Words that open a brace block holding declarations rather than statements.
CONTAINERS = re.compile(r"\s*(template\s*<[^{]*>\s*)?(namespace|struct|class|union|enum)\b")
# What may stand between the closing parenthesis of a signature and its body.
SIGNATURE_TAIL = re.compile(
    r"\)\s*(const\b|noexcept\b|override\b|final\b|&|->\s*[\w:<>,\s*&]+|\[\[[^\]]*\]\])*\s*"
    r"(:[^;{}]*)?$",
    re.S,
)
Function = tuple[str, int, int]  # name, first line, last line


# ----- C++ -------------------------------------------------------------------------------------


def strip_comments_and_strings(text: str) -> str:
    """Blanks comments, literals and preprocessor lines, keeping line breaks."""

    def blank(match: re.Match[str]) -> str:
        return re.sub(r"[^\n]", " ", match.group(0))

    pattern = r'//[^\n]*|/\*.*?\*/|R"\((?:.|\n)*?\)"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\''
    text = re.sub(pattern, blank, text, flags=re.S)
    return re.sub(r"^[ \t]*#[^\n]*", blank, text, flags=re.M)  # preprocessor lines


def functions(text: str) -> Iterator[Function]:
    """Yields (name, first line, last line) of every function body in C++ `text`."""
    code = strip_comments_and_strings(text)
    # Each open brace: whether it is a container scope, and for a function its start.
    stack: list[tuple[str, int | None]] = []
    statement_start = 0
    for i, c in enumerate(code):
        if c in ";":
            statement_start = i + 1
        elif c == "{":
            head = code[statement_start:i]
            in_container = all(kind == "container" for kind, _ in stack)
            if CONTAINERS.match(head):
                stack.append(("container", None))
            elif in_container and SIGNATURE_TAIL.search(head.rstrip()) and "=" not in head.split("(")[0]:
                start = statement_start + len(head) - len(head.lstrip())
                stack.append(("function", start))
            else:
                stack.append(("block", None))
            statement_start = i + 1
        elif c == "}":
            kind, begin = stack.pop() if stack else ("block", None)
            if kind == "function" and begin is not None:
                signature = code[begin:code.index("(", begin)]
                name = signature.split()[-1] if signature.split() else "?"
                yield name, code.count("\n", 0, begin) + 1, code.count("\n", 0, i) + 1
            statement_start = i + 1


def layer_of(path: Path, root: Path) -> int | None:
    top = path.relative_to(root).parts[0]
    return LAYERS.index(top) if top in LAYERS else None


def check_cpp(root: Path, listing: bool) -> list[str]:
    breaches = []
    sources = sorted(p for layer in LAYERS for p in (root / layer).glob("*.[ch]pp"))
    for path in sources:
        text = path.read_text()
        where = path.relative_to(root)
        breaches += long_functions(where, functions(text), listing)
        own = layer_of(path, root)
        for number, line in enumerate(text.splitlines(), 1):
            included = re.match(r'\s*#\s*include\s*"([^"]+)"', line)
            if not included:
                continue
            target = layer_of(root / included.group(1), root)
            if target is not None and own is not None and target > own:
                breaches.append(f"{where}:{number}: includes {included.group(1)}, a higher layer")
    if not sources:
        breaches.append(f"no program sources found below {root}")
    return breaches


def long_functions(where: Path, found: Iterator[Function], listing: bool) -> list[str]:
    breaches = []
    for name, first, last in found:
        length = last - first + 1
        if listing:
            print(f"{length:4} {where}:{first} {name}")
        if length > MAX_FUNCTION_LINES:
            breaches.append(f"{where}:{first}: {name} is {length} lines long")
    return breaches


# ----- layers and circles, for Python and JavaScript -------------------------------------------


def layer_index(module: str, layers: list[tuple[str, list[str]]]) -> int | None:
    for index, (_, patterns) in enumerate(layers):
        if any(fnmatch.fnmatchcase(module, pattern) for pattern in patterns):
            return index
    return None


def circles(graph: dict[str, set[str]]) -> list[list[str]]:
    """The import circles of a graph (its strongly connected parts of more than one module, or
    a module that imports itself), each in sorted order."""
    index: dict[str, int] = {}
    low: dict[str, int] = {}
    stack: list[str] = []
    found: list[list[str]] = []

    def visit(node: str) -> None:
        index[node] = low[node] = len(index)
        stack.append(node)
        for target in sorted(graph.get(node, ())):
            if target not in index:
                visit(target)
                low[node] = min(low[node], low[target])
            elif target in stack:
                low[node] = min(low[node], index[target])
        if low[node] == index[node]:
            part = []
            while True:
                member = stack.pop()
                part.append(member)
                if member == node:
                    break
            if len(part) > 1 or node in graph.get(node, ()):
                found.append(sorted(part))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def layer_breaches(imports: dict[str, list[tuple[str, int]]], files: dict[str, Path],
                   layers: list[tuple[str, list[str]]], root: Path) -> list[str]:
    """Modules no layer names, and imports of a higher layer."""
    breaches = []
    for module, targets in sorted(imports.items()):
        where = files[module].relative_to(root)
        own = layer_index(module, layers)
        if own is None:
            breaches.append(f"{where}: module {module or PACKAGE} has no place in the layer order")
            continue
        for target, line in targets:
            theirs = layer_index(target, layers)
            if theirs is not None and theirs > own:
                breaches.append(f"{where}:{line}: imports {target}, a higher layer ({layers[theirs][0]} "
                                f"above {layers[own][0]})")
    return breaches


def circle_breaches(imports: dict[str, list[tuple[str, int]]], what: str) -> list[str]:
    graph = {module: {target for target, _ in targets} for module, targets in imports.items()}
    return [f"{what}: import circle {' -> '.join(part)}" for part in circles(graph)]


# ----- Python ----------------------------------------------------------------------------------


def python_functions(tree: ast.AST) -> Iterator[Function]:
    """The outermost functions and methods (nested ones count towards the function holding them)."""

    def walk(node: ast.AST) -> Iterator[Function]:
        for child in ast.iter_child_nodes(node):
            if isinstance(child, (ast.FunctionDef, ast.AsyncFunctionDef)):
                yield child.name, child.lineno, child.end_lineno or child.lineno
            elif isinstance(child, ast.ClassDef):
                yield from walk(child)

    yield from walk(tree)


def module_name(path: Path, package: Path) -> str:
    """"workbench.session" for mova_host/workbench/session.py; "" for the package itself."""
    parts = list(path.relative_to(package).with_suffix("").parts)
    if parts[-1] == "__init__":
        parts.pop()
    return ".".join(parts)


def imported_modules(node: ast.ImportFrom | ast.Import, module: str, is_package: bool,
                     known: set[str]) -> list[str]:
    """The package's modules an import statement uses."""
    if isinstance(node, ast.Import):
        names = [alias.name for alias in node.names if alias.name.split(".")[0] == PACKAGE]
        return [name.partition(".")[2] for name in names]
    if node.level == 0:
        if not (node.module or "").startswith(PACKAGE):
            return []
        base = (node.module or "").partition(".")[2]
    else:
        here = module.split(".") if module else []
        up = node.level - 1 if is_package else node.level
        parent = here[: len(here) - up] if up <= len(here) else []
        base = ".".join(parent + ([node.module] if node.module else []))
    found = []
    for alias in node.names:
        full = f"{base}.{alias.name}" if base else alias.name
        found.append(full if full in known else base)
    return found


def python_imports(package: Path, root: Path) -> tuple[dict[str, list[tuple[str, int]]], dict[str, Path], list[str]]:
    """Each module's imports of the package (with their lines), the modules' files, and the
    imports that stand inside a function."""
    files = {module_name(p, package): p for p in sorted(package.rglob("*.py")) if "__pycache__" not in p.parts}
    known = set(files)
    imports: dict[str, list[tuple[str, int]]] = {}
    inside: list[str] = []
    for module, path in files.items():
        tree = ast.parse(path.read_text(), str(path))
        found = imports.setdefault(module, [])
        nested = {id(n) for f in ast.walk(tree) if isinstance(f, (ast.FunctionDef, ast.AsyncFunctionDef))
                  for n in ast.walk(f)}
        for node in ast.walk(tree):
            if not isinstance(node, (ast.Import, ast.ImportFrom)):
                continue
            targets = imported_modules(node, module, path.name == "__init__.py", known)
            found += [(t, node.lineno) for t in targets if t != module]
            if targets and id(node) in nested:
                inside.append(f"{path.relative_to(root)}:{node.lineno}: imports {targets[0] or PACKAGE} "
                              "inside a function")
    return imports, files, inside


def check_python(root: Path, listing: bool) -> list[str]:
    host = root / "host"
    sources = sorted(p for folder in (host / PACKAGE, host / "tests", host / "tools", root / "tests")
                     for p in folder.rglob("*.py") if "__pycache__" not in p.parts)
    if not (host / PACKAGE).is_dir():
        return [f"no host package found below {root}"]
    breaches = []
    for path in sources:
        tree = ast.parse(path.read_text(), str(path))
        breaches += long_functions(path.relative_to(root), python_functions(tree), listing)
    imports, files, inside = python_imports(host / PACKAGE, root)
    breaches += inside
    breaches += layer_breaches(imports, files, PYTHON_LAYERS, root)
    breaches += circle_breaches(imports, f"host/{PACKAGE}")
    return breaches


# ----- JavaScript ------------------------------------------------------------------------------

# After these characters or words a "/" begins a regular expression, not a division.
_REGEX_AFTER = set("(,=:[!&|?{};+-*%<>~^")
_REGEX_WORDS = {"return", "typeof", "case", "do", "else", "in", "of", "new", "delete", "void", "throw",
                "instanceof", "yield", "await"}


def _skip_regex(text: str, i: int) -> int:
    """The index just after the regular expression literal that begins at text[i] ("/")."""
    j, in_class = i + 1, False
    while j < len(text) and text[j] != "\n":
        c = text[j]
        if c == "\\":
            j += 2
            continue
        if c == "[":
            in_class = True
        elif c == "]":
            in_class = False
        elif c == "/" and not in_class:
            j += 1
            while j < len(text) and (text[j].isalnum() or text[j] == "_"):
                j += 1
            return j
        j += 1
    return j


def _regex_may_start(out: list[str]) -> bool:
    before = "".join(out[-40:]).rstrip()
    if not before:
        return True
    if before[-1] in _REGEX_AFTER:
        return True
    word = re.search(r"[A-Za-z_$][\w$]*$", before)
    return word is not None and word.group(0) in _REGEX_WORDS


def _skip_quoted(text: str, i: int, quote: str) -> int:
    j = i + 1
    while j < len(text) and text[j] != quote and text[j] != "\n":
        j += 2 if text[j] == "\\" else 1
    return j + 1


def javascript_skeleton(text: str) -> str:
    """The code with comments, strings, regular expressions and the text of template literals
    blanked (line breaks kept); the expressions inside a template's ${...} stay code."""
    out: list[str] = []
    modes = ["code"]  # "code", or "template" for the text of a template literal
    depth = [0]  # braces open in each ${...} expression
    i = 0
    while i < len(text):
        c = text[i]
        if modes[-1] == "template":
            if c == "\\":
                end = i + 2
            elif c == "`":
                modes.pop()
                end = i + 1
            elif text.startswith("${", i):
                modes.append("code")
                depth.append(0)
                end = i + 2
            else:
                end = i + 1
        elif text.startswith("//", i):
            end = text.find("\n", i) if "\n" in text[i:] else len(text)
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2) + 2 if "*/" in text[i + 2:] else len(text)
        elif c in "'\"":
            end = _skip_quoted(text, i, c)
        elif c == "`":
            modes.append("template")
            end = i + 1
        elif c == "/" and _regex_may_start(out):
            end = _skip_regex(text, i)
        else:
            if c == "{":
                depth[-1] += 1
            elif c == "}" and len(modes) > 1 and depth[-1] == 0:
                modes.pop()
                depth.pop()
                out.append(" ")
                i += 1
                continue
            elif c == "}":
                depth[-1] -= 1
            out.append(c)
            i += 1
            continue
        out.append(re.sub(r"[^\n]", " ", text[i:end]))
        i = end
    return "".join(out)


def javascript_functions(text: str) -> Iterator[Function]:
    """The outermost functions, methods and arrow functions with a body in JavaScript `text`."""
    code = javascript_skeleton(text)
    lines = text.splitlines()
    stack: list[tuple[str, int | None]] = []  # "class", "function" or "block"; a function's start
    head_start = 0
    for i, c in enumerate(code):
        if c == ";":
            head_start = i + 1
        elif c == "{":
            head = code[head_start:i]
            stripped = head.strip()
            in_class = bool(stack) and stack[-1][0] == "class"
            if re.search(r"\bclass\b", head):
                stack.append(("class", None))
            elif stripped.endswith("=>") or (stripped.endswith(")") and (re.search(r"\bfunction\b", head) or in_class)):
                stack.append(("function", head_start + len(head) - len(head.lstrip())))
            else:
                stack.append(("block", None))
            head_start = i + 1
        elif c == "}":
            kind, begin = stack.pop() if stack else ("block", None)
            if kind == "function" and begin is not None and all(k != "function" for k, _ in stack):
                first = code.count("\n", 0, begin) + 1
                yield lines[first - 1].strip()[:50], first, code.count("\n", 0, i) + 1
            head_start = i + 1


def check_javascript(root: Path, listing: bool) -> list[str]:
    web = root / "host" / PACKAGE / "web"
    sources = sorted(web.glob("*.js")) + sorted((root / "host" / "browser-tests").glob("*.mjs"))
    breaches = []
    for path in sources:
        breaches += long_functions(path.relative_to(root), javascript_functions(path.read_text()), listing)
    imports: dict[str, list[tuple[str, int]]] = {}
    files = {path.name: path for path in sorted(web.glob("*.js"))}
    for name, path in files.items():
        for number, line in enumerate(path.read_text().splitlines(), 1):
            for target in re.findall(r'^\s*(?:import|export)\b[^"\']*\bfrom\s+["\']\./([\w.-]+)["\']', line):
                imports.setdefault(name, []).append((target, number))
        imports.setdefault(name, [])
    breaches += layer_breaches(imports, files, JS_LAYERS, root)
    breaches += circle_breaches(imports, f"host/{PACKAGE}/web")
    return breaches


def main() -> int:
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    listing = "--list" in sys.argv
    root = Path(args[0] if args else Path(__file__).resolve().parent.parent)
    breaches = check_cpp(root, listing) + check_python(root, listing) + check_javascript(root, listing)
    for breach in breaches:
        print(breach)
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
