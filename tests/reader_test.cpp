// The file parser end to end: documents in, events and messages out.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tarvo/tarvo.h"
#include "test_support.h"

namespace tarvo {
namespace {

using testing::parse_document;
using testing::xml;
using Lines = std::vector<std::string>;

std::string at(int line, const std::string& message) {
    return "File doc.xml, line " + std::to_string(line) + ": " + message;
}

std::string join(const Lines& lines) {
    std::string s;
    for (const std::string& l : lines) s += (s.empty() ? "" : "\n") + l;
    return s;
}

const Lines kUnchecked = {"<events not checked>"};

struct DocCase {
    const char* what;
    const char* grammar;
    std::string document;
    int flags;
    int status;
    Lines warnings;
    Lines errors;
    Lines events = kUnchecked;
};

void run_cases(const std::vector<DocCase>& cases) {
    for (const DocCase& c : cases) {
        testing::Outcome out = parse_document(c.grammar, c.document, c.flags);
        EXPECT_EQ(out.result.status, c.status) << c.what;
        EXPECT_EQ(out.result.warning_messages, c.warnings) << c.what;
        EXPECT_EQ(out.result.error_messages, c.errors) << c.what;
        EXPECT_EQ(out.result.warnings, join(c.warnings)) << c.what;
        EXPECT_EQ(out.result.errors, join(c.errors)) << c.what;
        if (c.events != kUnchecked) {
            EXPECT_EQ(out.events, c.events) << c.what;
        }
    }
}

const Lines kEmptyDictionary = {"start dictionary", "end dictionary"};
const std::string kNoVersion = "File doc.xml: no version in XML declaration; assuming 1.0";

TEST(Reader, Prolog) {
    run_cases({
        {"keyword XML", "dictionary", "<?XML version=\"1.0\"?>\n<dictionary/>", 0, 0, {}, {}, kEmptyDictionary},
        {"keyword xMl", "dictionary", "<?xMl version=\"1.0\"?><dictionary/>", 0, 0, {}, {}, kEmptyDictionary},
        {"whitespace inside", "dictionary", "\n\n <? \txml version = \"1.0\" \n?>\n<dictionary/>", 0, 0, {}, {},
         kEmptyDictionary},
        {"'<' space '?'", "dictionary", "< ?xml version=\"1.0\"?>", 0, 1, {}, {at(1, "found ' ' where '?' expected")}},
        {"root first", "dictionary", "<dictionary/>", 0, 1, {}, {at(1, "found 'd' where '?' expected")}, {}},
        {"root first, line 2", "dictionary", "\n<dictionary/>", 0, 1, {}, {at(2, "found 'd' where '?' expected")}},
        {"not xml", "dictionary", "<?xmi version=\"1.0\"?>", 0, 1, {},
         {at(1, "found 'i' where XML declaration expected")}},
        {"eof after '<?'", "dictionary", "<?", 0, 1, {}, {at(1, "found '\xff' where XML declaration expected")}},
        {"no version", "dictionary", "<?xml encoding=\"UTF-8\"?>\n<dictionary/>", 0, 0, {kNoVersion}, {},
         kEmptyDictionary},
        {"no pseudo-attributes", "dictionary", "<?xml?><dictionary/>", 0, 0, {kNoVersion}, {}, kEmptyDictionary},
        {"version 1.1", "dictionary", "<?xml version=\"1.1\"?>\n<dictionary/>", 0, 1, {},
         {at(1, "XML version is not 1.0; cannot parse")}, {}},
        {"version 1.1 over lines", "dictionary", "<?xml\nversion=\"1.1\"\n?>\n<dictionary/>", 0, 1, {},
         {at(3, "XML version is not 1.0; cannot parse")}},
        {"version padded", "dictionary", "<?xml version=\" 1.0\"?><dictionary/>", 0, 1, {},
         {at(1, "XML version is not 1.0; cannot parse")}},
        {"single-quoted version", "dictionary", "<?xml version='1.0'?>\n<dictionary/>", 0, 0, {}, {},
         kEmptyDictionary},
        {"encoding has no effect", "dictionary",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<source>caf\xe9</source>", 0, 0, {}, {},
         {"start source", "text source |caf\xe9|", "end source"}},
        {"'?' missing", "dictionary", "<?xml version=\"1.0\" >", 0, 1, {}, {at(1, "found '>' where '?' expected")}},
        {"gap before '>'", "dictionary", "<?xml version=\"1.0\"? >", 0, 1, {}, {at(1, "found ' ' where '>' expected")}},
        {"':' for '='", "dictionary", "<?xml version:\"1.0\"?>\n<dictionary/>", 0, 1, {},
         {at(1, "found ':' where '=' expected"), at(1, "found ':' where '?' expected")}},
        {"name without value", "dictionary", "<?xml version=\"1.0\" standalone?>\n<dictionary/>", 0, 1, {},
         {at(1, "found '?' where '=' expected")}},
        {"internal subset", "dictionary",
         xml("<!DOCTYPE dictionary [\n<!ELEMENT dictionary ANY>\n]>\n<dictionary/>"), 0, 1, {},
         {at(4, "found ']' where '<' expected")}, {}},
        {"doctype", "dictionary", xml("<!DOCTYPE dictionary SYSTEM \"dictionary.dtd\">\n<dictionary/>"), 0, 0, {}, {},
         kEmptyDictionary},
        {"text after doctype", "dictionary", xml("<!DOCTYPE x>text"), 0, 1, {},
         {at(2, "found 't' where '<' expected")}},
        {"eof in doctype", "dictionary", xml("<!DOCTYPE x"), 0, 1, {}, {at(2, "found '\xff' where '<' expected")}},
        {"second '<!' is an element", "dictionary", xml("<!DOCTYPE x>\n<!DOCTYPE y>\n<dictionary/>"), 0, 1, {},
         {"Element '' unknown in DTD", at(3, "error while opening element ''")}, {}},
        {"empty document", "dictionary", "<?xml version=\"1.0\"?>\n<", 0, 0, {}, {}, {}},
        {"empty document, spaces", "dictionary", xml("<  \n "), 0, 0, {}, {}, {}},
        // After a '<!' declaration the main loop reads the tag: an empty name.
        {"eof after doctype and '<'", "dictionary", xml("<!DOCTYPE x>\n<"), 0, 1, {},
         {"Element '' unknown in DTD", at(3, "error while opening element ''")}, {}},
        {"nothing after declaration", "dictionary", "<?xml version=\"1.0\"?>\n", 0, 1, {},
         {at(1, "found '\xff' where '<' expected")}},
        {"empty file", "dictionary", "", 0, 1, {}, {at(1, "found '\xff' where '<' expected")}},
        {"garbage first", "dictionary", " x<?xml", 0, 1, {}, {at(1, "found 'x' where '<' expected")}},
        {"text after declaration", "dictionary", xml("\nhello"), 0, 1, {}, {at(3, "found 'h' where '<' expected")}},
    });
}

TEST(Reader, Tags) {
    const std::string long_name(300, 'N');
    run_cases({
        {"whitespace where allowed", "dictionary",
         xml("<\n dictionary >< translation\n>< source>a</ source><target / ></\ttranslation></ dictionary>"), 0, 0, {},
         {},
         {"start dictionary", "start translation", "start source", "text source |a|", "end source", "start target",
          "end target", "end translation", "end dictionary"}},
        {"space before end tag '>'", "dictionary", xml("<dictionary></dictionary >"), 0, 1, {},
         {at(2, "found ' ' where '>' expected")}, kEmptyDictionary},
        {"line feed before end tag '>'", "dictionary", xml("<dictionary></dictionary\n>"), 0, 1, {},
         {at(2, "found '\n' where '>' expected")}, kEmptyDictionary},
        {"eof in start tag", "dictionary", xml("<dictionary"), 0, 1, {}, {at(2, "found '\xff' where '>' expected")},
         {"start dictionary"}},
        {"eof after attribute", "heatmap", xml("<Heatmap title=\"t\""), 0, 1, {},
         {at(2, "found '\xff' where '>' expected")}, {"start Heatmap title=t min_value=- max_value=-"}},
        {"stray character", "dictionary", xml("<dictionary!>"), 0, 1, {}, {at(2, "found '!' where '>' expected")},
         {"start dictionary"}},
        {"':' in element name", "dictionary", xml("<dictionary><x:y/></dictionary>"), 0, 1, {},
         {"Element 'x:y' unknown in DTD", at(2, "error while opening element 'x:y'")}, {"start dictionary"}},
        {"long element name", "dictionary", xml("<dictionary>\n<" + long_name + "/>"), 0, 1, {},
         {"Element '" + long_name + "' unknown in DTD", at(3, "error while opening element '" + long_name + "'")}},
        {"end tag first", "dictionary", xml("</ dictionary>"), 0, 1, {},
         {at(2, "error while closing element 'dictionary'")}, {}},
        {"end tag mismatch", "dictionary", xml("<dictionary></translation>"), 0, 1, {},
         {"Close tag for 'translation' does not match opened element ('dictionary')",
          at(2, "error while closing element 'translation'")},
         {"start dictionary"}},
        {"empty-element tag refused", "dictionary", xml("<dictionary><translation/></dictionary>"), 0, 1, {},
         {"Missing first child for container element 'translation'", at(2, "error while closing element 'translation'")},
         {"start dictionary", "start translation"}},
        {"start tag refused", "dictionary", xml("<dictionary>\n\n<source/>"), 0, 1, {},
         {"Element is invalid as first child of container element 'dictionary'",
          at(4, "error while opening element 'source'")},
         {"start dictionary"}},
    });
}

TEST(Reader, Attributes) {
    const std::string long_name(300, 'a');  // bucket 11, ahead of title (14)
    const std::string defaults_after_title = " min_value=- max_value=-";
    run_cases({
        {"whitespace around '='", "heatmap", xml("<Heatmap title\n=  \"T\"/>"), 0, 0, {}, {},
         {"start Heatmap title=T min_value=- max_value=-", "end Heatmap"}},
        {"no space between attributes", "heatmap", xml("<Heatmap title=\"a\"min_value=\"0\"max_value=\"9\"/>"), 0, 0,
         {}, {}, {"start Heatmap title=a min_value=0 max_value=9", "end Heatmap"}},
        {"':' in a name", "heatmap", xml("<Heatmap xmlns:x=\"u\"/>"), 0, 1, {},
         {at(2, "found ':' where '=' expected"), at(2, "error in attributes for element 'Heatmap'")}, {}},
        {"'-' in a name", "heatmap", xml("<Heatmap\ndata-x=\"1\"/>"), 0, 1, {},
         {at(3, "found '-' where '=' expected"), at(3, "error in attributes for element 'Heatmap'")}, {}},
        {"eof after a name", "heatmap", xml("<Heatmap title"), 0, 1, {},
         {at(2, "found '\xff' where '=' expected"), at(2, "error in attributes for element 'Heatmap'")}, {}},
        {"name not starting with a letter", "heatmap", xml("<Heatmap _x=\"1\"/>"), 0, 1, {},
         {at(2, "found '_' where '>' expected")}, {"start Heatmap title=" + defaults_after_title}},
        {"markup characters in a value", "heatmap", xml("<Heatmap title=\"a>b/c=d\ne\"/>"), 0, 0, {}, {},
         {"start Heatmap title=a>b/c=d\ne" + defaults_after_title, "end Heatmap"}},
        {"entities in a value", "heatmap",
         xml("<Heatmap title=\"&lt;&gt;&amp;&quot;&apos;&#65;&amp;lt;&\"/>"), 0, 0, {}, {},
         {"start Heatmap title=<>&\"&apos;&#65;&lt;&" + defaults_after_title, "end Heatmap"}},
        {"name given twice", "heatmap", xml("<Heatmap title=\"a\" min_value=\"1\" title=\"b\"/>"), 0, 0, {}, {},
         {"start Heatmap title=b min_value=1 max_value=-", "end Heatmap"}},
        {"eof inside a value", "heatmap", xml("<Heatmap title=\"abc\n"), 0, 1, {},
         {at(2, "found '\xff' where '>' expected")}, {"start Heatmap title=abc\n" + defaults_after_title}},
        {"eof after '='", "heatmap", xml("<Heatmap title="), 0, 1, {}, {at(2, "found '\xff' where '>' expected")},
         {"start Heatmap title=" + defaults_after_title}},
        {"single quotes", "heatmap", xml("<Heatmap title='a \"b\">c' min_value='1'/>"), 0, 0, {}, {},
         {"start Heatmap title=a \"b\">c min_value=1 max_value=-", "end Heatmap"}},
        {"unquoted values", "heatmap", xml("<Heatmap title=xyz max_value=-5 ></Heatmap>"), 0, 0, {}, {},
         {"start Heatmap title=yz min_value=- max_value=5", "end Heatmap"}},
        {"unquoted value runs past '>'", "heatmap", xml("<Heatmap title=abc/>\n</Heatmap>"), 0, 1, {},
         {at(3, "found '<' where '>' expected")}, {"start Heatmap title=bc/>" + defaults_after_title}},
        {"NUL in a value", "heatmap", xml(std::string("<Heatmap title=\"a\0b\"/>", 22)), 0, 0, {}, {},
         {"start Heatmap title=ab" + defaults_after_title, "end Heatmap"}},
        {"line of the attribute check", "heatmap", xml("<Heatmap\n  title=\"x\"\n  bogus=\"1\"\n/>"), 0, 1, {},
         {"Unknown attribute 'bogus'", at(5, "error in attributes for element 'Heatmap'")}, {}},
        {"long attribute name refused", "heatmap", xml("<Heatmap " + long_name + "=\"v\"/>"), 0, 1, {},
         {"Unknown attribute '" + long_name + "'", at(2, "error in attributes for element 'Heatmap'")}, {}},
        {"long attribute name tolerated", "heatmap", xml("<Heatmap " + long_name + "=\"v\"/>"), 2, 0,
         {"Unknown attribute '" + long_name + "'"}, {},
         {"start Heatmap " + long_name + "=v title=" + defaults_after_title, "end Heatmap"}},
    });
}

// Text inside <source> of a complete translation.
DocCase text_case(const char* what, const std::string& text, const Lines& text_events) {
    Lines events = {"start translation", "start source"};
    events.insert(events.end(), text_events.begin(), text_events.end());
    events.insert(events.end(), {"end source", "start target", "end target", "end translation"});
    return {what, "dictionary", xml("<translation><source>" + text + "</source><target/></translation>"), 0, 0, {}, {},
            events};
}

TEST(Reader, Text) {
    run_cases({
        text_case("whitespace only", " \n\t ", {}),
        text_case("whitespace with carriage returns", "\r\n\r\n", {}),
        text_case("leading line feed kept", "\nabc", {"text source |\nabc|"}),
        text_case("surrounding whitespace kept", " a \n", {"text source | a \n|"}),
        text_case("CR LF inside", "a\r\nb\r\n", {"text source |a\nb\n|"}),
        text_case("CR in leading whitespace", "\r\n x", {"text source |\n x|"}),
        text_case("lone CR", "a\rb", {"text source |ab|"}),
        text_case("NUL bytes", std::string("a\0b", 3), {"text source |ab|"}),
        text_case("NUL first", std::string("\0b", 2), {"text source |b|"}),
        text_case("entities", "a &lt; b &amp;lt; &#65; &foo; & &quot;&gt;", {"text source |a < b &lt; &#65; &foo; & \">|"}),
        {"text refused", "dictionary", xml("<translation>x</translation>"), 0, 1, {},
         {"Element is invalid as first child of container element 'translation'",
          at(2, "character data is not allowed here")},
         {"start translation"}},
        {"start tag after text", "dictionary", xml("<source>a<target/></source>"), 0, 1, {},
         {"Element is invalid within character data in this context (0)", at(2, "error while opening element 'target'")},
         {"start source", "text source |a|"}},
        {"eof in text", "dictionary", xml("<dictionary>abc"), 0, 1, {}, {at(2, "unexpected end of file in text")},
         {"start dictionary"}},
        {"eof after a line feed", "dictionary", xml("<dictionary>\n"), 0, 1, {},
         {at(2, "unexpected end of file in text")}, {"start dictionary"}},
    });
}

TEST(Reader, NulInAMessageEndsItsText) {
    // Messages are appended as C strings: a NUL byte printed by '%c' ends it.
    testing::Outcome out = parse_document("dictionary", xml(std::string("<dictionary\0>", 13)));
    EXPECT_EQ(out.result.status, 1);
    EXPECT_EQ(out.result.errors, at(2, "found '"));
}

TEST(Reader, SkippingWrongElements) {
    const std::string ignored = "' ignored - trying to continue";
    run_cases({
        {"subtree skipped", "dictionary",
         xml("<dictionary>\n<translation>\n<target>t<source x=\"/\">deep<b/></source><source/></target>\n"
             "<source>s</source>\n<target>t</target>\n</translation>\n</dictionary>\n"),
         4, 0, {at(4, "invalid element 'target" + ignored)},
         {"Element is invalid as first child of container element 'translation'"},
         {"start dictionary", "start translation", "start source", "text source |s|", "end source", "start target",
          "text target |t|", "end target", "end translation", "end dictionary"}},
        {"ignored empty-element tags", "dictionary", xml("<translation><source/><source/><target/><target/></translation>"),
         4, 0, {at(2, "invalid element 'source" + ignored), at(2, "invalid element 'target" + ignored)},
         {"Element is invalid as successor of current element 'source' in this context (0)",
          "Element is invalid as successor of current element 'target' in this context (0)"},
         {"start translation", "start source", "end source", "start target", "end target", "end translation"}},
        {"sibling checked as if the ignored were absent", "dictionary",
         xml("<translation><source/><bogus>x</bogus></translation>"), 4, 1, {at(2, "invalid element 'bogus" + ignored)},
         {"Element 'bogus' unknown in DTD", "Missing successor for current element 'source' in this context (0)",
          at(2, "error while closing element 'translation'")},
         {"start translation", "start source", "end source"}},
        {"text checked as if the ignored were absent", "dictionary", xml("<source>a<bogus/>b</source>"), 4, 1,
         {at(2, "invalid element 'bogus" + ignored)},
         {"Element 'bogus' unknown in DTD", "Element is invalid within character data in this context (0)",
          at(2, "character data is not allowed here")},
         {"start source", "text source |a|"}},
        {"'/' in a value of an ignored element", "heatmap", xml("<Heatmap><Colors/><Colors min_color=\"a/b\"/></Heatmap>"),
         4, 1, {at(2, "invalid element 'Colors" + ignored)},
         {"Element is invalid as successor of current element 'Colors' in this context (0)",
          at(2, "found 'b' where '>' expected")},
         {"start Heatmap title= min_value=- max_value=-",
          "start Colors init_alpha=0.75 gradient_color_space=HSVs min_color=#00FF00 max_color=#FF0000", "end Colors"}},
        {"comment, strict", "dictionary", xml("<dictionary><!-- note --></dictionary>"), 0, 1, {},
         {"Element '' unknown in DTD", at(2, "error while opening element ''")}, {"start dictionary"}},
        {"comment swallows the enclosing end tag", "dictionary", xml("<dictionary><!-- note --></dictionary>"), 4, 1,
         {at(2, "invalid element '" + ignored)}, {"Element '' unknown in DTD", at(2, "unexpected end of file in text")},
         {"start dictionary"}},
        {"processing instruction", "dictionary", xml("<dictionary><?pi x?>\n</dictionary>\n\n"), 4, 1,
         {at(2, "invalid element '" + ignored)}, {"Element '' unknown in DTD", at(4, "unexpected end of file in text")},
         {"start dictionary"}},
        {"ignored root", "dictionary", xml("<bogus><x/>text</bogus>\n\n"), 4, 1, {at(2, "invalid element 'bogus" + ignored)},
         {"Element 'bogus' unknown in DTD", at(3, "unexpected end of file in text")}, {}},
        {"ignored second root", "dictionary", xml("<dictionary/><dictionary/>\n"), 4, 0,
         {at(2, "invalid element 'dictionary" + ignored)},
         {"Element is invalid as successor of current element 'dictionary' in this context (0)"}, kEmptyDictionary},
        {"eof in the ignored tag", "dictionary", xml("<dictionary><bogus a=\"1\""), 4, 1,
         {at(2, "invalid element 'bogus" + ignored)},
         {"Element 'bogus' unknown in DTD", at(2, "unexpected end of file while opening element 'bogus'")},
         {"start dictionary"}},
        {"eof in a skipped tag", "dictionary", xml("<dictionary><bogus>\n<x"), 4, 1,
         {at(2, "invalid element 'bogus" + ignored)},
         {"Element 'bogus' unknown in DTD", at(3, "unexpected end of file while opening element 'x'")},
         {"start dictionary"}},
        {"attribute errors are not skipped", "heatmap", xml("<Heatmap><Colors gradient_color_space=\"x\"/></Heatmap>"), 4,
         1, {},
         {"Invalid attribute value 'x' for attribute 'gradient_color_space'",
          at(2, "error in attributes for element 'Colors'")},
         {"start Heatmap title= min_value=- max_value=-"}},
    });
}

TEST(Reader, SkippingWithoutHandlerRunsToTheEnd) {
    testing::TempFile f(xml("<translation><source/><source/><target/></translation>"));
    Result r = parse_file(*find_grammar("dictionary"), f.path().c_str(), nullptr, PARSE_IGNORE_WRONG_ELEMENTS);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.warning_messages.size(), 1u);
}

TEST(Reader, TrailingData) {
    run_cases({
        {"whitespace", "dictionary", xml("<dictionary/>\n \t\n"), 0, 0, {}, {}, kEmptyDictionary},
        {"garbage", "dictionary", xml("<dictionary/>\nx"), 0, 1, {}, {at(3, "trailing garbage at end of file")},
         kEmptyDictionary},
        {"garbage after blank lines", "dictionary", xml("<dictionary></dictionary>  \n\n  junk\n"), 0, 1, {},
         {at(4, "trailing garbage at end of file")}, kEmptyDictionary},
        {"text between roots", "dictionary", xml("<source/>text<target/>"), 0, 1, {},
         {at(2, "trailing garbage at end of file")}, {"start source", "end source"}},
        {"second root", "dictionary", xml("<dictionary/><dictionary/>"), 0, 1, {},
         {"Element is invalid as successor of current element 'dictionary' in this context (0)",
          at(2, "error while opening element 'dictionary'")},
         kEmptyDictionary},
        {"end tag after root", "dictionary", xml("<dictionary></dictionary></dictionary>"), 0, 1, {},
         {at(2, "error while closing element 'dictionary'")}, kEmptyDictionary},
        {"successor of the root accepted", "dictionary", xml("<source>a</source>\n<target/>\n"), 0, 0, {}, {},
         {"start source", "text source |a|", "end source", "start target", "end target"}},
        // The document stays complete once the root has closed: text is trailing data.
        {"text inside a later root", "dictionary", xml("<source/>\n<target>b</target>"), 0, 1, {},
         {at(3, "trailing garbage at end of file")}, {"start source", "end source", "start target"}},
    });
}

TEST(Reader, LineNumbers) {
    run_cases({
        {"first line", "dictionary", "<?xml version=\"1.0\"?><dictionary><bogus/>", 0, 1, {},
         {"Element 'bogus' unknown in DTD", at(1, "error while opening element 'bogus'")}},
        {"CR LF lines", "dictionary", "<?xml version=\"1.0\"?>\r\n<dictionary>\r\n\r\n<bogus/>", 0, 1, {},
         {"Element 'bogus' unknown in DTD", at(4, "error while opening element 'bogus'")}},
        {"CR alone is no line end", "dictionary", "<?xml version=\"1.0\"?>\r<dictionary>\r<bogus/>", 0, 1, {},
         {"Element 'bogus' unknown in DTD", at(1, "error while opening element 'bogus'")}},
    });
}

std::string many_lines(bool early_bogus) {
    // Line 1 declaration, 2 root, 3 to 4999 translations, 5000 <bogus/>.
    std::string body = "<dictionary>\n";
    for (int line = 3; line < 5000; ++line)
        body += line == 3 && early_bogus ? "<bogus/>\n" : "<translation><source>s</source><target>t</target></translation>\n";
    return xml(body + "<bogus/>\n</dictionary>\ngarbage\n");
}

TEST(Reader, LineNumbersBeyondTheFirstBuffer) {
    ASSERT_GT(many_lines(false).size(), 4u * 65536);
    run_cases({
        {"error on line 5000", "dictionary", many_lines(false), 0, 1, {},
         {"Element 'bogus' unknown in DTD", at(5000, "error while opening element 'bogus'")}},
        {"messages on lines 3, 5000 and 5002", "dictionary", many_lines(true), 4, 1,
         {at(3, "invalid element 'bogus' ignored - trying to continue"),
          at(5000, "invalid element 'bogus' ignored - trying to continue")},
         {"Element 'bogus' unknown in DTD", "Element 'bogus' unknown in DTD", at(5002, "trailing garbage at end of file")}},
    });
}

// 1 + the line feeds before the last character read.
int line_of(const std::string& doc, size_t last_read) {
    return 1 + static_cast<int>(std::count(doc.begin(), doc.begin() + static_cast<long>(last_read), '\n'));
}

TEST(Reader, LineNumbersAtBufferBoundaries) {
    const std::string head = xml("<dictionary/>");
    for (const std::string& unit : {std::string("\n"), std::string(" \n"), std::string("\n  ")}) {
        for (size_t offset = 65533; offset <= 65539; ++offset) {
            std::string doc = head;
            while (doc.size() < offset) doc += unit;
            doc.resize(offset);
            doc += 'x';
            testing::Outcome out = parse_document("dictionary", doc);
            EXPECT_EQ(out.result.errors, at(line_of(doc, offset), "trailing garbage at end of file"))
                << "garbage at offset " << offset;
        }
    }
    for (size_t size = 65534; size <= 65539; ++size) {
        std::string doc = xml("<dictionary>");
        doc.resize(size, '\n');
        testing::Outcome out = parse_document("dictionary", doc);
        EXPECT_EQ(out.result.errors, at(line_of(doc, size - 1), "unexpected end of file in text")) << "size " << size;
    }
}

TEST(Reader, FileThatCannotBeOpened) {
    testing::Recorder rec;
    Result r = parse_file(*find_grammar("dictionary"), "/nonexistent-tarvo-dir/doc.xml", &rec, PARSE_STRICT);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.errors, "Could not open file /nonexistent-tarvo-dir/doc.xml for reading");
    EXPECT_EQ(r.warnings, "");
    EXPECT_TRUE(rec.events.empty());
}

