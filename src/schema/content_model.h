// Content-model checks: may a start tag, a run of character data or an end
// tag stand where it stands? Each check reads the position of the innermost
// open element and of the previous sibling inside it, and on refusal writes
// exactly one error to the current thread's Reporter.
#pragma once

#include <string_view>

#include "schema/schema_table.h"

namespace tarvo {

// The position the new element takes, or nullptr. With no open element and
// no previous sibling any declared element is accepted as the root.
const ContentPosition* accept_start_tag(const SchemaTable& table, std::string_view name,
                                        const ContentPosition* open, const ContentPosition* previous);

// The TEXT position the character data takes, or nullptr.
const ContentPosition* accept_text(const SchemaTable& table, const ContentPosition* open,
                                   const ContentPosition* previous);

// Whether `name` closes the open element here. `open` must not be null.
bool accept_end_tag(const SchemaTable& table, std::string_view name, const ContentPosition* open,
                    const ContentPosition* previous);

}  // namespace tarvo
