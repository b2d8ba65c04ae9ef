#include <gtest/gtest.h>

#include <thread>

#include "diag/reporter.h"
#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

TEST(Reporter, MessagesAreSeparatedByOneNewline) {
    EXPECT_FALSE(report_handler_error("nobody listens"));
    StrBuf warnings("earlier"), errors;
    Reporter r(warnings, errors);
    r.warning("first %d", 1);
    EXPECT_FALSE(r.error_flag());
    r.error("e%c", 'A');
    r.warning("second '%s'", "x");
    EXPECT_TRUE(report_handler_error("callback raised"));
    EXPECT_EQ(warnings.str(), "earlier\nfirst 1\nsecond 'x'");
    EXPECT_EQ(errors.str(), "eA\ncallback raised");
    EXPECT_TRUE(r.error_flag());  // never cleared by later warnings
    EXPECT_EQ(r.error_count(), 2u);
    auto lines = [](const std::vector<std::string_view>& v) { return Lines(v.begin(), v.end()); };
    EXPECT_EQ(lines(r.warning_messages()), (Lines{"first 1", "second 'x'"}));
    EXPECT_EQ(lines(r.error_messages()), (Lines{"eA", "callback raised"}));
}

TEST(Reporter, RegisteredPerThreadAndANestedOneRestoresTheOuterOne) {
    StrBuf w, e;
    {
        Reporter outer(w, e);
        Reporter* seen_elsewhere = &outer;
        std::thread([&] { seen_elsewhere = current_reporter(); }).join();
        EXPECT_EQ(seen_elsewhere, nullptr);
        {
            Reporter inner(w, e);
            std::thread([&] { Reporter theirs(w, e); }).join();  // registers for its own thread only
            EXPECT_EQ(current_reporter(), &inner);
        }
        EXPECT_EQ(current_reporter(), &outer);
    }
    EXPECT_EQ(current_reporter(), nullptr);
}

// A parse started from inside a handler call leaves the outer parse
// reporting to its own texts afterwards.
TEST(Reporter, NestedParseLeavesOuterParseReported) {
    TempFile inner(xml("<Heatmap><B/></Heatmap>"), "inner.xml");
    TempFile outer(xml("<translation><source>a</source><T/></translation>"), "outer.xml");
    Recorder h;
    Result nested;
    h.after_event = [&](const S& e) {
        if (e == "start source") nested = parse_file(grammar("heatmap"), inner.path().c_str(), nullptr, 0);
    };
    Result r = parse_file(grammar("dictionary"), outer.path().c_str(), &h, PARSE_STRICT);
    EXPECT_EQ(nested.errors, unknown("B") + "\nFile " + inner.path() + ", line 2: error while opening element 'B'");
    EXPECT_EQ(r.errors, unknown("T") + "\nFile " + outer.path() + ", line 2: error while opening element 'T'");
    EXPECT_EQ(h.events, (Lines{"start translation", "start source", "text source |a|", "end source"}));
}

}  // namespace
}  // namespace tarvo
