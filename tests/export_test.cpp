// The export and the description of grammars made to be costly, or to hold
// names and values XML cannot: they finish within their budget, exact where
// they can be, and say where they are not.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "test_support.h"

namespace tarvo::testing {
namespace {

using Items = std::vector<ContentItem>;
ContentItem child(int e, int c = 0) { return {ContentItem::kElement, e, c}; }
const ContentItem kEnd{ContentItem::kEnd, -1, -1};
Items end_only(int) { return {kEnd}; }

// Elements named by `name(i)`, one row each; `first(i)` and `row(i)` give
// their lists.
GrammarInfo grammar_of(int n, const std::function<S(int)>& name, const std::function<Items(int)>& first,
                       const std::function<Items(int)>& row) {
    GrammarInfo g;
    g.name = "made";
    g.system_name = "made.dtd";
    for (int i = 0; i < n; ++i) {
        ElementInfo e;
        e.name = name(i);
        e.first = first(i);
        e.rows = {row(i)};
        g.elements.push_back(e);
    }
    return g;
}

// root, then children c0 .. c(n-1) standing in a row (`sequence`), or any
// one of them (`choice`).
GrammarInfo children(int n, bool sequence) {
    return grammar_of(
        n + 1, [](int i) { return i ? "c" + std::to_string(i - 1) : S("root"); },
        [&](int i) {
            Items l;
            if (i == 0 && sequence) l.push_back(child(1));
            for (int c = 1; i == 0 && !sequence && c <= n; ++c) l.push_back(child(c));
            if (i > 0) l.push_back(kEnd);
            return l;
        },
        [&](int i) { return sequence && i > 0 && i < n ? Items{child(i + 1)} : Items{kEnd}; });
}

// n elements any of which may follow any other; with `distinct`, element i
// may not come first inside itself, so that no two contents are the same.
GrammarInfo dense(int n, bool distinct) {
    auto all = [n](int except) {
        Items l;
        for (int e = 0; e < n; ++e)
            if (e != except) l.push_back(child(e));
        l.push_back(kEnd);
        return l;
    };
    return grammar_of(
        n, [](int i) { return "e" + std::to_string(i); }, [&](int i) { return all(distinct ? i : -1); },
        [&](int) { return all(-1); });
}

S joined(int n, const S& prefix, const S& separator) {
    S out;
    for (int i = 0; i < n; ++i) out += (i ? separator : "") + prefix + std::to_string(i);
    return out;
}

TEST(GrammarExport, LargeContentModelsComeOutExact) {
    struct Case {
        S what;
        GrammarInfo g;
        S model;  // of root, or of every element
    } cases[] = {
        {"a sequence of 3000", children(3000, true), "<!ELEMENT root (" + joined(3000, "c", ", ") + ")>"},
        {"a choice of 3000", children(3000, false), "<!ELEMENT root (" + joined(3000, "c", " | ") + ")>"},
        {"400 that may follow each other", dense(400, false), "<!ELEMENT e7 ((" + joined(400, "e", " | ") + ")*)>"},
    };
    for (const Case& c : cases) {
        Export rng = export_rng(c.g), dtd = export_dtd(c.g);
        EXPECT_EQ(rng.loosened, Lines{}) << c.what;
        EXPECT_EQ(dtd.loosened, Lines{}) << c.what;
        EXPECT_NE(dtd.text.find(c.model + "\n"), S::npos) << c.what;
    }
}

TEST(GrammarExport, PastItsBudgetSaysSoForEachElement) {
    // 150 contents of 150 states each: more than the budget holds.
    const GrammarInfo g = dense(150, true);
    for (const Export& x : {export_rng(g), export_dtd(g)}) {
        ASSERT_FALSE(x.loosened.empty());
        EXPECT_LT(x.loosened.size(), 150u);  // the first ones are done exactly
        for (const S& l : x.loosened) EXPECT_NE(l.find(": the content model is too large to "), S::npos) << l;
        EXPECT_NE(x.text.find("loosened: the content model is too large to work out"), S::npos);
    }
    EXPECT_NE(export_dtd(g).text.find("<!ELEMENT e149 ANY>"), S::npos);
    EXPECT_NE(export_rng(g).text.find("<define name=\"tarvo.any\">"), S::npos);
}

// One element holding one other whose name is `name`: written as it is
// where the format can hold it, left out and listed where it cannot.
TEST(GrammarExport, NamesAFormatCannotHoldAreLeftOutAndListed) {
    struct Case {
        S name;
        bool rng, dtd;  // the format can hold it
        S listed;       // as the list shows it
    } cases[] = {
        {"a<b>&c", false, false, "a<b>&c"},
        {"x>", false, false, "x>"},
        {"p%ent;", false, false, "p%ent;"},
        {"1st", false, false, "1st"},
        {"", false, false, ""},
        {"a:b", false, true, "a:b"},
        {"\x01" "a", false, false, "\\x01a"},
        {"\xff", false, false, "\\xFF"},
        {"a\tb", false, false, "a\\x09b"},
        {"caf\xc3\xa9", true, true, "caf\xc3\xa9"},
        {"x.y-z_1", true, true, "x.y-z_1"},
    };
    for (const Case& c : cases) {
        GrammarInfo g = grammar_of(
            2, [&](int i) { return i ? c.name : S("p"); }, [](int i) { return i ? Items{kEnd} : Items{child(1)}; },
            end_only);
        Export rng = export_rng(g), dtd = export_dtd(g);
        EXPECT_EQ(rng.text.find("<element name=\"" + c.name + "\">") != S::npos, c.rng) << c.listed;
        EXPECT_EQ(dtd.text.find("<!ELEMENT " + c.name + " EMPTY>") != S::npos, c.dtd) << c.listed;
        for (const auto& [x, holds] : {std::pair{&rng, c.rng}, std::pair{&dtd, c.dtd}}) {
            if (holds) {
                EXPECT_EQ(x->loosened, Lines{}) << c.listed;
                continue;
            }
            // p requires the element: no content of p is valid any more,
            // which RELAX NG can say and a DTD cannot.
            ASSERT_EQ(x->loosened.size(), x == &rng ? 1u : 2u) << c.listed;
            EXPECT_EQ(x->loosened.back().rfind("element " + c.listed + ": its name ", 0), 0u) << x->loosened.back();
        }
        if (!c.rng) {
            EXPECT_NE(rng.text.find("<element name=\"p\">\n      <!-- no content is valid here"), S::npos);
        }
        if (!c.dtd) {
            EXPECT_NE(dtd.text.find("<!ELEMENT p EMPTY>"), S::npos) << c.listed;
            EXPECT_EQ(dtd.loosened[0].rfind("element p: no content is valid here", 0), 0u) << dtd.loosened[0];
        }
    }
}

TEST(GrammarExport, AttributesAndValuesAFormatCannotHold) {
    auto with = [](std::vector<AttributeInfo> attributes) {
        GrammarInfo g = grammar_of(1, [](int) { return S("e"); }, end_only, end_only);
        g.elements[0].attributes = std::move(attributes);
        return g;
    };
    // A required attribute no document can hold: no valid e.
    GrammarInfo g = with({{"a<b", true, "", {}}});
    EXPECT_NE(export_rng(g).text.find("  <define name=\"el.e\">\n    <!-- left out: attribute a<b: "), S::npos);
    EXPECT_NE(export_rng(g).text.find("<notAllowed/>\n  </define>"), S::npos);
    EXPECT_EQ(export_rng(g).loosened.size(), 1u);
    EXPECT_EQ(export_dtd(g).text.find("ATTLIST"), S::npos);
    EXPECT_EQ(export_dtd(g).loosened.size(), 1u);
    // Values and defaults: left out where they cannot be written, escaped
    // where they can.
    g = with({{"kind", false, "x\x01", {"ok", "no\x01"}}, {"tab", false, "x\ty", {}}});
    const S rng = export_rng(g).text, dtd = export_dtd(g).text;
    EXPECT_NE(rng.find("<value type=\"string\">ok</value>\n"), S::npos) << rng;
    EXPECT_EQ(rng.find("no\x01"), S::npos) << rng;
    EXPECT_NE(rng.find("a missing kind is supplied as \"x\\x01\", a value that may not be written"), S::npos) << rng;
    EXPECT_NE(rng.find("<attribute name=\"tab\" a:defaultValue=\"x&#9;y\">"), S::npos) << rng;
    EXPECT_EQ(export_rng(g).loosened, Lines{"attribute kind of e: values no XML document can hold are left out"});
    EXPECT_NE(dtd.find("    kind CDATA #IMPLIED\n    tab CDATA \"x&#9;y\">"), S::npos) << dtd;
    EXPECT_EQ(export_dtd(g).loosened,
              Lines{"attribute kind of e: its values are not all name tokens, so any value is accepted"});
}

// The part of a description from `head` to `end` or the end of the text.
S section(const S& text, const S& head, const S& end) {
    size_t at = text.find(head);
    if (at == S::npos) return "(no " + head + ")";
    S out = text.substr(at, text.find(end, at + 1) - at);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TEST(GrammarDescribe, OneElementAsInTheWholeGrammar) {
    for (const SchemaTable* t : grammars()) {
        GrammarInfo g = grammar_info(*t);
        const S text = describe_text(g), dot = describe_dot(g);
        for (int e = 0; e < static_cast<int>(g.elements.size()); ++e) {
            const S head = "\nelement " + g.elements[e].name + "\n";
            EXPECT_EQ(section(describe_text(g, e), head, "\n\n"), section(text, head, "\n\n")) << g.name << " " << e;
            const S cluster = "  subgraph cluster_e" + std::to_string(e) + " {";
            EXPECT_EQ(section(describe_dot(g, e), cluster, "\n  }\n"), section(dot, cluster, "\n  }\n")) << g.name;
        }
    }
}

TEST(GrammarDescribe, PastItsBudgetTheRestIsGivenWithoutContents) {
    const GrammarInfo g = dense(300, false);
    const S text = describe_text(g), dot = describe_dot(g);
    const S note = "  what follows each child, and where text may stand: not listed: the grammar is too large to "
                   "describe in full; describe this element alone\n";
    EXPECT_EQ(section(text, "\nelement e0\n", "\n\n").find(note), S::npos);
    EXPECT_NE(section(text, "\nelement e299\n", "\n\n").find(note), S::npos);
    EXPECT_NE(dot.find("e299_more [label=\"not drawn: "), S::npos);
    EXPECT_LT(text.size(), 64 * 300 * 600u);  // a small multiple of the grammar, not 300 times it
    EXPECT_EQ(describe_text(g, 299).find(note), S::npos);  // one element: always in full
    EXPECT_NE(describe_text(g, 299).find("  inside: " + joined(300, "e", ", ") + "\n"), S::npos);
}

// Where a schema language cannot say a rule, the export must say so.
TEST(GrammarExport, NamesEveryPlaceItLoosens) {
    GrammarInfo g = grammar_info(*load_grammar_text(
        "grammar loose\nsource none\n"
        "element 0 p\n  first TEXT/0\n  row 0 (none)\n  attr kind default \"x y\" values \"x y\" \"z\"\n"
        "element 1 b\n  first END\n  row 0 END\n  attr on default \"-\" values \"yes\" \"no\"\n"
        "text 0 b/0 END\n"));
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
