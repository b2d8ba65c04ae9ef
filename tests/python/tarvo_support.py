# Shared pieces of the tarvo module tests: sample documents, a temporary
# directory per test and callables that record what they receive. Runs
# unchanged under Python 2.7 and Python 3.
import os
import shutil
import sys
import tempfile
import unittest

import tarvo

PY2 = sys.version_info[0] == 2

GRAMMARS = [
    "lumoTools", "lumoCodeCoverage", "lumoDiagram", "lumoDocument",
    "lumoDictionaryObjects", "lumoMSCBasedSystemCheckReport", "lumoProject",
    "PrintLanguage", "DigitalTwinAPI", "dictionary", "bpmn_project", "heatmap",
]

# Heatmap with a Colors element and two Element children; every attribute
# that is left out has a default.
HEATMAP = b"""<?xml version="1.0"?>
<Heatmap title="Ward load" min_value="0">
  <Colors init_alpha="0.5"/>
  <Element model_file="wards.bpmn" id="A" value="3"/>
  <Element model_file="wards.bpmn" id="B" value="7" label="Triage"></Element>
</Heatmap>
"""

HEATMAP_EVENTS = [
    ("start", "Heatmap", {"title": "Ward load", "min_value": "0", "max_value": "-"}),
    ("start", "Colors", {"init_alpha": "0.5", "gradient_color_space": "HSVs",
                         "min_color": "#00FF00", "max_color": "#FF0000"}),
    ("end", "Colors"),
    ("start", "Element", {"model_file": "wards.bpmn", "id": "A", "value": "3", "label": ""}),
    ("end", "Element"),
    ("start", "Element", {"model_file": "wards.bpmn", "id": "B", "value": "7", "label": "Triage"}),
    ("end", "Element"),
    ("end", "Heatmap"),
]

HEATMAP_ELEMENTS = ("Heatmap", "Colors", "Element")

# Character data in two elements, with entities.
DICTIONARY = b"""<?xml version="1.0"?>
<dictionary>
  <translation>
    <source>&amp;Open</source>
    <target>&amp;Ouvrir</target>
  </translation>
  <translation><source>Close &lt;all&gt;</source><target>Fermer &quot;tout&quot;</target></translation>
</dictionary>
"""

DICTIONARY_EVENTS = [
    ("start", "dictionary", {}),
    ("start", "translation", {}),
    ("start", "source", {}), ("text", "source", "&Open"), ("end", "source"),
    ("start", "target", {}), ("text", "target", "&Ouvrir"), ("end", "target"),
    ("end", "translation"),
    ("start", "translation", {}),
    ("start", "source", {}), ("text", "source", "Close <all>"), ("end", "source"),
    ("start", "target", {}), ("text", "target", 'Fermer "tout"'), ("end", "target"),
    ("end", "translation"),
    ("end", "dictionary"),
]

DICTIONARY_ELEMENTS = ("dictionary", "translation", "source", "target")

COVERAGE = b"""<?xml version="1.0"?>
<CodeCoverageResults displayMode="yesno">
  <CodeCoverageResultNode name="system" maxHit="4" minHit="0" type="sys">
    <CoveringTestcase>tc_1</CoveringTestcase>
    <CodeCoverageResultNode name="p1" maxHit="1" minHit="1" type="state"/>
  </CodeCoverageResultNode>
</CodeCoverageResults>
"""

PROJECT = b"""<?xml version="1.0"?>
<BpmnProject>
  <ElementNode file_name="order.bpmn" type="bpmn_model">
    <ElementNode file_name="load.xml" type="heatmap"/>
  </ElementNode>
</BpmnProject>
"""


def raw(s):
    """The document bytes that a string received from tarvo stands for."""
    if PY2:
        return s
    return s.encode("utf-8", "surrogateescape")


class Recorder(object):
    """Start, text and end callables that log every call in order."""

    def __init__(self):
        self.events = []

    def start(self, name, attributes):
        self.events.append(("start", name, attributes))

    def text(self, name, text):
        self.events.append(("text", name, text))

    def end(self, name):
        self.events.append(("end", name))

    def triple(self):
        return [self.start, self.text, self.end]

    def callbacks(self, elements):
        return dict((e, self.triple()) for e in elements)


class DocumentTestCase(unittest.TestCase):
    """Gives every test its own directory for the documents it writes."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarvo-test-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def parse_error(self, grammar, callbacks, path, flags=0):
        """Runs a parse that must fail with ParseError and returns the error."""
        try:
            tarvo.parse(grammar, callbacks, path, flags)
        except tarvo.ParseError as e:
            return e
        self.fail("no ParseError for %r" % (path,))
