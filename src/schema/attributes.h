// Attribute check: completes an element's attribute set with defaults,
// corrects or refuses values outside their allowed lists, and refuses or
// tolerates undeclared attributes, as the parse flags say.
#pragma once

#include <cstdint>
#include <string>

#include "containers/str_dict.h"
#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace tarvo {

struct AttributeValue {
    std::string text;
    // Index of the element's attribute rule for this name, -1 when the
    // element does not declare it; set by check_attributes.
    int32_t rule = -1;
};

using AttributeSet = StrDict<AttributeValue>;

// True when the set is acceptable; it then holds every declared attribute.
bool check_attributes(const SchemaTable& table, int32_t element, AttributeSet& attributes, int flags);

}  // namespace tarvo
