#include "export/automata.h"

#include <algorithm>
#include <climits>
#include <deque>
#include <unordered_map>
#include <unordered_set>
#include <set>

namespace tarvo {

Nfa from_automaton(const ContentAutomaton& a) {
    Nfa n;
    n.states.resize(a.states.size());
    for (size_t s = 0; s < a.states.size(); ++s) {
        n.states[s].accepting = a.states[s].accepting;
        n.states[s].next.assign(a.states[s].next.begin(), a.states[s].next.end());
    }
    return n;
}

Nfa text_optional(const ContentAutomaton& a) {
    Nfa n = from_automaton(a);
    for (size_t s = 0; s < a.states.size(); ++s) {
        if (int to = a.states[s].to(kTextSymbol); to >= 0) n.states[s].eps.push_back(to), n.has_eps = true;
    }
    return n;
}

namespace {

struct Glushkov {
    WorkBudget& budget;
    std::vector<int> symbols;             // of each position
    std::vector<std::vector<int>> follow;  // may repeat a position until build() sorts them

    struct Info {
        bool nullable;
        std::set<int> first, last;
    };

    void follows(const std::set<int>& from, const std::set<int>& to) {
        budget.spend(from.size() * to.size());
        if (budget.out()) return;
        for (int l : from) follow[l].insert(follow[l].end(), to.begin(), to.end());
    }

    Info walk(R r) {
        if (budget.out()) return {true, {}, {}};
        switch (r->kind) {
        case Re::kEps: return {true, {}, {}};
        case Re::kSym: {
            int p = static_cast<int>(symbols.size());
            symbols.push_back(r->sym);
            follow.emplace_back();
            budget.spend(1);
            return {false, {p}, {p}};
        }
        case Re::kAlt: {
            Info out{false, {}, {}};
            for (R c : r->kids) {
                Info i = walk(c);
                out.nullable = out.nullable || i.nullable;
                out.first.insert(i.first.begin(), i.first.end());
                out.last.insert(i.last.begin(), i.last.end());
            }
            return out;
        }
        case Re::kSeq: {
            Info out{true, {}, {}};
            for (R c : r->kids) {
                Info i = walk(c);
                follows(out.last, i.first);
                if (out.nullable) out.first.insert(i.first.begin(), i.first.end());
                if (i.nullable)
                    out.last.insert(i.last.begin(), i.last.end());
                else
                    out.last = std::move(i.last);
                out.nullable = out.nullable && i.nullable;
            }
            return out;
        }
        case Re::kStar:
        case Re::kPlus:
        case Re::kOpt: {
            Info i = walk(r->kids[0]);
            if (r->kind != Re::kOpt) follows(i.last, i.first);
            if (r->kind != Re::kPlus) i.nullable = true;
            return i;
        }
        }
        return {true, {}, {}};
    }

