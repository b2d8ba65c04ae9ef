// Export of a grammar as a RELAX NG schema or a DTD.
//
// Each element's content is a deterministic automaton (grammar_model.h). It
// is turned into a regular expression by eliminating states; every
// expression written out is then checked against the automaton it came
// from, so a schema is never looser than tarvo without saying so:
//  - RELAX NG has no determinism rule, so the expression is always the
//    automaton's language; only text cannot be made mandatory there (a
//    `text` pattern also matches nothing), which the check finds.
//  - A DTD model must be deterministic and allows text only as
//    (#PCDATA|a|b)*; where no deterministic expression for the automaton is
//    found, the closest one that accepts more is written and marked.
#include <algorithm>
#include <functional>
#include <cctype>
#include <map>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "export/grammar_model.h"
#include "tarvo/grammar.h"

namespace tarvo {

namespace {

// ---- regular expressions over element indices and kTextSymbol ----

struct Re;
using R = std::shared_ptr<const Re>;  // nullptr: the empty language

struct Re {
    enum Kind { kEps, kSym, kSeq, kAlt, kStar, kPlus, kOpt } kind;
    int sym = 0;
    std::vector<R> kids;
    std::string key;  // canonical text, for equality
};

R make(Re::Kind k, int sym, std::vector<R> kids) {
    auto r = std::make_shared<Re>();
    r->kind = k;
    r->sym = sym;
    r->kids = std::move(kids);
    static const char* const tag[] = {"e", "s", "q", "a", "*", "+", "?"};
    r->key = std::string(tag[k]) + (k == Re::kSym ? std::to_string(sym) : "");
    if (!r->kids.empty()) {
        r->key += "(";
        for (const R& c : r->kids) r->key += c->key + ",";
        r->key += ")";
    }
    return r;
}

R eps() { return make(Re::kEps, 0, {}); }
R sym(int s) { return make(Re::kSym, s, {}); }

bool nullable(const R& r) {
    switch (r->kind) {
    case Re::kEps:
    case Re::kStar:
    case Re::kOpt: return true;
    case Re::kSym: return false;
    case Re::kPlus: return nullable(r->kids[0]);
    case Re::kSeq:
        return std::all_of(r->kids.begin(), r->kids.end(), [](const R& c) { return nullable(c); });
    case Re::kAlt:
        return std::any_of(r->kids.begin(), r->kids.end(), [](const R& c) { return nullable(c); });
    }
    return false;
}

R star(const R& a) {
    if (!a || a->kind == Re::kEps) return eps();
    if (a->kind == Re::kStar) return a;
    if (a->kind == Re::kOpt || a->kind == Re::kPlus) return star(a->kids[0]);
    return make(Re::kStar, 0, {a});
}

R opt(const R& a) {
    if (!a) return eps();
    if (nullable(a)) return a;
    if (a->kind == Re::kPlus) return star(a->kids[0]);
    return make(Re::kOpt, 0, {a});
}

R seq(const R& a, const R& b) {
    if (!a || !b) return nullptr;
    if (a->kind == Re::kEps) return b;
    if (b->kind == Re::kEps) return a;
    std::vector<R> kids;
    for (const R& x : {a, b}) {
        if (x->kind == Re::kSeq)
            kids.insert(kids.end(), x->kids.begin(), x->kids.end());
        else
            kids.push_back(x);
    }
    // x, x* and x*, x are x+
    std::vector<R> out;
    for (const R& k : kids) {
        if (!out.empty() && k->kind == Re::kStar && k->kids[0]->key == out.back()->key) {
            out.back() = make(Re::kPlus, 0, {k->kids[0]});
        } else if (!out.empty() && out.back()->kind == Re::kStar && out.back()->kids[0]->key == k->key) {
            out.back() = make(Re::kPlus, 0, {k});
        } else {
            out.push_back(k);
        }
    }
    return out.size() == 1 ? out[0] : make(Re::kSeq, 0, std::move(out));
}

R alt(const R& a, const R& b) {
    if (!a) return b;
    if (!b) return a;
    std::vector<R> kids;
    bool empty = false;
    auto add = [&](const R& x) {
        if (x->kind == Re::kEps) {
            empty = true;
            return;
        }
        const R& y = x->kind == Re::kOpt ? x->kids[0] : x;
        empty = empty || x->kind == Re::kOpt;
        for (const R& k : kids)
            if (k->key == y->key) return;
        kids.push_back(y);
    };
    for (const R& x : {a, b}) {
        if (x->kind == Re::kAlt)
            for (const R& k : x->kids) add(k);
        else
            add(x);
    }
    if (kids.empty()) return eps();
    // x | y, x is y?, x; and x, y | x is x, y?: keeps models short and
    // removes a choice a DTD could not make with one symbol of look-ahead.
    for (size_t i = 0; i < kids.size() && kids.size() > 1; ++i) {
        for (size_t j = 0; j < kids.size(); ++j) {
            const R& s = kids[j];
            if (i == j || s->kind != Re::kSeq) continue;
            const std::string& k = kids[i]->key;
            R merged;
            if (s->kids.back()->key == k) {
                std::vector<R> head(s->kids.begin(), s->kids.end() - 1);
                merged = seq(opt(head.size() == 1 ? head[0] : make(Re::kSeq, 0, head)), kids[i]);
            } else if (s->kids.front()->key == k) {
                std::vector<R> tail(s->kids.begin() + 1, s->kids.end());
                merged = seq(kids[i], opt(tail.size() == 1 ? tail[0] : make(Re::kSeq, 0, tail)));
            }
            if (!merged) continue;
            std::vector<R> rest;
            for (size_t m = 0; m < kids.size(); ++m)
                if (m != i && m != j) rest.push_back(kids[m]);
            R r = merged;
            for (const R& x : rest) r = alt(r, x);
            return empty ? opt(r) : r;
        }
    }
    R r = kids.size() == 1 ? kids[0] : make(Re::kAlt, 0, std::move(kids));
    return empty ? opt(r) : r;
}

// ---- automata: content automata, and NFAs made from expressions ----

struct Nfa {
    struct State {
        std::map<int, std::vector<int>> next;
        std::vector<int> eps;
        bool accepting = false;
    };
    std::vector<State> states;  // state 0 starts
};

Nfa from_automaton(const ContentAutomaton& a) {
    Nfa n;
    for (const auto& s : a.states) {
        Nfa::State ns;
        ns.accepting = s.accepting;
        for (auto [symbol, to] : s.next) ns.next[symbol].push_back(to);
        n.states.push_back(std::move(ns));
    }
    return n;
}

// What a RELAX NG validator accepts for an expression written from `a`:
// a `text` pattern also matches nothing, so every text step may be skipped.
Nfa text_optional(const ContentAutomaton& a) {
    Nfa n = from_automaton(a);
    for (size_t s = 0; s < a.states.size(); ++s) {
        auto it = a.states[s].next.find(kTextSymbol);
        if (it != a.states[s].next.end()) n.states[s].eps.push_back(it->second);
    }
    return n;
}

// Glushkov automaton of an expression: one state per symbol occurrence.
struct Glushkov {
    std::vector<int> symbols;  // of each position
    std::vector<std::set<int>> follow;

