// Each message's record: severity, kind, the span of the token it is about
// (where the reader stood when there is none), the names concerned and what
// would have been allowed.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

struct RecordCase {
    const char* grammar;
    S body;  // after the XML declaration line
    Flags flags;
    Lines records;
};

TEST(Records, OnePerMessageWithKindLocationNamesAndExpected) {
    const RecordCase cases[] = {
        {"dictionary", "<dictionary>\n  <Bogus/>", Flags::strict,
         {"E unknown_element 3:4-9 <Bogus>", "E unknown_element 3:4-9 <Bogus>"}},
        {"dictionary", "<dictionary><translation>\n <target>", Flags::strict,
         {"E misplaced_element 3:3-9 <target> [source]", "E misplaced_element 3:3-9 <target> [source]"}},
        {"dictionary", "<dictionary><translation><source>a</source><source>", Flags::strict,
         {"E misplaced_element 2:45-51 <source> [target]", "E misplaced_element 2:45-51 <source> [target]"}},
        {"dictionary", "<dictionary><translation></translation>", Flags::strict,
         {"E misplaced_element 2:28-39 <translation> [source]", "E misplaced_element 2:28-39 <translation> [source]"}},
        {"dictionary", "<dictionary><translation>hi</translation>", Flags::strict,
         {"E text_not_allowed 2:26-28 <translation> [source]", "E text_not_allowed 2:26-28 <translation> [source]"}},
        {"dictionary", "<dictionary></target>", Flags::strict,
         {"E syntax 2:15-21 <target>", "E syntax 2:15-21 <target>"}},
        {"dictionary", "<dictionary y/>", Flags::strict, {"E syntax 2:14", "E syntax 2:14 <dictionary>"}},
        {"dictionary", "<dictionary>\n<translation>\n<Bogus/></translation>", Flags::ignore_wrong_elements,
         {"E unknown_element 4:2-7 <Bogus>", "W unknown_element 4:2-7 <Bogus>",
          "E misplaced_element 4:11-22 <translation> [source]", "E misplaced_element 4:11-22 <translation> [source]"}},
        {"heatmap", "<Heatmap><Colors gradient_color_space=\"x\"/>", Flags::strict,
         {"E wrong_attribute_value 2:40 <Colors> @gradient_color_space [HSVs,HSVl,RGB]",
          "E wrong_attribute_value 2:11-17 <Colors> @gradient_color_space [HSVs,HSVl,RGB]"}},
        {"heatmap", "<Heatmap><Colors gradient_color_space=\"x\"/></Heatmap>", Flags::ignore_wrong_attributes,
         {"W wrong_attribute_value 2:40 <Colors> @gradient_color_space [HSVs,HSVl,RGB]"}},
        {"heatmap", "<Heatmap><Element id=\"a\"/>", Flags::strict,
         {"E missing_attribute 2:11-18 <Element> @model_file", "E missing_attribute 2:11-18 <Element> @model_file"}},
        {"heatmap", "<Heatmap foo='1'>", Flags::strict,
         {"E unknown_attribute 2:10-13 <Heatmap> @foo", "E unknown_attribute 2:2-9 <Heatmap> @foo"}},
        {"heatmap", "<Heatmap foo='1'></Heatmap>", Flags::ignore_unknown_attributes,
         {"W unknown_attribute 2:10-13 <Heatmap> @foo"}},
        {"heatmap", "<Heatmap/>\nx", Flags::strict, {"E syntax 3:1"}},
    };
    for (const RecordCase& c : cases) {
        SCOPED_TRACE(c.body);
        Result r = parse_buffer(grammar(c.grammar), xml(c.body), "doc.xml", nullptr, c.flags);
        EXPECT_EQ(records(r), c.records);
        ASSERT_EQ(r.diagnostics().size(), r.warning_messages().size() + r.error_messages().size());
        size_t w = 0, e = 0;
        for (const Diagnostic& d : r.diagnostics())
            EXPECT_EQ(d.message, d.severity == Severity::warning ? r.warning_messages()[w++] : r.error_messages()[e++]);
    }
}

