// The span of the token each record is about, for every kind of problem:
// the same from memory, from a source split into single bytes and from a
// stream read one byte per call, so every token straddles a refill there.
// Columns count bytes.
#include <gtest/gtest.h>

#include <tuple>

#include "bytewise_input.h"
#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

struct SpanCase {
    const char* grammar;
    S body;  // from line 2 on
    Flags flags;
    Lines records;  // as records() shows them: LINE:COLUMN-END
};

struct Bytes {
    S data;
    size_t at = 0;
    static int next(void* self) {
        auto* b = static_cast<Bytes*>(self);
        return b->at < b->data.size() ? static_cast<unsigned char>(b->data[b->at++]) : -1;
    }
};

// A problem whose cause and the reader's line after it point at one token.
Lines twice(const S& record) { return {record, record}; }
// A wrong gradient_color_space at `span`, then the reader's line at its element.
Lines wrong_space(const S& span, char severity = 'E') {
    const S rule = " <Colors> @gradient_color_space [HSVs,HSVl,RGB]";
    if (severity == 'W') return {"W wrong_attribute_value " + span + rule};
    return {"E wrong_attribute_value " + span + rule, "E wrong_attribute_value 2:11-17" + rule};
}

TEST(Spans, EachProblemPointsAtItsToken) {
    const Flags strict = Flags::strict, xml_mode = Flags::xml;
    const SpanCase cases[] = {
        // A wrong value: the value, inside its quotes; on a later line of its tag, with whitespace around '=';
        // given twice, the later value, which is the one kept; empty, an empty span between the quotes.
        {"heatmap", "<Heatmap><Colors gradient_color_space=\"hsv\"/>", strict, wrong_space("2:40-43")},
        {"heatmap", "<Heatmap><Colors\n   gradient_color_space = 'hsv' />", strict, wrong_space("3:28-31")},
        {"heatmap", "<Heatmap><Colors gradient_color_space=\"RGB\" gradient_color_space=\"bad\"/>", strict,
         wrong_space("2:67-70")},
        {"heatmap", "<Heatmap><Colors gradient_color_space=''/>", strict, wrong_space("2:40-40")},
        {"heatmap", "<Heatmap><Colors gradient_color_space=\"x\"/></Heatmap>", Flags::ignore_wrong_attributes,
         wrong_space("2:40", 'W')},
        // An undeclared attribute: its name; the bytes of "é" count two.
        {"heatmap", "<Heatmap title=\"\xC3\xA9\" foo=\"1\">", strict,
         {"E unknown_attribute 2:21-24 <Heatmap> @foo", "E unknown_attribute 2:2-9 <Heatmap> @foo"}},
        {"heatmap", "<Heatmap foo='1'></Heatmap>", Flags::ignore_unknown_attributes,
         {"W unknown_attribute 2:10-13 <Heatmap> @foo"}},
        // A missing attribute: the element's name.
        {"heatmap", "<Heatmap>\n  <Element id=\"a\"/>", strict,
         twice("E missing_attribute 3:4-11 <Element> @model_file")},
        // An unknown or a misplaced element: its name; a skipped one warns, and its parent goes on.
        {"heatmap", "<Heatmap>\n\t<Nope/>", strict, twice("E unknown_element 3:3-7 <Nope>")},
        {"dictionary", "<dictionary><translation>\n <target>", strict,
         twice("E misplaced_element 3:3-9 <target> [source]")},
        {"dictionary", "<dictionary><translation><source>a</source><source>", strict,
         twice("E misplaced_element 2:45-51 <source> [target]")},
        {"dictionary", "<dictionary>\n<translation>\n<Bogus/></translation>", Flags::ignore_wrong_elements,
         {"E unknown_element 4:2-7 <Bogus>", "W unknown_element 4:2-7 <Bogus>",
          "E misplaced_element 4:11-22 <translation> [source]", "E misplaced_element 4:11-22 <translation> [source]"}},
        // A missing child: the end tag's name, or the empty element's.
        {"dictionary", "<dictionary><translation></translation>", strict,
         twice("E misplaced_element 2:28-39 <translation> [source]")},
        {"dictionary", "<dictionary><translation></translation \n>", xml_mode,
         twice("E misplaced_element 2:28-39 <translation> [source]")},
        {"dictionary", "<dictionary><translation\n/>", strict,
         twice("E misplaced_element 2:14-25 <translation> [source]")},
        // Character data: its non-blank part, over lines; carriage returns
        // count as the bytes they are.
        {"dictionary", "<dictionary><translation>\n  some\n  text  \n</translation>", strict,
         twice("E text_not_allowed 3:3-4:7 <translation> [source]")},
        {"dictionary", "<dictionary><translation>\r\n\r\nhi \r\n</translation>", strict,
         twice("E text_not_allowed 4:1-3 <translation> [source]")},
        {"dictionary", "<dictionary><translation>a<!-- c -->b\n</translation>", xml_mode,
         twice("E text_not_allowed 2:26-38 <translation> [source]")},
        // A long run: of its bytes read before a refill, only the last are
        // kept; it still starts and ends where it does.
        {"dictionary", "<dictionary><translation>\n " + S(9000, 'x') + "\n" + S(9000, 'y') + " \n</translation>",
         strict, twice("E text_not_allowed 3:2-4:9001 <translation> [source]")},
        {"dictionary", "<dictionary><translation>x" + S(20000, ' ') + "\n</translation>", strict,
         twice("E text_not_allowed 2:26 <translation> [source]")},
        {"dictionary", "<dictionary><translation>x" + S(20000, '\n') + "y</translation>", xml_mode,
         twice("E text_not_allowed 2:26-20002:2 <translation> [source]")},
        // A value the end of the input cuts off runs to that end, however
        // often the reader looked past it.
        {"heatmap", "<Heatmap><Colors gradient_color_space=\"hsv>", strict, wrong_space("2:40-44")},
        // A syntax error: where the reader stood; a close tag that names
        // another element, that name.
        {"dictionary", "<dictionary/>x", strict, {"E syntax 2:14"}},
        {"dictionary", "<dictionary y/>", strict, {"E syntax 2:14", "E syntax 2:14 <dictionary>"}},
        {"dictionary", "<dictionary></target>", strict, twice("E syntax 2:15-21 <target>")},
    };
    for (const SpanCase& c : cases) {
        SCOPED_TRACE(c.body);
        const S doc = testing::xml(c.body);
        const Result memory = parse_buffer(grammar(c.grammar), doc, "doc.xml", nullptr, c.flags);
        EXPECT_EQ(records(memory), c.records);
        // One record per message, in the messages' order.
        ASSERT_EQ(memory.diagnostics().size(), memory.warning_messages().size() + memory.error_messages().size());
        size_t w = 0, e = 0;
        for (const Diagnostic& d : memory.diagnostics()) {
            const bool warning = d.severity == Severity::warning;
            EXPECT_EQ(d.message, warning ? memory.warning_messages()[w++] : memory.error_messages()[e++]);
        }
        EXPECT_EQ(records(parse_in_pieces(grammar(c.grammar), doc, {1}, nullptr, c.flags)), c.records);
        // A stream, one byte per call (a line feed instead of the XML
        // declaration keeps the lines; its document ends at its root's '>':
        // what follows is not its syntax error).
        if (has(c.flags, Flags::xml) || c.records[0].starts_with("E syntax")) continue;
        Bytes bytes{"\n" + c.body};
        DocumentParser parser;
        ReportBuilder report;
        int lookahead = -1;
        Status status = parse_bytewise(parser, grammar(c.grammar), &Bytes::next, &bytes, lookahead, Options{c.flags},
                                       report);
        EXPECT_EQ(records(report.finish(status)), c.records);
    }
}

