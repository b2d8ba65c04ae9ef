// Writes a large, deterministic lumoCodeCoverage document for the benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo {
struct SchemaTable;
}

namespace tarvo_bench {

// The grammar every generated document is valid against.
inline constexpr const char* kBenchGrammar = "lumoCodeCoverage";

struct DocumentStats {
    uint64_t bytes = 0;
    uint64_t elements = 0;        // every start tag, root included
    uint64_t result_nodes = 0;    // CodeCoverageResultNode elements
    uint64_t text_runs = 0;       // CoveringTestcase texts (the only non-whitespace text)
    uint64_t defaults_filled = 0; // optional attributes left out of a node
    int max_depth = 0;            // deepest nesting, root = 1
    uint64_t attributes = 0;      // attributes written
};

// Variations of the coverage document: another seed gives another document
// of the same shape; `doctype` is written after the XML declaration.
struct DocumentOptions {
    uint64_t seed = 0x7a72766f2d62656eull;
    std::string doctype;
};

// Writes at least `target_bytes` (a little more: the document is closed
// properly) to `path`. The same target always gives the same bytes. On an
// I/O failure returns false with `error` set.
bool write_document(const std::string& path, uint64_t target_bytes, DocumentStats& stats, std::string& error,
                    const DocumentOptions& options = {});

// A document of any grammar, headed by `root`: a random walk through the
// compiled content models that prefers elements with many attributes, every
// required attribute and about half of the optional ones (the rest are left
// to their defaults), values from the allowed lists where there are any.
// Stops growing at `target_bytes` and then closes every open element by its
// shortest way. False with `error` set when the grammar cannot be walked or
// the file cannot be written.
bool write_grammar_document(const tarvo::SchemaTable& grammar, std::string_view root, const std::string& path,
                            uint64_t target_bytes, DocumentStats& stats, std::string& error);

}  // namespace tarvo_bench