    struct Info {
        bool nullable;
        std::set<int> first, last;
    };

    Info walk(const R& r) {
        switch (r->kind) {
        case Re::kEps: return {true, {}, {}};
        case Re::kSym: {
            int p = static_cast<int>(symbols.size());
            symbols.push_back(r->sym);
            follow.emplace_back();
            return {false, {p}, {p}};
        }
        case Re::kAlt: {
            Info out{false, {}, {}};
            for (const R& c : r->kids) {
                Info i = walk(c);
                out.nullable = out.nullable || i.nullable;
                out.first.insert(i.first.begin(), i.first.end());
                out.last.insert(i.last.begin(), i.last.end());
            }
            return out;
        }
        case Re::kSeq: {
            Info out{true, {}, {}};
            for (const R& c : r->kids) {
                Info i = walk(c);
                for (int l : out.last) follow[l].insert(i.first.begin(), i.first.end());
                if (out.nullable) out.first.insert(i.first.begin(), i.first.end());
                if (i.nullable)
                    out.last.insert(i.last.begin(), i.last.end());
                else
                    out.last = i.last;
                out.nullable = out.nullable && i.nullable;
            }
            return out;
        }
        case Re::kStar:
        case Re::kPlus:
        case Re::kOpt: {
            Info i = walk(r->kids[0]);
            if (r->kind != Re::kOpt)
                for (int l : i.last) follow[l].insert(i.first.begin(), i.first.end());
            if (r->kind != Re::kPlus) i.nullable = true;
            return i;
        }
        }
        return {true, {}, {}};
    }

