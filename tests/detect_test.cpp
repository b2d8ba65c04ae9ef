// A document's head as read for choosing its grammar, and the choice: by
// SYSTEM name, by root element, neither, or several; heads longer than a
// first read, and a grammar from an internal subset.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>

#include "tarvo/detect.h"
#include "test_support.h"

namespace tarvo::testing {
namespace {

struct HeadCase {
    S what, bytes;
    bool doctype;
    S name, system, subset, root;
};

TEST(DocumentHead, ReadsTheDoctypeAndTheRootOfEitherForm) {
    const HeadCase cases[] = {
        {"declaration and root", xml("<r a='1'>"), false, "", "", "", "r"},
        {"empty root", "<r/>", false, "", "", "", "r"},
        {"root at the end of the bytes", "<?xml version='1.0'?><root", false, "", "", "", "root"},
        {"tarvo's one declaration", xml("<!DOCTYPE d SYSTEM \"d.dtd\">\n<d>"), true, "d", "d.dtd", "", "d"},
        {"PUBLIC", "<!DOCTYPE d PUBLIC 'p' 'http://x/y/d.dtd'><d>", true, "d", "http://x/y/d.dtd", "", "d"},
        {"byte-order mark, comments, PIs", "\xEF\xBB\xBF<!-- <x> --><?pi <y>?>\n<!DOCTYPE d><!-- --><e>", true, "d",
         "", "", "e"},
        {"internal subset holding ']' and '>'", "<!DOCTYPE d [<!ENTITY e \"]>\"><!-- ] --><?p ]?>]><d>", true, "d",
         "", "<!ENTITY e \"]>\"><!-- ] --><?p ]?>", "d"},
        {"nothing", "", false, "", "", "", ""},
        {"text first", "text<r>", false, "", "", "", ""},
        {"cut inside the DOCTYPE", "<!DOCTYPE d SYSTEM \"d.dt", true, "d", "", "", ""},
        {"cut inside a comment", "<!-- <r>", false, "", "", "", ""},
    };
    for (const HeadCase& c : cases) {
        DocumentHead h = read_document_head(c.bytes);
        EXPECT_EQ(h.has_doctype, c.doctype) << c.what;
        EXPECT_EQ(h.doctype_name, c.name) << c.what;
        EXPECT_EQ(h.system_id, c.system) << c.what;
        EXPECT_EQ(h.internal_subset, c.subset) << c.what;
        EXPECT_EQ(h.has_internal_subset, !c.subset.empty()) << c.what;
        EXPECT_EQ(h.root, c.root) << c.what;
        // A file holding the same bytes reads the same.
        TempFile f(c.bytes);
        DocumentHead fh = read_document_head_file(f.path().c_str());
        EXPECT_EQ(fh.root, h.root) << c.what;
        EXPECT_EQ(fh.system_id, h.system_id) << c.what;
    }
}

TEST(DocumentHead, AHeadLongerThanAReadIsReadWholeAndNothingAfterIt) {
    const S subset = "<!ENTITY e \"" + S(100000, 'x') + "\">";
    TempFile f("<!-- " + S(10000, '-').replace(0, 1, "a") + " -->\n<!DOCTYPE big [" + subset + "]>\n<big>" +
               S(1 << 20, ' ') + "</big>");
    DocumentHead h = read_document_head_file(f.path().c_str());
    EXPECT_EQ(h.internal_subset, subset);
    EXPECT_EQ(h.root, "big");
    EXPECT_NE(read_document_head_file("/nonexistent/doc.xml").os_error, 0);
}

// Heads made of the pieces a head reader looks for, in any order and cut
// anywhere: no input stops it, and a file reads as the same bytes in memory.
TEST(DocumentHead, AnyMixOfItsPiecesReadsWithoutFault) {
    const char* const pieces[] = {"<", "<!", "<!DOCTYPE", "<!--", "-->", "<?", "?>", " ", "[", "]", ">", "\"",
                                  "'", "SYSTEM", "PUBLIC", "r", "/", "\xEF\xBB\xBF", "x.dtd", "<!ENTITY", "\t"};
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 3000; ++round) {
        S bytes;
        for (uint32_t k = next() % 24; k > 0; --k) bytes += pieces[next() % std::size(pieces)];
        DocumentHead h = read_document_head(bytes);
        EXPECT_LE(h.root.size() + h.internal_subset.size() + h.system_id.size(), bytes.size()) << bytes;
        if (round % 100 == 0) {
            TempFile f(bytes);
            EXPECT_EQ(read_document_head_file(f.path().c_str()).root, h.root) << bytes;
        }
    }
}

// A grammar of one element, recipe, under `name`.
S recipe_grammar(const S& name) {
    return "grammar " + name + "\nsource t\n\nelement 0 recipe\n  first END\n  row 0 (none)\n";
}

TEST(GrammarFinder, ChoosesBySystemNameThenByRoot) {
    TempFile a(recipe_grammar("cookbook"), "a.grammar"), b(recipe_grammar("menu"), "b.grammar");
    auto cookbook = load_grammar(a.path()), menu = load_grammar(b.path());
    const SchemaTable* heatmap = find_grammar("heatmap");
    GrammarFinder finder({heatmap, cookbook.get(), menu.get()});
    struct Case {
        S what, head;
        const SchemaTable* grammar;
        S reason;
    } cases[] = {
        {"SYSTEM", "<!DOCTYPE recipe SYSTEM 'menu.dtd'><recipe>", menu.get(), "DOCTYPE SYSTEM 'menu.dtd'"},
        {"SYSTEM's last segment", "<!DOCTYPE x SYSTEM 'file:///a/b\\cookbook.dtd'><x>", cookbook.get(),
         "DOCTYPE SYSTEM 'file:///a/b\\cookbook.dtd'"},
        {"root", "<Heatmap>", heatmap, "root element 'Heatmap'"},
        {"unknown SYSTEM, root", "<!DOCTYPE Heatmap SYSTEM 'x.dtd'><Heatmap>", heatmap, "root element 'Heatmap'"},
        {"DOCTYPE name when no root is reached", "<!DOCTYPE Heatmap>", heatmap, "root element 'Heatmap'"},
        {"a root of two grammars", "<recipe>", nullptr,
         "root element 'recipe' is a root of several grammars (cookbook, menu); its DOCTYPE's SYSTEM name chooses "
         "one"},
        {"no such root", "<!DOCTYPE r SYSTEM 'r.dtd'><r>", nullptr,
         "its DOCTYPE names SYSTEM 'r.dtd', which is no grammar's (see 'tarvo grammars'), and no grammar has root "
         "element 'r'"},
        {"nothing", "", nullptr, "no DOCTYPE and no root element was found at its start"},
    };
    for (const Case& c : cases) {
        GrammarChoice g = finder.find(read_document_head(c.head));
        EXPECT_EQ(g.grammar, c.grammar) << c.what;
        EXPECT_EQ(g.reason, c.reason) << c.what;
    }
    // All registered grammars by default.
    EXPECT_EQ(detect_grammar("<!DOCTYPE d SYSTEM \"dictionary.dtd\"><d>").grammar, find_grammar("dictionary"));
    Result r = no_grammar_result("f.xml", "why");
    ASSERT_EQ(r.diagnostics().size(), 1u);
    EXPECT_EQ(r.status, Status::unreadable);
    EXPECT_EQ(r.diagnostics()[0].code, "no-grammar");
    EXPECT_EQ(r.errors(), "No grammar found for f.xml: why");
}

TEST(GrammarFinder, AnInternalSubsetThatDeclaresElementsIsAGrammar) {
    DocumentHead h = read_document_head("<!DOCTYPE r [<!ENTITY e 'x'><!ELEMENT r (a*)><!ELEMENT a EMPTY>]><r>");
    std::vector<S> loosened;
    auto g = internal_subset_grammar(h, "doc.xml", &loosened);
    ASSERT_TRUE(g);
    EXPECT_EQ(grammar_name(*g), "r");
    EXPECT_EQ(parse_buffer(*g, "<r><a/></r>", "doc.xml", nullptr, Flags::xml).errors(), "");
    EXPECT_FALSE(parse_buffer(*g, "<r><b/></r>", "doc.xml", nullptr, Flags::xml).ok());
    EXPECT_FALSE(internal_subset_grammar(read_document_head("<!DOCTYPE r [<!ENTITY e 'x'>]><r>"), "d"));
    EXPECT_FALSE(internal_subset_grammar(read_document_head("<r>"), "d"));
    try {
        internal_subset_grammar(read_document_head("<!DOCTYPE r [\n<!ELEMENT r (a?, a)>]><r>"), "d.xml");
        FAIL() << "accepted";
    } catch (const GrammarError& e) {
        EXPECT_EQ(e.messages().at(0),
                  "d.xml (internal subset):2: the content model of 'r' is not deterministic: 'a' may stand at two "
                  "places at its start");
    }
}

}  // namespace
}  // namespace tarvo::testing
