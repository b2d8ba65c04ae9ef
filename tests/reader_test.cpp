// The file reader end to end: documents in, events and messages out.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

const Lines kEmptyDictionary = {"start dictionary", "end dictionary"};
constexpr int kSkip = bit(Flags::ignore_wrong_elements);

TEST(Reader, Prolog) {
    run_cases("dictionary", {
        {"keyword case, whitespace, encoding without effect",
         "\n\n <? \tXmL version = \"1.0\" encoding=\"ISO-8859-1\"\n?>\n<source>caf\xe9</source>", 0, 0, "", "",
         {"start source", "text source |caf\xe9|", "end source"}},
        {"'<' space '?'", "< ?xml version=\"1.0\"?>", 0, 1, at(1, "found ' ' where '?' expected")},
        {"root first", "\n<dictionary/>", 0, 1, at(2, "found 'd' where '?' expected")},
        {"not xml", "<?xmi version=\"1.0\"?>", 0, 1, at(1, "found 'i' where XML declaration expected")},
        {"no version: names are case-sensitive", "<?xml Version=\"1.0\"?><dictionary/>", 0, 0, "",
         "File doc.xml: no version in XML declaration; assuming 1.0", kEmptyDictionary},
        {"version 1.1", "<?xml\nversion=\"1.1\"\n?>\n<x/>", 0, 1, at(3, "XML version is not 1.0; cannot parse")},
        {"':' for '='", "<?xml version:\"1.0\"?>", 0, 1,
         at(1, "found ':' where '=' expected") + "\n" + at(1, "found ':' where '?' expected")},
        accepted("<!DOCTYPE dictionary SYSTEM \"d.dtd\">\n<dictionary/>", kEmptyDictionary),
        refused("<!DOCTYPE d [\n<!ELEMENT d ANY>\n]>\n<dictionary/>", at(4, "found ']' where '<' expected")),
        refused("<", at(2, "unexpected end of file before the root element")),
        {"nothing after the declaration", xml(""), 0, 1, at(1, "found '\xff' where '<' expected")},  // '%c' of -1
        {"empty file", "", 0, 1, at(1, "found '\xff' where '<' expected")},
    });
}

TEST(Reader, TagsAndTrailingData) {
    const S long_name(3000, 'N');  // no name or message is cut short
    run_cases("dictionary", {
        accepted("<\n dictionary >< translation\n>< source>a</ source><target / ></\ttranslation></ dictionary>",
                 {"start dictionary", "start translation", "start source", "text source |a|", "end source",
                  "start target", "end target", "end translation", "end dictionary"}),
        refused("<target></target\n>", at(2, "found '\n' where '>' expected")),
        {"NUL ends a message", xml(S("<dictionary\0>", 13)), 0, 1, at(2, "found '")},
        refused("<dictionary><x:y/>", opening(unknown("x:y"), "x:y")),
        refused("<target>\n<" + long_name + "/>", opening(unknown(long_name), long_name, 3)),
        refused("</ dictionary>", at(2, "error while closing element 'dictionary'")),
        refused("<dictionary><translation/>", closing(missing_first("translation"), "translation")),
        refused("<dictionary>\n\n<source/>", opening(first_child("dictionary"), "source", 4)),
        accepted("<dictionary/>\n \t\n", kEmptyDictionary),
        refused("<dictionary></dictionary>  \n\n  junk\n", at(4, "trailing garbage at end of file")),
        accepted("<source>a</source>\n<target/>\n",
                 {"start source", "text source |a|", "end source", "start target", "end target"}),
        {"text inside a later root: the document stays complete", xml("<source/>\n<target>b</target>"), 0, 1,
         at(3, "trailing garbage at end of file"), "", {"start source", "end source", "start target"}},
    });
}

