// DTDs read as grammars: content models (every operator, nesting, mixed,
// EMPTY, ANY) judged through the tables they give, refusals of what a DTD
// may not say, parameter entities, external entities left unread, and the
// attribute rules and loosened places of the written grammar file.
#include <gtest/gtest.h>

#include "test_support.h"

namespace tarvo::testing {
namespace {

std::shared_ptr<const SchemaTable> load(const S& dtd, std::vector<S>* loosened = nullptr) {
    TempFile file(dtd, "t.dtd");
    return load_dtd(file.path(), loosened);
}

// The messages import_dtd() refuses `dtd` with, the file called t.dtd.
S refusal(const S& dtd) {
    TempFile file(dtd, "t.dtd");
    try {
        import_dtd(file.path());
    } catch (const GrammarError& e) {
        S out;
        for (const S& m : e.messages()) out += (out.empty() ? "" : "\n") + m.substr(m.find("t.dtd"));
        return out;
    }
    return "(accepted)";
}

S grammar_text(const S& dtd, std::vector<S>* loosened = nullptr) {
    TempFile file(dtd, "t.dtd");
    DtdImport x = import_dtd(file.path());
    if (loosened) *loosened = x.loosened;
    return x.grammar;
}

// Whether <r>CHILDREN</r> is valid: each letter of `children` an empty
// element of that name, 't' a run of text.
bool valid(const SchemaTable& g, const S& children) {
    S body = "<r>";
    for (char c : children) body += c == 't' ? S("text") : S{'<', c, '/', '>'};
    TempFile doc(xml(body + "</r>\n"));
    return parse_file(g, doc.path().c_str(), nullptr, Flags::strict).ok();
}

const S kChildren = "<!ELEMENT a EMPTY>\n<!ELEMENT b EMPTY>\n<!ELEMENT c EMPTY>\n<!ELEMENT d EMPTY>\n";

TEST(DtdImport, ContentModelsAcceptWhatTheirExpressionsSay) {
    struct Case { S model; std::vector<S> accepted, refused; } cases[] = {
        {"(a, b)", {"ab"}, {"", "a", "b", "ba", "abb", "at", "tab"}},
        {"(a | b)", {"a", "b"}, {"", "ab", "c"}},
        {"(a?)", {"", "a"}, {"aa", "b"}},
        {"(a*)", {"", "a", "aaa"}, {"b", "ab"}},
        {"(a+)", {"a", "aaa"}, {"", "ab"}},
        {"(a, (b, c)?, d)", {"ad", "abcd"}, {"abd", "acd", "abc", "d"}},
        {"((a, b?)+, (c | d)*)", {"a", "ab", "aab", "abab", "acdc", "abd"}, {"", "c", "abb", "acb", "ba"}},
        {"((a | b), (a | c)+)", {"aa", "bc", "bcaac"}, {"a", "b", "ab", "cc"}},
        {"(a, (b | (c, d+))*, a?)", {"a", "ab", "acd", "acddbcda", "aa"}, {"ac", "aab", "acdab"}},
        {"((a*, b)?)", {"", "b", "aab"}, {"a", "bb"}},
        {"(((((a)))))", {"a"}, {"", "aa"}},
        {"EMPTY", {""}, {"a", "t"}},
        {"ANY", {"", "a", "tatb", "dcba"}, {}},
        {"(#PCDATA)", {"", "t"}, {"a"}},
        {"(#PCDATA)*", {"", "t"}, {"a"}},
        {"(#PCDATA | a | b)*", {"", "t", "a", "tatbt", "bb"}, {"c", "tc"}},
        {"(#PCDATA|c)*", {"c", "tct"}, {"a"}},
    };
    for (const Case& c : cases) {
        auto g = load("<!ELEMENT r " + c.model + ">\n" + kChildren);
        for (const S& doc : c.accepted) EXPECT_TRUE(valid(*g, doc)) << c.model << " refuses '" << doc << "'";
        for (const S& doc : c.refused) EXPECT_FALSE(valid(*g, doc)) << c.model << " accepts '" << doc << "'";
    }
}

TEST(DtdImport, NonDeterministicModelsAreRefusedNamingTheElement) {
    struct Case { S model, where; } cases[] = {
        {"((a, b) | (a, c))", "'a' may stand at two places at its start"},
        {"(a?, a)", "'a' may stand at two places at its start"},
        {"((a, b)*, a)", "'a' may stand at two places at its start"},
        {"(a, b?, b)", "'b' may stand at two places after 'a'"},
        {"(a, (b, c)*, (b | d))", "'b' may stand at two places after 'a'"},
        {"(a+, a)", "'a' may stand at two places after 'a'"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(refusal(kChildren + "\n<!ELEMENT r\n  " + c.model + ">\n"),
                  "t.dtd:6: the content model of 'r' is not deterministic: " + c.where);
}

TEST(DtdImport, BrokenDtdsAreRefusedWithTheLine) {
    struct Case { S dtd, message; } cases[] = {
        {"<!ELEMENT r (a,)>", "t.dtd:1: expected an element name or '(', found ')'"},
        {"<!ELEMENT r (a, b | c)>", "t.dtd:1: a group mixes ',' and '|'"},
        {"<!ELEMENT r (#PCDATA | a)>\n<!ELEMENT a EMPTY>", "t.dtd:1: a mixed model that names elements must end in ')*'"},
        {"<!ELEMENT r (#PCDATA | a | a)*>", "t.dtd:1: 'a' stands twice in the mixed content of 'r'"},
        {"<!ELEMENT r (a, #PCDATA)>", "t.dtd:1: #PCDATA may only stand first in a mixed model"},
        {"\n<!ELEMENT r EMPTY>\n<!ELEMENT r ANY>", "t.dtd:3: element 'r' declared twice (also at line 2)"},
        {"<!ELEMENT r EMTPY>", "t.dtd:1: expected EMPTY, ANY or a content model, found 'EMTPY'"},
        {"<!ELEMENT r EMPTY", "t.dtd:1: expected '>' at the end of the element declaration, found the end of the file"},
        {"<!ELEMENT END EMPTY>", "t.dtd:1: element name 'END' is reserved in tarvo's grammar files"},
        {"<!ELEMENT r EMPTY>\n<!ATTLIST r a STRING #IMPLIED>", "t.dtd:2: unknown attribute type 'STRING'"},
        {"<!ELEMENT r EMPTY>\n<!ATTLIST r a CDATA #DEFAULT>", "t.dtd:2: expected #REQUIRED, #IMPLIED or #FIXED, found '#DEFAULT'"},
        {"<!ELEMENT r EMPTY>\n<!ATTLIST r a (x | x) #IMPLIED>", "t.dtd:2: attribute 'a' lists value \"x\" twice"},
        {"<!ELEMENT r EMPTY>\n<!ATTLIST r a CDATA \"<\">", "t.dtd:2: '<' in an attribute value"},
        {"<!ELEMENT r EMPTY>\n<!ATTLIST r a CDATA \"&nope;\">", "t.dtd:2: undefined entity &nope; in an attribute value"},
        {"<!ELEMENT r EMPTY>\n<!ATTLIST r a CDATA \"&#0;\">", "t.dtd:2: bad character reference"},
        {"<!ELEMENT r EMPTY>\n<!ATTLIST r a CDATA \"x&#10;y\">",
         "t.dtd:2: the default of attribute 'a' of 'r' holds a line feed, which a grammar file cannot hold"},
        {"<!-- never closed\n<!ELEMENT r EMPTY>", "t.dtd:2: unterminated comment"},
        {"<!DOCTYPE r [ <!ELEMENT r EMPTY> ]>", "t.dtd:1: a DOCTYPE declaration: give the DTD file itself"},
        {"<![INCLUDE[ <!ELEMENT r EMPTY>", "t.dtd:1: unterminated conditional section"},
        {"<![MAYBE[ ]]>", "t.dtd:1: expected INCLUDE or IGNORE, found 'MAYBE'"},
        {"<!ELEMENT r EMPTY>\nhello", "t.dtd:2: expected a declaration, found 'h'"},
        {"<!ELEMENT r %nope;>", "t.dtd:1: undefined parameter entity %nope;"},
        {"<!ENTITY % a \"&#37;a;\">\n\n%a;", "t.dtd:3: parameter entity %a; refers to itself"},
        {"<!ENTITY % a \"(b\">\n<!ELEMENT b EMPTY>\n<!ELEMENT r %a;>",
         "t.dtd:3: expected ',', '|' or ')' in a content model, found '>'"},
        // Groups nested past any reason are refused, not followed down.
        {"<!ELEMENT r " + S(5000, '(') + "a" + S(5000, ')') + ">", "t.dtd:1: content model nested too deeply"},
    };
    for (const Case& c : cases) EXPECT_EQ(refusal(c.dtd), c.message) << c.dtd;
}

TEST(DtdImport, ParameterEntitiesAreExpandedWherever) {
    auto g = load(
        "<!ENTITY % name \"r\">\n"
        "<!ENTITY % pair \"a, b\">\n"
        "<!ENTITY % model \"(%pair;, c?)\">\n"  // a reference inside an entity value
        "<!ENTITY % att \"kind (x | y) 'x'\">\n"
        "<!ENTITY % on \"INCLUDE\">\n"
        "<!ENTITY % off \"IGNORE\">\n"
        "<!ENTITY % name \"ignored\">\n"  // the first declaration holds
        "<!ELEMENT %name; %model;>\n"
        "<!ATTLIST %name; %att;>\n"
        "<![%on;[ <!ELEMENT a EMPTY> ]]>\n"
        "<![%off;[ <!ELEMENT a (b)> <![INCLUDE[ <!ELEMENT z EMPTY> ]]> ]]>\n"
        "<!ELEMENT b EMPTY>\n<!ELEMENT c EMPTY>\n");
    EXPECT_TRUE(valid(*g, "ab"));
    EXPECT_TRUE(valid(*g, "abc"));
    EXPECT_FALSE(valid(*g, "a"));
    EXPECT_EQ(find_element(*g, "z"), -1);
    EXPECT_EQ(g->element_count, 4);
    EXPECT_NE(grammar_text("<!ENTITY % att \"kind (x | y) 'x'\">\n<!ELEMENT r EMPTY>\n<!ATTLIST r %att;>")
                  .find("  attr kind default \"x\" values \"x\" \"y\"\n"),
              S::npos);

    // Each level ten times the one below: refused long before it grows large.
    S laughs = "<!ENTITY % l0 \"<!-- lol -->\">\n";
    for (int i = 1; i <= 9; ++i)
        laughs += "<!ENTITY % l" + std::to_string(i) + " \"" + repeat("%l" + std::to_string(i - 1) + ";", 10) + "\">\n";
    EXPECT_EQ(refusal(laughs + "%l9;"), "t.dtd:6: parameter entities expand to too much text at %l4;");
}

TEST(DtdImport, ExternalEntitiesAreNeverRead) {
    TempFile outside("<!ELEMENT extra EMPTY>\n<!ENTITY % more \"x\">\n", "outside.dtd");
    std::vector<S> loosened;
    auto g = load("<!ENTITY % ext SYSTEM \"" + outside.path() + "\">\n%ext;\n<!ENTITY pic SYSTEM \"" +
                      outside.path() + "\" NDATA gif>\n<!ELEMENT r EMPTY>\n",
                  &loosened);
    EXPECT_EQ(find_element(*g, "extra"), -1);
    EXPECT_EQ(loosened, Lines{"parameter entity %ext; is external (\"" + outside.path() +
                              "\"): it is not read, and what it declares is missing"});
    EXPECT_EQ(refusal("<!ENTITY e SYSTEM \"" + outside.path() + "\">\n<!ELEMENT r EMPTY>\n<!ATTLIST r a CDATA \"&e;\">"),
              "t.dtd:3: external entity &e; in an attribute value (external entities are never read)");
}

TEST(DtdImport, AttributeListsBecomeAttributeRules) {
    std::vector<S> loosened;
    S g = grammar_text(
        "<!ENTITY co \"&amp;&#67;o\">\n"
        "<!ELEMENT r EMPTY>\n"
        "<!ATTLIST r\n"
        "  a CDATA #REQUIRED\n"
        "  b CDATA \"x  &co; \"\n"
        "  c (on | off) \"off\"\n"
        "  d (on | off) #REQUIRED\n"
        "  e CDATA #FIXED \"1\"\n"
        "  f CDATA #IMPLIED\n"
        "  g NMTOKEN \"  two   words \"\n"
        "  h ID #IMPLIED\n"
        "  i NOTATION (gif | png) \"png\">\n"
        "<!ATTLIST r a CDATA \"later\" j IDREFS #REQUIRED k (yes | no) #IMPLIED>\n"
        "<!-- attribute k: tarvo supplies \"-\" when it is missing, a value that may not be written -->\n",
        &loosened);
    EXPECT_NE(g.find("  attr a required\n"
                     "  attr b default \"x  &Co \"\n"
                     "  attr c default \"off\" values \"on\" \"off\"\n"
                     "  attr d required values \"on\" \"off\"\n"
                     "  attr e default \"1\" values \"1\"\n"
                     "  attr f default \"\"\n"
                     "  attr g default \"two words\"\n"
                     "  attr h default \"\"\n"
                     "  attr i default \"png\" values \"gif\" \"png\"\n"
                     "  attr j required\n"
                     "  attr k default \"-\" values \"yes\" \"no\"\n"),
              S::npos)
        << g;
    const std::vector<S> expected = {
        "attribute f of r: #IMPLIED: when it is missing, tarvo delivers it with the value \"\"",
        "attribute g of r: type NMTOKEN: any value is accepted; it is not checked to be made of name tokens",
        "attribute h of r: type ID: any value is accepted; it is not checked to be a name, nor to be unique",
        "attribute h of r: #IMPLIED: when it is missing, tarvo delivers it with the value \"\"",
        "attribute j of r: type IDREF: any value is accepted; it is not checked to name an ID of the document",
    };
    EXPECT_EQ(loosened, expected);
    for (const S& l : expected) EXPECT_NE(g.find("#   " + l + "\n"), S::npos) << l;
}

TEST(DtdImport, PlacesThatNothingDistinguishesShareARow) {
    auto g = load(
        "<!ELEMENT p (a*)>\n<!ELEMENT q (a*)>\n<!ELEMENT r (a, a)>\n<!ELEMENT s (b | a)*>\n"
        "<!ELEMENT a EMPTY>\n<!ELEMENT b EMPTY>\n");
    const ElementRule& a = g->elements[find_element(*g, "a")];
    // p's and q's a share row 0; r's two a's take rows 1 and 2; s's a row 3.
    EXPECT_EQ(a.row_count, 4);
    EXPECT_EQ(g->elements[find_element(*g, "p")].first[0].context, g->elements[find_element(*g, "q")].first[0].context);
    // No content holds p: it keeps one empty row, the one a root takes.
    EXPECT_EQ(g->elements[find_element(*g, "p")].row_count, 1);
    EXPECT_EQ(g->elements[find_element(*g, "p")].rows[0].count, 0);
}

// tarvo's export notes how each row is reached; notes that fit number the
// rows so, and a set with any note that does not fit is passed over whole.
TEST(DtdImport, RowNotesNumberTheRowsWhenTheyAllFit) {
    const S dtd = "<!ELEMENT r (a, a)>\n<!ELEMENT s (a*)>\n<!ELEMENT a EMPTY>\n";
    auto row_of = [](const SchemaTable& g, const char* parent, int step) {
        const int a = find_element(g, "a");
        auto in = [a](const ContentPosition* list, int count) {
            for (int i = 0; i < count; ++i)
                if (list[i].element == a) return list[i].context;
            return -1;
        };
        const ElementRule& p = g.elements[find_element(g, parent)];
        int context = in(p.first, p.first_count);
        if (step) context = in(g.elements[a].rows[context].successors, g.elements[a].rows[context].count);
        return context;
    };
    auto plain = load(dtd);
    EXPECT_EQ(row_of(*plain, "r", 0), 0);
    EXPECT_EQ(row_of(*plain, "r", 1), 1);
    EXPECT_EQ(row_of(*plain, "s", 0), 2);
    const S notes = "<!-- tarvo rows: where each row is reached\n  a/2: r > a\n  a/0: r > a a\n  a/1: s > a\n-->\n";
    auto noted = load(dtd + notes);
    EXPECT_EQ(row_of(*noted, "r", 0), 2);
    EXPECT_EQ(row_of(*noted, "r", 1), 0);
    EXPECT_EQ(row_of(*noted, "s", 0), 1);
    for (const S& misfit : {S("  a/2: r > a\n  a/0: r > a a\n"),             // a row without a note
                            S("  a/2: r > a\n  a/0: r > a a\n  a/0: s > a\n"),  // two rows numbered alike
                            S("  a/2: r > a\n  a/0: r > a b a\n  a/1: s > a\n"),  // no such way
                            S("  a/2: r > a\n  a/0: r > a a\n  a/7: s > a\n")}) {
        auto g = load(dtd + "<!-- tarvo rows:\n" + misfit + "-->\n");
        EXPECT_EQ(row_of(*g, "r", 0), 0) << misfit;
        EXPECT_EQ(row_of(*g, "s", 0), 2) << misfit;
    }
}

TEST(DtdImport, NamesAsXmlWritesThemAndWhatIsNotDeclared) {
    std::vector<S> loosened;
    auto g = load("<!ELEMENT x:list-of.items (caf\xc3\xa9*, undeclared?)>\n<!ELEMENT caf\xc3\xa9 EMPTY>\n"
                  "<!ATTLIST undeclared n CDATA #REQUIRED>\n",
                  &loosened);
    EXPECT_GE(find_element(*g, "x:list-of.items"), 0);
    EXPECT_GE(find_element(*g, "caf\xc3\xa9"), 0);
    int u = find_element(*g, "undeclared");
    ASSERT_GE(u, 0);
    EXPECT_EQ(g->elements[u].attribute_count, 1);
    EXPECT_EQ(loosened,
              Lines{"element undeclared: used in the content of x:list-of.items but not declared; it is taken to be EMPTY"});
}

TEST(DtdImport, NamesTheGrammarAfterTheRootOrTheFile) {
    TempFile file("<!ELEMENT doc (#PCDATA)>\n", "my notes.dtd");
    EXPECT_EQ(S(load_dtd(file.path())->name), "my_notes");
    DtdImport x = import_dtd(file.path(), "doc");
    EXPECT_EQ(x.grammar.substr(x.grammar.find("grammar ")).substr(0, 12), "grammar doc\n");
    EXPECT_EQ(x.loosened, std::vector<S>{"root: a document may begin with any declared element, not only doc"});
    try {
        import_dtd(file.path(), "nope");
        ADD_FAILURE() << "an undeclared root was accepted";
    } catch (const GrammarError& e) {
        EXPECT_EQ(S(e.what()), file.path() + ":0: the root element 'nope' is not declared");
    }
    EXPECT_THROW(load_dtd(file.path() + ".missing"), GrammarError);
}

// `n` empty elements e0, e1, ...
S elements(int n) {
    S out;
    for (int i = 0; i < n; ++i) out += "<!ELEMENT e" + std::to_string(i) + " EMPTY>\n";
    return out;
}

TEST(DtdImport, LargeModelsStayBounded) {
    // Three hundred elements under ANY and in one starred choice: each list
    // names them all.
    S dtd = "<!ELEMENT r ANY>\n<!ELEMENT s (e0";
    for (int i = 1; i < 300; ++i) dtd += " | e" + std::to_string(i);
    auto g = load(dtd + ")*>\n" + elements(300));
    EXPECT_EQ(g->element_count, 302);
    EXPECT_EQ(g->elements[0].first_count, 304);
    EXPECT_TRUE(valid(*g, "t"));
    // Ten thousand under ANY would be a hundred million successors.
    EXPECT_EQ(refusal("<!ELEMENT r ANY>\n" + elements(10000)),
              "t.dtd:1: the content models are too large for a grammar (more than 8388608 successors), at 'r'");
}

}  // namespace
}  // namespace tarvo::testing
