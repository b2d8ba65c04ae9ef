# Strings between documents and the host: every byte of a document reaches
# the caller, as a byte string on Python 2 and as str on Python 3 (UTF-8
# with surrogateescape), and comes back unchanged through raw().
import os
import random
import unittest

import tarvo
from tarvo_support import (DICTIONARY, DICTIONARY_ELEMENTS, HEATMAP, HEATMAP_ELEMENTS, PY2, DocumentTestCase, Recorder,
                           raw)

HIGH = bytes(bytearray(range(0x80, 0x100)))
# Well-formed UTF-8 next to bytes that are not.
MIXED = b"caf\xc3\xa9 \xe2\x82\xac \xff\xfe \xc3 \xed\xa0\x80"


class HighBytesTest(DocumentTestCase):
    def all_strings(self, events):
        for event in events:
            for item in event[1:]:
                if isinstance(item, dict):
                    for k, v in item.items():
                        yield k
                        yield v
                else:
                    yield item

    def test_attribute_values(self):
        for value in (HIGH, MIXED, b"plain"):
            doc = (b'<?xml version="1.0"?>\n<Heatmap title="' + value + b'"><Element model_file="' + value +
                   b'" id="&lt;' + value + b'&gt;" value="1"/></Heatmap>')
            rec = Recorder()
            self.assertEqual(tarvo.parse("heatmap", rec.callbacks(["Heatmap", "Element"]),
                                         self.write("a.xml", doc), 0), "")
            self.assertEqual(raw(rec.events[0][2]["title"]), value)
            self.assertEqual(raw(rec.events[1][2]["model_file"]), value)
            self.assertEqual(raw(rec.events[1][2]["id"]), b"<" + value + b">")
            for s in self.all_strings(rec.events):
                self.assertIsInstance(s, str)

    def test_character_data(self):
        for value in (HIGH, MIXED):
            doc = (b'<?xml version="1.0"?>\n<dictionary><translation><source>' + value +
                   b' &amp; more</source><target>' + value[::-1] + b'</target></translation></dictionary>')
            rec = Recorder()
            self.assertEqual(tarvo.parse("dictionary", {"source": rec.triple(), "target": rec.triple()},
                                         self.write("t.xml", doc), 0), "")
            texts = [raw(e[2]) for e in rec.events if e[0] == "text"]
            self.assertEqual(texts, [value + b" & more", value[::-1]])

    def test_well_formed_utf8_reads_as_text(self):
        if PY2:
            return
        doc = b'<?xml version="1.0"?>\n<Heatmap title="caf\xc3\xa9 \xe2\x82\xac"/>'
        rec = Recorder()
        tarvo.parse("heatmap", {"Heatmap": rec.triple()}, self.write("u.xml", doc), 0)
        self.assertEqual(rec.events[0][2]["title"], u"caf\u00e9 \u20ac")

    def test_messages_keep_document_bytes(self):
        # A byte that cannot continue a name ends it and is then reported.
        path = self.write("n.xml", b'<?xml version="1.0"?>\n<Heatmap\xe9 title="t"/>')
        e = self.parse_error("heatmap", {}, path)
        self.assertIn(b"'\xe9'", raw(str(e)))
        self.assertIn(b"'\xe9'", raw(e.errors[0]))
        # Warnings carry the bytes of the offending value.
        path = self.write("w.xml", b'<?xml version="1.0"?>\n<Heatmap><Colors gradient_color_space="' + MIXED +
                          b'"/></Heatmap>')
        result = tarvo.parse("heatmap", {}, path, tarvo.PARSE_IGNORE_WRONG_ATTRIBUTES)
        self.assertEqual(raw(result), b"Invalid attribute value '" + MIXED +
                         b"' for attribute 'gradient_color_space' - getting default value")
        self.assertIsInstance(result, str)


