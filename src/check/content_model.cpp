#include "check/content_model.h"

namespace tarvo {

namespace {

// The list that applies to the next item: after the previous sibling, or
// first inside the open element; at the root there is none.
struct List {
    const ContentPosition* entries = nullptr;
    int32_t count = 0;

    const ContentPosition* find(int32_t element) const {
        for (int32_t i = 0; i < count; ++i)
            if (entries[i].element == element) return &entries[i];
        return nullptr;
    }
};

List list_at(const SchemaTable& t, const ContentPosition* open, const ContentPosition* previous) {
    if (previous) {
        const SuccessorRow& row = previous->element == POSITION_TEXT
                                      ? t.text_rows[previous->context]
                                      : t.elements[previous->element].rows[previous->context];
        return {row.successors, row.count};
    }
    if (open) {
        const ElementRule& o = t.elements[open->element];
        return {o.first, o.first_count};
    }
    return {};
}

[[gnu::cold]] void refuse(ContentRefusal& r, ContentRefusal::Reason reason, DiagnosticKind kind,
                          std::string_view name, const ContentPosition* open, const ContentPosition* previous,
                          const List& list) {
    r.reason = reason;
    r.kind = kind;
    r.name = name;
    r.open = open;
    r.previous = previous;
    r.entries = list.entries;
    r.count = list.count;
}

}  // namespace

const ContentPosition* accept_start_tag(const SchemaTable& t, std::string_view name, const ContentPosition* open,
                                        const ContentPosition* previous, ContentRefusal& refusal) {
    int32_t element = find_element(t, name);
    if (element < 0) {
        // The list that applied, for a suggestion.
        refuse(refusal, ContentRefusal::Reason::unknown_element, DiagnosticKind::unknown_element, name, open,
               previous, list_at(t, open, previous));
        return nullptr;
    }
    if (!open && !previous) return root_position(t, element);
    List l = list_at(t, open, previous);
    if (const ContentPosition* p = l.find(element)) return p;
    refuse(refusal, ContentRefusal::Reason::misplaced, DiagnosticKind::misplaced_element, name, open, previous, l);
    return nullptr;
}

const ContentPosition* accept_text(const SchemaTable& t, const ContentPosition* open,
                                   const ContentPosition* previous, ContentRefusal& refusal) {
    List l = list_at(t, open, previous);
    if (const ContentPosition* p = l.find(POSITION_TEXT)) return p;
    const ElementRule& o = t.elements[open->element];
    refuse(refusal, ContentRefusal::Reason::misplaced, DiagnosticKind::text_not_allowed,
           std::string_view(o.name, o.name_length), open, previous, l);
    return nullptr;
}

bool accept_end_tag(const SchemaTable& t, std::string_view name, const ContentPosition* open,
                    const ContentPosition* previous, ContentRefusal& refusal) {
    const ElementRule& o = t.elements[open->element];
    if (!same_text(name, o.name, o.name_length)) {
        refuse(refusal, ContentRefusal::Reason::close_mismatch, DiagnosticKind::syntax, name, open, previous, {});
        return false;
    }
    List l = list_at(t, open, previous);
    if (l.find(POSITION_END) || l.count == 0 || l.find(POSITION_TEXT)) return true;
    refuse(refusal, ContentRefusal::Reason::missing, DiagnosticKind::misplaced_element, name, open, previous, l);
    return false;
}

}  // namespace tarvo
