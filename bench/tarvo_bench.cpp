// tarvo-bench: throughput of tarvo against libexpat, libxml2's SAX parser,
// pugixml, Xerces-C (validating against an equivalent DTD), a bare tag
// scanner, the same scanner on a structural index and that index's first
// pass on one generated, attribute-heavy document. See bench/README.md.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>


#include "document_generator.h"
#include "peers.h"
#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace {

using namespace tarvo_bench;

constexpr double kMiB = 1024.0 * 1024.0;

// ---------------------------------------------------------------- parsers

// Every runner parses the whole file once and returns an empty string on
// success, otherwise what went wrong.
using Runner = std::function<std::string(const std::string& path)>;

class NoopHandler final : public tarvo::Handler {
public:
    bool start_tag(int, std::string_view, std::span<const tarvo::Attribute>) override { return true; }
    bool text(int, std::string_view, std::string_view) override { return true; }
    bool end_tag(int, std::string_view) override { return true; }
};

// The document kinds: the coverage document, or the attribute-heavy walk
// through a large grammar. Only the coverage one has a DTD to validate with.
struct DocumentKind {
    const char* key;
    const char* grammar;
    const char* root;
    bool has_dtd;
};
constexpr DocumentKind kKinds[] = {
    {"coverage", tarvo_bench::kBenchGrammar, "CodeCoverageResults", true},
    {"diagram", "lumoDiagram", "Diagram", false},
};
const DocumentKind* g_kind = &kKinds[0];
std::string g_dtd_path;  // the DTD the validating contenders use, if any

const tarvo::SchemaTable& bench_grammar() { return *tarvo::find_grammar(g_kind->grammar); }

std::string tarvo_outcome(const tarvo::Result& r) {
    if (r.status == tarvo::Status::ok && r.warnings().empty()) return {};
    return "status " + std::to_string(static_cast<int>(r.status)) + ": " +
           std::string(r.errors().empty() ? r.warnings() : r.errors());
}

std::string run_tarvo_core(const std::string& path) {
    return tarvo_outcome(tarvo::parse_file(bench_grammar(), path.c_str(), nullptr, tarvo::Flags::strict));
}

std::string run_tarvo_handler(const std::string& path) {
    NoopHandler handler;
    return tarvo_outcome(tarvo::parse_file(bench_grammar(), path.c_str(), &handler, tarvo::Flags::strict));
}


struct Contender {
    const char* key;    // for --only and --rss-probe
    const char* label;  // in the table
    Runner run;
    bool is_tarvo;
};

const std::vector<Contender>& contenders() {
    static const std::vector<Contender> all = {
        {"tarvo-core", "tarvo, no handler", run_tarvo_core, true},
        {"tarvo-handler", "tarvo, no-op Handler", run_tarvo_handler, true},
        {"expat", "libexpat, empty handlers", run_expat, false},
        {"libxml2", "libxml2 SAX2, empty handlers", run_libxml2, false},
#ifdef TARVO_BENCH_PUGIXML
        {"pugixml", "pugixml, in-place DOM", run_pugixml, false},
#endif
#ifdef TARVO_BENCH_XERCES
        {"xerces", "Xerces-C SAX2, validating (DTD)", run_xerces, false},
#endif
        {"scanner", "tag scanner (checks nothing)", run_scanner, false},
        {"walk", "tag scanner, walking marks", run_walk, false},
        {"marks", "structural marks (no tag read)", run_marks, false},
    };
    return all;
}

const Contender* find_contender(std::string_view key) {
    for (const Contender& c : contenders())
        if (key == c.key) return &c;
    return nullptr;
}

// ------------------------------------------------------- checks and memory

// Untimed: tarvo must deliver one start per element with every declared
// attribute, which proves that validation and defaulting really ran.
class CountingHandler final : public tarvo::Handler {
public:
    explicit CountingHandler(const tarvo::SchemaTable& g) : g_(g) {}
    uint64_t starts = 0, ends = 0, texts = 0, short_tags = 0;
    bool start_tag(int element, std::string_view, std::span<const tarvo::Attribute> attributes) override {
        ++starts;
        if (attributes.size() != static_cast<size_t>(g_.elements[element].attribute_count)) ++short_tags;
        return true;
    }
    bool text(int, std::string_view, std::string_view) override { return ++texts, true; }
    bool end_tag(int, std::string_view) override { return ++ends, true; }

private:
    const tarvo::SchemaTable& g_;
};

