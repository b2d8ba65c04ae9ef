// Two ways from an automaton to an expression.
//
// State elimination over a generalised automaton whose edges carry
// expressions: always the language itself, but its expressions grow fast.
//
// Reduction of the automaton read as a graph whose nodes are positions,
// each labelled with its expression: series (x then y, nothing else between),
// parallel (x and y with the same neighbours), optional (x may be skipped
// from every predecessor to every successor) and loops (a strongly connected
// part every one of whose exits leads back to every one of its entries).
// Content models written as regular expressions in the first place reduce
// to one node. The rules apply one at a time, always the first that can
// (series before parallel before optional, lowest node first); the nodes
// where a rule may newly apply are kept in order, so finding the next step
// costs what the last one changed, not a pass over the graph.
#include "export/reduce.h"

#include <algorithm>
#include <map>
#include <memory>
#include <numeric>
#include <set>
#include <utility>

namespace tarvo {

namespace {

constexpr uint64_t kMaxExpression = 1u << 16;  // canonical length of one expression during elimination
constexpr size_t kMaxEliminatedCandidates = 12;  // states, for elimination as a candidate besides reduction
constexpr int kMaxLoopNesting = 64;              // loops inside loops a reduction follows

R eliminate(const ContentAutomaton& a, const std::vector<int>& order, Expressions& x) {
    const int n = static_cast<int>(a.states.size());
    const int start = n, final = n + 1;
    std::vector<std::vector<R>> e(n + 2, std::vector<R>(n + 2));
    e[start][0] = x.eps();
    for (int s = 0; s < n; ++s) {
        if (a.states[s].accepting) e[s][final] = x.eps();
        for (auto [symbol, to] : a.states[s].next) e[s][to] = x.alt(e[s][to], x.sym(symbol));
    }
    std::vector<bool> gone(n + 2, false);
    for (int k : order) {
        R loop = x.star(e[k][k]);
        for (int i = 0; i < n + 2; ++i) {
            if (gone[i] || i == k || !e[i][k]) continue;
            for (int j = 0; j < n + 2; ++j) {
                if (gone[j] || j == k || !e[k][j]) continue;
                e[i][j] = x.alt(e[i][j], x.seq(e[i][k], x.seq(loop, e[k][j])));
                if (e[i][j]->length > kMaxExpression || x.budget().out()) return nullptr;
            }
        }
        gone[k] = true;
    }
    return e[start][final];
}

// Fewest edges through a state first keeps expressions small.
std::vector<int> by_degree(const ContentAutomaton& a) {
    const int n = static_cast<int>(a.states.size());
    std::vector<int> degree(n, 0), order(n);
    for (int s = 0; s < n; ++s)
        for (auto [symbol, to] : a.states[s].next)
            if (to != s) ++degree[s], ++degree[to];
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int p, int q) { return degree[p] < degree[q]; });
    return order;
}

class Reducer {
public:
    struct Node {
        R label = nullptr;
        std::vector<R> parts;  // not empty: the label is their sequence, not yet made
        std::unique_ptr<Expressions::Choices> choices;  // when set: the label is its choice
        std::set<int> pred, succ;
        bool alive = true;
        uint64_t pred_sum = 0, succ_sum = 0;  // of the neighbours' hashes: parallel nodes have equal sums
    };

    // Nodes 0 (start) and 1 (final) carry no label.
    Reducer(std::vector<Node> nodes, Expressions& x, int nesting)
        : n_(std::move(nodes)), x_(x), nesting_(nesting), key_(n_.size()), grouped_(n_.size(), false) {}

    static R run(const ContentAutomaton& a, Expressions& x) {
        const int count = static_cast<int>(a.states.size());
        std::vector<Node> nodes(count + 1);
        auto id = [&](int state) { return state == 0 ? 0 : state + 1; };  // 1 is the final node
        for (int s = 0; s < count; ++s) {
            for (auto [symbol, to] : a.states[s].next) {
                nodes[id(to)].label = x.sym(symbol);
                add_edge(nodes, id(s), id(to));
            }
            x.budget().spend(1 + a.states[s].next.size());
            if (a.states[s].accepting) add_edge(nodes, id(s), 1);
        }
        return Reducer(std::move(nodes), x, 0).reduce();
    }

