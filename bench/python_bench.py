#!/usr/bin/env python
"""tarvo against pyexpat, in the same interpreter, on one large document.

Both get no-op start, text and end callables: tarvo for every element of the
grammar, pyexpat with buffer_text on. Prints events per second and MB/s for
each (best of --repeat runs) and tarvo's speed as a multiple of pyexpat's.
tarvo is timed twice: reading the file, which a document of 1 MiB or more
on a machine with more than one core is read ahead on a second thread, and
reading the same bytes from a bytearray, which is always read on the calling
thread alone.

    build/bench/tarvo-bench --write-document /tmp/doc.xml
    PYTHONPATH=build/python/3.11 python3.11 bench/python_bench.py \\
        --file /tmp/doc.xml --grammar lumoCodeCoverage

Runs under Python 2.7 and Python 3.
"""
from __future__ import print_function

import argparse
import os
import sys
import time
import xml.parsers.expat

import tarvo
from bench_support import end, no_op_callbacks, start


def expat_text(data):
    pass


def run_tarvo(path, grammar, callbacks):
    tarvo.parse(grammar, callbacks, path, 0)


def run_tarvo_one_thread(data, grammar, callbacks):
    tarvo.parse_bytes(grammar, callbacks, data, 0)


def run_expat(path, handlers):
    parser = xml.parsers.expat.ParserCreate()
    parser.buffer_text = True
    parser.StartElementHandler, parser.CharacterDataHandler, parser.EndElementHandler = handlers
    with open(path, "rb") as f:
        parser.ParseFile(f)


def count_events(path, grammar, elements):
    """Events each reader delivers, from one untimed run with counting
    callables."""
    counts = [0, 0]

    def bump(i):
        def f(*args):
            counts[i] += 1
        return f

    tarvo.parse(grammar, dict((e, [bump(0)] * 3) for e in elements), path, 0)
    run_expat(path, [bump(1)] * 3)
    return counts


def best_time(repeat, function, *args):
    best = None
    for _ in range(repeat):
        t0 = time.time()
        function(*args)
        elapsed = time.time() - t0
        best = elapsed if best is None else min(best, elapsed)
    return best


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--file", required=True, help="document to read")
    ap.add_argument("--grammar", required=True, help="built-in grammar the document is valid against")
    ap.add_argument("--repeat", type=int, default=3, help="runs of each reader; the best counts (default 3)")
    args = ap.parse_args()

    callbacks = no_op_callbacks(args.grammar)
    elements = list(callbacks)
    size_mb = os.path.getsize(args.file) / 1e6

    warnings = tarvo.parse(args.grammar, callbacks, args.file, 0)  # also warms the page cache
    if warnings:
        print("tarvo warnings:\n" + warnings)
    tarvo_events, expat_events = count_events(args.file, args.grammar, elements)

    with open(args.file, "rb") as f:
        data = bytearray(f.read())
    tarvo_s = best_time(args.repeat, run_tarvo, args.file, args.grammar, callbacks)
    one_thread_s = best_time(args.repeat, run_tarvo_one_thread, data, args.grammar, callbacks)
    expat_s = best_time(args.repeat, run_expat, args.file, [start, expat_text, end])

    print("Python %s, %s: %.1f MB, grammar %s, %d element(s) registered, best of %d"
          % (sys.version.split()[0], args.file, size_mb, args.grammar, len(elements), args.repeat))
    for label, events, seconds in (("tarvo", tarvo_events, tarvo_s), ("tarvo, one thread", tarvo_events, one_thread_s),
                                   ("pyexpat", expat_events, expat_s)):
        print("  %-17s %6.3f s  %11.0f events/s  %7.1f MB/s  (%d events)"
              % (label, seconds, events / seconds, size_mb / seconds, events))
    print("  tarvo / pyexpat: %.2fx (MB/s); on one thread %.2fx" % (expat_s / tarvo_s, expat_s / one_thread_s))


if __name__ == "__main__":
    main()
