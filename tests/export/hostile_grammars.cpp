// Writes grammars made to break what the export and the description write,
// and every export and description of each, for exports_well_formed.py to
// read back. Their names and values hold markup, references, dashes,
// colons, control characters and bytes that are not UTF-8; their content
// lists are random. Each is made in memory, as a GrammarInfo, so that the
// names need not pass the grammar-file reader: the export must hold up
// whatever it is given.
//
//   tarvo_hostile_grammars DIR [COUNT] [SEED]
//
// For grammar N: N.rng, N.dtd, N.txt, N.json, N.dot, the same three
// descriptions of one element (N.one.txt, ...), and N.loosened, the places
// the exports listed. The built-in grammars come first, with some of their
// names replaced.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tarvo/grammar.h"
#include "tarvo/tarvo.h"

namespace {

using tarvo::ContentItem;
using tarvo::GrammarInfo;

const std::vector<std::string> kHostile = {
    "a<b>&c", "x>", "p%ent;", "q'r", "a\"b", "--", "a--b", "-", "1st", "a:b", ":a", "xmlns", "xml:lang",
    "\x01" "a", "a\x1f", "\x7f", "a\tb", "a\rb", "a\nb", "\xff", "\xc3(", "\xc0\xaf", "\xed\xa0\x80",
    "\xef\xbf\xbe", "]]>", "&#1;", "a b", "", "\\", "a\\Nb", "caf\xc3\xa9", "\xe2\x80\x94" "dash", "e.x-y_z",
    "-->", "<!--", "?>", "%", "&amp;", "{}", "a;b", "\"\"", std::string("nul\0x", 5)};

const std::vector<std::string> kPlain = {"a", "b", "c_1", "Item", "x.y", "e-f", "_u", "\xc3\x89lan", "n0"};

class Maker {
public:
    explicit Maker(unsigned seed) : rng_(seed) {}

    int below(int n) { return n <= 0 ? 0 : static_cast<int>(rng_() % static_cast<unsigned>(n)); }
    bool chance(int percent) { return below(100) < percent; }

    std::string name() {
        const auto& pool = chance(60) ? kHostile : kPlain;
        std::string n = pool[below(static_cast<int>(pool.size()))];
        if (chance(20)) n += kHostile[below(static_cast<int>(kHostile.size()))];
        return n;
    }

    // `n` made different from every name in `taken`.
    static std::string unique(std::string n, std::set<std::string>& taken) {
        for (int i = 2; !taken.insert(n).second; ++i) n += std::to_string(i);
        return n;
    }

    std::vector<ContentItem> list(const GrammarInfo& g) {
        std::vector<ContentItem> out;
        std::vector<int> order(g.elements.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
        std::shuffle(order.begin(), order.end(), rng_);
        for (int e : order)
            if (chance(40)) out.push_back({ContentItem::kElement, e, below(static_cast<int>(g.elements[e].rows.size()))});
        if (!g.text_rows.empty() && chance(30))
            out.insert(out.begin() + below(static_cast<int>(out.size()) + 1),
                       {ContentItem::kText, -1, below(static_cast<int>(g.text_rows.size()))});
        if (chance(50)) out.push_back({ContentItem::kEnd, -1, -1});
        return out;
    }

    std::vector<tarvo::AttributeInfo> attributes() {
        std::vector<tarvo::AttributeInfo> out;
        std::set<std::string> taken;
        for (int n = below(4); n > 0; --n) {
            tarvo::AttributeInfo a;
            a.name = unique(name(), taken);
            a.required = chance(40);
            if (!a.required) a.default_value = name();
            std::set<std::string> values;
            if (chance(50))
                for (int v = 1 + below(4); v > 0; --v) a.values.push_back(unique(name(), values));
            if (!a.required && !a.values.empty() && chance(60)) a.default_value = a.values[below(static_cast<int>(a.values.size()))];
            out.push_back(std::move(a));
        }
        return out;
    }

    GrammarInfo random_grammar() {
        GrammarInfo g;
        g.name = name();
        g.source_name = name();
        g.system_name = g.name + ".dtd";
        g.grammar_file = name();
        std::set<std::string> taken;
        const int count = below(7);
        g.elements.resize(count);
        for (auto& e : g.elements) {
            e.name = unique(name(), taken);
            e.rows.resize(1 + below(3));
            e.attributes = attributes();
        }
        g.text_rows.resize(below(3));
        for (auto& e : g.elements) {
            e.first = list(g);
            for (auto& r : e.rows) r = list(g);
        }
        for (auto& r : g.text_rows) r = list(g);
        for (int r = 0; r < 2 && count > 0; ++r) g.roots.push_back(g.elements[below(count)].name);
        return g;
    }

    // A built-in grammar, some of its names replaced.
    GrammarInfo mutated(const tarvo::SchemaTable& t) {
        GrammarInfo g = tarvo::grammar_info(t);
        std::set<std::string> taken;
        for (auto& e : g.elements) {
            if (chance(25)) e.name = name();
            e.name = unique(e.name, taken);
            std::set<std::string> attrs;
            for (auto& a : e.attributes) {
                if (chance(20)) a.name = name();
                a.name = unique(a.name, attrs);
                std::set<std::string> values;
                for (auto& v : a.values) v = unique(chance(20) ? name() : v, values);
                if (!a.required && chance(20)) a.default_value = name();
            }
        }
        if (chance(50)) g.name = name();
        return g;
    }

private:
    std::mt19937 rng_;
};

bool write(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

bool write_all(const std::string& dir, int n, const GrammarInfo& g, Maker& m) {
    const std::string base = dir + "/" + std::to_string(n);
    tarvo::Export rng = tarvo::export_rng(g), dtd = tarvo::export_dtd(g);
    std::string loosened;
    for (const auto* x : {&rng, &dtd})
        for (const std::string& l : x->loosened) loosened += l + "\n";
    const int one = g.elements.empty() ? -1 : m.below(static_cast<int>(g.elements.size()));
    return write(base + ".rng", rng.text) && write(base + ".dtd", dtd.text) && write(base + ".loosened", loosened) &&
           write(base + ".txt", tarvo::describe_text(g)) && write(base + ".json", tarvo::describe_json(g)) &&
           write(base + ".dot", tarvo::describe_dot(g)) && write(base + ".one.txt", tarvo::describe_text(g, one)) &&
           write(base + ".one.json", tarvo::describe_json(g, one)) && write(base + ".one.dot", tarvo::describe_dot(g, one));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [COUNT] [SEED]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const int count = argc > 2 ? std::atoi(argv[2]) : 200;
    Maker m(argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 1);
    int n = 0;
    for (const tarvo::SchemaTable* t : tarvo::grammars())
        if (!write_all(dir, n++, m.mutated(*t), m)) return 1;
    while (n < count)
        if (!write_all(dir, n++, m.random_grammar(), m)) return 1;
    std::printf("%d grammars written to %s\n", n, dir.c_str());
    return 0;
}
