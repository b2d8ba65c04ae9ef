# Loaded grammars replaced and dropped, and callbacks of the wrong shape
# refused before any parse starts.
import os
import shutil
import tempfile
import unittest

import tarvo

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

# bytearray: a document in memory on Python 2 too, where bytes is str, a path.
NOTE = bytearray(b'<?xml version="1.0"?><note>x</note>')
NOTES = "grammar {name}\nsource none\nelement 0 {root}\n  first TEXT/0\n  row 0 (none)\ntext 0 END\n"


class GrammarLifetimeTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.dir)

    def grammar_file(self, name, root, file_name=None):
        path = os.path.join(self.dir, file_name or name + ".grammar")
        with open(path, "w") as f:
            f.write(NOTES.format(name=name, root=root))
        return path

    def test_replace_and_unload(self):
        first = self.grammar_file("lifetime_notes", "note", "first.grammar")
        second = self.grammar_file("lifetime_notes", "memo", "second.grammar")
        self.assertEqual(tarvo.load_grammar(first), "lifetime_notes")
        self.assertEqual(tarvo.validate("lifetime_notes", NOTE).status, 0)
        # Taken: refused unless replacing; a refusal keeps the grammar there.
        with self.assertRaises(ValueError) as caught:
            tarvo.load_grammar(second)
        self.assertIn("'lifetime_notes' is already registered", str(caught.exception))
        self.assertEqual(tarvo.grammar_info("lifetime_notes")["roots"], ["note"])
        self.assertEqual(tarvo.load_grammar(second, replace=True), "lifetime_notes")
        self.assertEqual(tarvo.grammar_info("lifetime_notes")["roots"], ["memo"])
        self.assertEqual(tarvo.grammars().count("lifetime_notes"), 1)
        self.assertEqual(tarvo.validate("lifetime_notes", NOTE).status, 1)
        # A file that cannot be used replaces nothing.
        broken = os.path.join(self.dir, "broken.grammar")
        with open(broken, "w") as f:
            f.write("grammar lifetime_notes\nsource none\nelement 0 a\n  first b/0\n  row 0 END\n")
        self.assertRaises(ValueError, tarvo.load_grammar, broken, True)
        self.assertEqual(tarvo.grammar_info("lifetime_notes")["roots"], ["memo"])

        self.assertIsNone(tarvo.unload_grammar("lifetime_notes"))
        self.assertNotIn("lifetime_notes", tarvo.grammars())
        for call in [lambda: tarvo.validate("lifetime_notes", bytearray(b'<?xml version="1.0"?><memo/>')),
                     lambda: tarvo.unload_grammar(name="lifetime_notes")]:
            with self.assertRaises(ValueError) as caught:
                call()
            self.assertEqual(str(caught.exception), "unknown grammar 'lifetime_notes'")
        # replace=True with nothing to replace just loads.
        self.assertEqual(tarvo.load_grammar(path=first, replace=True), "lifetime_notes")
        self.assertEqual(tarvo.validate("lifetime_notes", NOTE).status, 0)
        tarvo.unload_grammar("lifetime_notes")

    def test_built_in_grammars_stay(self):
        heatmap = os.path.join(ROOT, "src", "schemas", "heatmap.grammar")
        for call in [lambda: tarvo.unload_grammar("heatmap"), lambda: tarvo.load_grammar(heatmap, replace=True)]:
            with self.assertRaises(ValueError) as caught:
                call()
            self.assertIn("'heatmap' is built in", str(caught.exception))
        self.assertIn("heatmap", tarvo.grammars())
        self.assertRaises(TypeError, tarvo.unload_grammar)
        self.assertRaises(TypeError, tarvo.unload_grammar, 3)

    def test_a_callback_table_entry_must_be_a_list(self):
        document = os.path.join(ROOT, "examples", "heatmap", "order_handling_durations.xml")
        seen = []

        def record(*args):
            seen.append(args)

        class Callable(object):
            def __call__(self, *args):
                seen.append(args)

        for value, kind in [(record, "function"), (len, "builtin_function_or_method"), (Callable(), "Callable")]:
            for key in ["Heatmap", "*"]:
                with self.assertRaises(TypeError) as caught:
                    tarvo.parse("heatmap", {key: value}, document)
                self.assertEqual(str(caught.exception), "callbacks for element '%s': expected a list of three, "
                                 "[start, text, end], not a bare %s" % (key, kind))
                self.assertRaises(TypeError, tarvo.parse_bytes, "heatmap", {key: value}, bytearray(b"<Heatmap/>"))
        self.assertEqual(seen, [])
        # The shapes that are meant stay accepted.
        for value in [[record], (record, None, record), [None, None, record]]:
            tarvo.parse("heatmap", {"Heatmap": value}, document)
        self.assertTrue(seen)


if __name__ == "__main__":
    unittest.main()
