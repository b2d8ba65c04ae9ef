// Streams of back-to-back documents. The chunked reader must give exactly
// what the byte-by-byte reader gives (results, events, and the bytes taken
// from the source), however the bytes arrive.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "containers/str_buf.h"
#include "diag/reporter.h"
#include "reader/char_class.h"
#include "reader/document_parser.h"
#include "schema/schema_table.h"
#include "test_support.h"

namespace tarvo {
namespace {

using testing::Recorder;

// A source that delivers its bytes in packets of at most `packet` bytes and
// shows what has arrived without removing it, like a socket with MSG_PEEK.
struct PacketSource {
    std::string data;
    size_t packet;
    size_t taken = 0;

    size_t peek(char* buf, size_t cap) const {
        size_t n = std::min({cap, packet, data.size() - taken});
        data.copy(buf, n, taken);
        return n;
    }
    void take(size_t n) {
        ASSERT_LE(taken + n, data.size());
        taken += n;
    }
    static int read_byte(void* self) {
        auto* s = static_cast<PacketSource*>(self);
        return s->taken < s->data.size() ? static_cast<unsigned char>(s->data[s->taken++]) : -1;
    }
};

struct Observed {
    Result result;
    std::vector<std::string> events;
    size_t taken;
};

// The byte-by-byte reading: one reader call per byte, and after each
// document the whitespace skip that keeps one look-ahead byte.
Observed read_bytewise(const std::string& data, const SchemaTable& g, int flags, bool loop) {
    PacketSource src{data, 1};
    StrBuf warnings, errors;
    Reporter reporter(warnings, errors);
    Recorder rec;
    DocumentParser parser;
    parser.set_handler(&rec);
    int lookahead = -1, status;
    for (;;) {
        status = parser.parse_stream(g, &PacketSource::read_byte, &src, lookahead, flags);
        if (lookahead == -1) {
            do lookahead = PacketSource::read_byte(&src);
            while (is_space(lookahead));
            if (lookahead < 0) break;
        }
        if (!loop || status != 0) break;
    }
    Result r;
    r.status = status;
    r.warnings = warnings.str();
    r.errors = errors.str();
    return {r, rec.events, src.taken};
}

Observed read_chunked(const std::string& data, size_t packet, const SchemaTable& g, int flags, bool loop) {
    PacketSource src{data, packet};
    StreamReader reader([&](char* b, size_t cap) { return src.peek(b, cap); }, [&](size_t n) { src.take(n); });
    Recorder rec;
    Result r = reader.read(g, &rec, flags, loop);
    return {r, rec.events, src.taken};
}

struct StreamCase {
    const char* name;
    const char* grammar;
    std::string data;
    int flags = PARSE_STRICT;
};

const std::vector<StreamCase>& stream_cases() {
    static const std::vector<StreamCase> cases = {
        {"one document", "dictionary", "<dictionary><translation><source>a</source><target>b</target></translation></dictionary>"},
        {"three with whitespace", "dictionary", "<dictionary/>\n<dictionary/>\r\n\t <dictionary/>\n"},
        {"three back to back", "dictionary", "<dictionary/><dictionary/><dictionary></dictionary>"},
        {"next document in the same packet", "heatmap", "<Heatmap title='a'/><Heatmap><Colors/></Heatmap>  <Heat"},
        {"second document malformed", "dictionary", "<dictionary/>\n<dictionary><source>x</source></dictionary>\n<dictionary/>"},
        {"peer closes mid-document", "dictionary", "<dictionary><translation><source>abc"},
        {"empty source", "dictionary", ""},
        {"only whitespace", "dictionary", " \n\t "},
        {"XML declaration refused", "dictionary", "<?xml version=\"1.0\"?><dictionary/>"},
        {"garbage before the document", "dictionary", "x<dictionary/>"},
        {"high bytes in text", "dictionary",
         "<dictionary><translation><source>\x80\xe9\xff</source><target>&lt;\xc3\xa9&gt;</target></translation></dictionary>"},
        {"attributes and defaults", "heatmap",
         "<Heatmap max_value=\"9\"><Colors gradient_color_space=\"RGB\"/><Element model_file=\"m\" id=\"1\" value=\"2\"/></Heatmap>"},
        {"wrong attribute tolerated", "heatmap", "<Heatmap><Colors gradient_color_space=\"rgb\"/></Heatmap>",
         PARSE_IGNORE_WRONG_ATTRIBUTES},
        {"ignored element skipped", "dictionary",
         "<dictionary><target>x<source/></target><translation><source/><target/></translation></dictionary><dictionary/>",
         PARSE_IGNORE_WRONG_ELEMENTS},
        {"missing equals", "heatmap", "<Heatmap title\"x\"/>"},
        {"unknown attribute", "heatmap", "<Heatmap colour=\"red\"/><Heatmap/>"},
        {"end tag without open element", "dictionary", "</dictionary>"},
        {"bad tag end", "dictionary", "<dictionary/ ><dictionary>"},
    };
    return cases;
}

TEST(Stream, ChunkedReadingMatchesByteByByte) {
    for (const StreamCase& c : stream_cases()) {
        const SchemaTable& g = *find_grammar(c.grammar);
        for (bool loop : {false, true}) {
            Observed ref = read_bytewise(c.data, g, c.flags, loop);
            for (size_t packet : {size_t{1}, size_t{2}, size_t{7}, size_t{65536}}) {
                SCOPED_TRACE(std::string(c.name) + (loop ? " (loop)" : "") + ", packets of " + std::to_string(packet));
                Observed got = read_chunked(c.data, packet, g, c.flags, loop);
                EXPECT_EQ(got.result.status, ref.result.status);
                EXPECT_EQ(got.result.warnings, ref.result.warnings);
                EXPECT_EQ(got.result.errors, ref.result.errors);
                EXPECT_EQ(got.events, ref.events);
                EXPECT_EQ(got.taken, ref.taken);
            }
        }
    }
}

TEST(Stream, MessagesCarryNoLocation) {
    struct Case {
        const char* grammar;
        std::string data;
        int status;
        std::string errors;
        std::string warnings;
        int flags = PARSE_STRICT;
    };
    const Case cases[] = {
        {"dictionary", "", 1, "Found '\xff' (-1) where '<' expected", ""},
        {"dictionary", "  x<dictionary/>", 1, "Found 'x' (120) where '<' expected", ""},
        {"dictionary", "<?xml?>", 1, "Element '' unknown in DTD\nError while opening element ''", ""},
        {"dictionary", "<dictionary><translation>", 1, "Unexpected end of file in text", ""},
        {"dictionary", "<dictionary>text</dictionary>", 1,
         "Element is invalid as first child of container element 'dictionary'\nCharacter data is not allowed here", ""},
        {"dictionary", "<dictionary></translation>", 1,
         "Close tag for 'translation' does not match opened element ('dictionary')\n"
         "Error while closing element 'translation'",
         ""},
        {"dictionary", "<dictionary/ x>", 1, "Found 'x' where '>' expected", ""},
        {"heatmap", "<Heatmap title:x=\"1\"/>", 1, "Found ':' where '=' expected\nError in attributes for element 'Heatmap'",
         ""},
        {"dictionary", "<dictionary><target x=\"1\"", 1,
         "Element is invalid as first child of container element 'dictionary'\n"
         "Unexpected end of file while opening element 'target'",
         "Invalid element 'target' ignored - trying to continue", PARSE_IGNORE_WRONG_ELEMENTS},
        {"heatmap", "<Heatmap bad=\"1\"/>", 0, "", "Unknown attribute 'bad'", PARSE_IGNORE_UNKNOWN_ATTRIBUTES},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        StreamReader reader([src = PacketSource{c.data, 3}](char* b, size_t cap) mutable {
            size_t n = src.peek(b, cap);
            src.take(n);
            return n;
        });
        Result r = reader.read(*find_grammar(c.grammar), nullptr, c.flags);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.errors, c.errors);
        EXPECT_EQ(r.warnings, c.warnings);
    }
}

TEST(Stream, DocumentEndsAtRootCloseAndNextByteIsLookAhead) {
    PacketSource src{"<dictionary/>  <dictionary/>rest", 64};
    StreamReader reader([&](char* b, size_t cap) { return src.peek(b, cap); }, [&](size_t n) { src.take(n); });
    const SchemaTable& g = *find_grammar("dictionary");
    Result first = reader.read(g, nullptr, PARSE_STRICT);
    EXPECT_TRUE(first.ok()) << first.errors;
    // The document, the whitespace after it and the first byte of the next.
    EXPECT_EQ(src.taken, std::string("<dictionary/>  <").size());
    Result second = reader.read(g, nullptr, PARSE_STRICT);
    EXPECT_TRUE(second.ok()) << second.errors;
    EXPECT_FALSE(reader.at_end());
    EXPECT_EQ(src.data.substr(src.taken), "est");  // 'r' became the look-ahead
    Result third = reader.read(g, nullptr, PARSE_STRICT);
    EXPECT_EQ(third.errors, "Found 'r' (114) where '<' expected");
}

TEST(Stream, LoopAccumulatesWarningsOfEveryDocument) {
    StreamReader reader([src = PacketSource{"<Heatmap a='1'/>\n<Heatmap b='2'/>\n<Heatmap c='3'/>\n", 5}](
                            char* b, size_t cap) mutable {
        size_t n = src.peek(b, cap);
        src.take(n);
        return n;
    });
    Result r = reader.read(*find_grammar("heatmap"), nullptr, PARSE_IGNORE_UNKNOWN_ATTRIBUTES, true);
    EXPECT_TRUE(r.ok()) << r.errors;
    EXPECT_EQ(r.warnings, "Unknown attribute 'a'\nUnknown attribute 'b'\nUnknown attribute 'c'");
    EXPECT_TRUE(reader.at_end());
}

// A handler failing in the middle of a series stops the series there.
TEST(Stream, HandlerFailureStopsTheLoop) {
    struct FailOnSecond : Recorder {
        int starts = 0;
        void start_tag(int e, std::string_view n, std::span<const Attribute> a) override {
            Recorder::start_tag(e, n, a);
            if (++starts == 2) report_handler_error("handler failed");
        }
    } handler;
    StreamReader reader([src = PacketSource{"<dictionary/><dictionary/><dictionary/>", 64}](char* b,
                                                                                          size_t cap) mutable {
        size_t n = src.peek(b, cap);
        src.take(n);
        return n;
    });
    Result r = reader.read(*find_grammar("dictionary"), &handler, PARSE_STRICT, true);
    EXPECT_EQ(r.status, kStatusHandlerFailed);
    EXPECT_EQ(r.errors, "handler failed");
    EXPECT_EQ(handler.events, (std::vector<std::string>{"start dictionary", "end dictionary", "start dictionary"}));
}

}  // namespace
}  // namespace tarvo
