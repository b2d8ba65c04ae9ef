// The XML 1.0 reading mode's rules for names, characters and references.
// Each check returns what it found wrong as a sentence for a message, or an
// empty string; the parse loop files it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "reader/char_class.h"

namespace tarvo::xml {

// Whether `c` (one byte, or -1) may start or continue a name: the ASCII
// NameStartChar and NameChar sets, and every byte of a multi-byte UTF-8
// sequence, which check_name() then decodes.
inline bool is_name_start_byte(int c) { return is_xml_name_start_byte(c); }
inline bool is_name_byte(int c) {
    return is_name_start_byte(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// XML's classes of code points: NameStartChar, NameChar and Char.
bool is_name_start_code_point(uint32_t c);
bool is_name_code_point(uint32_t c);
bool is_char(uint32_t c);

// Problems of a name read by those classes: a code point outside
// NameStartChar (first) or NameChar, or malformed UTF-8.
std::string check_name(std::string_view name);

// The character of a predefined entity's reference at `p` ('&' first, `n`
// bytes at hand), its length in `length`; or 0. The common references are
// settled by this alone, without the general reader.
[[gnu::always_inline]] inline char predefined(const unsigned char* p, size_t n, size_t& length) {
    if (n >= 4 && p[3] == ';') {
        length = 4;
        if (p[2] != 't') return 0;
        return p[1] == 'l' ? '<' : p[1] == 'g' ? '>' : 0;
    }
    if (n >= 5 && p[4] == ';') {
        length = 5;
        return p[1] == 'a' && p[2] == 'm' && p[3] == 'p' ? '&' : 0;
    }
    if (n >= 6 && p[5] == ';') {
        length = 6;
        if (std::memcmp(p + 1, "quot", 4) == 0) return '"';
        if (std::memcmp(p + 1, "apos", 4) == 0) return '\'';
    }
    return 0;
}

// How a run of characters is finished in place.
enum class Run {
    text,       // line ends become "\n"; "]]>" may not appear
    attribute,  // line ends and every whitespace character become " "; '<' may not appear
    cdata,      // line ends become "\n"; no references
    literal,    // only checked: comments and processing instructions
};

// Checks that `run`, from `from` on, holds only characters XML allows (well-formed UTF-8,
// no control characters but tab, line feed and carriage return, no
// U+FFFE/U+FFFF), normalises its line ends and whitespace, and replaces
// the references (&lt; &gt; &amp; &quot; &apos; &#N; &#xH;) by their
// characters. Returns the problem found first, or "".
std::string finish_run(std::string& run, Run kind, size_t from = 0);

// What finish_run() does at a reference it cannot replace: `problem` was
// found at run[i], the bytes before `w` being finished; returns the problem
// to report, or "" once it has finished the run itself. Null: `problem` is
// reported. Set on a thread for the parse of a document that declares
// general entities (general_entities.h).
using UnknownReference = std::string (*)(std::string problem, std::string& run, size_t w, size_t i, Run kind);
extern thread_local UnknownReference unknown_reference;

// The entities of a document that hold markup. enter(name) gives the
// replacement text of entity `name` when it holds markup and may be read
// in place of its reference now, and counts it open until leave(); or a
// null view, and the reference is then finished as text, which says why
// not. Set on a thread for the parse of a document that declares such an
// entity (general_entities.h).
struct MarkupEntities {
    std::string_view (*enter)(std::string_view name);
    void (*leave)();
};
extern thread_local const MarkupEntities* markup_entities;

// Whether `encoding`, the value of an XML declaration's encoding, names
// UTF-8 or a subset of it.
bool is_utf8_encoding(std::string_view encoding);

// The found character of a message: 'c' for a printable ASCII character,
// "end of input", or the byte's value.
std::string describe(int c);

// "found C where WHAT expected". Made out of line: the readers that call
// it are hot, the message is not.
[[gnu::cold]] std::string expected(int found, const char* what);

}  // namespace tarvo::xml
