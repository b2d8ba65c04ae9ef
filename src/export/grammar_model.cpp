#include "export/grammar_model.h"

#include <algorithm>
#include <unordered_map>

namespace tarvo {

namespace {

// Pool: per unit of the grammar's size, and for any grammar. A reserve: per
// unit of the element's definition. A unit of work costs a few hundred
// instructions, so the whole budget of a grammar file of a megabyte lasts
// about half a second; the built-in grammars spend under 2% of theirs, and a
// content model whose every element may follow every other takes about 8
// units per unit of grammar. Describing spends mostly on what it writes, so
// its pool is smaller.
constexpr uint64_t kExportPerUnit = 12;
constexpr uint64_t kExportBase = uint64_t{1} << 20;
constexpr uint64_t kReservePerUnit = 4;
constexpr uint64_t kDescribePerUnit = 4;
constexpr uint64_t kDescribeBase = uint64_t{1} << 18;

uint64_t list_size(const std::vector<ContentItem>& l) { return 1 + l.size(); }

}  // namespace

uint64_t element_size(const ElementInfo& e) {
    uint64_t n = 1 + list_size(e.first);
    for (const auto& r : e.rows) n += list_size(r);
    for (const AttributeInfo& a : e.attributes) n += 1 + a.values.size();
    return n;
}

uint64_t grammar_size(const GrammarInfo& g) {
    uint64_t n = 1;
    for (const ElementInfo& e : g.elements) n += element_size(e);
    for (const auto& r : g.text_rows) n += list_size(r);
    return n;
}

WorkBudget export_budget(const GrammarInfo& g) { return WorkBudget(kExportBase + kExportPerUnit * grammar_size(g)); }

uint64_t export_reserve(const ElementInfo& e) { return kReservePerUnit * element_size(e); }

WorkBudget describe_budget(const GrammarInfo& g) {
    return WorkBudget(kDescribeBase + kDescribePerUnit * grammar_size(g));
}

bool content_model(const GrammarInfo& g, int element, WorkBudget& budget, ContentModel& m,
                   ContentAutomaton* automaton, const std::vector<bool>* skip) {
    std::unordered_map<uint64_t, int> state_of;  // (element or kTextSymbol, context) -> state
    std::vector<const std::vector<ContentItem>*> lists{&g.elements[element].first};
    for (size_t s = 0; s < lists.size(); ++s) {
        if (!budget.spend(list_size(*lists[s]))) return false;
        ContentAutomaton::State st;
        st.accepting = closes_after(*lists[s]);
        for (const ContentItem& it : *lists[s]) {
            if (it.kind == ContentItem::kEnd) continue;
            if (skip && it.kind == ContentItem::kElement && (*skip)[it.element]) continue;
            int symbol = it.kind == ContentItem::kText ? kTextSymbol : it.element;
            if (symbol == kTextSymbol)
                m.text_places.push_back(s == 0 ? std::string("first") : "after " + item_text(g, m.positions[s - 1]));
            uint64_t key = static_cast<uint64_t>(static_cast<uint32_t>(symbol)) << 32 | static_cast<uint32_t>(it.context);
            auto [pos, fresh] = state_of.emplace(key, static_cast<int>(lists.size()));
            if (fresh) {
                m.positions.push_back(it);
                lists.push_back(&ContentModel::list_after(g, it));
            }
            if (automaton) st.next.emplace_back(symbol, pos->second);
        }
        if (automaton) {
            // In symbol order; a symbol listed twice leads where it is listed last.
            std::stable_sort(st.next.begin(), st.next.end(), [](auto a, auto b) { return a.first < b.first; });
            auto last = std::unique(st.next.rbegin(), st.next.rend(), [](auto a, auto b) { return a.first == b.first; });
            st.next.erase(st.next.begin(), last.base());
            automaton->states.push_back(std::move(st));
        }
    }
    return true;
}

ContentModel content_model(const GrammarInfo& g, int element) {
    ContentModel m;
    WorkBudget unlimited = WorkBudget::unlimited();
    content_model(g, element, unlimited, m);
    return m;
}

std::vector<int> first_key(const GrammarInfo& g, int element) {
    std::vector<int> key;
    for (const ContentItem& it : g.elements[element].first) {
        key.push_back(it.kind);
        key.push_back(it.element);
        key.push_back(it.context);
    }
    return key;
}

const ContentModel* ContentModels::of(int element) {
    if (!budget_.spend(list_size(g_.elements[element].first))) return nullptr;
    std::vector<int> key = first_key(g_, element);
    auto found = by_first_.find(key);
    if (found != by_first_.end()) return &found->second;
    ContentModel m;
    if (!content_model(g_, element, budget_, m)) return nullptr;
    return &by_first_.emplace(std::move(key), std::move(m)).first->second;
}

bool parents(const GrammarInfo& g, ContentModels& models, std::vector<std::vector<int>>& out) {
    out.assign(g.elements.size(), {});
    for (int p = 0; p < static_cast<int>(g.elements.size()); ++p) {
        const ContentModel* m = models.of(p);
        if (!m) return false;
        for (const ContentItem& it : m->positions)
            if (it.kind == ContentItem::kElement && (out[it.element].empty() || out[it.element].back() != p))
                out[it.element].push_back(p);
    }
    return true;
}

std::vector<int> parents_of(const GrammarInfo& g, int element) {
    // Nodes: the positions (element x in context c, text in context t) and,
    // after them, the first list of each element.
    const int elements = static_cast<int>(g.elements.size());
    std::vector<int> base(elements + 1, 0);
    for (int x = 0; x < elements; ++x) base[x + 1] = base[x] + static_cast<int>(g.elements[x].rows.size());
    const int text_base = base[elements];
    const int first_base = text_base + static_cast<int>(g.text_rows.size());
    auto node = [&](const ContentItem& it) {
        return it.kind == ContentItem::kText ? text_base + it.context : base[it.element] + it.context;
    };
    // Which lists name each position, the edges walked back.
    std::vector<std::vector<int>> named_by(first_base + elements);
    auto list = [&](int owner, const std::vector<ContentItem>& l) {
        for (const ContentItem& it : l)
            if (it.kind != ContentItem::kEnd) named_by[node(it)].push_back(owner);
    };
    for (int x = 0; x < elements; ++x) {
        list(first_base + x, g.elements[x].first);
        for (size_t c = 0; c < g.elements[x].rows.size(); ++c) list(base[x] + static_cast<int>(c), g.elements[x].rows[c]);
    }
    for (size_t t = 0; t < g.text_rows.size(); ++t) list(text_base + static_cast<int>(t), g.text_rows[t]);
    std::vector<bool> seen(named_by.size(), false);
    std::vector<int> work;
    for (int n = base[element]; n < base[element + 1]; ++n) {
        seen[n] = true;
        work.push_back(n);
    }
    std::vector<int> out;
    while (!work.empty()) {
        int n = work.back();
        work.pop_back();
        if (n >= first_base) {
            out.push_back(n - first_base);
            continue;
        }
        for (int owner : named_by[n])
            if (!seen[owner]) {
                seen[owner] = true;
                work.push_back(owner);
            }
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace tarvo
