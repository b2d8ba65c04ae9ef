"""What the Python benchmarks share: no-op callables for every element of a
built-in grammar. Runs under Python 2.7 and Python 3."""
import os
import re

SCHEMAS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "schemas")


def grammar_elements(grammar):
    """Element names of a built-in grammar, read from its source file."""
    for entry in sorted(os.listdir(SCHEMAS)):
        if not entry.endswith(".grammar"):
            continue
        with open(os.path.join(SCHEMAS, entry)) as f:
            source = f.read()
        if re.search(r"^grammar\s+%s\s*$" % re.escape(grammar), source, re.M):
            return re.findall(r"^element\s+\d+\s+(\S+)", source, re.M)
    raise SystemExit("no grammar %r under %s" % (grammar, SCHEMAS))


def start(name, attributes):
    pass


def text(name, data):
    pass


def end(name):
    pass


def no_op_callbacks(grammar):
    """The callbacks argument with no-op start, text and end for every element."""
    return dict((e, [start, text, end]) for e in grammar_elements(grammar))


def _spin(n):
    x = 0
    for i in range(n):
        x += i
    return x


def parallel_control(jobs, work=2000000):
    """The speed-up the machine gives right now to `jobs` processes doing
    the same pure computation at once, over one doing it alone: the most a
    run on `jobs` threads could gain at that moment on a shared machine."""
    import multiprocessing
    import time
    t0 = time.time()
    _spin(work)
    one = time.time() - t0
    workers = [multiprocessing.Process(target=_spin, args=(work,)) for _ in range(jobs)]
    t0 = time.time()
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    return jobs * one / (time.time() - t0)
