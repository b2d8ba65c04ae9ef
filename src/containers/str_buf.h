// Growable byte string for message texts and collected character data.
// NUL bytes never enter it, so its content is always a valid C string.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace tarvo {

class StrBuf {
public:
    StrBuf() = default;
    explicit StrBuf(std::string_view init) { append(init); }

    size_t length() const { return text_.size(); }
    bool empty() const { return text_.empty(); }

    void append_char(int byte) {
        if (static_cast<char>(byte) != '\0') text_.push_back(static_cast<char>(byte));
    }
    // Appends up to the first NUL of `s`, as a C string would be appended.
    void append(std::string_view s) {
        s = s.substr(0, s.find('\0'));
        make_room(s.size());
        text_.append(s);
    }
    // Formats straight into the text, without a temporary copy; the part
    // ends at a NUL the format produced (a '%c' given 0).
    void append_format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void append_vformat(const char* format, va_list args);
    // Upper-cases the ASCII letter at `pos`, if it is one.
    void capitalize_at(size_t pos) {
        char& c = text_[pos];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }

    // Hands the text over and leaves the buffer empty.
    std::string release() {
        std::string out = std::move(text_);
        text_.clear();
        return out;
    }
    const std::string& str() const { return text_; }
    const char* c_str() const { return text_.c_str(); }
    const char* data() const { return text_.data(); }
    void clear() { text_.clear(); }

private:
    // A text that must grow takes room for as much again plus a page: a
    // message about a long name is usually followed by a second one that
    // repeats the name, which then fits without moving the first. Room
    // that is never written costs address space only.
    void make_room(size_t extra) {
        size_t need = text_.size() + extra;
        if (need > text_.capacity()) text_.reserve(2 * need + 4096);
    }

    std::string text_;
};

}  // namespace tarvo
