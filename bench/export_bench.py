#!/usr/bin/env python3
"""Times `tarvo export` and `tarvo grammar` on grammars whose content models
are far larger than the grammar files, as bench/README.md reports.

The grammars are generated (the same every time):
  dense N      N elements, each of which may hold any of them in any order
               and number: every first list and row names all N
  costly N     the same, but element i may not come first inside itself, so
               that no two elements have the same content
  row N        one element whose first list holds N children, any one of them
  sequence N   one element holding N children in a fixed order

Each command runs as its own process; the table gives the wall-clock time,
the peak memory, the bytes written and the places the export listed as
loosened. `tarvo grammar --format json` is the cost of reading the grammar
file and nothing more. With --instructions each runs under callgrind
instead, which counts the instructions of the export or description call
alone (the grammar file's reading left out): steady however busy the
machine is, and about 50 times slower.

  python3 bench/export_bench.py [--tarvo build/tarvo] [--timeout 120] [--only dense400,row3000]
                                [--instructions]
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time


def grammar_text(name, elements):
    """elements: (name, first list, row 0) each."""
    out = ["grammar %s\nsource none\n" % name]
    for i, (element, first, row) in enumerate(elements):
        out.append("element %d %s\n  first %s\n  row 0 %s\n" % (i, element, first, row))
    return "".join(out)


def dense(n, distinct):
    names = ["e%d" % i for i in range(n)]
    every = " ".join(x + "/0" for x in names) + " END"
    return grammar_text("%s%d" % ("costly" if distinct else "dense", n), [
        (x, " ".join(y + "/0" for y in names if not (distinct and y == x)) + " END", every) for x in names])


def row(n):
    children = ["c%d" % i for i in range(n)]
    return grammar_text("row%d" % n, [("root", " ".join(c + "/0" for c in children) + " END", "END")] +
                        [(c, "END", "END") for c in children])


def sequence(n):
    children = ["c%d" % i for i in range(n)]
    return grammar_text("sequence%d" % n, [("root", "c0/0", "END")] +
                        [(c, "END", children[i + 1] + "/0" if i + 1 < n else "END") for i, c in enumerate(children)])


GRAMMARS = {
    "dense100": lambda: dense(100, False),
    "dense400": lambda: dense(400, False),
    "costly100": lambda: dense(100, True),
    "costly400": lambda: dense(400, True),
    "row3000": lambda: row(3000),
    "sequence2000": lambda: sequence(2000),
}

# (label, arguments after the grammar file, the library call that does the
# work); ELEMENT stands for an element in the middle of the grammar.
COMMANDS = [
    ("export rng", ["export", "--format", "rng"], "tarvo::export_rng*"),
    ("export dtd", ["export", "--format", "dtd"], "tarvo::export_dtd*"),
    ("grammar text", ["grammar", "--format", "text"], "tarvo::describe_text*"),
    ("grammar dot", ["grammar", "--format", "dot"], "tarvo::describe_dot*"),
    ("grammar json", ["grammar", "--format", "json"], "tarvo::describe_json*"),
    ("grammar ELEMENT", ["grammar", "ELEMENT"], "tarvo::describe_text*"),
]


def instructions(tarvo, args, function, timeout):
    """Instructions spent in `function` by one run, or None on timeout."""
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "callgrind.out")
        try:
            p = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                                "--toggle-collect=" + function, tarvo] + args,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        for line in p.stderr.decode("utf-8", "replace").splitlines():
            if "Collected :" in line:
                return int(line.split()[-1])
        raise SystemExit("no count from callgrind for %s" % " ".join(args))


def run(tarvo, args, timeout):
    """(seconds, peak MiB, bytes written, loosened places) of one run; seconds is None on timeout."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        start = time.monotonic()
        p = subprocess.Popen([tarvo] + args, stdout=out, stderr=err)
        deadline = start + timeout
        while True:
            pid, status, usage = os.wait4(p.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > deadline:
                p.kill()
                os.wait4(p.pid, 0)
                return None, None, None, None
            time.sleep(0.005)
        seconds = time.monotonic() - start
        out.seek(0, os.SEEK_END)
        err.seek(0)
        loosened = sum(1 for line in err.read().decode("utf-8", "replace").splitlines() if "accepts more" in line)
        if os.waitstatus_to_exitcode(status) != 0:
            raise SystemExit("%s failed" % " ".join(args))
        return seconds, usage.ru_maxrss / 1024.0, out.tell(), loosened


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tarvo", default=os.environ.get("TARVO", "build/tarvo"))
    ap.add_argument("--timeout", type=float, default=120.0, help="seconds before a run is stopped")
    ap.add_argument("--only", help="comma-separated grammars (%s)" % ", ".join(GRAMMARS))
    ap.add_argument("--instructions", action="store_true", help="count instructions under callgrind")
    opts = ap.parse_args()
    names = opts.only.split(",") if opts.only else list(GRAMMARS)
    work = tempfile.mkdtemp(prefix="tarvo-export-bench-")
    try:
        if opts.instructions:
            print("| grammar | file | command | instructions |")
            print("|---|---:|---|---:|")
        else:
            print("| grammar | file | command | time | peak memory | written | loosened |")
            print("|---|---:|---|---:|---:|---:|---:|")
        for name in names:
            path = os.path.join(work, name + ".grammar")
            text = GRAMMARS[name]()
            with open(path, "w") as f:
                f.write(text)
            element = text.split("\nelement ")[len(text.split("\nelement ")) // 2].split()[1]
            for label, args, function in COMMANDS:
                args = [a.replace("ELEMENT", element) for a in args]
                args = args[:1] + ["--grammar-file", path] + args[1:]
                if opts.instructions:
                    count = instructions(opts.tarvo, args, function, opts.timeout)
                    print("| %s | %.0f KB | `%s` | %s |" % (name, len(text) / 1e3, label.replace("ELEMENT", element),
                                                          "> %.0f s" % opts.timeout if count is None else
                                                          "{:,}".format(count)))
                    sys.stdout.flush()
                    continue
                seconds, mib, written, loosened = run(opts.tarvo, args, opts.timeout)
                shown = ("> %.0f s" % opts.timeout, "", "", "") if seconds is None else (
                    "%.2f s" % seconds, "%.0f MiB" % mib, "%.1f MB" % (written / 1e6),
                    str(loosened) if label.startswith("export") else "")
                print("| %s | %.0f KB | `%s` | %s | %s | %s | %s |" % (
                    name, len(text) / 1e3, label.replace("ELEMENT", element), *shown))
                sys.stdout.flush()
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