bool verify_events(const std::string& path, const DocumentStats* stats) {
    CountingHandler h(bench_grammar());
    tarvo::Result r = tarvo::parse_file(bench_grammar(), path.c_str(), &h, tarvo::Flags::strict);
    if (!r.ok()) {
        std::fprintf(stderr, "tarvo-bench: tarvo refused the document (status %d):\n%.*s\n",
                     static_cast<int>(r.status), static_cast<int>(r.errors().size()), r.errors().data());
        return false;
    }
    bool ok = h.starts == h.ends && h.short_tags == 0;
    if (stats) ok = ok && h.starts == stats->elements && h.texts == stats->text_runs;
    if (!ok) {
        std::fprintf(stderr,
                     "tarvo-bench: unexpected events: %llu starts, %llu ends, %llu texts, %llu start tags without "
                     "all their attributes\n",
                     static_cast<unsigned long long>(h.starts), static_cast<unsigned long long>(h.ends),
                     static_cast<unsigned long long>(h.texts), static_cast<unsigned long long>(h.short_tags));
        return false;
    }
    return true;
}

// ------------------------------------------------------------------- DTD

// The coverage grammar as a DTD, for the validating contenders. The content
// models are written out here (the grammar's successor rows say: test cases
// first, then child nodes, each any number of times; a test case holds
// text; the root holds one node); the attribute lists come from the
// compiled grammar, so names, allowed values and defaults cannot drift.
std::string coverage_dtd() {
    const tarvo::SchemaTable& g = *tarvo::find_grammar(tarvo_bench::kBenchGrammar);
    std::string out =
        "<!ELEMENT CodeCoverageResults (CodeCoverageResultNode)>\n"
        "<!ELEMENT CoveringTestcase (#PCDATA)>\n"
        "<!ELEMENT CodeCoverageResultNode (CoveringTestcase*, CodeCoverageResultNode*)>\n";
    for (int32_t e = 0; e < g.element_count; ++e) {
        const tarvo::ElementRule& r = g.elements[e];
        if (r.attribute_count == 0) continue;
        out.append("<!ATTLIST ").append(r.name, r.name_length);
        for (int32_t i = 0; i < r.attribute_count; ++i) {
            const tarvo::AttributeRule& a = r.attributes[i];
            out.append("\n  ").append(a.name, a.name_length).append(" ");
            if (a.allowed_count == 0) {
                out.append("CDATA");
            } else {
                out.append("(");
                for (int32_t k = 0; k < a.allowed_count; ++k)
                    out.append(k ? "|" : "").append(a.allowed[k], a.allowed_lengths[k]);
                out.append(")");
            }
            if (a.default_value)
                out.append(" \"").append(a.default_value, a.default_length).append("\"");
            else
                out.append(" #REQUIRED");
        }
        out.append(">\n");
    }
    return out;
}

bool write_file(const std::string& path, const std::string& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

// A field of /proc/self/status in KiB, or -1.
long proc_status_kib(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    size_t len = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, len) == 0 && line[len] == ':') {
            value = std::strtol(line + len + 1, nullptr, 10);
            break;
        }
    std::fclose(f);
    return value;
}

long peak_rss_kib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Child side of --memory-check: one parse in a fresh process, so the
// high-water mark belongs to that parse alone. Prints "before after" in KiB.
int rss_probe(const char* key, const std::string& path) {
    const Contender* c = find_contender(key);
    if (!c) return 2;
    long before = proc_status_kib("VmHWM");
    std::string err = c->run(path);
    long after = proc_status_kib("VmHWM");
    if (!err.empty()) {
        std::fprintf(stderr, "tarvo-bench: %s: %s\n", key, err.c_str());
        return 1;
    }
    std::printf("%ld %ld\n", before, after);
    return 0;
}

// Parent side: runs `self --rss-probe key path` and reads its answer.
bool probe_child(const char* key, const std::string& path, long& before, long& after) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execl("/proc/self/exe", "tarvo-bench", "--rss-probe", key, path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    return std::sscanf(out.c_str(), "%ld %ld", &before, &after) == 2;
}

// ------------------------------------------------------------------ driver

