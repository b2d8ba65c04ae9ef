// Collects the warnings and errors of one parse: each message once, in the
// warning or the error text, and beside it a record of what it is about.
// The parse loop owns one and is the only writer; checks never report, they
// return what they refused (see check/).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "containers/str_buf.h"
#include "tarvo/tarvo.h"

namespace tarvo {

// Where a record's token lies: the line and column of its first byte, and
// the line of its last byte with the column just past it (see Diagnostic).
struct Span {
    long line = 0, column = 0, end_line = 0, end_column = 0;
    // The one byte at `line`, `column`; nowhere when `line` is 0.
    static Span at(long line, long column) { return {line, column, line, line > 0 ? column + 1 : 0}; }
};

// What the reporting site knows about a message besides its text. The views
// must stay valid until the message is filed.
struct Details {
    DiagnosticKind kind = DiagnosticKind::syntax;
    std::string_view element;
    std::string_view attribute;
    // Identity of the expected list (a grammar row or rule), so that a list
    // is stored once however many messages name it; null for none.
    const void* expected_key = nullptr;
    std::span<const std::string_view> expected;  // read only when the key is new
    int os_error = 0;
    std::string_view code;  // the problem's stable name; empty: the kind's
    bool note = false;
    std::string_view parent;
    std::string_view path;
    std::string_view suggestion;
};

// The stable name of a problem of `kind` ("misplaced-element", ...); a
// missing element is a misplaced one the refusal calls missing.
std::string_view code_of(DiagnosticKind kind);

// The texts and records of a finished report, as a Result shares them.
// Nothing in it moves once it is made, so the records' views stay put.
struct Result::Storage {
    std::string warnings;
    std::string errors;
    std::unordered_set<std::string> names;  // node-based: views into it stay valid
    std::vector<std::string_view> expected;
    std::vector<Diagnostic> diagnostics;
};

class ReportBuilder {
public:
    // A message written in parts straight into its text: begin() returns the
    // text to append to, end() files what was appended since as one message.
    StrBuf& begin(Severity severity);
    void end(const Details& details, const Span& span = {});
    // The text the message begun last is being written into.
    StrBuf& text_being_written() { return text(pending_); }
    // A whole message at once.
    void add(Severity severity, std::string_view message, const Details& details = {}, const Span& span = {});

    // Hands the texts and records to a Result and starts afresh.
    Result finish(Status status);

private:
    // A stretch of one of the texts: 0 warnings, 1 errors, 2 the name pool
    // (then `offset` is unused and `pooled` points at the name).
    struct Piece {
        uint8_t text = 0;
        size_t offset = 0;
        size_t size = 0;
        const std::string* pooled = nullptr;
    };
    struct Record {
        Severity severity;
        DiagnosticKind kind;
        Span span;
        Piece message, element, attribute, code, parent, path, suggestion;
        size_t expected_first = 0, expected_count = 0;
        int os_error;
        bool note;
    };

    StrBuf& text(Severity severity) { return severity == Severity::warning ? warnings_ : errors_; }
    Piece keep_name(std::string_view name, const Piece& message);
    Piece pooled(std::string_view s);
    std::string_view text_of(const Piece& p) const;
    std::string_view view(const Result::Storage& s, const Piece& p) const;

    StrBuf warnings_;
    StrBuf errors_;
    std::unordered_set<std::string> names_;
    std::vector<std::string_view> expected_;  // views into names_
    std::unordered_map<const void*, std::pair<size_t, size_t>> lists_;
    std::vector<Record> records_;
    Severity pending_ = Severity::error;
    size_t pending_start_ = 0;
};

}  // namespace tarvo
