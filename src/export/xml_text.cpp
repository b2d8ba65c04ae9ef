#include "export/xml_text.h"

#include <algorithm>

namespace tarvo::xml_text {

namespace {

// Code point of the UTF-8 sequence at s[i] and its length; 0 when it is not
// well-formed (overlong, a surrogate, beyond U+10FFFF, cut short).
size_t decode(std::string_view s, size_t i, char32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    unsigned char c = byte(0);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    size_t len;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (s.size() - i < len || byte(1) < low || byte(1) > high) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (byte(k) & 0x3F);
    }
    return len;
}

bool is_char(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

bool is_name_start(char32_t c) {
    return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool is_name_char(char32_t c) {
    return is_name_start(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// Whether every character of `s` passes `test(cp, first)`.
template <class Test>
bool all_chars(std::string_view s, Test&& test) {
    for (size_t i = 0; i < s.size();) {
        char32_t cp;
        size_t len = decode(s, i, cp);
        if (len == 0 || !test(cp, i == 0)) return false;
        i += len;
    }
    return true;
}

}  // namespace

bool is_chars(std::string_view s) {
    return all_chars(s, [](char32_t c, bool) { return is_char(c); });
}

bool is_name(std::string_view s) {
    return !s.empty() && all_chars(s, [](char32_t c, bool first) { return first ? is_name_start(c) : is_name_char(c); });
}

bool is_ncname(std::string_view s) { return is_name(s) && s.find(':') == std::string_view::npos; }

bool is_nmtoken(std::string_view s) {
    return !s.empty() && all_chars(s, [](char32_t c, bool) { return is_name_char(c); });
}

std::string escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string printable(std::string_view s) {
    std::string out;
    append_printable(out, s);
    return out;
}

void append_printable(std::string& out, std::string_view s) {
    static const char kHex[] = "0123456789ABCDEF";
    if (std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
        out.append(s);
        return;
    }
    for (size_t i = 0; i < s.size();) {
        char32_t cp = 0;
        size_t len = decode(s, i, cp);
        bool shown = len > 0 && is_char(cp) && cp >= 0x20 && !(cp >= 0x7F && cp <= 0x9F);
        if (shown) {
            out.append(s.substr(i, len));
        } else {
            for (size_t k = 0; k < (len ? len : 1); ++k) {
                unsigned char b = static_cast<unsigned char>(s[i + k]);
                out += "\\x";
                out += kHex[b >> 4];
                out += kHex[b & 15];
            }
        }
        i += len ? len : 1;
    }
}

std::string comment(std::string_view s) {
    std::string out;
    for (char c : printable(s)) {
        if (c == '-' && !out.empty() && out.back() == '-') out += ' ';
        out += c;
    }
    return "<!-- " + out + " -->";
}

}  // namespace tarvo::xml_text
