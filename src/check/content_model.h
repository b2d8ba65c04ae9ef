// Content-model checks: may a start tag, a run of character data or an end
// tag stand where it stands? Each check reads the position of the innermost
// open element and of the previous sibling inside it. A check reports
// nothing: on refusal it fills in a ContentRefusal, which the parse loop
// words and files.
#pragma once

#include <cstdint>
#include <string_view>

#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace tarvo {

// What a content-model check refused, and everything needed to say so.
struct ContentRefusal {
    enum class Reason : uint8_t {
        unknown_element,  // the grammar has no element called `name`
        misplaced,        // the element (or text) may not stand here
        close_mismatch,   // `name` is not the open element's name
        missing,          // the open element may not close yet
    };
    Reason reason = Reason::misplaced;
    DiagnosticKind kind = DiagnosticKind::syntax;
    std::string_view name;                      // the tag's name as read, or the open element's for text
    const ContentPosition* open = nullptr;      // the innermost open element, or null at the root
    const ContentPosition* previous = nullptr;  // the previous sibling (element or text), or null
    // The list that applied: what could have stood here (for an unknown
    // element too, though its record names no expected elements).
    const ContentPosition* entries = nullptr;
    int32_t count = 0;
};

// The position the new element takes, or nullptr with `refusal` filled in.
// With no open element and no previous sibling any declared element is
// accepted as the root.
const ContentPosition* accept_start_tag(const SchemaTable& table, std::string_view name,
                                        const ContentPosition* open, const ContentPosition* previous,
                                        ContentRefusal& refusal);

// The TEXT position the character data takes, or nullptr with `refusal`
// filled in. `open` must not be null.
const ContentPosition* accept_text(const SchemaTable& table, const ContentPosition* open,
                                   const ContentPosition* previous, ContentRefusal& refusal);

// Whether `name` closes the open element here; if not, `refusal` says why.
// `open` must not be null.
bool accept_end_tag(const SchemaTable& table, std::string_view name, const ContentPosition* open,
                    const ContentPosition* previous, ContentRefusal& refusal);

}  // namespace tarvo