// Fails (as a host callback that raised would) at the first event that
// begins with `fail_on`.
class FailingHandler : public testing::Recorder {
public:
    explicit FailingHandler(std::string fail_on) : fail_on_(std::move(fail_on)) {}
    void start_tag(int e, std::string_view n, std::span<const Attribute> a) override {
        Recorder::start_tag(e, n, a);
        check();
    }
    void text(int e, std::string_view n, std::string_view t) override {
        Recorder::text(e, n, t);
        check();
    }
    void end_tag(int e, std::string_view n) override {
        Recorder::end_tag(e, n);
        check();
    }

private:
    void check() {
        if (events.back().rfind(fail_on_, 0) == 0) report_handler_error("callback raised");
    }
    std::string fail_on_;
};

TEST(Reader, HandlerFailureStopsTheParse) {
    struct Case {
        std::string fail_on;
        int flags;
        Lines events;
        Lines errors;
    };
    const std::string doc =
        xml("<dictionary><translation><source>s</source><bogus/><target/></translation></dictionary>");
    const Case cases[] = {
        {"start translation", 0, {"start dictionary", "start translation"}, {"callback raised"}},
        {"text source", 0, {"start dictionary", "start translation", "start source", "text source |s|"},
         {"callback raised"}},
        {"end source", 0, {"start dictionary", "start translation", "start source", "text source |s|", "end source"},
         {"callback raised"}},
        {"end target", 4,
         {"start dictionary", "start translation", "start source", "text source |s|", "end source", "start target",
          "end target"},
         {"Element 'bogus' unknown in DTD", "callback raised"}},
        {"end dictionary", 4,
         {"start dictionary", "start translation", "start source", "text source |s|", "end source", "start target",
          "end target", "end translation", "end dictionary"},
         {"Element 'bogus' unknown in DTD", "callback raised"}},
    };
    for (const Case& c : cases) {
        testing::TempFile f(doc);
        FailingHandler h(c.fail_on);
        Result r = parse_file(*find_grammar("dictionary"), f.path().c_str(), &h, c.flags);
        EXPECT_EQ(r.status, 3) << c.fail_on;
        EXPECT_EQ(h.events, c.events) << c.fail_on;
        EXPECT_EQ(r.error_messages, c.errors) << c.fail_on;
    }
}