    R reduce() {
        if (nesting_ > kMaxLoopNesting || !collapse_loops()) return nullptr;
        for (int v = 2; v < static_cast<int>(n_.size()); ++v) touched_.push_back(v);
        settle();
        while (!x_.budget().out()) {
            if (int v = next(series_, &Reducer::series_applies); v >= 0) {
                series(v);
            } else if (!group_mins_.empty()) {
                int p = *group_mins_.begin();
                const std::set<int>& g = groups_[key_[p]];
                int q = *std::next(g.begin());
                if (n_[p].pred != n_[q].pred || n_[p].succ != n_[q].succ) return nullptr;  // the sums met by chance
                parallel(p, q);
            } else if (int w = next(optional_, &Reducer::optional_applies); w >= 0) {
                optional(w);
            } else {
                break;
            }
            settle();
        }
        if (x_.budget().out()) return nullptr;
        std::vector<int> rest;
        for (int i = 2; i < static_cast<int>(n_.size()); ++i)
            if (n_[i].alive) rest.push_back(i);
        if (rest.empty()) return n_[0].succ.count(1) ? x_.eps() : nullptr;
        if (rest.size() != 1) return nullptr;
        const Node& only = n_[rest[0]];
        if (only.pred != std::set<int>{0} || only.succ != std::set<int>{1}) return nullptr;
        R l = label(rest[0]);
        return n_[0].succ.count(1) ? x_.opt(l) : l;
    }

private:
    using Key = std::pair<uint64_t, uint64_t>;