    static bool distinct(const std::set<int>& ps, const std::vector<int>& symbols) {
        std::set<int> seen;
        for (int p : ps)
            if (!seen.insert(symbols[p]).second) return false;
        return true;
    }

    // Builds the automaton; `deterministic` tells whether the expression is
    // (no two positions with one symbol ever compete).
    Nfa build(const R& r, bool& deterministic) {
        Info top = walk(r);
        deterministic = distinct(top.first, symbols);
        for (const auto& f : follow) deterministic = deterministic && distinct(f, symbols);
        Nfa n;
        n.states.resize(symbols.size() + 1);
        n.states[0].accepting = top.nullable;
        for (int p : top.first) n.states[0].next[symbols[p]].push_back(p + 1);
        for (size_t p = 0; p < symbols.size(); ++p) {
            n.states[p + 1].accepting = top.last.count(static_cast<int>(p)) > 0;
            for (int q : follow[p]) n.states[p + 1].next[symbols[q]].push_back(q + 1);
        }
        return n;
    }
};

std::set<int> closure(const Nfa& n, std::set<int> s) {
    std::vector<int> work(s.begin(), s.end());
    while (!work.empty()) {
        int q = work.back();
        work.pop_back();
        for (int e : n.states[q].eps)
            if (s.insert(e).second) work.push_back(e);
    }
    return s;
}

// Work limits: content models of real grammars stay far below them; a
// grammar file built to be pathological gets a model that is written loose
// and reported, never a hang.
constexpr size_t kMaxStates = 400;           // positions inside one element
constexpr size_t kMaxCompared = 200000;      // state pairs visited by one comparison
constexpr size_t kMaxExpression = 1u << 16;  // characters in an expression's canonical text
constexpr size_t kMaxEliminated = 40;        // states for the fallback by state elimination

enum class Inclusion { kYes, kNo, kUnknown };

// Whether every content `a` accepts is accepted by `b`. Contents are what a
// document can hold: two runs of text never stand next to each other.
Inclusion inclusion(const Nfa& a, const Nfa& b) {
    std::set<int> symbols;
    for (const Nfa* n : {&a, &b})
        for (const auto& s : n->states)
            for (const auto& [symbol, to] : s.next) symbols.insert(symbol);
    auto accepts = [](const Nfa& n, const std::set<int>& s) {
        return std::any_of(s.begin(), s.end(), [&](int q) { return n.states[q].accepting; });
    };
    auto step = [](const Nfa& n, const std::set<int>& s, int symbol) {
        std::set<int> out;
        for (int q : s) {
            auto it = n.states[q].next.find(symbol);
            if (it != n.states[q].next.end()) out.insert(it->second.begin(), it->second.end());
        }
        return closure(n, out);
    };
    using Key = std::tuple<std::set<int>, std::set<int>, bool>;
    std::set<Key> seen;
    std::vector<Key> work{{closure(a, {0}), closure(b, {0}), false}};
    seen.insert(work[0]);
    while (!work.empty()) {
        auto [sa, sb, after_text] = work.back();
        work.pop_back();
        if (accepts(a, sa) && !accepts(b, sb)) return Inclusion::kNo;
        if (seen.size() > kMaxCompared) return Inclusion::kUnknown;
        for (int symbol : symbols) {
            if (symbol == kTextSymbol && after_text) continue;
            std::set<int> na = step(a, sa, symbol);
            if (na.empty()) continue;
            Key k{na, step(b, sb, symbol), symbol == kTextSymbol};
            if (seen.insert(k).second) work.push_back(k);
        }
    }
    return Inclusion::kYes;
}

bool included(const Nfa& a, const Nfa& b) { return inclusion(a, b) == Inclusion::kYes; }

// ---- from automaton to expression ----

// State elimination over a generalised automaton whose edges carry
// expressions; `order` ranks the states, lowest eliminated first.
R eliminate(const ContentAutomaton& a, const std::vector<int>& order) {
    const int n = static_cast<int>(a.states.size());
    const int start = n, final = n + 1;
    std::vector<std::vector<R>> e(n + 2, std::vector<R>(n + 2));
    e[start][0] = eps();
    for (int s = 0; s < n; ++s) {
        if (a.states[s].accepting) e[s][final] = eps();
        for (auto [symbol, to] : a.states[s].next) e[s][to] = alt(e[s][to], sym(symbol));
    }
    std::vector<bool> gone(n + 2, false);
    for (int k : order) {
        R loop = star(e[k][k]);
        for (int i = 0; i < n + 2; ++i) {
            if (gone[i] || i == k || !e[i][k]) continue;
            for (int j = 0; j < n + 2; ++j) {
                if (gone[j] || j == k || !e[k][j]) continue;
                e[i][j] = alt(e[i][j], seq(e[i][k], seq(loop, e[k][j])));
                if (e[i][j]->key.size() > kMaxExpression) return nullptr;
            }
        }
        gone[k] = true;
    }
    return e[start][final];
}

// Reduction of the automaton read as a graph whose nodes are positions,
// each labelled with its expression: series (x then y, nothing else between),
// parallel (x and y with the same neighbours), optional (x may be skipped
// from every predecessor to every successor) and loops (a strongly connected
// part every one of whose exits leads back to every one of its entries).
// Content models written as regular expressions in the first place reduce
// to one node; the result is checked against the automaton all the same.
class Reducer {
public:
    struct Node {
        R label;
        std::set<int> pred, succ;
        bool alive = true;
    };

