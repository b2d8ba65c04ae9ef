#include "document_generator.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace tarvo_bench {

namespace {

// splitmix64: tiny, fast and the same on every platform, so a given size
// always produces the same document.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }

private:
    uint64_t state_;
};

// The allowed values of the node's `type` attribute, read from the compiled
// grammar so that the generator cannot drift from it.
std::vector<std::string_view> node_types() {
    std::vector<std::string_view> out;
    const tarvo::SchemaTable* g = tarvo::find_grammar(kBenchGrammar);
    if (!g) return out;
    int32_t e = tarvo::find_element(*g, "CodeCoverageResultNode");
    if (e < 0) return out;
    int32_t r = tarvo::find_attribute_rule(g->elements[e], "type");
    if (r < 0) return out;
    const tarvo::AttributeRule& rule = g->elements[e].attributes[r];
    for (int32_t i = 0; i < rule.allowed_count; ++i) out.emplace_back(rule.allowed[i], rule.allowed_lengths[i]);
    return out;
}

constexpr std::string_view kAreas[] = {"Billing", "Gateway", "Scheduler", "Inventory", "Auth", "Telemetry",
                                       "Router", "Ledger"};
constexpr std::string_view kVerbs[] = {"handle", "check", "send", "await", "retry", "commit", "route", "close"};
constexpr std::string_view kSuites[] = {"smoke", "regression", "nightly", "load", "acceptance"};

class Writer {
public:
    Writer(std::FILE* f, DocumentStats& stats) : f_(f), stats_(stats) { buf_.reserve(kFlushAt + 4096); }

    void put(std::string_view s) { buf_.append(s); }
    void put(char c) { buf_.push_back(c); }
    void number(uint64_t n) {
        char tmp[24];
        int len = std::snprintf(tmp, sizeof tmp, "%llu", static_cast<unsigned long long>(n));
        buf_.append(tmp, static_cast<size_t>(len));
    }
    void indent(int depth) { buf_.append(static_cast<size_t>(depth) * 2, ' '); }

    uint64_t written() const { return stats_.bytes + buf_.size(); }

    bool flush_if_full() { return buf_.size() < kFlushAt || flush(); }
    bool flush() {
        if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) return false;
        stats_.bytes += buf_.size();
        buf_.clear();
        return true;
    }

private:
    static constexpr size_t kFlushAt = 1 << 20;
    std::FILE* f_;
    DocumentStats& stats_;
    std::string buf_;
};