// Many problems in one tag each find their token, in one pass over it.
TEST(Spans, ManyProblemsInOneTag) {
    S body = "<Heatmap";
    for (int i = 0; i < 2000; ++i) body += "\n a" + std::to_string(i) + "='1'";
    body += "/>";
    Result r = parse_buffer(grammar("heatmap"), testing::xml(body), "d", nullptr, Options{.max_errors = 0});
    ASSERT_EQ(r.diagnostics().size(), 4000u);
    for (const Diagnostic& d : r.diagnostics()) {
        if (d.note) {
            EXPECT_EQ(std::tuple(d.line, d.column, d.end_column), std::tuple(2L, 2L, 9L));
            continue;
        }
        const long i = std::stol(S(d.attribute.substr(1)));
        EXPECT_EQ(std::tuple(d.line, d.column, d.end_line, d.end_column),
                  std::tuple(i + 3, 2L, i + 3, 2L + static_cast<long>(d.attribute.size())));
    }
}

// Paths count places among same-named siblings at every depth, also past
// the first storage the counts get.
TEST(Paths, DeepAndWide) {
    const S node = "<CodeCoverageResultNode name=\"n\" maxHit=\"0\" minHit=\"0\">";
    S body = "<CodeCoverageResults>" + node, want = "/CodeCoverageResults[1]/CodeCoverageResultNode[1]";
    for (int depth = 0; depth < 40; ++depth) {
        // Earlier siblings, closed: the next one is the third of its name.
        body += node + "</CodeCoverageResultNode>" + node + "</CodeCoverageResultNode>" + node;
        want += "/CodeCoverageResultNode[3]";
    }
    body += "<Bogus/>";
    Result r = parse_buffer(grammar("lumoCodeCoverage"), testing::xml(body), "d", nullptr, Options{.paths = true});
    ASSERT_FALSE(r.diagnostics().empty());
    EXPECT_EQ(r.diagnostics()[0].path, want + "/Bogus[1]");
}

}  // namespace
}  // namespace tarvo
