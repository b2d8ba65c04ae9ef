#include "json.h"

namespace tarvo::cli {

size_t json_piece_end(std::string_view s, size_t size) {
    if (size >= s.size()) return s.size();
    // Back to the first byte of the sequence that `size` falls in; a
    // sequence is at most four bytes, so a continuation byte with no such
    // start in the three before it belongs to none.
    size_t end = size;
    while (end > size - 3 && end > 1 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80 ? size : end;
}

std::string json_list(std::span<const std::string_view> items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        append_json_string(out, items[i]);
    }
    return out + "]";
}

}  // namespace tarvo::cli