struct Options {
    uint64_t size_mb = 64;
    int repeat = 3;
    std::string write_path;     // --write-document: generate, report, exit
    std::string document_path;  // --document: time an existing file
    std::vector<std::string> only;
    bool memory_check = false;
    uint64_t small_files = 0;  // --small-files: that many small documents instead of one large
    uint64_t size_kb = 4;      // their size
    std::string small_dir;     // --write-small-documents: write them there and exit
};

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: tarvo-bench [--kind coverage|diagram] [--size-mb N] [--repeat N] [--only NAME,...]\n"
                 "                   [--document PATH]\n"
                 "       tarvo-bench --write-document PATH [--kind coverage|diagram] [--size-mb N]\n"
                 "       tarvo-bench --small-files N [--size-kb K] [--repeat N] [--only NAME,...]\n"
                 "       tarvo-bench --write-small-documents DIR [--small-files N] [--size-kb K]\n"
                 "       tarvo-bench --memory-check [--size-mb N]\n"
                 "Generates a document of N MiB (default 64; kind coverage: %s, the default; diagram: an\n"
                 "attribute-heavy lumoDiagram document) and times tarvo (no handler and a no-op Handler),\n"
                 "libexpat, libxml2's SAX parser, pugixml, Xerces-C validating against a DTD, a bare tag\n"
                 "scanner, the same scanner walking a structural index, and that index's first pass alone\n"
                 "(marks found, no tag read) on it, best of --repeat runs (default 3). --small-files times N\n"
                 "documents of about K KiB (default 4) instead, each with a DOCTYPE naming the DTD written\n"
                 "next to them.\n"
                 "NAME is one of tarvo-core, tarvo-handler, expat, libxml2, pugixml, xerces, scanner, walk,\n"
                 "marks.\n",
                 tarvo_bench::kBenchGrammar);
}

bool parse_count(const char* text, uint64_t& out) {
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (!*text || *end || v == 0) return false;
    out = v;
    return true;
}

std::string temp_document() {
    const char* dir = std::getenv("TMPDIR");
    std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/tarvo-bench-XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd < 0) return {};
    close(fd);
    return tmpl;
}