    // Nodes 0 (start) and 1 (final) carry no label.
    explicit Reducer(std::vector<Node> nodes) : n_(std::move(nodes)) {}

    static R run(const ContentAutomaton& a) {
        if (a.states.size() > kMaxStates) return nullptr;
        const int count = static_cast<int>(a.states.size());
        std::vector<Node> nodes(count + 1);
        auto id = [&](int state) { return state == 0 ? 0 : state + 1; };  // 1 is the final node
        for (int s = 0; s < count; ++s) {
            for (auto [symbol, to] : a.states[s].next) {
                nodes[id(to)].label = sym(symbol);
                link(nodes, id(s), id(to));
            }
            if (a.states[s].accepting) link(nodes, id(s), 1);
        }
        Reducer r(std::move(nodes));
        return r.reduce();
    }

    R reduce() {
        if (!collapse_loops()) return nullptr;
        for (bool changed = true; changed;) changed = series() || parallel() || optional();
        std::vector<int> rest;
        for (int i = 2; i < static_cast<int>(n_.size()); ++i)
            if (n_[i].alive) rest.push_back(i);
        if (rest.empty()) return n_[0].succ.count(1) ? eps() : nullptr;
        if (rest.size() != 1) return nullptr;
        const Node& x = n_[rest[0]];
        if (x.pred != std::set<int>{0} || x.succ != std::set<int>{1}) return nullptr;
        return n_[0].succ.count(1) ? opt(x.label) : x.label;
    }

private:
    static void link(std::vector<Node>& n, int a, int b) {
        n[a].succ.insert(b);
        n[b].pred.insert(a);
    }
    void unlink(int a, int b) {
        n_[a].succ.erase(b);
        n_[b].pred.erase(a);
    }
    bool inner(int i) const { return i >= 2 && n_[i].alive; }

    bool series() {
        for (int x = 2; x < static_cast<int>(n_.size()); ++x) {
            if (!inner(x) || n_[x].succ.size() != 1) continue;
            int y = *n_[x].succ.begin();
            if (!inner(y) || y == x || n_[y].pred.size() != 1) continue;
            n_[x].label = seq(n_[x].label, n_[y].label);
            unlink(x, y);
            for (int s : std::set<int>(n_[y].succ)) {
                unlink(y, s);
                link(n_, x, s);
            }
            n_[y].alive = false;
            return true;
        }
        return false;
    }

