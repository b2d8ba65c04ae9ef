#include "diag/report.h"

#include <memory>
#include <utility>

namespace tarvo {

namespace {

// Where `message` quotes `name` ('name'), looked for from the end: every
// message quotes a name it is about after any long value it shows, so the
// first quote tried is usually the one that closes the name. npos if not.
size_t quoted_at(std::string_view message, std::string_view name) {
    const size_t n = name.size();
    for (size_t close = message.size(); close-- > n + 1;) {
        close = message.rfind('\'', close);
        if (close == std::string_view::npos || close < n + 1) break;
        const size_t open = close - n - 1;
        if (message[open] == '\'' && message.compare(open + 1, n, name) == 0) return open + 1;
    }
    return std::string_view::npos;
}

}  // namespace

StrBuf& ReportBuilder::begin(Severity severity) {
    StrBuf& t = text(severity);
    pending_ = severity;
    if (t.length() != 0) t.append_char('\n');
    pending_start_ = t.length();
    return t;
}

ReportBuilder::Piece ReportBuilder::keep_name(std::string_view name, const Piece& message) {
    if (name.empty()) return {};
    // A long name quoted in its message costs no copy of its own.
    const StrBuf& t = message.text == 0 ? warnings_ : errors_;
    const size_t at = quoted_at(std::string_view(t.data() + message.offset, message.size), name);
    if (at != std::string_view::npos) return {message.text, message.offset + at, name.size(), nullptr};
    // A line that follows a refusal names what the refusal's message quoted.
    if (!records_.empty()) {
        const Record& last = records_.back();
        for (const Piece* p : {&last.attribute, &last.element})
            if (p->size == name.size() && text_of(*p) == name) return *p;
    }
    return {2, 0, name.size(), &*names_.emplace(name).first};
}

void ReportBuilder::end(const Details& details, const Span& span) {
    const StrBuf& t = text(pending_);
    Record r{};
    r.severity = pending_;
    r.kind = details.kind;
    r.span = span;
    r.message = {static_cast<uint8_t>(pending_ == Severity::warning ? 0 : 1), pending_start_,
                 t.length() - pending_start_, nullptr};
    r.element = keep_name(details.element, r.message);
    r.attribute = keep_name(details.attribute, r.message);
    if (details.expected_key) {
        auto [it, added] = lists_.try_emplace(details.expected_key);
        if (added) {
            it->second.first = expected_.size();
            for (std::string_view name : details.expected)
                expected_.push_back(name.empty() ? std::string_view() : *names_.emplace(name).first);
            it->second.second = details.expected.size();
        }
        r.expected_first = it->second.first;
        r.expected_count = it->second.second;
    } else if (!details.expected.empty()) {
        r.expected_first = expected_.size();
        for (std::string_view name : details.expected) expected_.push_back(*names_.emplace(name).first);
        r.expected_count = details.expected.size();
    }
    r.os_error = details.os_error;
    r.note = details.note;
    r.code = pooled(details.code.empty() ? code_of(details.kind) : details.code);
    r.parent = keep_name(details.parent, r.message);
    r.path = pooled(details.path);
    r.suggestion = pooled(details.suggestion);
    records_.push_back(r);
}

void ReportBuilder::add(Severity severity, std::string_view message, const Details& details, const Span& span) {
    begin(severity).append(message);
    end(details, span);
}

ReportBuilder::Piece ReportBuilder::pooled(std::string_view s) {
    if (s.empty()) return {};
    return {2, 0, s.size(), &*names_.emplace(s).first};
}

std::string_view code_of(DiagnosticKind kind) {
    switch (kind) {
    case DiagnosticKind::syntax: return "syntax";
    case DiagnosticKind::unknown_element: return "unknown-element";
    case DiagnosticKind::misplaced_element: return "misplaced-element";
    case DiagnosticKind::unknown_attribute: return "unknown-attribute";
    case DiagnosticKind::wrong_attribute_value: return "invalid-value";
    case DiagnosticKind::missing_attribute: return "missing-attribute";
    case DiagnosticKind::text_not_allowed: return "text-not-allowed";
    case DiagnosticKind::input_output: return "unreadable";
    case DiagnosticKind::handler_failed: return "callback-failed";
    }
    return "syntax";
}

std::string_view ReportBuilder::text_of(const Piece& p) const {
    if (p.pooled) return *p.pooled;
    const StrBuf& t = p.text == 0 ? warnings_ : errors_;
    return std::string_view(t.data() + p.offset, p.size);
}

std::string_view ReportBuilder::view(const Result::Storage& s, const Piece& p) const {
    if (p.size == 0) return {};
    if (p.pooled) return *p.pooled;
    return std::string_view(p.text == 0 ? s.warnings : s.errors).substr(p.offset, p.size);
}

Result ReportBuilder::finish(Status status) {
    Result out;
    out.status = status;
    if (!records_.empty()) {
        auto s = std::make_shared<Result::Storage>();
        s->warnings = warnings_.release();
        s->errors = errors_.release();
        s->names = std::move(names_);  // the nodes stay where they are
        s->expected = std::move(expected_);
        s->diagnostics.reserve(records_.size());
        for (const Record& r : records_) {
            Diagnostic& d = s->diagnostics.emplace_back();
            d.severity = r.severity;
            d.kind = r.kind;
            d.line = r.span.line;
            d.column = r.span.column;
            d.end_line = r.span.end_line;
            d.end_column = r.span.end_column;
            d.message = view(*s, r.message);
            d.element = view(*s, r.element);
            d.attribute = view(*s, r.attribute);
            if (r.expected_count) d.expected = {s->expected.data() + r.expected_first, r.expected_count};
            d.os_error = r.os_error;
            d.code = view(*s, r.code);
            d.note = r.note;
            d.parent = view(*s, r.parent);
            d.path = view(*s, r.path);
            d.suggestion = view(*s, r.suggestion);
        }
        out.storage_ = std::move(s);
    }
    *this = ReportBuilder();
    return out;
}

// ---------------------------------------------------------------------------
// Result

Result::Result(Status s, std::span<const Diagnostic> records) {
    ReportBuilder b;
    for (const Diagnostic& d : records) {
        Details details;
        details.kind = d.kind;
        details.element = d.element;
        details.attribute = d.attribute;
        details.expected_key = d.expected.empty() ? nullptr : d.expected.data();
        details.expected = d.expected;
        details.os_error = d.os_error;
        details.code = d.code;
        details.note = d.note;
        details.parent = d.parent;
        details.path = d.path;
        details.suggestion = d.suggestion;
        b.add(d.severity, d.message, details, {d.line, d.column, d.end_line, d.end_column});
    }
    *this = b.finish(s);
}

std::string_view Result::warnings() const { return storage_ ? std::string_view(storage_->warnings) : ""; }
std::string_view Result::errors() const { return storage_ ? std::string_view(storage_->errors) : ""; }

std::span<const Diagnostic> Result::diagnostics() const {
    if (!storage_) return {};
    return storage_->diagnostics;
}

namespace {
std::vector<std::string_view> messages_of(std::span<const Diagnostic> records, Severity severity) {
    std::vector<std::string_view> out;
    for (const Diagnostic& d : records)
        if (d.severity == severity) out.push_back(d.message);
    return out;
}
}  // namespace

std::vector<std::string_view> Result::warning_messages() const {
    return messages_of(diagnostics(), Severity::warning);
}
std::vector<std::string_view> Result::error_messages() const { return messages_of(diagnostics(), Severity::error); }

}  // namespace tarvo
