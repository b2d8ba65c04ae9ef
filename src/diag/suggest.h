// Suggestions for names and values that are not allowed where they stand.
#pragma once

#include <span>
#include <string_view>

namespace tarvo {

// The candidate closest to `word`: one that differs from it in case only,
// else one within a small edit distance (at most 2, and under half the
// word's length; a swap of neighbours counts once); empty when none is
// close or `word` is one of them. The work is bounded: long words and
// long lists are not searched.
std::string_view closest(std::string_view word, std::span<const std::string_view> candidates);

}  // namespace tarvo
