# The module's surface: its contents, argument handling, grammar lookup and
# how a parse's outcome becomes the call's result.
import os
import unittest

import tarvo
from tarvo_support import (COVERAGE, DICTIONARY, DICTIONARY_ELEMENTS, DICTIONARY_EVENTS, GRAMMARS, HEATMAP,
                           HEATMAP_ELEMENTS, HEATMAP_EVENTS, PROJECT, PY2, DocumentTestCase, Recorder)


class ModuleContentsTest(unittest.TestCase):
    def test_public_names_are_exactly_the_functions_exception_and_flags(self):
        public = set(n for n in dir(tarvo) if not n.startswith("_"))
        self.assertEqual(public, set([
            "parse", "parse_file", "parse_socket_stream", "ParseError", "PARSE_STRICT",
            "PARSE_IGNORE_WRONG_ATTRIBUTES", "PARSE_IGNORE_UNKNOWN_ATTRIBUTES", "PARSE_IGNORE_WRONG_ELEMENTS"]))

    def test_flag_values(self):
        self.assertEqual(
            (tarvo.PARSE_STRICT, tarvo.PARSE_IGNORE_WRONG_ATTRIBUTES, tarvo.PARSE_IGNORE_UNKNOWN_ATTRIBUTES,
             tarvo.PARSE_IGNORE_WRONG_ELEMENTS),
            (0, 1, 2, 4))
        for name in ("PARSE_STRICT", "PARSE_IGNORE_WRONG_ATTRIBUTES", "PARSE_IGNORE_UNKNOWN_ATTRIBUTES",
                     "PARSE_IGNORE_WRONG_ELEMENTS"):
            self.assertIsInstance(getattr(tarvo, name), int)

    def test_parse_error_class(self):
        self.assertEqual(tarvo.ParseError.__name__, "ParseError")
        self.assertEqual(tarvo.ParseError.__module__, "tarvo")
        self.assertTrue(issubclass(tarvo.ParseError, Exception))
        self.assertIn(Exception, tarvo.ParseError.__bases__)


class ParseAndParseFileTest(DocumentTestCase):
    def outcome(self, function, grammar, path, flags):
        rec = Recorder()
        try:
            result = function(grammar, rec.callbacks(HEATMAP_ELEMENTS + DICTIONARY_ELEMENTS), path, flags)
        except tarvo.ParseError as e:
            result = ("ParseError", str(e), e.errors, e.warnings)
        return result, rec.events

    def test_both_names_behave_identically(self):
        cases = [
            ("heatmap", self.write("h.xml", HEATMAP), 0),
            ("dictionary", self.write("d.xml", DICTIONARY), 0),
            ("heatmap", self.write("bad.xml", b'<?xml?>\n<Heatmap><Element id="x"/></Heatmap>'), 0),
            ("heatmap", self.write("warn.xml", b'<?xml?>\n<Heatmap/>'), 0),
            ("heatmap", os.path.join(self.dir, "missing.xml"), 0),
        ]
        for grammar, path, flags in cases:
            self.assertEqual(self.outcome(tarvo.parse, grammar, path, flags),
                             self.outcome(tarvo.parse_file, grammar, path, flags), path)


