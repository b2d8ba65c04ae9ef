// Grammars loaded from their files at run time must be the built-in tables
// exactly, and read the examples exactly as the built-in ones do; grammar
// files are untrusted input: any number of names, names chosen to collide,
// names no document could contain.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "grammar/layout.h"
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

// The refusal of the grammar file at `path`: its one message, which is also what() says.
S refusal_of(const S& path) {
    try {
        load_grammar(path);
    } catch (const GrammarError& e) {
        const bool one = e.messages().size() == 1 && e.messages()[0] == e.what();
        return (one ? "" : "(not one message) ") + S(e.what());
    }
    return "(accepted)";
}

TEST(LoadedGrammar, BrokenFilesAreRefusedWithFileLineAndReason) {
    const S dir = (kSource / "tests/grammarc").string(), duplicate = dir + "/duplicate_element.grammar";
    EXPECT_EQ(refusal_of(duplicate), duplicate + ":10: duplicate element name 'Item' (also at line 7)");
    EXPECT_EQ(refusal_of(dir + "/no_such.grammar"),
              dir + "/no_such.grammar:0: cannot read grammar file: No such file or directory");
    EXPECT_EQ(refusal_of(dir), dir + ":0: cannot read grammar file: Is a directory");
}

// Registered under its own name, once; unregistering frees the name, hands
// the tables to the caller (a pointer found before stays valid while they
// are held) and leaves built-in grammars where they are.
TEST(LoadedGrammar, RegisteredUnderItsOwnNameOnceUntilUnregistered) {
    const S text = "grammar notes_for_test\nsource none\nelement 0 note\n  first TEXT/0\n  row 0 (none)\ntext 0 END\n";
    const SchemaTable* first = &register_grammar(load_grammar_text(text));
    EXPECT_EQ(find_grammar("notes_for_test"), first);
    EXPECT_EQ(all_grammars().back(), first);
    EXPECT_THROW(register_grammar(load_grammar_text(text)), std::invalid_argument);
    auto heatmap = load_grammar((kSource / "src/schemas/heatmap.grammar").string());
    EXPECT_THROW(register_grammar(heatmap), std::invalid_argument);
    std::shared_ptr<const SchemaTable> held = unregister_grammar("notes_for_test");
    ASSERT_EQ(held.get(), first);
    EXPECT_EQ(find_grammar("notes_for_test"), nullptr);
    for (const SchemaTable* g : all_grammars()) EXPECT_NE(g, first);
    EXPECT_EQ(grammar_name(*first), "notes_for_test");
    EXPECT_EQ(unregister_grammar("notes_for_test"), nullptr);
    const SchemaTable& second = register_grammar(load_grammar_text(text));
    EXPECT_EQ(find_grammar("notes_for_test"), &second);
    EXPECT_TRUE(unregister_grammar("notes_for_test"));
    EXPECT_THROW(unregister_grammar("heatmap"), std::invalid_argument);
    EXPECT_NE(find_grammar("heatmap"), nullptr);
}

S counter(const char* prefix, int i, const char* suffix = "") {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%06d%s", prefix, i, suffix);
    return buf;
}

// Fourteen bytes, all with the same length and first and last four bytes:
// one slot for them all under the cheap hash.
S crafted(int i) {
    S s = "Cxyz??????zyxC";
    for (size_t at = 4; at < 10; ++at, i /= 26) s[at] = static_cast<char>('a' + i % 26);
    return s;
}

const S kHeader = "grammar many\nsource none\n";

// An index must keep every lookup short: a bounded run of filled slots
// (what a name not there walks at most), and a keyed hash where the cheap
// one would not give that.
void expect_short_runs(const NameIndex& index, bool expect_keyed, const S& what) {
    ASSERT_TRUE(index.slots) << what;
    EXPECT_EQ(index.keyed != 0, expect_keyed) << what;
    const uint32_t bound = index.keyed ? grammar_file::keyed_run_bound(size_t{index.mask} + 1) : grammar_file::kCheapRunBound;
    EXPECT_LE(grammar_file::longest_run(index), bound) << what;
}

TEST(LoadedGrammar, ManyNamesAreAllFoundAndNoOtherIs) {
    struct Case {
        const char* what;
        std::function<S(int)> name;
        bool keyed;  // whether the cheap hash must have been given up
    } cases[] = {
        {"short counter", [](int i) { return counter("e", i); }, false},
        // Only three of the digits and the length reach the cheap hash.
        {"long counter", [](int i) { return counter("Item", i, "x"); }, true},
        {"crafted", crafted, true},
    };
    for (const Case& c : cases) {
        // 40,000 elements; one element with 20,000 attributes, one attribute
        // with 20,000 values: more than 16-bit slots could number.
        S text = kHeader + "element 0 Wide\n  first END\n  row 0 END\n";
        for (int i = 0; i < 20000; ++i) text += "  attr " + c.name(i) + " default \"\"\n";
        text += "  attr listed default \"\" values";
        for (int i = 0; i < 20000; ++i) text += " \"" + c.name(i) + "\"";
        text += "\n";
        for (int i = 1; i < 40000; ++i) text += "element " + std::to_string(i) + " " + c.name(i) + "\n  first END\n  row 0 END\n";
        auto g = load_grammar_text(text);
        ASSERT_EQ(g->element_count, 40000) << c.what;
        const ElementRule& wide = g->elements[0];
        const AttributeRule& listed = wide.attributes[20000];
        expect_short_runs(g->name_index, c.keyed, S(c.what) + " elements");
        expect_short_runs(wide.attribute_index, c.keyed, S(c.what) + " attributes");
        expect_short_runs(listed.value_index, c.keyed, S(c.what) + " values");
        // Each name where it is, and more of the same kind where they are not.
        for (int i = 0; i < 60000; ++i) {
            const S name = c.name(i);
            ASSERT_EQ(find_element(*g, name), i > 0 && i < 40000 ? i : -1) << c.what << " " << name;
            ASSERT_EQ(find_attribute_rule(wide, name), i < 20000 ? i : -1) << c.what << " " << name;
            ASSERT_EQ(is_allowed_value(listed, name), i < 20000) << c.what << " " << name;
        }
        for (const S& near : {c.name(7) + "x", c.name(7).substr(1), S(""), S("Wide ")})
            EXPECT_EQ(find_element(*g, near), -1) << c.what << " '" << near << "'";
        // The reader finds them too.
        EXPECT_TRUE(parse_buffer(*g, xml("<" + c.name(39999) + "/>"), "doc", nullptr).ok()) << c.what;
        const S wide_tag = "<Wide " + c.name(19999) + "=\"a\" listed=\"" + c.name(5) + "\" " + c.name(3) + "=\"b\"/>";
        EXPECT_TRUE(parse_buffer(*g, xml(wide_tag), "doc", nullptr).ok()) << c.what;
        EXPECT_FALSE(parse_buffer(*g, xml("<" + c.name(40000) + "/>"), "doc", nullptr).ok()) << c.what;
    }
}

