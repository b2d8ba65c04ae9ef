// Reads a tag's attribute list (or the pseudo-attributes of the XML
// declaration): names, each followed by '=' and a quoted value, into an
// AttributeSet. A template over the input policy of the parser.
#pragma once

#include <string>
#include <string_view>

#include "reader/char_class.h"
#include "reader/entities.h"
#include "schema/attributes.h"

namespace tarvo {

// Where the value of `name` goes, in a plain set: an entry of its own, or
// the one a repeated name already has.
inline std::string& attribute_value_for(AttributeSet& set, std::string_view name) {
    uint32_t bucket = dict_bucket(name);
    AttributeSet::Entry* entry = set.find_in(bucket, name);
    if (!entry) entry = &set.append(bucket, name);
    entry->value.rule = -1;
    return entry->value.text;
}
inline std::string& attribute_value_for(TagAttributes& tag, std::string_view name) { return tag.value_for(name); }

// `lookahead` holds the first character of the list on entry and the first
// character after it on return (the one that could not begin a name, or
// the one found where '=' was expected). Names start with an ASCII letter
// and go on with letters, digits and '_'. A value opened by '"' or '\''
// ends at the same quote; any other opener is dropped and the value ends at
// the next whitespace. A name given twice keeps its later value. Returns
// false, after calling `report(offending character)`, when a name is not
// followed by '='. `name` is scratch space, kept by the caller so that long
// names do not cost an allocation per tag.
template <class Input, class Sink, class Report>
bool read_attribute_list(Input& in, int& lookahead, Sink& out, std::string& name, Report&& report) {
    while (is_alpha(lookahead)) {
        name.assign(1, static_cast<char>(lookahead));
        int c = in.template read_run<is_attribute_name_char>(name);
        if (is_space(c)) c = in.skip_space();
        if (c != '=') {
            lookahead = c;
            report(c);
            return false;
        }
        int opener = in.skip_space();
        std::string& value = attribute_value_for(out, name);
        value.clear();
        bool amp = false;
        if (opener == '"')
            in.template scan_until<'"', false>(value, amp);
        else if (opener == '\'')
            in.template scan_until<'\'', false>(value, amp);
        else if (opener >= 0) {
            in.scan_until_space(value);
            amp = true;
        }
        if (amp) decode_entities(value);
        lookahead = in.skip_space();
    }
    return true;
}

}  // namespace tarvo
