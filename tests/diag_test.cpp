#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "diag/reporter.h"
#include "test_support.h"

namespace tarvo {
namespace {

TEST(Reporter, MessagesAreSeparatedByOneNewline) {
    StrBuf warnings, errors;
    Reporter r(warnings, errors);
    r.warning("first %d", 1);
    r.warning("second '%s'", "x");
    EXPECT_EQ(warnings.str(), "first 1\nsecond 'x'");
    EXPECT_EQ(errors.str(), "");
    EXPECT_FALSE(r.error_flag());
    EXPECT_EQ(r.error_count(), 0u);

    r.error("e%c", 'A');
    r.warning("third");
    r.error("e2");
    EXPECT_EQ(errors.str(), "eA\ne2");
    EXPECT_EQ(warnings.str(), "first 1\nsecond 'x'\nthird");
    EXPECT_TRUE(r.error_flag());  // never cleared by later warnings
    EXPECT_EQ(r.error_count(), 2u);
    EXPECT_EQ(r.warning_messages(), (std::vector<std::string>{"first 1", "second 'x'", "third"}));
    EXPECT_EQ(r.error_messages(), (std::vector<std::string>{"eA", "e2"}));
}

TEST(Reporter, AppendsToBuffersThatAlreadyHoldText) {
    StrBuf warnings("earlier"), errors;
    Reporter r(warnings, errors);
    r.warning("later");
    EXPECT_EQ(warnings.str(), "earlier\nlater");
}

TEST(Reporter, LongMessagesAreKeptWhole) {
    StrBuf warnings, errors;
    Reporter r(warnings, errors);
    std::string name(3000, 'n');
    r.error("Element '%s' unknown in DTD", name.c_str());
    EXPECT_EQ(errors.str(), "Element '" + name + "' unknown in DTD");
}

TEST(ReporterRegistry, NoneWithoutReporter) { EXPECT_EQ(current_reporter(), nullptr); }

TEST(ReporterRegistry, KeyedByThread) {
    StrBuf w, e;
    Reporter mine(w, e);
    ASSERT_EQ(current_reporter(), &mine);
    Reporter* seen_before = &mine;
    Reporter* seen_own = nullptr;
    Reporter* seen_after = &mine;
    Reporter* theirs_address = nullptr;
    std::thread other([&] {
        seen_before = current_reporter();
        StrBuf w2, e2;
        Reporter theirs(w2, e2);
        theirs_address = &theirs;
        seen_own = current_reporter();
    });
    other.join();
    EXPECT_EQ(seen_before, nullptr);
    EXPECT_EQ(seen_own, theirs_address);
    EXPECT_EQ(current_reporter(), &mine);  // the other thread's registration did not touch ours
    std::thread later([&] { seen_after = current_reporter(); });
    later.join();
    EXPECT_EQ(seen_after, nullptr);
}

TEST(ReporterRegistry, NestedReporterRestoresTheOuterOne) {
    StrBuf w1, e1, w2, e2, w3, e3;
    {
        Reporter outer(w1, e1);
        {
            Reporter inner(w2, e2);
            EXPECT_EQ(current_reporter(), &inner);
            {
                Reporter innermost(w3, e3);
                EXPECT_EQ(current_reporter(), &innermost);
            }
            EXPECT_EQ(current_reporter(), &inner);
        }
        EXPECT_EQ(current_reporter(), &outer);
    }
    EXPECT_EQ(current_reporter(), nullptr);
}

// A parse started from inside a handler call must leave the outer parse
// reporting to its own texts afterwards: the checks after the nested parse
// still find the outer Reporter.
class NestingHandler : public testing::Recorder {
public:
    explicit NestingHandler(std::string nested_path) : nested_path_(std::move(nested_path)) {}
    void start_tag(int element, std::string_view name, std::span<const Attribute> attributes) override {
        Recorder::start_tag(element, name, attributes);
        if (name == "source" && !done_) {
            done_ = true;
            nested = parse_file(*find_grammar("heatmap"), nested_path_.c_str(), nullptr, PARSE_STRICT);
        }
    }
    Result nested;

private:
    std::string nested_path_;
    bool done_ = false;
};

TEST(ReporterRegistry, NestedParseLeavesOuterParseReported) {
    testing::TempFile inner(testing::xml("<Heatmap><Bogus/></Heatmap>"), "inner.xml");
    testing::TempFile outer(testing::xml("<translation><source>a</source><Target/></translation>"), "outer.xml");
    NestingHandler h(inner.path());
    Result r = parse_file(*find_grammar("dictionary"), outer.path().c_str(), &h, PARSE_STRICT);
    EXPECT_EQ(h.nested.status, 1);
    EXPECT_EQ(h.nested.errors,
              "Element 'Bogus' unknown in DTD\nFile " + inner.path() + ", line 2: error while opening element 'Bogus'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors,
              "Element 'Target' unknown in DTD\nFile " + outer.path() + ", line 2: error while opening element 'Target'");
    EXPECT_EQ(h.events, (std::vector<std::string>{"start translation", "start source", "text source |a|",
                                                  "end source"}));
    EXPECT_EQ(current_reporter(), nullptr);
}

TEST(ReporterRegistry, ReportHandlerErrorNeedsARunningParse) {
    EXPECT_FALSE(report_handler_error("nobody listens"));
    StrBuf w, e;
    Reporter r(w, e);
    EXPECT_TRUE(report_handler_error("callback raised"));
    EXPECT_EQ(e.str(), "callback raised");
    EXPECT_TRUE(r.error_flag());
}

}  // namespace
}  // namespace tarvo
