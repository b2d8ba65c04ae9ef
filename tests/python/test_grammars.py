# Grammars seen from Python: listed, described, loaded from a grammar file,
# replaced and dropped; the built-in ones stay. Callbacks of the wrong shape
# are refused before any parse starts.
import os

import tarvo
from tarvo_support import BUILT_IN, ROOT, DocumentTestCase, raised

RECIPE = os.path.join(ROOT, "examples", "recipe")
# bytearray: a document in memory on Python 2 too, where bytes is str, a path.
NOTE = bytearray(b'<?xml version="1.0"?><note>x</note>')
NOTES = "grammar {name}\nsource none\nelement 0 {root}\n  first TEXT/0\n  row 0 (none)\ntext 0 END\n"
BROKEN = b"grammar broken\nsource none\nelement 0 a\n  first b/0\n  row 0 END\n"


class GrammarTest(DocumentTestCase):
    def test_grammars_and_grammar_info(self):
        self.assertEqual(tarvo.grammars()[:12], BUILT_IN)
        info = tarvo.grammar_info("heatmap")
        self.assertEqual(sorted(info), ["elements", "grammar_file", "name", "roots", "source_name", "system_name",
                                        "text_rows"])
        self.assertEqual((info["system_name"], info["grammar_file"], info["roots"], info["text_rows"]),
                         ("heatmap.dtd", "src/schemas/heatmap.grammar", ["Heatmap"], []))
        self.assertEqual(info["elements"][1], {
            "name": "Heatmap", "index": 1, "first": ["Colors/0", "END", "Element/0"], "rows": [[]],
            "attributes": [{"name": "max_value", "required": False, "default": "-", "values": []},
                           {"name": "min_value", "required": False, "default": "-", "values": []},
                           {"name": "title", "required": False, "default": "", "values": []}]})
        self.assertEqual(info["elements"][2]["attributes"][0]["default"], None)
        self.assertEqual(tarvo.grammar_info(name="dictionary")["text_rows"], [["END"]])
        self.assertRaises(ValueError, tarvo.grammar_info, "Heatmap")

    def test_load_grammar_registers_under_its_declared_name(self):
        name = tarvo.load_grammar(os.path.join(RECIPE, "recipe.grammar"))
        self.assertEqual(name, "recipe")
        self.assertEqual(tarvo.grammars()[-1], "recipe")
        seen = []
        callbacks = {"ingredient": [lambda n, a: seen.append(a["unit"])]}
        self.assertEqual(tarvo.parse("recipe", callbacks, os.path.join(RECIPE, "pancakes.xml")), "")
        self.assertEqual(seen, ["g", "ml", "piece"])
        self.assertRaises(tarvo.ParseError, tarvo.parse, "recipe", {},
                          os.path.join(RECIPE, "invalid-step-before-ingredient.xml"))
        self.assertEqual(tarvo.grammar_info("recipe")["roots"], ["recipe"])
        for path, taken in [(os.path.join(RECIPE, "recipe.grammar"), "recipe"),
                            (os.path.join(ROOT, "src", "schemas", "heatmap.grammar"), "heatmap")]:
            self.assertIn("'%s' is already registered" % taken, str(raised(ValueError, tarvo.load_grammar, path=path)))

    def test_a_broken_grammar_file_says_file_line_and_reason(self):
        broken, missing = self.write("broken.grammar", BROKEN), os.path.join(self.dir, "none.grammar")
        for path, text in [(broken, broken + ":4: unknown element 'b'"), (missing, missing + ":0: cannot read")]:
            self.assertIn(text, str(raised(ValueError, tarvo.load_grammar, path)), path)
        self.assertNotIn("broken", tarvo.grammars())

    def test_replace_and_unload(self):
        first, second = [self.write(f, NOTES.format(name="lifetime_notes", root=root).encode("ascii"))
                         for f, root in [("first.grammar", "note"), ("second.grammar", "memo")]]
        self.assertEqual(tarvo.load_grammar(first), "lifetime_notes")
        self.assertEqual(tarvo.validate("lifetime_notes", NOTE).status, 0)
        # Taken: refused unless replacing; a refusal keeps the grammar there.
        self.assertIn("'lifetime_notes' is already registered", str(raised(ValueError, tarvo.load_grammar, second)))
        self.assertEqual(tarvo.grammar_info("lifetime_notes")["roots"], ["note"])
        self.assertEqual(tarvo.load_grammar(second, replace=True), "lifetime_notes")
        self.assertEqual(tarvo.grammar_info("lifetime_notes")["roots"], ["memo"])
        self.assertEqual(tarvo.grammars().count("lifetime_notes"), 1)
        self.assertEqual(tarvo.validate("lifetime_notes", NOTE).status, 1)
        # A file that cannot be used replaces nothing.
        broken = self.write("broken.grammar", BROKEN.replace(b"broken", b"lifetime_notes"))
        self.assertRaises(ValueError, tarvo.load_grammar, broken, True)
        self.assertEqual(tarvo.grammar_info("lifetime_notes")["roots"], ["memo"])

        self.assertIsNone(tarvo.unload_grammar("lifetime_notes"))
        self.assertNotIn("lifetime_notes", tarvo.grammars())
        for call in [lambda: tarvo.validate("lifetime_notes", bytearray(b'<?xml version="1.0"?><memo/>')),
                     lambda: tarvo.unload_grammar(name="lifetime_notes")]:
            self.assertEqual(str(raised(ValueError, call)), "unknown grammar 'lifetime_notes'")
        # replace=True with nothing to replace just loads.
        self.assertEqual(tarvo.load_grammar(path=first, replace=True), "lifetime_notes")
        self.assertEqual(tarvo.validate("lifetime_notes", NOTE).status, 0)
        tarvo.unload_grammar("lifetime_notes")

    def test_built_in_grammars_stay(self):
        heatmap = os.path.join(ROOT, "src", "schemas", "heatmap.grammar")
        for call in [lambda: tarvo.unload_grammar("heatmap"), lambda: tarvo.load_grammar(heatmap, replace=True)]:
            self.assertIn("'heatmap' is built in", str(raised(ValueError, call)))
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
                self.assertEqual(str(raised(TypeError, tarvo.parse, "heatmap", {key: value}, document)),
                                 "callbacks for element '%s': expected a list of three, [start, text, end], "
                                 "not a bare %s" % (key, kind))
                self.assertRaises(TypeError, tarvo.parse_bytes, "heatmap", {key: value}, bytearray(b"<Heatmap/>"))
        self.assertEqual(seen, [])
        # The shapes that are meant stay accepted.
        for value in [[record], (record, None, record), [None, None, record]]:
            tarvo.parse("heatmap", {"Heatmap": value}, document)
        self.assertTrue(seen)