class ArgumentTest(DocumentTestCase):
    def setUp(self):
        DocumentTestCase.setUp(self)
        self.path = self.write("h.xml", HEATMAP)

    def test_wrong_argument_counts_name_parse(self):
        for args in [(), ("heatmap", {}, self.path), ("heatmap", {}, self.path, 0, 0)]:
            for function in (tarvo.parse, tarvo.parse_file):
                try:
                    function(*args)
                except TypeError as e:
                    self.assertIn("parse", str(e))
                else:
                    self.fail("no TypeError for %d arguments" % len(args))

    def test_wrong_argument_types_are_refused(self):
        cases = [
            ((None, {}, self.path, 0), TypeError),
            ((b"heatmap" if not PY2 else 7, {}, self.path, 0), TypeError),
            (("heatmap", {}, None, 0), TypeError),
            (("heatmap", {}, 7, 0), TypeError),
            (("heatmap", {}, self.path, "0"), TypeError),
            (("heatmap", {}, self.path, 1.5), TypeError),
            (("heatmap", {}, self.path, 2 ** 40), OverflowError),
            (("heat\0map", {}, self.path, 0), (TypeError, ValueError)),
            (("heatmap", {}, self.path + "\0", 0), (TypeError, ValueError)),
        ]
        for args, error in cases:
            self.assertRaises(error, tarvo.parse, *args)

    def test_keyword_arguments_are_refused(self):
        self.assertRaises(TypeError, tarvo.parse, "heatmap", {}, self.path, flags=0)

    def test_callbacks_that_are_not_a_dictionary(self):
        rec = Recorder()
        missing = os.path.join(self.dir, "missing.xml")
        for callbacks in ([("Heatmap", rec.triple())], None, (), "Heatmap", rec.start, 0):
            try:
                tarvo.parse("heatmap", callbacks, missing, 0)
            except TypeError as e:
                self.assertEqual(str(e), "object is not a dictionary")
            else:
                self.fail("accepted %r" % (callbacks,))
        self.assertEqual(rec.events, [])

    def test_keys_that_are_not_strings(self):
        rec = Recorder()
        missing = os.path.join(self.dir, "missing.xml")
        # Not equal to an existing key: on Python 2 u"Element" == "Element".
        other_string_type = u"Element\u00e9" if PY2 else b"Element"
        for bad_key in (other_string_type, 1, None, ("Element",)):
            callbacks = rec.callbacks(HEATMAP_ELEMENTS)
            callbacks[bad_key] = rec.triple()
            # A missing file shows that nothing was opened: ParseError would
            # come from trying.
            for path in (missing, self.path):
                try:
                    tarvo.parse("heatmap", callbacks, path, 0)
                except TypeError as e:
                    self.assertEqual(str(e), "key in dictionary is not a string")
                else:
                    self.fail("accepted key %r" % (bad_key,))
        self.assertEqual(rec.events, [])

    def test_dictionary_and_string_subclasses_are_accepted(self):
        class Callbacks(dict):
            pass

        class Name(str):
            pass

        rec = Recorder()
        callbacks = Callbacks()
        callbacks[Name("Colors")] = rec.triple()
        self.assertEqual(tarvo.parse("heatmap", callbacks, self.path, 0), "")
        self.assertEqual(rec.events, [e for e in HEATMAP_EVENTS if e[1] == "Colors"])


class GrammarLookupTest(DocumentTestCase):
    def test_every_built_in_grammar_is_registered(self):
        missing = os.path.join(self.dir, "missing.xml")
        for grammar in GRAMMARS:
            # Reaching the file shows the grammar was found.
            self.assertRaises(tarvo.ParseError, tarvo.parse, grammar, {}, missing, 0)

    def test_grammars_parse_their_documents(self):
        for grammar, doc in [("heatmap", HEATMAP), ("dictionary", DICTIONARY),
                             ("lumoCodeCoverage", COVERAGE), ("bpmn_project", PROJECT)]:
            self.assertEqual(tarvo.parse(grammar, {}, self.write(grammar + ".xml", doc), 0), "")

    def test_unknown_grammar_names(self):
        path = self.write("h.xml", HEATMAP)
        rec = Recorder()
        for name in ("HEATMAP", "Heatmap", "heatmap ", " heatmap", "lumocodecoverage", "BPMN_PROJECT", "", "xml"):
            for p in (path, os.path.join(self.dir, "missing.xml")):
                try:
                    tarvo.parse(name, rec.callbacks(HEATMAP_ELEMENTS), p, 0)
                except ValueError as e:
                    self.assertEqual(str(e), "unknown DTD")
                else:
                    self.fail("grammar %r was found" % name)
        self.assertEqual(rec.events, [])

    def test_a_document_of_another_grammar_fails(self):
        e = self.parse_error("dictionary", {}, self.write("h.xml", HEATMAP))
        self.assertEqual(e.errors[0], "Element 'Heatmap' unknown in DTD")


