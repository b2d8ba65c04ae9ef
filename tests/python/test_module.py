# The module's surface: contents, argument errors, how a parse's outcome
# becomes the call's result, flags, and paths and texts holding any byte.
import os
import re
import socket

import tarvo
from tarvo_support import (BUILT_IN, HEATMAP, HEATMAP_ELEMENTS, HEATMAP_EVENTS, HIGH, PY2, ROOT, DocumentTestCase,
                           Failure, Recorder, outcome, raised, raw)


class ModuleTest(DocumentTestCase):
    def test_contents(self):
        flags = ["PARSE_STRICT", "PARSE_IGNORE_WRONG_ATTRIBUTES", "PARSE_IGNORE_UNKNOWN_ATTRIBUTES",
                 "PARSE_IGNORE_WRONG_ELEMENTS", "PARSE_XML"]
        self.assertEqual(set(n for n in dir(tarvo) if not n.startswith("_")),
                         set(["parse", "parse_file", "parse_bytes", "parse_socket_stream", "ParseError", "Diagnostic",
                              "grammars", "grammar_info", "load_grammar", "load_dtd", "unload_grammar", "validate",
                              "validate_many", "Report", "detect_grammar", "GrammarChoice",
                              "position"] + flags))
        self.assertFalse(hasattr(tarvo, "_parse_socket_stream_bytewise"))  # the benchmark's own build only
        self.assertEqual([getattr(tarvo, n) for n in flags], [0, 1, 2, 4, 8])
        self.assertEqual((tarvo.ParseError.__module__, tarvo.ParseError.__name__, tarvo.ParseError.__bases__),
                         ("tarvo", "ParseError", (Exception,)))
        for grammar in BUILT_IN:  # found: the failure comes from the file
            self.assertRaises(tarvo.ParseError, tarvo.parse, grammar, {}, os.path.join(self.dir, "no.xml"), 0)

    def test_argument_errors_come_before_any_reading(self):
        rec = Recorder()
        callbacks, name = type("Callbacks", (dict,), {}), type("Name", (str,), {})
        good = callbacks((name(e), rec.triple()) for e in HEATMAP_ELEMENTS)  # subclasses are accepted
        path = self.write("h.xml", HEATMAP)
        sock, peer = socket.socketpair()
        peer.sendall(b"<Heatmap/>")
        peer.close()  # so that no receive can wait
        self.addCleanup(sock.close)

        def with_fileno(fileno):
            return type("Socket", (object,), {"fileno": staticmethod(fileno)})()

        # On Python 2 u"Element" == "Element", so the unicode key must differ.
        other_string_type = u"Element\u00e9" if PY2 else b"Element"
        cases = [
            ((), TypeError, "parse"), (("heatmap", good), TypeError, "parse"),
            (("heatmap", good, path, 0, 1, 0), TypeError, "parse"), ((None, good, path, 0), TypeError, ""),
            (("heatmap", good, None, 0), TypeError, ""), (("heatmap", good, path, "0"), TypeError, ""),
            (("heatmap", [("Heatmap", rec.triple())], path, 0), TypeError, "object is not a dictionary"),
            (("heatmap", dict(list(good.items()) + [(other_string_type, rec.triple())]), path, 0), TypeError,
             "key in dictionary is not a string"),
            (("heatmap", {1: rec.triple()}, path, 0), TypeError, "key in dictionary is not a string"),
            (("Heatmap", good, path, 0), ValueError, "unknown grammar 'Heatmap'"),
            (("heatmap\0", good, path, 0), ValueError, "embedded null character"),  # not cut at the NUL
            (("heatmap", good, path, 16), ValueError, "unknown flag bits 0x10 in flags 16"),
            (("heatmap", good, path, 99), ValueError, "unknown flag bits 0x60 in flags 99"),
            (("heatmap", good, path, -1), ValueError, "unknown flag bits 0xfffffff0 in flags -1"),
        ]
        socket_cases = [
            (("heatmap", good), TypeError, "parse"), (("heatmap", good, sock, 2, 1, 1, 0), TypeError, "parse"),
            (("heatmap", good, sock, 2, 256), OverflowError, ""), (("heatmap", good, sock, 2, -1), OverflowError, ""),
            (("heatmap", [], sock, 2), TypeError, "object is not a dictionary"),
            (("nope", good, sock, 2), ValueError, "unknown grammar 'nope'"),
            (("heatmap\0nope", good, sock, 2), ValueError, "embedded null character"),
            (("heatmap", good, sock, 1 << 30), ValueError, "unknown flag bits 0x40000000 in flags 1073741824"),
            # The exception of fileno() or of converting its result.
            (("heatmap", good, with_fileno(lambda: {}[3]), 2), KeyError, ""),
            (("heatmap", good, with_fileno(lambda: str(sock.fileno())), 2), TypeError, ""),
            (("heatmap", good, with_fileno(None), 2), TypeError, ""),
            (("heatmap", good, with_fileno(lambda: 2 ** 32 + sock.fileno()), 2), OverflowError, "fileno() is out of range for a socket handle"),
            (("heatmap", good, object(), 2), AttributeError, ""),
        ]
        for function, args, error, message in [(f, a, e, m) for f in (tarvo.parse, tarvo.parse_file)
                                               for a, e, m in cases] + [
                (tarvo.parse_socket_stream, a, e, m) for a, e, m in socket_cases]:
            text = str(raised(error, function, *args))
            self.assertTrue(message in text if message in ("", "parse") else text == message, (args, text))
        self.assertEqual(sock.recv(100), b"<Heatmap/>")
        for function in (tarvo.parse, tarvo.parse_file):  # the control
            self.assertEqual(function("heatmap", good, path, 0), "")
        self.assertEqual(rec.events, HEATMAP_EVENTS * 2)

    def test_parse_bytes_and_grammar_info_refuse_what_parse_refuses(self):
        rec = Recorder()
        callbacks = rec.callbacks(HEATMAP_ELEMENTS)
        for call, error, message in [
                (lambda: tarvo.parse_bytes("heat\0map", callbacks, HEATMAP), ValueError, "embedded null character"),
                (lambda: tarvo.parse_bytes("heatmap", callbacks, HEATMAP, 0, "a\0b"), ValueError,
                 "embedded null character"),
                (lambda: tarvo.parse_bytes("nope", callbacks, HEATMAP), ValueError, "unknown grammar 'nope'"),
                (lambda: tarvo.parse_bytes("heatmap", callbacks, HEATMAP, 16), ValueError,
                 "unknown flag bits 0x10 in flags 16"),
                (lambda: tarvo.parse_bytes("heatmap", callbacks, HEATMAP, flags=-8), ValueError,
                 "unknown flag bits 0xfffffff0 in flags -8"),
                (lambda: tarvo.grammar_info("heatmap\0"), ValueError, "embedded null character"),
                (lambda: tarvo.grammar_info("nope"), ValueError, "unknown grammar 'nope'")]:
            self.assertEqual(str(raised(error, call)), message)
        self.assertEqual(rec.events, [])
        for flags in (0, 1, 2, 4, 7):  # every combination of the constants is accepted
            self.assertEqual(outcome(tarvo.parse_bytes, "heatmap", callbacks, HEATMAP, flags), ("ok", ""))

    def test_keywords_and_defaults(self):
        path = self.write("h.xml", HEATMAP)
        rec = Recorder()
        callbacks = rec.callbacks(HEATMAP_ELEMENTS)
        for function in (tarvo.parse, tarvo.parse_file):
            for args, kwargs in [(("heatmap", callbacks, path), {}),
                                 (("heatmap",), {"path": path, "callbacks": callbacks}),
                                 ((), {"flags": 0, "path": path, "callbacks": callbacks, "grammar": "heatmap"})]:
                self.assertEqual(function(*args, **kwargs), "")
        self.assertEqual(rec.events, HEATMAP_EVENTS * 6)
        # flags defaults to PARSE_STRICT: an unknown attribute is an error.
        unknown = self.write("u.xml", HEATMAP.replace(b"<Colors ", b"<Colors u='1' "))
        self.assertEqual(outcome(tarvo.parse, "heatmap", {}, unknown), ("error", ["Unknown attribute 'u'", (
            "File %s, line 3: error in attributes for element 'Colors'" % unknown)], []))
        for args, kwargs, message in [
                (("heatmap",), {"callbacks": {}}, "path"), (("heatmap", {}, path), {"loop": 1}, "loop"),
                ((), {"callbacks": {}, "path": path, "grammar": "heatmap", "grammer": 1}, "grammer"),
                (("heatmap", {}, path), {"grammar": "heatmap"}, "grammar")]:
            self.assertIn(message, str(raised(TypeError, tarvo.parse, *args, **kwargs)), kwargs)

    def test_documentation(self):
        self.assertTrue(tarvo.__doc__)
        with open(os.path.join(ROOT, "VERSION")) as f:
            self.assertEqual(tarvo.__version__, f.read().strip())
        file_signature = "(grammar, callbacks, path, flags=0, max_errors=1)"
        signatures = {tarvo.parse: file_signature, tarvo.parse_file: file_signature,
                      tarvo.parse_socket_stream: "(grammar, callbacks, sock, flags=0, loop=0, max_errors=1)",
                      tarvo.parse_bytes: "(grammar, callbacks, data, flags=0, name='<bytes>', max_errors=1)",
                      tarvo.validate: "(grammar, source, flags=0, max_errors=0)",
                      tarvo.validate_many: "(grammar, sources, jobs=None, flags=0, max_errors=0)",
                      tarvo.load_grammar: "(path, replace=False)", tarvo.unload_grammar: "(name)",
                      tarvo.load_dtd: "(path, loosened=None, replace=False)", tarvo.position: "()"}
        for function, signature in signatures.items():
            if PY2:
                head = signature.split(",")[0].rstrip(")")
                self.assertTrue(function.__doc__.startswith(function.__name__ + head), function)
            else:
                import inspect
                self.assertEqual(str(inspect.signature(function)), signature)
                self.assertNotIn("--", function.__doc__.splitlines()[0])

    def test_every_field_is_documented(self):
        error = raised(tarvo.ParseError, tarvo.parse_bytes, "heatmap", {}, bytearray(b"<Heatmap/>"))
        fields = [n for n in vars(error) if not n.startswith("_")]
        self.assertEqual(sorted(fields), ["diagnostics", "errors", "filename", "kind", "lineno", "offset", "warnings"])
        for name in fields:
            self.assertTrue(re.search(r"\n +" + name + " ", tarvo.ParseError.__doc__), name)
        for record in (tarvo.Diagnostic, tarvo.Report):
            names = [n for n in dir(record) if not n.startswith("_") and n not in ("count", "index")
                     and not n.startswith("n_")]
            self.assertTrue(names)
            for name in names:
                self.assertTrue(getattr(record, name).__doc__, (record, name))

    def test_outcomes_of_parse_and_parse_file(self):
        missing = os.path.join(self.dir, "no such.xml")
        warned = self.write("w.xml", b'<?xml encoding="UTF-8"?>\n<Heatmap>\n<Colors gradient_color_space="CMYK"'
                                     b' min_color="red" shade="d"/></Heatmap>')
        failed = self.write("e.xml", b'<?xml encoding="UTF-8"?>\n<Heatmap>\n<Element model_file="m" value="1"/>'
                                     b'\n</Heatmap>')
        misplaced = self.write("m.xml", b'<?xml version="1.0"?>\n<Heatmap>\n<Element model_file="m" id="1"'
                                        b' value="1"/>\n<Colors/>\n<Element model_file="m" id="2" value="2"/>'
                                        b'\n</Heatmap>\n')
        no_version = "File %s: no version in XML declaration; assuming 1.0"
        heatmap = ("start", "Heatmap", {"title": "", "min_value": "-", "max_value": "-"})

        def element(i):
            return [("start", "Element", {"model_file": "m", "id": i, "value": i, "label": ""}), ("end", "Element")]

        cases = [
            (self.write("h.xml", HEATMAP), 0, ("ok", ""), HEATMAP_EVENTS),
            (warned, 3, ("ok", "\n".join([
                no_version % warned,
                "Invalid attribute value 'CMYK' for attribute 'gradient_color_space' - getting default value",
                "Unknown attribute 'shade'"])), [
                heatmap, ("start", "Colors", {"init_alpha": "0.75", "gradient_color_space": "HSVs", "shade": "d",
                                              "min_color": "red", "max_color": "#FF0000"}), ("end", "Colors"),
                ("end", "Heatmap")]),
            (failed, 0, ("error", ["No value found for mandatory attribute 'id'",
                                   "File %s, line 3: error in attributes for element 'Element'" % failed],
                         [no_version % failed]), [heatmap]),
            (missing, 0, ("error", ["Could not open file %s for reading" % missing], []), []),
            # An ignored element is skipped whole and the parse runs on.
            (misplaced, 3, ("error", [
                "Element is invalid as successor of current element 'Element' in this context (0)",
                "File %s, line 4: error while opening element 'Colors'" % misplaced], []), [heatmap] + element("1")),
            (misplaced, 7, ("ok", "File %s, line 4: invalid element 'Colors' ignored - trying to continue"
                             % misplaced), [heatmap] + element("1") + element("2") + [("end", "Heatmap")]),
        ]
        for function in (tarvo.parse, tarvo.parse_file):
            for path, flags, expected, events in cases:
                rec = Recorder()
                got = outcome(function, "heatmap", rec.callbacks(HEATMAP_ELEMENTS), path, flags)
                self.assertEqual((got, rec.events), (expected, events), path)
                self.assertIsInstance(got[1], (str, list))
                # Without callbacks the document is checked the same way.
                self.assertEqual(outcome(function, "heatmap", {}, path, flags), expected)
            # A raise after an ignored element is still the callable's own.
            self.assertRaises(Failure, function, "heatmap", Recorder(("end", "Heatmap")).callbacks(["Heatmap"]),
                              misplaced, 4)


