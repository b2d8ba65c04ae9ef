# Callback dispatch: which values reach which events, changes during a parse,
# raising callables, nested and threaded parses, references and memory.
import functools
import gc
import os
import sys
import threading

import tarvo
from tarvo_support import (DICTIONARY, DICTIONARY_ELEMENTS, DICTIONARY_EVENTS, HEATMAP, HEATMAP_ELEMENTS,
                           HEATMAP_EVENTS, DocumentTestCase, Failure, Recorder, no_version, outcome, raised)


class Sequence(list):
    """Not a list to the module: read through the general sequence calls."""


class BrokenLength(Sequence):
    def __len__(self):
        raise Failure()


class BrokenItem(Sequence):
    def __getitem__(self, i):
        raise Failure()


class DispatchTest(DocumentTestCase):
    def test_registered_value_shapes(self):
        rec = Recorder()
        s, t, e = rec.triple()
        cases = [
            ([s], "start"), ([s, t], "start text"), ([s, t, e, s], "start text end"), ((s, t, e), "start text end"),
            (Sequence([s, t, e]), "start text end"), (Sequence([s]), "start"), (Sequence([s, t]), "start text"),
            ([], ""), ([s, None, e], "start end"), ((None, t), "text"), ([1, "text", e], "end"),
            ([functools.partial(rec.log, "object")] * 3, "object object object"),
            # Not sequences, or sequences of things that cannot be called (a
            # bare callable is refused: test_grammars).
            (42, ""), (None, ""), (set([s]), ""), ({0: s, 1: t, 2: e}, ""), (iter([s, t, e]), ""),
            ("ste", ""), (b"\x01\x02\x03", ""),
        ]
        path = self.write("d.xml", DICTIONARY)  # two <source> elements, each with text
        for value, kinds in cases:
            del rec.events[:]
            self.assertEqual(tarvo.parse("dictionary", {"source": value}, path, 0), "")
            self.assertEqual(" ".join(e[0] for e in rec.events), " ".join([kinds] * 2).strip(), repr(value))

    def test_events_and_their_arguments(self):
        for grammar, doc, elements, events in [("heatmap", HEATMAP, HEATMAP_ELEMENTS, HEATMAP_EVENTS),
                                               ("dictionary", DICTIONARY, DICTIONARY_ELEMENTS, DICTIONARY_EVENTS)]:
            rec, other = Recorder(), Recorder()
            callbacks = rec.callbacks(elements)
            # Keys match element names exactly or not at all.
            callbacks.update((k, other.triple()) for k in ("heatmap", "ELEMENT", "Element ", "title", ""))
            self.assertEqual(tarvo.parse(grammar, callbacks, self.write("doc.xml", doc), 0), "")
            self.assertEqual((rec.events, other.events), (events, []))
            self.assertTrue(all(isinstance(item, (str, dict)) for event in rec.events for item in event))

    def test_every_element_key(self):
        # "*" serves every element without an entry of its own; an entry,
        # even an empty one, keeps its element away from "*".
        path = self.write("d.xml", DICTIONARY)
        for own, star_gets, own_gets in [
                ({}, DICTIONARY_ELEMENTS, ()),
                ({"source": None}, ("dictionary", "translation", "target"), ()),
                ({"source": []}, ("dictionary", "translation", "target"), ()),
                ({"target": "own", "translation": "own"}, ("dictionary", "source"), ("translation", "target"))]:
            star, mine = Recorder(), Recorder()
            callbacks = dict((k, mine.triple() if v == "own" else v) for k, v in own.items())
            callbacks["*"] = star.triple()
            self.assertEqual(tarvo.parse("dictionary", callbacks, path, 0), "")
            self.assertEqual((star.events, mine.events),
                             ([e for e in DICTIONARY_EVENTS if e[1] in star_gets],
                              [e for e in DICTIONARY_EVENTS if e[1] in own_gets]), own)
        # A short sequence under "*" delivers only what it holds.
        rec = Recorder()
        self.assertEqual(tarvo.parse("dictionary", {"*": [None, rec.text]}, path, 0), "")
        self.assertEqual(rec.events, [e for e in DICTIONARY_EVENTS if e[0] == "text"])

    def test_changes_during_the_parse(self):
        rec, other = Recorder(), Recorder()
        element_list = rec.triple()

        def heatmap_start(name, attributes):
            # A list is read anew at every event, also the running callable's own.
            heatmap_list[:] = [None, None, rec.end]
            callbacks["Colors"].extend([None, rec.end])
            element_list[0] = other.start
            # The dictionary is the caller's: the running parse keeps its own copy.
            callbacks["Heatmap"] = other.triple()
            callbacks["Element"] = [other.start]
            callbacks.clear()  # the parse now holds the only reference to the Colors list

        def element_end(name):
            rec.end(name)
            del element_list[2:]  # the second Element's end is no longer delivered
            element_list[0] = None

        heatmap_list = [heatmap_start]
        element_list[2] = element_end
        callbacks = {"Heatmap": heatmap_list, "Colors": [None], "Element": element_list}
        self.assertEqual(tarvo.parse("heatmap", callbacks, self.write("h.xml", HEATMAP), 0), "")
        self.assertEqual(rec.events, [("end", "Colors"), ("end", "Element"), ("end", "Heatmap")])
        self.assertEqual(other.events, [HEATMAP_EVENTS[3]])

    def test_raising_callables(self):
        path = self.write("d.xml", DICTIONARY)
        for stop in [("start", "translation"), ("text", "source"), ("end", "target"), ("end", "dictionary")]:
            for error in (Failure(), tarvo.ParseError("own"), KeyboardInterrupt()):
                rec = Recorder(stop, error)
                # The very exception, not a ParseError about it.
                self.assertIs(raised(BaseException, tarvo.parse, "dictionary", rec.callbacks(DICTIONARY_ELEMENTS),
                                     path, 0), error)
                # Nothing after the raising call, not even its own end.
                delivered = [e[:2] for e in DICTIONARY_EVENTS].index(stop) + 1
                self.assertEqual(rec.events, DICTIONARY_EVENTS[:delivered], (stop, error))
        for broken in (BrokenLength, BrokenItem):
            rec = Recorder()
            callbacks = {"dictionary": rec.triple(), "source": broken([rec.start])}
            self.assertRaises(Failure, tarvo.parse, "dictionary", callbacks, path, 0)
            self.assertEqual(rec.events, DICTIONARY_EVENTS[:1])

    def test_nested_parses_keep_their_own_messages_and_stop(self):
        depth = 4
        # Every level warns before and after its nested parse, so a message
        # that lands in the wrong parse shows.
        doc = no_version(HEATMAP).replace(b'label="Triage"', b'label="Triage" late="1"')
        paths = [self.write("level%d.xml" % i, doc) for i in range(depth)]
        bad = self.write("bad.xml", b'<?xml version="1.0"?>\n<dictionary><source/></dictionary>')
        warnings = ["File %s: no version in XML declaration; assuming 1.0\nUnknown attribute 'late'" % p
                    for p in paths]
        events = HEATMAP_EVENTS[:5] + [("start", "Element", dict(HEATMAP_EVENTS[5][2], late="1"))] + \
            HEATMAP_EVENTS[6:]

        def run(level, raise_at, recorders, results):
            def colors_start(name, attributes):
                recorders[level].start(name, attributes)
                if level + 1 < depth:
                    run(level + 1, raise_at, recorders, results)
                self.assertEqual(outcome(tarvo.parse, "dictionary", {}, bad, 0)[0], "error")

            callbacks = recorders[level].callbacks(HEATMAP_ELEMENTS)
            callbacks["Colors"][0] = colors_start
            results[level] = tarvo.parse("heatmap", callbacks, paths[level], 2)

        # A raise in an inner parse passes through the outer callables; one in
        # an outer parse after an inner one still stops the outer.
        for raise_at in (None, depth - 1, 1):
            recorders = [Recorder(("end", "Heatmap") if i == raise_at else None) for i in range(depth)]
            results = [None] * depth
            self.assertEqual(outcome(run, 0, raise_at, recorders, results)[0], "ok" if raise_at is None else "raised")
            first_full = raise_at or 0
            self.assertEqual([r.events for r in recorders], [events[:2]] * first_full + [events] * (depth - first_full))
            ended = 0 if raise_at is None else raise_at + 1  # levels whose parse the raise ended
            self.assertEqual(results, [None] * ended + warnings[ended:])

    def test_parses_on_several_threads_keep_their_own_results(self):
        interval = "switchinterval" if hasattr(sys, "setswitchinterval") else "checkinterval"
        self.addCleanup(getattr(sys, "set" + interval), getattr(sys, "get" + interval)())
        getattr(sys, "set" + interval)(1e-6 if interval == "switchinterval" else 1)  # switch as often as can be
        bad = no_version(b'?><dictionary><translation><source>x</source></translation></dictionary>')
        jobs = [("heatmap", self.write("warn.xml", no_version(HEATMAP)), None),
                ("dictionary", self.write("d.xml", DICTIONARY), ("end", "source")),
                ("dictionary", self.write("bad.xml", bad), None)]

        def run(grammar, path, stop):
            rec = Recorder(stop, Failure(path))
            return outcome(tarvo.parse, grammar, rec.callbacks(HEATMAP_ELEMENTS + DICTIONARY_ELEMENTS), path, 0), \
                rec.events

        expected = [run(*job) for job in jobs]
        problems = []

        def worker(offset):
            try:
                problems.extend(jobs[k][1] for k in [(r + offset) % len(jobs) for r in range(50)]
                                if run(*jobs[k]) != expected[k])
            except BaseException as e:
                problems.append(repr(e))

        threads = [threading.Thread(target=worker, args=(n,)) for n in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(problems, [])

    def test_references_and_memory_return_to_where_they_started(self):
        jobs = [  # a clean parse, warnings with an undeclared attribute, ParseError, no file, a raise
            ("heatmap", self.write("h.xml", HEATMAP), 0),
            ("heatmap", self.write("w.xml", HEATMAP.replace(b'<Colors', b'<Colors shade="dark"')), 2),
            ("heatmap", self.write("bad.xml", b'<?xml?>\n<Heatmap><Element id="x" model_file="m"/></Heatmap>'), 0),
            ("heatmap", os.path.join(self.dir, "missing.xml"), 0),
            ("dictionary", self.write("raise.xml", DICTIONARY.replace(b"Close", b"RAISE")), 0),
        ]
        rec = Recorder(("text", "source", "RAISE <all>"))  # its callables return new objects
        values = [rec.triple(), tuple(rec.triple()), [None, rec.text], [rec.start, 1, rec.end]]
        # Every value holds `rec`. The module shares one interned string per
        # element and declared attribute name, the very object of these
        # literals: an argument tuple or dictionary never released shows here.
        tracked = [rec] + values + ["Heatmap", "Element", "source", "title", "model_file"]
        outcomes = set()

        def run(n):
            for i in range(n):
                grammar, path, flags = jobs[i % len(jobs)]
                callbacks = dict((e, values[i % len(values)]) for e in HEATMAP_ELEMENTS + DICTIONARY_ELEMENTS)
                outcomes.add(outcome(tarvo.parse, grammar, callbacks, path, flags)[0])
                del rec.events[:]
            if hasattr(sys, "exc_clear"):
                sys.exc_clear()  # Python 2 keeps the last exception and with it a frame
            gc.collect()
            with open("/proc/self/statm") as f:
                resident = int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
            return ([sys.getrefcount(o) for o in tracked], getattr(sys, "getallocatedblocks", lambda: 0)(),
                    len(gc.get_objects()), resident)

        run(1000)
        references, blocks, objects, resident = run(len(jobs) * len(values))
        after = run(10000)
        self.assertEqual(after[0], references)
        self.assertEqual(outcomes, set(["ok", "error", "raised"]))
        # A leak on any one path out of a parse shows as hundreds of blocks
        # (counted on Python 3) or of objects the collector tracks.
        self.assertLess(after[1] - blocks, 100)
        self.assertLess(after[2] - objects, 100)
        if os.environ.get("TARVO_TEST_SANITIZED") != "1":  # the sanitizer keeps freed memory on purpose
            self.assertLess(after[3] - resident, 16 * 1024 * 1024)
