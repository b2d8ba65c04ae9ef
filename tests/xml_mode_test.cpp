// The XML 1.0 reading mode (Flags::xml): what it accepts beside tarvo's own
// subset, and every well-formedness error with its file, line and column.
// The grammar lets a and b stand anywhere, so only the syntax decides.
#include <gtest/gtest.h>

#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

constexpr int kXml = bit(Flags::xml);

DocCase read(const S& what, const S& document, const Lines& events) {
    return {what, document, kXml, 0, "", "", events};
}
DocCase refused_at(const S& what, const S& document, int column, const S& message, int line = 1) {
    return {what, document, kXml, 1,
            "File doc.xml, line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message};
}

const Lines kEmptyDoc = {"start doc", "end doc"};

TEST(XmlMode, ReadsWhatXmlAllows) {
    any_xml_grammar();  // registered
    run_cases("anyXml", {
        read("no declaration", "<doc/>", kEmptyDoc),
        read("byte-order mark, encoding and standalone",
             "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?><doc/>", kEmptyDoc),
        read("comments and processing instructions everywhere",
             "<?xml version='1.1'?><!--c--><?pi x?>\n<doc><!-- in --><?p?></doc><!--after--><?q r?>\n", kEmptyDoc),
        read("a DOCTYPE whose internal subset holds ']' and '>' in strings and comments",
             "<!DOCTYPE doc SYSTEM \"doc.dtd\" [\n<!ELEMENT doc ANY>\n<!-- ] > -->\n<!ATTLIST a id CDATA \"x>]\">\n"
             "%pe;\n<?pi ]>?>\n]>\n<doc/>",
             kEmptyDoc),
        read("CDATA joins the text around it; comments and instructions do too",
             "<doc>x<![CDATA[<&]]>y<!--c-->z<?p?>w</doc>", {"start doc", "text doc |x<&yzw|", "end doc"}),
        read("whitespace around markup between tags is no text", "<doc> <!--c--> <a/>\n<?p?>\n</doc>",
             {"start doc", "start a id=", "end a", "end doc"}),
        read("whitespace before markup belongs to the text that follows", "<doc> <!--c-->x</doc>",
             {"start doc", "text doc | x|", "end doc"}),
        read("references", "<doc>caf&#233; &#x1F600; &apos;&quot;&lt;&gt;&amp;</doc>",
             {"start doc", "text doc |caf\xC3\xA9 \xF0\x9F\x98\x80 '\"<>&|", "end doc"}),
        read("references decoded once, before and after what needs a closer look",
             "<doc>&amp;lt; caf\xC3\xA9&amp;amp;]]&gt;&lt;</doc>",
             {"start doc", "text doc |&lt; caf\xC3\xA9&amp;]]><|", "end doc"}),
        read("line ends in text", "<doc>a\r\nb\rc\n</doc>", {"start doc", "text doc |a\nb\nc\n|", "end doc"}),
        read("attribute values: references kept, whitespace and line ends become spaces",
             "<doc><a id='&#x41;&lt;&#10;x\ty\r\nz'/></doc>", {"start doc", "start a id=A<\nx y z", "end a", "end doc"}),
        read("attribute values decoded once around a line end", "<doc><a id='&amp;lt;\n&amp;gt;&#38;lt;'/></doc>",
             {"start doc", "start a id=&lt; &gt;&lt;", "end a", "end doc"}),
        read("names beyond letters and digits, spaces before '>' of an end tag",
             "<doc><a id = \"1\"></a ><b/></doc>", {"start doc", "start a id=1", "end a", "start b", "end b", "end doc"}),
    });
}

TEST(XmlMode, RefusesWhatXmlRefuses) {
    any_xml_grammar();
    const S dashes = "found '--' inside a comment, where XML does not allow it";
    const S declaration = "found a processing instruction named 'xml', a name XML reserves; the XML declaration may "
                          "only open the document";
    const S brackets = "found ']]>' in character data, where XML does not allow it";
    run_cases("anyXml", {
        refused_at("'--' in a comment", "<doc><!-- a -- b --></doc>", 20, dashes),
        refused_at("'-' before '-->'", "<doc><!-- a ---></doc>", 16, dashes),
        refused_at("unterminated comment", "<doc><!-- a ", 12, "found end of input where '-->' expected"),
        refused_at("an instruction named xml after the start", "<doc><?xml version=\"1.0\"?></doc>", 11, declaration),
        refused_at("a declaration after whitespace", "  <?xml version=\"1.0\"?><doc/>", 8, declaration),
        refused_at("reference to U+0000", "<doc>&#0;</doc>", 10,
                   "character reference '&#0;' names U+0000, which XML does not allow"),
        refused_at("reference to a surrogate", "<doc>&#xD800;</doc>", 14,
                   "character reference '&#xD800;' names U+D800, which XML does not allow"),
        refused_at("reference beyond Unicode", "<doc>&#x110000;</doc>", 16,
                   "character reference '&#x110000;' names no code point, which XML does not allow"),
        refused_at("undeclared entity", "<doc>&nope;</doc>", 12, "reference to undeclared entity 'nope'"),
        refused_at("a bare ampersand", "<doc>a & b</doc>", 11,
                   "found '& b' where a reference ('&name;', '&#N;' or '&#xH;') expected"),
        refused_at("an attribute given twice", "<doc><a id=\"1\" id=\"2\"/></doc>", 18, "attribute 'id' is given twice"),
        refused_at("no whitespace between attributes", "<doc><a id=\"1\"x=\"2\"/></doc>", 15,
                   "found 'x' where whitespace expected between attributes"),
        refused_at("'<' in a value", "<doc><a id=\"1<2\"/></doc>", 16,
                   "found '<' in an attribute value, where XML does not allow it"),
        refused_at("an unquoted value", "<doc><a id=1/></doc>", 12, "found '1' where a quoted value expected"),
        refused_at("']]>' in text", "<doc>a]]>b</doc>", 11, brackets),
        refused_at("an encoding other than UTF-8", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><doc/>", 43,
                   "found encoding 'ISO-8859-1', which this reader does not read; it reads UTF-8 and its ASCII subset"),
        refused_at("version 2.0", "<?xml version=\"2.0\"?><doc/>", 21, "found version '2.0' where '1.0' expected"),
        refused_at("declaration out of order", "<?xml encoding=\"UTF-8\" version=\"1.0\"?><doc/>", 38,
                   "found 'version' in the XML declaration, where version, encoding and standalone may stand, in "
                   "that order"),
        refused_at("whitespace after '<'", "<doc>< a/></doc>", 7, "found a space where an element name expected"),
        refused_at("whitespace inside '/>'", "<doc><a / ></doc>", 10, "found a space where '>' expected"),
        refused_at("a name starting with a digit", "<doc><1a/></doc>", 7, "found '1' where an element name expected"),
        refused_at("a code point no name may start with", "<doc><a \xC3\x97=\"1\"/></doc>", 11,
                   "name '\xC3\x97' has U+00D7, which XML does not allow at the start of a name"),
        refused_at("text after the root", "<doc/>x", 7,
                   "found 'x' where the end of the document (only comments, processing instructions and whitespace "
                   "may follow the root element) expected"),
        refused_at("a second root", "<doc/><doc/>", 8,
                   "found 'd' where '!--' or '?' (only comments, processing instructions and whitespace may follow "
                   "the root element) expected"),
        refused_at("a control character", "<doc>a\x01" "b</doc>", 9,
                   "found control character byte 0x01, which XML does not allow"),
        refused_at("a code point no name may hold, after '_'", "<doc><a x_\xC3\x97=\"1\"/></doc>", 13,
                   "name 'x_\xC3\x97' has U+00D7, which XML does not allow in a name"),
        refused_at("']]>' after a reference", "<doc>&lt;]]></doc>", 13, brackets),
        refused_at("malformed UTF-8", "<doc>a\xC3(b</doc>", 10, "found a byte that is not well-formed UTF-8 (byte 0xC3)"),
        refused_at("two DOCTYPEs", "<!DOCTYPE doc><!DOCTYPE doc><doc/>", 17, "found 'D' where '--' expected"),
        refused_at("CDATA before the root", "<![CDATA[x]]><doc/>", 3, "found '[' where '--' or 'DOCTYPE' expected"),
        refused_at("no root", "<!-- c -->", 10, "found end of input where the root element expected"),
        refused_at("input ends inside an element", "<doc><a>text", 12,
                   "found end of input where the end tag of 'a' expected"),
        refused_at("lines are counted", "<doc>\n\n  <a id='1' id='2'/></doc>", 15, "attribute 'id' is given twice", 3),
    });
}

}  // namespace
}  // namespace tarvo