// ---- Real documents of the six small grammars ----

TEST(SmallGrammars, LumoTools) {
    run_cases({
        {"tool set", "lumoTools",
         xml("<ToolSet>\n<Menu name=\"File\">\n"
             "<Tool name=\"Open\"><ToolCommand>open &quot;%f&quot;</ToolCommand><ToolShortcut>Ctrl+O</ToolShortcut>"
             "<ToolBinding>editor</ToolBinding></Tool>\n"
             "<Tool name=\"Quit\"><ToolCommand/></Tool>\n</Menu>\n"
             "<Menu name=\"Edit\"><Tool name=\"Cut\"><ToolCommand></ToolCommand></Tool></Menu>\n"
             "<AdditionHookCommand>add</AdditionHookCommand>\n<RemovalHookCommand>rm</RemovalHookCommand>\n</ToolSet>\n"),
         0, 0, {}, {},
         {"start ToolSet", "start Menu name=File", "start Tool name=Open", "start ToolCommand",
          "text ToolCommand |open \"%f\"|", "end ToolCommand", "start ToolShortcut", "text ToolShortcut |Ctrl+O|",
          "end ToolShortcut", "start ToolBinding", "text ToolBinding |editor|", "end ToolBinding", "end Tool",
          "start Tool name=Quit", "start ToolCommand", "end ToolCommand", "end Tool", "end Menu", "start Menu name=Edit",
          "start Tool name=Cut", "start ToolCommand", "end ToolCommand", "end Tool", "end Menu",
          "start AdditionHookCommand", "text AdditionHookCommand |add|", "end AdditionHookCommand",
          "start RemovalHookCommand", "text RemovalHookCommand |rm|", "end RemovalHookCommand", "end ToolSet"}},
        {"empty tool set", "lumoTools", xml("<ToolSet></ToolSet>"), 0, 0, {}, {}, {"start ToolSet", "end ToolSet"}},
        {"menu without tool", "lumoTools", xml("<ToolSet>\n<Menu name=\"M\">\n</Menu>\n</ToolSet>"), 0, 1, {},
         {"Missing first child for container element 'Menu'", at(4, "error while closing element 'Menu'")},
         {"start ToolSet", "start Menu name=M"}},
        {"shortcut without binding", "lumoTools",
         xml("<ToolSet><Menu name=\"M\"><Tool name=\"T\"><ToolCommand>c</ToolCommand><ToolShortcut>s</ToolShortcut>"
             "</Tool></Menu></ToolSet>"),
         0, 1, {},
         {"Missing successor for current element 'ToolShortcut' in this context (0)",
          at(2, "error while closing element 'Tool'")}},
        {"binding without shortcut", "lumoTools",
         xml("<Tool name=\"T\"><ToolCommand/><ToolBinding/></Tool>"), 0, 1, {},
         {"Element is invalid as successor of current element 'ToolCommand' in this context (0)",
          at(2, "error while opening element 'ToolBinding'")}},
        {"hooks swapped", "lumoTools", xml("<ToolSet><RemovalHookCommand/><AdditionHookCommand/></ToolSet>"), 0, 1, {},
         {"Element is invalid as successor of current element 'RemovalHookCommand' in this context (0)",
          at(2, "error while opening element 'AdditionHookCommand'")},
         {"start ToolSet", "start RemovalHookCommand", "end RemovalHookCommand"}},
        {"menu without name", "lumoTools", xml("<ToolSet><Menu><Tool name=\"t\"><ToolCommand/></Tool></Menu></ToolSet>"),
         0, 1, {}, {"No value found for mandatory attribute 'name'", at(2, "error in attributes for element 'Menu'")},
         {"start ToolSet"}},
        {"late menu skipped", "lumoTools",
         xml("<ToolSet><AdditionHookCommand>a</AdditionHookCommand><Menu name=\"late\"><Tool name=\"t\">"
             "<ToolCommand>x</ToolCommand></Tool></Menu><RemovalHookCommand/></ToolSet>"),
         4, 0, {at(2, "invalid element 'Menu' ignored - trying to continue")},
         {"Element is invalid as successor of current element 'AdditionHookCommand' in this context (0)"},
         {"start ToolSet", "start AdditionHookCommand", "text AdditionHookCommand |a|", "end AdditionHookCommand",
          "start RemovalHookCommand", "end RemovalHookCommand", "end ToolSet"}},
    });
}

