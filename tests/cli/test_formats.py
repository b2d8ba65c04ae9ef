# tarvo check's machine formats: one entry per problem in gcc, json, sarif
# and github, --werror and -q. Run with TARVO set to the tool; Python 3.
import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_cli import ALL_EXAMPLES, HEATMAP, Temp, run_raw  # noqa: E402

CODES = ["unknown-element", "misplaced-element", "missing-element", "unknown-attribute", "missing-attribute",
         "invalid-value", "text-not-allowed", "syntax", "unreadable", "callback-failed",
         "no-grammar"]

# A document with a mistake on each of lines 2 to 5.
MISTAKES = (b'<?xml version="1.0"?><Heatmap>\n<Colors gradient_color_space="rgb"/>\n<Element id="i" value="1"/>\n'
            b'<Elemnt/>\n<Element model_file="m" id="i" value="1" bogus="1"/>\n</Heatmap>')
# (code, severity under -A, line, column, suggestion, path, end column, the
# note's column and end column): the span is the token's (the value, the
# element's name, the attribute's name), the note's the element's name.
PROBLEMS = [
    ("invalid-value", "warning", 2, 31, "RGB", "/Heatmap[1]/Colors[1]", 34, 2, 8),
    ("missing-attribute", "error", 3, 2, None, "/Heatmap[1]/Element[1]", 9, 2, 9),
    ("unknown-element", "error", 4, 2, "Element", "/Heatmap[1]/Elemnt[1]", 8, 2, 8),
    ("unknown-attribute", "error", 5, 42, None, "/Heatmap[1]/Element[2]", 47, 2, 9),
]


def run(*args, stdin=b""):
    return run_raw("check", *args, stdin=stdin)


