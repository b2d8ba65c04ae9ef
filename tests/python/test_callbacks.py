# Callback dispatch: what a registered value must look like for each event to
# be delivered, what the callables receive, and how changes made during a
# parse and exceptions raised by callables take effect.
import unittest

import tarvo
from tarvo_support import (DICTIONARY, DICTIONARY_ELEMENTS, DICTIONARY_EVENTS, HEATMAP, HEATMAP_ELEMENTS,
                           HEATMAP_EVENTS, PY2, DocumentTestCase, Recorder)


class Sequence(object):
    """A sequence type of the caller's own."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class CallableObject(object):
    def __init__(self, log, kind):
        self.log = log
        self.kind = kind

    def __call__(self, *args):
        self.log.append(self.kind)


class ProtocolTest(DocumentTestCase):
    """Each registered value decides anew at each event which callables run."""

    def kinds_called(self, make_value):
        log = []

        def start(name, attributes):
            log.append("start")

        def text(name, data):
            log.append("text")

        def end(name):
            log.append("end")

        value = make_value(start, text, end, log)
        path = self.write("d.xml", DICTIONARY)
        self.assertEqual(tarvo.parse("dictionary", {"source": value}, path, 0), "")
        return log

    def test_sequence_shapes(self):
        # The dictionary document has two <source> elements, each with text.
        cases = [
            ("one item", lambda s, t, e, log: [s], ["start"]),
            ("two items", lambda s, t, e, log: [s, t], ["start", "text"]),
            ("three items", lambda s, t, e, log: [s, t, e], ["start", "text", "end"]),
            ("four items", lambda s, t, e, log: [s, t, e, s], ["start", "text", "end"]),
            ("tuple", lambda s, t, e, log: (s, t, e), ["start", "text", "end"]),
            ("own sequence type", lambda s, t, e, log: Sequence([s, t, e]), ["start", "text", "end"]),
            ("empty list", lambda s, t, e, log: [], []),
            ("None in the middle", lambda s, t, e, log: [s, None, e], ["start", "end"]),
            ("only end", lambda s, t, e, log: [None, None, e], ["end"]),
            ("only text", lambda s, t, e, log: (None, t), ["text"]),
            ("non-callable items", lambda s, t, e, log: [1, "text", e], ["end"]),
            ("callable objects", lambda s, t, e, log: [CallableObject(log, "start"), CallableObject(log, "text")],
             ["start", "text"]),
        ]
        for label, make_value, kinds in cases:
            self.assertEqual(self.kinds_called(make_value), kinds * 2, label)

    def test_values_that_are_not_sequences_are_ignored(self):
        cases = [
            ("a callable", lambda s, t, e, log: s),
            ("an integer", lambda s, t, e, log: 42),
            ("None", lambda s, t, e, log: None),
            ("a set", lambda s, t, e, log: set([s])),
            ("a dictionary", lambda s, t, e, log: {0: s, 1: t, 2: e}),
            ("a generator", lambda s, t, e, log: (f for f in (s, t, e))),
            ("a string", lambda s, t, e, log: "ste"),
            ("bytes", lambda s, t, e, log: b"\x01\x02\x03"),
        ]
        for label, make_value in cases:
            self.assertEqual(self.kinds_called(make_value), [], label)


class ArgumentsTest(DocumentTestCase):
    def test_events_in_document_order(self):
        for grammar, doc, elements, events in [("heatmap", HEATMAP, HEATMAP_ELEMENTS, HEATMAP_EVENTS),
                                               ("dictionary", DICTIONARY, DICTIONARY_ELEMENTS,
                                                DICTIONARY_EVENTS)]:
            rec = Recorder()
            self.assertEqual(tarvo.parse(grammar, rec.callbacks(elements), self.write("doc.xml", doc), 0), "")
            self.assertEqual(rec.events, events)

    def test_argument_tuples(self):
        calls = []

        def record(*args):
            calls.append(args)

        path = self.write("d.xml", DICTIONARY)
        tarvo.parse("dictionary", {"target": [record, record, record]}, path, 0)
        self.assertEqual(calls[:3], [("target", {}), ("target", "&Ouvrir"), ("target",)])
        for args in calls:
            for item in args:
                self.assertIsInstance(item, (str, dict))
            if len(args) == 2 and isinstance(args[1], dict):
                for k, v in args[1].items():
                    self.assertIsInstance(k, str)
                    self.assertIsInstance(v, str)

    def test_start_receives_a_new_dictionary_every_time(self):
        seen = []

        def start(name, attributes):
            seen.append(attributes)
            attributes["id"] = "changed"
            attributes["extra"] = "added"

        path = self.write("h.xml", HEATMAP)
        self.assertEqual(tarvo.parse("heatmap", {"Element": [start]}, path, 0), "")
        self.assertEqual(len(seen), 2)
        self.assertIsNot(seen[0], seen[1])
        # The first call's changes reached neither the parse nor the next call.
        self.assertEqual(seen[1], {"model_file": "wards.bpmn", "id": "changed", "value": "7", "label": "Triage",
                                   "extra": "added"})

    def test_results_of_callables_are_ignored(self):
        path = self.write("h.xml", HEATMAP)
        big = list(range(1000))
        cb = dict((e, [lambda n, a: big, lambda n, t: False, lambda n: n]) for e in HEATMAP_ELEMENTS)
        self.assertEqual(tarvo.parse("heatmap", cb, path, 0), "")

    def test_keys_match_element_names_exactly(self):
        rec = Recorder()
        callbacks = dict((k, rec.triple()) for k in ("heatmap", "HEATMAP", "element", "Element ", "colors",
                                                     "Bogus", "", "title"))
        self.assertEqual(tarvo.parse("heatmap", callbacks, self.write("h.xml", HEATMAP), 0), "")
        self.assertEqual(rec.events, [])


class ChangesDuringParseTest(DocumentTestCase):
    def setUp(self):
        DocumentTestCase.setUp(self)
        self.path = self.write("h.xml", HEATMAP)

    def test_changing_the_dictionary_has_no_effect(self):
        rec = Recorder()
        element_list = rec.triple()
        callbacks = {"Element": element_list}

        def heatmap_start(name, attributes):
            callbacks["Colors"] = rec.triple()      # added: never called
            callbacks["Element"] = [None, None, None]  # replaced: the old list stays in use
            callbacks.clear()

        callbacks["Heatmap"] = [heatmap_start]
        del element_list  # the parse holds the only remaining reference once the dictionary is cleared
        self.assertEqual(tarvo.parse("heatmap", callbacks, self.path, 0), "")
        self.assertEqual(rec.events, [e for e in HEATMAP_EVENTS if e[1] == "Element"])

    def test_replacing_list_items_takes_effect_at_the_next_event(self):
        rec = Recorder()
        other = Recorder()
        element_list = rec.triple()

        def colors_start(name, attributes):
            element_list[0] = other.start

        def element_end(name):
            rec.end(name)
            del element_list[2:]  # the second Element's end is no longer delivered
            element_list[0] = None

        element_list[2] = element_end
        callbacks = {"Colors": [colors_start], "Element": element_list}
        self.assertEqual(tarvo.parse("heatmap", callbacks, self.path, 0), "")
        self.assertEqual(rec.events, [("end", "Element")])
        self.assertEqual(other.events, [HEATMAP_EVENTS[3]])

    def test_callable_removing_itself_while_running(self):
        rec = Recorder()
        heatmap_list = []

        def start(name, attributes):
            heatmap_list[:] = []
            rec.start(name, attributes)
            heatmap_list.extend([None, None, rec.end])

        heatmap_list.append(start)
        self.assertEqual(tarvo.parse("heatmap", {"Heatmap": heatmap_list}, self.path, 0), "")
        self.assertEqual(rec.events, [HEATMAP_EVENTS[0], HEATMAP_EVENTS[-1]])

    def test_growing_a_list(self):
        rec = Recorder()
        colors_list = [None]

        def heatmap_start(name, attributes):
            colors_list.extend([None, rec.end])

        self.assertEqual(tarvo.parse("heatmap", {"Heatmap": [heatmap_start], "Colors": colors_list}, self.path, 0),
                         "")
        self.assertEqual(rec.events, [("end", "Colors")])


class CallableExceptionTest(DocumentTestCase):
    class Failure(Exception):
        pass

    def run_until_raise(self, element, position, error):
        """Registers every element of the dictionary grammar and makes the
        callable at `position` of `element` raise `error`."""
        rec = Recorder()
        callbacks = rec.callbacks(DICTIONARY_ELEMENTS)
        raiser = callbacks[element][position]

        def raising(*args):
            raiser(*args)
            raise error

        callbacks[element][position] = raising
        try:
            tarvo.parse("dictionary", callbacks, self.write("d.xml", DICTIONARY), 0)
        except BaseException as e:
            return e, rec.events
        self.fail("nothing raised")

    def test_each_kind_of_callable(self):
        cases = [
            ("translation", 0, DICTIONARY_EVENTS.index(("start", "translation", {})) + 1),
            ("source", 1, DICTIONARY_EVENTS.index(("text", "source", "&Open")) + 1),
            ("target", 2, DICTIONARY_EVENTS.index(("end", "target")) + 1),
            ("dictionary", 2, len(DICTIONARY_EVENTS)),
        ]
        for element, position, delivered in cases:
            for error in (self.Failure("x"), KeyError("k"), ValueError(), tarvo.ParseError("own"),
                          KeyboardInterrupt(), SystemExit(3)):
                raised, events = self.run_until_raise(element, position, error)
                # The very exception, not a ParseError about it.
                self.assertIs(raised, error)
                # Nothing after the raising call, not even its own end.
                self.assertEqual(events, DICTIONARY_EVENTS[:delivered], (element, position, error))

    def test_exceptions_from_a_sequence_of_the_callers_own(self):
        class Broken(Sequence):
            def __init__(self, fail_in):
                Sequence.__init__(self, [lambda n, a: None] * 3)
                self.fail_in = fail_in

            def __len__(self):
                if self.fail_in == "len":
                    raise CallableExceptionTest.Failure("len")
                return Sequence.__len__(self)

            def __getitem__(self, i):
                if self.fail_in == "getitem":
                    raise CallableExceptionTest.Failure("getitem")
                return Sequence.__getitem__(self, i)

        path = self.write("h.xml", HEATMAP)
        for where in ("len", "getitem"):
            rec = Recorder()
            try:
                tarvo.parse("heatmap", {"Heatmap": rec.triple(), "Colors": Broken(where)}, path, 0)
            except CallableExceptionTest.Failure as e:
                self.assertEqual(str(e), where)
            else:
                self.fail("nothing raised from %s" % where)
            self.assertEqual(rec.events, [HEATMAP_EVENTS[0]])

    def test_next_parse_after_a_raise_is_unaffected(self):
        path = self.write("h.xml", HEATMAP)

        def fail(name, attributes):
            raise self.Failure()

        self.assertRaises(self.Failure, tarvo.parse, "heatmap", {"Element": [fail]}, path, 0)
        rec = Recorder()
        self.assertEqual(tarvo.parse("heatmap", rec.callbacks(HEATMAP_ELEMENTS), path, 0), "")
        self.assertEqual(rec.events, HEATMAP_EVENTS)


if __name__ == "__main__":
    unittest.main()
