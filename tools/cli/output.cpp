#include "output.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "tarvo/json.h"
#include "tarvo/tarvo.h"

namespace tarvo::cli {

namespace {

// Output is handed on once this much is gathered; longer strings are
// escaped in pieces of this size.
constexpr size_t kBlock = 1 << 16;

const char kHex[] = "0123456789abcdef";

// Where the next control of `s` at or after `from` begins (s.size() if
// there is none), and in `length` how many bytes it takes: two for the
// UTF-8 form of a C1 control, else one.
size_t next_control(std::string_view s, size_t from, size_t& length) {
    for (size_t i = from; i < s.size();) {
        // Eight printable ASCII bytes at a time: none below 0x20, none
        // 0x7f, none from 0x80 up.
        constexpr uint64_t kOnes = 0x0101010101010101, kHigh = 0x8080808080808080;
        for (uint64_t w; i + 8 <= s.size(); i += 8) {
            std::memcpy(&w, s.data() + i, 8);
            uint64_t del = w ^ (0x7f * kOnes);
            if (((w - 0x20 * kOnes) | (del - kOnes) | w) & kHigh) break;
        }
        if (i == s.size()) break;
        unsigned char c = static_cast<unsigned char>(s[i]);
        length = 1;
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7f) return i;
            ++i;
            continue;
        }
        size_t n = tarvo::utf8_sequence_length(s.substr(i));
        if (n == 0 && c <= 0x9f) return i;  // a C1 control byte on its own
        if (n == 2 && c == 0xc2 && static_cast<unsigned char>(s[i + 1]) <= 0x9f) {
            length = 2;
            return i;
        }
        i += n ? n : 1;
    }
    return s.size();
}

void append_escape(std::string& out, char byte, const char* prefix) {
    unsigned char c = static_cast<unsigned char>(byte);
    out += prefix;
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

// Where a piece of about `size` bytes taken from the start of `s` ends, so
// that append_json_chars() is given no split sequence.
size_t json_piece_end(std::string_view s, size_t size) {
    if (size >= s.size()) return s.size();
    // Back to the first byte of the sequence that `size` falls in; a
    // sequence is at most four bytes, so a continuation byte with no such
    // start in the three before it belongs to none.
    size_t end = size;
    while (end > size - 3 && end > 1 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80 ? size : end;
}

// JSON text of `s` (whole UTF-8 sequences) onto `out`: the library's
// escapes, and DEL and the well-formed C1 controls, which it copies, as
// \u escapes too (a lone byte 0x80 to 0x9f it escapes already).
void append_json_piece(std::string& out, std::string_view s) {
    if (!std::memchr(s.data(), 0x7f, s.size()) && !std::memchr(s.data(), 0xc2, s.size()))
        return tarvo::append_json_chars(out, s);
    size_t run = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        bool c1 = c == 0xc2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                  static_cast<unsigned char>(s[i + 1]) <= 0x9f;
        if (c != 0x7f && !c1) continue;
        tarvo::append_json_chars(out, s.substr(run, i - run));
        if (c1) ++i;  // U+0080 to U+009F: the value is the second byte's
        append_escape(out, s[i], "\\u00");
        run = i + 1;
    }
    tarvo::append_json_chars(out, s.substr(run));
}

}  // namespace

Writer& Writer::raw(std::string_view bytes) {
    if (buffer_.size() + bytes.size() > kBlock) {
        flush();
        if (bytes.size() >= kBlock) {
            write_(bytes);
            return *this;
        }
    }
    buffer_ += bytes;
    return *this;
}

Writer& Writer::text(std::string_view s, Breaks breaks) {
    size_t done = 0, length = 1;
    for (size_t at; (at = next_control(s, done, length)) < s.size(); done = at + length) {
        raw(s.substr(done, at - done));
        if (breaks == Breaks::space && (s[at] == '\n' || s[at] == '\r')) {
            raw(" ");
            continue;
        }
        for (size_t i = at; i < at + length; ++i) append_escape(buffer_, s[i], "\\x");
    }
    return raw(s.substr(done));
}

Writer& Writer::json(std::string_view s) { return raw("\"").json_chars(s).raw("\""); }

Writer& Writer::json_chars(std::string_view s) {
    while (!s.empty()) {
        size_t end = json_piece_end(s, kBlock);
        append_json_piece(buffer_, s.substr(0, end));
        if (buffer_.size() >= kBlock) flush();
        s.remove_prefix(end);
    }
    return *this;
}

Writer& Writer::workflow(std::string_view s, bool property) {
    // Every byte escaped here is ASCII, so no piece between two splits a
    // UTF-8 sequence that text() would judge differently whole.
    const char* special = property ? "%\r\n:," : "%\r\n";
    for (size_t at; (at = s.find_first_of(special)) != std::string_view::npos; s.remove_prefix(at + 1)) {
        text(s.substr(0, at));
        char escape[4] = {'%', kHex[s[at] >> 4], kHex[s[at] & 15], 0};
        escape[1] = static_cast<char>(std::toupper(static_cast<unsigned char>(escape[1])));
        escape[2] = static_cast<char>(std::toupper(static_cast<unsigned char>(escape[2])));
        raw(escape);
    }
    return text(s);
}

Writer& Writer::json_or_null(std::string_view s) { return s.empty() ? raw("null") : json(s); }

Writer& Writer::json_list(std::span<const std::string_view> items) {
    raw("[");
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) raw(",");
        json(items[i]);
    }
    return raw("]");
}

void Writer::flush() {
    if (buffer_.empty()) return;
    write_(buffer_);
    buffer_.clear();
}

std::string escape_controls(std::string_view s) {
    std::string out;
    size_t done = 0, length = 1;
    for (size_t at; (at = next_control(s, done, length)) < s.size(); done = at + length) {
        out += s.substr(done, at - done);
        for (size_t i = at; i < at + length; ++i) append_escape(out, s[i], "\\x");
    }
    return out += s.substr(done);
}

}  // namespace tarvo::cli
