# Shared pieces of the tarvo module tests: sample documents, a directory per
# test and callables that record what they receive. Python 2.7 and 3.
import os
import shutil
import signal
import sys
import tempfile
import unittest

import tarvo

PY2 = sys.version_info[0] == 2
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BUILT_IN = ["lumoTools", "lumoCodeCoverage", "lumoDiagram", "lumoDocument", "lumoDictionaryObjects",
            "lumoMSCBasedSystemCheckReport", "lumoProject", "PrintLanguage", "DigitalTwinAPI", "dictionary",
            "bpmn_project", "heatmap"]
HIGH = bytes(bytearray(range(0x80, 0x100)))

# Every attribute left out has a default.
HEATMAP = b"""<?xml version="1.0"?>
<Heatmap title="Ward load" min_value="0">
  <Colors init_alpha="0.5"/>
  <Element model_file="wards.bpmn" id="A" value="3"/>
  <Element model_file="wards.bpmn" id="B" value="7" label="Triage"></Element>
</Heatmap>
"""
HEATMAP_ELEMENTS = ("Heatmap", "Colors", "Element")
HEATMAP_EVENTS = [
    ("start", "Heatmap", {"title": "Ward load", "min_value": "0", "max_value": "-"}),
    ("start", "Colors", {"init_alpha": "0.5", "gradient_color_space": "HSVs", "min_color": "#00FF00",
                         "max_color": "#FF0000"}), ("end", "Colors"),
    ("start", "Element", {"model_file": "wards.bpmn", "id": "A", "value": "3", "label": ""}), ("end", "Element"),
    ("start", "Element", {"model_file": "wards.bpmn", "id": "B", "value": "7", "label": "Triage"}),
    ("end", "Element"), ("end", "Heatmap")]

DICTIONARY = b"""<?xml version="1.0"?>
<dictionary>
  <translation><source>&amp;Open</source><target>&amp;Ouvrir</target></translation>
  <translation><source>Close &lt;all&gt;</source><target>Fermer &quot;tout&quot;</target></translation>
</dictionary>
"""
DICTIONARY_ELEMENTS = ("dictionary", "translation", "source", "target")
DICTIONARY_EVENTS = [("start", "dictionary", {})] + [e for source, target in [
    ("&Open", "&Ouvrir"), ("Close <all>", 'Fermer "tout"')] for e in [
    ("start", "translation", {}), ("start", "source", {}), ("text", "source", source), ("end", "source"),
    ("start", "target", {}), ("text", "target", target), ("end", "target"), ("end", "translation")]] + [
    ("end", "dictionary")]


def no_version(doc):
    """The document with a declaration that draws a warning."""
    return b'<?xml encoding="UTF-8"?>' + doc[doc.index(b"?>") + 2:]


def raw(s):
    """The document bytes that a string received from tarvo stands for."""
    return s if PY2 else s.encode("utf-8", "surrogateescape")


class Failure(Exception):
    pass


class Interrupted(Exception):
    """What on_alarm()'s own handler raises."""


def raised(error, function, *args, **kwargs):
    """The `error` (a class or a tuple of them) that the call raises; an AssertionError when it raises none."""
    try:
        function(*args, **kwargs)
    except error as e:
        return e
    raise AssertionError("no %r from %s with %r %r" % (error, getattr(function, "__name__", function), args, kwargs))


def on_alarm(test, handler=None, interval=0):
    """SIGALRM calls `handler` (by default one raising Interrupted) until `test`
    ends, every `interval` seconds if given."""
    def interrupt(signum, frame):
        raise Interrupted()
    test.addCleanup(signal.signal, signal.SIGALRM, signal.signal(signal.SIGALRM, handler or interrupt))
    test.addCleanup(signal.setitimer, signal.ITIMER_REAL, 0)
    signal.setitimer(signal.ITIMER_REAL, interval, interval)


class Recorder(object):
    """Start, text and end callables that log every call in order. The first
    event that begins with `stop` raises `error` (a new Failure by default)
    once logged."""

    def __init__(self, stop=None, error=None):
        self.events, self.stop, self.error = [], stop, error

    def log(self, *event):
        self.events.append(event)
        if self.stop and event[:len(self.stop)] == self.stop:
            raise self.error or Failure()
        return event  # a new object for the module to release

    def start(self, name, attributes):
        event = self.log("start", name, dict(attributes))
        attributes["changed"] = "by the caller"  # whose own it is: must not reach the next start
        return event

    def text(self, name, text):
        return self.log("text", name, text)

    def end(self, name):
        return self.log("end", name)

    def triple(self):
        return [self.start, self.text, self.end]

    def callbacks(self, elements):
        return dict((e, self.triple()) for e in elements)


def outcome(function, *args):
    """("ok", result), ("error", errors, warnings) or ("raised", Failure arguments...) of one call."""
    try:
        return ("ok", function(*args))
    except tarvo.ParseError as e:
        assert e.args == ("\n".join(e.errors),), e.args  # its text is the error text
        # Its records hold the same messages.
        assert [[d.message for d in e.diagnostics if d.severity == s] for s in ("error", "warning")] == [
            e.errors, e.warnings], e.diagnostics
        return ("error", e.errors, e.warnings)
    except Failure as e:
        return ("raised",) + e.args


class DocumentTestCase(unittest.TestCase):
    """Gives every test its own directory for the documents it writes."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarvo-test-")
        self.addCleanup(shutil.rmtree, self.dir)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path
