// Grammars loaded from their files at run time must be the built-in tables
// exactly, and read the examples exactly as the built-in ones do.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "test_support.h"

namespace tarvo::testing {
namespace {

namespace fs = std::filesystem;
const fs::path kSource = TARVO_SOURCE_DIR;

S list_text(const ContentPosition* p, int32_t n) {
    S out;
    for (int32_t i = 0; i < n; ++i) out += std::to_string(p[i].element) + "/" + std::to_string(p[i].context) + " ";
    return out;
}

// Every field a parse reads, written out; equal texts mean equal tables.
S index_text(const NameIndex& index) {
    if (!index.slots) return " -";
    S out = " " + std::to_string(index.mask) + (index.keyed ? " keyed:" : ":");
    for (uint32_t s = 0; s <= index.mask; ++s)
        out += (index.slots[s] == kEmptySlot ? S("-") : std::to_string(index.slots[s])) + ",";
    return out;
}

S dump(const SchemaTable& t) {
    S out = S(t.name) + "|" + t.source_path + "|" + index_text(t.name_index);
    for (int32_t e = 0; e < t.element_count; ++e) {
        const ElementRule& r = t.elements[e];
        out += "\n" + S(r.name, r.name_length) + " " + std::to_string(r.index) + " first " + list_text(r.first, r.first_count);
        for (int32_t k = 0; k < r.row_count; ++k)
            out += "| row " + std::to_string(r.rows[k].own.element) + "/" + std::to_string(r.rows[k].own.context) +
                   ": " + list_text(r.rows[k].successors, r.rows[k].count);
        out += "| attribute slots" + index_text(r.attribute_index);
        for (int32_t a = 0; a < r.attribute_count; ++a) {
            const AttributeRule& ar = r.attributes[a];
            out += "| @" + S(ar.name, ar.name_length) + " b" + std::to_string(ar.bucket) +
                   (ar.default_value ? " =" + S(ar.default_value, ar.default_length) : S(" required"));
            for (int32_t v = 0; v < ar.allowed_count; ++v) out += " '" + S(ar.allowed[v], ar.allowed_lengths[v]) + "'";
            out += index_text(ar.value_index);
        }
    }
    for (int32_t k = 0; k < t.text_row_count; ++k)
        out += "\ntext " + std::to_string(t.text_rows[k].own.context) + ": " +
               list_text(t.text_rows[k].successors, t.text_rows[k].count);
    return out;
}

S outcome(const Result& r, const Lines& events) {
    S out = std::to_string(static_cast<int>(r.status)) + "\n" + S(r.warnings()) + "\n" + S(r.errors()) + "\n";
    for (const S& e : events) out += e + "\n";
    return out;
}

TEST(LoadedGrammar, EveryGrammarFileGivesTheBuiltInTablesAndResults) {
    int grammars_seen = 0, documents = 0;
    for (const SchemaTable* builtin : grammars()) {
        GrammarInfo info = grammar_info(*builtin);
        std::shared_ptr<const SchemaTable> loaded = load_grammar((kSource / info.grammar_file).string());
        EXPECT_EQ(dump(*loaded), dump(*builtin)) << info.grammar_file;
        ++grammars_seen;
        for (const auto& entry : fs::directory_iterator(kSource / "examples" / info.name)) {
            for (Flags flags : {Flags::strict, Flags::ignore_wrong_attributes | Flags::ignore_unknown_attributes |
                                                Flags::ignore_wrong_elements}) {
                Recorder a, b;
                Result ra = parse_file(*builtin, entry.path().c_str(), &a, flags);
                Result rb = parse_file(*loaded, entry.path().c_str(), &b, flags);
                EXPECT_EQ(outcome(rb, b.events), outcome(ra, a.events)) << entry.path();
            }
            ++documents;
        }
    }
    EXPECT_EQ(grammars_seen, 12);
    EXPECT_GE(documents, 12);
}

TEST(LoadedGrammar, WorksWithTheStreamReader) {
    auto g = load_grammar((kSource / "src/schemas/heatmap.grammar").string());
    S docs = "<Heatmap><Element model_file=\"m\" id=\"i\" value=\"1\"/></Heatmap> <Heatmap><Colors/></Heatmap>";
    size_t at = 0;
    StreamReader reader([&](char* buf, size_t cap) {
        size_t n = std::min(cap, docs.size() - at);
        docs.copy(buf, n, at);
        at += n;
        return n;
    });
    Result r = reader.read(*g, nullptr, Flags::strict, true);
    EXPECT_TRUE(r.ok()) << r.errors();
    EXPECT_TRUE(reader.at_end());
}

TEST(LoadedGrammar, BrokenFilesAreRefusedWithFileLineAndReason) {
    const S dir = (kSource / "tests/grammarc").string();
    struct Case {
        S file, message;
    } cases[] = {
        {dir + "/duplicate_element.grammar", dir + "/duplicate_element.grammar:10: duplicate element name 'Item' (also at line 7)"},
        {dir + "/no_such.grammar", dir + "/no_such.grammar:0: cannot read grammar file: No such file or directory"},
        {dir, dir + ":0: cannot read grammar file: Is a directory"},
    };
    for (const Case& c : cases) {
        try {
            load_grammar(c.file);
            ADD_FAILURE() << c.file << " was accepted";
        } catch (const GrammarError& e) {
            EXPECT_EQ(S(e.what()), c.message);
            EXPECT_EQ(e.messages().size(), 1u);
        }
    }
}

TEST(LoadedGrammar, RegisteredUnderItsOwnNameOnce) {
    TempFile file("grammar notes_for_test\nsource none\nelement 0 note\n  first TEXT/0\n  row 0 (none)\ntext 0 END\n",
                  "notes.grammar");
    const SchemaTable& g = register_grammar(load_grammar(file.path()));
    EXPECT_EQ(find_grammar("notes_for_test"), &g);
    EXPECT_EQ(all_grammars().back(), &g);
    EXPECT_THROW(register_grammar(load_grammar(file.path())), std::invalid_argument);
    auto heatmap = load_grammar((kSource / "src/schemas/heatmap.grammar").string());
    EXPECT_THROW(register_grammar(heatmap), std::invalid_argument);
}

}  // namespace
}  // namespace tarvo::testing

