// Writes a large, deterministic lumoCodeCoverage document for the benchmark.
#pragma once

#include <cstdint>
#include <string>

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
};

// Writes at least `target_bytes` (a little more: the document is closed
// properly) to `path`. The same target always gives the same bytes. On an
// I/O failure returns false with `error` set.
bool write_document(const std::string& path, uint64_t target_bytes, DocumentStats& stats, std::string& error);

}  // namespace tarvo_bench
