// A document's head as read for choosing its grammar, and the choice: by
// SYSTEM name, by root element, neither, or several; heads longer than a
// first read, and a grammar from an internal subset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>
#include <tuple>

#include "tarvo/detect.h"
#include "test_support.h"

namespace tarvo::testing {
namespace {

struct HeadCase { S what, bytes; bool doctype; S name, system, subset, root; };

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
        EXPECT_EQ(std::tie(h.has_doctype, h.doctype_name, h.system_id, h.internal_subset, h.root),
                  std::tie(c.doctype, c.name, c.system, c.subset, c.root)) << c.what;
        EXPECT_EQ(h.has_internal_subset, !c.subset.empty()) << c.what;
        // A file holding the same bytes reads the same.
        TempFile f(c.bytes);
        DocumentHead fh = read_document_head_file(f.path().c_str());
        EXPECT_EQ(fh.root, h.root) << c.what;
        EXPECT_EQ(fh.system_id, h.system_id) << c.what;
    }
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

// A host's reads, however small, and a file give the head that the bytes
// give, also a head longer than a first read; a read that fails is the
// head's os_error.
TEST(DocumentHead, ReadsThroughAHostsReadsOfAnySize) {
    const S subset = "<!ENTITY e \"" + S(20000, 'x') + "\">", big = "<!ENTITY e \"" + S(100000, 'x') + "\">";
    const struct { S doc, root, subset; } docs[] = {
        {xml("<!DOCTYPE d SYSTEM 'd.dtd' [" + subset + "]>\n<d>" + S(50000, ' ') + "</d>"), "d", subset},
        {"<!-- a" + S(9999, '-') + " -->\n<!DOCTYPE big [" + big + "]>\n<big>" + S(1 << 20, ' ') + "</big>", "big", big},
        {"<r/>", "r", ""}, {"", "", ""}, {"<!-- cut", "", ""},
    };
    for (const auto& [doc, root, internal_subset] : docs) {
        const DocumentHead whole = read_document_head(doc);
        EXPECT_EQ(std::tie(whole.root, whole.internal_subset), std::tie(root, internal_subset));
        TempFile file(doc);
        const DocumentHead from_file = read_document_head_file(file.path().c_str());
        EXPECT_EQ(std::tie(from_file.root, from_file.internal_subset), std::tie(root, internal_subset));
        for (size_t piece : {size_t(1), size_t(7), size_t(4096), size_t(1) << 20}) {
            size_t at = 0;
            DocumentHead h = read_document_head([&](char* buffer, size_t capacity) -> SourceRead {
                const size_t n = std::min({piece, capacity, doc.size() - at});
                std::copy_n(doc.data() + at, n, buffer);
                at += n;
                return {n, 0};
            });
            EXPECT_EQ(std::make_tuple(h.root, h.system_id, h.internal_subset, h.os_error),
                      std::make_tuple(root, whole.system_id, internal_subset, 0)) << piece;
            // The head is read, little after it, and not byte by byte over again.
            EXPECT_LE(at, std::max<size_t>(2 * (internal_subset.size() + 100), 4096)) << piece;
        }
    }
    EXPECT_NE(read_document_head_file("/nonexistent/doc.xml").os_error, 0);
    int calls = 0;
    DocumentHead failed = read_document_head([&](char* buffer, size_t) -> SourceRead {
        if (calls++) return {0, EIO};
        buffer[0] = '<';
        return {1, 0};
    });
    EXPECT_EQ(failed.os_error, EIO);
    EXPECT_EQ(read_document_head(Source::unreadable("fifo", ENXIO)).os_error, ENXIO);
    EXPECT_EQ(read_document_head(Source::bytes("<r/>")).root, "r");
}

// A grammar of one element, recipe, under `name`.
S recipe_grammar(const S& name) {
    return "grammar " + name + "\nsource t\n\nelement 0 recipe\n  first END\n  row 0 (none)\n";
}

TEST(GrammarFinder, ChoosesBySystemNameThenByRoot) {
    auto cookbook = load_grammar_text(recipe_grammar("cookbook")), menu = load_grammar_text(recipe_grammar("menu"));
    const SchemaTable* heatmap = find_grammar("heatmap");
    GrammarFinder finder({heatmap, cookbook.get(), menu.get()});
    struct Case { S what, head; const SchemaTable* grammar; S reason; } cases[] = {
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

// What a document is checked against when its head chooses: the grammar
// named, else the Result that stands for the check, for every kind of source.
TEST(GrammarFinder, ValidatesEachDocumentAgainstTheGrammarItsHeadNames) {
    GrammarFinder finder({find_grammar("dictionary"), find_grammar("heatmap")});
    const S dictionary = xml("<dictionary><translation><source>s</source><target>t</target></translation></dictionary>");
    TempFile valid(dictionary), invalid(xml("<!DOCTYPE x SYSTEM 'heatmap.dtd'><dictionary/>")), unnamed(xml("<x/>"));
    struct Case { S what; Source source; Status status; S errors; } cases[] = {
        {"by root", Source::file(valid.path()), Status::ok, ""},
        {"bytes by root", Source::bytes(dictionary, "mem"), Status::ok, ""},
        {"by SYSTEM, invalid against it", Source::file(invalid.path()), Status::invalid,
         S(validate(*find_grammar("heatmap"), Source::file(invalid.path())).errors())},
        {"no grammar", Source::file(unnamed.path()), Status::unreadable,
         "No grammar found for " + unnamed.path() + ": no grammar has root element 'x'"},
        {"no file", Source::file("/nonexistent/d.xml"), Status::unreadable,
         S(unreadable_result("/nonexistent/d.xml", ENOENT).errors())},
        {"unreadable", Source::unreadable("fifo", ENXIO), Status::unreadable,
         S(unreadable_result("fifo", ENXIO).errors())},
    };
    for (const Case& c : cases) {
        Result r = validate_detected(finder, c.source);
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.errors(), c.errors) << c.what;
        Result outcome;
        const SchemaTable* g = choose_grammar(finder, read_document_head(c.source), c.source.name(), outcome);
        EXPECT_EQ(g == nullptr, c.status == Status::unreadable) << c.what;
        if (!g) {
            EXPECT_EQ(outcome.errors(), c.errors) << c.what;
        }
    }
    // A host's source is read once, in whatever pieces it gives: the bytes
    // read for the head are parsed again from memory, and after them, past
    // what is held whole, the reads that follow, up to a read that fails.
    const S bad_tail = "<dictionary><translation><source>s</source><bogus/></translation></dictionary>";
    const S long_head = xml("<!-- " + S(9000, '-').replace(0, 1, "a") + " -->" + bad_tail);
    const S past_memory = xml("<dictionary>" + S(3 << 19, ' ') + bad_tail.substr(12));
    const size_t never = S::npos;
    struct Piecewise { S what, doc; size_t piece, fail_at; } sources[] = {
        {"short", dictionary, 3, never}, {"long head", long_head, 3, never}, {"no grammar", xml("<x/>"), 3, never},
        {"larger than memory", past_memory, 65536, never}, {"failing in the head", dictionary, 3, 10},
        {"failing after the head", past_memory, 65536, 5000}, {"failing past memory", past_memory, 65536, 3 << 18},
    };
    for (const Piecewise& c : sources) {
        auto reader = [&c](size_t& at, size_t& reads_after_end) {
            return [&c, &at, &reads_after_end](char* buffer, size_t capacity) -> SourceRead {
                if (at >= c.fail_at) return {0, EIO};
                const size_t n = std::min({c.piece, capacity, c.doc.size() - at, c.fail_at - at});
                std::copy_n(c.doc.data() + at, n, buffer);
                at += n;
                reads_after_end += n == 0;
                return {n, 0};
            };
        };
        size_t at = 0, reads_after_end = 0, fresh_at = 0, unused = 0;
        Result r = validate_detected(finder, reader(at, reads_after_end), "host", Options{});
        S expected = S(validate_detected(finder, Source::bytes(c.doc, "host")).errors());
        if (c.fail_at < 100) {
            expected = S(unreadable_result("host", EIO).errors());
        } else if (c.fail_at != never) {
            expected = S(parse_source(*find_grammar("dictionary"), reader(fresh_at, unused), "host", nullptr).errors());
        }
        EXPECT_EQ(r.errors(), expected) << c.what;
        EXPECT_EQ(at, std::min(c.doc.size(), c.fail_at)) << c.what;
        EXPECT_LE(reads_after_end, 2u) << c.what;
    }
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
