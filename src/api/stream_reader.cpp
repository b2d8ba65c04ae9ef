// Back-to-back documents over one source. A read takes from the source only
// the bytes of the documents it parses: nothing after a document's last '>'
// unless a next document is read in the same call.

#include "reader/document_parser.h"
#include "reader/parse_stream.h"
#include "diag/report.h"
#include "tarvo/tarvo.h"

namespace tarvo {

struct StreamReader::Impl {
    SourceInput input;
    DocumentParser parser;
    bool at_end = false;

    explicit Impl(SourceInput in) : input(std::move(in)) {}

    Status read_one(const SchemaTable& grammar, const Options& options, ReportBuilder& report) {
        int lookahead = -1;
        return parser.parse_stream(grammar, input, lookahead, options, report);
    }

    // Whitespace after a document is consumed; the first byte of the next
    // document stays unread, so that it is taken only by the read that
    // parses it.
    bool ends_here() {
        if (!at_end) at_end = input.peek_past_space() < 0;
        return at_end;
    }
};

StreamReader::StreamReader(ByteSource read) : impl_(std::make_unique<Impl>(SourceInput(std::move(read)))) {}

StreamReader::StreamReader(ByteSource peek, std::function<void(size_t)> take)
    : impl_(std::make_unique<Impl>(SourceInput(std::move(peek), std::move(take)))) {}

StreamReader::~StreamReader() = default;

bool StreamReader::at_end() const {
    bool end = impl_->ends_here();
    impl_->input.commit();
    return end;
}

Result StreamReader::read(const SchemaTable& grammar, Handler* handler, Flags flags, bool loop) {
    return read(grammar, handler, Options{flags}, loop);
}

Result StreamReader::read(const SchemaTable& grammar, Handler* handler, const Options& options, bool loop) {
    ReportBuilder report;
    impl_->parser.set_handler(handler);
    Status status;
    do status = impl_->read_one(grammar, options, report);
    while (loop && status == Status::ok && !impl_->ends_here());
    impl_->input.commit();
    return report.finish(status);
}

}  // namespace tarvo
