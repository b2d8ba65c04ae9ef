#include "grammar/layout.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string_view>
#include <utility>

#include "containers/str_dict.h"  // the attribute set's buckets, precomputed per rule

namespace tarvo::grammar_file {
namespace {

constexpr size_t kNone = SIZE_MAX;

// Keys tried for an index before it is taken as it comes; the table grows
// to twice its size after every four.
constexpr int kKeyAttempts = 16;

// Where an index lies in `slots` while that still grows.
struct PlacedIndex {
    size_t slots = kNone;
    uint32_t mask = 0;
    bool keyed = false;
};

uint32_t longest_run_of(const uint32_t* slots, size_t size) {
    // Starts after an empty slot, so a run across the wrap is counted whole.
    size_t start = 0;
    while (start < size && slots[start] != kEmptySlot) ++start;
    if (start == size) return static_cast<uint32_t>(size);
    size_t best = 0, run = 0;
    for (size_t k = 1; k <= size; ++k) {
        run = slots[(start + k) & (size - 1)] != kEmptySlot ? run + 1 : 0;
        best = std::max(best, run);
    }
    return static_cast<uint32_t>(best);
}

// Fills `slots` with `size` (a power of two) slots holding `names` as hashed
// by `hash`. Gives up, returning false, as soon as one name walks past
// `bound` filled slots (so crafted names cost at most `bound` steps each),
// and when a run of filled slots ends up longer than `bound`.
template <class Hash>
bool fill(std::vector<uint32_t>& slots, size_t size, const std::vector<std::string_view>& names, Hash&& hash,
          uint32_t bound) {
    slots.assign(size, kEmptySlot);
    const uint32_t mask = static_cast<uint32_t>(size - 1);
    for (size_t i = 0; i < names.size(); ++i) {
        uint32_t s = hash(names[i]) & mask;
        for (uint32_t walked = 0; slots[s] != kEmptySlot; s = (s + 1) & mask)
            if (++walked > bound) return false;
        slots[s] = static_cast<uint32_t>(i);
    }
    return longest_run_of(slots.data(), size) <= bound;
}

class Builder {
public:
    Builder(TableLayout& out, const HashKey& seed) : out_(out), seed_(seed) {}

    // Appends the positions of `l`; returns where they start.
    size_t list(const List& l) {
        size_t at = out_.positions.size();
        for (const Entry& en : l)
            out_.positions.push_back(en.kind == Entry::Kind::End    ? ContentPosition{POSITION_END, -1}
                                     : en.kind == Entry::Kind::Text ? ContentPosition{POSITION_TEXT, en.context}
                                                                    : ContentPosition{en.element, en.context});
        return at;
    }

    // Appends the rows `rs` of `own` (an element, or POSITION_TEXT); returns
    // where they start in `rows`.
    size_t rows(const std::vector<List>& rs, int32_t own) {
        size_t at = out_.rows.size();
        for (size_t r = 0; r < rs.size(); ++r) {
            row_lists_.push_back(list(rs[r]));
            out_.rows.push_back({{own, static_cast<int32_t>(r)}, static_cast<int32_t>(rs[r].size()), nullptr});
        }
        return at;
    }

    // Appends an index of `names` (which are distinct), or none for a list
    // short enough to be searched in order (unless `always`). The cheap
    // hash is kept when it leaves no long run; otherwise keys derived from
    // the seed are tried, with more room every few tries, until one does.
    PlacedIndex index(const std::vector<std::string_view>& names, bool always = false) {
        if (!always && names.size() < static_cast<size_t>(kIndexedListLength)) return {};
        const uint64_t number = index_count_++;
        size_t size = std::bit_ceil(std::max<size_t>(1, 2 * names.size()));
        const bool cheap = fill(scratch_, size, names, name_hash, kCheapRunBound);
        HashKey key{};
        for (int attempt = 0; !cheap && attempt < kKeyAttempts; ++attempt) {
            key = {seed_.k0 + number, seed_.k1 + static_cast<uint64_t>(attempt)};
            size = std::bit_ceil(2 * names.size()) << (attempt / 4);
            auto keyed = [&](std::string_view s) { return keyed_name_hash(key, s); };
            if (fill(scratch_, size, names, keyed, keyed_run_bound(size))) break;
            // Should every key fail (never seen), the last one is used anyway.
            if (attempt + 1 == kKeyAttempts) fill(scratch_, size, names, keyed, UINT32_MAX);
        }
        if (!cheap)  // the four words index_key() reads
            for (uint64_t k : {key.k0, key.k1})
                for (int shift : {0, 32}) out_.slots.push_back(static_cast<uint32_t>(k >> shift));
        PlacedIndex placed{out_.slots.size(), static_cast<uint32_t>(size - 1), !cheap};
        out_.slots.insert(out_.slots.end(), scratch_.begin(), scratch_.end());
        return placed;
    }

