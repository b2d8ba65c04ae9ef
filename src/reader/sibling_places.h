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
        for (size_t i = level_start_.back(); i < counts_.size(); ++i)
            if (counts_[i].key == key) return ++counts_[i].count;
        counts_.push_back({key, 1});
        return 1;
    }
    // The child opens, and its own children are counted from here.
    void open(int32_t element) {
        places_.push_back(count_child(element));
        level_start_.push_back(static_cast<uint32_t>(counts_.size()));
    }
    void close() {
        counts_.resize(level_start_.back());
        level_start_.pop_back();
        places_.pop_back();
    }
    // The place of the open element at `depth` (0: the root).
    uint32_t place(size_t depth) const { return places_[depth]; }

private:
    struct Count {
        int64_t key;
        uint32_t count;
    };
    std::vector<Count> counts_;
    std::vector<uint32_t> level_start_ = {0};
    std::vector<uint32_t> places_;
};

}  // namespace tarvo
