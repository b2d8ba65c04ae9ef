// The report a parse fills: texts, records, and Results as plain values.
#include <gtest/gtest.h>

#include "diag/report.h"
#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

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

// A parse started from inside a handler call has its own report; the outer
// parse goes on reporting to its own.
TEST(Report, NestedParseLeavesOuterParseReported) {
    TempFile inner(xml("<Heatmap><B/></Heatmap>"), "inner.xml");
    TempFile outer(xml("<translation><source>a</source><T/></translation>"), "outer.xml");
    Recorder h;
    Result nested;
    h.after_event = [&](const S& e) {
        if (e == "start source") nested = parse_file(grammar("heatmap"), inner.path().c_str(), nullptr);
        return true;
    };
    Result r = parse_file(grammar("dictionary"), outer.path().c_str(), &h, Flags::strict);
    EXPECT_EQ(nested.errors(), unknown("B") + "\nFile " + inner.path() + ", line 2: error while opening element 'B'");
    EXPECT_EQ(r.errors(), unknown("T") + "\nFile " + outer.path() + ", line 2: error while opening element 'T'");
    EXPECT_EQ(h.events, (Lines{"start translation", "start source", "text source |a|", "end source"}));
}

}  // namespace
}  // namespace tarvo
