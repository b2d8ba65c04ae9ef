# The tarvo command as a user sees it: exit statuses, messages, output.
# Run with TARVO set to the tool; Python 3.
import json
import os
import re
import subprocess
import socket
import tempfile
import threading
import unittest

TARVO = os.environ.get("TARVO", "build/tarvo")
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
HEATMAP = os.path.join(EXAMPLES, "heatmap", "order_handling_durations.xml")
INVALID = os.path.join(EXAMPLES, "heatmap", "invalid-colors-after-element.xml")
DICTIONARY = b'<?xml version="1.0"?><dictionary><translation><source>%s</source><target>t</target></translation></dictionary>'


def run_raw(*args, stdin=b"", stdout=subprocess.PIPE, timeout=120):
    p = subprocess.run([TARVO] + list(args), input=stdin, stdout=stdout, stderr=subprocess.PIPE, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def run(*args, stdin=b"", stdout=subprocess.PIPE):
    rc, out, err = run_raw(*args, stdin=stdin, stdout=stdout)
    return rc, out, err.decode("utf-8", "replace")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def decoded(data):
    """Bytes as tarvo's JSON strings hold them: UTF-8 where well-formed, else each byte as the code point of its value."""
    return re.sub("[\udc80-\udcff]", lambda m: chr(ord(m.group()) - 0xdc00), data.decode("utf-8", "surrogateescape"))


def controls(data, allowed="\n"):
    """The control characters in output: C0 but `allowed`, DEL and C1, whether UTF-8 encoded or a byte on its own."""
    return [c for c in decoded(data) if (c < " " and c not in allowed) or "\x7f" <= c <= "\x9f"]


class Temp(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def write(self, name, data):
        """Writes `data` to `name` (text or bytes) under the test's directory, making the folders on the way."""
        path = os.path.join(self.dir.name if isinstance(name, str) else os.fsencode(self.dir.name), name)
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
                (("events", "nosuch", HEATMAP), "unknown grammar 'nosuch'"),
                (("check", "--stream", "-r", "heatmap"), "--stream reads one source in order: -r, -j and -q"),
                (("check", "--stream", "-j", "2", "heatmap"), "--stream reads one source in order: -r, -j and -q"),
                (("check", "-j", "0", "heatmap", HEATMAP), "--jobs"),
                (("check", "--max-errors", "many", "heatmap", HEATMAP), "--max-errors"),
                (("grammar", "heatmap", "Nope"), "no element 'Nope'"), (("export", "heatmap"), "--format"),
                (("grammar",), "GRAMMAR")]:
            rc, out, err = run(*args)
            self.assertEqual((rc, out), (2, b""), args)
            self.assertIn(text, err, args)

    def test_help_on_every_command_lists_its_exit_statuses(self):
        for args, statuses in [(("--help",), "01234"), (("help",), "01234"), (("check", "--help"), "01234"),
                               (("events", "-h"), "01234"), (("check", "heatmap", "--help"), "01234"),
                               (("grammars", "--help"), "024"), (("grammar", "--help"), "024"),
                               (("export", "--help"), "024"), (("import-dtd", "--help"), "024")]:
            rc, out, err = run(*args)
            self.assertEqual(rc, 0, args)
            self.assertIn(b"Usage: tarvo", out, args)
            table = out.decode().split("Exit status:\n")[1]
            self.assertEqual("".join(re.findall(r"^  (\d)  ", table, re.M)), statuses, args)

    def test_options_anywhere_before_double_dash(self):
        doc = read(HEATMAP).replace(b'id="', b'bogus="x" id="', 1)
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
        # The first line as scripts have always read it, then the library's
        # version and the built-in grammar set's hash and count.
        with open(os.path.join(EXAMPLES, "..", "VERSION")) as f:
            version = f.read().strip()
        self.assertRegex(out.decode(), r"^tarvo %s\nlibrary %s\ngrammars [0-9a-f]{16} \(12 built in\)\n$"
                         % (re.escape(version), re.escape(version)))
        self.assertEqual(run("--version")[1], out)

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full")
    def test_a_failed_write_is_an_error(self):
        for args in [("grammars",), ("--help",), ("--version",), ("events", "heatmap", HEATMAP),
                     ("check", "-E", "heatmap", INVALID)]:
            with open("/dev/full", "wb") as full:
                rc, _, err = run(*args, stdout=full)
            self.assertEqual(rc, 4, args)
            self.assertIn("cannot write the output: No space left on device", err)


class ReadErrors(unittest.TestCase):
    def test_a_failed_read_says_so(self):
        # Standard input closed.
        for args, expected in [
                (("check", "--stream", "heatmap", "-"), (3, b"", b"tarvo: cannot read -: Bad file descriptor\n")),
                (("check", "heatmap", "-"), (3, b"", b"Could not open file <stdin> for reading\n")),
                (("check", "--format", "gcc", "heatmap", "-"),
                 (3, b"<stdin>: error: Could not open file <stdin> for reading [unreadable]\n", b"")),
                (("events", "heatmap", "-"), (3, b'{"event":"outcome","valid":false,"status":2,"warnings":[],'
                                                 b'"errors":["Could not open file <stdin> for reading"]}\n', b""))]:
            p = subprocess.run([TARVO] + list(args), stdin=None, stdout=subprocess.PIPE,
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
# FILE:LINE:COLUMN: error: TEXT (expected: A, B); did you mean 'X'? [code], or note: TEXT
GCC = re.compile(r"^(.+?):(?:(\d+):(\d+):)? (error|warning|note): (.*?)(?: \(expected: (.*?)\))?(?:; did you mean '(.*)'\?)?"
                 r"(?: \[([a-z-]+)\])?$")
ALL_EXAMPLES = sorted(os.path.join(d, f) for d, _, fs in os.walk(EXAMPLES) for f in fs if f.endswith(".xml"))


class Check(Temp):
    # (flags, document body after <Heatmap, problems as (severity, kind, line, column, expected), whether a note
    # follows): the column is where the token concerned starts, or for a syntax error where the reader stood
    RECORDS = [
        ([], b'>\n<Colors gradient_color_space="CMYK"/>', [("error", "wrong_attribute_value", 2, 31, ["HSVs", "HSVl", "RGB"])], True),
        (["-A"], b'>\n<Colors gradient_color_space="CMYK"/>', [("warning", "wrong_attribute_value", 2, 31, ["HSVs", "HSVl", "RGB"])], False),
        ([], b'>\n\n  <Element id="a" value="1"/>', [("error", "missing_attribute", 3, 4, [])], True),
        ([], b'>\n<Colors', [("error", "syntax", 2, 8, [])], False),
        ([], b'>\nhello', [("error", "text_not_allowed", 2, 1, ["Colors", "Element"])], True),
        ([], b' bogus="1">', [("error", "unknown_attribute", 1, 31, [])], True),
        (["-E"], b'><Element model_file="m" id="i" value="1"/>\n<Colors/>', [("warning", "misplaced_element", 2, 2, ["Element"])], False),
        (["-E"], b'>\n<Nope/>', [("warning", "unknown_element", 2, 2, [])], False),
    ]

    def test_gcc_and_json_carry_the_records(self):
        for flags, body, records, noted in self.RECORDS:
            path = self.write("d.xml", DOC % body)
            rc_g, gcc, _ = run("check", "--format", "gcc", "heatmap", path, *flags)
            rc_j, js, err = run("check", "--format", "json", "heatmap", path, *flags)
            self.assertEqual((rc_g, rc_j, err), (rc_j, int(records[0][0] == "error"), ""), body)
            obj = json.loads(js.decode("utf-8"))
            self.assertEqual((obj["path"], obj["valid"], obj["status"]), (path, rc_j == 0, ["valid", "invalid"][rc_j]))
            got = [(d["severity"], d["kind"], d["line"], d["column"], d["expected"]) for d in obj["diagnostics"]]
            self.assertEqual(got, records, body)
            self.assertEqual([d["note"] is not None for d in obj["diagnostics"]], [noted] * len(records), body)
            lines = [GCC.match(l).groups() for l in gcc.decode("utf-8").splitlines()]
            problems = [l for l in lines if l[3] != "note"]
            self.assertEqual([(l[0], l[3], int(l[1]), int(l[2]), l[5].split(", ") if l[5] else [], l[7]) for l in problems],
                             [(path, r[0], r[2], r[3], r[4], d["code"]) for r, d in zip(records, obj["diagnostics"])], body)
            self.assertEqual([l[4] for l in problems], [d["message"] for d in obj["diagnostics"]])
            self.assertEqual([l[4] for l in lines if l[3] == "note"], [d["note"]["message"] for d in obj["diagnostics"] if d["note"]])

    def test_max_errors_reports_every_problem_up_to_the_limit(self):
        body = (b'>\n<Colors gradient_color_space="x"/>\n<Element id="i" value="1"/>\n<Nope/>'
                b'\n<Element model_file="m" id="i" value="1" bogus="1"/>')
        path = self.write("d.xml", DOC % body)
        kinds = ["wrong_attribute_value", "missing_attribute", "unknown_element", "unknown_attribute"]
        for args, shown in [([], 4), (["--max-errors", "0"], 4), (["--max-errors", "3"], 3), (["--max-errors", "1"], 1)]:
            rc, js, _ = run("check", "--format", "json", "heatmap", path, *args)
            obj = json.loads(js.decode("utf-8"))
            self.assertEqual((rc, obj["status"]), (1, "invalid"), args)
            self.assertEqual([d["kind"] for d in obj["diagnostics"]], kinds[:shown], args)
            self.assertEqual([d["note"]["line"] for d in obj["diagnostics"]], [2, 3, 4, 5][:shown], args)
        # The first error alone is what the module raises.
        rc, _, err = run("check", "--max-errors", "1", "heatmap", path)
        self.assertEqual(err, 'Invalid attribute value \'x\' for attribute \'gradient_color_space\'\n'
                              'File %s, line 2: error in attributes for element \'Colors\'\n' % path)

    def test_text_is_each_files_own_output_one_after_the_other(self):
        # The same for every job count in every format: test_formats.
        one = [run("check", "heatmap", f) for f in ALL_EXAMPLES]
        many = run("check", "-j", "3", "heatmap", *ALL_EXAMPLES)
        self.assertEqual(many[1], b"".join(r[1] for r in one))
        self.assertEqual(many[2], "".join(r[2] for r in one) + "%d files: 1 valid, %d invalid, 0 unreadable\n"
                         % (len(one), len(one) - 1))

    def test_stdin_is_read_like_a_file_by_check_and_events(self):
        for args in [("check", "--format", "text"), ("check", "--format", "gcc"), ("check", "--format", "json"),
                     ("events",)]:
            for path, rc in [(HEATMAP, 0), (INVALID, 1)]:
                from_file = run_raw(*args, "heatmap", path)
                self.assertEqual(run_raw(*args, "heatmap", "-", stdin=read(path)),
                                 (rc,) + tuple(x.replace(path.encode(), b"<stdin>") for x in from_file[1:]), (args, path))
        self.assertEqual(run("events", "heatmap", os.path.join(EXAMPLES, "missing.xml"))[0], 3)

    def test_recursive_checks_xml_files_in_path_order(self):
        valid = read(HEATMAP)
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

    def test_recursive_listing_is_the_same_for_every_job_count(self):
        # Enough directories for several threads to list at once; names that
        # sort around '/' ("b" < "b-c.xml" < "b.xml" < "b/..."), a link to a
        # directory (not followed), a FIFO (not opened), two directory
        # operands and a file operand between them.
        valid, invalid = read(HEATMAP), read(INVALID)
        names = ["t/b/x.xml", "t/b.xml", "t/b-c.xml", "t/b0/y.xml", "u/only.xml"]
        names += ["t/d%02d/e%d/f%d.xml" % (i, j, k) for i in range(12) for j in range(3) for k in range(2)]
        for n, name in enumerate(names):
            self.write(name, invalid if n % 5 == 0 else valid)
        t, u = os.path.join(self.dir.name, "t"), os.path.join(self.dir.name, "u")
        os.symlink(os.path.join(t, "b"), os.path.join(t, "link"))
        os.mkfifo(os.path.join(t, "d03", "fifo.xml"))
        runs = [run_raw("check", "-r", "-j", jobs, "--format", "json", "heatmap", t, HEATMAP, u)
                for jobs in ["1", "2", "5"]]
        self.assertEqual(runs[1:], runs[:1] * 2)
        paths = [json.loads(l)["path"] for l in runs[0][1].splitlines()]
        under_t = sorted((p for p in paths if p.startswith(t + os.sep)), key=os.fsencode)
        self.assertEqual(paths, under_t + [HEATMAP, os.path.join(u, "only.xml")])
        self.assertEqual(len(under_t), len(names))  # u's file apart, the FIFO added
        self.assertEqual(sum(1 for l in runs[0][1].splitlines() if json.loads(l)["status"] == "unreadable"), 1)

    def test_exit_status_summary_and_quiet(self):
        invalid, missing = INVALID, os.path.join(self.dir.name, "missing.xml")
        for files, rc, summary in [([HEATMAP], 0, None), ([invalid], 1, "1 file: 0 valid, 1 invalid, 0 unreadable"),
                                   ([missing], 3, "1 file: 0 valid, 0 invalid, 1 unreadable"),
                                   ([HEATMAP, HEATMAP], 0, "2 files: 2 valid, 0 invalid, 0 unreadable"),
                                   ([missing, invalid, HEATMAP], 1, "3 files: 1 valid, 1 invalid, 1 unreadable"),
                                   ([HEATMAP, missing], 3, "2 files: 1 valid, 0 invalid, 1 unreadable")]:
            full = run("check", "heatmap", *files)
            self.assertEqual(full[0], rc, files)
            self.assertEqual(full[2].splitlines()[-1:] == [summary], len(files) > 1, files)
            quiet = run("check", "-q", "heatmap", *files)
            names = "".join(f + "\n" for f in files if f != HEATMAP).encode()
            self.assertEqual(quiet, (rc, names, summary + "\n" if rc else ""), files)

    def test_stream_in_json(self):
        rc, out, err = run("check", "--stream", "--format", "json", "heatmap", "-",
                           stdin=b"<Heatmap/>\n<Heatmap><Nope/></Heatmap>")
        objs = [json.loads(l) for l in out.splitlines()]
        self.assertEqual((rc, err), (1, ""))
        self.assertEqual([(o["path"], o["document"], o["valid"]) for o in objs], [("<stdin>", 1, True), ("<stdin>", 2, False)])
        self.assertEqual(objs[1]["diagnostics"][0]["kind"], "unknown_element")


class Json(Temp):
    def test_events_are_valid_utf8_json_whatever_the_bytes(self):
        # Each sequence alone, then across the 64 KiB mark where a long text is
        # cut into pieces that must split no sequence.
        pad = b"a" * 65536
        for data, valid in UTF8_TABLE:
            for shift, text in [(None, data)] + [(n, pad[:65536 - n] + data + pad) for n in range(5)]:
                rc, out, err = run("events", "dictionary", self.write("d.xml", DICTIONARY % text))
                events = [json.loads(line.decode("utf-8")) for line in out.splitlines()]
                self.assertEqual((rc, events[3]["event"], events[3]["text"]),
                                 (0, "text", text.decode("utf-8" if valid else "latin-1")), (data, shift))

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
        # Names are ASCII (a document could contain no other); values are free.
        path = self.write("bytes.grammar", b'grammar bytes\nsource none\nelement 0 cafe\n  first END\n'
                                           b'  row 0 (none)\n  attr a default "\xff\xc0\xaf" values "\xff\xc0\xaf" "\xed\xa0\x80"\n')
        rc, out, err = run("grammar", "--format", "json", "--grammar-file", path)
        self.assertEqual(rc, 0, err)
        e = json.loads(out.decode("utf-8"))["elements"][0]
        self.assertEqual((e["name"], e["attributes"][0]["values"]), (u"cafe", [u"\u00ff\u00c0\u00af", u"\u00ed\u00a0\u0080"]))

def colors(value):
    return b'<?xml version="1.0"?><Heatmap><Colors gradient_color_space="%s"/></Heatmap>' % value


def wrong_value(value):
    return b"Invalid attribute value '%s' for attribute 'gradient_color_space'" % value


class Hostile(Temp):
    """File names and messages from outside: no line of their own, no control sequence."""
    NAME = b"b\nx.xml:1:1: error: forged diagnostic\r\ny\x1b]0;t\x07\x9b2J\xc2\x85\x7f.xml"
    ESCAPED = rb"b\x0ax.xml:1:1: error: forged diagnostic\x0d\x0ay\x1b]0;t\x07\x9b2J\xc2\x85\x7f.xml"
    VALUE = b"\x1b[2J\nx.xml:9:9: error: forged"

    def forged(self, data, name=NAME):
        path = self.write(b"t/" + name, data)
        return os.path.dirname(path), path

    def test_a_forged_name_stays_in_its_record_in_every_format(self):
        folder, path = self.forged(colors(self.VALUE))
        self.forged(read(HEATMAP), b"ok.xml")
        messages = [wrong_value(self.VALUE), b"File %s, line 2: error in attributes for element 'Colors'" % path]
        for args in [(path,), ("-r", folder)]:
            for fmt in ["text", "gcc", "json"]:
                runs = [run_raw("check", "-j", jobs, "--format", fmt, "heatmap", *args) for jobs in ["1", "3"]]
                self.assertEqual(runs[0], runs[1], (args, fmt))
                rc, out, err = runs[0]
                self.assertEqual((rc, controls(out), controls(err)), (1, [], []), (args, fmt))
                if fmt == "text":
                    self.assertEqual(err.splitlines()[:2], [wrong_value(rb"\x1b[2J\x0ax.xml:9:9: error: forged"),
                                                            b"File %s/%s, line 2: error in attributes for element 'Colors'"
                                                            % (folder, self.ESCAPED)])
                elif fmt == "gcc":
                    # The name itself holds ":1:1: error: ", which no reader can tell
                    # from the real one; all that matters is that it starts no line.
                    name = folder + b"/" + self.ESCAPED + b":"
                    self.assertEqual([bool(l.startswith(name) and GCC.match("n:" + l[len(name):].decode()))
                                      for l in out.splitlines()], [True, True])
                else:
                    objs = [json.loads(l) for l in out.splitlines()]
                    self.assertEqual([o["path"] for o in objs], [decoded(path)] + [decoded(folder + b"/ok.xml")] * (len(args) - 1))
                    self.assertEqual([(d["message"], d["note"]["message"]) for d in objs[0]["diagnostics"]],
                                     [tuple(decoded(m) for m in messages)])
        for fmt in ["gcc", "json"]:
            _, stream = self.forged(b"<Heatmap/>\n<Heatmap><Nope/></Heatmap>", self.NAME + b".stream")
            rc, out, err = run_raw("check", "--stream", "--format", fmt, "heatmap", stream)
            self.assertEqual((rc, len(out.splitlines()), controls(out), err), (1, 2, [], b""), fmt)
            if fmt == "gcc":
                self.assertTrue(out.splitlines()[1].startswith(folder + b"/" + self.ESCAPED + b".stream:2:"))
            else:
                self.assertEqual(json.loads(out.splitlines()[1])["path"], decoded(stream))
        rc, out, err = run_raw("events", "heatmap", path)
        self.assertEqual((rc, controls(out), err), (1, [], b""))
        self.assertEqual(json.loads(out.splitlines()[-1])["errors"], [decoded(m) for m in messages])

    def test_usage_messages_quote_names_without_controls(self):
        folder, path = self.forged(b"")
        for rc, args in [(2, ("check", "heatmap", folder)), (2, ("check", b"no\x1b[2J\nsuch", HEATMAP)), (2, ("frob\x1b[2J",)),
                         (2, ("check", "--format", b"\x9bx\ny", "heatmap", HEATMAP)),
                         (3, ("check", "--stream", "heatmap", path + b".none")), (2, ("grammar", "--grammar-file", path + b".none"))]:
            got = run_raw(*args)
            self.assertEqual((got[0], got[1], controls(got[2])), (rc, b"", []), args)

    # (bytes of a wrong attribute value, as its message writes them in text, or None: unchanged)
    ESCAPES = [
        (b"\x1b[31m", rb"\x1b[31m"), (b"a\tb\x01", rb"a\x09b\x01"), (b"\x7f", rb"\x7f"),
        (b"\xc2\x9b\xc2\x80", rb"\xc2\x9b\xc2\x80"), (b"\x9b\x85", rb"\x9b\x85"),   # C1: UTF-8 form, lone bytes
        (b"\xe0\x9b\x80", b"\xe0" + rb"\x9b\x80"), (b"\xed\xa0\x80", b"\xed\xa0" + rb"\x80"),  # ill-formed: bytes alone
        (b"\xed\x9b\x80\xe2\x82\xac\xc3\xa9\xf0\x9f\x98\x80", None),  # well-formed, bytes 0x80-0x9f inside
        (b"\xff\xa0\xc3\\x41", None),  # not controls: backslashes stay as they are
        (b"a\r\nb", rb"a\x0d\x0ab"),
    ]

    def assert_escaped(self, value, text, case):
        """The message about the wrong value `value`: `text` (its escaped form) in text and gcc output, the
        value itself in JSON, from check and from events."""
        path = self.write("v.xml", colors(value))
        rc, out, err = run_raw("check", "heatmap", path)
        self.assertEqual((rc, err.splitlines()[0]), (1, wrong_value(text)), case)
        rc, out, err = run_raw("check", "--format", "gcc", "heatmap", path)
        gcc_text = text.replace(rb"\x0d", b" ").replace(rb"\x0a", b" ")  # a line break becomes a space
        self.assertEqual(out.splitlines()[0].split(b": error: ", 1)[1],
                         wrong_value(gcc_text) + b" (expected: HSVs, HSVl, RGB) [invalid-value]", case)
        for args in [("check", "--format", "json"), ("events",)]:
            rc, out, err = run_raw(*args, "heatmap", path)
            self.assertEqual(controls(out), [], (case, args))
            last = json.loads(out.splitlines()[-1])
            message = last["diagnostics"][0]["message"] if args[0] == "check" else last["errors"][0]
            self.assertEqual(message, decoded(wrong_value(value)), (case, args))

    def test_control_bytes_in_messages(self):
        for value, text in self.ESCAPES:
            self.assert_escaped(value, value if text is None else text, value)
        # Character references of the XML mode make the same bytes.
        path = self.write("v.xml", colors(b"a&#x9b;&#10;&#x85;&#x7f;b"))
        rc, out, err = run_raw("check", "-X", "heatmap", path)
        self.assertEqual((rc, err.splitlines()[0]), (1, wrong_value(rb"a\xc2\x9b\x0a\xc2\x85\x7fb")))

    def test_long_messages_are_escaped_in_pieces(self):
        # Escapes and multi-byte characters across the 64 KiB marks of the message.
        prefix = len(wrong_value(b"").split(b"'")[0]) + 1
        for shift in range(6):
            parts = [(b"a" * (65536 - prefix - shift - 3), None), (b"\xc2\x85\xe2\x82\xac\x1b", rb"\xc2\x85" + b"\xe2\x82\xac" + rb"\x1b"),
                     (b"b" * 65530, None), (b"\x9b\xf0\x9f\x98\x80\x0a", rb"\x9b" + b"\xf0\x9f\x98\x80" + rb"\x0a")]
            self.assert_escaped(b"".join(p for p, _ in parts), b"".join(p if e is None else e for p, e in parts), shift)

    def test_recursive_opens_regular_files_only(self):
        valid = read(HEATMAP)
        self.write("t/a.xml", valid)
        root = os.path.join(self.dir.name, "t")
        os.mkfifo(os.path.join(root, "fifo.xml"))
        os.symlink("nowhere.xml", os.path.join(root, "gone.xml"))
        os.symlink("fifo.xml", os.path.join(root, "link.xml"))
        sock = socket.socket(socket.AF_UNIX)
        self.addCleanup(sock.close)
        sock.bind(os.path.join(root, "sock.xml"))
        rc, out, err = run_raw("check", "-r", "--format", "json", "heatmap", root, timeout=30)
        got = [(os.path.basename(o["path"]), o["status"], [(d["kind"], d.get("os_error")) for d in o["diagnostics"]])
               for o in map(json.loads, out.splitlines())]
        unreadable = [("input_output", None)]
        self.assertEqual(got, [("a.xml", "valid", []), ("fifo.xml", "unreadable", unreadable),
                               ("gone.xml", "unreadable", [("input_output", 2)]),  # ENOENT: reported when opened
                               ("link.xml", "unreadable", unreadable), ("sock.xml", "unreadable", unreadable)])
        self.assertEqual((rc, err), (3, b"5 files: 1 valid, 0 invalid, 4 unreadable\n"))
        # Named on the command line, a FIFO is read as before.
        fifo = os.path.join(root, "fifo.xml")
        def write():
            with open(fifo, "wb") as f:
                f.write(valid)
        writer = threading.Thread(target=write)
        writer.start()
        self.assertEqual(run("check", "heatmap", fifo)[0], 0)
        writer.join()


class Arguments(unittest.TestCase):
    def test_fixed_values_refuse_others_listing_them(self):
        for command, values, listed, files in [("check", ["xml", "2", "JSON", ""], "text, gcc, json, sarif, github", [HEATMAP]),
                                               ("grammar", ["xml", "1"], "text, json, dot", []),
                                               ("export", ["xsd", "0"], "rng, dtd", [])]:
            for value in values:
                args = [command, "--format", value, "heatmap"] + files
                self.assertEqual(run(*args), (2, b"", "tarvo: --format: '%s' is not one of %s\nRun 'tarvo %s --help' for usage.\n"
                                              % (value, listed, command)), args)


if __name__ == "__main__":
    unittest.main()
