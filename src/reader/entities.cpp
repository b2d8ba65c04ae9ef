#include "reader/entities.h"

#include <cstring>
#include <string_view>

#include "reader/byte_scan.h"

namespace tarvo {

namespace {
struct Entity {
    std::string_view text;
    char replacement;
};
// Searched in this order; the first match wins.
constexpr Entity kEntityTable[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}};
}  // namespace

void decode_entities(std::string& text) {
    // Most values and texts hold no '&' at all; they are short, and an
    // inline scan finds that sooner than a library call.
    const size_t n = text.size();
    size_t read = static_cast<size_t>(scan::find_byte(text.data(), text.data() + n, '&') - text.data());
    if (read == n) return;
    size_t write = read;
    while (read < n) {
        char ch = text[read];
        if (ch == '&') {
            std::string_view rest(text.data() + read, n - read);
            bool matched = false;
            for (const Entity& e : kEntityTable) {
                if (rest.substr(0, e.text.size()) == e.text) {
                    text[write++] = e.replacement;
                    read += e.text.size();
                    matched = true;
                    break;
                }
            }
            if (matched) continue;
        }
        text[write++] = ch;
        ++read;
    }
    text.resize(write);
}

}  // namespace tarvo
