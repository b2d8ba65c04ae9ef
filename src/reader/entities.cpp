#include "reader/entities.h"

#include <cstring>
#include <string_view>

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
    // Most values and texts hold no '&' at all; they are short, and a plain
    // loop finds that sooner than a library call.
    size_t read = 0;
    const size_t n = text.size();
    while (read < n && text[read] != '&') ++read;
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