    bool parallel() {
        for (int x = 2; x < static_cast<int>(n_.size()); ++x) {
            if (!inner(x)) continue;
            for (int y = x + 1; y < static_cast<int>(n_.size()); ++y) {
                if (!inner(y) || n_[x].pred != n_[y].pred || n_[x].succ != n_[y].succ) continue;
                if (n_[x].succ.count(x) || n_[y].succ.count(y)) continue;
                n_[x].label = alt(n_[x].label, n_[y].label);
                for (int p : std::set<int>(n_[y].pred)) unlink(p, y);
                for (int s : std::set<int>(n_[y].succ)) unlink(y, s);
                n_[y].alive = false;
                return true;
            }
        }
        return false;
    }

    bool optional() {
        for (int x = 2; x < static_cast<int>(n_.size()); ++x) {
            if (!inner(x) || n_[x].pred.empty() || n_[x].succ.empty()) continue;
            bool all = true;
            for (int p : n_[x].pred)
                for (int s : n_[x].succ) all = all && p != x && s != x && n_[p].succ.count(s);
            if (!all) continue;
            for (int p : n_[x].pred)
                for (int s : n_[x].succ) unlink(p, s);
            n_[x].label = opt(n_[x].label);
            return true;
        }
        return false;
    }

    // Strongly connected parts of the inner nodes, Tarjan's algorithm.
    std::vector<std::vector<int>> components() {
        std::vector<int> index(n_.size(), -1), low(n_.size(), 0), stack;
        std::vector<bool> on(n_.size(), false);
        std::vector<std::vector<int>> out;
        int counter = 0;
        std::function<void(int)> visit = [&](int v) {
            index[v] = low[v] = counter++;
            stack.push_back(v);
            on[v] = true;
            for (int w : n_[v].succ) {
                if (!inner(w)) continue;
                if (index[w] < 0) {
                    visit(w);
                    low[v] = std::min(low[v], low[w]);
                } else if (on[w]) {
                    low[v] = std::min(low[v], index[w]);
                }
            }
            if (low[v] == index[v]) {
                std::vector<int> c;
                for (int w = -1; w != v;) {
                    w = stack.back();
                    stack.pop_back();
                    on[w] = false;
                    c.push_back(w);
                }
                out.push_back(std::move(c));
            }
        };
        for (int v = 2; v < static_cast<int>(n_.size()); ++v)
            if (inner(v) && index[v] < 0) visit(v);
        return out;
    }

    bool collapse_loops() {
        for (const std::vector<int>& c : components()) {
            std::set<int> part(c.begin(), c.end());
            if (c.size() == 1 && !n_[c[0]].succ.count(c[0])) continue;
            std::set<int> ins, outs, preds, succs;
            for (int x : part) {
                for (int p : n_[x].pred)
                    if (!part.count(p)) ins.insert(x), preds.insert(p);
                for (int s : n_[x].succ)
                    if (!part.count(s)) outs.insert(x), succs.insert(s);
            }
            // Every exit must lead back to every entry, and the loop must be
            // entered and left the same way wherever it is.
            for (int o : outs)
                for (int i : ins)
                    if (!n_[o].succ.count(i)) return false;
            for (int p : preds)
                for (int i : ins)
                    if (!n_[p].succ.count(i)) return false;
            for (int o : outs)
                for (int s : succs)
                    if (!n_[o].succ.count(s)) return false;
            // One pass through the loop, as a graph of its own.
            std::vector<int> map(n_.size(), -1);
            std::vector<Node> sub(2);
            for (int x : part) {
                map[x] = static_cast<int>(sub.size());
                sub.push_back({n_[x].label, {}, {}, true});
            }
            for (int x : part) {
                for (int s : n_[x].succ)
                    if (part.count(s) && !(outs.count(x) && ins.count(s))) link(sub, map[x], map[s]);
                if (ins.count(x)) link(sub, 0, map[x]);
                if (outs.count(x)) link(sub, map[x], 1);
            }
            R body = Reducer(std::move(sub)).reduce();
            if (!body) return false;
            int keep = c[0];
            for (int x : part) {
                for (int p : std::set<int>(n_[x].pred)) unlink(p, x);
                for (int s : std::set<int>(n_[x].succ)) unlink(x, s);
                if (x != keep) n_[x].alive = false;
            }
            n_[keep].label = make(Re::kPlus, 0, {body});
            if (body->kind == Re::kStar || body->kind == Re::kPlus) n_[keep].label = body;
            if (nullable(body)) n_[keep].label = star(body);
            for (int p : preds) link(n_, p, keep);
            for (int s : succs) link(n_, keep, s);
        }
        return true;
    }