const std::string kNodeDefaults = "type=sys symbolId= diagramFileName=";

TEST(SmallGrammars, LumoCodeCoverage) {
    const std::string leaf = "<CodeCoverageResultNode name=\"n\" minHit=\"0\" maxHit=\"0\"/>";
    const std::string leaf_event = "start CodeCoverageResultNode " + kNodeDefaults + " name=n minHit=0 maxHit=0";
    run_cases({
        {"results", "lumoCodeCoverage",
         xml("<CodeCoverageResults>\n<CodeCoverageResultNode name=\"sys\" minHit=\"0\" maxHit=\"3\">\n"
             "<CoveringTestcase>tc1</CoveringTestcase>\n<CoveringTestcase/>\n"
             "<CodeCoverageResultNode name=\"s1\" minHit=\"1\" maxHit=\"1\" type=\"state\" symbolId=\"7\" "
             "diagramFileName=\"a.ssy\"/>\n"
             "<CodeCoverageResultNode name=\"s2\" minHit=\"0\" maxHit=\"0\" type=\"exclusiveGateway\">"
             "</CodeCoverageResultNode>\n</CodeCoverageResultNode>\n</CodeCoverageResults>\n"),
         0, 0, {}, {},
         {"start CodeCoverageResults displayMode=hits",
          "start CodeCoverageResultNode " + kNodeDefaults + " name=sys minHit=0 maxHit=3", "start CoveringTestcase",
          "text CoveringTestcase |tc1|", "end CoveringTestcase", "start CoveringTestcase", "end CoveringTestcase",
          "start CodeCoverageResultNode type=state symbolId=7 diagramFileName=a.ssy name=s1 minHit=1 maxHit=1",
          "end CodeCoverageResultNode",
          "start CodeCoverageResultNode type=exclusiveGateway symbolId= diagramFileName= name=s2 minHit=0 maxHit=0",
          "end CodeCoverageResultNode", "end CodeCoverageResultNode", "end CodeCoverageResults"}},
        {"wrong display mode", "lumoCodeCoverage",
         xml("<CodeCoverageResults displayMode=\"count\">" + leaf + "</CodeCoverageResults>"), 0, 1, {},
         {"Invalid attribute value 'count' for attribute 'displayMode'",
          at(2, "error in attributes for element 'CodeCoverageResults'")},
         {}},
        {"wrong display mode tolerated", "lumoCodeCoverage",
         xml("<CodeCoverageResults displayMode=\"count\">" + leaf + "</CodeCoverageResults>"), 1, 0,
         {"Invalid attribute value 'count' for attribute 'displayMode' - getting default value"}, {},
         {"start CodeCoverageResults displayMode=hits", leaf_event, "end CodeCoverageResultNode",
          "end CodeCoverageResults"}},
        {"wrong type tolerated", "lumoCodeCoverage",
         xml("<CodeCoverageResultNode name=\"n\" minHit=\"0\" maxHit=\"0\" type=\"Task\"/>"), 1, 0,
         {"Invalid attribute value 'Task' for attribute 'type' - getting default value"}, {},
         {leaf_event, "end CodeCoverageResultNode"}},
        {"name and minHit missing", "lumoCodeCoverage",
         xml("<CodeCoverageResults><CodeCoverageResultNode maxHit=\"1\"/></CodeCoverageResults>"), 0, 1, {},
         {"No value found for mandatory attribute 'name'",
          at(2, "error in attributes for element 'CodeCoverageResultNode'")},
         {"start CodeCoverageResults displayMode=hits"}},
        {"two nodes in the results", "lumoCodeCoverage", xml("<CodeCoverageResults>" + leaf + leaf + "</CodeCoverageResults>"),
         0, 1, {},
         {"Element is invalid as successor of current element 'CodeCoverageResultNode' in this context (0)",
          at(2, "error while opening element 'CodeCoverageResultNode'")},
         {"start CodeCoverageResults displayMode=hits", leaf_event, "end CodeCoverageResultNode"}},
        {"test case after a child node", "lumoCodeCoverage",
         xml("<CodeCoverageResultNode name=\"n\" minHit=\"0\" maxHit=\"0\">" + leaf +
             "<CoveringTestcase/></CodeCoverageResultNode>"),
         0, 1, {},
         {"Element is invalid as successor of current element 'CodeCoverageResultNode' in this context (1)",
          at(2, "error while opening element 'CoveringTestcase'")}},
    });
}

