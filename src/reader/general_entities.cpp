#include "reader/general_entities.h"

#include <algorithm>
#include <map>

#include "import/dtd_reader.h"

namespace tarvo::xml {

struct EntityScope::Table {
    std::map<std::string, dtd::GeneralEntity, std::less<>> entities;
    std::vector<std::string_view> open;  // the entities being expanded, outermost first
    size_t spent = 0;                    // of kMaxEntityExpansion
};

namespace {

thread_local EntityScope::Table* active = nullptr;

std::string quoted(std::string_view s) { return std::string("'").append(s).append("'"); }

using Declared = std::pair<const std::string, dtd::GeneralEntity>;

// The declared entity whose reference begins at run[i], or null; `end`
// is set past the reference.
const Declared* declared(std::string_view run, size_t i, size_t& end) {
    if (!active || i >= run.size() || run[i] != '&') return nullptr;
    end = run.find(';', i);
    if (end == std::string_view::npos || end - i > 256) return nullptr;
    auto it = active->entities.find(run.substr(i + 1, end - i - 1));
    if (it == active->entities.end()) return nullptr;
    ++end;
    return &*it;
}

// The finished replacement text of entity `name`, appended to `out`.
std::string expand(const Declared& d, Run kind, std::string& out) {
    EntityScope::Table& t = *active;
    const std::string& name = d.first;
    const dtd::GeneralEntity& e = d.second;
    if (e.external) return "entity " + quoted(name) + " is external, and tarvo never reads external entities";
    if (std::find(t.open.begin(), t.open.end(), name) != t.open.end())
        return "entity " + quoted(name) + " refers to itself";
    if (t.open.size() >= kMaxEntityNesting)
        return "entities nested more than " + std::to_string(kMaxEntityNesting) + " deep at " + quoted(name);
    t.spent += e.value.size() + 1;
    if (t.spent > kMaxEntityExpansion)
        return "the document's entity references expand to more than " + std::to_string(kMaxEntityExpansion) +
               " bytes, at " + quoted(name);
    if (kind == Run::text && e.value.find('<') != std::string::npos)
        return "entity " + quoted(name) + " holds markup, which tarvo does not expand";
    std::string text = e.value;
    t.open.push_back(name);
    std::string problem = finish_run(text, kind);
    t.open.pop_back();
    // Named once, at the reference the document itself holds.
    if (!problem.empty()) return t.open.empty() ? problem + ", in entity " + quoted(name) : problem;
    out += text;
    return {};
}

}  // namespace

EntityScope::EntityScope(const std::string& internal_subset) : outer_(active) {
    if (internal_subset.find("<!ENTITY") != std::string::npos) {
        dtd::Dtd d;
        std::vector<grammar_file::Diagnostic> diags;
        if (dtd::read_dtd("internal subset", internal_subset, d, diags) && !d.general.empty()) {
            table_ = std::make_unique<Table>();
            for (auto& [name, e] : d.general) table_->entities.emplace(name, std::move(e));
        }
    }
    if (!table_ && !outer_) return;
    active = table_.get();
    unknown_reference = active ? finish_with_entities : nullptr;
}

EntityScope::~EntityScope() {
    if (!table_ && !outer_) return;
    active = outer_;
    unknown_reference = active ? finish_with_entities : nullptr;
}

std::string finish_with_entities(std::string problem, std::string& run, size_t w, size_t i, Run kind) {
    size_t end = 0;
    if (!declared(run, i, end)) return problem;
    // Pieces that hold no reference, and single references, each finished
    // as a run of its own: a line end or "]]>" cannot span a '&'.
    std::string out(run, 0, w), piece;
    for (size_t at = i; at < run.size();) {
        if (const Declared* d = declared(run, at, end)) {
            problem = expand(*d, kind, out);
            if (!problem.empty()) return problem;
            at = end;
            continue;
        }
        size_t next = run[at] == '&' ? run.find(';', at) : run.find('&', at);
        next = next == std::string::npos ? run.size() : next + (run[at] == '&');
        piece.assign(run, at, next - at);
        problem = finish_run(piece, kind);
        if (!problem.empty()) return problem;
        out += piece;
        at = next;
    }
    run = std::move(out);
    return {};
}

}  // namespace tarvo::xml
