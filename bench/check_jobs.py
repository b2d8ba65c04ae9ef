#!/usr/bin/env python3
"""`tarvo check -j` against `-j 1`, and `tarvo check` on one large document.

Jobs: copies every document under examples/ --copies times (default 2,000
copies of the whole set) into a temporary tree, one directory per grammar,
then checks each grammar's directory with `tarvo check -r -q`, and the
whole tree with one `tarvo check -r -q -a`, once with `-j 1` and once with
`-j N` (default: the number of cores), --repeat times round-robin, with
each binary given by --tarvo (several may be given to compare builds in
the same run). Prints, for each way, the median and best time of the whole
set per job count, files per second and the speed-up, with the load
average and a control: how much faster N processes of pure computation ran
than one at the time (on a quiet machine N, on a shared one less). The
outputs of both job counts must be identical.

Single file (--document): times `tarvo check lumoCodeCoverage DOC` with
each binary given by --tarvo (several may be given: the builds run
alternately), --repeat times, and prints the median and best MB/s of each.
`tarvo-bench --write-document DOC` writes the document.

    python3 bench/check_jobs.py --build build
    python3 bench/check_jobs.py --tarvo old/tarvo --tarvo build/tarvo
    python3 bench/check_jobs.py --document big.xml --tarvo old/tarvo --tarvo build/tarvo
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from bench_support import parallel_control

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
EXAMPLES = os.path.join(ROOT, "examples")


def timed(argv, ok=(0, 1)):
    t0 = time.perf_counter()
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - t0
    if done.returncode not in ok:
        sys.exit("%s failed (exit %d):\n%s" % (" ".join(argv[:3]), done.returncode, done.stderr.decode()[:2000]))
    return elapsed, done.stdout + done.stderr


def write_copies(work, copies):
    """One directory per grammar with `copies` copies of its examples; the
    check command of each, without -j; the number of files."""
    commands, count = [], 0
    for grammar in sorted(os.listdir(EXAMPLES)):
        src = os.path.join(EXAMPLES, grammar)
        docs = sorted(f for f in os.listdir(src) if f.endswith(".xml")) if os.path.isdir(src) else []
        if not docs:
            continue
        dst = os.path.join(work, grammar)
        for i in range(copies):
            sub = os.path.join(dst, "%03d" % (i // 100), "%05d" % i)
            os.makedirs(sub)
            for d in docs:
                shutil.copyfile(os.path.join(src, d), os.path.join(sub, d))
        count += copies * len(docs)
        grammar_file = os.path.join(src, grammar + ".grammar")
        which = ["--grammar-file", grammar_file] if os.path.exists(grammar_file) else [grammar]
        commands.append(which + [dst])
    return commands, count


def jobs_run(args):
    binaries = args.tarvo or [os.path.join(args.build, "tarvo")]
    jobs = args.jobs or os.cpu_count()
    work = tempfile.mkdtemp(prefix="tarvo-jobs-")
    try:
        commands, count = write_copies(work, args.copies)
        # Two ways to check the tree: a command per grammar's directory, and
        # one command over the whole tree, each document against the grammar
        # its head names (-a; the recipe copies name none a build has).
        ways = [("a command per grammar", commands), ("one command, -a", [["-a", work]])]
        runs = [(w, b, j) for w in range(len(ways)) for b in binaries for j in (1, jobs)]
        times = dict((r, []) for r in runs)
        outputs = {}
        loads = []
        controls = []

        def check(w, b, j):
            """Every command of way `w` with binary `b` and -j `j`: the total
            time and the outputs joined."""
            total, out = 0.0, b""
            for c in ways[w][1]:
                t, o = timed([b, "check", "-r", "-q", "-j", str(j)] + c)
                total += t
                out += o
            return total, out

        for _ in range(args.repeat):
            for w, b, j in runs:
                total, out = check(w, b, j)
                times[(w, b, j)].append(total)
                outputs.setdefault((w, b, j), out)
                loads.append(os.getloadavg()[0])
            # After the runs, and followed by one untimed run: its processes
            # leave cold caches, which the next round's first run would pay.
            controls.append(parallel_control(jobs))
            check(*runs[0])
        for w, b, j in runs:
            if outputs[(w, b, 1)] != outputs[(w, b, j)]:
                sys.exit("%s: -j 1 and -j %d printed different outputs" % (b, jobs))
        print("%d files (%d copies of the examples), %d grammars, %d runs each, load average %.1f-%.1f"
              % (count, args.copies, len(commands), args.repeat, min(loads), max(loads)))
        for w, (way, _) in enumerate(ways):
            print("  %s" % way)
            for b in binaries:
                print("    %s" % b)
                for j in (1, jobs):
                    t = times[(w, b, j)]
                    print("      -j %-3d median %7.3f s  %8.0f files/s   best %7.3f s  %8.0f files/s"
                          % (j, statistics.median(t), count / statistics.median(t), min(t), count / min(t)))
                one, many = times[(w, b, 1)], times[(w, b, jobs)]
                print("      speed-up -j %d / -j 1: %.2fx (median), %.2fx (best)"
                      % (jobs, statistics.median(one) / statistics.median(many), min(one) / min(many)))
        print("  control: %d processes of pure computation ran %.2fx (median; %.2f-%.2f) faster than one"
              % (jobs, statistics.median(controls), min(controls), max(controls)))
    finally:
        shutil.rmtree(work)


def single_run(args):
    binaries = args.tarvo or [os.path.join(args.build, "tarvo")]
    size = os.path.getsize(args.document) / float(1 << 20)
    times = dict((b, []) for b in binaries)
    loads = []
    for _ in range(args.repeat):
        for b in binaries:
            times[b].append(timed([b, "check", "lumoCodeCoverage", args.document], ok=(0,))[0])
            loads.append(os.getloadavg()[0])
    print("%s: %.1f MiB, %d runs each, load average %.1f-%.1f"
          % (args.document, size, args.repeat, min(loads), max(loads)))
    for b, t in times.items():
        print("  %-28s median %7.3f s  %7.1f MB/s   best %7.3f s  %7.1f MB/s"
              % (b, statistics.median(t), size / statistics.median(t), min(t), size / min(t)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default="build", help="build directory (default build)")
    ap.add_argument("--tarvo", action="append", help="the tarvo binary (default BUILD/tarvo); repeat to compare")
    ap.add_argument("--copies", type=int, default=2000, help="copies of the examples (default 2000)")
    ap.add_argument("--jobs", type=int, default=0, help="N for -j N (default: the number of cores)")
    ap.add_argument("--repeat", type=int, default=5, help="runs of each (default 5)")
    ap.add_argument("--document", help="time one large document instead")
    args = ap.parse_args()
    if args.document:
        single_run(args)
    else:
        jobs_run(args)


if __name__ == "__main__":
    main()
