# detect_grammar(): the grammar a document's head names, by SYSTEM name or
# by root, or none and why, for paths and buffers alike, and the grammars
# loaded and unloaded meanwhile; validate() and validate_many() given no
# grammar, whose Reports hold what `tarvo check -a --format json` prints for
# the same files.
import errno
import json
import os
import subprocess

import tarvo
from tarvo_support import DICTIONARY, HEATMAP, PY2, ROOT, DocumentTestCase, raised, raw

DECL = b'<?xml version="1.0"?>\n'


def with_doctype(doc, doctype):
    """`doc` with `doctype` after its XML declaration."""
    return DECL + doctype + b"\n" + doc[len(DECL):]


# name, document, the grammar it names (None: none), the reason given
CASES = [
    ("system.xml", with_doctype(HEATMAP, b'<!DOCTYPE Heatmap SYSTEM "heatmap.dtd">'), "heatmap",
     b"DOCTYPE SYSTEM 'heatmap.dtd'"),
    # The SYSTEM name wins over the root, and the document is invalid against it.
    ("system_url.xml", with_doctype(HEATMAP, b'<!DOCTYPE x SYSTEM "http://example.org/dtd/dictionary.dtd">'),
     "dictionary", b"DOCTYPE SYSTEM 'http://example.org/dtd/dictionary.dtd'"),
    ("root.xml", DICTIONARY, "dictionary", b"root element 'dictionary'"),
    ("unknown.xml", DECL + b'<!DOCTYPE nothing SYSTEM "nothing.dtd">\n<nothing/>\n', None,
     b"its DOCTYPE names SYSTEM 'nothing.dtd', which is no grammar's (see 'tarvo grammars'), and no grammar has "
     b"root element 'nothing'"),
    ("high.xml", DECL + b"<\xc3\xa9l/>", None, b"no grammar has root element '\xc3\xa9l'"),
    ("empty.xml", b"", None, b"no DOCTYPE and no root element was found at its start"),
]


def buffers(data):
    """The buffer types that hold a document, as validate() takes them."""
    found = [bytearray(data), memoryview(data)]
    return found if PY2 else [data] + found


def unicode_text(value):
    """A string the module gave as the JSON parser gives it."""
    return value.decode("utf-8") if PY2 and isinstance(value, str) else value


def flat(diagnostics):
    """A Report's diagnostics as comparable tuples, each note its own."""
    for d in diagnostics:
        if d.note:
            yield ("note", d.lineno, d.offset, d.message)
        else:
            yield (d.severity, d.kind, d.code, d.lineno, d.offset, d.element, d.attribute, d.parent, d.path,
                   d.expected, d.suggestion, d.message)


def flat_record(record):
    """The same tuples from one JSON record of `tarvo check`."""
    for x in record["diagnostics"]:
        yield (x["severity"], x["kind"], x["code"], x["line"] or None, x["column"] or None, x["element"],
               x["attribute"], x["parent"], x["path"], tuple(x["expected"]), x["suggestion"], x["message"])
        if x["note"]:
            yield ("note", x["note"]["line"], x["note"]["column"], x["note"]["message"])


