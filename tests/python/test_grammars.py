# Grammars seen from Python: listed, described, and loaded from a grammar file.
import os
import tempfile
import unittest

import tarvo
from tarvo_support import PY2

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
RECIPE = os.path.join(ROOT, "examples", "recipe")
BUILT_IN = ["lumoTools", "lumoCodeCoverage", "lumoDiagram", "lumoDocument", "lumoDictionaryObjects",
            "lumoMSCBasedSystemCheckReport", "lumoProject", "PrintLanguage", "DigitalTwinAPI", "dictionary",
            "bpmn_project", "heatmap"]


class GrammarTest(unittest.TestCase):
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
        for path, text in [(os.path.join(RECIPE, "recipe.grammar"), "'recipe' is already registered"),
                           (os.path.join(ROOT, "src", "schemas", "heatmap.grammar"), "'heatmap' is already registered")]:
            try:
                tarvo.load_grammar(path=path)
                self.fail(path)
            except ValueError as e:
                self.assertIn(text, str(e))

    def test_a_broken_grammar_file_says_file_line_and_reason(self):
        d = tempfile.mkdtemp()
        path = os.path.join(d, "broken.grammar")
        with open(path, "w") as f:
            f.write("grammar broken\nsource none\nelement 0 a\n  first b/0\n  row 0 END\n")
        for p, text in [(path, path + ":4: unknown element 'b'"),
                        (os.path.join(d, "none.grammar"), os.path.join(d, "none.grammar") + ":0: cannot read")]:
            try:
                tarvo.load_grammar(p)
                self.fail(p)
            except ValueError as e:
                self.assertIn(text, str(e))
        os.remove(path)
        os.rmdir(d)
        self.assertNotIn("broken", tarvo.grammars())


if __name__ == "__main__":
    unittest.main()