class ResultTest(DocumentTestCase):
    def test_clean_document_returns_empty_string(self):
        result = tarvo.parse("heatmap", {}, self.write("h.xml", HEATMAP), 0)
        self.assertEqual(result, "")
        self.assertIsInstance(result, str)

    def test_missing_file(self):
        path = os.path.join(self.dir, "no such.xml")
        rec = Recorder()
        e = self.parse_error("heatmap", rec.callbacks(HEATMAP_ELEMENTS), path)
        message = "Could not open file %s for reading" % path
        self.assertEqual(str(e), message)
        self.assertEqual(e.args, (message,))
        self.assertEqual(e.errors, [message])
        self.assertEqual(e.warnings, [])
        self.assertEqual(rec.events, [])

    def test_warnings_only_result_is_the_warning_text(self):
        path = self.write("w.xml", b'<?xml encoding="UTF-8"?>\n<Heatmap>\n'
                                   b'<Colors gradient_color_space="CMYK" min_color="red"/>\n'
                                   b'<Element model_file="m" id="i" value="1" shade="dark"/></Heatmap>')
        rec = Recorder()
        result = tarvo.parse("heatmap", rec.callbacks(HEATMAP_ELEMENTS), path, 3)
        expected = [
            "File %s: no version in XML declaration; assuming 1.0" % path,
            "Invalid attribute value 'CMYK' for attribute 'gradient_color_space' - getting default value",
            "Unknown attribute 'shade'",
        ]
        self.assertEqual(result, "\n".join(expected))
        self.assertEqual(len(rec.events), 6)

    def test_document_error_carries_both_message_lists(self):
        path = self.write("e.xml", b'<?xml?>\n<Heatmap>\n<Element model_file="m" value="1"/>\n</Heatmap>\n')
        rec = Recorder()
        e = self.parse_error("heatmap", rec.callbacks(HEATMAP_ELEMENTS), path)
        self.assertEqual(e.warnings, ["File %s: no version in XML declaration; assuming 1.0" % path])
        self.assertEqual(e.errors, [
            "No value found for mandatory attribute 'id'",
            "File %s, line 3: error in attributes for element 'Element'" % path,
        ])
        self.assertEqual(str(e), "\n".join(e.errors))
        self.assertEqual(e.args, ("\n".join(e.errors),))
        # Events before the failing tag were delivered.
        self.assertEqual(rec.events, [("start", "Heatmap", {"title": "", "min_value": "-", "max_value": "-"})])

    def test_empty_callbacks_validate_in_full(self):
        bad = self.write("bad.xml", b'<?xml version="1.0"?>\n<dictionary><translation>'
                                    b'<source>a</source></translation></dictionary>')
        with_callbacks = self.parse_error("dictionary", Recorder().callbacks(DICTIONARY_ELEMENTS), bad)
        without = self.parse_error("dictionary", {}, bad)
        self.assertEqual(str(with_callbacks), str(without))
        self.assertEqual(tarvo.parse("dictionary", {}, self.write("d.xml", DICTIONARY), 0), "")