class PathTest(DocumentTestCase):
    def test_path_types(self):
        path = self.write("h.xml", b'<?xml version="1.0"?>\n<Heatmap/>')
        paths = [path]
        if not PY2:
            import pathlib
            paths += [path.encode("utf-8", "surrogateescape"), pathlib.Path(path)]

            class PathLike(object):
                def __fspath__(self):
                    return path
            paths.append(PathLike())
        for p in paths:
            self.assertEqual(tarvo.parse("heatmap", {}, p, 0), "")

    def test_path_with_high_bytes(self):
        name = b"ward \xff\xc3\xa9.xml"
        directory = self.dir if PY2 else self.dir.encode("utf-8", "surrogateescape")
        path = os.path.join(directory, name)
        with open(path, "wb") as f:
            f.write(b'<?xml version="1.0"?>\n<Heatmap/>')
        self.assertEqual(tarvo.parse("heatmap", {}, path, 0), "")
        missing = os.path.join(directory, b"no \xfe.xml")
        e = self.parse_error("heatmap", {}, missing)
        self.assertEqual(raw(str(e)), b"Could not open file " + missing + b" for reading")
        if not PY2:
            # The str spelling of the same bytes names the same file.
            e = self.parse_error("heatmap", {}, os.fsdecode(missing))
            self.assertEqual(raw(str(e)), b"Could not open file " + missing + b" for reading")

    def test_changing_callbacks_from_a_path_does_not_crash(self):
        if PY2:
            return
        path = self.write("h.xml", b'<?xml version="1.0"?>\n<Heatmap/>')
        rec = Recorder()
        callbacks = {"Heatmap": rec.triple()}

        class Sneaky(object):
            # Runs after the callbacks were checked.
            def __fspath__(self):
                callbacks[b"Heatmap"] = rec.triple()
                callbacks[3] = None
                return path

        self.assertEqual(tarvo.parse("heatmap", callbacks, Sneaky(), 0), "")
        self.assertEqual(rec.events, [("start", "Heatmap", {"title": "", "min_value": "-", "max_value": "-"}),
                                      ("end", "Heatmap")])


class KeyTest(DocumentTestCase):
    def test_keys_are_matched_by_their_bytes(self):
        if PY2:
            return
        path = self.write("h.xml", b'<?xml version="1.0"?>\n<Heatmap/>')
        rec = Recorder()
        # Keys no document name can equal are accepted and never match.
        callbacks = {u"Heatmap\udcff": rec.triple(), u"\ud800": rec.triple(), u"Heatmap\u00e9": rec.triple(),
                     u"Heatmap\x00": rec.triple()}
        self.assertEqual(tarvo.parse("heatmap", callbacks, path, 0), "")
        self.assertEqual(rec.events, [])
        self.assertEqual(tarvo.parse("heatmap", {u"Heat" + u"map": rec.triple()}, path, 0), "")
        self.assertEqual(len(rec.events), 2)


class DamagedDocumentTest(DocumentTestCase):
    def test_any_bytes_give_a_result_or_parse_error(self):
        rng = random.Random(4)
        sources = [("heatmap", HEATMAP, HEATMAP_ELEMENTS), ("dictionary", DICTIONARY, DICTIONARY_ELEMENTS)]
        path = os.path.join(self.dir, "damaged.xml")
        for i in range(400):
            grammar, doc, elements = sources[i % 2]
            data = bytearray(doc)
            for _ in range(rng.randint(1, 6)):
                at = rng.randrange(len(data))
                action = rng.randrange(3)
                if action == 0:
                    data[at] = rng.randrange(256)
                elif action == 1:
                    del data[at:at + rng.randint(1, 8)]
                else:
                    data[at:at] = bytearray(rng.choice([b"<", b">", b"/", b'"', b"&", b"\xff", b"<Element>"]))
            with open(path, "wb") as f:
                f.write(bytes(data))
            rec = Recorder()
            try:
                result = tarvo.parse(grammar, rec.callbacks(elements), path, rng.randrange(8))
                self.assertIsInstance(result, str)
            except tarvo.ParseError as e:
                self.assertTrue(e.errors)
                for message in e.errors + e.warnings:
                    self.assertIsInstance(message, str)
            for event in rec.events:
                self.assertIn(event[1], elements)


if __name__ == "__main__":
    unittest.main()