TEST(Records, ColumnsAndLinesAcrossBufferRefills) {
    // A line longer than the reader's buffer, and many lines before it.
    S lines(100000, '\n');
    S pad(70000, ' ');
    S doc = xml("<dictionary>" + lines + pad + "<Bogus/></dictionary>");
    TempFile file(doc);
    Result from_file = parse_file(grammar("dictionary"), file.path().c_str(), nullptr);
    Result from_memory = parse_buffer(grammar("dictionary"), doc, file.path(), nullptr);
    EXPECT_EQ(records(from_file), (Lines{"E unknown_element 100002:70002-70007 <Bogus>", "E unknown_element 100002:70002-70007 <Bogus>"}));
    EXPECT_EQ(records(from_memory), records(from_file));
    EXPECT_EQ(from_memory.errors(), from_file.errors());
}

TEST(Records, UnreadableFileAndFailedHandler) {
    Result r = parse_file(grammar("dictionary"), "/nonexistent/doc.xml", nullptr);
    ASSERT_EQ(r.diagnostics().size(), 1u);
    EXPECT_EQ(records(r), Lines{"E input_output 0:0"});
    EXPECT_EQ(r.diagnostics()[0].os_error, ENOENT);
    EXPECT_EQ(r.diagnostics()[0].message, "Could not open file /nonexistent/doc.xml for reading");

    Recorder h;
    h.after_event = fail_at("start translation");
    r = parse_buffer(grammar("dictionary"), xml("<dictionary>\n<translation>"), "doc.xml", &h);
    EXPECT_EQ(records(r), Lines{"E handler_failed 3:13"});
}

TEST(Records, SurviveCopiesAndMoves) {
    // Short texts live inside the string object itself, so views must follow it.
    Result a = parse_buffer(grammar("heatmap"), xml("<Heatmap a='1'>"), "d", nullptr, Flags::ignore_unknown_attributes);
    ASSERT_FALSE(a.diagnostics().empty());
    Result b = a;
    Result c = std::move(a);
    a = b;
    for (const Result* r : {&a, &b, &c}) {
        EXPECT_EQ(r->diagnostics()[0].message, "Unknown attribute 'a'");
        EXPECT_EQ(r->diagnostics()[0].message.data(), r->warnings().data());
        EXPECT_EQ(r->warning_messages()[0].data(), r->warnings().data());
        EXPECT_EQ(r->diagnostics()[0].attribute, "a");
        EXPECT_EQ(r->diagnostics()[0].attribute.data(), r->warnings().data() + 19);
    }
}

// A name the message quotes is a view of the message, also when the text
// moved while it grew and in a copy of the Result.
TEST(Records, NamesQuotedByTheirMessagesPointIntoTheText) {
    S body = "<Heatmap";
    for (int i = 0; i < 3000; ++i) body += " a" + std::to_string(i) + "='1'";
    body += "/>";
    Result r = parse_buffer(grammar("heatmap"), xml(body), "d", nullptr, Flags::ignore_unknown_attributes);
    Result copy = r;
    for (const Result* c : {&r, &copy}) {
        ASSERT_EQ(c->diagnostics().size(), 3000u);
        std::set<S> names;
        for (const Diagnostic& d : c->diagnostics()) {
            names.emplace(d.attribute);
            ASSERT_EQ(d.message, "Unknown attribute '" + S(d.attribute) + "'");
            ASSERT_EQ(d.element, "Heatmap");
            ASSERT_TRUE(d.attribute.data() > c->warnings().data() &&
                        d.attribute.data() < c->warnings().data() + c->warnings().size());
        }
        EXPECT_EQ(names.size(), 3000u);
    }
}

}  // namespace
}  // namespace tarvo
