#!/usr/bin/env python3
"""Validate a corpus of documents with Dask, one record per document.

The *.xml files under a directory are listed in the order `tarvo check -r`
checks them (their paths sorted byte by byte), cut into partitions of
paths, and each partition is checked on a Dask worker by the tarvo module's
validate_many(). The result is one record per document, the same as a line
of `tarvo check -r --format json`: path, valid, status, code and the
diagnostics, each problem with its note folded in. (A Report does not carry
the system's error number, so the record of an unreadable file has no
os_error.)

    python3 examples/dask_validate.py lumoDiagram corpus/ > records.jsonl
    python3 examples/dask_validate.py --scheduler tcp://head:8786 lumoDiagram /shared/corpus

Without --scheduler it starts a LocalCluster of --workers processes with one
thread each. With --scheduler it runs on an existing cluster: every worker
must import tarvo (the same version) and see the corpus under the same path.
"""
import argparse
import json
import os
import re
import sys

import tarvo

STATUSES = ("valid", "invalid", "unreadable")

# The grammar each worker process has loaded from a grammar file, by path.
_loaded = {}


def grammar_in_worker(grammar, grammar_file):
    """The name to check against: a built-in grammar, or the grammar file
    loaded once per worker process."""
    if not grammar_file:
        return grammar
    if grammar_file not in _loaded:
        _loaded[grammar_file] = tarvo.load_grammar(grammar_file)
    return _loaded[grammar_file]


# A byte of a document that is not UTF-8 reaches Python as a lone surrogate
# (U+DC80 to U+DCFF); the JSON records write it as the character of the same
# number (U+0080 to U+00FF).
_BYTES = re.compile("[\udc80-\udcff]")


def text(s):
    return s if s is None else _BYTES.sub(lambda m: chr(ord(m.group()) - 0xdc00), s)


def span(d):
    """Where a record's token starts and ends, as the command writes it."""
    return {"line": d.lineno or 0, "column": d.offset or 0,
            "end_line": d.end_lineno or 0, "end_column": d.end_offset or 0}


def fix(d):
    """An attribute's suggested name or value replaces its token; an element's
    name also stands in its end tag, so its suggestion is no fix."""
    if d.suggestion is None or not d.lineno or d.kind not in ("unknown_attribute", "wrong_attribute_value"):
        return None
    return {"range": span(d), "text": text(d.suggestion)}


def diagnostic_record(d, note):
    """One problem as `tarvo check --format json` writes it."""
    record = {"severity": d.severity, "kind": d.kind, "code": d.code}
    record.update(span(d))
    record.update({
        "element": text(d.element), "attribute": text(d.attribute), "parent": text(d.parent),
        "path": text(d.path), "expected": [text(e) for e in d.expected], "suggestion": text(d.suggestion),
        "fix": fix(d), "message": text(d.message),
    })
    record["note"] = None if note is None else dict(span(note), message=text(note.message))
    return record


def document_record(path, report):
    """A Report as the record of one document: the reader's line about where
    a problem happened becomes the note of that problem, and a valid
    document shows its warnings only."""
    problems = []
    ds = [d for d in report.diagnostics if d.severity == "warning" or not report.valid]
    i = 0
    while i < len(ds):
        note = ds[i + 1] if not ds[i].note and i + 1 < len(ds) and ds[i + 1].note else None
        problems.append(diagnostic_record(ds[i], note))
        i += 2 if note is not None else 1
    return {"path": path, "valid": report.valid, "status": STATUSES[report.status], "code": report.status,
            "diagnostics": problems}


def check_partition(paths, grammar, grammar_file, flags, max_errors):
    """What runs on a worker: the records of one partition's documents."""
    paths = list(paths)
    name = grammar_in_worker(grammar, grammar_file)
    reports = tarvo.validate_many(name, paths, jobs=1, flags=flags, max_errors=max_errors)
    return [document_record(p, r) for p, r in zip(paths, reports)]


def list_documents(root):
    """The *.xml files under root (links to directories not followed), in
    the order of their paths, byte by byte."""
    found = []
    for folder, dirs, files in os.walk(root):
        found.extend(os.path.join(folder, f) for f in files if f.endswith(".xml") and f != ".xml")
    return sorted(found, key=os.fsencode)


def validate_corpus(client, root, grammar=None, grammar_file=None, flags=0, max_errors=20, partition_size=500):
    """The records of every document under root, in order, computed on the
    cluster behind `client`."""
    import dask.bag as db
    paths = list_documents(root)
    if not paths:
        return []
    bag = db.from_sequence(paths, partition_size=partition_size)
    records = bag.map_partitions(check_partition, grammar, grammar_file, flags, max_errors)
    return records.compute(scheduler=client.get)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("grammar", nargs="?", help="a built-in grammar's name")
    ap.add_argument("root", help="the directory of the corpus")
    ap.add_argument("--grammar-file", help="a grammar file instead (each worker loads it)")
    ap.add_argument("--scheduler", help="address of a running scheduler (default: a LocalCluster)")
    ap.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes (default 2)")
    ap.add_argument("--partition-size", type=int, default=500, help="documents per partition (default 500)")
    ap.add_argument("--max-errors", type=int, default=20, help="as tarvo check's (default 20)")
    ap.add_argument("--flags", type=int, default=0, help="PARSE_* bits (default 0, strict)")
    args = ap.parse_args()
    if not args.grammar and not args.grammar_file:
        ap.error("a grammar or --grammar-file is needed")
    from distributed import Client, LocalCluster
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        client = Client(LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True))
    grammar_file = os.path.abspath(args.grammar_file) if args.grammar_file else None
    try:
        records = validate_corpus(client, args.root, args.grammar, grammar_file,
                                  args.flags, args.max_errors, args.partition_size)
    finally:
        client.close()
    out = sys.stdout
    for r in records:
        out.write(json.dumps(r, ensure_ascii=False, separators=(",", ":")) + "\n")
    invalid = sum(1 for r in records if r["status"] == "invalid")
    unreadable = sum(1 for r in records if r["status"] == "unreadable")
    sys.stderr.write("%d files: %d valid, %d invalid, %d unreadable\n"
                     % (len(records), len(records) - invalid - unreadable, invalid, unreadable))
    return 1 if invalid else 3 if unreadable else 0


if __name__ == "__main__":
    sys.exit(main())