TEST(SmallGrammars, LumoMSCBasedSystemCheckReport) {
    const char* g = "lumoMSCBasedSystemCheckReport";
    const std::string results = "<CodeCoverageResults><CodeCoverageResultNode name=\"n\" minHit=\"0\" maxHit=\"1\"/>"
                                "</CodeCoverageResults>";
    run_cases({
        {"report", g,
         xml("<MSCBasedSystemCheckReport>\n<Scenario full_name=\"a.b\" verdict=\"pass\"/>\n"
             "<Scenario full_name=\"c\" verdict=\"fail\" failed_link_id=\"3\" expected_link_text=\"x &gt; y\"/>\n"
             "<SymbolCoverage nb_symbols_total=\"12\">\n" + results +
             "\n<CodeCoverageResults><CodeCoverageResultNode name=\"m\" minHit=\"1\" maxHit=\"2\" type=\"msgin\">"
             "<CoveringTestcase>t</CoveringTestcase></CodeCoverageResultNode></CodeCoverageResults>\n"
             "</SymbolCoverage>\n</MSCBasedSystemCheckReport>\n"),
         0, 0, {}, {},
         {"start MSCBasedSystemCheckReport", "start Scenario full_name=a.b failed_link_id= verdict=pass expected_link_text=",
          "end Scenario", "start Scenario full_name=c failed_link_id=3 verdict=fail expected_link_text=x > y",
          "end Scenario", "start SymbolCoverage nb_symbols_total=12", "start CodeCoverageResults",
          "start CodeCoverageResultNode " + kNodeDefaults + " name=n minHit=0 maxHit=1", "end CodeCoverageResultNode",
          "end CodeCoverageResults", "start CodeCoverageResults",
          "start CodeCoverageResultNode type=msgin symbolId= diagramFileName= name=m minHit=1 maxHit=2",
          "start CoveringTestcase", "text CoveringTestcase |t|", "end CoveringTestcase", "end CodeCoverageResultNode",
          "end CodeCoverageResults", "end SymbolCoverage", "end MSCBasedSystemCheckReport"}},
        {"empty report", g, xml("<MSCBasedSystemCheckReport/>"), 0, 1, {},
         {"Missing first child for container element 'MSCBasedSystemCheckReport'",
          at(2, "error while closing element 'MSCBasedSystemCheckReport'")},
         {"start MSCBasedSystemCheckReport"}},
        {"scenarios only", g,
         xml("<MSCBasedSystemCheckReport><Scenario full_name=\"a\" verdict=\"v\"/></MSCBasedSystemCheckReport>"), 0, 1,
         {},
         {"Missing successor for current element 'Scenario' in this context (0)",
          at(2, "error while closing element 'MSCBasedSystemCheckReport'")}},
        {"one result tree", g, xml("<SymbolCoverage nb_symbols_total=\"1\">" + results + "</SymbolCoverage>"), 0, 1, {},
         {"Missing successor for current element 'CodeCoverageResults' in this context (0)",
          at(2, "error while closing element 'SymbolCoverage'")}},
        {"displayMode undeclared", g,
         xml("<CodeCoverageResults displayMode=\"hits\"><CodeCoverageResultNode name=\"n\" minHit=\"0\" maxHit=\"1\"/>"
             "</CodeCoverageResults>"),
         0, 1, {}, {"Unknown attribute 'displayMode'", at(2, "error in attributes for element 'CodeCoverageResults'")},
         {}},
        {"displayMode tolerated", g,
         xml("<CodeCoverageResults displayMode=\"hits\"><CodeCoverageResultNode name=\"n\" minHit=\"0\" maxHit=\"1\"/>"
             "</CodeCoverageResults>"),
         2, 0, {"Unknown attribute 'displayMode'"}, {},
         {"start CodeCoverageResults displayMode=hits",
          "start CodeCoverageResultNode " + kNodeDefaults + " name=n minHit=0 maxHit=1", "end CodeCoverageResultNode",
          "end CodeCoverageResults"}},
        {"text in a scenario", g, xml("<Scenario full_name=\"a\" verdict=\"v\">x</Scenario>"), 0, 1, {},
         {"Element is invalid as first child of container element 'Scenario'",
          at(2, "character data is not allowed here")},
         {"start Scenario full_name=a failed_link_id= verdict=v expected_link_text="}},
        {"scenario without verdict and full_name", g, xml("<Scenario/>"), 0, 1, {},
         {"No value found for mandatory attribute 'verdict'", at(2, "error in attributes for element 'Scenario'")}, {}},
    });
}

