#!/usr/bin/env python3
"""Rebuilds the seed corpora under fuzz/corpus/ from examples/ and src/schemas/.

A reader seed is one byte that chooses the grammar (its place in
catalogue.txt) and the flags (bits 4 to 6), followed by a document: every
example under the directory named after its grammar, with flags 0 and with
all tolerances on. Stream seeds are the same documents without their XML
declaration, two of them back to back. Grammar seeds are the grammar files.
"""
import os
import re
import shutil

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCHEMAS = os.path.join(ROOT, "src", "schemas")
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def grammars():
    """Grammar name -> index in registration order, and the grammar files."""
    names, files = {}, []
    with open(os.path.join(SCHEMAS, "catalogue.txt")) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            path = os.path.join(SCHEMAS, line)
            files.append(path)
            with open(path) as g:
                name = re.search(r"^grammar\s+(\S+)", g.read(), re.M).group(1)
            names[name] = len(names)
    return names, files


def write(kind, name, data):
    with open(os.path.join(CORPUS, kind, name), "wb") as f:
        f.write(data)


def main():
    names, files = grammars()
    for kind in ("file", "stream", "grammar"):
        shutil.rmtree(os.path.join(CORPUS, kind), ignore_errors=True)
        os.makedirs(os.path.join(CORPUS, kind))
    examples = os.path.join(ROOT, "examples")
    for grammar in sorted(os.listdir(examples)):
        if grammar not in names:
            continue
        for doc in sorted(os.listdir(os.path.join(examples, grammar))):
            with open(os.path.join(examples, grammar, doc), "rb") as f:
                data = f.read()
            body = re.sub(rb"^\s*<\?[^>]*>\s*(<![^>]*>\s*)?", b"", data)
            stem = doc.rsplit(".", 1)[0]
            for flags in (0, 7):
                lead = bytes([names[grammar] | flags << 4])
                write("file", "%s-%d" % (stem, flags), lead + data)
                write("stream", "%s-%d" % (stem, flags), lead + body + b"\n" + body)
    for path in files:
        shutil.copy(path, os.path.join(CORPUS, "grammar", os.path.basename(path)))


if __name__ == "__main__":
    main()
