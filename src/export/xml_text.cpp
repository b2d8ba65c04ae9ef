#include "export/xml_text.h"

#include "containers/utf8.h"
#include "reader/xml_text.h"

#include <algorithm>

namespace tarvo::xml_text {

namespace {

// Code point of the UTF-8 sequence at s[i] and its length; 0 when it is not
// well-formed.
size_t decode(std::string_view s, size_t i, char32_t& cp) {
    uint32_t c = 0;
    const size_t len = decode_utf8(reinterpret_cast<const unsigned char*>(s.data()) + i, s.size() - i, c);
    cp = c;
    return len;
}

using xml::is_char;
bool is_name_start(char32_t c) { return xml::is_name_start_code_point(c); }
bool is_name_char(char32_t c) { return xml::is_name_code_point(c); }

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
