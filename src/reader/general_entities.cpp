#include "reader/general_entities.h"

#include <algorithm>
#include <map>

#include "import/dtd_reader.h"

namespace tarvo::xml {

struct EntityScope::Table {
    std::map<std::string, dtd::GeneralEntity, std::less<>> entities;
    // The entities whose text holds markup, theirs or by reference: what
    // keeps that text from being content on its own, or "".
    std::map<std::string, std::string, std::less<>> markup;
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

// The names `text` refers to as general entities.
std::vector<std::string_view> references(std::string_view text) {
    std::vector<std::string_view> names;
    for (size_t i = text.find('&'); i != std::string_view::npos; i = text.find('&', i + 1)) {
        const size_t semi = text.find(';', i);
        if (semi == std::string_view::npos) break;
        if (text[i + 1] != '#') names.push_back(text.substr(i + 1, semi - i - 1));
    }
    return names;
}

// What keeps `text` from being content on its own, or "": every tag whole
// and every element it opens closed in it, comments, instructions and
// CDATA sections whole. (What else XML asks of it is checked as the reader
// reads it in place.)
std::string content_problem(std::string_view text) {
    std::vector<std::string_view> open;
    auto whole = [&](size_t& i, std::string_view start, std::string_view end) {
        if (text.compare(i, start.size(), start) != 0) return false;
        const size_t close = text.find(end, i + start.size());
        i = close == std::string_view::npos ? text.size() + 1 : close + end.size();
        return true;
    };
    for (size_t i = text.find('<'); i < text.size(); i = text.find('<', i)) {
        if (whole(i, "<!--", "-->") || whole(i, "<![CDATA[", "]]>") || whole(i, "<?", "?>")) {
            if (i > text.size()) return "a comment, instruction or CDATA section that does not end";
            continue;
        }
        const bool end_tag = i + 1 < text.size() && text[i + 1] == '/';
        size_t k = i + 1 + end_tag;
        while (k < text.size() && is_name_byte(static_cast<unsigned char>(text[k]))) ++k;
        const std::string_view name = text.substr(i + 1 + end_tag, k - i - 1 - end_tag);
        if (name.empty()) return "a '<' that begins no tag";
        char quote = 0;
        for (; k < text.size() && (quote || text[k] != '>'); ++k) {
            if (quote && text[k] == quote) quote = 0;
            else if (!quote && (text[k] == '"' || text[k] == '\'')) quote = text[k];
            else if (!quote && text[k] == '<') break;
        }
        if (k >= text.size() || text[k] != '>') return "tag '" + std::string(name) + "' does not end";
        if (end_tag) {
            if (open.empty() || open.back() != name) return "end tag '" + std::string(name) + "' without its start tag";
            open.pop_back();
        } else if (text[k - 1] != '/') {
            open.push_back(name);
        }
        i = k + 1;
    }
    if (!open.empty()) return "element '" + std::string(open.back()) + "' is not closed";
    return {};
}

// Fills t.markup: the entities whose text holds '<', and those that refer
// to one of them, however deep (a cycle is refused where it is used), each
// with its text judged once. Each reference is followed once, back from
// the entity it names.
void find_markup(EntityScope::Table& t) {
    std::map<std::string_view, std::vector<std::string_view>> referrers;
    std::vector<std::string_view> found;
    for (auto& [name, e] : t.entities) {
        if (e.external) continue;
        for (std::string_view r : references(e.value)) referrers[r].push_back(name);
        if (e.value.find('<') != std::string::npos && t.markup.emplace(name, "").second) found.push_back(name);
    }
    while (!found.empty()) {
        const std::string_view name = found.back();
        found.pop_back();
        auto it = referrers.find(name);
        if (it == referrers.end()) continue;
        for (std::string_view referrer : it->second)
            if (t.markup.emplace(referrer, "").second) found.push_back(referrer);
    }
    for (auto& [name, problem] : t.markup) problem = content_problem(t.entities.find(name)->second.value);
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
    if (auto m = kind == Run::text ? t.markup.find(name) : t.markup.end(); m != t.markup.end()) {
        const std::string& problem = m->second;
        return "entity " + quoted(name) +
               (problem.empty() ? " holds markup, which is read only where the document refers to it in content"
                                : " holds markup that is not content on its own: " + problem);
    }
    std::string text = e.value;
    t.open.push_back(name);
    std::string problem = finish_run(text, kind);
    t.open.pop_back();
    // Named once, at the reference the document itself holds.
    if (!problem.empty()) return t.open.empty() ? problem + ", in entity " + quoted(name) : problem;
    out += text;
    return {};
}

// enter() and leave() of MarkupEntities, over the active table.
std::string_view enter_markup(std::string_view name) {
    EntityScope::Table& t = *active;
    auto m = t.markup.find(name);
    if (m == t.markup.end()) return {};
    const std::string& text = t.entities.find(name)->second.value;
    if (std::find(t.open.begin(), t.open.end(), name) != t.open.end() || t.open.size() >= kMaxEntityNesting ||
        t.spent + text.size() + 1 > kMaxEntityExpansion || !m->second.empty())
        return {};  // the reference, finished as text, says which
    t.spent += text.size() + 1;
    t.open.push_back(m->first);
    return text.empty() ? std::string_view("", 0) : std::string_view(text);
}
void leave_markup() { active->open.pop_back(); }
constexpr MarkupEntities kMarkupEntities{enter_markup, leave_markup};

}  // namespace

EntityScope::EntityScope(const std::string& internal_subset) : outer_(active) {
    if (internal_subset.find("<!ENTITY") != std::string::npos) {
        dtd::Dtd d;
        std::vector<grammar_file::Diagnostic> diags;
        if (dtd::read_dtd("internal subset", internal_subset, d, diags) && !d.general.empty()) {
            table_ = std::make_unique<Table>();
            for (auto& [name, e] : d.general) table_->entities.emplace(name, std::move(e));
            find_markup(*table_);
        }
    }
    if (!table_ && !outer_) return;
    use(table_.get());
}

EntityScope::~EntityScope() {
    if (!table_ && !outer_) return;
    use(outer_);
}

void EntityScope::use(Table* table) {
    active = table;
    unknown_reference = active ? finish_with_entities : nullptr;
    markup_entities = active && !active->markup.empty() ? &kMarkupEntities : nullptr;
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
