#!/usr/bin/env python3
"""Writes the command streams of the transcript tests into the console fuzz corpus.

Every `Lines({...})` call in tests/*_test.cpp whose elements are plain string literals becomes
one seed file fuzz/corpus/console/transcript-<test file>-<n>, the lines joined by line feeds.
Calls built from variables are skipped. Run again after transcripts change; old seeds of this
kind are replaced, hand-written seeds and regression inputs are kept.
"""
import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus" / "console"
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "0": "\0", "\\": "\\", '"': '"', "'": "'"}
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append(ESCAPES.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def streams(source):
    for match in re.finditer(r"Lines\(\{", source):
        depth, j = 1, match.end()
        while j < len(source) and depth:
            depth += {"{": 1, "}": -1}.get(source[j], 0)
            j += 1
        body = source[match.end():j - 1]
        rest = LITERAL.sub("", body)
        if re.sub(r"[\s,]", "", rest):
            continue  # not only literals
        lines = [unescape(m.group(1)) for m in LITERAL.finditer(body)]
        if lines:
            yield "".join(line + "\n" for line in lines)


def main():
    CORPUS.mkdir(parents=True, exist_ok=True)
    for old in CORPUS.glob("transcript-*"):
        old.unlink()
    count = 0
    for test in sorted((ROOT / "tests").glob("*_test.cpp")):
        for n, stream in enumerate(streams(test.read_text(encoding="utf-8", errors="replace"))):
            name = f"transcript-{test.stem}-{n:02d}"
            (CORPUS / name).write_bytes(stream.encode("utf-8", errors="surrogateescape"))
            count += 1
    print(f"{count} transcript streams written to {CORPUS.relative_to(ROOT)}")


if __name__ == "__main__":
    main()
