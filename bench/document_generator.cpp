#include "document_generator.h"

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

class Generator {
public:
    Generator(Writer& w, DocumentStats& stats, std::vector<std::string_view> types)
        : w_(w), stats_(stats), types_(std::move(types)), rng_(0x7a72766f2d62656eull) {}

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
        for (uint32_t i = 0; i < children; ++i)
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
};

}  // namespace

bool write_document(const std::string& path, uint64_t target_bytes, DocumentStats& stats, std::string& error) {
    stats = DocumentStats{};
    std::vector<std::string_view> types = node_types();
    if (types.empty()) {
        error = std::string("grammar ") + kBenchGrammar + " has no CodeCoverageResultNode type list";
        return false;
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    DocumentStats tally;
    bool ok = true;
    {
        Writer w(f, tally);
        Generator gen(w, tally, std::move(types));
        // The root leaves displayMode out (default "hits"); its one child is
        // the project node, under which subtrees are added until the target
        // size is reached.
        w.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CodeCoverageResults>\n");
        ++tally.elements;
        ++tally.defaults_filled;
        uint64_t serial = 0;
        ++tally.elements;
        ++tally.result_nodes;
        w.put("  <CodeCoverageResultNode name=\"project\" maxHit=\"0\" minHit=\"0\" type=\"bpmn_project\">\n");
        tally.defaults_filled += 2;
        tally.max_depth = 2;
        constexpr std::string_view kClose = "  </CodeCoverageResultNode>\n</CodeCoverageResults>\n";
        while (ok && w.written() + kClose.size() < target_bytes) ok = gen.node(3, serial);
        w.put(kClose);
        ok = ok && w.flush();
    }
    if (std::fclose(f) != 0) ok = false;
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    stats = tally;
    return true;
}

}  // namespace tarvo_bench