bool generate(const std::string& path, uint64_t size_mb, DocumentStats& stats) {
    std::string error;
    auto t0 = std::chrono::steady_clock::now();
    // A coverage document names its DTD, written next to it as PATH.dtd, so
    // that a validating parser given the file alone finds it.
    tarvo_bench::DocumentOptions o;
    if (g_kind->has_dtd) {
        std::string base = path.substr(path.find_last_of('/') + 1);
        o.doctype = std::string("<!DOCTYPE ") + g_kind->root + " SYSTEM \"" + base + ".dtd\">";
        if (!write_file(path + ".dtd", coverage_dtd())) {
            std::fprintf(stderr, "tarvo-bench: cannot write %s.dtd\n", path.c_str());
            return false;
        }
    }
    bool ok = g_kind->has_dtd
                  ? tarvo_bench::write_document(path, size_mb * 1024 * 1024, stats, error, o)
                  : tarvo_bench::write_grammar_document(bench_grammar(), g_kind->root, path, size_mb * 1024 * 1024,
                                                        stats, error);
    if (!ok) {
        std::fprintf(stderr, "tarvo-bench: %s\n", error.c_str());
        return false;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("document: %s, grammar %s, %llu bytes (%.1f MiB), generated in %.2f s\n", path.c_str(),
                g_kind->grammar, static_cast<unsigned long long>(stats.bytes), stats.bytes / kMiB, s);
    if (stats.result_nodes)
        std::printf("          %llu elements (%llu result nodes, %llu texts), depth %d, %llu attributes left to "
                    "their defaults\n",
                    static_cast<unsigned long long>(stats.elements),
                    static_cast<unsigned long long>(stats.result_nodes),
                    static_cast<unsigned long long>(stats.text_runs), stats.max_depth,
                    static_cast<unsigned long long>(stats.defaults_filled));
    else
        std::printf("          %llu elements, %llu texts, depth %d, %llu attributes written, %llu left to their "
                    "defaults\n",
                    static_cast<unsigned long long>(stats.elements), static_cast<unsigned long long>(stats.text_runs),
                    stats.max_depth, static_cast<unsigned long long>(stats.attributes),
                    static_cast<unsigned long long>(stats.defaults_filled));
    return true;
}

int memory_check(const Options& opt) {
    std::vector<uint64_t> sizes = {8, opt.size_mb};
    if (opt.size_mb == 8) sizes = {8, 64};
    std::sort(sizes.begin(), sizes.end());
    struct Row {
        std::string label;
        std::vector<long> growth;
    };
    long baseline = 0;
    std::vector<Row> rows;
    // The validating contender needs a DTD the probe does not write.
    std::vector<const Contender*> probed;
    for (const Contender& c : contenders())
        if (c.key != std::string_view("xerces")) probed.push_back(&c);
    for (const Contender* c : probed) rows.push_back({c->label, {}});
    for (uint64_t mb : sizes) {
        std::string path = temp_document();
        DocumentStats stats;
        if (path.empty() || !generate(path, mb, stats)) return 1;
        for (size_t i = 0; i < probed.size(); ++i) {
            long before = 0, after = 0;
            if (!probe_child(probed[i]->key, path, before, after)) {
                std::fprintf(stderr, "tarvo-bench: the %s probe failed\n", probed[i]->key);
                std::remove(path.c_str());
                return 1;
            }
            rows[i].growth.push_back(after - before);
            baseline = std::max(baseline, before);
        }
        std::remove(path.c_str());
        std::remove((path + ".dtd").c_str());
    }
    std::printf("\nGrowth of the peak RSS (VmHWM) during one parse, each in a fresh process:\n\n");
    std::printf("%-30s", "parser");
    for (uint64_t mb : sizes) std::printf("  %9llu MiB", static_cast<unsigned long long>(mb));
    std::printf("\n");
    for (const Row& r : rows) {
        std::printf("%-30s", r.label.c_str());
        for (long g : r.growth) std::printf("  %9ld KiB", g);
        std::printf("\n");
    }
    std::printf("\n(each process had reached at most %ld KiB before its parse began)\n", baseline);
    return 0;
}

// The contenders --only chose, in table order; the validating ones only
// when there is a DTD for the document.
std::vector<const Contender*> chosen_contenders(const Options& opt) {
    std::vector<const Contender*> chosen;
    for (const Contender& c : contenders()) {
        if (!opt.only.empty() && std::find(opt.only.begin(), opt.only.end(), c.key) == opt.only.end()) continue;
        if (c.key == std::string_view("xerces") && g_dtd_path.empty()) continue;
        chosen.push_back(&c);
    }
    return chosen;
}

// Times every chosen contender over `paths`, round-robin, `repeat` rounds;
// each one's best round counts. False after printing the first failure.
bool time_contenders(const std::vector<const Contender*>& chosen, const std::vector<std::string>& paths, int repeat,
                     std::vector<double>& best) {
    best.assign(chosen.size(), 1e300);
    // Round-robin over the parsers so that a slow moment of the machine does
    // not favour one of them.
    for (int r = 0; r < repeat; ++r)
        for (size_t i = 0; i < chosen.size(); ++i) {
            auto t0 = std::chrono::steady_clock::now();
            for (const std::string& path : paths) {
                std::string err = chosen[i]->run(path);
                if (!err.empty()) {
                    std::fprintf(stderr, "tarvo-bench: %s failed on %s: %s\n", chosen[i]->label, path.c_str(),
                                 err.c_str());
                    return false;
                }
            }
            double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            best[i] = std::min(best[i], s);
        }
    return true;
}

// The table: time, MB/s, each tarvo variant against libexpat and libxml2,
// and every contender as a fraction of the bare scanner's speed.
void print_table(const std::vector<const Contender*>& chosen, const std::vector<double>& best, double bytes,
                 double files) {
    auto rate = [&](std::string_view key) {
        for (size_t i = 0; i < chosen.size(); ++i)
            if (key == chosen[i]->key) return bytes / kMiB / best[i];
        return 0.0;
    };
    double expat = rate("expat"), libxml2 = rate("libxml2"), scanner = rate("scanner");
    std::printf("%-32s %9s %9s", "parser", "time (s)", "MB/s");
    if (files > 1) std::printf(" %9s", "files/s");
    std::printf(" %9s %10s %11s\n", "vs expat", "vs libxml2", "scan limit");
    for (size_t i = 0; i < chosen.size(); ++i) {
        double mbs = bytes / kMiB / best[i];
        std::printf("%-32s %9.3f %9.1f", chosen[i]->label, best[i], mbs);
        if (files > 1) std::printf(" %9.0f", files / best[i]);
        if (chosen[i]->is_tarvo && expat > 0)
            std::printf(" %8.2fx", mbs / expat);
        else
            std::printf(" %9s", "");
        if (chosen[i]->is_tarvo && libxml2 > 0)
            std::printf(" %9.2fx", mbs / libxml2);
        else
            std::printf(" %10s", "");
        if (scanner > 0) std::printf(" %11.2f", mbs / scanner);
        std::printf("\n");
    }
    if (scanner > 0) {
        std::printf("\nfraction of the scanning limit:");
        const char* sep = " ";
        for (size_t i = 0; i < chosen.size(); ++i)
            if (chosen[i]->is_tarvo) {
                std::printf("%s%s %.2f", sep, chosen[i]->label, bytes / kMiB / best[i] / scanner);
                sep = ", ";
            }
        std::printf("\n");
    }
}

int benchmark(const Options& opt) {
    std::string path = opt.document_path;
    bool temporary = path.empty();
    DocumentStats stats;
    if (temporary) {
        path = temp_document();
        if (path.empty()) {
            std::perror("tarvo-bench: mkstemp");
            return 1;
        }
        if (!generate(path, opt.size_mb, stats)) {
            std::remove(path.c_str());
            return 1;
        }
    }
    if (temporary && g_kind->has_dtd) g_dtd_path = path + ".dtd";
    struct Cleanup {
        const std::string& p;
        bool on;
        ~Cleanup() {
            if (on) std::remove(p.c_str());
            if (!g_dtd_path.empty()) std::remove(g_dtd_path.c_str());
        }
    } cleanup{path, temporary};

    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "tarvo-bench: cannot open %s\n", path.c_str());
        return 1;
    }
    std::fseek(f, 0, SEEK_END);
    double bytes = static_cast<double>(std::ftell(f));
    std::fclose(f);

    if (!verify_events(path, temporary ? &stats : nullptr)) return 1;
    std::string scan_error = run_scanner(path);
    if (!scan_error.empty() || (temporary && last_scan().start_tags != stats.elements)) {
        std::fprintf(stderr, "tarvo-bench: the tag scanner found %llu start tags: %s\n",
                     static_cast<unsigned long long>(last_scan().start_tags), scan_error.c_str());
        return 1;
    }
    std::string walk_error = run_walk(path);
    const ScanCounts scan = last_scan(), walk = last_walk();
    if (!walk_error.empty() || walk != scan) {
        std::fprintf(stderr, "tarvo-bench: walking marks found %llu start tags, %llu attributes: %s\n",
                     static_cast<unsigned long long>(walk.start_tags), static_cast<unsigned long long>(walk.attributes),
                     walk_error.c_str());
        return 1;
    }

    std::vector<const Contender*> chosen = chosen_contenders(opt);
    std::vector<double> best;
    if (!time_contenders(chosen, {path}, opt.repeat, best)) return 1;
    std::printf("\nbest of %d runs, 1 MB = 2^20 bytes\n\n", opt.repeat);
    print_table(chosen, best, bytes, 1);
    std::printf("\npeak RSS of this process: %.1f MiB (document: %.1f MiB)\n", peak_rss_kib() / 1024.0, bytes / kMiB);
    return 0;
}