// The grammar file holding `text` (at `path`), refused with `refusal_of()`.
S refusal(const S& text, S& path) {
    TempFile file(text, "broken.grammar");
    path = file.path();
    return refusal_of(path);
}

TEST(LoadedGrammar, RepeatsInLongListsAreReportedAtTheirLine) {
    const int n = 30000;
    S attributes = kHeader + "element 0 E\n  first END\n  row 0 END\n";
    for (int i = 0; i < n; ++i) attributes += "  attr " + counter("a", i) + " required\n";
    S values = kHeader + "element 0 E\n  first END\n  row 0 END\n  attr v required values";
    S elements = kHeader, list = kHeader + "element 0 E\n  first";
    for (int i = 0; i < n; ++i) {
        values += " \"" + counter("v", i) + "\"";
        elements += "element " + std::to_string(i) + " " + counter("e", i) + "\n  first END\n  row 0 END\n";
        list.append(" ").append(counter("e", i)).append("/0");
    }
    list += " e000000/0\n  row 0 END\n";
    for (int i = 0; i < n; ++i) list += "element " + std::to_string(i + 1) + " " + counter("e", i) + "\n  first END\n  row 0 END\n";
    struct Case { S text, message; } cases[] = {
        {attributes + "  attr a000000 required\n", ":" + std::to_string(n + 6) + ": duplicate attribute 'a000000' in 'E' (also at line 6)"},
        {values + " \"v000000\"\n", ":6: attribute 'v' lists value \"v000000\" twice"},
        {elements + "element " + std::to_string(n) + " e000000\n  first END\n  row 0 END\n",
         ":" + std::to_string(3 * n + 3) + ": duplicate element name 'e000000' (also at line 3)"},
        {list, ":4: element 'e000000' occurs twice in one list"},
    };
    for (const Case& c : cases) {
        S path;
        S got = refusal(c.text, path);
        EXPECT_EQ(got, path + c.message);
    }
}

TEST(LoadedGrammar, NamesNoDocumentCouldContainAreRefused) {
    const S element_rule =
        "an element name is made of ASCII letters, digits and ':', or is an XML name (read in the XML mode)";
    const S attribute_rule = "an attribute name is an ASCII letter followed by ASCII letters, digits and '_', or an "
                             "XML name (read in the XML mode)";
    struct Case {
        S element, attribute, message;  // message "": accepted
    } cases[] = {
        {"a<b>&c", "id", ":3: element name 'a<b>&c' cannot occur in a document: " + element_rule},
        {"x>", "id", ":3: element name 'x>' cannot occur in a document: " + element_rule},
        {"p%ent;", "id", ":3: element name 'p%ent;' cannot occur in a document: " + element_rule},
        {"\x01" "ctl", "id", ":3: element name '\\x01ctl' cannot occur in a document: " + element_rule},
        {"bad\xff\\", "id", ":3: element name 'bad\\xff\\x5c' cannot occur in a document: " + element_rule},
        {"E", "1st", ":6: attribute name '1st' cannot occur in a document: " + attribute_rule},
        {"E", "on\x7f", ":6: attribute name 'on\\x7f' cannot occur in a document: " + attribute_rule},
        {"ns:el", "a_b", ""},
        {"my-el", "data-id", ""},  // XML names: read in the XML mode
        {"caf\xc3\xa9", "_x", ""},
        {"E", "a:b", ""},
        {"9lives", "Z9", ""},
        {":", "x", ""},
    };
    for (const Case& c : cases) {
        const S text = kHeader + "element 0 " + c.element + "\n  first END\n  row 0 END\n  attr " + c.attribute +
                       " default \"any <value> & \\\" is fine\" values \"a-b\" \"any <value> & \\\" is fine\"\n";
        S path;
        S got = refusal(text, path);
        EXPECT_EQ(got, c.message.empty() ? S("(accepted)") : path + c.message) << c.element << " " << c.attribute;
        if (c.message.empty()) {  // and the reader reads them
            const S doc = xml("<" + c.element + " " + c.attribute + "=\"a-b\"/>");
            std::shared_ptr<const SchemaTable> g = load_grammar_text(text);
            EXPECT_TRUE(parse_buffer(*g, doc, "doc", nullptr).ok() || parse_buffer(*g, doc, "doc", nullptr, Flags::xml).ok())
                << c.element;
        }
    }
}

}  // namespace
}  // namespace tarvo::testing
