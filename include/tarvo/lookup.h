// Looking inside a grammar by index, at the cost of a table read: nothing
// is copied, and every view points into the grammar's own tables, valid as
// long as the grammar (for the life of the process for a built-in or
// registered one). Made for a host that builds its own per-grammar data
// once, as the Python module builds its name strings; grammar_info() gives
// a whole grammar as plain data instead. With grammar_name(),
// element_count() and element_name() in tarvo/tarvo.h. Included by
// tarvo/tarvo.h.
#pragma once

#include <string_view>

#include "tarvo/tarvo.h"

namespace tarvo {

// The index of the element called exactly `name` (every byte counts, a NUL
// byte too), or -1.
TARVO_API int element_index(const SchemaTable& grammar, std::string_view name);

// How many attributes `element` declares. A delivered Attribute's `rule`
// is an index among them.
TARVO_API int attribute_count(const SchemaTable& grammar, int element);

// What an element declares about one attribute.
struct AttributeDeclaration {
    std::string_view name;
    bool required = true;            // no default: a tag must give it
    std::string_view default_value;  // when !required: the value a tag that leaves it out delivers
};

// Declaration `index` (0 <= index < attribute_count()) of `element`, in the
// order the attributes are checked.
TARVO_API AttributeDeclaration attribute_declaration(const SchemaTable& grammar, int element, int index);

}  // namespace tarvo
