// Compiled grammar tables. Every grammar is static, read-only data produced
// at build time by tarvo-grammarc from src/schemas/*.grammar; nothing here is
// ever allocated or freed at run time.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

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
    // Open-addressed index of the allowed values (as for element names);
    // nullptr for a short list, which is searched in order.
    const int16_t* value_slots;
    uint32_t value_mask;
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
    // Open-addressed index of the attribute names; nullptr for a short list.
    const int16_t* attribute_slots;
    uint32_t attribute_mask;
};

struct SchemaTable {
    const char* name;         // registry name
    const char* source_path;  // the document type the table was compiled from
    int32_t element_count;
    const ElementRule* elements;
    int32_t text_row_count;
    const SuccessorRow* text_rows;
    // Open-addressed index from element name to element index (-1: empty
    // slot); its size is a power of two, mask = size - 1.
    const int16_t* name_slots;
    uint32_t name_mask;
    // Where the grammar file lies: in the source tree for a built-in grammar,
    // the path it was loaded from otherwise.
    const char* grammar_file;
};

// Hash used by the element-name index; the generator uses the same one.
// It reads the length and four bytes rather than every byte: names of one
// grammar differ in those, and a collision only costs one more probe.
constexpr uint32_t name_hash(std::string_view s) {
    uint32_t h = static_cast<uint32_t>(s.size()) * 0x9E3779B1u;
    if (!s.empty()) {
        const size_t n = s.size();
        const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(s[i])); };
        h ^= byte(0) | byte(n - 1) << 8 | byte(n / 2) << 16 | byte(n / 4) << 24;
        h *= 0x85EBCA6Bu;
        h ^= h >> 13;
        h *= 0xC2B2AE35u;
        h ^= h >> 16;
    }
    return h;
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

// Lists this long or longer get an open-addressed index (`*_slots`);
// shorter ones are searched in order, which costs no more.
inline constexpr int32_t kIndexedListLength = 8;

// Probes an open-addressed index of names: `text_of(i)` gives entry i. The
// first entry of a name given twice is the one found.
template <class TextOf>
inline int32_t probe_slots(const int16_t* slots, uint32_t mask, std::string_view name, TextOf&& text_of) {
    for (uint32_t slot = name_hash(name) & mask;; slot = (slot + 1) & mask) {
        int32_t i = slots[slot];
        if (i < 0) return -1;
        std::string_view t = text_of(i);
        if (same_text(name, t.data(), t.size())) return i;
    }
}

// Index of the element called `name`, or -1.
inline int32_t find_element(const SchemaTable& t, std::string_view name) {
    if (t.element_count == 0) return -1;
    return probe_slots(t.name_slots, t.name_mask, name, [&](int32_t i) {
        return std::string_view(t.elements[i].name, t.elements[i].name_length);
    });
}

// Index of the attribute rule called `name` within `e`, or -1.
inline int32_t find_attribute_rule(const ElementRule& e, std::string_view name) {
    if (e.attribute_slots)
        return probe_slots(e.attribute_slots, e.attribute_mask, name, [&](int32_t i) {
            return std::string_view(e.attributes[i].name, e.attributes[i].name_length);
        });
    for (int32_t i = 0; i < e.attribute_count; ++i) {
        const AttributeRule& r = e.attributes[i];
        if (same_text(name, r.name, r.name_length)) return i;
    }
    return -1;
}

// Whether `value` is one of the rule's allowed values (which it has).
inline bool is_allowed_value(const AttributeRule& r, std::string_view value) {
    if (r.value_slots)
        return probe_slots(r.value_slots, r.value_mask, value, [&](int32_t i) {
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
