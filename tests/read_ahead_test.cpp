// parse_ahead() against the direct parse of the same document: the same
// handler calls with the same positions, the same Result, however the
// document ends and wherever a handler call fails or throws.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <tuple>

#include "tarvo/read_ahead.h"
#include "test_support.h"

namespace tarvo::testing {
namespace {

// Events with the position each was delivered at, asked for from event
// `ask_from` on, and whether every call came on the thread that made it.
class Placed : public Recorder {
public:
    bool start_tag(int element, std::string_view name, std::span<const Attribute> attributes) override {
        return placed(Recorder::start_tag(element, name, attributes));
    }
    bool text(int element, std::string_view name, std::string_view t) override {
        return placed(Recorder::text(element, name, t));
    }
    bool end_tag(int element, std::string_view name) override { return placed(Recorder::end_tag(element, name)); }
    const std::thread::id caller = std::this_thread::get_id();
    bool on_caller = true;
    size_t ask_from = 0;

private:
    bool placed(bool go) {
        long line = 0, column = 0;
        if (position() && events.size() > ask_from) position()->location(line, column);
        events.back() += " @" + std::to_string(line) + ":" + std::to_string(column);
        on_caller &= std::this_thread::get_id() == caller;
        return go;
    }
};

// A coverage document of `nodes` result nodes: several chunks' worth of
// events when large, with texts, defaults, references and, every
// `bad_every` nodes (0: never), a value outside its list, and every
// `undeclared_every` nodes an attribute the grammar does not declare.
S coverage(int nodes, int bad_every = 0, int undeclared_every = 0) {
    S d = "<?xml version=\"1.0\"?>\n<CodeCoverageResults>\n<CodeCoverageResultNode name=\"all\" maxHit=\"1\" minHit=\"0\">\n";
    for (int i = 0; i < nodes; ++i) {
        d += "  <CodeCoverageResultNode name=\"n&amp;" + std::to_string(i) + "\" maxHit=\"" + std::to_string(i % 97) +
             "\" minHit=\"0\"";
        if (bad_every && i % bad_every == bad_every - 1) d += " type=\"nonsense\"";
        if (undeclared_every && i % undeclared_every == 0) d += " extra=\"e" + std::to_string(i) + "\"";
        d += i % 3 ? "/>\n" : ">\n    <CoveringTestcase>case " + std::to_string(i) + "</CoveringTestcase>\n  </CodeCoverageResultNode>\n";
    }
    return d + "</CodeCoverageResultNode>\n</CodeCoverageResults>\n";
}

// Long texts, below, at and above the size of a block of copied bytes, then
// many small events.
S long_texts() {
    S d = "<?xml version=\"1.0\"?>\n<CodeCoverageResults>\n<CodeCoverageResultNode name=\"all\" maxHit=\"1\" minHit=\"0\">\n";
    const size_t sizes[] = {10, 70000, 200000, 65536, 65535, 1, 300000};
    for (int i = 0; i < 40; ++i)
        d += "<CoveringTestcase>" + S(sizes[i % 7], static_cast<char>('a' + i % 26)) + "</CoveringTestcase>\n";
    for (int i = 0; i < 5000; ++i) d += "  <CodeCoverageResultNode name=\"n\" maxHit=\"1\" minHit=\"0\"/>\n";
    return d + "</CodeCoverageResultNode>\n</CodeCoverageResults>\n";
}

// The same in the XML mode's terms: a DOCTYPE whose entity holds markup
// (its events stand at the reference), comments, and CRLF line ends.
S coverage_xml(int nodes) {
    S d = "<?xml version=\"1.0\"?>\r\n<!DOCTYPE CodeCoverageResults [\r\n"
          "<!ENTITY t \"<CoveringTestcase>from &#38;#38; an entity</CoveringTestcase>\">\r\n]>\r\n"
          "<CodeCoverageResults><CodeCoverageResultNode name=\"all\" maxHit=\"1\" minHit=\"0\">\r\n";
    for (int i = 0; i < nodes; ++i) {
        d += "  <CodeCoverageResultNode name=\"n" + std::to_string(i) + "\" maxHit=\"1\" minHit=\"0\"";
        d += i % 2 ? "/><!-- " + std::to_string(i) + " -->\r\n" : ">\r\n    &t;\r\n  </CodeCoverageResultNode>\r\n";
    }
    return d + "</CodeCoverageResultNode></CodeCoverageResults>\r\n";
}

struct Outcome { Lines events; Lines records; S errors, warnings; Status status; };

template <class Parse>
Outcome outcome(Parse&& parse, const std::function<bool(const S&)>& after_event = {}, size_t ask_from = 0) {
    Placed handler;
    handler.after_event = after_event;
    handler.ask_from = ask_from;
    Result r = parse(&handler);
    // Handler calls stay on the calling thread, which no position outlives.
    EXPECT_TRUE(handler.on_caller);
    EXPECT_EQ(handler.position(), nullptr);
    return {handler.events, records(r), S(r.errors()), S(r.warnings()), r.status};
}

void expect_same(const Outcome& ahead, const Outcome& direct) {
    EXPECT_EQ(std::tie(ahead.status, ahead.errors, ahead.warnings, ahead.records),
              std::tie(direct.status, direct.errors, direct.warnings, direct.records));
    ASSERT_EQ(ahead.events.size(), direct.events.size());
    for (size_t i = 0; i < ahead.events.size(); ++i) ASSERT_EQ(ahead.events[i], direct.events[i]) << "event " << i;
}

struct Case {
    const char* what;
    S document;
    Options options;
    S fail_at;  // the first event starting so fails; empty: none
};

std::vector<Case> cases() {
    const Options tolerant{.flags = Flags::ignore_wrong_attributes}, counted{.max_errors = 0, .paths = true},
        kept{.flags = Flags::ignore_unknown_attributes};
    return {
        {"small", coverage(3), {}, ""},
        {"many chunks", coverage(20000), {}, ""},
        {"invalid late", coverage(20000, 15000), {}, ""},
        {"warnings all along", coverage(20000, 7), tolerant, ""},
        {"errors all along", coverage(20000, 7), counted, ""},
        {"undeclared attributes kept", coverage(20000, 0, 5), kept, ""},
        {"syntax error late", coverage(20000).substr(0, 900000) + "<", {}, ""},
        {"fails early", coverage(20000), {}, "start CoveringTestcase"},
        {"fails late", coverage(20000), {}, "text CoveringTestcase |case 15000|"},
        {"fails after warnings", coverage(20000, 7), tolerant, "text CoveringTestcase |case 14001|"},
        {"fails on the last event", coverage(20000), {}, "end CodeCoverageResults"},
        {"long texts", long_texts(), {}, ""},
        {"XML mode", coverage_xml(20000), {Flags::xml}, ""},
        {"XML mode, fails in an entity", coverage_xml(20000), {Flags::xml}, "text CoveringTestcase |from & an entity|"},
    };
}

// Positions asked for at every event, from a late one on (the document is
// read again from there, mid-chunk), or never.
TEST(ReadAhead, SameCallsAndResultAsTheDirectParse) {
    const SchemaTable& g = grammar("lumoCodeCoverage");
    for (const Case& c : cases()) {
        for (size_t ask_from : {size_t(0), size_t(30001), SIZE_MAX}) {
            SCOPED_TRACE(std::string(c.what) + ", positions from event " + std::to_string(ask_from));
            std::function<bool(const S&)> after;
            if (!c.fail_at.empty()) after = fail_at(c.fail_at);
            const Outcome direct = outcome(
                [&](Handler* h) { return parse_buffer(g, c.document, "doc.xml", h, c.options); }, after, ask_from);
            if (!c.fail_at.empty()) {
                EXPECT_EQ(direct.status, Status::handler_failed);
            }
            expect_same(outcome([&](Handler* h) { return parse_ahead(g, Source::bytes(c.document, "doc.xml"), h, c.options); },
                                after, ask_from),
                        direct);
            TempFile file(c.document);
            const Outcome from_file = outcome(
                [&](Handler* h) { return parse_ahead(g, Source::file(file.path()), h, c.options); }, after, ask_from);
            expect_same(from_file, outcome([&](Handler* h) { return parse_file(g, file.path().c_str(), h, c.options); },
                                           after, ask_from));
        }
    }
}

TEST(ReadAhead, AnExceptionFromTheHandlerLeavesTheCall) {
    const SchemaTable& g = grammar("lumoCodeCoverage");
    const S document = coverage(20000);
    for (const char* at : {"start CodeCoverageResults", "text CoveringTestcase |case 1236|", "end CodeCoverageResults"}) {
        SCOPED_TRACE(at);
        Recorder handler;
        handler.after_event = [&](const S& e) -> bool {
            if (e.starts_with(at)) throw std::runtime_error("thrown");
            return true;
        };
        EXPECT_THROW(parse_ahead(g, Source::bytes(document), &handler), std::runtime_error);
    }
}

// Waits are announced in pairs, on the calling thread, never inside a call.
TEST(ReadAhead, WaitsComeInPairs) {
    struct Waits final : AheadWait, Recorder {
        void begin() override { check(!inside), inside = true, ++begun, on_caller &= same_thread(); }
        void end() override { check(inside), inside = false, on_caller &= same_thread(); }
        bool start_tag(int element, std::string_view name, std::span<const Attribute> a) override {
            check(!inside);
            return Recorder::start_tag(element, name, a);
        }
        void check(bool ok) { well &= ok; }
        bool same_thread() const { return std::this_thread::get_id() == caller; }
        std::thread::id caller = std::this_thread::get_id();
        bool inside = false, well = true, on_caller = true;
        int begun = 0;
    };
    const SchemaTable& g = grammar("lumoCodeCoverage");
    Waits waits;
    parse_ahead(g, Source::bytes(coverage(20000)), &waits, {}, &waits);
    EXPECT_TRUE(waits.well);
    EXPECT_TRUE(waits.on_caller);
    EXPECT_FALSE(waits.inside);
    if (std::thread::hardware_concurrency() >= 2) {
        EXPECT_GT(waits.begun, 0);
    }
}

}  // namespace
}  // namespace tarvo::testing
