// Regular expressions over element indices and kTextSymbol: the content
// models the export writes. Every distinct expression is one node, so equal
// expressions are the same pointer and compare in constant time.
#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "export/grammar_model.h"

namespace tarvo {

struct Re;
using R = const Re*;  // nullptr: the empty language

struct Re {
    enum Kind { kEps, kSym, kSeq, kAlt, kStar, kPlus, kOpt } kind = kEps;
    int sym = 0;
    std::vector<R> kids;
    bool nullable = false;
    uint32_t depth = 1;   // levels of nesting
    uint64_t length = 0;  // characters of a canonical text of it: how far it has grown
    size_t hash = 0;
};

// Expressions written out nest no deeper than this: XML and DTD readers
// refuse deeper nesting.
inline constexpr uint32_t kMaxDepth = 100;

// Makes and owns expressions; every node made is paid for from the budget.
// The simplifications keep models short and remove choices a DTD could
// not make with one symbol of look-ahead.
class Expressions {
public:
    explicit Expressions(WorkBudget& budget) : budget_(budget) {}
    Expressions(const Expressions&) = delete;
    Expressions& operator=(const Expressions&) = delete;

    WorkBudget& budget() { return budget_; }

    R make(Re::Kind k, int sym, std::vector<R> kids);
    R eps() { return make(Re::kEps, 0, {}); }
    R sym(int s) { return make(Re::kSym, s, {}); }
    R star(R a);
    R opt(R a);
    R seq(R a, R b);
    R alt(R a, R b);
    // Any one of `symbols`, in their order; nullptr when there are none.
    R any_of(const std::set<int>& symbols);

    // A sequence built one part at a time, as seq() would join them but
    // without copying what is already there: append(parts, b) then
    // sequence(parts) is seq(sequence(parts), b).
    void append(std::vector<R>& parts, R b);
    R sequence(const std::vector<R>& parts);

    // An alternative built one choice at a time: add_choice(c, b) then
    // choice(c) is alt(choice(c), b), but costs what b adds, not what the
    // choices so far hold, unless b makes a pair alt() joins.
    struct Choices {
        R value = nullptr;  // the choices so far, when not `pending`
        std::vector<R> kids;
        std::unordered_map<R, size_t> at;      // kid -> its place in kids
        std::unordered_map<R, int> sequence_ends;  // first and last parts of the sequences among kids
        bool flat = false;     // value is the alternative of kids (or kids[0]), nothing optional
        bool pending = false;  // kids has grown since value was made
    };
    void start_choices(Choices& c, R a);
    void add_choice(Choices& c, R b);
    R choice(Choices& c);

private:
    void add_kid(Choices& c, R k);

    struct Hash {
        size_t operator()(R r) const { return r->hash; }
    };
    struct Same {
        bool operator()(R a, R b) const { return a->kind == b->kind && a->sym == b->sym && a->kids == b->kids; }
    };
    WorkBudget& budget_;
    std::deque<Re> nodes_;
    std::unordered_set<R, Hash, Same> index_;
};

}  // namespace tarvo