// Creates `path`, lets `body(writer, tally)` write the document and closes
// the file; `stats` gets the tally on success. `body` returns false when a
// write failed, or sets `error` itself for a failure of its own.
template <class Body>
bool write_file_with(const std::string& path, DocumentStats& stats, std::string& error, Body&& body) {
    stats = DocumentStats{};
    error.clear();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    DocumentStats tally;
    bool ok;
    {
        Writer w(f, tally);
        ok = body(w, tally) && w.flush();
    }
    if (std::fclose(f) != 0) ok = false;
    if (!ok) {
        if (error.empty()) error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    stats = tally;
    return true;
}

class Generator {
public:
    Generator(Writer& w, DocumentStats& stats, std::vector<std::string_view> types, uint64_t seed, uint64_t target)
        : w_(w), stats_(stats), types_(std::move(types)), rng_(seed), target_(target), small_(target < (1u << 20)) {}

    // One subtree rooted at a node of nesting depth `depth` (root = 1).
    bool node(int depth, uint64_t& serial) {
        ++stats_.elements;
        ++stats_.result_nodes;
        if (depth > stats_.max_depth) stats_.max_depth = depth;
        uint64_t id = serial++;
        w_.indent(depth - 1);
        w_.put("<CodeCoverageResultNode");
        attributes(id, depth);

        // Deeper nodes have fewer children, so subtrees stay bounded while
        // the upper levels still branch.
        uint32_t testcases = rng_.chance(55) ? 1 + rng_.below(3) : 0;
        uint32_t children = 0;
        if (depth < kMaxDepth) {
            uint32_t spread = depth < 3 ? 6 : depth < 6 ? 4 : 3;
            children = rng_.below(spread + 1);
            if (depth >= 8 && rng_.chance(50)) children = 0;
        }
        if (testcases == 0 && children == 0) {
            w_.put(rng_.chance(50) ? "/>\n" : " />\n");
            return w_.flush_if_full();
        }
        w_.put(">\n");
        for (uint32_t i = 0; i < testcases; ++i) testcase(depth + 1, id, i);
        // A small document stops adding children once it is big enough.
        for (uint32_t i = 0; i < children && !(small_ && w_.written() >= target_); ++i)
            if (!node(depth + 1, serial)) return false;
        w_.indent(depth - 1);
        w_.put("</CodeCoverageResultNode>\n");
        return w_.flush_if_full();
    }

private:
    static constexpr int kMaxDepth = 12;

    void attributes(uint64_t id, int depth) {
        const std::string_view area = kAreas[rng_.below(std::size(kAreas))];
        const std::string_view verb = kVerbs[rng_.below(std::size(kVerbs))];
        uint64_t min_hit = rng_.below(50);
        uint64_t max_hit = min_hit + rng_.below(5000);

        // Required ones always, optional ones about half the time, in a
        // varied order: the reader must fill the rest from the defaults.
        enum Kind { kName, kSymbol, kMaxHit, kDiagram, kType, kMinHit };
        Kind order[6] = {kName, kSymbol, kMaxHit, kDiagram, kType, kMinHit};
        if (rng_.chance(30))
            for (int i = 5; i > 0; --i) std::swap(order[i], order[rng_.below(static_cast<uint32_t>(i + 1))]);
        bool symbol = rng_.chance(60), diagram = rng_.chance(45), type = rng_.chance(75);
        stats_.defaults_filled += !symbol + !diagram + !type;

        for (Kind k : order) {
            switch (k) {
            case kName:
                w_.put(" name=\"");
                w_.put(area);
                w_.put('.');
                w_.put(verb);
                w_.put('_');
                w_.number(id);
                // A few values carry entities that every reader decodes.
                if (rng_.chance(3)) w_.put(" &amp; &quot;fallback&quot;");
                w_.put('"');
                break;
            case kSymbol:
                if (!symbol) break;
                w_.put(" symbolId=\"sym");
                w_.number(id * 7 + static_cast<uint64_t>(depth));
                w_.put('"');
                break;
            case kMaxHit:
                w_.put(" maxHit=\"");
                w_.number(max_hit);
                w_.put('"');
                break;
            case kDiagram:
                if (!diagram) break;
                w_.put(" diagramFileName=\"diagrams/");
                w_.put(area);
                w_.put("/process_");
                w_.number(id % 97);
                w_.put(".lumodiag\"");
                break;
            case kType:
                if (!type) break;
                w_.put(" type=\"");
                w_.put(types_[rng_.below(static_cast<uint32_t>(types_.size()))]);
                w_.put('"');
                break;
            case kMinHit:
                w_.put(" minHit=\"");
                w_.number(min_hit);
                w_.put('"');
                break;
            }
        }
    }

    void testcase(int depth, uint64_t id, uint32_t i) {
        ++stats_.elements;
        ++stats_.text_runs;
        if (depth > stats_.max_depth) stats_.max_depth = depth;
        w_.indent(depth - 1);
        w_.put("<CoveringTestcase>");
        w_.put(kSuites[rng_.below(std::size(kSuites))]);
        w_.put("/TC_");
        w_.number(id * 3 + i);
        if (rng_.chance(10)) w_.put(" (hits &lt; threshold)");
        w_.put("</CoveringTestcase>\n");
    }

    Writer& w_;
    DocumentStats& stats_;
    std::vector<std::string_view> types_;
    Rng rng_;
    uint64_t target_;
    bool small_;
};

}  // namespace

bool write_document(const std::string& path, uint64_t target_bytes, DocumentStats& stats, std::string& error,
                    const DocumentOptions& options) {
    stats = DocumentStats{};
    std::vector<std::string_view> types = node_types();
    if (types.empty()) {
        error = std::string("grammar ") + kBenchGrammar + " has no CodeCoverageResultNode type list";
        return false;
    }
    return write_file_with(path, stats, error, [&](Writer& w, DocumentStats& tally) {
        Generator gen(w, tally, std::move(types), options.seed, target_bytes);
        // The root leaves displayMode out (default "hits"); its one child is
        // the project node, under which subtrees are added until the target
        // size is reached.
        w.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
        if (!options.doctype.empty()) {
            w.put(options.doctype);
            w.put('\n');
        }
        w.put("<CodeCoverageResults>\n");
        ++tally.elements;
        ++tally.defaults_filled;
        uint64_t serial = 0;
        ++tally.elements;
        ++tally.result_nodes;
        w.put("  <CodeCoverageResultNode name=\"project\" maxHit=\"0\" minHit=\"0\" type=\"bpmn_project\">\n");
        tally.defaults_filled += 2;
        tally.max_depth = 2;
        constexpr std::string_view kClose = "  </CodeCoverageResultNode>\n</CodeCoverageResults>\n";
        bool ok = true;
        while (ok && w.written() + kClose.size() < target_bytes) ok = gen.node(3, serial);
        w.put(kClose);
        return ok;
    });
}

