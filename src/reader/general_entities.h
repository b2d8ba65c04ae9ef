// The general entities a document's internal subset declares, expanded in
// the XML mode's character data and attribute values.
//
// The reader's run of text meets a reference it does not know (neither one
// of the five predefined entities nor a character reference) only on its
// slow path; from there the rest of the run is finished here, with each
// declared entity's replacement text read as the run's own characters.
// An entity whose text holds markup (its own '<', or a reference to such
// an entity) is instead read by the input in place of its reference in
// content (MarkupEntities in xml_text.h), when its text is content on its
// own. Only entities declared in the internal subset are expanded: an
// external one is never fetched. Nesting is bounded, an entity may not refer to
// itself, and a document's expansions together may not pass a size limit,
// so a small document cannot expand into a huge one.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "reader/xml_text.h"

namespace tarvo::xml {

inline constexpr size_t kMaxEntityNesting = 16;
// Bytes of replacement text (each expansion counts at least one) a
// document's references may expand to.
inline constexpr size_t kMaxEntityExpansion = size_t(1) << 24;

// Makes the general entities `internal_subset` declares the ones this
// thread's XML-mode parse expands, until the scope ends; a parse started
// inside it has its own. A subset that declares none (or that cannot be
// read) costs a search for "<!ENTITY".
class EntityScope {
public:
    explicit EntityScope(const std::string& internal_subset);
    ~EntityScope();
    EntityScope(const EntityScope&) = delete;
    EntityScope& operator=(const EntityScope&) = delete;

    struct Table;

private:
    static void use(Table* table);
    std::unique_ptr<Table> table_;
    Table* outer_;  // the scope this one stands in (a parse started by a handler), or null
};

// For finish_run(): `problem` was found at the reference at run[i], the
// bytes before `w` being finished. When that reference names a declared
// entity, finishes the rest of the run with the entities expanded and
// returns what is wrong there, or ""; otherwise returns `problem`.
std::string finish_with_entities(std::string problem, std::string& run, size_t w, size_t i, Run kind);

}  // namespace tarvo::xml
