// Streams of back-to-back documents. The chunked reader must give exactly
// what the byte-by-byte reader gives (results, events, and the bytes taken
// from the source), however the bytes arrive.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "bytewise_input.h"
#include "diag/report.h"
#include "reader/char_class.h"
#include "reader/document_parser.h"
#include "test_support.h"

namespace tarvo {
namespace {

using namespace testing;

// Delivers its bytes in packets of at most `packet` bytes.
struct PacketSource {
    S data;
    size_t packet;
    size_t taken = 0;

    size_t peek(char* buf, size_t cap) const {
        size_t n = std::min({cap, packet, data.size() - taken});
        return data.copy(buf, n, taken);
    }
    static int read_byte(void* self) {
        auto* s = static_cast<PacketSource*>(self);
        return s->taken < s->data.size() ? static_cast<unsigned char>(s->data[s->taken++]) : -1;
    }
    // A reader that only looks at the bytes that have arrived and takes
    // those it consumed, like one over a socket read with MSG_PEEK.
    std::unique_ptr<StreamReader> peeking_reader() {
        return std::make_unique<StreamReader>([this](char* b, size_t c) { return peek(b, c); },
                                              [this](size_t n) { EXPECT_LE(taken += n, data.size()); });
    }
};

// Each case is read byte by byte, with and without loop mode, and then in
// chunks of several sizes; the messages are those of the loop.
TEST(Stream, ChunkedReadingMatchesByteByByte) {
    struct Case { const char* grammar; S data; int status; S errors, warnings = ""; int flags = 0; };
    const S ignored = "Invalid element 'target' ignored - trying to continue";
    const Case cases[] = {
        {"dictionary", "<dictionary/>\n<dictionary/>\r\n\t <dictionary></dictionary><dictionary/>\n", 0, ""},
        {"dictionary", "<dictionary/>\n<dictionary><source>x</source></dictionary>\n<dictionary/>", 1,
         first_child("dictionary") + "\nError while opening element 'source'"},
        {"dictionary", "", 1, "Found '\xff' (-1) where '<' expected"},
        {"dictionary", " \n x<dictionary/>", 1, "Found 'x' (120) where '<' expected"},
        {"dictionary", "<?xml?>", 1, unknown("") + "\nError while opening element ''"},
        {"dictionary", "<dictionary><translation><source>\x80\xe9\xff</source><target>&lt;\xc3\xa9&gt;</target>", 1,
         "Unexpected end of file in text"},
        {"dictionary", "<dictionary>text</dictionary>", 1,
         first_child("dictionary") + "\nCharacter data is not allowed here"},
        {"dictionary", "<dictionary><target>x<source/></target><translation><source/><target/></translation>"
                       "</dictionary><dictionary/>",
         0, first_child("dictionary"), ignored, bit(Flags::ignore_wrong_elements)},
        {"dictionary", "<dictionary><target x=\"1\"", 1,
         first_child("dictionary") + "\nUnexpected end of file while opening element 'target'", ignored,
         bit(Flags::ignore_wrong_elements)},
        {"heatmap", "<Heatmap title='a'/><Heatmap><Colors/></Heatmap>  <Heat", 1,
         unknown("Heat") + "\nError while opening element 'Heat'"},
        {"heatmap", "<Heatmap><Colors gradient_color_space=\"rgb\"/><Element model_file=\"m\" id=\"1\" value=\"2\"/>",
         1, "Unexpected end of file in text", replaced("rgb", "gradient_color_space"), bit(Flags::ignore_wrong_attributes)},
        {"heatmap", "<Colors a\"x\"/>", 1, "Found '\"' where '=' expected\nError in attributes for element 'Colors'"},
        {"heatmap", "<Heatmap a='1'/>\n<Heatmap b='2'/>\n<Heatmap c='3'/>\n", 0, "",
         "Unknown attribute 'a'\nUnknown attribute 'b'\nUnknown attribute 'c'", bit(Flags::ignore_unknown_attributes)},
    };
    for (const Case& c : cases) {
        const SchemaTable& g = grammar(c.grammar);
        for (bool loop : {false, true}) {
            // One reader call per byte; in loop mode the whitespace after a
            // document is taken, the next document's first byte is not.
            PacketSource ref{c.data, 1};
            ReportBuilder report;
            Recorder ref_events;
            Status status;
            {
                DocumentParser parser;
                parser.set_handler(&ref_events);
                for (;;) {
                    int lookahead = -1;
                    status = parse_bytewise(parser, g, &PacketSource::read_byte, &ref, lookahead, Options{Flags(c.flags)}, report);
                    if (!loop || status != Status::ok) break;
                    while (ref.taken < ref.data.size() && is_space(static_cast<unsigned char>(ref.data[ref.taken])))
                        ++ref.taken;
                    if (ref.taken == ref.data.size()) break;
                }
            }
            const Result expected = report.finish(status);
            for (size_t packet : {size_t{1}, size_t{2}, size_t{7}, size_t{65536}}) {
                SCOPED_TRACE(c.data + (loop ? " (loop)" : "") + ", packets of " + std::to_string(packet));
                PacketSource src{c.data, packet};
                Recorder rec;
                auto reader = src.peeking_reader();
                Result r = reader->read(g, &rec, Flags(c.flags), loop);
                EXPECT_EQ(std::make_tuple(r.status, r.errors(), r.warnings(), rec.events, src.taken),
                          std::make_tuple(status, expected.errors(), expected.warnings(), ref_events.events, ref.taken));
                if (!loop) continue;
                EXPECT_EQ(std::make_tuple(static_cast<int>(r.status), S(r.errors()), S(r.warnings())),
                          std::make_tuple(c.status, c.errors, c.warnings));
                EXPECT_TRUE(!r.ok() || reader->at_end());
            }
        }
    }
}

TEST(Stream, DocumentEndsAtRootCloseAndAFailingHandlerStopsTheLoop) {
    PacketSource src{"<dictionary/>  <dictionary/>rest<dictionary/>", 64};
    auto reader = src.peeking_reader();
    const SchemaTable& g = grammar("dictionary");
    EXPECT_EQ(reader->read(g, nullptr, Flags::strict).errors(), "");
    EXPECT_EQ(src.taken, S("<dictionary/>").size());  // nothing after the root element's '>'
    EXPECT_EQ(reader->read(g, nullptr, Flags::strict).errors(), "");  // its leading whitespace included
    EXPECT_EQ(src.data.substr(src.taken), "rest<dictionary/>");
    EXPECT_FALSE(reader->at_end());
    EXPECT_EQ(src.data.substr(src.taken), "rest<dictionary/>");  // looked at, not taken
    EXPECT_EQ(reader->read(g, nullptr, Flags::strict).errors(), "Found 'r' (114) where '<' expected");
    EXPECT_EQ(reader->read(g, nullptr, Flags::strict).errors(), "Found 'e' (101) where '<' expected");  // moves on

    PacketSource three{"<dictionary/><target>t</target><dictionary/>", 64};
    Recorder handler;
    handler.after_event = fail_at("start target");
    StreamReader taking([&](char* b, size_t c) {  // takes every byte it reads
        size_t n = three.peek(b, c);
        three.taken += n;
        return n;
    });
    Result r = taking.read(g, &handler, Flags::strict, true);
    EXPECT_EQ(r.status, Status::handler_failed);
    EXPECT_EQ(r.errors(), "callback raised");
    EXPECT_EQ(handler.events, (Lines{"start dictionary", "end dictionary", "start target"}));
}

}  // namespace
}  // namespace tarvo
