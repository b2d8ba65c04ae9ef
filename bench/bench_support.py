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
