// Index lookups into a grammar's tables for hosts (tarvo/lookup.h).
#include "tarvo/lookup.h"

#include "schema/schema_table.h"

namespace tarvo {

int element_index(const SchemaTable& grammar, std::string_view name) { return find_element(grammar, name); }

int attribute_count(const SchemaTable& grammar, int element) { return grammar.elements[element].attribute_count; }

AttributeDeclaration attribute_declaration(const SchemaTable& grammar, int element, int index) {
    const AttributeRule& r = grammar.elements[element].attributes[index];
    AttributeDeclaration d;
    d.name = std::string_view(r.name, r.name_length);
    d.required = r.default_value == nullptr;
    if (!d.required) d.default_value = std::string_view(r.default_value, r.default_length);
    return d;
}

}  // namespace tarvo
