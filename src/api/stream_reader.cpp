// Back-to-back documents over one source: one parser and one look-ahead
// byte carried from document to document.

#include "reader/document_parser.h"
#include "reader/parse_loop.h"
#include "session.h"
#include "tarvo/tarvo.h"

namespace tarvo {

struct StreamReader::Impl {
    SourceInput input;
    DocumentParser parser;
    int lookahead = -1;
    bool at_end = false;

    explicit Impl(SourceInput in) : input(std::move(in)) {}

    int read_one(const SchemaTable& grammar, int flags) {
        int status = parser.parse_stream(grammar, input, lookahead, flags);
        // Whatever the status: once the look-ahead is used up, skip the
        // whitespace after the document and keep the next byte for the next.
        if (lookahead < 0) {
            lookahead = input.skip_space();
            at_end = lookahead < 0;
        } else if (status != kStatusOk) {
            // A failed document leaves its first byte in the look-ahead; it
            // is used up all the same, or the next read would fail on it again.
            lookahead = -1;
        }
        return status;
    }
};

StreamReader::StreamReader(ByteSource read) : impl_(std::make_unique<Impl>(SourceInput(std::move(read)))) {}

StreamReader::StreamReader(ByteSource peek, std::function<void(size_t)> take)
    : impl_(std::make_unique<Impl>(SourceInput(std::move(peek), std::move(take)))) {}

StreamReader::~StreamReader() = default;

bool StreamReader::at_end() const { return impl_->at_end; }

Result StreamReader::read(const SchemaTable& grammar, Handler* handler, int flags, bool loop) {
    ParseSession session;
    impl_->parser.set_handler(handler);
    int status;
    do status = impl_->read_one(grammar, flags);
    while (loop && status == kStatusOk && !impl_->at_end);
    impl_->input.commit();
    return session.finish(status);
}

}  // namespace tarvo
