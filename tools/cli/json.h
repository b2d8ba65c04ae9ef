// JSON text for the values the commands print.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::cli {

// A JSON string holding `bytes`. Well-formed UTF-8 is copied; every byte
// that is not part of a well-formed sequence (a stray continuation byte, an
// overlong form, a surrogate, a code point above U+10FFFF, a sequence cut
// short) is written as the code point of the same value, so the result is
// always valid UTF-8 and no byte is lost.
void append_json_string(std::string& out, std::string_view bytes);
std::string json_string(std::string_view bytes);
// The same without the quotes, for a string written in pieces; a piece ends
// where json_piece_end() says, so that no sequence is split.
void append_json_chars(std::string& out, std::string_view bytes);
// Where a piece of about `size` bytes taken from the start of `bytes` ends.
size_t json_piece_end(std::string_view bytes, size_t size);

}  // namespace tarvo::cli
