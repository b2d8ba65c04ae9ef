# Reference discipline over many parses: every reference the module takes is
# given back, on success, on ParseError and on a raising callable, and the
# process does not grow.
import gc
import os
import sys
import unittest

import tarvo
from tarvo_support import DICTIONARY, DICTIONARY_ELEMENTS, HEATMAP, HEATMAP_ELEMENTS, DocumentTestCase

PARSES = 10000
SANITIZED = os.environ.get("TARVO_TEST_SANITIZED") == "1"


def resident_bytes():
    try:
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except (IOError, OSError, ValueError):
        import resource
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


class Failure(Exception):
    pass


class ReferenceTest(DocumentTestCase):
    def setUp(self):
        DocumentTestCase.setUp(self)
        # Warnings, and an undeclared attribute that is delivered.
        warn = b'<?xml encoding="UTF-8"?>' + HEATMAP[HEATMAP.index(b"?>") + 2:].replace(b"<Colors", b"<Colors shade=\"dark\"")
        bad = b'<?xml version="1.0"?>\n<Heatmap><Element id="x" model_file="m"/></Heatmap>'
        self.jobs = [
            ("heatmap", self.write("h.xml", HEATMAP), 0),
            ("dictionary", self.write("d.xml", DICTIONARY), 0),
            ("heatmap", self.write("w.xml", warn), tarvo.PARSE_IGNORE_UNKNOWN_ATTRIBUTES),
            ("heatmap", self.write("bad.xml", bad), 0),
            ("heatmap", os.path.join(self.dir, "missing.xml"), 0),
            ("dictionary", self.write("raise.xml", DICTIONARY.replace(b"Close", b"RAISE")), 0),
        ]
        self.count = [0]
        count = self.count

        # Each returns a new object, which the module must release.
        def start(name, attributes):
            count[0] += len(attributes)
            return [name]

        def text(name, data):
            if data.startswith("RAISE"):
                raise Failure(data)
            count[0] += 1
            return [data]

        def end(name):
            count[0] += 1
            return [name]

        self.start, self.text, self.end = start, text, end
        self.values = [[start, text, end], (start, text, end), [None, text], [start, 1, end]]

    def callbacks(self, i):
        value = self.values[i % len(self.values)]
        return dict((e, value) for e in HEATMAP_ELEMENTS + DICTIONARY_ELEMENTS)

    def run_parses(self, n):
        outcomes = {"ok": 0, "ParseError": 0, "Failure": 0}
        for i in range(n):
            grammar, path, flags = self.jobs[i % len(self.jobs)]
            try:
                tarvo.parse(grammar, self.callbacks(i), path, flags)
                outcomes["ok"] += 1
            except tarvo.ParseError:
                outcomes["ParseError"] += 1
            except Failure:
                outcomes["Failure"] += 1
        if hasattr(sys, "exc_clear"):
            sys.exc_clear()
        return outcomes

    def references(self):
        gc.collect()
        # The module shares one string per element and declared attribute
        # name, and interns it, so it is the very object of these literals:
        # an argument tuple or dictionary that is never released shows here.
        names = ["Heatmap", "Element", "translation", "source", "title", "model_file", "label"]
        tracked = [self.start, self.text, self.end] + self.values + names
        return [sys.getrefcount(o) for o in tracked]

    def test_reference_counts_return_to_where_they_started(self):
        self.run_parses(len(self.jobs) * 4)
        before = self.references()
        outcomes = self.run_parses(PARSES)
        self.assertEqual(self.references(), before)
        # Every path out of a parse was taken many times.
        for kind in outcomes:
            self.assertGreater(outcomes[kind], PARSES // 20, kind)

    def test_memory_does_not_grow(self):
        self.run_parses(1000)
        gc.collect()
        blocks = getattr(sys, "getallocatedblocks", lambda: 0)
        blocks_before = blocks()
        objects_before = len(gc.get_objects())
        resident_before = resident_bytes()
        self.run_parses(PARSES)
        gc.collect()
        # A leak on any one path out of a parse shows as hundreds of blocks
        # (counted on Python 3) or of containers the collector tracks.
        self.assertLess(blocks() - blocks_before, PARSES // 100)
        self.assertLess(len(gc.get_objects()) - objects_before, PARSES // 100)
        if not SANITIZED:
            # The sanitizer keeps freed memory in quarantine on purpose.
            self.assertLess(resident_bytes() - resident_before, 16 * 1024 * 1024)


if __name__ == "__main__":
    unittest.main()
