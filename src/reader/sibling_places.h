// Where each open element stands among the siblings of its name, for the
// element paths of records ("/ToolSet/Menu[2]/Tool[1]"): counted as the
// children of each open element come, forgotten when it closes.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace tarvo {

class SiblingPlaces {
public:
    // The key of a child: its element index, or for a name the grammar does
    // not know, a value below -1 made from the name.
    static int64_t key(int32_t element, std::string_view name) {
        return element >= 0 ? element : -2 - static_cast<int64_t>(std::hash<std::string_view>{}(name) >> 2);
    }

    // A new child of the innermost open element: its place among the
    // siblings of its key.
    uint32_t count_child(int64_t key) {
        // Latest key first: siblings of one name mostly come together.
        const uint32_t start = depth_ ? levels_[depth_].start : 0;
        for (uint32_t i = counted_; i-- > start;)
            if (counts_[i].key == key) return ++counts_[i].count;
        if (counted_ == counts_.size()) grow(counts_);
        counts_[counted_] = {key, 1};
        ++counted_;
        return 1;
    }
    // The child opens, and its own children are counted from here.
    void open(int32_t element) {
        const uint32_t place = count_child(element);
        if (++depth_ >= levels_.size()) grow(levels_);
        levels_[depth_] = {counted_, place};
    }
    void close() {
        counted_ = levels_[depth_].start;
        --depth_;
    }
    // The place of the open element at `depth` (0: the root).
    uint32_t place(size_t depth) const { return levels_[depth + 1].place; }

private:
    struct Count {
        int64_t key;
        uint32_t count;
    };
    struct Level {
        uint32_t start;  // its children's first count
        uint32_t place;
    };
    // The storage only grows, out of line: opening and closing an element
    // are a few stores, and a parse without paths allocates nothing.
    template <class T>
    [[gnu::noinline]] static void grow(std::vector<T>& v) {
        v.resize(v.empty() ? 16 : v.size() * 2);
    }

    std::vector<Count> counts_;
    std::vector<Level> levels_;  // by depth; levels_[0], outside the root, is never stored
    uint32_t counted_ = 0;       // counts in use: those of the open elements' children
    size_t depth_ = 0;
};

}  // namespace tarvo
