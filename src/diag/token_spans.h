// Where the tokens a record is about lie, worked out when a problem is
// reported, so that reading a valid document pays nothing for it: from the
// bytes of the construct the reader marked (see BufferedInput::mark_back)
// or from the reader's position.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

}  // namespace tarvo