    std::vector<Node> n_;
};

// Fewest edges through a state first keeps expressions small.
std::vector<int> by_degree(const ContentAutomaton& a) {
    const int n = static_cast<int>(a.states.size());
    std::vector<int> degree(n, 0), order(n);
    for (int s = 0; s < n; ++s)
        for (auto [symbol, to] : a.states[s].next)
            if (to != s) ++degree[s], ++degree[to];
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return degree[x] < degree[y]; });
    return order;
}

std::vector<R> candidates(const ContentAutomaton& a) {
    const int n = static_cast<int>(a.states.size());
    std::vector<std::vector<int>> orders;
    std::vector<int> forward(n);
    std::iota(forward.begin(), forward.end(), 0);
    orders.push_back(std::vector<int>(forward.rbegin(), forward.rend()));
    orders.push_back(forward);
    orders.push_back(by_degree(a));
    std::vector<R> out;
    std::set<std::string> seen;
    if (R r = Reducer::run(a)) {
        seen.insert(r->key);
        out.push_back(r);
    }
    if (a.states.size() > 12) return out;  // elimination grows too fast to try
    for (const auto& o : orders) {
        R r = eliminate(a, o);
        if (!r) r = eps();  // no way to close: cannot happen with a well-formed table
        if (seen.insert(r->key).second) out.push_back(r);
    }
    return out;
}

bool same_language(const R& r, const Nfa& exact, bool* deterministic = nullptr) {
    Glushkov gl;
    bool d = false;
    Nfa n = gl.build(r, d);
    if (deterministic) *deterministic = d;
    return included(n, exact) && included(exact, n);
}

// Any one of the symbols the automaton reads (the empty language when none).
R any_symbol(const ContentAutomaton& a) {
    std::set<int> symbols;
    for (const auto& st : a.states)
        for (auto [symbol, to] : st.next) symbols.insert(symbol);
    R out;
    for (int symbol : symbols) out = alt(out, sym(symbol));
    return out;
}

bool has_text(const ContentAutomaton& a) {
    for (const auto& s : a.states)
        if (s.next.count(kTextSymbol)) return true;
    return false;
}

std::set<int> element_symbols(const ContentAutomaton& a) {
    std::set<int> out;
    for (const auto& s : a.states)
        for (auto [symbol, to] : s.next)
            if (symbol != kTextSymbol) out.insert(symbol);
    return out;
}

// ---- writing ----

std::string xml_escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// A comment may not hold "--".
std::string comment(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '-' && !out.empty() && out.back() == '-') out += ' ';
        out += c;
    }
    return "<!-- " + out + " -->";
}

std::string define_name(const GrammarInfo& g, int e) {
    std::string n = g.elements[e].name;
    std::replace(n.begin(), n.end(), ':', '.');
    return "el." + n;
}

void rng_pattern(const GrammarInfo& g, const R& r, const std::string& indent, std::string& out) {
    static const char* const names[] = {"empty", "", "group", "choice", "zeroOrMore", "oneOrMore", "optional"};
    if (r->kind == Re::kEps) {
        out += indent + "<empty/>\n";
    } else if (r->kind == Re::kSym) {
        out += indent +
               (r->sym == kTextSymbol ? std::string("<text/>") : "<ref name=\"" + define_name(g, r->sym) + "\"/>") +
               "\n";
    } else {
        out += indent + "<" + names[r->kind] + ">\n";
        for (const R& c : r->kids) rng_pattern(g, c, indent + "  ", out);
        out += indent + "</" + names[r->kind] + ">\n";
    }
}