namespace {

using tarvo::ContentPosition;
using tarvo::ElementRule;
using tarvo::SchemaTable;

// A random walk through a grammar's content models. Every list of possible
// next items (an element's first list, the successor rows) has a least cost
// to the parent's close, in elements and texts; once the document is big
// enough, or deep enough, the walk follows those least costs.
class GrammarWalk {
public:
    GrammarWalk(const SchemaTable& g, Writer& w, DocumentStats& stats, uint64_t target)
        : g_(g), w_(w), stats_(stats), target_(target), rng_(0x6c756d6f2d776c6bull) {}

    // False when some element can never be closed.
    bool compute_costs() {
        const size_t n = static_cast<size_t>(g_.element_count);
        element_cost_.assign(n, kInfinite);
        first_cost_.assign(n, kInfinite);
        row_cost_.resize(n);
        for (size_t e = 0; e < n; ++e) row_cost_[e].assign(static_cast<size_t>(g_.elements[e].row_count), kInfinite);
        text_cost_.assign(static_cast<size_t>(g_.text_row_count), kInfinite);
        for (bool changed = true; changed;) {
            changed = false;
            auto lower = [&](uint64_t& slot, uint64_t v) {
                if (v < slot) {
                    slot = v;
                    changed = true;
                }
            };
            for (size_t e = 0; e < n; ++e) {
                const ElementRule& r = g_.elements[e];
                lower(first_cost_[e], list_cost(r.first, r.first_count));
                for (int32_t k = 0; k < r.row_count; ++k)
                    lower(row_cost_[e][static_cast<size_t>(k)], list_cost(r.rows[k].successors, r.rows[k].count));
                if (first_cost_[e] < kInfinite) lower(element_cost_[e], 1 + first_cost_[e]);
            }
            for (int32_t k = 0; k < g_.text_row_count; ++k)
                lower(text_cost_[static_cast<size_t>(k)], list_cost(g_.text_rows[k].successors, g_.text_rows[k].count));
        }
        for (uint64_t c : element_cost_)
            if (c >= kInfinite) return false;
        return true;
    }

    bool element(int32_t e, int depth) {
        const ElementRule& r = g_.elements[e];
        ++stats_.elements;
        stats_.max_depth = std::max(stats_.max_depth, depth);
        w_.indent(depth - 1);
        w_.put('<');
        w_.put(std::string_view(r.name, r.name_length));
        attributes(r);
        const ContentPosition* list = r.first;
        int32_t count = r.first_count;
        bool after_text = false, open = false;
        for (int items = 0;; ++items) {
            const ContentPosition* next = choose(list, count, depth, items, after_text);
            if (!next || next->element == tarvo::POSITION_END) break;
            if (!open) {
                w_.put(next->element == tarvo::POSITION_TEXT ? ">" : ">\n");
                open = true;
            }
            if (next->element == tarvo::POSITION_TEXT) {
                text();
                const tarvo::SuccessorRow& row = g_.text_rows[next->context];
                list = row.successors;
                count = row.count;
                after_text = true;
            } else {
                if (after_text) w_.put('\n');
                if (!element(next->element, depth + 1)) return false;
                const tarvo::SuccessorRow& row = g_.elements[next->element].rows[next->context];
                list = row.successors;
                count = row.count;
                after_text = false;
            }
        }
        if (!open) {
            w_.put("/>\n");
        } else {
            if (!after_text) w_.indent(depth - 1);
            w_.put("</");
            w_.put(std::string_view(r.name, r.name_length));
            w_.put(">\n");
        }
        return w_.flush_if_full();
    }

private:
    static constexpr uint64_t kInfinite = UINT64_MAX / 4;
    static constexpr int kMaxDepth = 10;
    static constexpr int kMaxItems = 8;

    uint64_t entry_cost(const ContentPosition& p) const {
        if (p.element == tarvo::POSITION_END) return 0;
        if (p.element == tarvo::POSITION_TEXT) return 1 + text_cost_[static_cast<size_t>(p.context)];
        return std::min(kInfinite, element_cost_[static_cast<size_t>(p.element)] +
                                       row_cost_[static_cast<size_t>(p.element)][static_cast<size_t>(p.context)]);
    }

