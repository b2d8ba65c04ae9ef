// Decoding of the four predefined entities. Anything else that begins with
// '&' (character references, other names, a lone '&') is kept as written.
#pragma once

#include <string>

namespace tarvo {

// Rewrites `text` in place; the result is never longer than the input.
void decode_entities(std::string& text);

}  // namespace tarvo
