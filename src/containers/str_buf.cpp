#include "containers/str_buf.h"

#include <cstdio>

namespace tarvo {

void StrBuf::append_vformat(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, args);
    if (n < 0) {
        va_end(again);
        return;
    }
    size_t length = static_cast<size_t>(n), start = text_.size();
    if (length < sizeof small) {
        append(std::string_view(small, length));
    } else {
        make_room(length);
        text_.resize(start + length);
        // Writes the terminating NUL over the one the string keeps.
        std::vsnprintf(text_.data() + start, length + 1, format, again);
        size_t nul = text_.find('\0', start);
        if (nul != std::string::npos) text_.resize(nul);
    }
    va_end(again);
}

void StrBuf::append_format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    append_vformat(format, args);
    va_end(args);
}

}  // namespace tarvo
