#include "diag/reporter.h"

#include <algorithm>
#include <utility>

namespace tarvo {

namespace {
thread_local Reporter* t_current = nullptr;
}

Reporter* current_reporter() { return t_current; }

std::string_view DiagnosticNames::intern(std::string_view s) {
    if (s.empty()) return {};
    return *strings.emplace(s).first;
}

Reporter::Reporter(StrBuf& warnings, StrBuf& errors)
    : warnings_(warnings), errors_(errors), names_(std::make_shared<DiagnosticNames>()), previous_(t_current) {
    t_current = this;
}

Reporter::~Reporter() {
    if (t_current == this) t_current = previous_;
}

void Reporter::report(Severity severity, std::string message, const Details& details) {
    // A message is text: a NUL (a '%c' given the byte 0) ends it, in the
    // record as in the joined text.
    message.resize(std::min(message.size(), message.find('\0')));
    StrBuf& buf = severity == Severity::warning ? warnings_ : errors_;
    if (buf.length() != 0) buf.append_char('\n');
    Entry e{{}, buf.length(), message.size()};
    buf.append(message);
    Diagnostic& d = e.diagnostic;
    d.severity = severity;
    d.kind = details.kind;
    if (locator_) locator_->locate(d.line, d.column);
    d.element = names_->intern(details.element);
    d.attribute = names_->intern(details.attribute);
    if (details.expected_key) {
        auto [it, added] = names_->lists.try_emplace(details.expected_key);
        if (added)
            for (std::string_view name : details.expected) it->second.push_back(names_->intern(name));
        d.expected = it->second;
    } else if (!details.expected.empty()) {
        d.expected = details.expected;  // already a list of this parse's records
    }
    d.os_error = details.os_error;
    if (severity == Severity::error) {
        last_error_ = entries_.size();
        ++errors_reported_;
    }
    entries_.push_back(std::move(e));
}

const Diagnostic* Reporter::last_error_since(uint32_t mark) const {
    return errors_reported_ > mark ? &entries_[last_error_].diagnostic : nullptr;
}

std::vector<std::string_view> Reporter::messages(Severity severity) const {
    const std::string& text = (severity == Severity::warning ? warnings_ : errors_).str();
    std::vector<std::string_view> out;
    for (const Entry& e : entries_)
        if (e.diagnostic.severity == severity) out.emplace_back(text.data() + e.offset, e.length);
    return out;
}

void Reporter::add_warning(std::string message, const Details& details) {
    report(Severity::warning, std::move(message), details);
}

void Reporter::add_error(std::string message, const Details& details) {
    report(Severity::error, std::move(message), details);
}

void Reporter::warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    add_warning(vformat_message(format, args));
    va_end(args);
}

void Reporter::error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    add_error(vformat_message(format, args));
    va_end(args);
}

}  // namespace tarvo
