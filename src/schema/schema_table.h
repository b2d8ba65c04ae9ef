// Grammar tables. A built-in grammar is static, read-only data produced at
// build time by tarvo-grammarc from src/schemas/*.grammar; a grammar loaded
// at run time owns the same layout (src/grammar/layout.h lays out both).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "containers/sip_hash.h"

namespace tarvo {

inline constexpr int32_t POSITION_END = -1;
inline constexpr int32_t POSITION_TEXT = -2;

// One place in a content model: an element (index >= 0) followed by the
// context that selects its successor row, character data (POSITION_TEXT)
// with the text row that follows it, or the close of the parent.
struct ContentPosition {
    int32_t element;
    int32_t context;
};

struct SuccessorRow {
    ContentPosition own;
    int32_t count;
    const ContentPosition* successors;
};

// Open-addressed index of names (element names, an element's attribute
// names, an attribute's allowed values): slot -> entry, kEmptySlot for an
// empty slot, a power-of-two number of slots (mask = size - 1), at most
// half of them filled. Names hash with name_hash(), or, where `keyed` is set, with
// SipHash-1-3 under the key held in the four words before slots[0]: the
// layout takes the cheap hash only when no run of filled slots, which a
// lookup may walk to its end, exceeds a small bound. (The key lies with
// the slots so that the index, and the rules that hold one, stay small.)
inline constexpr uint32_t kEmptySlot = UINT32_MAX;

struct NameIndex {
    const uint32_t* slots;  // nullptr: no index, the list is searched in order
    uint32_t mask;
    uint32_t keyed;        // 0: name_hash()
};

struct AttributeRule {
    const char* name;
    uint32_t name_length;
    // Bucket of `name` in an attribute set; precomputed so that the check
    // looks a rule up without hashing it again for every tag.
    uint32_t bucket;
    int32_t allowed_count;           // 0: any value
    const char* const* allowed;      // allowed values in declaration order
    const uint32_t* allowed_lengths;
    const char* default_value;       // nullptr: mandatory
    uint32_t default_length;
    // Index of the allowed values; none for a short list.
    NameIndex value_index;
};

struct ElementRule {
    const char* name;
    uint32_t name_length;
    int32_t index;
    int32_t first_count;
    const ContentPosition* first;
    int32_t row_count;
    const SuccessorRow* rows;
    int32_t attribute_count;
    const AttributeRule* attributes;
    // Index of the attribute names; none for a short list.
    NameIndex attribute_index;
};

struct SchemaTable {
    const char* name;         // registry name
    const char* source_path;  // the document type the table was compiled from
    int32_t element_count;
    const ElementRule* elements;
    int32_t text_row_count;
    const SuccessorRow* text_rows;
    // Index of the element names; always there (one empty slot when the
    // grammar has no element).
    NameIndex name_index;
    // Where the grammar file lies: in the source tree for a built-in grammar,
    // the path it was loaded from otherwise.
    const char* grammar_file;
};

// Four bytes as a little-endian number whatever the machine, so that tables
// compiled on one machine work on any other.
inline uint32_t four_bytes(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big)
        v = v >> 24 | (v >> 8 & 0xFF00u) | (v << 8 & 0xFF0000u) | v << 24;
    return v;
}

// The cheap hash of the name indexes: the length and the first and last
// four bytes (all of a name of up to eight), mixed by one multiplication.
// Names of one grammar mostly differ there; where they do not, the layout
// hashes that index with a key instead.
inline uint32_t name_hash(std::string_view s) {
    const size_t n = s.size();
    const auto byte = [&](size_t i) { return uint32_t{static_cast<unsigned char>(s[i])}; };
    uint32_t head = 0, tail = 0;
    if (n >= 4) {
        head = four_bytes(s.data());
        tail = four_bytes(s.data() + n - 4);
    } else if (n) {
        head = byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16;
    }
    const uint64_t x = (uint64_t{tail} << 32 | head) ^ n;
    return static_cast<uint32_t>(((x ^ x >> 32) * 0x9E3779B97F4A7C15ull) >> 32);
}

