#!/usr/bin/env python3
"""`tarvo check` against `xmllint --noout --valid` on many small documents.

Writes --count (default 5,000) lumoCodeCoverage documents of about --size-kb
KiB each, every one with a DOCTYPE naming the equivalent DTD written next to
them, then runs each tool once over all of them (one process, one thread),
--repeat times, and prints files per second (median and best) and the ratio.

    cmake --preset default && cmake --build --preset default
    python3 bench/many_files.py --build build
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(argv):
    t0 = time.perf_counter()
    done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - t0
    if done.returncode != 0:
        sys.exit("%s failed (exit %d):\n%s" % (argv[0], done.returncode, done.stderr.decode()[:2000]))
    return elapsed


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default="build", help="build directory (default build)")
    ap.add_argument("--count", type=int, default=5000, help="documents (default 5000)")
    ap.add_argument("--size-kb", type=int, default=4, help="size of each in KiB (default 4)")
    ap.add_argument("--repeat", type=int, default=5, help="runs of each tool (default 5)")
    args = ap.parse_args()

    tarvo = next((p for p in (os.path.join(args.build, "tarvo"), os.path.join(args.build, "tools", "cli", "tarvo"))
                  if os.path.exists(p)), None)
    if not tarvo:
        sys.exit("no tarvo binary under %s" % args.build)
    bench = os.path.join(args.build, "bench", "tarvo-bench")
    xmllint = shutil.which("xmllint")
    if not xmllint:
        sys.exit("xmllint not found (Debian libxml2-utils)")
    work = tempfile.mkdtemp(prefix="tarvo-many-")
    try:
        subprocess.run([bench, "--write-small-documents", work, "--small-files", str(args.count),
                        "--size-kb", str(args.size_kb)], check=True, stdout=subprocess.DEVNULL)
        files = sorted(os.path.join(work, f) for f in os.listdir(work) if f.endswith(".xml"))
        size = sum(os.path.getsize(f) for f in files)
        runs = {
            "tarvo check": [tarvo, "check", "lumoCodeCoverage"] + files,
            "xmllint --noout --valid": [xmllint, "--noout", "--valid"] + files,
        }
        times = dict((name, []) for name in runs)
        for _ in range(args.repeat):  # round-robin, so a slow moment hits both
            for name, argv in runs.items():
                times[name].append(timed(argv))
        print("%d documents, %.0f bytes on average, %d runs each (load average %.2f)"
              % (len(files), size / len(files), args.repeat, os.getloadavg()[0]))
        for name, t in times.items():
            print("  %-24s median %7.3f s  %8.0f files/s   best %7.3f s  %8.0f files/s"
                  % (name, statistics.median(t), len(files) / statistics.median(t), min(t), len(files) / min(t)))
        tv, xl = times["tarvo check"], times["xmllint --noout --valid"]
        print("  tarvo check / xmllint: %.2fx (median), %.2fx (best)"
              % (statistics.median(xl) / statistics.median(tv), min(xl) / min(tv)))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
