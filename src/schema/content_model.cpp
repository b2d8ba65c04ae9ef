#include "schema/content_model.h"

#include <string>
#include <string_view>
#include <vector>

#include "diag/reporter.h"

namespace tarvo {

namespace {

// The list that applies to the next item, and why, so a refusal can say
// where it happened.
struct Lookup {
    enum Case { AfterText, AfterElement, FirstChild, Root } kind;
    const ContentPosition* entries = nullptr;
    int32_t count = 0;
};

Lookup lookup_list(const SchemaTable& t, const ContentPosition* open, const ContentPosition* previous) {
    if (previous) {
        const SuccessorRow& row = previous->element == POSITION_TEXT
                                      ? t.text_rows[previous->context]
                                      : t.elements[previous->element].rows[previous->context];
        return {previous->element == POSITION_TEXT ? Lookup::AfterText : Lookup::AfterElement, row.successors,
                row.count};
    }
    if (open) {
        const ElementRule& o = t.elements[open->element];
        return {Lookup::FirstChild, o.first, o.first_count};
    }
    return {Lookup::Root};
}

const ContentPosition* search(const Lookup& l, int32_t element) {
    for (int32_t i = 0; i < l.count; ++i)
        if (l.entries[i].element == element) return &l.entries[i];
    return nullptr;
}

std::string name_of(const SchemaTable& t, int32_t element) {
    const ElementRule& e = t.elements[element];
    return std::string(e.name, e.name_length);
}

std::string_view view_of(const SchemaTable& t, int32_t element) {
    const ElementRule& e = t.elements[element];
    return {e.name, e.name_length};
}

// A refusal's record: the elements the list would have taken. Built only
// when a message is made.
struct Refusal {
    Details details;
    std::vector<std::string_view> names;

    Refusal(const SchemaTable& t, const Lookup& l, DiagnosticKind kind, std::string_view element) {
        details.kind = kind;
        details.element = element;
        details.expected_key = l.entries;
        for (int32_t i = 0; i < l.count; ++i)
            if (l.entries[i].element >= 0) names.push_back(view_of(t, l.entries[i].element));
        details.expected = names;
    }
};

[[gnu::cold, gnu::noinline]] void report_misplaced(const SchemaTable& t, const Lookup& l, const ContentPosition* open,
                      const ContentPosition* previous, DiagnosticKind kind, std::string_view element) {
    Reporter* r = current_reporter();
    if (!r) return;
    Refusal refusal(t, l, kind, element);
    switch (l.kind) {
    case Lookup::AfterText:
        r->add_error(format_message("Element is invalid within character data in this context (%d)",
                                    previous->context),
                     refusal.details);
        break;
    case Lookup::AfterElement:
        r->add_error(format_message("Element is invalid as successor of current element '%s' in this context (%d)",
                                    name_of(t, previous->element).c_str(), previous->context),
                     refusal.details);
        break;
    case Lookup::FirstChild:
        r->add_error(format_message("Element is invalid as first child of container element '%s'",
                                    name_of(t, open->element).c_str()),
                     refusal.details);
        break;
    case Lookup::Root:
        break;
    }
}

[[gnu::cold, gnu::noinline]] void report_unknown(std::string_view name) {
    Reporter* r = current_reporter();
    if (!r) return;
    Details details;
    details.kind = DiagnosticKind::unknown_element;
    details.element = name;
    r->add_parts(Severity::error, details, {"Element '", name, "' unknown in DTD"});
}

[[gnu::cold, gnu::noinline]] void report_mismatch(const SchemaTable& t, std::string_view name,
                                                  const ContentPosition* open) {
    Reporter* r = current_reporter();
    if (!r) return;
    Details details;
    details.element = name;
    r->add_parts(Severity::error, details,
                 {"Close tag for '", name, "' does not match opened element ('", view_of(t, open->element), "')"});
}

[[gnu::cold, gnu::noinline]] void report_missing(const SchemaTable& t, const Lookup& l, std::string_view name,
                                                 const ContentPosition* open, const ContentPosition* previous) {
    Reporter* r = current_reporter();
    if (!r) return;
    // An element is missing: the record names the ones that could come.
    Refusal refusal(t, l, DiagnosticKind::misplaced_element, name);
    std::string message;
    if (l.kind == Lookup::FirstChild)
        message = format_message("Missing first child for container element '%s'", name_of(t, open->element).c_str());
    else if (l.kind == Lookup::AfterElement)
        message = format_message("Missing successor for current element '%s' in this context (%d)",
                                 name_of(t, previous->element).c_str(), previous->context);
    else
        message = format_message("Missing successor for character data in this context (%d)", previous->context);
    r->add_error(std::move(message), refusal.details);
}

}  // namespace

const ContentPosition* accept_start_tag(const SchemaTable& t, std::string_view name, const ContentPosition* open,
                                        const ContentPosition* previous) {
    int32_t element = find_element(t, name);
    if (element < 0) {
        report_unknown(name);
        return nullptr;
    }
    Lookup l = lookup_list(t, open, previous);
    if (l.kind == Lookup::Root) return root_position(t, element);
    if (const ContentPosition* p = search(l, element)) return p;
    report_misplaced(t, l, open, previous, DiagnosticKind::misplaced_element, name);
    return nullptr;
}

const ContentPosition* accept_text(const SchemaTable& t, const ContentPosition* open,
                                   const ContentPosition* previous) {
    Lookup l = lookup_list(t, open, previous);
    if (l.kind == Lookup::Root) return nullptr;  // never asked: text outside every element
    if (const ContentPosition* p = search(l, POSITION_TEXT)) return p;
    report_misplaced(t, l, open, previous, DiagnosticKind::text_not_allowed,
                     open ? view_of(t, open->element) : std::string_view());
    return nullptr;
}

bool accept_end_tag(const SchemaTable& t, std::string_view name, const ContentPosition* open,
                    const ContentPosition* previous) {
    const ElementRule& o = t.elements[open->element];
    if (!same_text(name, o.name, o.name_length)) {
        report_mismatch(t, name, open);
        return false;
    }
    Lookup l = lookup_list(t, open, previous);
    if (search(l, POSITION_END) || l.count == 0 || search(l, POSITION_TEXT)) return true;
    report_missing(t, l, name, open, previous);
    return false;
}

}  // namespace tarvo
