// From a content automaton to expressions that may say the same; the
// caller checks each against the automaton before it writes one.
#pragma once

#include <vector>

#include "export/expression.h"
#include "export/grammar_model.h"

namespace tarvo {

// Automata with more states than this are not tried by state elimination:
// its expressions grow too fast.
inline constexpr size_t kMaxEliminated = 40;

// Expressions for `a`, the shortest way first: the reduction of `a` read as
// a graph, then for small automata state elimination in three orders.
std::vector<R> candidates(const ContentAutomaton& a, Expressions& x);

// State elimination, fewest edges first: the language of `a` itself for an
// automaton of at most kMaxEliminated states; nullptr when the expression
// grows too long or the budget runs out.
R eliminate_by_degree(const ContentAutomaton& a, Expressions& x);

}  // namespace tarvo