    uint64_t list_cost(const ContentPosition* list, int32_t count) const {
        uint64_t best = kInfinite;
        for (int32_t i = 0; i < count; ++i) best = std::min(best, entry_cost(list[i]));
        return best;
    }

    // The next item, or null when the list is empty. Two texts in a row
    // would read as one, so a text never follows a text.
    // `items`: children of this element so far.
    const ContentPosition* choose(const ContentPosition* list, int32_t count, int depth, int items,
                                  bool after_text) {
        auto usable = [&](const ContentPosition& p) {
            return !(after_text && p.element == tarvo::POSITION_TEXT) && entry_cost(p) < kInfinite;
        };
        // The two top levels keep going until the target is reached; deeper
        // ones head for their close more and more often.
        bool finishing = w_.written() >= target_ || depth >= kMaxDepth ||
                         (depth > 2 && (items >= kMaxItems ||
                                        rng_.below(100) < static_cast<uint32_t>(std::min(90, depth * 12))));
        if (finishing) {
            const ContentPosition* best = nullptr;
            for (int32_t i = 0; i < count; ++i)
                if (usable(list[i]) && (!best || entry_cost(list[i]) < entry_cost(*best))) best = &list[i];
            return best;
        }
        uint32_t total = 0;
        for (int32_t i = 0; i < count; ++i)
            if (usable(list[i]) && list[i].element != tarvo::POSITION_END) total += weight(list[i]);
        if (total == 0) return choose(list, count, kMaxDepth, items, after_text);
        uint32_t pick = rng_.below(total);
        for (int32_t i = 0; i < count; ++i) {
            if (!usable(list[i]) || list[i].element == tarvo::POSITION_END) continue;
            uint32_t wgt = weight(list[i]);
            if (pick < wgt) return &list[i];
            pick -= wgt;
        }
        return nullptr;
    }

    // Elements with many attributes come up more often.
    uint32_t weight(const ContentPosition& p) const {
        if (p.element == tarvo::POSITION_TEXT) return 2;
        return 1 + static_cast<uint32_t>(g_.elements[p.element].attribute_count);
    }

    void attributes(const ElementRule& r) {
        for (int32_t i = 0; i < r.attribute_count; ++i) {
            const tarvo::AttributeRule& a = r.attributes[i];
            if (a.default_value && rng_.chance(50)) {
                ++stats_.defaults_filled;
                continue;
            }
            ++stats_.attributes;
            w_.put(' ');
            w_.put(std::string_view(a.name, a.name_length));
            w_.put("=\"");
            if (a.allowed_count > 0) {
                uint32_t k = rng_.below(static_cast<uint32_t>(a.allowed_count));
                w_.put(std::string_view(a.allowed[k], a.allowed_lengths[k]));
            } else {
                w_.put(kWords[rng_.below(std::size(kWords))]);
                w_.put('_');
                w_.number(rng_.below(100000));
                if (rng_.chance(2)) w_.put(" &amp; more");
            }
            w_.put('"');
        }
    }

    void text() {
        ++stats_.text_runs;
        w_.put(kWords[rng_.below(std::size(kWords))]);
        w_.put(" text ");
        w_.number(rng_.below(1000000));
        if (rng_.chance(5)) w_.put(" &lt;see above&gt;");
    }

    static constexpr std::string_view kWords[] = {"alpha", "Billing", "route", "x", "Gateway", "node", "sym",
                                                  "procedure_handler", "7"};

    const SchemaTable& g_;
    Writer& w_;
    DocumentStats& stats_;
    uint64_t target_;
    Rng rng_;
    std::vector<uint64_t> element_cost_, first_cost_, text_cost_;
    std::vector<std::vector<uint64_t>> row_cost_;
};

}  // namespace

bool write_grammar_document(const tarvo::SchemaTable& grammar, std::string_view root, const std::string& path,
                            uint64_t target_bytes, DocumentStats& stats, std::string& error) {
    stats = DocumentStats{};
    int32_t root_index = tarvo::find_element(grammar, root);
    if (root_index < 0) {
        error = "grammar " + std::string(grammar.name) + " has no element " + std::string(root);
        return false;
    }
    return write_file_with(path, stats, error, [&](Writer& w, DocumentStats& tally) {
        GrammarWalk walk(grammar, w, tally, target_bytes);
        if (!walk.compute_costs()) {
            error = "grammar " + std::string(grammar.name) + " has an element that can never be closed";
            return false;
        }
        w.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
        return walk.element(root_index, 1);
    });
}

}  // namespace tarvo_bench
