#!/usr/bin/env python3
"""examples/dask_validate.py on a LocalCluster of two workers against `tarvo
check -r --format json` over the same generated corpus: the same documents
in the same order, each record equal field by field.

The corpus: DOCUMENTS copies of the examples of lumoDiagram and heatmap
(valid and invalid ones), a document with several mistakes and one that is
not well-formed, in nested directories. Exits 77 (skipped) when dask or
distributed cannot be imported. Environment: TARVO (the command), and the
tarvo module on PYTHONPATH.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
EXAMPLES = os.path.join(ROOT, "examples")
DOCUMENTS = int(os.environ.get("DOCUMENTS", "20000"))

MISTAKES = b"""<?xml version="1.0"?>
<Heatmap title="t">
  <Colors gradient_color_space="hsvs"/>
  <Bogus/>
  <Element id="a"/>
  <Elemnt/>
</Heatmap>
"""


def load_example():
    sys.path.insert(0, EXAMPLES)
    import dask_validate
    return dask_validate


def write_corpus(root, grammar, count):
    """`count` files copied round-robin from the grammar's examples (and,
    for heatmap, the hand-made mistakes)."""
    folder = os.path.join(EXAMPLES, grammar)
    docs = []
    for name in sorted(os.listdir(folder)):
        if name.endswith(".xml"):
            with open(os.path.join(folder, name), "rb") as f:
                docs.append((name, f.read()))
    if grammar == "heatmap":
        docs += [("mistakes.xml", MISTAKES), ("broken.xml", MISTAKES[:60])]
    for i in range(count):
        name, data = docs[i % len(docs)]
        sub = os.path.join(root, "%02d" % (i % 37), "%04d" % (i // 37 % 100))
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "%05d-%s" % (i, name)), "wb") as f:
            f.write(data)


def main():
    try:
        from distributed import Client, LocalCluster
    except ImportError as e:
        print("skipped: %s" % e)
        return 77
    example = load_example()
    tarvo = os.environ["TARVO"]
    work = tempfile.mkdtemp(prefix="tarvo-dask-")
    cluster = client = None
    try:
        # Most of the corpus is lumoDiagram; heatmap brings the keep-going
        # mistakes, notes and suggestions.
        corpora = [("lumoDiagram", DOCUMENTS * 3 // 4), ("heatmap", DOCUMENTS - DOCUMENTS * 3 // 4)]
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
        failures = 0
        for grammar, count in corpora:
            root = os.path.join(work, grammar)
            write_corpus(root, grammar, count)
            done = subprocess.run([tarvo, "check", "-r", "--format", "json", grammar, root],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            if done.returncode not in (0, 1):
                print("tarvo check failed (%d): %s" % (done.returncode, done.stderr.decode()[:2000]))
                return 1
            expected = [json.loads(line) for line in done.stdout.decode("utf-8").splitlines()]
            got = example.validate_corpus(client, root, grammar=grammar, partition_size=400)
            if len(got) != len(expected) or len(got) != count:
                print("%s: %d records from Dask, %d from tarvo check, %d documents" % (
                    grammar, len(got), len(expected), count))
                return 1
            for g, e in zip(got, expected):
                for key in sorted(set(g) | set(e)):
                    if g.get(key) != e.get(key):
                        failures += 1
                        if failures <= 10:
                            print("%s: %s differs:\n  dask:  %r\n  check: %r" % (e["path"], key, g.get(key),
                                                                             e.get(key)))
            invalid = sum(1 for r in got if not r["valid"])
            print("%s: %d documents, %d invalid, records equal: %s" % (grammar, count, invalid, failures == 0))
            if invalid == 0 or invalid == count:
                print("%s: the corpus should mix valid and invalid documents" % grammar)
                return 1
        return 1 if failures else 0
    finally:
        if client is not None:
            client.close()
        if cluster is not None:
            cluster.close()
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
