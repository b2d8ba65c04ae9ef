// The automaton of one content model, built once by the position
// (Glushkov) construction: one position per element name or #PCDATA written
// in the model, what may come first, and what may follow each position.
// A model is deterministic when no list offers one symbol at two positions,
// which is what a grammar's successor lists need: each list names an
// element at most once.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "import/dtd_reader.h"

namespace tarvo::dtd {

inline constexpr int kTextSymbol = -2;  // #PCDATA as a symbol

struct ContentAutomaton {
    std::vector<int> symbols;               // of each position: an element index or kTextSymbol
    std::vector<int> first;                 // positions that may come first, in model order
    std::vector<std::vector<int>> follow;   // of each position: positions that may come next, in model order
    std::vector<bool> last;                 // of each position: the element may close after it
    bool nullable = true;                   // the element may close before any position
};

struct BuildOutcome {
    enum class Kind { Ok, NotDeterministic, TooLarge };
    Kind kind = Kind::Ok;
    int symbol = 0;  // NotDeterministic: the symbol offered twice
    int after = -1;  // NotDeterministic: the position whose list offers it, -1 for the start
};

// Builds the automaton of `model`, naming symbols with `symbol_of`, which
// returns values below `symbol_count` (or kTextSymbol). `budget` is the
// number of successor entries the construction may still add; it is spent.
BuildOutcome build_automaton(const Particle& model, const std::function<int(const std::string&)>& symbol_of,
                             int symbol_count, size_t& budget, ContentAutomaton& out);

}  // namespace tarvo::dtd