bool is_nmtoken(std::string_view s) {
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (!(std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == ':' || c >= 0x80)) return false;
    return true;
}

std::string dtd_model(const GrammarInfo& g, const R& r, bool top) {
    auto wrap = [&](const R& k) {
        std::string s = dtd_model(g, k, false);
        return k->kind == Re::kSym || s.front() == '(' ? s : "(" + s + ")";
    };
    std::string s;
    switch (r->kind) {
    case Re::kEps: return "EMPTY";
    case Re::kSym: s = g.elements[r->sym].name; break;
    case Re::kSeq:
    case Re::kAlt:
        s = "(";
        for (size_t i = 0; i < r->kids.size(); ++i)
            s += (i ? (r->kind == Re::kSeq ? ", " : " | ") : "") + dtd_model(g, r->kids[i], false);
        return s + ")";
    case Re::kStar: s = wrap(r->kids[0]) + "*"; break;
    case Re::kPlus: s = wrap(r->kids[0]) + "+"; break;
    case Re::kOpt: s = wrap(r->kids[0]) + "?"; break;
    }
    return top ? "(" + s + ")" : s;
}

}  // namespace

Export export_rng(const GrammarInfo& g) {
    Export x;
    std::string& out = x.text;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += comment("RELAX NG schema of the tarvo grammar '" + g.name + "', written by tarvo export") + "\n";
    out += "<grammar xmlns=\"http://relaxng.org/ns/structure/1.0\"\n"
           "         xmlns:a=\"http://relaxng.org/ns/compatibility/annotations/1.0\">\n";
    // Any declared element may head a document.
    out += "  <start>\n    <choice>\n";
    for (size_t e = 0; e < g.elements.size(); ++e)
        out += "      <ref name=\"" + define_name(g, static_cast<int>(e)) + "\"/>\n";
    out += "    </choice>\n  </start>\n";
    for (size_t ei = 0; ei < g.elements.size(); ++ei) {
        const int e = static_cast<int>(ei);
        const ElementInfo& el = g.elements[e];
        ContentAutomaton a;
        content_model(g, e, &a);
        out += "  <define name=\"" + define_name(g, e) + "\">\n    <element name=\"" + xml_escape(el.name) + "\">\n";
        // Attributes are unordered either way; an interleave lets a
        // validator match each by name instead of trying them in turn,
        // which keeps refusals fast on elements with many optional ones.
        const bool interleave = el.attributes.size() > 1;
        const std::string base = interleave ? "        " : "      ";
        if (interleave) out += "      <interleave>\n";
        for (const AttributeInfo& at : el.attributes) {
            std::string ind = at.required ? base : base + "  ";
            if (!at.required) out += base + "<optional>\n";
            bool annotate = !at.required && (at.values.empty() || std::count(at.values.begin(), at.values.end(),
                                                                            at.default_value));
            if (!at.required && !annotate)
                out += ind + comment("a missing " + at.name + " is supplied as \"" + at.default_value +
                                     "\", a value that may not be written") +
                       "\n";
            out += ind + "<attribute name=\"" + xml_escape(at.name) + "\"" +
                   (annotate ? " a:defaultValue=\"" + xml_escape(at.default_value) + "\"" : "") + ">\n";
            if (at.values.empty()) {
                out += ind + "  <text/>\n";
            } else {
                out += ind + "  <choice>\n";
                for (const std::string& v : at.values)
                    out += ind + "    <value type=\"string\">" + xml_escape(v) + "</value>\n";
                out += ind + "  </choice>\n";
            }
            out += ind + "</attribute>\n";
            if (!at.required) out += base + "</optional>\n";
        }
        if (interleave) out += "      </interleave>\n";
        // Elimination gives the language itself; a reduced form is shorter
        // to read, and taken when it is the same.
        R r;
        for (const R& c : candidates(a))
            if (same_language(c, from_automaton(a))) {
                r = c;
                break;
            }
        if (!r && a.states.size() <= kMaxEliminated) r = eliminate(a, by_degree(a));
        std::string why;
        if (!r) {
            // Too large to write exactly: its children and text in any order.
            r = star(any_symbol(a));
            why = "the content model is too large to write out; its children may stand in any order and number";
        } else if (!included(text_optional(a), from_automaton(a))) {
            why = "text that must stand at some place here may be left out";
        }
        if (!why.empty()) {
            out += "      " + comment("loosened: " + why) + "\n";
            x.loosened.push_back("element " + el.name + ": " + why);
        }
        rng_pattern(g, r, "      ", out);
        out += "    </element>\n  </define>\n";
    }
    out += "</grammar>\n";
    return x;
}

