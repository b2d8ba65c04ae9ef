#!/usr/bin/env python3
"""tarvo.validate_many() on one and on N threads, against a Python loop over
tarvo.validate() and a Python loop over lxml's DTD validation.

Copies the lumoDiagram examples (three valid, one invalid, 0.6 to 3.4 KB)
round-robin into --files files (default 5,000) in a temporary directory,
writes the grammar's DTD with `tarvo export --format dtd`, and times, --repeat
times round-robin (default 7):

  validate_many jobs=1     tarvo.validate_many("lumoDiagram", paths, jobs=1)
  validate_many jobs=N     the same with jobs=N (default: the number of cores)
  validate loop            [tarvo.validate("lumoDiagram", p) for p in paths]
  lxml DTD loop            [dtd.validate(etree.parse(p)) for p in paths]

Every contender must find the same documents valid. Prints the median and
best time of each, files per second, the speed-up of jobs=N over jobs=1 and
the ratios to the lxml loop, with the load average seen during the runs
and a control: how much faster N processes of pure computation ran than
one at the time.
Needs lxml (Debian's python3-lxml: run it with /usr/bin/python3) and the
module built for that interpreter:

    PYTHONPATH=build/python/3.11 /usr/bin/python3 bench/validate_many.py --build build
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import tarvo
from bench_support import parallel_control

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
GRAMMAR = "lumoDiagram"


def write_files(work, count):
    folder = os.path.join(ROOT, "examples", GRAMMAR)
    docs = []
    for name in sorted(os.listdir(folder)):
        if name.endswith(".xml"):
            with open(os.path.join(folder, name), "rb") as f:
                docs.append((name, f.read()))
    paths = []
    for i in range(count):
        name, data = docs[i % len(docs)]
        sub = os.path.join(work, "%03d" % (i // 100))
        if i % 100 == 0:
            os.makedirs(sub)
        path = os.path.join(sub, "%05d-%s" % (i, name))
        with open(path, "wb") as f:
            f.write(data)
        paths.append(path)
    return paths


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default="build", help="build directory, for its tarvo command (default build)")
    ap.add_argument("--files", type=int, default=5000, help="documents (default 5000)")
    ap.add_argument("--jobs", type=int, default=0, help="N for jobs=N (default: the number of cores)")
    ap.add_argument("--repeat", type=int, default=7, help="runs of each (default 7)")
    args = ap.parse_args()
    from lxml import etree

    jobs = args.jobs or os.cpu_count()
    work = tempfile.mkdtemp(prefix="tarvo-many-")
    try:
        paths = write_files(work, args.files)
        dtd_path = os.path.join(work, GRAMMAR + ".dtd")
        subprocess.run([os.path.join(args.build, "tarvo"), "export", "--format", "dtd", GRAMMAR, "-o", dtd_path],
                       check=True)
        dtd = etree.DTD(dtd_path)

        def lxml_loop():
            return [dtd.validate(etree.parse(p)) for p in paths]

        contenders = [
            ("validate_many jobs=1", lambda: [r.valid for r in tarvo.validate_many(GRAMMAR, paths, jobs=1)]),
            ("validate_many jobs=%d" % jobs, lambda: [r.valid for r in tarvo.validate_many(GRAMMAR, paths, jobs=jobs)]),
            ("validate loop", lambda: [tarvo.validate(GRAMMAR, p).valid for p in paths]),
            ("lxml DTD loop", lxml_loop),
        ]
        times = dict((name, []) for name, _ in contenders)
        verdicts = {}
        loads = []
        controls = []
        for _ in range(args.repeat):
            for name, run in contenders:
                t0 = time.perf_counter()
                verdict = run()
                times[name].append(time.perf_counter() - t0)
                verdicts.setdefault(name, verdict)
                loads.append(os.getloadavg()[0])
            # After the runs, and followed by one untimed run: its processes
            # leave cold caches, which the next round's first run would pay.
            controls.append(parallel_control(jobs))
            contenders[0][1]()
        first = verdicts[contenders[0][0]]
        for name, verdict in verdicts.items():
            if verdict != first:
                sys.exit("%s disagrees with validate_many about which documents are valid" % name)
        print("%d %s documents (%d valid), %d runs each, Python %s, load average %.1f-%.1f"
              % (len(paths), GRAMMAR, sum(first), args.repeat, sys.version.split()[0], min(loads), max(loads)))
        lxml_median = statistics.median(times["lxml DTD loop"])
        for name, t in times.items():
            m = statistics.median(t)
            print("  %-22s median %7.3f s %8.0f files/s   best %7.3f s   %5.1fx the lxml loop"
                  % (name, m, len(paths) / m, min(t), lxml_median / m))
        one, many = times["validate_many jobs=1"], times["validate_many jobs=%d" % jobs]
        print("  speed-up jobs=%d / jobs=1: %.2fx (median), %.2fx (best)"
              % (jobs, statistics.median(one) / statistics.median(many), min(one) / min(many)))
        print("  control: %d processes of pure computation ran %.2fx (median; %.2f-%.2f) faster than one"
              % (jobs, statistics.median(controls), min(controls), max(controls)))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