TEST(SmallGrammars, Dictionary) {
    run_cases({
        {"dictionary", "dictionary",
         xml("<dictionary>\n  <translation>\n    <source>Open &amp; save</source>\n"
             "    <target>Avaa &amp; tallenna</target>\n  </translation>\n"
             "  <translation><source/><target></target></translation>\n</dictionary>\n"),
         0, 0, {}, {},
         {"start dictionary", "start translation", "start source", "text source |Open & save|", "end source",
          "start target", "text target |Avaa & tallenna|", "end target", "end translation", "start translation",
          "start source", "end source", "start target", "end target", "end translation", "end dictionary"}},
        {"attribute refused", "dictionary", xml("<dictionary lang=\"fi\"/>"), 0, 1, {},
         {"Unknown attribute 'lang'", at(2, "error in attributes for element 'dictionary'")}, {}},
        {"attribute tolerated", "dictionary", xml("<dictionary lang=\"fi\"/>"), 2, 0, {"Unknown attribute 'lang'"}, {},
         {"start dictionary lang=fi", "end dictionary"}},
        {"second target", "dictionary", xml("<translation><source/><target/><target/></translation>"), 0, 1, {},
         {"Element is invalid as successor of current element 'target' in this context (0)",
          at(2, "error while opening element 'target'")}},
        {"target first", "dictionary", xml("<translation><target/></translation>"), 0, 1, {},
         {"Element is invalid as first child of container element 'translation'",
          at(2, "error while opening element 'target'")}},
        {"target as root", "dictionary", xml("<target>t</target>"), 0, 0, {}, {},
         {"start target", "text target |t|", "end target"}},
        {"names are case-sensitive", "dictionary", xml("<Dictionary/>"), 0, 1, {},
         {"Element 'Dictionary' unknown in DTD", at(2, "error while opening element 'Dictionary'")}, {}},
    });
}