class Formats(Temp):
    def setUp(self):
        Temp.setUp(self)
        self.doc = self.write(b"mistakes.xml", MISTAKES)

    def severities(self, flags):
        return [s if flags else "error" for _, s, *_ in PROBLEMS]

    def test_gcc_puts_each_note_after_its_problem(self):
        doc = self.doc.decode()
        for flags in [[], ["-A"]]:
            rc, out, err = run("--format", "gcc", "heatmap", self.doc, *flags)
            self.assertEqual((rc, err), (1, b""), flags)
            want = []
            for (code, _, line, col, suggestion, _, _, note_col, _), severity in zip(PROBLEMS, self.severities(flags)):
                head = "%s:%d:%d: %s: " % (doc, line, col, severity)
                tail = ("; did you mean '%s'?" % suggestion if suggestion else "") + " [%s]" % code
                want.append((head, tail))
                if severity == "error":
                    want.append(("%s:%d:%d: note: File %s, line %d: " % (doc, line, note_col, doc, line), ""))
            lines = out.decode().splitlines()
            self.assertEqual(len(lines), len(want), flags)
            for got, (head, tail) in zip(lines, want):
                self.assertTrue(got.startswith(head) and got.endswith(tail) and "[" not in got[len(head):-len(tail) or None]
                                if tail else got.startswith(head), (got, head, tail))
            # The suggestion comes after the list of allowed values.
            self.assertRegex(lines[0], r" \(expected: HSVs, HSVl, RGB\); did you mean 'RGB'\? \[invalid-value\]$")

    def test_json_has_one_object_per_problem_with_its_note(self):
        rc, out, err = run("--format", "json", "heatmap", self.doc)
        diagnostics = json.loads(out)["diagnostics"]
        got = [(d["code"], d["line"], d["column"], d["end_line"], d["end_column"], d["suggestion"], d["path"],
                d["parent"]) for d in diagnostics]
        self.assertEqual(got, [(c, l, col, l, end, s, p, "Heatmap") for c, _, l, col, s, p, end, _, _ in PROBLEMS])
        self.assertEqual([(d["note"]["line"], d["note"]["column"], d["note"]["end_column"],
                           d["note"]["message"].startswith("File ")) for d in diagnostics],
                         [(l, note, note_end, True) for _, _, l, _, _, _, _, note, note_end in PROBLEMS])
        # A fix for the value (an attribute's token), none for an element's name.
        self.assertEqual([d["fix"] for d in diagnostics],
                         [{"range": {"line": 2, "column": 31, "end_line": 2, "end_column": 34}, "text": "RGB"},
                          None, None, None])
        rc, out, err = run("--format", "json", "-A", "heatmap", self.doc)
        self.assertEqual([d["note"] is None for d in json.loads(out)["diagnostics"]], [True, False, False, False])
        # A file that cannot be read: no element, no path, no note.
        d = json.loads(run("--format", "json", "heatmap", self.doc + b".none")[1])["diagnostics"][0]
        self.assertEqual((d["code"], d["path"], d["parent"], d["suggestion"], d["note"]), ("unreadable", None, None, None, None))

    def test_sarif_is_one_log_of_rules_and_results(self):
        missing = self.doc + b".none"
        for flags in [[], ["-A"]]:
            rc, out, err = run("--format", "sarif", "heatmap", self.doc, HEATMAP, missing, *flags)
            self.assertEqual(rc, 1)
            log = json.loads(out)
            self.assertEqual((log["version"], len(log["runs"])), ("2.1.0", 1))
            rules = log["runs"][0]["tool"]["driver"]["rules"]
            self.assertEqual([r["id"] for r in rules], CODES)
            self.assertTrue(all(r["shortDescription"]["text"] for r in rules))
            results = log["runs"][0]["results"]
            expected = [(c, s, {"startLine": l, "startColumn": col, "endLine": l, "endColumn": end})
                        for (c, _, l, col, _, _, end, _, _), s in zip(PROBLEMS, self.severities(flags))]
            self.assertEqual([(r["ruleId"], r["level"], r["locations"][0]["physicalLocation"]["region"])
                              for r in results[:-1]], expected, flags)
            # The value's suggestion is a fix replacing it; an element's name has none.
            self.assertEqual([len(r.get("fixes", [])) for r in results], [1, 0, 0, 0, 0])
            change = results[0]["fixes"][0]["artifactChanges"][0]
            self.assertEqual((change["artifactLocation"]["uri"], change["replacements"]),
                             (self.doc.decode(), [{"deletedRegion": expected[0][2], "insertedContent": {"text": "RGB"}}]))
            self.assertEqual([rules[r["ruleIndex"]]["id"] for r in results], [r["ruleId"] for r in results])
            uris = {r["locations"][0]["physicalLocation"]["artifactLocation"]["uri"] for r in results}
            self.assertEqual(uris, {self.doc.decode(), missing.decode()})
            self.assertEqual([len(r.get("relatedLocations", [])) for r in results[:-1]],
                             [int(s == "error") for _, s, *_ in expected])
            note = results[1]["relatedLocations"][0]
            self.assertEqual((note["physicalLocation"]["region"]["startLine"], note["message"]["text"][:5]), (3, "File "))
            self.assertEqual([r["properties"]["suggestion"] for r in results[:-1]], [p[4] for p in PROBLEMS])
            self.assertTrue(results[0]["message"]["text"].endswith("; did you mean 'RGB'?"))
            self.assertEqual([r["locations"][0]["logicalLocations"][0]["fullyQualifiedName"] for r in results[:-1]],
                             [p[5] for p in PROBLEMS])
            # The unreadable file: its result has no region.
            self.assertEqual((results[-1]["ruleId"], "region" in results[-1]["locations"][0]["physicalLocation"]),
                             ("unreadable", False))
        rc, out, err = run("--format", "sarif", "heatmap", HEATMAP)
        self.assertEqual((rc, json.loads(out)["runs"][0]["results"]), (0, []))
        rc, out, err = run("--stream", "--format", "sarif", "heatmap", "-", stdin=b"<Heatmap/>\n<Heatmap><Nope/></Heatmap>")
        results = json.loads(out)["runs"][0]["results"]
        self.assertEqual([(r["ruleId"], r["properties"]["document"]) for r in results], [("unknown-element", 2)])

    def test_sarif_uris_are_percent_encoded(self):
        path = self.write(b"a b:%\xc3\xa9\n.xml", MISTAKES)
        rc, out, err = run("--format", "sarif", "heatmap", path)
        uri = json.loads(out)["runs"][0]["results"][0]["locations"][0]["physicalLocation"]["artifactLocation"]["uri"]
        self.assertEqual(uri, self.dir.name + "/a%20b%3A%25%C3%A9%0A.xml")

    # (bytes of the file name, as the github format writes it in a property)
    GITHUB_NAMES = [(b"plain.xml", b"plain.xml"), (b"100%.xml", b"100%25.xml"), (b"a,b:c.xml", b"a%2Cb%3Ac.xml"),
                    (b"x\n::error file=f::forged\r.xml", b"x%0A%3A%3Aerror file=f%3A%3Aforged%0D.xml"),
                    (b"\x1b[2J.xml", rb"\x1b[2J.xml")]

    def test_github_escapes_names_and_messages(self):
        value = b"50%,a:b\r\n"  # the line break in the value moves the reader to line 2; the span ends before
        for name, escaped in self.GITHUB_NAMES:
            path = self.write(name, b'<?xml version="1.0"?><Heatmap><Colors gradient_color_space="%s"/></Heatmap>' % value)
            rc, out, err = run("--format", "github", "heatmap", path)
            folder = self.dir.name.encode().replace(b":", b"%3A").replace(b",", b"%2C")
            self.assertEqual((rc, err), (1, b""), name)
            self.assertEqual(out, b"::error file=%s/%s,line=1,col=61,endLine=1,endColumn=69,title=invalid-value::"
                             b"Invalid attribute value "
                             b"'50%%25,a:b%%0D%%0A' for attribute 'gradient_color_space' (expected: HSVs, HSVl, RGB)"
                             b"%%0AFile %s/%s, line 2: error in attributes for element 'Colors'\n"
                             % (folder, escaped, self.dir.name.encode().replace(b"%", b"%25"),
                                escaped.replace(b"%2C", b",").replace(b"%3A", b":")), name)
        rc, out, err = run("--format", "github", "-A", "heatmap", self.doc)
        self.assertEqual([l.split(b" ")[0] for l in out.splitlines()], [b"::warning"] + [b"::error"] * 3)
        self.assertEqual(run("--format", "github", "heatmap", self.doc + b".none")[1],
                         b"::error file=%s.none,title=unreadable::Could not open file %s.none for reading\n"
                         % (self.doc, self.doc))

    def test_werror_and_quiet(self):
        warned_doc = b"\n".join(MISTAKES.split(b"\n")[:2]) + b"\n</Heatmap>"  # a wrong value alone: a warning under -A
        warned = self.write(b"warned.xml", warned_doc)
        missing = self.write(b"gone\n.xml", b"")
        os.remove(missing)
        # (arguments, exit status, standard output under -q)
        for args, rc, names in [(["-A", warned], 0, b""), (["-A", "--werror", warned], 1, b""),
                                (["--werror", HEATMAP], 0, b""), (["--werror", "-A", warned, missing], 1,
                                                                   missing.replace(b"\n", rb"\x0a") + b"\n"),
                                ([HEATMAP, missing], 3, missing.replace(b"\n", rb"\x0a") + b"\n"),
                                ([self.doc, HEATMAP, warned], 1, self.doc + b"\n" + warned + b"\n")]:
            self.assertEqual(run("heatmap", *args)[0], rc, args)
            rc_q, out, err = run("-q", "heatmap", *args)
            self.assertEqual((rc_q, out), (rc, names), args)
        rc, out, err = run("--stream", "-A", "--werror", "heatmap", "-", stdin=warned_doc)
        self.assertEqual(rc, 1)

    def test_every_format_is_the_same_for_every_job_count(self):
        files = [os.fsencode(f) for f in ALL_EXAMPLES * 3] + [self.doc, self.doc + b".none"]
        for fmt in ["text", "gcc", "json", "sarif", "github"]:
            runs = [run("-j", jobs, "--format", fmt, "heatmap", *files) for jobs in ["1", "4"]]
            self.assertEqual(runs[0], runs[1], fmt)
            self.assertEqual(runs[0][0], 1, fmt)
            self.assertTrue(runs[0][2].endswith(b"%d files: 3 valid, %d invalid, 1 unreadable\n"
                                                % (len(files), len(files) - 4)), (fmt, runs[0][2][-100:]))
            if fmt == "sarif":
                self.assertGreater(len(json.loads(runs[0][1])["runs"][0]["results"]), len(ALL_EXAMPLES))


if __name__ == "__main__":
    unittest.main()
