# The tarvo command as a user sees it: exit statuses, messages, output.
# Run with TARVO set to the tool; Python 3.
import json
import os
import re
import subprocess
import tempfile
import unittest

TARVO = os.environ.get("TARVO", "build/tarvo")
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
HEATMAP = os.path.join(EXAMPLES, "heatmap", "order_handling_durations.xml")
DICTIONARY = b'<?xml version="1.0"?><dictionary><translation><source>%s</source><target>t</target></translation></dictionary>'


def run(*args, stdin=b"", stdout=subprocess.PIPE):
    p = subprocess.run([TARVO] + list(args), input=stdin, stdout=stdout, stderr=subprocess.PIPE, timeout=120)
    return p.returncode, p.stdout, p.stderr.decode("utf-8", "replace")


class Temp(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path


class Options(unittest.TestCase):
    def test_usage_errors_exit_2_and_name_the_problem(self):
        for args, text in [
                ((), "subcommand"), (("frob",), "unknown command 'frob'"),
                (("check",), "GRAMMAR"), (("check", "heatmap"), "missing FILE"),
                (("check", "-x", "heatmap", HEATMAP), "-x"),
                (("events", "--stream", "heatmap", HEATMAP), "--stream"),  # check's option
                (("events", "heatmap", HEATMAP, HEATMAP), HEATMAP),
                (("grammars", "heatmap"), "heatmap"),
                (("check", "nosuch", HEATMAP), "unknown grammar 'nosuch'; known grammars:\n  lumoTools"),
                (("events", "nosuch", HEATMAP), "unknown grammar 'nosuch'")]:
            rc, out, err = run(*args)
            self.assertEqual((rc, out), (2, b""), args)
            self.assertIn(text, err, args)

    def test_help_on_every_command(self):
        for args in [("--help",), ("help",), ("check", "--help"), ("events", "-h"), ("grammars", "--help"),
                     ("check", "heatmap", "--help")]:
            rc, out, err = run(*args)
            self.assertEqual(rc, 0, args)
            self.assertIn(b"Usage: tarvo", out)
            self.assertIn(b"Exit status:", out)

    def test_options_anywhere_before_double_dash(self):
        with open(HEATMAP, "rb") as f:
            doc = f.read().replace(b'id="', b'bogus="x" id="', 1)
        with tempfile.NamedTemporaryFile(suffix=".xml") as f:
            f.write(doc)
            f.flush()
            self.assertEqual(run("check", "heatmap", f.name)[0], 1)
            for args in [("check", "-U", "heatmap", f.name), ("check", "heatmap", f.name, "-U"),
                         ("check", "heatmap", "--ignore-unknown-attributes", f.name), ("check", "-AUE", "heatmap", f.name)]:
                rc, out, err = run(*args)
                self.assertEqual((rc, out), (0, b"Unknown attribute 'bogus'\n"), args)
        rc, out, err = run("check", "heatmap", "--", "-U")
        self.assertEqual(rc, 3)
        self.assertIn("Could not open file -U for reading", err)

    def test_version(self):
        rc, out, err = run("--version")
        self.assertEqual(rc, 0)
        self.assertRegex(out.decode(), r"^tarvo \d+\.\d+\.\d+\n$")

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full")
    def test_a_failed_write_is_an_error(self):
        for args in [("grammars",), ("--help",), ("--version",), ("events", "heatmap", HEATMAP),
                     ("check", "-E", "heatmap", os.path.join(EXAMPLES, "heatmap", "invalid-colors-after-element.xml"))]:
            with open("/dev/full", "wb") as full:
                rc, _, err = run(*args, stdout=full)
            self.assertEqual(rc, 4, args)
            self.assertIn("cannot write the output: No space left on device", err)


class ReadErrors(unittest.TestCase):
    def test_a_failed_read_says_so(self):
        for args, expected in [(("--stream", "heatmap", "-"), (3, b"", b"tarvo: cannot read -: Bad file descriptor\n")),
                               (("heatmap", "-"), (3, b"", b"Could not open file <stdin> for reading\n")),
                               (("--format", "gcc", "heatmap", "-"), (3, b"<stdin>: error: Could not open file <stdin> for reading\n", b""))]:
            p = subprocess.run([TARVO, "check"] + list(args), stdin=None, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, preexec_fn=lambda: os.close(0), timeout=120)
            self.assertEqual((p.returncode, p.stdout, p.stderr), expected, args)


# (bytes in character data, whether they are well-formed UTF-8)
UTF8_TABLE = [
    (b"plain", True), (b"\xc3\xa9", True), (b"\xe2\x82\xac", True), (b"\xf0\x9f\x98\x80", True),
    (b"\xed\x9f\xbf", True), (b"\xee\x80\x80", True), (b"\xf4\x8f\xbf\xbf", True), (b"\x01\x1f\"\\", True),
    (b"\x80", False), (b"\xbf\xbf", False), (b"\xff", False), (b"\xfe", False),        # no lead byte
    (b"\xc0\x80", False), (b"\xc1\xbf", False), (b"\xe0\x80\xaf", False),            # overlong
    (b"\xf0\x8f\xbf\xbf", False),
    (b"\xed\xa0\x80", False), (b"\xed\xbf\xbf", False),                              # surrogates
    (b"\xf4\x90\x80\x80", False), (b"\xf5\x80\x80\x80", False), (b"\xf8\x88\x80\x80\x80", False),  # > U+10FFFF
    (b"\xe2\x82", False), (b"\xf0\x9f\x98", False), (b"\xc3", False),                # cut short
]


DOC = b'<?xml version="1.0"?><Heatmap%s</Heatmap>'
GCC = re.compile(r"^(.+?):(?:(\d+):(\d+):)? (error|warning): (.*?)(?: \(expected: (.*)\))?$")
ALL_EXAMPLES = sorted(os.path.join(d, f) for d, _, fs in os.walk(EXAMPLES) for f in fs if f.endswith(".xml"))


class Check(Temp):
    # (flags, document body after <Heatmap, records as (severity, kind, line, column, expected))
    RECORDS = [
        ([], b'>\n<Colors gradient_color_space="CMYK"/>', [("error", "wrong_attribute_value", 2, 36, ["HSVs", "HSVl", "RGB"])] * 2),
        (["-A"], b'>\n<Colors gradient_color_space="CMYK"/>', [("warning", "wrong_attribute_value", 2, 36, ["HSVs", "HSVl", "RGB"])]),
        ([], b'>\n\n  <Element id="a" value="1"/>', [("error", "missing_attribute", 3, 28, [])] * 2),
        ([], b'>\n<Colors', [("error", "syntax", 2, 8, [])]),
        ([], b'>\nhello', [("error", "text_not_allowed", 2, 6, ["Colors", "Element"])] * 2),
        ([], b' bogus="1">', [("error", "unknown_attribute", 1, 40, [])] * 2),
        (["-E"], b'><Element model_file="m" id="i" value="1"/>\n<Colors/>', [("warning", "misplaced_element", 2, 8, ["Element"])]),
        (["-E"], b'>\n<Nope/>', [("warning", "unknown_element", 2, 6, [])]),
    ]

    def test_gcc_and_json_carry_the_records(self):
        for flags, body, records in self.RECORDS:
            path = self.write("d.xml", DOC % body)
            rc_g, gcc, _ = run("check", "--format", "gcc", "heatmap", path, *flags)
            rc_j, js, err = run("check", "--format", "json", "heatmap", path, *flags)
            self.assertEqual((rc_g, rc_j, err), (rc_j, int(records[0][0] == "error"), ""), body)
            obj = json.loads(js.decode("utf-8"))
            self.assertEqual((obj["path"], obj["valid"], obj["status"]), (path, rc_j == 0, ["valid", "invalid"][rc_j]))
            got = [(d["severity"], d["kind"], d["line"], d["column"], d["expected"]) for d in obj["diagnostics"]]
            self.assertEqual(got, records, body)
            lines = [GCC.match(l).groups() for l in gcc.decode("utf-8").splitlines()]
            self.assertEqual([(l[0], l[3], int(l[1]), int(l[2]), l[5].split(", ") if l[5] else []) for l in lines],
                             [(path, r[0], r[2], r[3], r[4]) for r in records], body)
            self.assertEqual([l[4] for l in lines], [d["message"] for d in obj["diagnostics"]])

    def test_every_format_is_the_same_for_every_job_count(self):
        for fmt in ["text", "gcc", "json"]:
            runs = [run("check", "-j", jobs, "--format", fmt, "heatmap", *(ALL_EXAMPLES * 3)) for jobs in ["1", "4"]]
            self.assertEqual(runs[0], runs[1], fmt)
            self.assertEqual(runs[0][0], 1)
            self.assertTrue(runs[0][2].endswith("%d files: 3 valid, %d invalid, 0 unreadable\n"
                                                % (3 * len(ALL_EXAMPLES), 3 * len(ALL_EXAMPLES) - 3)))
        # Text is each file's own output, one after the other.
        one = [run("check", "heatmap", f) for f in ALL_EXAMPLES]
        many = run("check", "-j", "3", "heatmap", *ALL_EXAMPLES)
        self.assertEqual(many[1], b"".join(r[1] for r in one))
        self.assertEqual(many[2], "".join(r[2] for r in one) + "%d files: 1 valid, %d invalid, 0 unreadable\n"
                         % (len(one), len(one) - 1))

    def test_stdin_is_checked_like_a_file(self):
        invalid = os.path.join(EXAMPLES, "heatmap", "invalid-colors-after-element.xml")
        with open(invalid, "rb") as f:
            data = f.read()
        for fmt in ["text", "gcc", "json"]:
            from_file = run("check", "--format", fmt, "heatmap", invalid)
            from_stdin = run("check", "--format", fmt, "heatmap", "-", stdin=data)
            self.assertEqual(from_stdin[0], 1)
            self.assertEqual(from_stdin[1:], tuple(x.replace(invalid.encode() if isinstance(x, bytes) else invalid,
                                                             b"<stdin>" if isinstance(x, bytes) else "<stdin>")
                                                   for x in from_file[1:]), fmt)

    def test_recursive_checks_xml_files_in_path_order(self):
        with open(HEATMAP, "rb") as f:
            valid = f.read()
        for name in ["t/b/z.xml", "t/a.xml", "t/b/a/x.xml", "t/b.xml", "t/notes.txt", "t/c.XML", "t/b/a/y.xml.bak"]:
            self.write(name, valid)
        root = os.path.join(self.dir.name, "t")
        rc, out, err = run("check", "-r", "-j", "2", "--format", "json", "heatmap", root, HEATMAP)
        paths = [os.path.relpath(json.loads(l)["path"], root) for l in out.splitlines()]
        self.assertEqual((rc, paths[:-1]), (0, ["a.xml", "b.xml", "b/a/x.xml", "b/z.xml"]))
        self.assertEqual(err, "5 files: 5 valid, 0 invalid, 0 unreadable\n")
        rc, out, err = run("check", "--format", "json", "heatmap", HEATMAP, root)
        self.assertEqual((rc, out), (2, b""))
        self.assertIn("'%s' is a directory" % root, err)

    def test_exit_status_summary_and_quiet(self):
        invalid = os.path.join(EXAMPLES, "heatmap", "invalid-colors-after-element.xml")
        missing = os.path.join(self.dir.name, "missing.xml")
        for files, rc, summary in [([HEATMAP], 0, None), ([invalid], 1, "1 file: 0 valid, 1 invalid, 0 unreadable"),
                                   ([missing], 3, "1 file: 0 valid, 0 invalid, 1 unreadable"),
                                   ([HEATMAP, HEATMAP], 0, "2 files: 2 valid, 0 invalid, 0 unreadable"),
                                   ([missing, invalid, HEATMAP], 1, "3 files: 1 valid, 1 invalid, 1 unreadable"),
                                   ([HEATMAP, missing], 3, "2 files: 1 valid, 0 invalid, 1 unreadable")]:
            full = run("check", "heatmap", *files)
            self.assertEqual(full[0], rc, files)
            self.assertEqual(full[2].splitlines()[-1:] == [summary], len(files) > 1, files)
            quiet = run("check", "-q", "heatmap", *files)
            self.assertEqual(quiet, (rc, b"", summary + "\n" if rc else ""), files)
        for args in [("--stream", "-r", "heatmap"), ("--stream", "-j", "2", "heatmap"), ("-j", "0", "heatmap", HEATMAP),
                     ("--format", "xml", "heatmap", HEATMAP)]:
            self.assertEqual(run("check", *args)[:2], (2, b""), args)

    def test_stream_in_json(self):
        rc, out, err = run("check", "--stream", "--format", "json", "heatmap", "-",
                           stdin=b"<Heatmap/>\n<Heatmap><Nope/></Heatmap>")
        objs = [json.loads(l) for l in out.splitlines()]
        self.assertEqual((rc, err), (1, ""))
        self.assertEqual([(o["path"], o["document"], o["valid"]) for o in objs], [("<stdin>", 1, True), ("<stdin>", 2, False)])
        self.assertEqual(objs[1]["diagnostics"][0]["kind"], "unknown_element")


class Json(Temp):
    def test_events_are_valid_utf8_json_whatever_the_bytes(self):
        for data, valid in UTF8_TABLE:
            path = self.write("d.xml", DICTIONARY % data)
            rc, out, err = run("events", "dictionary", path)
            self.assertEqual(rc, 0, data)
            events = [json.loads(line.decode("utf-8")) for line in out.splitlines()]
            texts = [e["text"] for e in events if e["event"] == "text"]
            self.assertEqual(texts[0], data.decode("utf-8" if valid else "latin-1"), data)

    def test_long_texts_are_written_in_pieces_that_split_no_sequence(self):
        pad = b"a" * 65536
        for data, valid in UTF8_TABLE:
            for shift in range(5):  # the sequence across the 64 KiB mark of the text
                text = pad[:65536 - shift] + data + pad
                rc, out, err = run("events", "dictionary", self.write("d.xml", DICTIONARY % text))
                events = [json.loads(line.decode("utf-8")) for line in out.splitlines()]
                self.assertEqual(events[3]["text"], text.decode("utf-8" if valid else "latin-1"), (data, shift))

    def test_messages_in_the_outcome_too(self):
        path = self.write("h.xml", b'<?xml version="1.0"?><Heatmap><Colors gradient_color_space="\xed\xa0\x80\xff"/></Heatmap>')
        rc, out, err = run("events", "heatmap", path)
        outcome = json.loads(out.splitlines()[-1].decode("utf-8"))
        self.assertEqual((rc, outcome["valid"], outcome["status"]), (1, False, 1))
        self.assertEqual(outcome["errors"][0],
                         "Invalid attribute value '\xed\xa0\x80\xff' for attribute 'gradient_color_space'")


class Grammars(Temp):
    SCHEMAS = os.path.join(EXAMPLES, "..", "src", "schemas")

    def test_grammars_names_doctype_and_grammar_file(self):
        rc, out, err = run("grammars")
        self.assertEqual(rc, 0)
        line = [l for l in out.decode().splitlines() if l.startswith("heatmap ")][0]
        self.assertIn("heatmap.dtd", line)
        self.assertIn("src/schemas/heatmap.grammar", line)
        self.assertIn(b"recorded source name", out)

    def test_grammar_describes_one_element_as_json(self):
        rc, out, err = run("grammar", "--format", "json", "heatmap", "Colors")
        self.assertEqual(rc, 0, err)
        g = json.loads(out)
        self.assertEqual((g["name"], g["roots"], [e["name"] for e in g["elements"]]), ("heatmap", ["Heatmap"], ["Colors"]))
        self.assertEqual(g["elements"][0]["attributes"][1],
                         {"name": "gradient_color_space", "required": False, "default": "HSVs", "values": ["HSVs", "HSVl", "RGB"]})

    def test_grammar_file_wherever_a_grammar_is_named(self):
        path = os.path.join(self.SCHEMAS, "heatmap.grammar")
        for args in [("check", "--grammar-file", path, HEATMAP), ("events", "--grammar-file", path, HEATMAP),
                     ("grammar", "--grammar-file", path, "Element"), ("export", "--format", "rng", "--grammar-file", path)]:
            rc, out, err = run(*args)
            self.assertEqual((rc, err), (0, ""), args)
        self.assertEqual(run("grammar", "--grammar-file", path)[1].replace(path.encode(), b"src/schemas/heatmap.grammar"),
                         run("grammar", "heatmap")[1])
        broken = self.write("broken.grammar", b"grammar x\nsource y\nelement 0 a\n  first b/0\n  row 0 END\n")
        for args in [("check", "--grammar-file", broken, HEATMAP), ("export", "--format", "dtd", "--grammar-file", broken)]:
            self.assertEqual(run(*args), (2, b"", broken + ":4: unknown element 'b'\n"), args)

    def test_grammar_json_is_utf8_whatever_the_file_holds(self):
        path = self.write("bytes.grammar", b'grammar bytes\nsource none\nelement 0 caf\xc3\xa9\n  first END\n'
                                           b'  row 0 (none)\n  attr a default "\xff\xc0\xaf" values "\xff\xc0\xaf" "\xed\xa0\x80"\n')
        rc, out, err = run("grammar", "--format", "json", "--grammar-file", path)
        self.assertEqual(rc, 0, err)
        e = json.loads(out.decode("utf-8"))["elements"][0]
        self.assertEqual((e["name"], e["attributes"][0]["values"]), (u"caf\u00e9", [u"\u00ff\u00c0\u00af", u"\u00ed\u00a0\u0080"]))

    def test_grammar_usage_errors(self):
        for args, text in [(("grammar", "heatmap", "Nope"), "no element 'Nope'"), (("export", "heatmap"), "--format"),
                           (("export", "--format", "xsd", "heatmap"), "xsd"), (("grammar",), "GRAMMAR")]:
            rc, out, err = run(*args)
            self.assertEqual((rc, out), (2, b""), args)
            self.assertIn(text, err, args)


if __name__ == "__main__":
    unittest.main()