// Many small coverage documents, each different (its own seed), each with a
// DOCTYPE naming the DTD written next to them, so that a validating tool
// given only the files can check them.
bool write_small_documents(const std::string& dir, uint64_t count, uint64_t size_kb, std::vector<std::string>& paths,
                           double& bytes) {
    const std::string dtd_name = std::string(tarvo_bench::kBenchGrammar) + ".dtd";
    if (!write_file(dir + "/" + dtd_name, coverage_dtd())) {
        std::fprintf(stderr, "tarvo-bench: cannot write %s/%s\n", dir.c_str(), dtd_name.c_str());
        return false;
    }
    tarvo_bench::DocumentOptions o;
    o.doctype = "<!DOCTYPE CodeCoverageResults SYSTEM \"" + dtd_name + "\">";
    bytes = 0;
    for (uint64_t i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/doc%05llu.xml", static_cast<unsigned long long>(i));
        paths.push_back(dir + name);
        o.seed = 0x736d616c6cull + i * 0x9e3779b97f4a7c15ull;
        DocumentStats stats;
        std::string error;
        if (!tarvo_bench::write_document(paths.back(), size_kb * 1024, stats, error, o)) {
            std::fprintf(stderr, "tarvo-bench: %s\n", error.c_str());
            return false;
        }
        bytes += static_cast<double>(stats.bytes);
    }
    return true;
}

