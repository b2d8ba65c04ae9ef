// The content model of one element as an automaton: the places reachable
// inside it (its first list, then each child position and text position
// whose row applies next) and what may follow at each.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tarvo/grammar.h"

namespace tarvo {

inline constexpr int kTextSymbol = -2;  // character data, as a symbol of a content automaton

struct ContentModel {
    // Child and text positions reachable inside the element, first seen first.
    std::vector<ContentItem> positions;
    // Where character data may stand: "first", "after Name/c", "after TEXT/c".
    std::vector<std::string> text_places;

    static const std::vector<ContentItem>& list_after(const GrammarInfo& g, const ContentItem& it) {
        return it.kind == ContentItem::kText ? g.text_rows[it.context] : g.elements[it.element].rows[it.context];
    }
};

// A deterministic automaton over element indices and kTextSymbol. State 0 is
// the start of the content; state i > 0 stands after positions[i - 1].
struct ContentAutomaton {
    struct State {
        std::map<int, int> next;  // symbol -> state
        bool accepting = false;   // the element may close here
    };
    std::vector<State> states;
};

// An element may close where its list holds END, is empty, or holds text
// (text there is optional).
inline bool closes_after(const std::vector<ContentItem>& l) {
    if (l.empty()) return true;
    for (const ContentItem& it : l)
        if (it.kind != ContentItem::kElement) return true;
    return false;
}

inline ContentModel content_model(const GrammarInfo& g, int element, ContentAutomaton* automaton = nullptr) {
    ContentModel m;
    std::map<std::pair<int, int>, int> state_of;  // (element or kTextSymbol, context) -> state
    std::vector<const std::vector<ContentItem>*> lists{&g.elements[element].first};
    std::vector<std::string> names{"first"};
    for (size_t s = 0; s < lists.size(); ++s) {
        ContentAutomaton::State st;
        st.accepting = closes_after(*lists[s]);
        for (const ContentItem& it : *lists[s]) {
            if (it.kind == ContentItem::kEnd) continue;
            int symbol = it.kind == ContentItem::kText ? kTextSymbol : it.element;
            if (symbol == kTextSymbol) m.text_places.push_back(names[s]);
            auto [pos, fresh] = state_of.emplace(std::make_pair(symbol, it.context), static_cast<int>(lists.size()));
            if (fresh) {
                m.positions.push_back(it);
                lists.push_back(&ContentModel::list_after(g, it));
                names.push_back("after " + item_text(g, it));
            }
            st.next[symbol] = pos->second;
        }
        if (automaton) automaton->states.push_back(std::move(st));
    }
    return m;
}

// For every element, the elements whose content may hold it.
inline std::vector<std::vector<int>> parents(const GrammarInfo& g) {
    std::vector<std::vector<int>> out(g.elements.size());
    for (int p = 0; p < static_cast<int>(g.elements.size()); ++p) {
        ContentModel m = content_model(g, p);
        for (const ContentItem& it : m.positions)
            if (it.kind == ContentItem::kElement && (out[it.element].empty() || out[it.element].back() != p))
                out[it.element].push_back(p);
    }
    return out;
}

}  // namespace tarvo
