#include "schema/attributes.h"

#include <string_view>

#include "diag/reporter.h"

namespace tarvo {

namespace {

bool is_allowed(const AttributeRule& r, std::string_view value) {
    for (int32_t i = 0; i < r.allowed_count; ++i)
        if (value == std::string_view(r.allowed[i], r.allowed_lengths[i])) return true;
    return false;
}

}  // namespace

bool check_attributes(const SchemaTable& table, int32_t element, AttributeSet& set, int flags) {
    const ElementRule& e = table.elements[element];
    for (int32_t i = 0; i < e.attribute_count; ++i) {
        const AttributeRule& r = e.attributes[i];
        std::string_view name(r.name, r.name_length);
        AttributeSet::Entry* entry = set.find_in(r.bucket, name);
        if (!entry) {
            if (!r.default_value) {
                if (Reporter* rep = current_reporter())
                    rep->error("No value found for mandatory attribute '%s'", r.name);
                return false;
            }
            AttributeSet::Entry& added = set.append(r.bucket, name);
            added.value.text.assign(r.default_value, r.default_length);
            added.value.rule = i;
            continue;
        }
        entry->value.rule = i;
        if (r.allowed_count == 0 || is_allowed(r, entry->value.text)) continue;
        if ((flags & PARSE_IGNORE_WRONG_ATTRIBUTES) && r.default_value) {
            if (Reporter* rep = current_reporter())
                rep->warning("Invalid attribute value '%s' for attribute '%s' - getting default value",
                             entry->value.text.c_str(), r.name);
            entry->value.text.assign(r.default_value, r.default_length);
            continue;
        }
        if (Reporter* rep = current_reporter())
            rep->error("Invalid attribute value '%s' for attribute '%s'", entry->value.text.c_str(), r.name);
        return false;
    }
    // Every declared name is in the set now; with no more entries than rules
    // there is nothing undeclared to look for.
    if (set.count() == e.attribute_count) return true;
    for (AttributeSet::Entry& entry : set) {
        if (entry.value.rule >= 0) continue;
        Reporter* rep = current_reporter();
        if (flags & PARSE_IGNORE_UNKNOWN_ATTRIBUTES) {
            if (rep) rep->warning("Unknown attribute '%s'", entry.key.c_str());
        } else {
            if (rep) rep->error("Unknown attribute '%s'", entry.key.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace tarvo