TEST(Reader, Attributes) {
    const S long_name(3000, 'a');  // bucket 23, after the declared names
    auto start = [](const S& title, const S& min = "-", const S& max = "-") {
        return "start Heatmap title=" + title + " min_value=" + min + " max_value=" + max;
    };
    run_cases("heatmap", {
        accepted("<Heatmap title\n=  \"T\"min_value=\"0\"/>", {start("T", "0"), "end Heatmap"}),
        refused("<Colors x:y=\"u\"/>", in_attributes(at(2, "found ':' where '=' expected"), "Colors")),
        refused("<Heatmap\nx-y=\"1\"/>", in_attributes(at(3, "found '-' where '=' expected"), "Heatmap", 3)),
        refused("<Heatmap _x=\"1\"/>", at(2, "found '_' where '>' expected")),  // a name starts with a letter
        accepted("<Heatmap title=\"a>b/c=d\ne&lt;&gt;&amp;&quot;&#65;&amp;lt;&\"/>",
                 {start("a>b/c=d\ne<>&\"&#65;&lt;&"), "end Heatmap"}),
        accepted("<Heatmap title=\"a\" min_value=\"1\" title=\"b\"/>", {start("b", "1"), "end Heatmap"}),
        {"eof inside a value", xml("<Heatmap title=\"abc\n"), 0, 1, at(2, "found '\xff' where '>' expected"), "",
         {start("abc\n")}},
        accepted("<Heatmap title='a \"b\">c' min_value='1'/>", {start("a \"b\">c", "1"), "end Heatmap"}),
        {"unquoted: opener dropped, ends at whitespace", xml("<Heatmap title=xyz max_value=-5 ></Heatmap>"), 0, 0, "",
         "", {start("yz", "-", "5"), "end Heatmap"}},
        {"long attribute name tolerated", xml("<Heatmap " + long_name + "=\"v\"/>"), bit(Flags::ignore_unknown_attributes), 0,
         "", unknown_attribute(long_name), {start("") + " " + long_name + "=v", "end Heatmap"}},
    });
    // An element that declares no attribute: what a tag gives is still delivered.
    run_cases("dictionary", {
        {"undeclared names where none is declared", xml("<source ab=\"2\" ba=\"1\">x</source>"),
         bit(Flags::ignore_unknown_attributes), 0, "", unknown_attribute("ba") + "\n" + unknown_attribute("ab"),
         {"start source ba=1 ab=2", "text source |x|", "end source"}},  // buckets 1 and 2
    });
}

TEST(Reader, Text) {
    auto source = [](const S& text) { return Lines{"start source", "text source |" + text + "|", "end source"}; };
    run_cases("dictionary", {
        accepted("<source> \r\n\t </source>", {"start source", "end source"}),  // whitespace only: no event
        accepted("<source>\n a \n</source>", source("\n a \n")),
        accepted("<source>a\r\nb\rc</source>", source("a\nbc")),
        accepted("<source>\r\n x</source>", source("\n x")),  // also in the leading whitespace
        accepted(S("<source>\0a\0b</source>", 21), source("ab")),
        accepted("<source>&lt; &amp;lt; &#65; &foo; & &quot;&gt;</source>", source("< &lt; &#65; &foo; & \">")),
        refused("<translation>x</translation>", no_text(first_child("translation"))),
        refused("<dictionary>\n", at(2, "unexpected end of file in text")),
    });
}

TEST(Reader, SkippingWrongElements) {
    run_cases("dictionary", {
        {"subtree skipped", xml("<dictionary>\n<translation>\n<target>t<source x=\"/\">deep<b/></source><source/>"
                                "</target>\n<source>s</source>\n<target>t</target>\n</translation>\n</dictionary>\n"),
         kSkip, 0, first_child("translation"), ignored("target", 4),
         {"start dictionary", "start translation", "start source", "text source |s|", "end source", "start target",
          "text target |t|", "end target", "end translation", "end dictionary"}},
        {"ignored empty-element tags", xml("<translation><source/><source/><target/><target/></translation>"), kSkip, 0,
         successor("source", 0) + "\n" + successor("target", 0), ignored("source") + "\n" + ignored("target"),
         {"start translation", "start source", "end source", "start target", "end target", "end translation"}},
        {"sibling checked as if the ignored were absent", xml("<translation><source/><bogus>x</bogus></translation>"),
         kSkip, 1, unknown("bogus") + "\n" + closing(missing_successor("source", 0), "translation"), ignored("bogus")},
        {"comment swallows the enclosing end tag", xml("<dictionary><!-- note --></dictionary>"), kSkip, 1,
         unknown("") + "\n" + at(2, "unexpected end of file in text"), ignored("")},
        {"ignored root", xml("<bogus><x/>text</bogus>\n\n"), kSkip, 1,
         unknown("bogus") + "\n" + at(3, "unexpected end of file in text"), ignored("bogus"), {}},
        {"ignored second root", xml("<dictionary/><dictionary/>\n"), kSkip, 0, successor("dictionary", 0),
         ignored("dictionary"), kEmptyDictionary},
        {"eof in a skipped tag", xml("<dictionary><bogus>\n<x"), kSkip, 1,
         unknown("bogus") + "\n" + at(3, "unexpected end of file while opening element 'x'"), ignored("bogus")},
        {"eof in the ignored tag", xml("<dictionary><bogus a=\"1\""), kSkip, 1,
         unknown("bogus") + "\n" + at(2, "unexpected end of file while opening element 'bogus'"), ignored("bogus")},
    });
    run_cases("heatmap", {
        {"'/' in a value of an ignored element", xml("<Heatmap><Colors/><Colors min_color=\"a/b\"/>"), kSkip, 1,
         successor("Colors", 0) + "\n" + at(2, "found 'b' where '>' expected"), ignored("Colors")},
    });
    TempFile f(xml("<translation><source/><source/><target/></translation>"));  // no handler: runs to the end too
    EXPECT_EQ(parse_file(grammar("dictionary"), f.path().c_str(), nullptr, Flags(kSkip)).status, Status::ok);
}

