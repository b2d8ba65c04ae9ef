# Reading on after an error (max_errors), validate() and its Report, the
# records' codes, notes, parents, paths and suggestions, position() in
# callbacks, and DTDs loaded as grammars.
import os
import pickle
import socket

import tarvo
from tarvo_support import PY2, ROOT, DocumentTestCase, raised

LIBRARY_DTD = os.path.join(ROOT, "tests", "dtd", "library.dtd")

# Four problems: a wrong value, an unknown element, two missing attributes.
MISTAKES = b"""<?xml version="1.0"?>
<Heatmap>
  <Colors gradient_color_space="hsvs"/>
  <Bogus/>
  <Element id="a"/>
</Heatmap>
"""
MISTAKE_CODES = ["invalid-value", "unknown-element", "missing-attribute", "missing-attribute"]
VALID = b'<?xml version="1.0"?>\n<Heatmap><Colors/></Heatmap>\n'


def problems(diagnostics):
    """The codes of the errors that are not notes."""
    return [d.code for d in diagnostics if d.severity == "error" and not d.note]


def fields(d):
    return tuple(getattr(d, f) for f in (
        "severity", "kind", "lineno", "offset", "end_lineno", "end_offset", "element", "attribute", "expected",
        "message", "code", "note", "parent", "path", "suggestion"))


class MaxErrorsTest(DocumentTestCase):
    def over_socket(self, data, **kwargs):
        a, b = socket.socketpair()
        try:
            a.sendall(data[data.index(b"?>") + 2:])  # streams carry no declaration
            a.close()
            return tarvo.parse_socket_stream("heatmap", {}, b, **kwargs)
        finally:
            b.close()

    def test_every_call_reports_as_many_problems_as_allowed(self):
        path = self.write("mistakes.xml", MISTAKES)
        calls = [
            ("parse", lambda **k: tarvo.parse("heatmap", {}, path, **k)),
            ("parse_file", lambda **k: tarvo.parse_file("heatmap", {}, path, **k)),
            ("parse_bytes", lambda **k: tarvo.parse_bytes("heatmap", {}, MISTAKES, **k)),
            ("parse_socket_stream", lambda **k: self.over_socket(MISTAKES, **k)),
        ]
        # max_errors given or not -> the problems reported
        limits = [({}, MISTAKE_CODES[:1]), ({"max_errors": 1}, MISTAKE_CODES[:1]),
                  ({"max_errors": 3}, MISTAKE_CODES[:3]), ({"max_errors": 0}, MISTAKE_CODES),
                  ({"max_errors": 100}, MISTAKE_CODES)]
        for name, call in calls:
            for kwargs, codes in limits:
                e = raised(tarvo.ParseError, call, **kwargs)
                self.assertEqual(problems(e.diagnostics), codes, (name, kwargs))
                # Every problem is a message and its note.
                self.assertEqual(len(e.errors), 2 * len(codes), (name, kwargs))
                self.assertEqual([d.message for d in e.diagnostics if d.severity == "error"], e.errors)
                self.assertEqual((e.kind, e.lineno), ("wrong_attribute_value", 3), (name, kwargs))
            # A valid document is not affected.
            self.assertEqual(tarvo.parse_bytes("heatmap", {}, VALID, max_errors=0), "")

    def test_max_errors_must_be_a_count(self):
        for value, error in [(-1, ValueError), (2 ** 32, ValueError), ("3", TypeError), (1.0, TypeError),
                             (None, TypeError)]:
            self.assertRaises(error, tarvo.parse_bytes, "heatmap", {}, VALID, max_errors=value)
            self.assertRaises(error, tarvo.validate, "heatmap", VALID, max_errors=value)
        # Positional after the existing optional arguments.
        self.assertRaises(tarvo.ParseError, tarvo.parse_bytes, "heatmap", {}, MISTAKES, 0, "<m>", 0)


