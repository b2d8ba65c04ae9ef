# `tarvo check -a` and `--internal-dtd`: the grammar each file is checked
# against, the no-grammar status in every format, summary lines and exit
# statuses, and output that does not depend on -j; `tarvo events` with the
# same options.
# Run with TARVO set to the tool; Python 3.
import json
import os
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_cli import TARVO, Temp  # noqa: E402

DECL = b'<?xml version="1.0"?>\n'
HEATMAP = b'<Heatmap title="t" min_value="0" max_value="1"><Element model_file="m" id="a" value="1"/></Heatmap>\n'
DICTIONARY = b"<dictionary><translation><source>s</source><target>t</target></translation></dictionary>\n"
# Valid against heatmap only, and against dictionary only.
CASES = [
    # name, bytes, flags, the grammar it is checked against (None: no grammar), valid
    ("system.xml", DECL + b'<!DOCTYPE Heatmap SYSTEM "heatmap.dtd">\n' + HEATMAP, [], "heatmap", True),
    ("system_url.xml", DECL + b'<!DOCTYPE x SYSTEM "http://example.org/dtd/heatmap.dtd">\n' + HEATMAP, [],
     "heatmap", True),
    ("system_wins.xml", DECL + b'<!DOCTYPE Heatmap SYSTEM "dictionary.dtd">\n' + HEATMAP, [], "dictionary", False),
    ("root.xml", DECL + DICTIONARY, [], "dictionary", True),
    ("unknown_system_root.xml", DECL + b'<!DOCTYPE dictionary SYSTEM "mine.dtd">\n' + DICTIONARY, [], "dictionary",
     True),
    ("xml_head.xml", b'\xef\xbb\xbf<!-- c --><?pi x?>\n<!DOCTYPE Heatmap PUBLIC "-//x//y" "a/heatmap.dtd" '
     b'[ <!ENTITY e "]>"> ]>\n<!-- c -->' + HEATMAP, ["-X"], "heatmap", True),
    ("no_root.xml", DECL + b'<nothing/>\n', [], None, False),
    ("unknown_both.xml", DECL + b'<!DOCTYPE nothing SYSTEM "nothing.dtd">\n<nothing/>\n', [], None, False),
    ("empty.xml", b"", [], None, False),
    ("text.xml", b"just text\n", [], None, False),
]
NO_GRAMMAR = {
    "no_root.xml": "no grammar has root element 'nothing'",
    "unknown_both.xml": "its DOCTYPE names SYSTEM 'nothing.dtd', which is no grammar's (see 'tarvo grammars'), "
                        "and no grammar has root element 'nothing'",
    "empty.xml": "no DOCTYPE and no root element was found at its start",
    "text.xml": "no DOCTYPE and no root element was found at its start",
}


