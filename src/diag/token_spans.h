// Where the tokens a record is about lie, worked out when a problem is
// reported, so that reading a valid document pays nothing for it: from the
// bytes of the construct the reader marked (see BufferedInput::mark_back)
// or from the reader's position. Each is worked out before the problem's
// first record is filed, which asks where the reader stands.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "check/attributes.h"
#include "diag/report.h"

namespace tarvo {

// Line and column while walking bytes forward from a known position.
struct LineWalk {
    long line, column;
    void step(unsigned char b) {
        if (b == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
};

// The tokens of one start tag, found again in its bytes: the element name,
// and each attribute's name (its first time) and value (its last time, as
// the reader keeps it), without the quotes.
class TagTokens {
public:
    struct Attribute {
        Span name;
        Span value;
    };

    // Reads the tag in `bytes`, from its name (at `line`, `column`) up to
    // at least the byte after its attributes.
    void scan(std::string_view bytes, long line, long column);
    void clear() {
        element_ = {};
        attributes_.clear();
    }
    const Span& element() const { return element_; }
    // The attribute named `name`, or null.
    const Attribute* find(std::string_view name) const;

private:
    Span element_;
    std::unordered_map<std::string, Attribute> attributes_;
};

// The span of the non-blank bytes of a run of character data, whose first
// byte is at `line`, `column`; that byte's when all are blank.
Span raw_text_span(std::string_view bytes, long line, long column);
bool is_blank(std::string_view bytes);

// The spans of the tokens the problems of one parse are about, over its
// input (reader/char_input.h), whose start tags and runs of character data
// the parse loop marks.
template <class Input>
class TokenSpans {
public:
    explicit TokenSpans(Input& in) : in_(in) {}

    // The byte read last.
    Span here() {
        long line, column;
        in_.location(line, column);
        return Span::at(line, column);
    }
    // A name of `size` bytes just read, the reader standing on the byte `c`
    // after it (-1: on its last byte).
    Span name(size_t size, int c) {
        Span s = here();
        if (c < 0) ++s.column;
        s.end_column = s.column;
        s.column -= static_cast<long>(size);
        return s;
    }
    // The open start tag's name, and the token of an attribute problem.
    Span tag_name() {
        const TagTokens* t = tag();
        return t ? t->element() : here();
    }
    Span attribute(const AttributeProblem& p) {
        if (const TagTokens* t = tag()) {
            if (p.kind == AttributeProblem::Kind::missing) return t->element();
            if (const TagTokens::Attribute* a = t->find(p.name))
                return p.kind == AttributeProblem::Kind::wrong_value ? a->value : a->name;
        }
        return here();
    }
    // The run of character data just read, marked where its first non-blank
    // part begins, ending `after` bytes before the byte read next.
    Span text(size_t after) {
        long line = 0, column = 0;
        const std::string_view bytes = in_.marked(marked_, line, column);
        if (bytes.size() <= after) return here();
        const std::string_view run = bytes.substr(0, bytes.size() - after);
        const auto* cut = in_.text_cut();
        if (!cut) return raw_text_span(run, line, column);
        // Only the run's last bytes are kept: it starts where it was marked.
        Span s{cut->line, cut->column, cut->last_line, cut->last_column + 1};
        if (!is_blank(run)) {
            const Span tail = raw_text_span(run, line, column);
            s.end_line = tail.end_line;
            s.end_column = tail.end_column;
        }
        return s;
    }

private:
    // The open start tag's tokens, found once however many problems it has.
    const TagTokens* tag() {
        if (scanned_ != in_.mark()) {
            long line = 0, column = 0;
            const std::string_view bytes = in_.marked(marked_, line, column);
            if (bytes.empty()) return nullptr;
            tokens_.scan(bytes, line, column);
            scanned_ = in_.mark();
        }
        return &tokens_;
    }

    Input& in_;
    TagTokens tokens_;
    long scanned_ = -1;    // the mark whose tag tokens_ holds
    std::string marked_;  // the marked bytes, when a refill came between
};

}  // namespace tarvo
