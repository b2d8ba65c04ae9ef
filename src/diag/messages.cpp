#include "diag/messages.h"

#include "diag/suggest.h"

namespace tarvo {

namespace {

std::string_view name_of(const SchemaTable& t, int32_t element) {
    const ElementRule& e = t.elements[element];
    return {e.name, e.name_length};
}

}  // namespace

void word_refusal(const SchemaTable& t, const ContentRefusal& r, StrBuf& out) {
    using Reason = ContentRefusal::Reason;
    const std::string name_before = r.previous && r.previous->element >= 0
                                        ? std::string(name_of(t, r.previous->element))
                                        : std::string();
    const std::string open_name = r.open ? std::string(name_of(t, r.open->element)) : std::string();
    switch (r.reason) {
    case Reason::unknown_element:
        out.append("Element '");
        out.append(r.name);
        out.append("' unknown in DTD");
        return;
    case Reason::close_mismatch:
        out.append("Close tag for '");
        out.append(r.name);
        out.append("' does not match opened element ('");
        out.append(open_name);
        out.append("')");
        return;
    case Reason::misplaced:
        if (r.previous && r.previous->element == POSITION_TEXT)
            out.append_format("Element is invalid within character data in this context (%d)", r.previous->context);
        else if (r.previous)
            out.append_format("Element is invalid as successor of current element '%s' in this context (%d)",
                              name_before.c_str(), r.previous->context);
        else if (r.open)
            out.append_format("Element is invalid as first child of container element '%s'", open_name.c_str());
        return;
    case Reason::missing:
        if (!r.previous)
            out.append_format("Missing first child for container element '%s'", open_name.c_str());
        else if (r.previous->element != POSITION_TEXT)
            out.append_format("Missing successor for current element '%s' in this context (%d)", name_before.c_str(),
                              r.previous->context);
        else
            out.append_format("Missing successor for character data in this context (%d)", r.previous->context);
        return;
    }
}

Details refusal_details(const SchemaTable& t, const ContentRefusal& r, std::vector<std::string_view>& names) {
    using Reason = ContentRefusal::Reason;
    Details d;
    d.kind = r.kind;
    d.element = r.name;
    if (r.reason == Reason::missing) d.code = "missing-element";
    names.clear();
    for (int32_t i = 0; i < r.count; ++i)
        if (r.entries[i].element >= 0) names.push_back(name_of(t, r.entries[i].element));
    if (r.entries && (r.reason == Reason::misplaced || r.reason == Reason::missing)) {
        d.expected_key = r.entries;
        d.expected = names;
    }
    if (r.kind == DiagnosticKind::unknown_element || r.kind == DiagnosticKind::misplaced_element)
        if (r.reason != Reason::missing) d.suggestion = closest(r.name, names);
    return d;
}

void word_attribute_problem(const ElementRule& e, const AttributeProblem& p, bool tolerated, StrBuf& out) {
    switch (p.kind) {
    case AttributeProblem::Kind::missing:
        out.append_format("No value found for mandatory attribute '%s'", e.attributes[p.rule].name);
        return;
    case AttributeProblem::Kind::wrong_value:
        out.append("Invalid attribute value '");
        out.append(p.value);
        out.append("' for attribute '");
        out.append(e.attributes[p.rule].name);
        out.append(tolerated ? "' - getting default value" : "'");
        return;
    case AttributeProblem::Kind::unknown:
        out.append("Unknown attribute '");
        out.append(p.name);
        out.append("'");
        return;
    case AttributeProblem::Kind::none:
        return;
    }
}

Details attribute_details(const ElementRule& e, const AttributeProblem& p, std::vector<std::string_view>& values) {
    Details d;
    d.element = std::string_view(e.name, e.name_length);
    d.attribute = p.name;
    switch (p.kind) {
    case AttributeProblem::Kind::missing: d.kind = DiagnosticKind::missing_attribute; break;
    case AttributeProblem::Kind::unknown: {
        d.kind = DiagnosticKind::unknown_attribute;
        values.clear();
        for (int32_t i = 0; i < e.attribute_count; ++i)
            values.emplace_back(e.attributes[i].name, e.attributes[i].name_length);
        d.suggestion = closest(p.name, values);
        break;
    }
    case AttributeProblem::Kind::wrong_value: {
        d.kind = DiagnosticKind::wrong_attribute_value;
        const AttributeRule& r = e.attributes[p.rule];
        values.clear();
        for (int32_t i = 0; i < r.allowed_count; ++i) values.emplace_back(r.allowed[i], r.allowed_lengths[i]);
        d.expected_key = &r;
        d.expected = values;
        d.suggestion = closest(p.value, values);
        break;
    }
    case AttributeProblem::Kind::none: break;
    }
    return d;
}

}  // namespace tarvo