namespace tarvo::testing {
namespace {

// Where a schema language cannot say a rule, the export must say so.
TEST(GrammarExport, NamesEveryPlaceItLoosens) {
    TempFile file(
        "grammar loose\nsource none\n"
        "element 0 p\n  first TEXT/0\n  row 0 (none)\n  attr kind default \"x y\" values \"x y\" \"z\"\n"
        "element 1 b\n  first END\n  row 0 END\n  attr on default \"-\" values \"yes\" \"no\"\n"
        "text 0 b/0 END\n",
        "loose.grammar");
    GrammarInfo g = grammar_info(*load_grammar(file.path()));
    EXPECT_EQ(export_rng(g).loosened, Lines{"element p: text that must stand at some place here may be left out"});
    EXPECT_EQ(export_dtd(g).loosened,
              (Lines{"element p: text and child elements may stand in any order and number",
                     "attribute kind of p: its values are not all name tokens, so any value is accepted"}));
    const S dtd = export_dtd(g).text;
    EXPECT_NE(dtd.find("<!ELEMENT p (#PCDATA | b)*>"), S::npos) << dtd;
    EXPECT_NE(dtd.find("on (yes | no) #IMPLIED"), S::npos) << dtd;  // "-" may not be written, only supplied
    for (const SchemaTable* t : grammars()) {
        GrammarInfo builtin = grammar_info(*t);
        EXPECT_TRUE(export_rng(builtin).loosened.empty()) << builtin.name;
        EXPECT_TRUE(export_dtd(builtin).loosened.empty()) << builtin.name;
    }
}

}  // namespace
}  // namespace tarvo::testing
