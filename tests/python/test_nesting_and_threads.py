# Parses started from inside a callback, and parses on several threads at
# once: each parse must keep its own messages and its own stop on a raise.
import sys
import threading
import unittest

import tarvo
from tarvo_support import (DICTIONARY, DICTIONARY_ELEMENTS, DICTIONARY_EVENTS, HEATMAP, HEATMAP_ELEMENTS,
                           HEATMAP_EVENTS, DocumentTestCase, Recorder)

NO_VERSION = b'<?xml encoding="UTF-8"?>'


def without_declaration(doc):
    return doc[doc.index(b"?>") + 2:]


class Failure(Exception):
    pass


class NestedParseTest(DocumentTestCase):
    def setUp(self):
        DocumentTestCase.setUp(self)
        # Both documents warn, so a message in the wrong parse shows.
        self.outer_path = self.write("outer.xml", NO_VERSION + without_declaration(HEATMAP))
        self.inner_path = self.write("inner.xml", NO_VERSION + without_declaration(DICTIONARY))
        self.bad_path = self.write("bad.xml", b'<?xml version="1.0"?>\n<dictionary><source/></dictionary>')

    def warning(self, path):
        return "File %s: no version in XML declaration; assuming 1.0" % path

    def test_outer_parse_continues_fully_reported(self):
        outer = Recorder()
        inner = Recorder()
        inner_outcomes = []

        def element_start(name, attributes):
            outer.start(name, attributes)
            inner_outcomes.append(tarvo.parse("dictionary", inner.callbacks(DICTIONARY_ELEMENTS),
                                              self.inner_path, 0))
            try:
                tarvo.parse("dictionary", {}, self.bad_path, 0)
            except tarvo.ParseError as e:
                inner_outcomes.append(e.warnings)

        callbacks = outer.callbacks(HEATMAP_ELEMENTS)
        callbacks["Element"][0] = element_start
        self.assertEqual(tarvo.parse("heatmap", callbacks, self.outer_path, 0), self.warning(self.outer_path))
        self.assertEqual(outer.events, HEATMAP_EVENTS)
        self.assertEqual(inner.events, DICTIONARY_EVENTS * 2)
        self.assertEqual(inner_outcomes, [self.warning(self.inner_path), []] * 2)

    def test_outer_errors_still_stop_the_outer_parse_after_a_nested_one(self):
        outer = Recorder()

        def colors_start(name, attributes):
            outer.start(name, attributes)
            tarvo.parse("dictionary", {}, self.inner_path, 0)

        def element_end(name):
            outer.end(name)
            raise Failure()

        callbacks = outer.callbacks(HEATMAP_ELEMENTS)
        callbacks["Colors"][0] = colors_start
        callbacks["Element"][2] = element_end
        self.assertRaises(Failure, tarvo.parse, "heatmap", callbacks, self.outer_path, 0)
        self.assertEqual(outer.events, HEATMAP_EVENTS[:5])

    def test_exception_of_a_nested_parse_passing_through_the_outer_callable(self):
        outer = Recorder()
        inner = Recorder()

        def inner_text(name, text):
            inner.text(name, text)
            raise Failure(text)

        def colors_start(name, attributes):
            outer.start(name, attributes)
            tarvo.parse("dictionary", {"target": [inner.start, inner_text, inner.end]}, self.inner_path, 0)

        callbacks = outer.callbacks(HEATMAP_ELEMENTS)
        callbacks["Colors"][0] = colors_start
        try:
            tarvo.parse("heatmap", callbacks, self.outer_path, 0)
        except Failure as e:
            self.assertEqual(str(e), "&Ouvrir")
        else:
            self.fail("nothing raised")
        self.assertEqual(outer.events, HEATMAP_EVENTS[:2])
        self.assertEqual(inner.events, [("start", "target", {}), ("text", "target", "&Ouvrir")])

    def test_many_levels(self):
        depth = 25
        paths = [self.write("level%d.xml" % i, NO_VERSION + without_declaration(HEATMAP)) for i in range(depth)]
        recorders = [Recorder() for _ in range(depth)]
        results = [None] * depth

        def run(level):
            callbacks = recorders[level].callbacks(HEATMAP_ELEMENTS)
            if level + 1 < depth:
                def colors_start(name, attributes):
                    recorders[level].start(name, attributes)
                    run(level + 1)
                callbacks["Colors"][0] = colors_start
            results[level] = tarvo.parse("heatmap", callbacks, paths[level], 0)

        run(0)
        for level in range(depth):
            self.assertEqual(recorders[level].events, HEATMAP_EVENTS)
            self.assertEqual(results[level], self.warning(paths[level]))


class ThreadsTest(DocumentTestCase):
    THREADS = 4
    ROUNDS = 25

    def setUp(self):
        DocumentTestCase.setUp(self)
        if hasattr(sys, "setswitchinterval"):
            self.saved = sys.getswitchinterval()
            sys.setswitchinterval(1e-6)
        else:
            self.saved = sys.getcheckinterval()
            sys.setcheckinterval(1)

    def tearDown(self):
        if hasattr(sys, "setswitchinterval"):
            sys.setswitchinterval(self.saved)
        else:
            sys.setcheckinterval(self.saved)
        DocumentTestCase.tearDown(self)

    def outcome(self, grammar, elements, path, flags, raise_in):
        rec = Recorder()
        callbacks = rec.callbacks(elements)

        def busy(function):
            # Enough bytecode for the interpreter to switch threads inside.
            def wrapper(*args):
                total = 0
                for i in range(50):
                    total += i
                function(*args)
            return wrapper

        for element in callbacks:
            callbacks[element] = [busy(f) for f in callbacks[element]]
        if raise_in:
            def fail(name):
                rec.end(name)
                raise Failure(path)
            callbacks[raise_in][2] = fail
        try:
            result = tarvo.parse(grammar, callbacks, path, flags)
        except tarvo.ParseError as e:
            result = ("ParseError", e.errors, e.warnings)
        except Failure as e:
            result = ("Failure", str(e))
        return result, rec.events

    def test_parses_on_several_threads_keep_their_own_results(self):
        jobs = [
            ("heatmap", HEATMAP_ELEMENTS, self.write("clean.xml", HEATMAP), 0, None),
            ("heatmap", HEATMAP_ELEMENTS, self.write("warn.xml", NO_VERSION + without_declaration(HEATMAP)), 0,
             None),
            ("dictionary", DICTIONARY_ELEMENTS, self.write("d.xml", DICTIONARY), 0, "source"),
            ("dictionary", DICTIONARY_ELEMENTS,
             self.write("bad.xml", NO_VERSION + b"<dictionary><translation><source>x</source></translation>"
                                                b"</dictionary>"), 0, None),
            ("heatmap", HEATMAP_ELEMENTS,
             self.write("flags.xml", b'<?xml version="1.0"?><Heatmap><Colors gradient_color_space="x" a="b"/>'
                                     b'</Heatmap>'), 3, "Colors"),
        ]
        expected = [self.outcome(*job) for job in jobs]
        problems = []

        def worker(offset):
            try:
                for r in range(self.ROUNDS):
                    for i in range(len(jobs)):
                        k = (i + offset + r) % len(jobs)
                        got = self.outcome(*jobs[k])
                        if got != expected[k]:
                            problems.append((jobs[k][2], got, expected[k]))
            except BaseException as e:
                problems.append(repr(e))

        threads = [threading.Thread(target=worker, args=(n,)) for n in range(self.THREADS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(problems, [])


if __name__ == "__main__":
    unittest.main()