TEST(SmallGrammars, BpmnProject) {
    run_cases({
        {"project", "bpmn_project",
         xml("<BpmnProject>\n<ElementNode file_name=\"a.bpmn\" type=\"bpmn_model\">\n"
             "  <ElementNode file_name=\"b.msc\" type=\"msc\">\n    <ElementNode file_name=\"c.hm\" type=\"heatmap\"/>\n"
             "  </ElementNode>\n</ElementNode>\n<ElementNode file_name=\"d\" type=\"bpsim_results\"></ElementNode>\n"
             "</BpmnProject>\n"),
         0, 0, {}, {},
         {"start BpmnProject", "start ElementNode type=bpmn_model file_name=a.bpmn",
          "start ElementNode type=msc file_name=b.msc", "start ElementNode type=heatmap file_name=c.hm",
          "end ElementNode", "end ElementNode", "end ElementNode", "start ElementNode type=bpsim_results file_name=d",
          "end ElementNode", "end BpmnProject"}},
        {"empty project", "bpmn_project", xml("<BpmnProject></BpmnProject>"), 0, 0, {}, {},
         {"start BpmnProject", "end BpmnProject"}},
        {"text in a node", "bpmn_project",
         xml("<BpmnProject><ElementNode file_name=\"a\" type=\"msc\"> x </ElementNode></BpmnProject>"), 0, 1, {},
         {"Element is invalid as first child of container element 'ElementNode'",
          at(2, "character data is not allowed here")}},
        {"type in capitals", "bpmn_project",
         xml("<BpmnProject><ElementNode file_name=\"a\" type=\"BPMN_MODEL\"/></BpmnProject>"), 0, 1, {},
         {"Invalid attribute value 'BPMN_MODEL' for attribute 'type'",
          at(2, "error in attributes for element 'ElementNode'")}},
        {"type in capitals, tolerant", "bpmn_project",
         xml("<BpmnProject><ElementNode file_name=\"a\" type=\"BPMN_MODEL\"/></BpmnProject>"), 1, 1, {},
         {"Invalid attribute value 'BPMN_MODEL' for attribute 'type'",
          at(2, "error in attributes for element 'ElementNode'")}},
        {"no file name", "bpmn_project", xml("<BpmnProject><ElementNode type=\"msc\"/></BpmnProject>"), 0, 1, {},
         {"No value found for mandatory attribute 'file_name'", at(2, "error in attributes for element 'ElementNode'")},
         {"start BpmnProject"}},
    });
}

