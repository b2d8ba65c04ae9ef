// General entities of the internal subset in the XML mode: expanded in text
// and attribute values as XML reads them, nested ones too, and refused with
// a message where a document refers to itself, nests too deep, expands to
// too much, holds markup or asks for an external entity.
#include <gtest/gtest.h>

#include "test_support.h"

namespace tarvo::testing {
namespace {

struct EntityCase {
    S what, subset, body;
    Lines events;  // empty: refused
    S error = "";  // refused: the message after "File doc.xml, line 1, column N: "
};

S doc(const EntityCase& c) { return "<!DOCTYPE doc [" + c.subset + "]><doc>" + c.body + "</doc>"; }

// Entities nested `depth` deep, each naming the one below `fan` times;
// names `e0`, `e1`, ... or, with `names`, its letters from the innermost.
S laughs(int depth, int fan, const S& names = "") {
    auto name = [&](int i) { return names.empty() ? S("e").append(std::to_string(i)) : S(1, names[i]); };
    S out = "<!ENTITY " + name(0) + (names.empty() ? " 'lol'>" : " ''>");
    for (int i = 1; i <= depth; ++i)
        out += "<!ENTITY " + name(i) + " '" + repeat(S("&").append(name(i - 1)).append(";"), fan) + "'>";
    return out;
}

TEST(XmlEntities, DeclaredEntitiesAreExpandedAndTheHarmfulOnesRefused) {
    const S ab = "<!ENTITY a 'A &amp; &#x42;'><!ENTITY ab '[&a;|&a;]'>";
    const EntityCase cases[] = {
        {"text", ab, "x&a;y", {"start doc", "text doc |xA & By|", "end doc"}},
        {"nested, beside predefined and character references", ab, "&ab;&lt;&#65;",
         {"start doc", "text doc |[A & B|A & B]<A|", "end doc"}},
        {"attribute value, its whitespace made spaces", ab + "<!ENTITY t 'p\tq\nr'>", "<a id='&ab;/&t;'/>",
         {"start doc", "start a id=[A & B|A & B]/p q r", "end a", "end doc"}},
        {"the first declaration holds; a parameter entity builds one", "<!ENTITY a 'one'><!ENTITY a 'two'>"
         "<!ENTITY % p 'para'><!ENTITY b '%p;'>", "&a;&b;", {"start doc", "text doc |onepara|", "end doc"}},
        {"expansion that grows a long run", "<!ENTITY w 'wide wide wide'>", S(3000, 'x') + "&w;&w;" + S(3000, 'y'),
         {"start doc", "text doc |" + S(3000, 'x') + "wide wide widewide wide wide" + S(3000, 'y') + "|",
          "end doc"}},
        {"undeclared beside declared", ab, "&a;&nope;", {}, "reference to undeclared entity 'nope'"},
        {"itself", "<!ENTITY a 'x&b;'><!ENTITY b '&a;'>", "&a;", {}, "entity 'a' refers to itself, in entity 'a'"},
        {"too deep", laughs(20, 1), "&e20;", {}, "entities nested more than 16 deep at 'e4', in entity 'e20'"},
        {"exponential", laughs(10, 10), "&e10;", {},
         "the document's entity references expand to more than 16777216 bytes, at 'e0', in entity 'e10'"},
        {"many small ones", laughs(0, 0) + laughs(6, 16, "zyxwvut"), "&t;", {},
         "the document's entity references expand to more than 16777216 bytes, at 'y', in entity 't'"},
        {"markup read in place: text on both sides joins the text around it",
         "<!ENTITY m '<a id=\"1\"/>t&amp;<b><![CDATA[<]]><!--c--></b>'>", "x&m;y",
         {"start doc", "text doc |x|", "start a id=1", "end a", "text doc |t&|", "start b", "text b |<|", "end b",
          "text doc |y|", "end doc"}},
        {"markup through a text entity, and twice in a row", "<!ENTITY m '<b/>'><!ENTITY n '[&m;]'>", "&n;&m;&m;",
         {"start doc", "text doc |[|", "start b", "end b", "text doc |]|", "start b", "end b", "start b", "end b",
          "end doc"}},
        {"markup two references deep", "<!ENTITY o '(&n;)'><!ENTITY n '&m;'><!ENTITY m '<b/>'>", "&o;",
         {"start doc", "text doc |(|", "start b", "end b", "text doc |)|", "end doc"}},
        {"markup that leaves an element open", "<!ENTITY m '<a>'>", "&m;</a>", {},
         "entity 'm' holds markup that is not content on its own: element 'a' is not closed"},
        {"markup that closes an element it did not open", "<!ENTITY m '</a>'>", "<a>&m;", {},
         "entity 'm' holds markup that is not content on its own: end tag 'a' without its start tag"},
        {"markup that refers to itself", "<!ENTITY r '<a>&r;</a>'>", "&r;", {}, "entity 'r' refers to itself"},
        {"markup that expands too far",
         "<!ENTITY e0 '<b/>" + S(1 << 20, 'x') + "'><!ENTITY e1 '" + repeat("&e0;", 17) + "'>", "&e1;", {},
         "the document's entity references expand to more than 16777216 bytes, at 'e0'"},
        {"'<' in a value", "<!ENTITY m 'x&#60;'>", "<a id='&m;'/>", {},
         "found '<' in an attribute value, where XML does not allow it, in entity 'm'"},
        {"external", "<!ENTITY x SYSTEM '/etc/hostname'>", "&x;", {},
         "entity 'x' is external, and tarvo never reads external entities"},
        {"a bad reference inside", "<!ENTITY b '&#38;#0;'>", "&b;", {},
         "character reference '&#0;' names U+0000, which XML does not allow, in entity 'b'"},
    };
    for (const EntityCase& c : cases) {
        Recorder rec;
        Result r = parse_buffer(any_xml_grammar(), doc(c), "doc.xml", &rec, Flags::xml);
        if (c.events.empty()) {
            S errors(r.errors());
            size_t colon = errors.find(": ");
            EXPECT_EQ(errors.substr(colon == S::npos ? 0 : colon + 2), c.error) << c.what;
            EXPECT_EQ(errors.substr(0, 24), "File doc.xml, line 1, co") << c.what;
        } else {
            EXPECT_EQ(r.errors(), "") << c.what;
            EXPECT_EQ(rec.events, c.events) << c.what;
        }
        for (const Pieces& pieces : kSmallPieces) {
            Recorder piecewise;
            Result p = parse_in_pieces(any_xml_grammar(), doc(c), pieces, &piecewise, Flags::xml);
            EXPECT_EQ(std::make_tuple(p.errors(), piecewise.events), std::make_tuple(r.errors(), rec.events))
                << c.what << ", read in pieces of " << pieces[0];
        }
    }
}

TEST(XmlEntities, WhatTheGrammarRefusesInAnEntitysMarkupStandsAtItsReference) {
    const EntityCase c{"", "<!ENTITY m '<c/>'>", "x&m;", {}};
    const S document = doc(c);
    Result r = parse_buffer(any_xml_grammar(), document, "doc.xml", nullptr, Flags::xml);
    EXPECT_EQ(r.errors(), "Element 'c' unknown in DTD\nFile doc.xml, line 1: error while opening element 'c'");
    const long at = static_cast<long>(document.find("&m;")) + 1;  // the reference's columns
    for (const Diagnostic& d : r.diagnostics()) {  // the refusal and the reader's line after it
        EXPECT_EQ(d.line, 1);
        EXPECT_GE(d.column, at);
        EXPECT_LE(d.end_column, at + 3);
    }
}

TEST(XmlEntities, OnlyTheXmlModeAndOnlyItsOwnDocumentExpandThem) {
    // Each parse has its own entities: the next document, on the same
    // thread, knows none of them.
    const S declared = "<!DOCTYPE doc [<!ENTITY a 'x'>]><doc>&a;</doc>";
    EXPECT_TRUE(parse_buffer(any_xml_grammar(), declared, "d", nullptr, Flags::xml).ok());
    Result r = parse_buffer(any_xml_grammar(), "<doc>&a;</doc>", "doc.xml", nullptr, Flags::xml);
    EXPECT_EQ(r.errors(), "File doc.xml, line 1, column 9: reference to undeclared entity 'a'");
    // A parse started inside a handler call has its own entities and its
    // own report, and the outer one keeps its own of both after it.
    Recorder outer;
    Result inner;
    outer.after_event = [&](const S& e) {
        if (e.starts_with("text") && inner.diagnostics().empty())
            inner = parse_buffer(any_xml_grammar(), "<doc>&a;</doc>", "inner.xml", nullptr, Flags::xml);
        return true;
    };
    r = parse_buffer(any_xml_grammar(), "<!DOCTYPE doc [<!ENTITY a 'x'>]><doc>&a;<a/>&a;<c/></doc>", "d", &outer,
                     Flags::xml);
    EXPECT_EQ(inner.errors(), "File inner.xml, line 1, column 9: reference to undeclared entity 'a'");
    EXPECT_EQ(r.errors(), "Element 'c' unknown in DTD\nFile d, line 1: error while opening element 'c'");
    EXPECT_EQ(outer.events, (Lines{"start doc", "text doc |x|", "start a id=", "end a", "text doc |x|"}));
    // A subset that cannot be read declares nothing.
    r = parse_buffer(any_xml_grammar(), "<!DOCTYPE doc [<!ENTITY a 'x'> <!BAD>]><doc>&a;</doc>", "doc.xml", nullptr,
                     Flags::xml);
    EXPECT_NE(r.errors().find("reference to undeclared entity 'a'"), std::string_view::npos);
}

}  // namespace
}  // namespace tarvo::testing
