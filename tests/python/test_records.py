# What ParseError tells a program beyond its text, the OSError side of an
# unreadable file, and documents read from memory.
import errno
import glob
import os
import pickle

import tarvo
from tarvo_support import HEATMAP, PY2, ROOT, DocumentTestCase, Recorder, outcome, raised

DECLARATION = b'<?xml version="1.0"?>\n'


def first_error(e):
    """The attributes ParseError takes from its first error record, and its file name."""
    return (e.kind, e.lineno, e.offset, e.filename)


def record(d):
    return (d.severity, d.kind, d.lineno, d.offset, d.end_lineno, d.end_offset, d.element, d.attribute, d.expected)


class ParseErrorTest(DocumentTestCase):
    def test_records_of_each_kind(self):
        # (grammar, body after the declaration, flags, records: severity, kind,
        # the token's line, column, end line and end column, element,
        # attribute, expected). The note after an attribute problem points at
        # the element's name.
        values = ("HSVs", "HSVl", "RGB")
        cases = [
            ("dictionary", b"<dictionary></target>", 0, [("error", "syntax", 2, 15, 2, 21, "target", None, ())] * 2),
            ("dictionary", b"<dictionary>\n  <Bogus/>", 0,
             [("error", "unknown_element", 3, 4, 3, 9, "Bogus", None, ())] * 2),
            ("dictionary", b"<dictionary><translation>\n <target>", 0,
             [("error", "misplaced_element", 3, 3, 3, 9, "target", None, ("source",))] * 2),
            ("dictionary", b"<dictionary><translation>hi</translation>", 0,
             [("error", "text_not_allowed", 2, 26, 2, 28, "translation", None, ("source",))] * 2),
            ("heatmap", b'<Heatmap><Colors gradient_color_space="x"/>', 0,
             [("error", "wrong_attribute_value", 2, 40, 2, 41, "Colors", "gradient_color_space", values),
              ("error", "wrong_attribute_value", 2, 11, 2, 17, "Colors", "gradient_color_space", values)]),
            ("heatmap", b'<Heatmap><Element id="a"/>', 0,
             [("error", "missing_attribute", 2, 11, 2, 18, "Element", "model_file", ())] * 2),
            ("heatmap", b"<Heatmap foo='1'>", 0, [("error", "unknown_attribute", 2, 10, 2, 13, "Heatmap", "foo", ()),
                                                   ("error", "unknown_attribute", 2, 2, 2, 9, "Heatmap", "foo", ())]),
            # Warnings first: the attributes come from the first error.
            ("heatmap", b"<Heatmap foo='1'>\n<Bogus/>", tarvo.PARSE_IGNORE_UNKNOWN_ATTRIBUTES,
             [("warning", "unknown_attribute", 2, 10, 2, 13, "Heatmap", "foo", ())] +
             [("error", "unknown_element", 3, 2, 3, 7, "Bogus", None, ())] * 2),
        ]
        for grammar, body, flags, records in cases:
            path = self.write("doc.xml", DECLARATION + body)
            # Bytes named as the file still give no file name.
            for parse, source, name, filename in [(tarvo.parse, path, (), path),
                                                  (tarvo.parse_bytes, DECLARATION + body, (path,), None)]:
                e = raised(tarvo.ParseError, parse, grammar, {}, source, flags, *name)
                self.assertEqual([record(d) for d in e.diagnostics], records, body)
                error = [r for r in records if r[0] == "error"][0]
                self.assertEqual(first_error(e), error[1:4] + (filename,))
                # The records hold the messages, in the order of errors and warnings.
                self.assertEqual([[d.message for d in e.diagnostics if d.severity == s] for s in
                                  ("error", "warning")], [e.errors, e.warnings])
                self.assertEqual(str(e), "\n".join(e.errors))
                self.assertTrue(all(isinstance(d, tarvo.Diagnostic) for d in e.diagnostics))
                d = e.diagnostics[-1]
        self.assertEqual(tuple(d), (d.severity, d.kind, d.lineno, d.offset, d.element, d.attribute, d.expected,
                                    d.message))
        self.assertTrue(repr(d).startswith("tarvo.Diagnostic(severity='error', kind='unknown_element', lineno=3"))

    def test_unreadable_files_are_os_errors_too(self):
        missing = os.path.join(self.dir, "missing.xml")
        not_found = IOError if PY2 else FileNotFoundError  # noqa: F821 (Python 3 only)
        is_directory = IOError if PY2 else IsADirectoryError  # noqa: F821
        for path, os_class, number in [(missing, not_found, errno.ENOENT), (self.dir, is_directory, errno.EISDIR)]:
            classes = []
            for attempt in range(2):
                e = raised(os_class, tarvo.parse, "heatmap", {}, path)
                text = "Could not open file %s for reading" % path
                self.assertIsInstance(e, tarvo.ParseError)
                self.assertEqual((str(e), e.args, e.errors, e.warnings), (text, (text,), [text], []))
                self.assertEqual((e.errno, e.strerror, e.filename), (number, os.strerror(number), path))
                self.assertEqual((e.kind, e.lineno, e.offset), ("input_output", None, None))
                self.assertEqual([record(d) for d in e.diagnostics],
                                 [("error", "input_output", None, None, None, None, None, None, ())])
                self.assertEqual(type(e).__name__, "ParseError")
                copy = pickle.loads(pickle.dumps(e, pickle.HIGHEST_PROTOCOL))  # to and from worker processes
                self.assertEqual((type(copy), copy.args, copy.errno, copy.filename, copy.diagnostics),
                                 (type(e), e.args, e.errno, e.filename, e.diagnostics))
                classes.append(type(e))
            self.assertIs(classes[0], classes[1])  # made once
        # An invalid document is no OSError.
        invalid = self.write("b.xml", b"<Heatmap>")
        self.assertNotIsInstance(raised(tarvo.ParseError, tarvo.parse, "heatmap", {}, invalid), EnvironmentError)


