#include "diag/token_spans.h"

#include <algorithm>

#include "reader/char_class.h"

namespace tarvo {

namespace {

// Walks [p, e) with its line and column.
struct Cursor {
    const unsigned char* p;
    const unsigned char* e;
    LineWalk at;

    bool done() const { return p >= e; }
    unsigned char peek() const { return *p; }
    void next() { at.step(*p++); }
    void skip_space() {
        while (!done() && is_space(*p)) next();
    }
    // Consumes bytes while `more` says so; the span of what it consumed.
    template <class More>
    Span take(More more) {
        Span s{at.line, at.column, at.line, at.column};
        while (!done() && more(*p)) {
            s.end_line = at.line;
            s.end_column = at.column + 1;
            next();
        }
        return s;
    }
};

bool ends_name(unsigned char b) { return is_space(b) || b == '=' || b == '>' || b == '/'; }

Cursor cursor(std::string_view bytes, long line, long column) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    return {b, b + bytes.size(), {line, column}};
}

}  // namespace

void TagTokens::scan(std::string_view bytes, long line, long column) {
    clear();
    Cursor c = cursor(bytes, line, column);
    element_ = c.take([](unsigned char x) { return !ends_name(x); });
    for (;;) {
        c.skip_space();
        if (c.done() || ends_name(c.peek())) return;
        const unsigned char* name_at = c.p;
        Span name = c.take([](unsigned char x) { return !ends_name(x); });
        std::string_view key(reinterpret_cast<const char*>(name_at), static_cast<size_t>(c.p - name_at));
        c.skip_space();
        if (c.done() || c.peek() != '=') return;
        c.next();
        c.skip_space();
        if (c.done()) return;
        const unsigned char quote = c.peek();
        c.next();  // a quote, or an opener the reader drops
        Span value = quote == '"' || quote == '\'' ? c.take([quote](unsigned char x) { return x != quote; })
                                                   : c.take([](unsigned char x) { return !is_space(x); });
        if (!c.done() && (quote == '"' || quote == '\'')) c.next();
        auto [it, added] = attributes_.try_emplace(std::string(key), Attribute{name, value});
        if (!added) it->second.value = value;  // a name given again keeps its first place
    }
}

const TagTokens::Attribute* TagTokens::find(std::string_view name) const {
    auto it = attributes_.find(std::string(name));
    return it == attributes_.end() ? nullptr : &it->second;
}

bool is_blank(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char b) { return is_space(static_cast<unsigned char>(b)); });
}

Span raw_text_span(std::string_view bytes, long line, long column) {
    Cursor c = cursor(bytes, line, column);
    const unsigned char* e = c.e;
    c.skip_space();
    const unsigned char* last = e;
    while (last > c.p && is_space(last[-1])) --last;
    Span s = Span::at(c.at.line, c.at.column);
    if (c.p == last) return s;
    while (c.p < last - 1) c.next();
    s.end_line = c.at.line;
    s.end_column = c.at.column + 1;
    return s;
}

}  // namespace tarvo