    // The index as the table holds it, once the arrays are complete.
    NameIndex resolve(const PlacedIndex& p) const {
        if (p.slots == kNone) return {nullptr, 0, 0};
        return {out_.slots.data() + p.slots, p.mask, p.keyed};
    }

    size_t row_list(size_t row) const { return row_lists_[row]; }

private:
    TableLayout& out_;
    HashKey seed_;
    uint64_t index_count_ = 0;
    std::vector<uint32_t> scratch_;
    std::vector<size_t> row_lists_;  // by row: where its positions start
};

template <class T>
const T* at(const std::vector<T>& v, size_t offset, size_t count) {
    return count ? v.data() + offset : nullptr;
}

}  // namespace

uint32_t longest_run(const NameIndex& index) {
    return index.slots ? longest_run_of(index.slots, size_t{index.mask} + 1) : 0;
}

uint32_t keyed_run_bound(size_t slot_count) {
    return 8 + 3 * static_cast<uint32_t>(std::bit_width(slot_count));
}

TableLayout::TableLayout(Grammar grammar, std::string file, const HashKey& seed)
    : source(std::move(grammar)), grammar_file(std::move(file)) {
    Builder b(*this, seed);
    const std::vector<Element>& es = source.elements;
    // Offsets first: pointers into the arrays are taken once they stop growing.
    struct ElementAt {
        size_t first, rows, attributes;
        PlacedIndex index;
    };
    struct AttributeAt {
        size_t values;
        PlacedIndex index;
    };
    std::vector<ElementAt> element_at;
    std::vector<AttributeAt> attribute_at;
    std::vector<std::string_view> names;
    for (size_t i = 0; i < es.size(); ++i) {
        const Element& e = es[i];
        ElementAt w{b.list(e.first), b.rows(e.rows, static_cast<int32_t>(i)), attributes.size(), {}};
        for (const Attribute& a : e.attributes) {
            attribute_at.push_back({values.size(), {}});
            for (const std::string& v : a.values) {
                values.push_back(v.c_str());
                value_lengths.push_back(static_cast<uint32_t>(v.size()));
            }
            attribute_at.back().index = b.index(std::vector<std::string_view>(a.values.begin(), a.values.end()));
            attributes.push_back({a.name.c_str(), static_cast<uint32_t>(a.name.size()), dict_bucket(a.name),
                                  static_cast<int32_t>(a.values.size()), nullptr, nullptr,
                                  a.required ? nullptr : a.default_value.c_str(),
                                  static_cast<uint32_t>(a.required ? 0 : a.default_value.size()), {}});
        }
        names.clear();
        for (const Attribute& a : e.attributes) names.push_back(a.name);
        w.index = b.index(names);
        element_at.push_back(w);
        elements.push_back({e.name.c_str(), static_cast<uint32_t>(e.name.size()), static_cast<int32_t>(i),
                            static_cast<int32_t>(e.first.size()), nullptr, static_cast<int32_t>(e.rows.size()),
                            nullptr, static_cast<int32_t>(e.attributes.size()), nullptr, {}});
    }
    const size_t text_rows_at = b.rows(source.text_rows, POSITION_TEXT);
    names.clear();
    for (const Element& e : es) names.push_back(e.name);
    const PlacedIndex name_index = b.index(names, true);

    for (size_t k = 0; k < rows.size(); ++k)
        rows[k].successors = at(positions, b.row_list(k), static_cast<size_t>(rows[k].count));
    for (size_t k = 0; k < attributes.size(); ++k) {
        AttributeRule& r = attributes[k];
        const size_t n = static_cast<size_t>(r.allowed_count);
        r.allowed = at(values, attribute_at[k].values, n);
        r.allowed_lengths = at(value_lengths, attribute_at[k].values, n);
        r.value_index = b.resolve(attribute_at[k].index);
    }
    for (size_t i = 0; i < elements.size(); ++i) {
        ElementRule& r = elements[i];
        r.first = at(positions, element_at[i].first, static_cast<size_t>(r.first_count));
        r.rows = at(rows, element_at[i].rows, static_cast<size_t>(r.row_count));
        r.attributes = at(attributes, element_at[i].attributes, static_cast<size_t>(r.attribute_count));
        r.attribute_index = b.resolve(element_at[i].index);
    }
    table = {source.name.c_str(),
             source.source.c_str(),
             static_cast<int32_t>(elements.size()),
             at(elements, 0, elements.size()),
             static_cast<int32_t>(source.text_rows.size()),
             at(rows, text_rows_at, source.text_rows.size()),
             b.resolve(name_index),
             grammar_file.c_str()};
}

}  // namespace tarvo::grammar_file
