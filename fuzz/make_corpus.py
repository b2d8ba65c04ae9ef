#!/usr/bin/env python3
"""Rebuilds the seed corpora under fuzz/corpus/ from examples/ and src/schemas/.

A reader seed is one byte that chooses the grammar (its place in
catalogue.txt) and the flags (bits 4 to 6), followed by a document: every
example under the directory named after its grammar, with flags 0 and with
all tolerances on. Stream seeds are the same documents without their XML
declaration, two of them back to back. Grammar seeds are the grammar files;
export seeds are the grammar files too, and small grammars of the shapes
that cost the export most (every element after every other, long rows,
long sequences) or whose names and values no schema can hold. The buffer
target takes the file seeds.
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


def shaped_grammars():
    """Name -> text of the export seeds that are not grammar files."""
    def grammar(name, elements, text_rows=()):
        out = "grammar %s\nsource none\n" % name
        for i, (element, first, rows, attrs) in enumerate(elements):
            out += "element %d %s\n  first %s\n" % (i, element, first)
            out += "".join("  row %d %s\n" % (r, row) for r, row in enumerate(rows))
            out += "".join("  attr %s\n" % a for a in attrs)
        return out + "".join("text %d %s\n" % (t, row) for t, row in enumerate(text_rows))
    names = ["e%d" % i for i in range(12)]
    every = " ".join(n + "/0" for n in names) + " END"
    seq = ["c%d" % i for i in range(40)]
    return {
        "dense": grammar("dense", [(n, every, [every], []) for n in names]),
        "sequence": grammar("sequence", [("root", "c0/0", ["(none)"], [])] +
                            [(c, "END", ["%s/0" % seq[i + 1] if i + 1 < len(seq) else "END"], [])
                             for i, c in enumerate(seq)]),
        "row": grammar("row", [("root", " ".join(c + "/0" for c in seq) + " END", ["(none)"], [])] +
                       [(c, "END", ["END"], []) for c in seq]),
        "names": grammar("a<b>&c", [("p", "x:y/0 a:b/0 TEXT/0 END", ["(none)"],
                                     ['xmlns default "u"', 'k default "x\x01" values "1" "--" "\udcff" "<&>"']),
                                    ("x:y", "END", ["END a:b/0"], ['v default "a\tb\rc"']),
                                    ("a:b", "p/0", ["TEXT/0 END"], ['c default "<&>"'])], ["x:y/0 END"]),
    }


def main():
    names, files = grammars()
    for kind in ("file", "stream", "grammar", "export"):
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
        for kind in ("grammar", "export"):
            shutil.copy(path, os.path.join(CORPUS, kind, os.path.basename(path)))
    for name, text in shaped_grammars().items():
        write("export", name + ".grammar", text.encode("utf-8", "surrogateescape"))


if __name__ == "__main__":
    main()
