// The report a parse fills and each message's record: severity, kind, the
// span of the token it is about (Spans has one of each kind), the names
// concerned and what would have been allowed; Results as plain values.
#include <gtest/gtest.h>

#include <set>

#include "diag/report.h"
#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

TEST(Records, ColumnsAndLinesAcrossBufferRefills) {
    // A line longer than the reader's buffer, and many lines before it.
    S lines(100000, '\n');
    S pad(70000, ' ');
    S doc = xml("<dictionary>" + lines + pad + "<Bogus/></dictionary>");
    TempFile file(doc);
    Result from_file = parse_file(grammar("dictionary"), file.path().c_str(), nullptr);
    Result from_memory = parse_buffer(grammar("dictionary"), doc, file.path(), nullptr);
    EXPECT_EQ(records(from_file), Lines(2, "E unknown_element 100002:70002-70007 <Bogus>"));
    EXPECT_EQ(records(from_memory), records(from_file));
    EXPECT_EQ(from_memory.errors(), from_file.errors());
}

TEST(Records, AFailedHandlerWhereTheReaderStood) {
    Recorder h;
    h.after_event = fail_at("start translation");
    Result r = parse_buffer(grammar("dictionary"), xml("<dictionary>\n<translation>"), "doc.xml", &h);
    EXPECT_EQ(records(r), Lines{"E handler_failed 3:13"});
}

// A name the message quotes is a view of the message, also when the text
// moved while it grew, and in copies and moves of the Result, short or long.
TEST(Records, NamesQuotedByTheirMessagesPointIntoTheText) {
    for (int n : {1, 3000}) {
        S body = "<Heatmap";
        for (int i = 0; i < n; ++i) body += " a" + std::to_string(i) + "='1'";
        Result r = parse_buffer(grammar("heatmap"), xml(body + "/>"), "d", nullptr, Flags::ignore_unknown_attributes);
        Result copy = r, moved_from = r, assigned;
        Result moved = std::move(moved_from);
        assigned = copy;
        for (const Result* c : {&r, &copy, &moved, &assigned}) {
            SCOPED_TRACE(std::to_string(n) + " attributes, result " + std::to_string(c - &r));
            ASSERT_EQ(c->diagnostics().size(), static_cast<size_t>(n));
            EXPECT_EQ(c->warning_messages()[0].data(), c->warnings().data());
            const std::string_view text = c->warnings();
            std::set<S> names;
            for (const Diagnostic& d : c->diagnostics()) {
                names.emplace(d.attribute);
                ASSERT_EQ(d.message, "Unknown attribute '" + S(d.attribute) + "'");
                ASSERT_EQ(d.element, "Heatmap");
                const auto offset = static_cast<size_t>(d.message.data() - text.data());  // huge when before it
                ASSERT_LE(offset + d.message.size(), text.size());
                ASSERT_EQ(d.attribute.data(), d.message.data() + 19);
            }
            EXPECT_EQ(names.size(), static_cast<size_t>(n));
        }
    }
}