    // Whether the positions `ps` (sorted) hold no symbol twice.
    bool distinct(const std::vector<int>& ps) const {
        std::vector<int> s;
        for (int p : ps) s.push_back(symbols[p]);
        std::sort(s.begin(), s.end());
        return std::adjacent_find(s.begin(), s.end()) == s.end();
    }
};

using Subset = std::vector<int>;  // sorted state numbers

void close(const Nfa& n, Subset& s) {
    if (!n.has_eps) return;
    std::vector<int> work(s.begin(), s.end());
    std::set<int> all(s.begin(), s.end());
    while (!work.empty()) {
        int q = work.back();
        work.pop_back();
        for (int e : n.states[q].eps)
            if (all.insert(e).second) work.push_back(e);
    }
    s.assign(all.begin(), all.end());
}

void step(const Nfa& n, const Subset& s, int symbol, Subset& out) {
    out.clear();
    for (int q : s) {
        const auto& next = n.states[q].next;
        auto at = std::lower_bound(next.begin(), next.end(), std::make_pair(symbol, INT_MIN));
        for (; at != next.end() && at->first == symbol; ++at) out.push_back(at->second);
    }
    if (out.size() > 1) {
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    }
    close(n, out);
}

bool accepts(const Nfa& n, const Subset& s) {
    return std::any_of(s.begin(), s.end(), [&](int q) { return n.states[q].accepting; });
}

// Numbers for the subsets met, so that a pair of them is one word.
class Subsets {
public:
    uint64_t id(const Subset& s) {
        auto found = ids_.find(s);
        if (found != ids_.end()) return found->second;
        subsets_.push_back(s);
        return ids_.emplace(s, subsets_.size() - 1).first->second;
    }
    const Subset& operator[](uint64_t id) const { return subsets_[id]; }

private:
    struct Hash {
        size_t operator()(const Subset& s) const {
            size_t h = s.size();
            for (int q : s) h = (h ^ static_cast<size_t>(q)) * 0x100000001B3ull;
            return h;
        }
    };
    std::unordered_map<Subset, uint64_t, Hash> ids_;
    std::deque<Subset> subsets_;
};

}  // namespace

Nfa glushkov(R r, bool& deterministic, WorkBudget& budget) {
    Glushkov gl{budget, {}, {}};
    Glushkov::Info top = gl.walk(r);
    for (auto& f : gl.follow) {
        std::sort(f.begin(), f.end());
        f.erase(std::unique(f.begin(), f.end()), f.end());
    }
    deterministic = gl.distinct(std::vector<int>(top.first.begin(), top.first.end()));
    for (const auto& f : gl.follow) deterministic = deterministic && gl.distinct(f);
    Nfa n;
    n.states.resize(gl.symbols.size() + 1);
    n.states[0].accepting = top.nullable;
    for (int p : top.first) n.states[0].next.emplace_back(gl.symbols[p], p + 1);
    for (size_t p = 0; p < gl.symbols.size(); ++p) {
        budget.spend(1 + gl.follow[p].size());
        n.states[p + 1].accepting = top.last.count(static_cast<int>(p)) > 0;
        for (int q : gl.follow[p]) n.states[p + 1].next.emplace_back(gl.symbols[q], q + 1);
    }
    for (auto& st : n.states) std::sort(st.next.begin(), st.next.end());
    return n;
}

namespace {

// Walks `a` and `b` together over the contents a document can hold: with
// `both`, over what either can read, and finds a content one accepts and
// the other does not (kNo: they differ); otherwise over what `a` can read,
// and finds a content `a` accepts and `b` does not (kNo: not included).
Inclusion compare(const Nfa& a, const Nfa& b, bool both, WorkBudget& budget) {
    Subsets as, bs;
    std::unordered_set<uint64_t> seen;  // (a's subset, b's subset, after text)
    std::vector<uint64_t> work;
    auto visit = [&](uint64_t ia, uint64_t ib, bool after_text) {
        uint64_t key = ia << 33 | ib << 1 | (after_text ? 1 : 0);
        if (seen.insert(key).second) work.push_back(key);
    };
    Subset na{0}, nb{0};
    close(a, na);
    close(b, nb);
    visit(as.id(na), bs.id(nb), false);
    std::vector<int> symbols;
    while (!work.empty()) {
        uint64_t key = work.back();
        work.pop_back();
        const Subset& sa = as[key >> 33];
        const Subset& sb = bs[(key >> 1) & 0xFFFFFFFFu];
        const bool after_text = key & 1;
        if (both ? accepts(a, sa) != accepts(b, sb) : accepts(a, sa) && !accepts(b, sb)) return Inclusion::kNo;
        // Only what is read from here leads anywhere.
        symbols.clear();
        for (int q : sa)
            for (const auto& [symbol, to] : a.states[q].next) symbols.push_back(symbol);
        if (both)
            for (int q : sb)
                for (const auto& [symbol, to] : b.states[q].next) symbols.push_back(symbol);
        std::sort(symbols.begin(), symbols.end());
        symbols.erase(std::unique(symbols.begin(), symbols.end()), symbols.end());
        if (!budget.spend(1 + sa.size() + sb.size() + symbols.size() * (sa.size() + sb.size())))
            return Inclusion::kUnknown;
        for (int symbol : symbols) {
            if (symbol == kTextSymbol && after_text) continue;
            step(a, sa, symbol, na);
            step(b, sb, symbol, nb);
            if (na.empty() && (!both || nb.empty())) continue;
            visit(as.id(na), bs.id(nb), symbol == kTextSymbol);
        }
    }
    return Inclusion::kYes;
}

}  // namespace

Inclusion inclusion(const Nfa& a, const Nfa& b, WorkBudget& budget) { return compare(a, b, false, budget); }

bool same_language(R r, const Nfa& exact, WorkBudget& budget, bool* deterministic) {
    if (!r || r->depth > kMaxDepth) return false;
    bool d = false;
    Nfa n = glushkov(r, d, budget);
    if (deterministic) *deterministic = d;
    return !budget.out() && compare(n, exact, true, budget) == Inclusion::kYes;
}

std::set<int> symbols(const ContentAutomaton& a, bool with_text) {
    std::set<int> out;
    for (const auto& s : a.states)
        for (auto [symbol, to] : s.next)
            if (with_text || symbol != kTextSymbol) out.insert(symbol);
    return out;
}

bool trim(ContentAutomaton& a) {
    const size_t n = a.states.size();
    std::vector<std::vector<int>> into(n);
    for (size_t s = 0; s < n; ++s)
        for (auto [symbol, to] : a.states[s].next) into[to].push_back(static_cast<int>(s));
    std::vector<bool> live(n, false);
    std::vector<int> work;
    for (size_t s = 0; s < n; ++s)
        if (a.states[s].accepting) live[s] = true, work.push_back(static_cast<int>(s));
    while (!work.empty()) {
        int s = work.back();
        work.pop_back();
        for (int from : into[s])
            if (!live[from]) live[from] = true, work.push_back(from);
    }
    if (n == 0 || !live[0]) {
        a.states.assign(1, {});
        return false;
    }
    if (std::all_of(live.begin(), live.end(), [](bool l) { return l; })) return true;
    std::vector<int> number(n, -1);
    int kept = 0;
    for (size_t s = 0; s < n; ++s)
        if (live[s]) number[s] = kept++;
    ContentAutomaton out;
    for (size_t s = 0; s < n; ++s) {
        if (!live[s]) continue;
        ContentAutomaton::State st;
        st.accepting = a.states[s].accepting;
        for (auto [symbol, to] : a.states[s].next)
            if (live[to]) st.next.emplace_back(symbol, number[to]);
        out.states.push_back(std::move(st));
    }
    a = std::move(out);
    return true;
}

}  // namespace tarvo