class BytesTest(DocumentTestCase):
    """Every byte of a document or path reaches the caller and comes back through raw()."""

    def test_values_text_and_messages(self):
        for value in (HIGH, b"caf\xc3\xa9 \xe2\x82\xac \xff\xfe \xc3 \xed\xa0\x80"):  # UTF-8 next to other bytes
            doc = (b'<?xml version="1.0"?>\n<dictionary><translation><source>' + value + b' &amp; more</source>'
                   b'<target>' + value[::-1] + b'</target></translation></dictionary>')
            rec = Recorder()
            self.assertEqual(tarvo.parse("dictionary", rec.callbacks(["source", "target"]),
                                         self.write("t.xml", doc), 0), "")
            self.assertEqual([raw(e[2]) for e in rec.events if e[0] == "text"], [value + b" & more", value[::-1]])
            path = self.write("a.xml", b'<?xml version="1.0"?>\n<Heatmap title="' + value + b'"><Colors min_color="'
                              b'&lt;' + value + b'" shade="' + value + b'" gradient_color_space="' + value + b'"/>'
                              b'</Heatmap>')
            rec = Recorder()
            result = tarvo.parse("heatmap", rec.callbacks(HEATMAP_ELEMENTS), path, 3)
            attributes = rec.events[1][2]
            self.assertEqual((raw(rec.events[0][2]["title"]), raw(attributes["min_color"]), raw(attributes["shade"])),
                             (value, b"<" + value, value))
            self.assertTrue(all(isinstance(s, str) for s in sum(attributes.items(), ()) + (result,)))
            message = b"Invalid attribute value '" + value + b"' for attribute 'gradient_color_space'"
            self.assertEqual(raw(result), message + b" - getting default value\nUnknown attribute 'shade'")
            self.assertEqual(raw(outcome(tarvo.parse, "heatmap", {}, path, 2)[1][0]), message)
        if not PY2:  # well-formed UTF-8 reads as text
            self.assertEqual(rec.events[0][2]["title"][:6], u"caf\u00e9 \u20ac")

    def test_any_buffer(self):
        # Every object with either buffer interface holds a document; on
        # Python 2 that includes array and mmap, which have only the older one.
        import array
        import mmap
        path = self.write("h.xml", HEATMAP)
        with open(path, "rb") as f:
            mapped = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        self.addCleanup(mapped.close)
        holders = [HEATMAP, bytearray(HEATMAP), memoryview(HEATMAP), memoryview(b"xx" + HEATMAP + b"yy")[2:-2],
                   array.array("b", bytearray(HEATMAP)), mapped]
        if PY2:
            holders.append(buffer(HEATMAP))  # noqa: F821 (Python 2 only)
        for data in holders:
            rec = Recorder()
            self.assertEqual(tarvo.parse_bytes("heatmap", rec.callbacks(HEATMAP_ELEMENTS), data), "", type(data))
            self.assertEqual(rec.events, HEATMAP_EVENTS, type(data))
        # A holder emptied by a callable mid-parse cannot pull the bytes away
        # from the reader: it is refused while viewed, or was copied.
        for data in (bytearray(HEATMAP), array.array("b", bytearray(HEATMAP))):
            rec = Recorder()

            def empty(name, attributes):
                try:
                    del data[:]
                except BufferError:
                    pass
                return rec.start(name, attributes)
            callbacks = rec.callbacks(HEATMAP_ELEMENTS)
            callbacks["Heatmap"][0] = empty
            self.assertEqual(tarvo.parse_bytes("heatmap", callbacks, data), "")
            self.assertEqual(rec.events, HEATMAP_EVENTS)

    def test_paths(self):
        directory = self.dir if PY2 else os.fsencode(self.dir)
        path = os.path.join(directory, b"ward \xff\xc3\xa9.xml")
        with open(path, "wb") as f:
            f.write(b'<?xml version="1.0"?>\n<Heatmap/>')
        missing = os.path.join(directory, b"no \xfe.xml")
        for variant in [str] if PY2 else [bytes, os.fsdecode, lambda p: type("PathLike", (object,), {
                "__fspath__": lambda self: p})()]:
            self.assertEqual(tarvo.parse("heatmap", {}, variant(path), 0), "")
            got = outcome(tarvo.parse, "heatmap", {}, variant(missing), 0)
            self.assertEqual(raw(got[1][0]), b"Could not open file " + missing + b" for reading")
        name = u"caf\u00e9.xml"  # a text path is encoded as open() encodes it
        try:
            with open(os.path.join(self.dir, name), "wb") as f:
                f.write(b'<?xml version="1.0"?>\n<Heatmap/>')
        except UnicodeError:
            return  # a file system encoding without it
        self.assertEqual(tarvo.parse("heatmap", {}, os.path.join(self.dir, name), 0), "")
