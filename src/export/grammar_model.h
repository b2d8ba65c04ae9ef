// The content model of one element as an automaton: the places reachable
// inside it (its first list, then each child position and text position
// whose row applies next) and what may follow at each. Shared by the
// export and the description, with the work limit both run under.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tarvo/grammar.h"

namespace tarvo {

inline constexpr int kTextSymbol = -2;  // character data, as a symbol of a content automaton

// How much work an export or a description may do. A content model can be
// far larger than the grammar (every element may reach every row), so the
// work is counted: a pool proportional to the grammar's size, shared by
// all elements, and for each element a reserve of its own, proportional to
// its definition and spent first, so that one costly element cannot take
// what the plain ones need. Units are steps: a list entry read, a
// transition followed, an expression node made. Whatever runs out of it
// gives up, and its caller writes something simpler that says so.
class WorkBudget {
public:
    explicit WorkBudget(uint64_t pool) : pool_(pool) {}
    static WorkBudget unlimited() { return WorkBudget(UINT64_MAX); }

    // Starts the work of one element with a reserve of its own.
    void begin(uint64_t reserve) {
        reserve_ = reserve;
        out_ = false;
    }
    bool spend(uint64_t n) {
        if (out_) return false;
        if (n <= reserve_) {
            reserve_ -= n;
            return true;
        }
        n -= reserve_;
        reserve_ = 0;
        if (n <= pool_) {
            pool_ -= n;
            return true;
        }
        pool_ = 0;
        out_ = true;
        return false;
    }
    bool out() const { return out_; }  // spend() has failed since begin()

private:
    uint64_t pool_;
    uint64_t reserve_ = 0;
    bool out_ = false;
};

// Size of a grammar as the limits count it: one for each element, list,
// list entry, attribute and allowed value.
uint64_t element_size(const ElementInfo& e);
uint64_t grammar_size(const GrammarInfo& g);

// The budgets. Real grammars use a small part of theirs (bench/README.md).
WorkBudget export_budget(const GrammarInfo& g);
uint64_t export_reserve(const ElementInfo& e);
WorkBudget describe_budget(const GrammarInfo& g);

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
        std::vector<std::pair<int, int>> next;  // (symbol, state), one per symbol, in symbol order
        bool accepting = false;                 // the element may close here
        int to(int symbol) const {              // -1: none
            auto at = std::lower_bound(next.begin(), next.end(), std::make_pair(symbol, INT_MIN));
            return at != next.end() && at->first == symbol ? at->second : -1;
        }
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

// Builds the content model of `element`, and its automaton when asked.
// Elements `skip` marks are left out, as if no list named them. False, the
// model incomplete, when the budget runs out.
bool content_model(const GrammarInfo& g, int element, WorkBudget& budget, ContentModel& m,
                   ContentAutomaton* automaton = nullptr, const std::vector<bool>* skip = nullptr);
// Without a limit: linear in the size of the grammar.
ContentModel content_model(const GrammarInfo& g, int element);

// The content models of a grammar's elements, each worked out once for all
// elements whose first lists are the same (their contents are).
class ContentModels {
public:
    ContentModels(const GrammarInfo& g, WorkBudget& budget) : g_(g), budget_(budget) {}
    // nullptr when the budget runs out.
    const ContentModel* of(int element);

private:
    const GrammarInfo& g_;
    WorkBudget& budget_;
    std::map<std::vector<int>, ContentModel> by_first_;
};

// The key under which elements with the same first list share their work.
std::vector<int> first_key(const GrammarInfo& g, int element);

// For every element, the elements whose content may hold it; false when the
// budget runs out.
bool parents(const GrammarInfo& g, ContentModels& models, std::vector<std::vector<int>>& out);
// The elements whose content may hold `element`, in index order: one walk
// back over the grammar's lists, whatever the size of the contents.
std::vector<int> parents_of(const GrammarInfo& g, int element);

}  // namespace tarvo
