#include "import/content_automaton.h"

#include <algorithm>

namespace tarvo::dtd {

namespace {

struct TooLarge {};

// What a particle contributes: whether it may match nothing, and the
// positions it may begin and end with.
struct Info {
    bool nullable = true;
    std::vector<int> first, last;
};

class Builder {
public:
    Builder(const std::function<int(const std::string&)>& symbol_of, size_t& budget, ContentAutomaton& out)
        : symbol_of_(symbol_of), budget_(budget), out_(out) {}

    Info walk(const Particle& p) {
        Info i = core(p);
        if (p.occurrence == '*' || p.occurrence == '+') link(i.last, i.first);
        if (p.occurrence == '*' || p.occurrence == '?') i.nullable = true;
        return i;
    }

private:
    Info core(const Particle& p) {
        switch (p.kind) {
        case Particle::Kind::Name:
        case Particle::Kind::Text: {
            int pos = static_cast<int>(out_.symbols.size());
            out_.symbols.push_back(p.kind == Particle::Kind::Text ? kTextSymbol : symbol_of_(p.name));
            out_.follow.emplace_back();
            return {false, {pos}, {pos}};
        }
        case Particle::Kind::Choice: {
            Info out{false, {}, {}};
            for (const Particle& k : p.kids) {
                Info i = walk(k);
                out.nullable = out.nullable || i.nullable;
                out.first.insert(out.first.end(), i.first.begin(), i.first.end());
                out.last.insert(out.last.end(), i.last.begin(), i.last.end());
            }
            return out;
        }
        case Particle::Kind::Seq: {
            Info out;
            for (const Particle& k : p.kids) {
                Info i = walk(k);
                link(out.last, i.first);
                if (out.nullable) out.first.insert(out.first.end(), i.first.begin(), i.first.end());
                if (!i.nullable) out.last.clear();
                out.last.insert(out.last.end(), i.last.begin(), i.last.end());
                out.nullable = out.nullable && i.nullable;
            }
            return out;
        }
        }
        return {};
    }

    // Every position of `from` may be followed by every one of `to`.
    void link(const std::vector<int>& from, const std::vector<int>& to) {
        for (int f : from) {
            if (to.size() > budget_) throw TooLarge{};
            budget_ -= to.size();
            std::vector<int>& l = out_.follow[f];
            l.insert(l.end(), to.begin(), to.end());
        }
    }

    const std::function<int(const std::string&)>& symbol_of_;
    size_t& budget_;
    ContentAutomaton& out_;
};

// The first repeated symbol of a list, or kTextSymbol - 1 if none repeats.
int repeated(const std::vector<int>& list, const std::vector<int>& symbols, std::vector<int>& seen, int stamp,
             int symbol_count) {
    for (int p : list) {
        int s = symbols[p];
        int& slot = seen[s == kTextSymbol ? symbol_count : s];
        if (slot == stamp) return s;
        slot = stamp;
    }
    return kTextSymbol - 1;
}

}  // namespace

BuildOutcome build_automaton(const Particle& model, const std::function<int(const std::string&)>& symbol_of,
                             int symbol_count, size_t& budget, ContentAutomaton& out) {
    out = {};
    Builder b(symbol_of, budget, out);
    Info top;
    try {
        top = b.walk(model);
    } catch (const TooLarge&) {
        return {BuildOutcome::Kind::TooLarge, 0, -1};
    }
    out.first = top.first;
    out.nullable = top.nullable;
    out.last.assign(out.symbols.size(), false);
    for (int p : top.last) out.last[p] = true;
    // A loop inside a loop links the same positions again.
    for (std::vector<int>& l : out.follow) {
        std::sort(l.begin(), l.end());
        l.erase(std::unique(l.begin(), l.end()), l.end());
    }
    std::vector<int> seen(static_cast<size_t>(symbol_count) + 1, -2);
    int s = repeated(out.first, out.symbols, seen, -1, symbol_count);
    if (s != kTextSymbol - 1) return {BuildOutcome::Kind::NotDeterministic, s, -1};
    for (size_t p = 0; p < out.follow.size(); ++p) {
        s = repeated(out.follow[p], out.symbols, seen, static_cast<int>(p), symbol_count);
        if (s != kTextSymbol - 1) return {BuildOutcome::Kind::NotDeterministic, s, static_cast<int>(p)};
    }
    return {};
}

}  // namespace tarvo::dtd