class FlagsTest(DocumentTestCase):
    WRONG_VALUE = b'<?xml version="1.0"?>\n<Heatmap><Colors gradient_color_space="CMYK"/></Heatmap>'
    UNKNOWN_ATTRIBUTE = b'<?xml version="1.0"?>\n<Heatmap><Colors shade="dark"/></Heatmap>'
    BOTH = b'<?xml version="1.0"?>\n<Heatmap><Colors gradient_color_space="CMYK" shade="dark"/></Heatmap>'
    # Colors must come before the first Element.
    MISPLACED = (b'<?xml version="1.0"?>\n<Heatmap>\n<Element model_file="m" id="1" value="1"/>\n'
                 b'<Colors init_alpha="1"><Element model_file="m" id="in" value="0"/></Colors>\n'
                 b'<Element model_file="m" id="2" value="2"/>\n</Heatmap>\n')

    ALL_FLAGS = [0, 1, 2, 3, 4, 5, 6, 7, 8, 8 | 1, 16 | 2, 32 | 4, 1 << 30, -1, -8]

    def colors(self, events):
        return [e[2] for e in events if e[0] == "start" and e[1] == "Colors"]

    def test_wrong_attribute_value(self):
        path = self.write("v.xml", self.WRONG_VALUE)
        for flags in self.ALL_FLAGS:
            rec = Recorder()
            if flags & 1:
                self.assertEqual(tarvo.parse("heatmap", rec.callbacks(HEATMAP_ELEMENTS), path, flags),
                                 "Invalid attribute value 'CMYK' for attribute 'gradient_color_space'"
                                 " - getting default value")
                self.assertEqual(self.colors(rec.events)[0]["gradient_color_space"], "HSVs")
            else:
                e = self.parse_error("heatmap", rec.callbacks(HEATMAP_ELEMENTS), path, flags)
                self.assertEqual(e.errors[0], "Invalid attribute value 'CMYK' for attribute 'gradient_color_space'")
                self.assertEqual(self.colors(rec.events), [])

    def test_unknown_attribute(self):
        path = self.write("u.xml", self.UNKNOWN_ATTRIBUTE)
        for flags in self.ALL_FLAGS:
            rec = Recorder()
            if flags & 2:
                self.assertEqual(tarvo.parse("heatmap", rec.callbacks(HEATMAP_ELEMENTS), path, flags),
                                 "Unknown attribute 'shade'")
                self.assertEqual(self.colors(rec.events)[0]["shade"], "dark")
            else:
                e = self.parse_error("heatmap", rec.callbacks(HEATMAP_ELEMENTS), path, flags)
                self.assertEqual(e.errors[0], "Unknown attribute 'shade'")

    def test_both_attribute_tolerances_need_both_bits(self):
        path = self.write("b.xml", self.BOTH)
        for flags in self.ALL_FLAGS:
            if flags & 3 == 3:
                self.assertEqual(len(tarvo.parse("heatmap", {}, path, flags).split("\n")), 2)
            else:
                self.parse_error("heatmap", {}, path, flags)

    def test_misplaced_element(self):
        path = self.write("m.xml", self.MISPLACED)
        for flags in self.ALL_FLAGS:
            rec = Recorder()
            callbacks = rec.callbacks(HEATMAP_ELEMENTS)
            if flags & 4:
                result = tarvo.parse("heatmap", callbacks, path, flags)
                self.assertIn("File %s, line 4: invalid element 'Colors' ignored - trying to continue" % path,
                              result.split("\n"))
                # The ignored element is skipped whole and the parse runs on.
                ids = [e[2]["id"] for e in rec.events if e[0] == "start" and e[1] == "Element"]
                self.assertEqual(ids, ["1", "2"])
                self.assertEqual(self.colors(rec.events), [])
                self.assertEqual(rec.events[-1], ("end", "Heatmap"))
            else:
                self.parse_error("heatmap", callbacks, path, flags)
                self.assertEqual(len(rec.events), 3)

    def test_raising_callable_after_an_ignored_element_still_propagates(self):
        path = self.write("m.xml", self.MISPLACED)

        class Stop(Exception):
            pass

        def end(name):
            raise Stop()

        self.assertRaises(Stop, tarvo.parse, "heatmap", {"Heatmap": [None, None, end]}, path, 4)


if __name__ == "__main__":
    unittest.main()