TEST(SmallGrammars, Heatmap) {
    const std::string colors = "start Colors init_alpha=0.75 gradient_color_space=HSVs min_color=#00FF00 max_color=#FF0000";
    const std::string element = "<Element model_file=\"m\" id=\"i\" value=\"1\"/>";
    run_cases({
        {"heat map", "heatmap",
         xml("<Heatmap title=\"Load\" min_value=\"0\" max_value=\"10\">\n<Colors/>\n"
             "<Element model_file=\"m.bpmn\" id=\"Task_1\" value=\"7\"/>\n"
             "<Element model_file=\"m.bpmn\" id=\"Task_2\" value=\"high\" label=\"peak\"/>\n</Heatmap>\n"),
         0, 0, {}, {},
         {"start Heatmap title=Load min_value=0 max_value=10", colors, "end Colors",
          "start Element model_file=m.bpmn id=Task_1 value=7 label=", "end Element",
          "start Element model_file=m.bpmn id=Task_2 value=high label=peak", "end Element", "end Heatmap"}},
        {"defaults", "heatmap", xml("<Heatmap/>"), 0, 0, {}, {}, {"start Heatmap title= min_value=- max_value=-", "end Heatmap"}},
        {"wrong colour space", "heatmap", xml("<Heatmap><Colors gradient_color_space=\"CMYK\"/></Heatmap>"), 0, 1, {},
         {"Invalid attribute value 'CMYK' for attribute 'gradient_color_space'",
          at(2, "error in attributes for element 'Colors'")}},
        {"wrong colour space tolerated", "heatmap", xml("<Heatmap><Colors gradient_color_space=\"CMYK\"/></Heatmap>"), 1,
         0, {"Invalid attribute value 'CMYK' for attribute 'gradient_color_space' - getting default value"}, {},
         {"start Heatmap title= min_value=- max_value=-",
          "start Colors gradient_color_space=HSVs init_alpha=0.75 min_color=#00FF00 max_color=#FF0000", "end Colors",
          "end Heatmap"}},
        {"colors after element", "heatmap", xml("<Heatmap>" + element + "<Colors/></Heatmap>"), 0, 1, {},
         {"Element is invalid as successor of current element 'Element' in this context (0)",
          at(2, "error while opening element 'Colors'")}},
        {"second colors", "heatmap", xml("<Heatmap><Colors/><Colors/></Heatmap>"), 0, 1, {},
         {"Element is invalid as successor of current element 'Colors' in this context (0)",
          at(2, "error while opening element 'Colors'")}},
        {"free values not examined", "heatmap",
         xml("<Heatmap><Colors init_alpha=\"opaque\" min_color=\"green\"/>"
             "<Element model_file=\"m\" id=\"i\" value=\"n/a\"/></Heatmap>"),
         0, 0, {}, {},
         {"start Heatmap title= min_value=- max_value=-",
          "start Colors init_alpha=opaque gradient_color_space=HSVs min_color=green max_color=#FF0000", "end Colors",
          "start Element model_file=m id=i value=n/a label=", "end Element", "end Heatmap"}},
        {"text in the heat map", "heatmap", xml("<Heatmap>" + element + "x</Heatmap>"), 0, 1, {},
         {"Element is invalid as successor of current element 'Element' in this context (0)",
          at(2, "character data is not allowed here")}},
    });
}

}  // namespace
}  // namespace tarvo
