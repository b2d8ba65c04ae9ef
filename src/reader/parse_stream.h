// One document of a stream, read by the parse loop in the mode its
// options ask for: the entry point of the stream readers.
#pragma once

#include "reader/parse_loop.h"

namespace tarvo {

template <DocumentInput Input>
Status DocumentParser::parse_stream(const SchemaTable& table, Input& input, int& lookahead, const Options& options,
                                    ReportBuilder& report) {
    if (has(options.flags, Flags::xml)) return parse_stream_in<Input, true>(table, input, lookahead, options, report);
    return parse_stream_in<Input, false>(table, input, lookahead, options, report);
}

template <DocumentInput Input, bool Xml>
Status DocumentParser::parse_stream_in(const SchemaTable& table, Input& input, int& lookahead, const Options& options,
                                       ReportBuilder& report) {
    ParseRun<Input, Xml> run(table, input, handler_, options, scratch_, report);
    int c = (lookahead < 0 || is_space(lookahead)) ? input.skip_space() : lookahead;
    if (c != '<') {
        run.plain(Severity::error, {}, "Found '%c' (%d) where '<' expected", c, c);
        return Status::invalid;
    }
    Status status = run.run(c, false);
    if (status == Status::ok) lookahead = -1;
    return status;
}

}  // namespace tarvo