TEST(Reader, LineNumbers) {
    S body = "<dictionary>\n<bogus/>\n";  // lines 4 to 4999 hold translations, over several buffers
    for (int line = 4; line < 5000; ++line) body += "<translation><source>s</source><target>t</target></translation>\n";
    std::vector<DocCase> cases = {
        {"CR LF", "<?xml version=\"1.0\"?>\r\n<target>\r\n\r\n<bogus/>", 0, 1, opening(unknown("bogus"), "bogus", 4)},
        {"CR alone", "<?xml version=\"1.0\"?>\r<dictionary>\r<bogus/>", 0, 1, opening(unknown("bogus"), "bogus", 1)},
        {"lines 3, 5000 and 5002", xml(body + "<bogus/>\n</dictionary>\ngarbage\n"), kSkip, 1,
         unknown("bogus") + "\n" + unknown("bogus") + "\n" + at(5002, "trailing garbage at end of file"),
         ignored("bogus", 3) + "\n" + ignored("bogus", 5000)},
    };
    // Around the end of the first 64 KiB buffer: the line of the last character read.
    auto line = [](const S& doc, size_t n) { return 1 + std::count(doc.begin(), doc.begin() + n, '\n'); };
    for (const S& unit : {S("\n"), S(" \n"), S("\n  ")}) {
        for (size_t offset = 65533; offset <= 65539; ++offset) {
            S doc = xml("<dictionary/>");
            while (doc.size() < offset) doc += unit;
            doc.resize(offset);
            cases.push_back({"x at " + std::to_string(offset), doc + "x", 0, 1,
                             at(line(doc, offset), "trailing garbage at end of file")});
        }
    }
    for (size_t size = 65534; size <= 65539; ++size) {
        S doc = xml("<dictionary>");
        doc.resize(size, '\n');
        cases.push_back({"size " + std::to_string(size), doc, 0, 1,
                         at(line(doc, size - 1), "unexpected end of file in text")});
    }
    run_cases("dictionary", cases);
}

TEST(Reader, HandlerFailureStopsTheParse) {
    const Lines all = {"start dictionary", "start translation", "start source", "text source |s|", "end source",
                       "start target", "end target", "end translation", "end dictionary"};
    TempFile f(xml("<dictionary><translation><source>s</source><bogus/><target/></translation></dictionary>"));
    // After an ignored element only a failing call itself gives status 3.
    for (auto [fail_on, flags, events] : {std::tuple{"start translation", 0, 2}, {"text source", 0, 4},
                                          {"end source", 0, 5}, {"end dictionary", kSkip, 9}}) {
        Recorder h;
        h.after_event = fail_at(fail_on);
        Result r = parse_file(grammar("dictionary"), f.path().c_str(), &h, Flags(flags));
        EXPECT_EQ(r.status, Status::handler_failed) << fail_on;
        EXPECT_EQ(h.events, Lines(all.begin(), all.begin() + events)) << fail_on;
        EXPECT_EQ(r.errors(), S(flags ? unknown("bogus") + "\n" : "") + "callback raised") << fail_on;
    }
}

TEST(Reader, TagAcrossTheEndOfABuffer) {
    // The end of the first 64 KiB buffer falls at every place of a tag:
    // whatever was read before the refill must come through it unchanged.
    const S tags[] = {
        "<Heatmap title=\"T&amp;\" min_value='0' max_value=\"9\" title=\"U\"><Colors min_color=\"#1\"/></Heatmap>",
        "<Heatmap title=\"T\" min_value=\"0\" zeta=\"u\" max_value=\"9\"/>",
    };
    for (const S& tag : tags) {
        auto outcome = [&](size_t pad) {
            TempFile f(xml(S(pad, ' ') + tag + S(70000, ' ')));  // the refill overwrites the whole buffer
            Recorder r;
            Result res = parse_file(grammar("heatmap"), f.path().c_str(), &r, Flags::ignore_unknown_attributes);
            S all = std::to_string(static_cast<int>(res.status)) + S(res.warnings()) + "|" + S(res.errors());
            for (const S& e : r.events) all += "\n" + e;
            return all;
        };
        const S expected = outcome(0);
        const size_t head = xml("").size();
        for (size_t cut = 1; cut < tag.size(); ++cut)
            EXPECT_EQ(outcome(65536 - head - cut), expected) << tag << " cut " << cut;
    }
}

}  // namespace
}  // namespace tarvo
