// The reader over a source read one byte per call, for the tests and the
// fuzzer: the simplest way to read a stream of documents, against which
// the chunked reading of tarvo::StreamReader is checked.
#pragma once

#include "diag/report.h"
#include "reader/char_input.h"
#include "reader/document_parser.h"
#include "reader/parse_stream.h"

namespace tarvo {

// A source of bytes: the next byte as 0..255, or -1 at the end of input and
// on every later call.
using CharReader = int (*)(void* context);

class CharReaderInput : public BufferedInput<CharReaderInput> {
public:
    static constexpr bool kStream = true;
    static constexpr bool kWhole = false;

    CharReaderInput(CharReader reader, void* context) : reader_(reader), context_(context) {}
    bool refill() {
        leave_buffer(end_);
        int c = reader_(context_);
        if (c < 0) return false;
        byte_ = static_cast<unsigned char>(c);
        start_buffer(&byte_, 1);
        return true;
    }

private:
    CharReader reader_;
    void* context_;
    unsigned char byte_ = 0;
};

// One document of a stream, read byte by byte (see DocumentParser::parse_stream).
inline Status parse_bytewise(DocumentParser& parser, const SchemaTable& table, CharReader reader, void* context,
                             int& lookahead, const Options& options, ReportBuilder& report) {
    CharReaderInput in(reader, context);
    return parser.parse_stream(table, in, lookahead, options, report);
}

}  // namespace tarvo
