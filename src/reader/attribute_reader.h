// Reads a tag's attribute list (or the pseudo-attributes of the XML
// declaration): names, each followed by '=' and a quoted value, into an
// AttributeSet. A template over the input policy of the parser.
#pragma once

#include <string>
#include <string_view>

#include "reader/char_class.h"
#include "reader/entities.h"
#include "reader/xml_text.h"
#include "check/attributes.h"

namespace tarvo {

// Where the value of `name` goes, in a plain set: an entry of its own, or
// the one a repeated name already has. A plain set takes no views.
inline ValueTarget attribute_target(AttributeSet& set, std::string_view name) {
    uint32_t bucket = dict_bucket(name);
    AttributeSet::Entry* entry = set.find_in(bucket, name);
    const bool again = entry != nullptr;
    if (!again) {
        entry = &set.append(bucket, name);
        entry->value.order = set.count() - 1;
    }
    return {&entry->value.text, nullptr, again};
}
[[gnu::always_inline]] inline ValueTarget attribute_target(TagAttributes& tag, std::string_view name) { return tag.target(name); }

// Called once a value is kept as a view of the input's buffer: from then
// on the views are copied out before the buffer is reused.
template <class Input>
void watch_views(Input& in, TagAttributes& tag) {
    in.on_refill(&TagAttributes::spill_views, &tag);
}
template <class Input>
void watch_views(Input&, AttributeSet&) {}

// `lookahead` holds the first character of the list on entry and the first
// character after it on return (the one that could not begin a name, or
// the one found where '=' was expected). Names start with an ASCII letter
// and go on with letters, digits and '_'. A value opened by '"' or '\''
// ends at the same quote; any other opener is dropped and the value ends at
// the next whitespace. A name given twice keeps its later value. Returns
// false, after calling `report(offending character)`, when a name is not
// followed by '='. `name` is scratch space for a name that crosses a
// refill, kept by the caller so that long names do not cost an allocation
// per tag. A quoted value that lies in the input's buffer and needs no
// decoding is kept as a view where the sink takes views.
template <class Input, class Sink, class Report>
bool read_attribute_list(Input& in, int& lookahead, Sink& out, std::string& name, Report&& report) {
    while (is_alpha(lookahead)) {
        std::string_view key;  // `lookahead` was the last character read
        int c = in.template read_name<'_', is_attribute_name_char>(name, key);
        // Resolved at once: `key` may show the buffer, which reading on can
        // reuse.
        ValueTarget target = attribute_target(out, key);
        if (is_space(c)) c = in.skip_space();
        if (c != '=') {
            lookahead = c;
            report(c);
            return false;
        }
        int opener = in.skip_space();
        if (target.view && (opener == '"'    ? in.template value_in_buffer<'"'>(*target.view)
                            : opener == '\'' ? in.template value_in_buffer<'\''>(*target.view)
                                             : false)) {
            watch_views(in, out);
            lookahead = in.skip_space();
            continue;
        }
        std::string& value = *target.text;
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

[[gnu::cold, gnu::noinline]] inline std::string given_twice(std::string_view name) {
    return "attribute '" + std::string(name) + "' is given twice";
}

// An XML value after its opening `quote` that needs work or crosses a
// refill: read into `value` and finished.
template <class Input>
[[gnu::noinline]] bool read_xml_value(Input& in, int quote, std::string& value, std::string& problem) {
    value.clear();
    size_t raw = Input::kFinished;
    const int end = quote == '"' ? in.template scan_xml<'"', false>(value, raw)
                                 : in.template scan_xml<'\'', false>(value, raw);
    if (end < 0) return problem = xml::expected(end, "the value's closing quote"), false;
    if (raw != Input::kFinished) problem = xml::finish_run(value, xml::Run::attribute, raw);
    return problem.empty();
}

// The XML reading mode's attribute list: XML names, '=' with optional
// whitespace around it, a value in single or double quotes finished as an
// attribute value (references replaced, whitespace normalised), whitespace
// between attributes. `lookahead` holds the first character of the list on
// entry and the first one after it on return: the caller judges it ('>' or
// "/>" after a tag's list, "?>" after the XML declaration's). Returns false
// with the first problem in `problem` as a sentence.
template <class Input, class Sink>
bool read_xml_attribute_list(Input& in, int& lookahead, Sink& out, std::string& name, std::string& problem) {
    int c = lookahead;
    while (xml::is_name_start_byte(c)) {
        std::string_view key;
        c = in.read_xml_name(name, key, [&problem](std::string_view k) {
            problem = xml::check_name(k);
            return problem.empty();
        });
        ValueTarget target = attribute_target(out, key);
        if (target.again) [[unlikely]]
            return problem = given_twice(key), false;
        if (is_space(c)) c = in.skip_space();
        if (c != '=') [[unlikely]] {
            if (c != kRefusedName) problem = xml::expected(c, "'='");
            return false;
        }
        const int quote = in.skip_space();
        bool in_buffer;
        if (quote == '"') [[likely]]
            in_buffer = target.view && in.template xml_value_in_buffer<'"'>(*target.view);
        else if (quote == '\'')
            in_buffer = target.view && in.template xml_value_in_buffer<'\''>(*target.view);
        else
            return problem = xml::expected(quote, "a quoted value"), false;
        if (in_buffer)
            watch_views(in, out);
        else if (!read_xml_value(in, quote, *target.text, problem))
            return false;
        bool spaced;
        c = in.skip_space(spaced);
        if (!spaced && xml::is_name_start_byte(c)) [[unlikely]]
            return problem = "found " + xml::describe(c) + " where whitespace expected between attributes", false;
    }
    lookahead = c;
    return true;
}

}  // namespace tarvo
