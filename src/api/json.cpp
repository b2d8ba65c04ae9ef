// JSON strings from arbitrary bytes, for every JSON text tarvo writes.
#include <string>
#include <string_view>

#include "containers/utf8.h"
#include "tarvo/json.h"

namespace tarvo {

namespace {

void append_escape(std::string& out, unsigned char c) {
    static const char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

}  // namespace

size_t utf8_sequence_length(std::string_view text) {
    uint32_t cp;
    return text.empty() ? 0 : decode_utf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(), cp);
}

void append_json_chars(std::string& out, std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            uint32_t cp;
            size_t len = decode_utf8(reinterpret_cast<const unsigned char*>(text.data()) + i, text.size() - i, cp);
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
