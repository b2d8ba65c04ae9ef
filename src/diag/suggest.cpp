#include "diag/suggest.h"

#include <algorithm>
#include <vector>

namespace tarvo {

namespace {

constexpr size_t kLongestWord = 64;
constexpr size_t kMostCandidates = 4096;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_but_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// Edit distance with adjacent swaps, or limit + 1 once it is certainly more.
size_t distance(std::string_view a, std::string_view b, size_t limit) {
    const size_t n = a.size(), m = b.size();
    if ((n > m ? n - m : m - n) > limit) return limit + 1;
    std::vector<size_t> before(m + 1), prev(m + 1), cur(m + 1);
    for (size_t j = 0; j <= m; ++j) prev[j] = j;
    for (size_t i = 1; i <= n; ++i) {
        cur[0] = i;
        size_t row_min = cur[0];
        for (size_t j = 1; j <= m; ++j) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                cur[j] = std::min(cur[j], before[j - 2] + 1);
            row_min = std::min(row_min, cur[j]);
        }
        if (row_min > limit) return limit + 1;
        before.swap(prev);
        prev.swap(cur);
    }
    return prev[m];
}

}  // namespace

std::string_view closest(std::string_view word, std::span<const std::string_view> candidates) {
    if (word.empty() || word.size() > kLongestWord || candidates.size() > kMostCandidates) return {};
    for (std::string_view c : candidates)
        if (c == word) return {};
    for (std::string_view c : candidates)
        if (same_but_case(word, c)) return c;
    const size_t limit = std::min<size_t>(2, (word.size() - 1) / 2);
    std::string_view best;
    size_t best_distance = limit + 1;
    for (std::string_view c : candidates) {
        if (c.size() > kLongestWord) continue;
        const size_t d = distance(word, c, std::min(limit, best_distance - 1));
        if (d < best_distance) {
            best_distance = d;
            best = c;
        }
    }
    return best;
}

}  // namespace tarvo