// Whether `a` and `b` hold the same bytes. Names and listed values are
// short: word compares inline beat a library call.
[[gnu::always_inline]] inline bool same_text(std::string_view a, const char* b, size_t b_length) {
    const size_t n = a.size();
    if (n != b_length) return false;
    const char* p = a.data();
    auto word = [](const char* s) {
        uint64_t v;
        std::memcpy(&v, s, 8);
        return v;
    };
    auto half = [](const char* s) {
        uint32_t v;
        std::memcpy(&v, s, 4);
        return v;
    };
    if (n >= 8) {
        for (size_t i = 0; i + 8 <= n; i += 8)
            if (word(p + i) != word(b + i)) return false;
        return word(p + n - 8) == word(b + n - 8);
    }
    if (n >= 4) return half(p) == half(b) && half(p + n - 4) == half(b + n - 4);
    return n == 0 || (p[0] == b[0] && p[n / 2] == b[n / 2] && p[n - 1] == b[n - 1]);
}

// Lists this long or longer get an index; shorter ones are searched in
// order, which costs no more.
inline constexpr int32_t kIndexedListLength = 8;

// The key of a keyed index, from the four words before its slots.
inline HashKey index_key(const NameIndex& index) {
    const uint32_t* w = index.slots - 4;
    return {w[0] | uint64_t{w[1]} << 32, w[2] | uint64_t{w[3]} << 32};
}

inline uint32_t keyed_name_hash(const HashKey& key, std::string_view name) {
    return static_cast<uint32_t>(sip_hash13(key, name));
}

// Probes an index from the slot `hash` selects: `text_of(i)` gives entry i.
// The first entry of a name given twice is the one found.
template <class TextOf>
inline int32_t probe_from(const NameIndex& index, uint32_t hash, std::string_view name, TextOf&& text_of) {
    const uint32_t* slots = index.slots;
    const uint32_t mask = index.mask;
    for (uint32_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const uint32_t i = slots[slot];
        if (i == kEmptySlot) return -1;
        std::string_view t = text_of(i);
        if (same_text(name, t.data(), t.size())) return static_cast<int32_t>(i);
    }
}

// Out of line: only an index whose names defeat the cheap hash is keyed,
// and the lookups of every other one stay as small as they were.
[[gnu::noinline, gnu::cold]] inline uint32_t keyed_index_hash(const NameIndex& index, std::string_view name) {
    return keyed_name_hash(index_key(index), name);
}

template <class TextOf>
inline int32_t probe_index(const NameIndex& index, std::string_view name, TextOf&& text_of) {
    uint32_t hash = name_hash(name);
    if (index.keyed) [[unlikely]]
        hash = keyed_index_hash(index, name);
    return probe_from(index, hash, name, text_of);
}

// Index of the element called `name`, or -1.
inline int32_t find_element(const SchemaTable& t, std::string_view name) {
    return probe_index(t.name_index, name, [&](uint32_t i) {
        return std::string_view(t.elements[i].name, t.elements[i].name_length);
    });
}

// Index of the attribute rule called `name` within `e`, or -1. A long list
// is looked up out of line, so that the inline part stays small enough to
// be inlined where a tag's names are read.
[[gnu::noinline]] inline int32_t find_indexed_attribute_rule(const ElementRule& e, std::string_view name) {
    return probe_index(e.attribute_index, name, [&](uint32_t i) {
        return std::string_view(e.attributes[i].name, e.attributes[i].name_length);
    });
}

inline int32_t find_attribute_rule(const ElementRule& e, std::string_view name) {
    if (e.attribute_index.slots) return find_indexed_attribute_rule(e, name);
    for (int32_t i = 0; i < e.attribute_count; ++i) {
        const AttributeRule& r = e.attributes[i];
        if (same_text(name, r.name, r.name_length)) return i;
    }
    return -1;
}

// Whether `value` is one of the rule's allowed values (which it has).
inline bool is_allowed_value(const AttributeRule& r, std::string_view value) {
    if (r.value_index.slots)
        return probe_index(r.value_index, value, [&](uint32_t i) {
                   return std::string_view(r.allowed[i], r.allowed_lengths[i]);
               }) >= 0;
    for (int32_t i = 0; i < r.allowed_count; ++i)
        if (same_text(value, r.allowed[i], r.allowed_lengths[i])) return true;
    return false;
}

// The position an element takes as the document's root: its own row 0.
inline const ContentPosition* root_position(const SchemaTable& t, int32_t element) {
    return &t.elements[element].rows[0].own;
}

// The registered grammars, in registration order (generated).
extern const SchemaTable* const kGrammars[];
extern const int kGrammarCount;

}  // namespace tarvo