// Each problem's record says what it is (code), where (parent, path) and
// what would do (suggestion); the reader's line after it is its note.
TEST(Records, CodesPathsAndSuggestions) {
    const S doc = xml("<Heatmap titel=\"x\">\n<Colors gradient_color_space=\"hsvs\"/>\n"
                      "<Element id=\"a\" model_file=\"m\" value=\"1\"/><Element id=\"b\" model_file=\"m\" value=\"1\"/>\n"
                      "<element/><Colors/>\ntext</Heatmap>");
    Result r = parse_buffer(grammar("heatmap"), doc, "doc.xml", nullptr, Options{.max_errors = 0, .paths = true});
    Lines got;
    for (const Diagnostic& d : r.diagnostics())
        got.push_back(S(d.note ? "  note " : "") + S(d.code) + " " + S(d.parent) + " " + S(d.path) + " " +
                      S(d.suggestion));
    EXPECT_EQ(got, (Lines{
                       "unknown-attribute  /Heatmap[1] title",
                       "  note unknown-attribute  /Heatmap[1] title",
                       "invalid-value Heatmap /Heatmap[1]/Colors[1] HSVs",
                       "  note invalid-value Heatmap /Heatmap[1]/Colors[1] HSVs",
                       "unknown-element Heatmap /Heatmap[1]/element[1] Element",
                       "  note unknown-element Heatmap /Heatmap[1]/element[1] Element",
                       "misplaced-element Heatmap /Heatmap[1]/Colors[2] ",
                       "  note misplaced-element Heatmap /Heatmap[1]/Colors[2] ",
                       "text-not-allowed  /Heatmap[1] ",
                       "  note text-not-allowed  /Heatmap[1] ",
                   }));
    // Without paths, the same records but for the path.
    const Result without = parse_buffer(grammar("heatmap"), doc, "doc.xml", nullptr, Options{.max_errors = 0});
    for (const Diagnostic& d : without.diagnostics()) EXPECT_TRUE(d.path.empty());
    // A missing child is its own code; a lone syntax error has no note.
    r = parse_buffer(grammar("dictionary"), xml("<dictionary><translation></translation></dictionary>"), "d", nullptr);
    EXPECT_EQ(r.diagnostics()[0].code, "missing-element");
    r = parse_buffer(grammar("dictionary"), xml("<dictionary/>x"), "d", nullptr);
    EXPECT_EQ(r.diagnostics()[0].code, "syntax");
    EXPECT_FALSE(r.diagnostics()[0].note);
}

TEST(Report, MessagesAreSeparatedByOneNewlineAndNamesPointIntoThem) {
    ReportBuilder b;
    b.add(Severity::warning, "first 1");
    S name = "Bogus";  // the reader's buffer, say: it moves on after the message
    Details quoted;
    quoted.kind = DiagnosticKind::unknown_element;
    quoted.element = name;
    b.add(Severity::error, "Element 'Bogus' unknown in DTD", quoted, Span::at(2, 9));
    Details named;
    named.element = "elsewhere";
    named.attribute = "Bogus";
    b.begin(Severity::warning).append_format("second '%s'", "x");
    b.end(named, Span::at(3, 1));
    name = "XXXXX";
    Result r = b.finish(Status::invalid);
    EXPECT_EQ(r.warnings(), "first 1\nsecond 'x'");
    EXPECT_EQ(r.errors(), "Element 'Bogus' unknown in DTD");
    EXPECT_EQ(r.warning_messages(), (std::vector<std::string_view>{"first 1", "second 'x'"}));
    EXPECT_EQ(records(r), (Lines{"W syntax 0:0", "E unknown_element 2:9 <Bogus>", "W syntax 3:1 <elsewhere> @Bogus"}));
    // A quoted name costs no copy of its own: it is the quote in the message.
    const Diagnostic& d = r.diagnostics()[1];
    EXPECT_EQ(d.element.data(), d.message.data() + 9);
    // The attribute repeats the name the record before quoted.
    EXPECT_EQ(r.diagnostics()[2].attribute.data(), d.element.data());
}

TEST(Report, AResultIsAnOrdinaryValue) {
    // Short texts live inside a string object, so a view into one would not
    // survive a move; nothing of the kind may show here.
    std::vector<std::string_view> expected = {"HSVs", "RGB"};
    Diagnostic d;
    d.kind = DiagnosticKind::wrong_attribute_value;
    d.element = "Colors";
    d.attribute = "space";
    d.expected = expected;
    d.message = "bad";
    Result a(Status::invalid, {&d, 1});
    expected.clear();  // the Result holds its own copies
    Result b = a;
    Result c = std::move(a);
    a = Result();  // the storage lives on in the copies
    for (const Result* r : {&b, &c}) {
        EXPECT_EQ(r->errors(), "bad");
        EXPECT_EQ(records(*r), Lines{"E wrong_attribute_value 0:0 <Colors> @space [HSVs,RGB]"});
        EXPECT_EQ(r->diagnostics()[0].message.data(), r->errors().data());
    }
    EXPECT_TRUE(a.ok());
    EXPECT_TRUE(a.diagnostics().empty());
}

}  // namespace
}  // namespace tarvo