    static uint64_t hash_of(int v) {
        uint64_t z = static_cast<uint64_t>(v) + 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    void link(std::vector<Node>& n, int a, int b) {
        x_.budget().spend(1);
        add_edge(n, a, b);
    }
    static void add_edge(std::vector<Node>& n, int a, int b) {
        if (n[a].succ.insert(b).second) n[a].succ_sum += hash_of(b);
        if (n[b].pred.insert(a).second) n[b].pred_sum += hash_of(a);
    }
    void unlink(int a, int b) {
        if (n_[a].succ.erase(b)) n_[a].succ_sum -= hash_of(b);
        if (n_[b].pred.erase(a)) n_[b].pred_sum -= hash_of(a);
        x_.budget().spend(1);
    }
    bool inner(int i) const { return i >= 2 && n_[i].alive; }

    R label(int v) {
        Node& n = n_[v];
        if (!n.parts.empty()) {
            n.label = x_.sequence(n.parts);
            n.parts.clear();
        }
        if (n.choices) {
            n.label = x_.choice(*n.choices);
            n.choices.reset();
        }
        return n.label;
    }

    // ---- where each rule may apply ----

    // The lowest node in `todo` the rule applies to; those passed over no
    // longer can, until a change touches them again.
    int next(std::set<int>& todo, bool (Reducer::*applies)(int)) {
        while (!todo.empty() && !x_.budget().out()) {
            int v = *todo.begin();
            todo.erase(todo.begin());
            x_.budget().spend(1);
            if ((this->*applies)(v)) return v;
        }
        return -1;
    }

    bool series_applies(int x) {
        if (!inner(x) || n_[x].succ.size() != 1) return false;
        int y = *n_[x].succ.begin();
        return inner(y) && y != x && n_[y].pred.size() == 1;
    }

    bool optional_applies(int x) {
        if (!inner(x) || n_[x].pred.empty() || n_[x].succ.empty()) return false;
        for (int p : n_[x].pred) {
            x_.budget().spend(n_[x].succ.size());
            for (int s : n_[x].succ)
                if (p == x || s == x || !n_[p].succ.count(s)) return false;
        }
        return true;
    }

    // After a step: the rules may newly apply at the nodes whose neighbours
    // changed, and at the single predecessor of one (series); nodes with the
    // same neighbours are grouped for parallel.
    void settle() {
        for (int v : touched_) {
            x_.budget().spend(1);
            regroup(v);
            if (!inner(v)) continue;
            series_.insert(v);
            optional_.insert(v);
            if (n_[v].pred.size() == 1 && inner(*n_[v].pred.begin())) series_.insert(*n_[v].pred.begin());
        }
        touched_.clear();
    }

    void regroup(int v) {
        auto change = [&](const Key& k, bool add) {
            std::set<int>& g = groups_[k];
            if (g.size() >= 2) group_mins_.erase(*g.begin());
            if (add)
                g.insert(v);
            else
                g.erase(v);
            if (g.size() >= 2) group_mins_.insert(*g.begin());
            if (g.empty()) groups_.erase(k);
        };
        if (grouped_[v]) change(key_[v], false);
        grouped_[v] = inner(v) && !n_[v].succ.count(v);
        if (grouped_[v]) {
            key_[v] = {n_[v].pred_sum, n_[v].succ_sum};
            change(key_[v], true);
        }
    }

    // ---- the rules ----

    void series(int x) {
        int y = *n_[x].succ.begin();
        label(y);
        if (n_[x].choices) label(x);
        Node& a = n_[x];
        if (a.parts.empty()) a.parts = a.label->kind == Re::kSeq ? a.label->kids : std::vector<R>{a.label};
        x_.append(a.parts, n_[y].label);
        unlink(x, y);
        for (int s : std::set<int>(n_[y].succ)) {
            unlink(y, s);
            link(n_, x, s);
            touched_.push_back(s);
        }
        n_[y].alive = false;
        touched_.push_back(x);
        touched_.push_back(y);
    }

    void parallel(int x, int y) {
        R b = label(y);
        if (!n_[x].choices) {
            R a = label(x);
            n_[x].choices = std::make_unique<Expressions::Choices>();
            x_.start_choices(*n_[x].choices, a);
        }
        x_.add_choice(*n_[x].choices, b);
        for (int p : std::set<int>(n_[y].pred)) {
            unlink(p, y);
            touched_.push_back(p);
        }
        for (int s : std::set<int>(n_[y].succ)) {
            unlink(y, s);
            touched_.push_back(s);
        }
        n_[y].alive = false;
        touched_.push_back(y);
    }

    void optional(int x) {
        for (int p : n_[x].pred) {
            for (int s : n_[x].succ) {
                unlink(p, s);
                touched_.push_back(s);
            }
            touched_.push_back(p);
        }
        n_[x].label = x_.opt(label(x));
    }

    // ---- loops ----

    // Strongly connected parts of the inner nodes (Tarjan's algorithm,
    // without recursion: a part may be as long as the content).
    std::vector<std::vector<int>> components() {
        std::vector<int> index(n_.size(), -1), low(n_.size(), 0), stack;
        std::vector<bool> on(n_.size(), false);
        std::vector<std::vector<int>> out;
        struct Frame {
            int v;
            std::set<int>::const_iterator next;
        };
        std::vector<Frame> frames;
        int counter = 0;
        auto enter = [&](int v) {
            index[v] = low[v] = counter++;
            stack.push_back(v);
            on[v] = true;
            frames.push_back({v, n_[v].succ.begin()});
        };
        for (int root = 2; root < static_cast<int>(n_.size()); ++root) {
            if (!inner(root) || index[root] >= 0) continue;
            enter(root);
            while (!frames.empty()) {
                const int v = frames.back().v;
                if (frames.back().next != n_[v].succ.end()) {
                    int w = *frames.back().next++;
                    x_.budget().spend(1);
                    if (!inner(w)) continue;
                    if (index[w] < 0)
                        enter(w);
                    else if (on[w])
                        low[v] = std::min(low[v], index[w]);
                    continue;
                }
                frames.pop_back();
                if (!frames.empty()) low[frames.back().v] = std::min(low[frames.back().v], low[v]);
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
            }
        }
        return out;
    }

    // Whether `from` has an edge to every node of `to`.
    bool all_edges(const std::vector<int>& from, const std::vector<int>& to) {
        for (int o : from) {
            x_.budget().spend(to.size());
            for (int i : to)
                if (!n_[o].succ.count(i)) return false;
        }
        return true;
    }

    bool collapse_loops() {
        // Per node, for the part at hand: its number in the part's own graph
        // (-1: not in the part), and whether the loop is entered or left there.
        std::vector<int> place(n_.size(), -1);
        std::vector<char> entry(n_.size(), 0), exit(n_.size(), 0);
        for (std::vector<int> part : components()) {
            if (x_.budget().out()) return false;
            const int keep = part[0];
            if (part.size() == 1 && !n_[keep].succ.count(keep)) continue;
            std::sort(part.begin(), part.end());
            for (size_t i = 0; i < part.size(); ++i) place[part[i]] = static_cast<int>(i) + 2;
            std::vector<int> ins, outs;
            std::set<int> preds, succs;
            for (int x : part) {
                x_.budget().spend(n_[x].pred.size() + n_[x].succ.size());
                for (int p : n_[x].pred)
                    if (place[p] < 0) entry[x] = 1, preds.insert(p);
                for (int s : n_[x].succ)
                    if (place[s] < 0) exit[x] = 1, succs.insert(s);
                if (entry[x]) ins.push_back(x);
                if (exit[x]) outs.push_back(x);
            }
            // Every exit must lead back to every entry, and the loop must be
            // entered and left the same way wherever it is.
            const std::vector<int> before(preds.begin(), preds.end()), after(succs.begin(), succs.end());
            bool regular = all_edges(outs, ins) && all_edges(before, ins) && all_edges(outs, after);
            // One pass through the loop, as a graph of its own.
            R body = nullptr;
            if (regular) {
                std::vector<Node> sub(part.size() + 2);
                for (int x : part) {
                    Node& to = sub[place[x]];
                    to.label = label(x);
                    for (int s : n_[x].succ)
                        if (place[s] >= 0 && !(exit[x] && entry[s])) link(sub, place[x], place[s]);
                    if (entry[x]) link(sub, 0, place[x]);
                    if (exit[x]) link(sub, place[x], 1);
                }
                body = Reducer(std::move(sub), x_, nesting_ + 1).reduce();
            }
            for (int x : part) place[x] = -1, entry[x] = exit[x] = 0;
            if (!body) return false;
            // The part becomes one node, `keep`, with the part's neighbours.
            for (int x : part) {
                for (int p : n_[x].pred)
                    if (!std::binary_search(part.begin(), part.end(), p) && n_[p].succ.erase(x))
                        n_[p].succ_sum -= hash_of(x);
                for (int s : n_[x].succ)
                    if (!std::binary_search(part.begin(), part.end(), s) && n_[s].pred.erase(x))
                        n_[s].pred_sum -= hash_of(x);
                x_.budget().spend(n_[x].pred.size() + n_[x].succ.size());
                n_[x].pred.clear();
                n_[x].succ.clear();
                n_[x].pred_sum = n_[x].succ_sum = 0;
                if (x != keep) n_[x].alive = false;
            }
            R l = x_.make(Re::kPlus, 0, {body});
            if (body->kind == Re::kStar || body->kind == Re::kPlus) l = body;
            if (body->nullable) l = x_.star(body);
            n_[keep].label = l;
            for (int p : preds) link(n_, p, keep);
            for (int s : succs) link(n_, keep, s);
        }
        return true;
    }

    std::vector<Node> n_;
    Expressions& x_;
    int nesting_;
    std::vector<int> touched_;
    std::set<int> series_, optional_;  // where series and optional may apply
    std::map<Key, std::set<int>> groups_;  // nodes by their neighbours' sums
    std::set<int> group_mins_;             // lowest node of each group of two or more
    std::vector<Key> key_;
    std::vector<bool> grouped_;
};

}  // namespace

std::vector<R> candidates(const ContentAutomaton& a, Expressions& x) {
    const int n = static_cast<int>(a.states.size());
    std::vector<R> out;
    std::set<R> seen;
    if (R r = Reducer::run(a, x)) {
        seen.insert(r);
        out.push_back(r);
    }
    if (a.states.size() > kMaxEliminatedCandidates) return out;
    std::vector<int> forward(n);
    std::iota(forward.begin(), forward.end(), 0);
    for (const auto& o : {std::vector<int>(forward.rbegin(), forward.rend()), forward, by_degree(a)}) {
        R r = eliminate(a, o, x);
        if (!r) r = x.eps();  // no way to close
        if (seen.insert(r).second) out.push_back(r);
    }
    return out;
}

R eliminate_by_degree(const ContentAutomaton& a, Expressions& x) {
    if (a.states.size() > kMaxEliminated) return nullptr;
    return eliminate(a, by_degree(a), x);
}

}  // namespace tarvo
