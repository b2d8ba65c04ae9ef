#include "diag/reporter.h"

#include <cstdint>
#include <utility>

namespace tarvo {

namespace {

thread_local Reporter* t_current = nullptr;

// Where `message` quotes `name` ('name'), looked for from the end: every
// message quotes a name it is about after any long value it shows, so the
// first quote tried is usually the one that closes the name.
std::string_view quoted_in(std::string_view message, std::string_view name) {
    size_t n = name.size();
    for (size_t close = message.size(); close-- > n + 1;) {
        close = message.rfind('\'', close);
        if (close == std::string_view::npos || close < n + 1) break;
        size_t open = close - n - 1;
        if (message[open] == '\'' && message.compare(open + 1, n, name) == 0) return message.substr(open + 1, n);
    }
    return {};
}

}  // namespace

Reporter* current_reporter() { return t_current; }

bool lies_in(std::string_view view, const char* base, size_t size) {
    auto p = reinterpret_cast<uintptr_t>(view.data()), b = reinterpret_cast<uintptr_t>(base);
    return view.data() && p >= b && p <= b + size;
}

void move_view(std::string_view& view, const char* from, size_t size, const char* to) {
    if (lies_in(view, from, size))
        view = std::string_view(to + (reinterpret_cast<uintptr_t>(view.data()) - reinterpret_cast<uintptr_t>(from)),
                                view.size());
}

std::string_view DiagnosticNames::intern(std::string_view s) {
    if (s.empty()) return {};
    return *strings.emplace(s).first;
}

Reporter::Reporter(StrBuf& warnings, StrBuf& errors)
    : warnings_{warnings, warnings.data(), warnings.length()}, errors_{errors, errors.data(), errors.length()},
      names_(std::make_shared<DiagnosticNames>()), previous_(t_current) {
    t_current = this;
}

Reporter::~Reporter() {
    if (t_current == this) t_current = previous_;
}

void Reporter::follow(Text& t) {
    const char* now = t.buf.data();
    if (now == t.base) return;
    auto move = [&](std::string_view& v) { move_view(v, t.base, t.size, now); };
    for (Diagnostic& d : records_) {
        move(d.message);
        move(d.element);
        move(d.attribute);
    }
    move(pending_.element);
    move(pending_.attribute);
    t.base = now;
}

std::string_view Reporter::keep_name(std::string_view name, std::string_view message) {
    if (name.empty()) return {};
    if (lies_in(name, warnings_.base, warnings_.size) || lies_in(name, errors_.base, errors_.size)) return name;
    std::string_view quoted = quoted_in(message, name);
    return quoted.empty() ? names_->intern(name) : quoted;
}

StrBuf& Reporter::begin(Severity severity, const Details& details) {
    Text& t = text(severity);
    pending_severity_ = severity;
    pending_ = details;
    if (t.buf.length() != 0) t.buf.append_char('\n');
    pending_start_ = t.buf.length();
    return t.buf;
}

void Reporter::end() {
    Text& t = text(pending_severity_);
    follow(t);
    std::string_view message(t.buf.data() + pending_start_, t.buf.length() - pending_start_);
    t.size = t.buf.length();
    Diagnostic& d = records_.emplace_back();
    d.severity = pending_severity_;
    d.kind = pending_.kind;
    d.message = message;
    if (locator_) locator_->locate(d.line, d.column);
    d.element = keep_name(pending_.element, message);
    d.attribute = keep_name(pending_.attribute, message);
    if (pending_.expected_key) {
        auto [it, added] = names_->lists.try_emplace(pending_.expected_key);
        if (added)
            for (std::string_view name : pending_.expected) it->second.push_back(names_->intern(name));
        d.expected = it->second;
    } else if (!pending_.expected.empty()) {
        d.expected = pending_.expected;  // already a list of this parse's records
    }
    d.os_error = pending_.os_error;
    if (d.severity == Severity::error) {
        last_error_ = records_.size() - 1;
        ++errors_reported_;
    }
    pending_ = {};
}

const Diagnostic* Reporter::last_error_since(uint32_t mark) const {
    return errors_reported_ > mark ? &records_[last_error_] : nullptr;
}

std::vector<std::string_view> Reporter::messages(Severity severity) const {
    std::vector<std::string_view> out;
    for (const Diagnostic& d : records_)
        if (d.severity == severity) out.push_back(d.message);
    return out;
}

void Reporter::add_warning(std::string_view message, const Details& details) {
    begin(Severity::warning, details).append(message);
    end();
}

void Reporter::add_error(std::string_view message, const Details& details) {
    begin(Severity::error, details).append(message);
    end();
}

void Reporter::add_parts(Severity severity, const Details& details, std::initializer_list<std::string_view> parts) {
    StrBuf& text = begin(severity, details);
    for (std::string_view part : parts) text.append(part);
    end();
}

void Reporter::warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    begin(Severity::warning, {}).append_vformat(format, args);
    va_end(args);
    end();
}

void Reporter::error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    begin(Severity::error, {}).append_vformat(format, args);
    va_end(args);
    end();
}

}  // namespace tarvo
