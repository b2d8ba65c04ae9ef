// Automata for checking what the export writes: the content automaton of an
// element, what a validator makes of an expression written from it, and
// whether one accepts all that the other does.
#pragma once

#include <set>
#include <utility>
#include <vector>

#include "export/expression.h"
#include "export/grammar_model.h"

namespace tarvo {

struct Nfa {
    struct State {
        std::vector<std::pair<int, int>> next;  // (symbol, state), in order
        std::vector<int> eps;
        bool accepting = false;
    };
    std::vector<State> states;  // state 0 starts
    bool has_eps = false;
};

Nfa from_automaton(const ContentAutomaton& a);

// What a RELAX NG validator accepts for an expression written from `a`:
// a `text` pattern also matches nothing, so every text step may be skipped.
Nfa text_optional(const ContentAutomaton& a);

// The Glushkov automaton of `r` (one state per symbol occurrence);
// `deterministic` tells whether no two occurrences of one symbol ever
// compete, as a DTD requires.
Nfa glushkov(R r, bool& deterministic, WorkBudget& budget);

enum class Inclusion { kYes, kNo, kUnknown };

// Whether every content `a` accepts is accepted by `b`; kUnknown when the
// budget runs out first. Contents are what a document can hold: two runs of
// text never stand next to each other.
Inclusion inclusion(const Nfa& a, const Nfa& b, WorkBudget& budget);

// Whether `r` says exactly what `exact` accepts, and can be written (it
// nests no deeper than kMaxDepth).
bool same_language(R r, const Nfa& exact, WorkBudget& budget, bool* deterministic = nullptr);

// The symbols `a` reads, kTextSymbol among them or not.
std::set<int> symbols(const ContentAutomaton& a, bool with_text);

// Leaves out the states from which the element can no longer close; false
// when none is left (no content is valid). The rest keep their order.
bool trim(ContentAutomaton& a);

}  // namespace tarvo
