// JSON strings from arbitrary bytes, for every JSON text tarvo writes.
#include <string>
#include <string_view>

#include "tarvo/json.h"


namespace tarvo {

namespace {

// Length of the well-formed UTF-8 sequence at the start of `s` (whose first
// byte is at least 0x80), or 0.
size_t utf8_sequence(std::string_view s) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = byte(0);
    size_t len;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) low = 0xA0;   // shorter forms are overlong
        if (c == 0xED) high = 0x9F;  // U+D800..U+DFFF are surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (s.size() < len || byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < len; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    return len;
}

void append_escape(std::string& out, unsigned char c) {
    static const char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

}  // namespace

void append_json_chars(std::string& out, std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            size_t len = utf8_sequence(text.substr(i));
            if (len == 0) {
                append_escape(out, c);  // the code point of the same value
                ++i;
            } else {
                out.append(text.substr(i, len));
                i += len;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20)
                append_escape(out, c);
            else
                out += static_cast<char>(c);
        }
        ++i;
    }
}

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    append_json_chars(out, text);
    out += '"';
}

}  // namespace tarvo