Export export_dtd(const GrammarInfo& g) {
    Export x;
    std::string& out = x.text;
    out += comment("DTD of the tarvo grammar '" + g.name + "', written by tarvo export. Documents begin <!DOCTYPE " +
                   (g.roots.empty() ? std::string("ROOT") : g.roots[0]) + " SYSTEM \"" + g.system_name + "\">") +
           "\n";
    for (size_t ei = 0; ei < g.elements.size(); ++ei) {
        const int e = static_cast<int>(ei);
        const ElementInfo& el = g.elements[e];
        ContentAutomaton a;
        content_model(g, e, &a);
        Nfa exact = from_automaton(a);
        std::string model, why;
        std::set<int> children = element_symbols(a);
        if (has_text(a)) {
            // Text may only be allowed as (#PCDATA | a | b)*, in any order.
            model = "(#PCDATA";
            for (int c : children) model += " | " + g.elements[c].name;
            model += children.empty() ? ")" : ")*";
            ContentAutomaton any;
            any.states.emplace_back();
            any.states[0].accepting = true;
            any.states[0].next[kTextSymbol] = 0;
            for (int c : children) any.states[0].next[c] = 0;
            if (!included(from_automaton(any), exact))
                why = "text and child elements may stand in any order and number";
        } else {
            bool found = false;
            for (const R& r : candidates(a)) {
                bool deterministic = false;
                if (same_language(r, exact, &deterministic) && deterministic) {
                    model = dtd_model(g, r, true);
                    found = true;
                    break;
                }
            }
            if (!found) {
                // Nearest deterministic form that holds everything: the
                // children in any order, at least one when content is required.
                R any;
                for (int c : children) any = alt(any, sym(c));
                model = dtd_model(g, a.states[0].accepting ? star(any) : make(Re::kPlus, 0, {any}), true);
                why = "no deterministic model says the order exactly; the children may stand in any order and number";
            }
        }
        if (!why.empty()) {
            out += comment("loosened: " + why) + "\n";
            x.loosened.push_back("element " + el.name + ": " + why);
        }
        out += "<!ELEMENT " + el.name + " " + model + ">\n";
        if (el.attributes.empty()) continue;
        std::string notes;
        out += "<!ATTLIST " + el.name;
        for (const AttributeInfo& at : el.attributes) {
            bool enumerable = !at.values.empty() &&
                              std::all_of(at.values.begin(), at.values.end(), [](const std::string& v) { return is_nmtoken(v); });
            std::string type = "CDATA";
            if (enumerable) {
                type = "(";
                for (size_t v = 0; v < at.values.size(); ++v) type += (v ? " | " : "") + at.values[v];
                type += ")";
            } else if (!at.values.empty()) {
                std::string w = "its values are not all name tokens, so any value is accepted";
                notes += comment("loosened: attribute " + at.name + ": " + w) + "\n";
                x.loosened.push_back("attribute " + at.name + " of " + el.name + ": " + w);
            }
            std::string dflt;
            if (at.required) {
                dflt = "#REQUIRED";
            } else if (enumerable && !std::count(at.values.begin(), at.values.end(), at.default_value)) {
                // A DTD default must be one of the listed values.
                dflt = "#IMPLIED";
                notes += comment("attribute " + at.name + ": tarvo supplies \"" + at.default_value +
                                 "\" when it is missing, a value that may not be written") +
                         "\n";
            } else {
                dflt = "\"" + xml_escape(at.default_value) + "\"";
            }
            out += "\n    " + at.name + " " + type + " " + dflt;
        }
        out += ">\n" + notes;
    }
    return x;
}

}  // namespace tarvo
