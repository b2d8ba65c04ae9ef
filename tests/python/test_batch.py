# validate_many(): one Report per source, in order, equal to validate()'s,
# whatever the number of threads and however paths and buffers are mixed.
import array
import os

import tarvo
from tarvo_support import PY2, ROOT, DocumentTestCase, raised

EXAMPLES = os.path.join(ROOT, "examples")


def report_fields(report):
    """A Report as plain data, so that two can be compared whole."""
    return (report.valid, report.status, [tuple(getattr(d, f) for f in (
        "severity", "kind", "lineno", "offset", "element", "attribute", "expected", "message", "code", "note",
        "parent", "path", "suggestion")) for d in report.diagnostics])


def examples():
    """(grammar, [paths]) for each directory of examples of a built-in grammar."""
    known = set(tarvo.grammars())
    for grammar in sorted(os.listdir(EXAMPLES)):
        folder = os.path.join(EXAMPLES, grammar)
        if grammar in known and os.path.isdir(folder):
            yield grammar, [os.path.join(folder, f) for f in sorted(os.listdir(folder)) if f.endswith(".xml")]


def document(data):
    """Bytes as a document source: on Python 2 a str is a path."""
    return bytearray(data) if PY2 else data


def read(path):
    with open(path, "rb") as f:
        return document(f.read())


class ValidateManyTest(DocumentTestCase):
    def assert_same_as_validate(self, grammar, sources, **kwargs):
        expected = [report_fields(tarvo.validate(grammar, s, **kwargs)) for s in sources]
        for jobs in (None, 1, 2, 3):
            reports = tarvo.validate_many(grammar, sources, jobs=jobs, **kwargs)
            self.assertTrue(type(reports) is list and all(type(r) is tarvo.Report for r in reports), reports)
            self.assertEqual([report_fields(r) for r in reports], expected, (grammar, jobs))

    def test_examples_as_paths_and_as_bytes(self):
        checked = 0
        for grammar, paths in examples():
            # Paths as given, their bytes in every kind of buffer, a missing
            # file and a directory (both unreadable), mixed.
            sources = list(paths) + [read(p) for p in paths]
            sources += [bytearray(read(paths[0])), memoryview(bytes(read(paths[-1]))),
                        os.path.join(self.dir, "missing.xml"), self.dir]
            if not PY2:
                import pathlib
                sources += [pathlib.Path(paths[0]), os.fsencode(paths[-1]).decode("ascii")]
            else:
                sources += [paths[0].decode("ascii"), array.array("B", read(paths[0]))]
            self.assert_same_as_validate(grammar, sources)
            self.assert_same_as_validate(grammar, sources, max_errors=1)
            checked += 1
        self.assertGreater(checked, 10)
        invalid = [(g, p) for g, paths in examples() for p in paths if os.path.basename(p).startswith("invalid-")]
        self.assertGreater(len(invalid), 5)
        for grammar, path in invalid:
            report = tarvo.validate_many(grammar, [path, read(path)], jobs=2)
            self.assertEqual([r.valid for r in report], [False, False], path)

    def test_many_documents_keep_their_order(self):
        valid = document(b'<?xml version="1.0"?>\n<Heatmap><Colors/></Heatmap>\n')
        invalid = document(b'<?xml version="1.0"?>\n<Heatmap><Bogus/></Heatmap>\n')
        path = self.write("bad.xml", bytes(invalid))
        sources = [(path if i % 3 == 0 else invalid) if i % 5 == 0 else valid for i in range(2000)]
        reports = tarvo.validate_many("heatmap", sources, jobs=2, flags=tarvo.PARSE_IGNORE_WRONG_ATTRIBUTES)
        self.assertEqual([r.valid for r in reports], [i % 5 != 0 for i in range(2000)])
        self.assertTrue(any(path in d.message for d in reports[0].diagnostics))
        self.assertEqual(tarvo.validate_many("heatmap", []), [])
        self.assertEqual(tarvo.validate_many("heatmap", iter([valid])), [tarvo.validate("heatmap", valid)])

    def test_argument_errors(self):
        valid = document(b'<?xml version="1.0"?>\n<Heatmap/>\n')
        cases = [(("nonesuch", [valid]), {}, ValueError), (("heatmap", [valid], None, 0x100), {}, ValueError),
                 (("heatmap", [valid]), {"max_errors": -1}, ValueError),
                 (("heatmap", ["a\0b.xml"]), {}, (ValueError, TypeError))]
        cases += [(("heatmap", [valid]), {"jobs": jobs}, ValueError) for jobs in (0, 1025, -1)]
        cases += [(("heatmap", [valid]), {"jobs": jobs}, TypeError) for jobs in (1.5, "2")]
        # Not a sequence of sources (a path or bytes alone is none), or one holding something else.
        cases += [(("heatmap", sources), {}, TypeError) for sources in (
            3, None, "doc.xml", b"doc.xml", bytearray(b"doc.xml"), [valid, 3], [valid, None], [valid, {}])]
        for args, kwargs, error in cases:
            raised(error, tarvo.validate_many, *args, **kwargs)
