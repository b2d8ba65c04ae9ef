// tarvo-bench's peers: other parsers, each with empty handlers, and the
// limits tarvo is measured against: a bare tag scanner, the same scanner
// walking a whole-buffer structural index, and that index's first pass
// alone. Every runner reads the whole file once and returns an empty string
// on success, otherwise what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvo_bench {

// The peer libraries' global setup, for as long as it lives.
struct Peers {
    Peers();
    ~Peers();
    Peers(const Peers&) = delete;
    Peers& operator=(const Peers&) = delete;
};

// The size of every streaming peer's reads.
inline constexpr size_t kChunk = 64 * 1024;

std::string run_expat(const std::string& path);
std::string run_libxml2(const std::string& path);
#ifdef TARVO_BENCH_PUGIXML
std::string run_pugixml(const std::string& path);
#endif
#ifdef TARVO_BENCH_XERCES
// Validates against the DTD the document's DOCTYPE names.
std::string run_xerces(const std::string& path);
#endif

// The scanning limit: finds every tag, its name and its attribute values
// with memchr-style scans and checks nothing (no nesting, no entities, no
// grammar).
std::string run_scanner(const std::string& path);
// What the last run_scanner found, compared with the generator's counts.
struct ScanCounts {
    uint64_t start_tags = 0, attributes = 0, value_bytes = 0;
    bool operator==(const ScanCounts&) const = default;
};
ScanCounts last_scan();

// The tag scanner again, the tags, names and values found from marks
// instead of by memchr-style scans: every '<', '>', quote and '=' of each
// 64-byte block found at once (as run_marks does), then visited in order by
// a small state machine. What a reader built on such an index would do
// before checking anything; last_walk() must equal last_scan().
std::string run_walk(const std::string& path);
ScanCounts last_walk();

// The indexing limit: marks every '<', '>', quote and '&' of each 64-byte
// block at once (SSE2 on x86-64, a byte loop elsewhere), visits each mark in
// order and counts the line feeds. That is the pass a reader built on such
// an index would make before any tag is read.
std::string run_marks(const std::string& path);

}  // namespace tarvo_bench
