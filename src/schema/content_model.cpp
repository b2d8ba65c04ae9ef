#include "schema/content_model.h"

#include <string>

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

void report_misplaced(const SchemaTable& t, const Lookup& l, const ContentPosition* open,
                      const ContentPosition* previous) {
    Reporter* r = current_reporter();
    if (!r) return;
    switch (l.kind) {
    case Lookup::AfterText:
        r->error("Element is invalid within character data in this context (%d)", previous->context);
        break;
    case Lookup::AfterElement:
        r->error("Element is invalid as successor of current element '%s' in this context (%d)",
                 name_of(t, previous->element).c_str(), previous->context);
        break;
    case Lookup::FirstChild:
        r->error("Element is invalid as first child of container element '%s'", name_of(t, open->element).c_str());
        break;
    case Lookup::Root:
        break;
    }
}

}  // namespace

const ContentPosition* accept_start_tag(const SchemaTable& t, std::string_view name, const ContentPosition* open,
                                        const ContentPosition* previous) {
    int32_t element = find_element(t, name);
    if (element < 0) {
        if (Reporter* r = current_reporter()) r->error("Element '%s' unknown in DTD", std::string(name).c_str());
        return nullptr;
    }
    Lookup l = lookup_list(t, open, previous);
    if (l.kind == Lookup::Root) return root_position(t, element);
    if (const ContentPosition* p = search(l, element)) return p;
    report_misplaced(t, l, open, previous);
    return nullptr;
}

const ContentPosition* accept_text(const SchemaTable& t, const ContentPosition* open,
                                   const ContentPosition* previous) {
    Lookup l = lookup_list(t, open, previous);
    if (l.kind == Lookup::Root) return nullptr;  // never asked: text outside every element
    if (const ContentPosition* p = search(l, POSITION_TEXT)) return p;
    report_misplaced(t, l, open, previous);
    return nullptr;
}

bool accept_end_tag(const SchemaTable& t, std::string_view name, const ContentPosition* open,
                    const ContentPosition* previous) {
    const ElementRule& o = t.elements[open->element];
    if (!same_text(name, o.name, o.name_length)) {
        if (Reporter* r = current_reporter())
            r->error("Close tag for '%s' does not match opened element ('%s')", std::string(name).c_str(),
                     name_of(t, open->element).c_str());
        return false;
    }
    Lookup l = lookup_list(t, open, previous);
    if (search(l, POSITION_END) || l.count == 0 || search(l, POSITION_TEXT)) return true;
    if (Reporter* r = current_reporter()) {
        if (l.kind == Lookup::FirstChild)
            r->error("Missing first child for container element '%s'", name_of(t, open->element).c_str());
        else if (l.kind == Lookup::AfterElement)
            r->error("Missing successor for current element '%s' in this context (%d)",
                     name_of(t, previous->element).c_str(), previous->context);
        else
            r->error("Missing successor for character data in this context (%d)", previous->context);
    }
    return false;
}

}  // namespace tarvo