int small_files(const Options& opt) {
    std::string dir = opt.small_dir;
    bool temporary = dir.empty();
    if (temporary) {
        const char* tmp = std::getenv("TMPDIR");
        dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvo-bench-small-XXXXXX";
        if (!mkdtemp(dir.data())) {
            std::perror("tarvo-bench: mkdtemp");
            return 1;
        }
    }
    std::vector<std::string> paths;
    double bytes = 0;
    bool ok = write_small_documents(dir, opt.small_files, opt.size_kb, paths, bytes);
    std::printf("%llu documents of grammar %s in %s, %.0f bytes on average\n",
                static_cast<unsigned long long>(paths.size()), tarvo_bench::kBenchGrammar, dir.c_str(),
                paths.empty() ? 0.0 : bytes / static_cast<double>(paths.size()));
    if (ok && temporary) {
        g_dtd_path = dir + "/" + tarvo_bench::kBenchGrammar + ".dtd";
        for (const std::string& p : paths) ok = ok && verify_events(p, nullptr);
        std::vector<const Contender*> chosen = chosen_contenders(opt);
        std::vector<double> best;
        if (ok && time_contenders(chosen, paths, opt.repeat, best)) {
            std::printf("\nin this process, one thread, best of %d rounds, 1 MB = 2^20 bytes\n\n", opt.repeat);
            print_table(chosen, best, bytes, static_cast<double>(paths.size()));
        } else {
            ok = false;
        }
    }
    if (temporary) {
        for (const std::string& p : paths) std::remove(p.c_str());
        std::remove((dir + "/" + tarvo_bench::kBenchGrammar + ".dtd").c_str());
        rmdir(dir.c_str());
    }
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--rss-probe") == 0) return rss_probe(argv[2], argv[3]);

    Options opt;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        bool has_value = i + 1 < argc;
        uint64_t n = 0;
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--size-mb" && has_value && parse_count(argv[i + 1], n)) {
            opt.size_mb = n;
            ++i;
        } else if (a == "--repeat" && has_value && parse_count(argv[i + 1], n)) {
            opt.repeat = static_cast<int>(n);
            ++i;
        } else if (a == "--write-document" && has_value) {
            opt.write_path = argv[++i];
        } else if (a == "--document" && has_value) {
            opt.document_path = argv[++i];
        } else if (a == "--only" && has_value) {
            std::string_view list = argv[++i];
            while (!list.empty()) {
                size_t comma = list.find(',');
                std::string key(list.substr(0, comma));
                if (!find_contender(key)) {
                    std::fprintf(stderr, "tarvo-bench: unknown parser '%s'\n", key.c_str());
                    usage(stderr);
                    return 2;
                }
                opt.only.push_back(key);
                list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
            }
        } else if (a == "--memory-check") {
            opt.memory_check = true;
        } else if (a == "--small-files" && has_value && parse_count(argv[i + 1], n)) {
            opt.small_files = n;
            ++i;
        } else if (a == "--size-kb" && has_value && parse_count(argv[i + 1], n)) {
            opt.size_kb = n;
            ++i;
        } else if (a == "--write-small-documents" && has_value) {
            opt.small_dir = argv[++i];
        } else if (a == "--kind" && has_value) {
            std::string_view k = argv[++i];
            g_kind = nullptr;
            for (const DocumentKind& d : kKinds)
                if (k == d.key) g_kind = &d;
            if (!g_kind) {
                std::fprintf(stderr, "tarvo-bench: unknown document kind '%s'\n", argv[i]);
                usage(stderr);
                return 2;
            }
        } else {
            std::fprintf(stderr, "tarvo-bench: bad argument '%s'\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }
    if (!tarvo::find_grammar(g_kind->grammar) || !tarvo::find_grammar(tarvo_bench::kBenchGrammar)) {
        std::fprintf(stderr, "tarvo-bench: grammar %s is not registered\n", g_kind->grammar);
        return 1;
    }
    const Peers peers;

    if (!opt.write_path.empty()) {
        DocumentStats stats;
        return generate(opt.write_path, opt.size_mb, stats) ? 0 : 1;
    }
    if (!opt.small_dir.empty() && opt.small_files == 0) opt.small_files = 5000;
    return opt.memory_check ? memory_check(opt) : opt.small_files ? small_files(opt) : benchmark(opt);
}