class ValidateTest(DocumentTestCase):
    def test_sources_give_reports_and_never_raise_for_the_document(self):
        path = self.write("mistakes.xml", MISTAKES)
        valid_path = self.write("valid.xml", VALID)
        missing = os.path.join(self.dir, "missing.xml")
        # (source, valid, status, codes of the errors that are not notes)
        cases = [
            (path, False, 1, MISTAKE_CODES),
            (valid_path, True, 0, []),
            (missing, False, 2, ["unreadable"]),
            (self.dir, False, 2, ["unreadable"]),  # a directory fails on its first read
            (bytearray(MISTAKES), False, 1, MISTAKE_CODES),
            (memoryview(MISTAKES), False, 1, MISTAKE_CODES),
            (memoryview(VALID), True, 0, []),
            (bytearray(b"<Heatmap"), False, 1, ["syntax"]),
        ]
        if not PY2:
            import pathlib
            cases += [(MISTAKES, False, 1, MISTAKE_CODES), (pathlib.Path(path), False, 1, MISTAKE_CODES),
                      (os.fsencode(path).decode("ascii"), False, 1, MISTAKE_CODES)]
        else:
            cases += [(path.decode("ascii"), False, 1, MISTAKE_CODES)]
        for source, valid, status, codes in cases:
            report = tarvo.validate("heatmap", source)
            self.assertIsInstance(report, tarvo.Report)
            self.assertEqual((report.valid, report.status), (valid, status), source)
            self.assertEqual(tuple(report), (report.valid, report.status, report.diagnostics))
            self.assertEqual(problems(report.diagnostics), codes, source)
        # Paths are set for every record about an element; none for an unreadable file.
        report = tarvo.validate("heatmap", path)
        self.assertEqual([d.path for d in report.diagnostics if not d.note],
                         ["/Heatmap[1]/Colors[1]", "/Heatmap[1]/Bogus[1]", "/Heatmap[1]/Element[1]",
                          "/Heatmap[1]/Element[1]"])
        self.assertEqual(tarvo.validate("heatmap", missing).diagnostics[0].path, None)
        # max_errors as for a parse; warnings are reported too.
        self.assertEqual(problems(tarvo.validate("heatmap", path, max_errors=2).diagnostics), MISTAKE_CODES[:2])
        warned = tarvo.validate("heatmap", bytearray(b'<?xml encoding="UTF-8"?><Heatmap/>'))
        self.assertEqual((warned.valid, [d.severity for d in warned.diagnostics]), (True, ["warning"]))
        # The same records as a failed parse, paths apart.
        self.assertEqual([fields(d)[:-2] for d in raised(tarvo.ParseError, tarvo.parse, "heatmap", {}, path,
                                                          max_errors=0).diagnostics],
                         [fields(d)[:-2] for d in report.diagnostics])

    def test_argument_errors_still_raise(self):
        self.assertRaises(ValueError, tarvo.validate, "nonesuch", VALID)
        self.assertRaises(ValueError, tarvo.validate, "heatmap", VALID, 0x100)
        self.assertRaises(TypeError, tarvo.validate, "heatmap", 3)
        self.assertRaises(TypeError, tarvo.validate, "heatmap")
        self.assertRaises(ValueError, tarvo.validate, "heatmap", os.path.join(self.dir, "a\0b"))


class DiagnosticTest(DocumentTestCase):
    def test_new_fields_and_pickling(self):
        doc = (b'<?xml version="1.0"?>\n<Heatmap>\n  <Colors gradient_color_space="hsvs"/>\n'
               b'  <colors/>\n</Heatmap>\n')
        report = tarvo.validate("heatmap", bytearray(doc))
        # The token's span: the value, the element's name for the note, the unknown name.
        self.assertEqual([fields(d)[2:6] for d in report.diagnostics],
                         [(3, 33, 3, 37), (3, 4, 3, 10), (4, 4, 4, 10), (4, 4, 4, 10)])
        # code, note, parent, path, suggestion
        self.assertEqual([fields(d)[10:] for d in report.diagnostics], [
            ("invalid-value", False, "Heatmap", "/Heatmap[1]/Colors[1]", "HSVs"),
            ("invalid-value", True, "Heatmap", "/Heatmap[1]/Colors[1]", "HSVs"),
            ("unknown-element", False, "Heatmap", "/Heatmap[1]/colors[1]", None),
            ("unknown-element", True, "Heatmap", "/Heatmap[1]/colors[1]", None),
        ])
        d = raised(tarvo.ParseError, tarvo.parse_bytes, "heatmap", {},
                   b'<?xml version="1.0"?><Heatmap><Bogus/></Heatmap>').diagnostics[0]
        # Without paths asked for, and about the root: no path, no parent.
        self.assertEqual(fields(d)[10:], ("unknown-element", False, "Heatmap", None, None))
        root = tarvo.validate("heatmap", bytearray(b'<?xml version="1.0"?><Bogus/>')).diagnostics[0]
        self.assertEqual((root.parent, root.path), (None, "/Bogus[1]"))
        for d in report.diagnostics + [root]:
            self.assertEqual(len(d), 8)  # the tuple keeps its items; the new fields go by name
            for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
                copy = pickle.loads(pickle.dumps(d, protocol))
                self.assertEqual(fields(copy), fields(d), protocol)
                self.assertIs(type(copy), tarvo.Diagnostic)
        copy = pickle.loads(pickle.dumps(report))
        self.assertEqual([fields(d) for d in copy.diagnostics], [fields(d) for d in report.diagnostics])
        self.assertEqual((copy.valid, copy.status), (False, 1))


