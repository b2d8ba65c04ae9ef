#include "diag/reporter.h"

#include <algorithm>
#include <utility>

namespace tarvo {

namespace {
thread_local Reporter* t_current = nullptr;
}

Reporter* current_reporter() { return t_current; }

Reporter::Reporter(StrBuf& warnings, StrBuf& errors)
    : warnings_(warnings), errors_(errors), previous_(t_current) {
    t_current = this;
}

Reporter::~Reporter() {
    if (t_current == this) t_current = previous_;
}

void Reporter::append(StrBuf& buf, std::vector<std::string>& list, std::string message) {
    // A message is text: a NUL (a '%c' given the byte 0) ends it, in the
    // list as in the joined text.
    message.resize(std::min(message.size(), message.find('\0')));
    if (buf.length() != 0) buf.append_char('\n');
    buf.append(message);
    list.push_back(std::move(message));
}

void Reporter::add_warning(std::string message) { append(warnings_, warning_list_, std::move(message)); }

void Reporter::add_error(std::string message) {
    append(errors_, error_list_, std::move(message));
    ++errors_reported_;
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