class DetectTest(DocumentTestCase):
    def test_paths_and_buffers_name_the_same_grammar_and_are_checked_against_it(self):
        for name, data, grammar, reason in CASES:
            path = self.write(name, data)
            sources = [(path, path)] + [(b, "<bytes>") for b in buffers(data)]
            if PY2:
                sources.append((path.decode("utf-8"), path))
            else:
                import pathlib
                sources.append((pathlib.Path(path), path))
            for source, shown in sources:
                choice = tarvo.detect_grammar(source)
                self.assertTrue(isinstance(choice, tarvo.GrammarChoice))
                self.assertEqual((choice.grammar, raw(choice.reason)), (grammar, reason), (name, type(source)))
                self.assertEqual(tuple(choice), (choice.grammar, choice.reason))
                # validate() given no grammar: the Report of the one named, or why there is none.
                report = tarvo.validate(None, source, max_errors=0)
                if grammar:
                    self.assertEqual(report, tarvo.validate(grammar, source), (name, type(source)))
                    continue
                self.assertEqual((report.valid, report.status, len(report.diagnostics)), (False, 2, 1), name)
                d = report.diagnostics[0]
                self.assertEqual((d.code, d.kind, d.lineno, d.severity), ("no-grammar", "input_output", None, "error"))
                self.assertEqual(raw(d.message), raw("No grammar found for %s: " % shown) + reason, type(source))
            self.assertEqual(tarvo.detect_grammar(source=path).grammar, grammar)
            # The name goes straight to the calls that take one.
            if grammar:
                self.assertEqual(tarvo.validate(grammar, path).valid, name != "system_url.xml")
        # Names that are not UTF-8 come back byte for byte.
        self.assertEqual(raw(tarvo.detect_grammar(bytearray(b"<\xff\xfe/>")).reason),
                         b"no grammar has root element '\xff\xfe'")

    def test_a_grammar_loaded_or_unloaded_is_seen_by_the_next_call(self):
        with open(os.path.join(ROOT, "examples", "recipe", "recipe.grammar"), "rb") as f:
            grammar = f.read().replace(b"grammar recipe", b"grammar recipe_detected")
        doc = bytearray(b'<!DOCTYPE recipe SYSTEM "recipe_detected.dtd"><recipe/>')
        self.assertEqual(tarvo.detect_grammar(doc).grammar, None)
        name = tarvo.load_grammar(self.write("recipe.grammar", grammar))
        try:
            self.assertEqual(tarvo.detect_grammar(doc), ("recipe_detected", "DOCTYPE SYSTEM 'recipe_detected.dtd'"))
            self.assertEqual(tarvo.validate(None, doc), tarvo.validate(name, doc))
        finally:
            tarvo.unload_grammar(name)
        self.assertEqual(tarvo.detect_grammar(doc).grammar, None)

    def test_a_file_that_cannot_be_read_raises_as_parse_does(self):
        for path, number in [(os.path.join(self.dir, "nosuch.xml"), errno.ENOENT), (self.dir, errno.EISDIR)]:
            expected = raised(tarvo.ParseError, tarvo.parse, "heatmap", {}, path)
            e = raised(tarvo.ParseError, tarvo.detect_grammar, path)
            self.assertTrue(isinstance(e, IOError if PY2 else OSError))
            self.assertEqual(type(e), type(expected))
            self.assertEqual((e.args, e.errno, e.filename, e.errors), (expected.args, number, path, expected.errors))
            self.assertEqual(str(e), "Could not open file %s for reading" % path)
        for wrong in (None, 3, {}):
            self.assertRaises(TypeError, tarvo.detect_grammar, wrong)
        self.assertRaises(TypeError, tarvo.detect_grammar)
        self.assertRaises(TypeError, tarvo.validate, 3, DICTIONARY)


class ValidateWithoutGrammarTest(DocumentTestCase):
    def paths(self):
        return [self.write(name, data) for name, data, _, _ in CASES] + [os.path.join(self.dir, "nosuch.xml")]

    def test_unreadable_files_and_wrong_flags_as_with_a_grammar(self):
        for unreadable in (os.path.join(self.dir, "nosuch.xml"), self.dir):
            self.assertEqual(tarvo.validate(None, unreadable), tarvo.validate("heatmap", unreadable))
        self.assertRaises(ValueError, tarvo.validate, None, DICTIONARY, flags=1 << 20)

    def test_validate_many_gives_what_validate_gives(self):
        sources = self.paths() + [bytearray(data) for _, data, _, _ in CASES]
        expected = [tarvo.validate(None, s, max_errors=3) for s in sources]
        for jobs in (1, 3, None):
            self.assertEqual(tarvo.validate_many(None, sources, jobs, max_errors=3), expected, jobs)
        self.assertEqual(tarvo.validate_many(None, []), [])

    def test_reports_hold_what_check_auto_prints(self):
        tool = os.path.join(os.path.dirname(os.path.abspath(tarvo.__file__)), "..", "..", "tarvo")
        if not os.path.exists(tool):
            self.skipTest("no tarvo tool beside the module")
        paths = self.paths()
        process = subprocess.Popen([tool, "check", "-a", "--format", "json", "--max-errors", "0"] + paths,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, _ = process.communicate()
        records = [json.loads(line) for line in out.decode("utf-8").splitlines()]
        self.assertEqual(len(records), len(paths))
        statuses = {"valid": 0, "invalid": 1, "unreadable": 2, "no-grammar": 2}
        reports = tarvo.validate_many(None, paths)
        for path, record, report in zip(paths, records, reports):
            self.assertEqual(record["path"], path)
            self.assertEqual((report.valid, report.status), (record["valid"], statuses[record["status"]]), path)
            self.assertEqual([tuple(unicode_text(x) for x in t) for t in flat(report.diagnostics)],
                             list(flat_record(record)), path)