class PositionTest(DocumentTestCase):
    def test_inside_callbacks_and_outside(self):
        doc = (b'<?xml version="1.0"?>\n<dictionary>\n  <translation><source>ab</source>'
               b'<target>x</target></translation>\n</dictionary>\n')
        seen = []

        def log(kind):
            return lambda name, *rest: seen.append((kind, name, tarvo.position()))

        callbacks = {"*": [log("start"), log("text"), log("end")]}
        # Where a tag's '>' stands; for text, the '<' after it.
        expected = [("start", "dictionary", (2, 12)), ("start", "translation", (3, 15)),
                    ("start", "source", (3, 23)), ("text", "source", (3, 26)), ("end", "source", (3, 34)),
                    ("start", "target", (3, 42)), ("text", "target", (3, 44)), ("end", "target", (3, 52)),
                    ("end", "translation", (3, 66)), ("end", "dictionary", (4, 13))]
        path = self.write("d.xml", doc)
        for run in (lambda: tarvo.parse("dictionary", callbacks, path),
                    lambda: tarvo.parse_bytes("dictionary", callbacks, doc)):
            del seen[:]
            self.assertEqual(run(), "")
            self.assertEqual(seen, expected)
        self.assertRaises(RuntimeError, tarvo.position)

        # A callable that parses too: the outer parse's position comes back.
        inner = []

        def nested(name, attributes):
            tarvo.parse_bytes("heatmap", {"Heatmap": [lambda n, a: inner.append(tarvo.position())]},
                              b'<?xml version="1.0"?>\n\n<Heatmap/>')
            inner.append(tarvo.position())

        tarvo.parse_bytes("dictionary", {"translation": [nested]}, doc)
        self.assertEqual(inner, [(3, 9), (3, 15)])  # an empty-element tag starts at its '/'
        self.assertRaises(RuntimeError, tarvo.position)

        # After a parse that failed, and one whose callable raised.
        self.assertRaises(tarvo.ParseError, tarvo.parse_bytes, "dictionary", callbacks, b"<dictionary><x/>")
        self.assertRaises(RuntimeError, tarvo.position)
        self.assertRaises(ZeroDivisionError, tarvo.parse_bytes, "dictionary",
                          {"dictionary": [lambda n, a: 1 // 0]}, doc)
        self.assertRaises(RuntimeError, tarvo.position)


class LoadDtdTest(DocumentTestCase):
    def test_round_trip(self):
        loosened = []
        self.assertEqual(tarvo.load_dtd(LIBRARY_DTD, loosened=loosened), "library")
        self.assertIn("library", tarvo.grammars())
        self.assertIn("attribute id of book: type ID: any value is accepted; it is not checked to be a name, "
                      "nor to be unique", loosened)
        self.assertIn("book", [e["name"] for e in tarvo.grammar_info("library")["elements"]])
        good = (b'<?xml version="1.0"?><library><shelf><book id="b1" format="paper"><title>T</title>'
                b'<author><name>N</name></author><isbn>1</isbn></book></shelf></library>')
        starts = []
        self.assertEqual(tarvo.parse_bytes("library", {"book": [lambda n, a: starts.append(a)]}, good), "")
        self.assertEqual(starts, [{"id": "b1", "note": "", "lang": "en", "format": "paper"}])
        bad = tarvo.validate("library", bytearray(good.replace(b' format="paper"', b"")))
        self.assertEqual((bad.status, problems(bad.diagnostics)), (1, ["missing-attribute"]))
        # Registered once; a second load and a broken DTD are refused as grammar files are.
        self.assertRaises(ValueError, tarvo.load_dtd, LIBRARY_DTD)
        broken = self.write("broken.dtd", b"<!ELEMENT a (b | b, c)>\n<!ELEMENT b EMPTY>\n<!ELEMENT c EMPTY>\n")
        self.assertIn(broken + ":1:", str(raised(ValueError, tarvo.load_dtd, broken)))
        self.assertNotIn("broken", tarvo.grammars())
        self.assertRaises(ValueError, tarvo.load_dtd, os.path.join(self.dir, "none.dtd"))
        self.assertRaises(TypeError, tarvo.load_dtd, LIBRARY_DTD, loosened=())
