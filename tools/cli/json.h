// JSON text for the values the commands print; strings are made by the
// library's tarvo::append_json_string, so every output is valid UTF-8.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "tarvo/tarvo.h"

namespace tarvo::cli {

using tarvo::append_json_chars;
using tarvo::append_json_string;
// Where a piece of about `size` bytes taken from the start of `bytes` ends,
// so that append_json_chars() is given no split sequence.
size_t json_piece_end(std::string_view bytes, size_t size);
std::string json_list(std::span<const std::string_view> items);

}  // namespace tarvo::cli
