// The JSON strings of every JSON text tarvo writes (the descriptions of
// grammars, the command's json, sarif and events output): a header of its
// own, for the tools around the library; parsing needs none of it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tarvo/tarvo.h"

namespace tarvo {

// Appends `text` to `out` as a JSON string, quotes included. Well-formed
// UTF-8 is copied; every byte that is not part of a well-formed sequence (a
// stray continuation byte, an overlong form, a surrogate, a code point above
// U+10FFFF, a sequence cut short) is written as the code point of the same
// value, so the result is always valid UTF-8 and no byte is lost.
TARVO_API void append_json_string(std::string& out, std::string_view text);
// The same without the quotes, for a long string written out in pieces; a
// piece must not end inside a well-formed UTF-8 sequence.
TARVO_API void append_json_chars(std::string& out, std::string_view text);
// The length of the well-formed UTF-8 sequence `text` starts with, by the
// judgement above, or 0.
TARVO_API size_t utf8_sequence_length(std::string_view text);

}  // namespace tarvo
