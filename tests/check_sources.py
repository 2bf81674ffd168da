#!/usr/bin/env python3
"""Checks two rules of the program sources that the compiler does not.

1. No function is longer than MAX_FUNCTION_LINES lines, from the first line of its signature to
   its closing brace (lambdas count towards the function that holds them).
2. Includes point down the layers only: console, controller, search, reachability, petrinet,
   utils, in that order; a module may include its own layer and any layer below.

Usage: check_sources.py [source root] [--list]   (--list prints every function's length)
Exits 1 and names each breach when a rule is broken.
"""

import re
import sys
from pathlib import Path

LAYERS = ["utils", "petrinet", "reachability", "search", "controller", "console"]
MAX_FUNCTION_LINES = 60
# Words that open a brace block holding declarations rather than statements.
CONTAINERS = re.compile(r"\s*(template\s*<[^{]*>\s*)?(namespace|struct|class|union|enum)\b")
# What may stand between the closing parenthesis of a signature and its body.
SIGNATURE_TAIL = re.compile(
    r"\)\s*(const\b|noexcept\b|override\b|final\b|&|->\s*[\w:<>,\s*&]+|\[\[[^\]]*\]\])*\s*"
    r"(:[^;{}]*)?$",
    re.S,
)


def strip_comments_and_strings(text: str) -> str:
    """Blanks comments, literals and preprocessor lines, keeping line breaks."""

    def blank(match: re.Match) -> str:
        return re.sub(r"[^\n]", " ", match.group(0))

    pattern = r'//[^\n]*|/\*.*?\*/|R"\((?:.|\n)*?\)"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\''
    text = re.sub(pattern, blank, text, flags=re.S)
    return re.sub(r"^[ \t]*#[^\n]*", blank, text, flags=re.M)  # preprocessor lines


def functions(text: str):
    """Yields (name, first line, last line) of every function body in `text`."""
    code = strip_comments_and_strings(text)
    # Each open brace: whether it is a container scope, and for a function its start.
    stack = []
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
            kind, start = stack.pop() if stack else ("block", None)
            if kind == "function":
                signature = code[start:code.index("(", start)]
                name = signature.split()[-1] if signature.split() else "?"
                yield name, code.count("\n", 0, start) + 1, code.count("\n", 0, i) + 1
            statement_start = i + 1


def layer_of(path: Path, root: Path):
    top = path.relative_to(root).parts[0]
    return LAYERS.index(top) if top in LAYERS else None


def main() -> int:
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    listing = "--list" in sys.argv
    root = Path(args[0] if args else Path(__file__).resolve().parent.parent)
    breaches = []
    sources = sorted(p for layer in LAYERS for p in (root / layer).glob("*.[ch]pp"))
    for path in sources:
        text = path.read_text()
        where = path.relative_to(root)
        for name, first, last in functions(text):
            length = last - first + 1
            if listing:
                print(f"{length:4} {where}:{first} {name}")
            if length > MAX_FUNCTION_LINES:
                breaches.append(f"{where}:{first}: {name} is {length} lines long")
        own = layer_of(path, root)
        for number, line in enumerate(text.splitlines(), 1):
            included = re.match(r'\s*#\s*include\s*"([^"]+)"', line)
            if not included:
                continue
            target = layer_of(root / included.group(1), root)
            if target is not None and target > own:
                breaches.append(f"{where}:{number}: includes {included.group(1)}, a higher layer")
    if not sources:
        breaches.append(f"no program sources found below {root}")
    for breach in breaches:
        print(breach)
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