def run(*args, stdin=b""):
    p = subprocess.run([TARVO] + list(args), input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return p.returncode, p.stdout.decode(), p.stderr.decode()


def outcome_line(out):
    return json.loads(out.splitlines()[-1])


class Auto(Temp):
    def test_each_file_is_checked_and_read_against_the_grammar_its_head_names(self):
        for name, data, flags, grammar, valid in CASES:
            with self.subTest(name):
                path = self.write(name, data)
                rc, out, err = run("check", "-a", *flags, "--format", "json", path)
                record = json.loads(out)
                events = run("events", "-a", *flags, path)
                if grammar is None:
                    message = "No grammar found for %s: %s" % (path, NO_GRAMMAR[name])
                    self.assertEqual((rc, record["status"], record["code"]), (3, "no-grammar", 2))
                    d = record["diagnostics"][0]
                    self.assertEqual((d["code"], d["kind"], d["line"], d["message"]),
                                     ("no-grammar", "input_output", 0, message))
                    # The message and status of `check -a` as events' outcome line, its only line.
                    self.assertEqual(run("check", "-a", *flags, path), (3, "", message + "\n"))
                    self.assertEqual((events[0], events[1].count("\n"), outcome_line(events[1])["errors"], events[2]),
                                     (3, 1, [message], ""))
                    continue
                # The same output as naming that grammar.
                self.assertEqual((rc, out, err), run("check", grammar, *flags, "--format", "json", path))
                self.assertEqual(record["valid"], valid)
                self.assertEqual(events, run("events", grammar, *flags, path))
                self.assertEqual(outcome_line(events[1])["valid"], valid)

    def test_a_directory_of_every_kind_in_every_format_and_for_every_j(self):
        for name, data, flags, grammar, valid in CASES:
            if not flags:
                self.write(os.path.join("tree", "sub" if grammar else "", name), data)
        tree = os.path.join(self.dir.name, "tree")
        summary = "9 files: 4 valid, 1 invalid, 0 unreadable, 4 without grammar\n"
        for fmt in ("text", "gcc", "json", "sarif", "github"):
            with self.subTest(fmt):
                outputs = [run("check", "-a", "-r", "-j", j, "--format", fmt, tree) for j in ("1", "2", "5")]
                self.assertEqual(outputs[1:], outputs[:1] * 2)
                rc, out, err = outputs[0]
                self.assertEqual(rc, 1)  # one invalid document outweighs the files without grammar
                self.assertTrue(err.endswith(summary), err)
                shown = out + err
                for name, text in NO_GRAMMAR.items():
                    self.assertIn(name, shown)
                if fmt == "gcc":
                    self.assertIn("%s: error: No grammar found for %s: %s [no-grammar]\n" %
                                  ((os.path.join(tree, "empty.xml"),) * 2 + (NO_GRAMMAR["empty.xml"],)), out)
                if fmt == "github":
                    self.assertIn("::error file=%s,title=no-grammar::No grammar found" % os.path.join(tree, "empty.xml")
                                  .replace(":", "%3A").replace(",", "%2C"), out)
                if fmt == "sarif":
                    log = json.loads(out)
                    rules = [r["id"] for r in log["runs"][0]["tool"]["driver"]["rules"]]
                    found = [r for r in log["runs"][0]["results"] if r["ruleId"] == "no-grammar"]
                    self.assertEqual(len(found), 4)
                    self.assertEqual(rules[found[0]["ruleIndex"]], "no-grammar")
                if fmt == "json":
                    statuses = sorted(json.loads(line)["status"] for line in out.splitlines())
                    self.assertEqual(statuses, ["invalid"] + ["no-grammar"] * 4 + ["valid"] * 4)
        rc, out, err = run("check", "-a", "-r", "-q", os.path.join(tree, "sub"))
        self.assertEqual((rc, out), (1, os.path.join(tree, "sub", "system_wins.xml") + "\n"))
        rc, out, err = run("check", "-a", "-q", os.path.join(tree, "empty.xml"), os.path.join(tree, "sub", "root.xml"))
        self.assertEqual((rc, err), (3, "2 files: 1 valid, 0 invalid, 0 unreadable, 1 without grammar\n"))
        rc, out, err = run("check", "-a", os.path.join(tree, "sub", "root.xml"), os.path.join(tree, "nosuch.xml"))
        self.assertEqual(rc, 3)
        self.assertIn("Could not open file %s for reading" % os.path.join(tree, "nosuch.xml"), err)

    def test_standard_input(self):
        rc, out, err = run("check", "-a", "-", stdin=DECL + DICTIONARY)
        self.assertEqual((rc, err), (0, ""))
        rc, out, err = run("check", "-a", "-", stdin=DECL + b"<x/>")
        self.assertEqual((rc, err), (3, "No grammar found for <stdin>: no grammar has root element 'x'\n"))

    def test_usage_errors(self):
        path = self.write("d.xml", DECL + DICTIONARY)
        for command, args in [(c, a) for c in ("check", "events") for a in (
                ["-a", "dictionary", path], ["-a", "--dtd", path, path], ["-a", "--grammar-file", path, path])] + [
                ("check", ["-a", "--stream", path]), ("check", ["--internal-dtd", "--stream", "dictionary", path]),
                ("events", ["-a", path, path]), ("events", ["--internal-dtd", path, path]), ("events", ["-a"])]:
            with self.subTest([command] + args):
                rc, out, err = run(command, *args)
                self.assertEqual((rc, out), (2, ""), err)
                self.assertIn("Run 'tarvo %s --help'" % command, err)
        self.assertIn("--auto chooses the grammar of each FILE", run("events", "-a", "dictionary", path)[2])


SUBSET = b'<!DOCTYPE r [\n<!ELEMENT r (a+, b?)>\n<!ELEMENT a (#PCDATA)>\n<!ELEMENT b EMPTY>\n' \
         b'<!ATTLIST b k (x|y) "x">\n]>\n'


class InternalDtd(Temp):
    def test_the_internal_subset_is_the_grammar(self):
        for name, data, rc_want, text in [
                ("valid.xml", SUBSET + b"<r><a>t</a><a/><b k='y'/></r>", 0, ""),
                ("misplaced.xml", SUBSET + b"<r><b/><a/></r>", 1, "Element is invalid"),
                ("value.xml", SUBSET + b"<r><a/><b k='z'/></r>", 1, "Invalid attribute value 'z'"),
                ("not_deterministic.xml", b'<!DOCTYPE r [<!ELEMENT r (a?, a)> <!ELEMENT a EMPTY>]><r><a/></r>', 3,
                 "No grammar found for %s: its internal subset cannot serve as the grammar: %s (internal subset):1: "
                 "the content model of 'r' is not deterministic"),
                ("undeclared_root.xml", b'<!DOCTYPE q [<!ELEMENT r EMPTY>]><r/>', 3,
                 "the root element 'q' is not declared"),
                ("no_subset.xml", DECL + DICTIONARY, 3,
                 "No grammar found for %s: it has no internal subset that declares its elements\n"),
        ]:
            with self.subTest(name):
                path = self.write(name, data)
                rc, out, err = run("check", "--internal-dtd", path)
                self.assertEqual(rc, rc_want, err)
                self.assertIn(text.replace("%s", path) if "%s" in text else text, err)

    def test_files_without_a_subset_take_the_grammar_given_or_their_own(self):
        subset = self.write("subset.xml", SUBSET + b"<r><a/></r>")
        plain = self.write("plain.xml", DECL + DICTIONARY)
        entities_only = self.write("entities.xml", b'<!DOCTYPE dictionary [<!ENTITY e "x">]>' + DICTIONARY)
        for args in (["dictionary"], ["-a"]):
            with self.subTest(args):
                rc, out, err = run("check", "--internal-dtd", *args, subset, plain, entities_only)
                self.assertEqual((rc, err), (0, "3 files: 3 valid, 0 invalid, 0 unreadable, 0 without grammar\n"))


class Events(Temp):
    def test_standard_input_and_a_missing_file(self):
        rc, out, err = run("events", "-a", "-", stdin=DECL + DICTIONARY)
        self.assertEqual((rc, out, err), run("events", "dictionary", "-", stdin=DECL + DICTIONARY))
        rc, out, err = run("events", "-a", "-", stdin=DECL + b"<x/>")
        self.assertEqual((rc, outcome_line(out)["errors"]),
                         (3, ["No grammar found for <stdin>: no grammar has root element 'x'"]))
        missing = os.path.join(self.dir.name, "nosuch.xml")
        self.assertEqual(run("events", "-a", missing), run("events", "dictionary", missing))

    def test_a_fifo_is_read_once(self):
        # The head chooses the grammar and the parse goes on from the bytes
        # read: a FIFO opened again would wait for a writer that is gone.
        fifo = os.path.join(self.dir.name, "fifo.xml")
        os.mkfifo(fifo)
        for args in (["events", "-a"], ["check", "-a"], ["events", "--internal-dtd", "dictionary"],
                     ["check", "--internal-dtd", "dictionary"]):
            with self.subTest(args):
                def write():
                    with open(fifo, "wb") as f:
                        f.write(DECL + DICTIONARY)
                writer = threading.Thread(target=write)
                writer.start()
                p = subprocess.run([TARVO] + args + [fifo], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
                writer.join()
                self.assertEqual(p.returncode, 0, p.stdout + p.stderr)

    def test_the_internal_subset_is_the_grammar(self):
        subset = self.write("subset.xml", SUBSET + b"<r><a>t</a><b k='y'/></r>")
        plain = self.write("plain.xml", DECL + DICTIONARY)
        rc, out, err = run("events", "--internal-dtd", subset)
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual([json.loads(line)["event"] for line in out.splitlines()],
                         ["start", "start", "text", "end", "start", "end", "end", "outcome"])
        for args, rc_want, errors in [
                ([plain], 3, ["No grammar found for %s: it has no internal subset that declares its elements" % plain]),
                (["dictionary", plain], 0, []), (["-a", plain], 0, [])]:
            with self.subTest(args):
                rc, out, err = run("events", "--internal-dtd", *args)
                self.assertEqual((rc, outcome_line(out)["errors"], err), (rc_want, errors, ""))


if __name__ == "__main__":
    unittest.main()
