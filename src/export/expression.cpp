#include "export/expression.h"

#include <algorithm>
#include <string>
#include <unordered_map>

namespace tarvo {

namespace {

constexpr uint64_t kLengthCap = UINT64_MAX / 4;  // lengths saturate here

size_t mix(size_t h, size_t v) { return (h ^ v) * 0x100000001B3ull + (h >> 29); }

}  // namespace

R Expressions::make(Re::Kind k, int sym, std::vector<R> kids) {
    budget_.spend(1 + kids.size());
    Re r;
    r.kind = k;
    r.sym = k == Re::kSym ? sym : 0;
    r.kids = std::move(kids);
    r.hash = mix(mix(0xCBF29CE484222325ull, k), static_cast<size_t>(r.sym));
    for (R c : r.kids) r.hash = mix(r.hash, reinterpret_cast<size_t>(c));
    auto found = index_.find(&r);
    if (found != index_.end()) return *found;
    // The canonical text is the kind's letter, the symbol, then the kids'
    // texts, each followed by a comma, in parentheses.
    r.length = 1 + (k == Re::kSym ? std::to_string(sym).size() : 0);
    if (!r.kids.empty()) r.length += 2;
    for (R c : r.kids) {
        r.length = std::min(kLengthCap, r.length + c->length + 1);
        r.depth = std::max(r.depth, c->depth + 1);
    }
    switch (k) {
    case Re::kEps:
    case Re::kStar:
    case Re::kOpt: r.nullable = true; break;
    case Re::kSym: r.nullable = false; break;
    case Re::kPlus: r.nullable = r.kids[0]->nullable; break;
    case Re::kSeq: r.nullable = std::all_of(r.kids.begin(), r.kids.end(), [](R c) { return c->nullable; }); break;
    case Re::kAlt: r.nullable = std::any_of(r.kids.begin(), r.kids.end(), [](R c) { return c->nullable; }); break;
    }
    nodes_.push_back(std::move(r));
    index_.insert(&nodes_.back());
    return &nodes_.back();
}

R Expressions::star(R a) {
    if (!a || a->kind == Re::kEps) return eps();
    if (a->kind == Re::kStar) return a;
    if (a->kind == Re::kOpt || a->kind == Re::kPlus) return star(a->kids[0]);
    return make(Re::kStar, 0, {a});
}

R Expressions::opt(R a) {
    if (!a) return eps();
    if (a->nullable) return a;
    if (a->kind == Re::kPlus) return star(a->kids[0]);
    return make(Re::kOpt, 0, {a});
}

void Expressions::append(std::vector<R>& parts, R b) {
    if (b->kind == Re::kEps) return;
    const std::vector<R> one{b};
    budget_.spend(b->kind == Re::kSeq ? b->kids.size() : 1);
    // x, x* and x*, x are x+
    for (R k : b->kind == Re::kSeq ? b->kids : one) {
        if (!parts.empty() && k->kind == Re::kStar && k->kids[0] == parts.back())
            parts.back() = make(Re::kPlus, 0, {k->kids[0]});
        else if (!parts.empty() && parts.back()->kind == Re::kStar && parts.back()->kids[0] == k)
            parts.back() = make(Re::kPlus, 0, {k});
        else
            parts.push_back(k);
    }
}

R Expressions::sequence(const std::vector<R>& parts) {
    if (parts.empty()) return eps();
    return parts.size() == 1 ? parts[0] : make(Re::kSeq, 0, parts);
}

R Expressions::seq(R a, R b) {
    if (!a || !b) return nullptr;
    if (a->kind == Re::kEps) return b;
    if (b->kind == Re::kEps) return a;
    // A sequence's parts never hold a pair the rule in append() joins, so
    // appending b to them is joining all the parts afresh.
    std::vector<R> parts = a->kind == Re::kSeq ? a->kids : std::vector<R>{a};
    append(parts, b);
    return sequence(parts);
}

R Expressions::alt(R a, R b) {
    if (!a) return b;
    if (!b) return a;
    std::vector<R> kids;
    std::unordered_map<R, size_t> at;  // kid -> its place in kids
    bool empty = false;
    auto add = [&](R x) {
        if (x->kind == Re::kEps) {
            empty = true;
            return;
        }
        R y = x->kind == Re::kOpt ? x->kids[0] : x;
        empty = empty || x->kind == Re::kOpt;
        if (at.emplace(y, kids.size()).second) kids.push_back(y);
    };
    for (R x : {a, b}) {
        if (x->kind == Re::kAlt)
            for (R k : x->kids) add(k);
        else
            add(x);
    }
    budget_.spend(kids.size());
    if (kids.empty()) return eps();
    // x | y, x is y?, x; and x, y | x is x, y?. The pair taken is the one a
    // scan over i, then over j, would meet first. (Past the budget nothing
    // made is used: no more joining then.)
    size_t best_i = kids.size(), best_j = kids.size();
    for (size_t j = 0; j < kids.size() && !budget_.out(); ++j) {
        R s = kids[j];
        if (s->kind != Re::kSeq) continue;
        for (R end : {s->kids.back(), s->kids.front()}) {
            auto i = at.find(end);
            if (i == at.end() || i->second == j) continue;
            if (i->second < best_i || (i->second == best_i && j < best_j)) best_i = i->second, best_j = j;
        }
    }
    if (best_i < kids.size()) {
        R s = kids[best_j];
        R merged;
        if (s->kids.back() == kids[best_i]) {
            std::vector<R> head(s->kids.begin(), s->kids.end() - 1);
            merged = seq(opt(head.size() == 1 ? head[0] : make(Re::kSeq, 0, head)), kids[best_i]);
        } else {
            std::vector<R> tail(s->kids.begin() + 1, s->kids.end());
            merged = seq(kids[best_i], opt(tail.size() == 1 ? tail[0] : make(Re::kSeq, 0, tail)));
        }
        R r = merged;
        for (size_t m = 0; m < kids.size(); ++m)
            if (m != best_i && m != best_j) r = alt(r, kids[m]);
        return empty ? opt(r) : r;
    }
    R r = kids.size() == 1 ? kids[0] : make(Re::kAlt, 0, std::move(kids));
    return empty ? opt(r) : r;
}

void Expressions::add_kid(Choices& c, R k) {
    c.at.emplace(k, c.kids.size());
    c.kids.push_back(k);
    if (k->kind == Re::kSeq) {
        ++c.sequence_ends[k->kids.front()];
        ++c.sequence_ends[k->kids.back()];
    }
}

void Expressions::start_choices(Choices& c, R a) {
    c = Choices();
    c.value = a;
    c.flat = a && a->kind != Re::kEps && a->kind != Re::kOpt;
    if (!c.flat) return;
    budget_.spend(a->kind == Re::kAlt ? a->kids.size() : 1);
    if (a->kind == Re::kAlt)
        for (R k : a->kids) add_kid(c, k);
    else
        add_kid(c, a);
}

void Expressions::add_choice(Choices& c, R b) {
    budget_.spend(1);
    // alt() flattens the choices so far and adds b; when b is one plain
    // choice and makes no pair with them, that is appending it.
    bool plain = c.flat && b->kind != Re::kEps && b->kind != Re::kOpt && b->kind != Re::kAlt;
    if (plain && c.at.count(b)) return;
    if (plain && !c.sequence_ends.count(b) &&
        !(b->kind == Re::kSeq && (c.at.count(b->kids.front()) || c.at.count(b->kids.back())))) {
        add_kid(c, b);
        c.pending = true;
        return;
    }
    start_choices(c, alt(choice(c), b));
}

R Expressions::choice(Choices& c) {
    if (c.pending) {
        c.value = c.kids.size() == 1 ? c.kids[0] : make(Re::kAlt, 0, c.kids);
        c.pending = false;
    }
    return c.value;
}

R Expressions::any_of(const std::set<int>& symbols) {
    std::vector<R> kids;
    for (int s : symbols) kids.push_back(sym(s));
    if (kids.empty()) return nullptr;
    return kids.size() == 1 ? kids[0] : make(Re::kAlt, 0, std::move(kids));
}

}  // namespace tarvo