class ParseBytesTest(DocumentTestCase):
    def test_every_example_reads_the_same_from_memory(self):
        documents = sorted(glob.glob(os.path.join(ROOT, "examples", "*", "*.xml")))
        self.assertGreater(len(documents), 20)
        for path in documents:
            grammar = os.path.basename(os.path.dirname(path))
            grammar_file = os.path.join(os.path.dirname(path), grammar + ".grammar")
            if os.path.exists(grammar_file):
                # Registered under a name of this test's own, whatever other
                # tests have loaded.
                with open(grammar_file, "rb") as f:
                    text = f.read().replace(b"\ngrammar " + grammar.encode() + b"\n",
                                            b"\ngrammar " + grammar.encode() + b"_copy\n")
                grammar += "_copy"
                if grammar not in tarvo.grammars():
                    tarvo.load_grammar(self.write("copy.grammar", text))
            with open(path, "rb") as f:
                data = f.read()
            for flags in (0, 7):
                from_file, from_memory = Recorder(), Recorder()
                expected = outcome(tarvo.parse, grammar, {"*": from_file.triple()}, path, flags)
                self.assertEqual(outcome(tarvo.parse_bytes, grammar, {"*": from_memory.triple()}, data, flags, path),
                                 expected)
                self.assertEqual(from_memory.events, from_file.events)
                if not flags:
                    self.assertEqual(expected[0], "error" if os.path.basename(path).startswith("invalid-") else "ok",
                                     path)
                if expected[0] == "error":
                    in_memory = raised(tarvo.ParseError, tarvo.parse_bytes, grammar, {}, data, flags)
                    on_disk = raised(tarvo.ParseError, tarvo.parse, grammar, {}, path, flags)
                    self.assertEqual([record(d) for d in in_memory.diagnostics],
                                     [record(d) for d in on_disk.diagnostics])

    def test_names_and_what_is_no_buffer(self):
        # The buffers that hold a document: test_module's BytesTest.
        self.assertEqual(tarvo.parse_bytes(data=b'<?xml?><Heatmap/>', callbacks={}, grammar="heatmap", name="mem"),
                         "File mem: no version in XML declaration; assuming 1.0")
        self.assertEqual(tarvo.parse_bytes("heatmap", {}, b'<?xml?><Heatmap/>'),
                         "File <bytes>: no version in XML declaration; assuming 1.0")
        e = raised(tarvo.ParseError, tarvo.parse_bytes, "heatmap", {}, b"")
        self.assertEqual((e.filename, e.kind), (None, "syntax"))
        for data in [None, 3, u"<Heatmap/>", [60]]:  # text is not bytes, on Python 2 either
            self.assertRaises(TypeError, tarvo.parse_bytes, "heatmap", {}, data)

        # The data cannot change size under the reader.
        data = bytearray(HEATMAP)

        def grow(name, attributes):
            data.extend(b" ")
        self.assertRaises(BufferError, tarvo.parse_bytes, "heatmap", {"Colors": [grow]}, data)
        data.extend(b" ")  # released afterwards
