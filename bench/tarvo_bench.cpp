// tarvo-bench: throughput of tarvo against libexpat and libxml2's SAX parser
// on one generated, attribute-heavy document. See bench/README.md.
#include <expat.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
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
#include "tarvo/tarvo.h"

namespace {

using tarvo_bench::DocumentStats;

constexpr double kMiB = 1024.0 * 1024.0;
constexpr size_t kChunk = 64 * 1024;

// ---------------------------------------------------------------- parsers

// Every runner parses the whole file once and returns an empty string on
// success, otherwise what went wrong.
using Runner = std::function<std::string(const std::string& path)>;

class NoopHandler final : public tarvo::Handler {
public:
    void start_tag(int, std::string_view, std::span<const tarvo::Attribute>) override {}
    void text(int, std::string_view, std::string_view) override {}
    void end_tag(int, std::string_view) override {}
};

const tarvo::SchemaTable& bench_grammar() {
    static const tarvo::SchemaTable* g = tarvo::find_grammar(tarvo_bench::kBenchGrammar);
    return *g;
}

std::string tarvo_outcome(const tarvo::Result& r) {
    if (r.status == tarvo::kStatusOk && r.warnings.empty()) return {};
    return "status " + std::to_string(r.status) + ": " + (r.errors.empty() ? r.warnings : r.errors);
}

std::string run_tarvo_core(const std::string& path) {
    return tarvo_outcome(tarvo::parse_file(bench_grammar(), path.c_str(), nullptr, tarvo::PARSE_STRICT));
}

std::string run_tarvo_handler(const std::string& path) {
    NoopHandler handler;
    return tarvo_outcome(tarvo::parse_file(bench_grammar(), path.c_str(), &handler, tarvo::PARSE_STRICT));
}

void XMLCALL expat_start(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL expat_end(void*, const XML_Char*) {}
void XMLCALL expat_text(void*, const XML_Char*, int) {}

std::string run_expat(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "cannot open " + path;
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetElementHandler(p, expat_start, expat_end);
    XML_SetCharacterDataHandler(p, expat_text);
    std::vector<char> buf(kChunk);
    std::string error;
    for (;;) {
        size_t n = std::fread(buf.data(), 1, buf.size(), f);
        bool last = n < buf.size();
        if (XML_Parse(p, buf.data(), static_cast<int>(n), last) == XML_STATUS_ERROR) {
            error = std::string("line ") + std::to_string(XML_GetCurrentLineNumber(p)) + ": " +
                    XML_ErrorString(XML_GetErrorCode(p));
            break;
        }
        if (last) break;
    }
    XML_ParserFree(p);
    std::fclose(f);
    return error;
}

void libxml2_start(void*, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**, int, int,
                   const xmlChar**) {}
void libxml2_end(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}
void libxml2_text(void*, const xmlChar*, int) {}

// Counts problems instead of printing them; the first one is kept.
void libxml2_error(void* user, xmlErrorPtr e) {
    auto* first = static_cast<std::string*>(user);
    if (first->empty() && e) first->assign("line " + std::to_string(e->line) + ": " + (e->message ? e->message : "?"));
}

std::string run_libxml2(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "cannot open " + path;
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = libxml2_start;
    sax.endElementNs = libxml2_end;
    sax.characters = libxml2_text;
    sax.ignorableWhitespace = libxml2_text;
    std::string error;
    sax.serror = libxml2_error;

    std::vector<char> buf(kChunk);
    size_t n = std::fread(buf.data(), 1, buf.size(), f);
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, &error, buf.data(), static_cast<int>(n), path.c_str());
    if (!ctxt) {
        std::fclose(f);
        return "cannot create a libxml2 push parser";
    }
    // The user data pointer doubles as the error sink (serror receives it).
    ctxt->userData = &error;
    bool last = n < buf.size();
    while (!last) {
        n = std::fread(buf.data(), 1, buf.size(), f);
        last = n < buf.size();
        if (xmlParseChunk(ctxt, buf.data(), static_cast<int>(n), last) != 0 && error.empty()) {
            error = "xmlParseChunk failed";
            break;
        }
    }
    if (last && !ctxt->wellFormed && error.empty()) error = "document is not well-formed";
    xmlFreeParserCtxt(ctxt);
    std::fclose(f);
    return error;
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
    };
    return all;
}

const Contender* find_contender(std::string_view key) {
    for (const Contender& c : contenders())
        if (key == c.key) return &c;
    return nullptr;
}

// ------------------------------------------------------- checks and memory

// Untimed: tarvo must deliver one start per element and fill every declared
// attribute, which proves that validation and defaulting really ran.
class CountingHandler final : public tarvo::Handler {
public:
    uint64_t starts = 0, ends = 0, texts = 0, short_nodes = 0;
    void start_tag(int, std::string_view name, std::span<const tarvo::Attribute> attributes) override {
        ++starts;
        if (name == "CodeCoverageResultNode" && attributes.size() != 6) ++short_nodes;
    }
    void text(int, std::string_view, std::string_view) override { ++texts; }
    void end_tag(int, std::string_view) override { ++ends; }
};

bool verify_events(const std::string& path, const DocumentStats* stats) {
    CountingHandler h;
    tarvo::Result r = tarvo::parse_file(bench_grammar(), path.c_str(), &h, tarvo::PARSE_STRICT);
    if (!r.ok()) {
        std::fprintf(stderr, "tarvo-bench: tarvo refused the document (status %d):\n%s\n", r.status, r.errors.c_str());
        return false;
    }
    bool ok = h.starts == h.ends && h.short_nodes == 0;
    if (stats) ok = ok && h.starts == stats->elements && h.texts == stats->text_runs;
    if (!ok) {
        std::fprintf(stderr,
                     "tarvo-bench: unexpected events: %llu starts, %llu ends, %llu texts, %llu nodes without all "
                     "six attributes\n",
                     static_cast<unsigned long long>(h.starts), static_cast<unsigned long long>(h.ends),
                     static_cast<unsigned long long>(h.texts), static_cast<unsigned long long>(h.short_nodes));
        return false;
    }
    return true;
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
};

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: tarvo-bench [--size-mb N] [--repeat N] [--only NAME,...] [--document PATH]\n"
                 "       tarvo-bench --write-document PATH [--size-mb N]\n"
                 "       tarvo-bench --memory-check [--size-mb N]\n"
                 "Generates a %s document of N MiB (default 64) and times tarvo (no handler and a no-op\n"
                 "Handler), libexpat and libxml2's SAX parser on it, best of --repeat runs (default 3).\n"
                 "NAME is one of tarvo-core, tarvo-handler, expat, libxml2.\n",
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
    if (!tarvo_bench::write_document(path, size_mb * 1024 * 1024, stats, error)) {
        std::fprintf(stderr, "tarvo-bench: %s\n", error.c_str());
        return false;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("document: %s, grammar %s, %llu bytes (%.1f MiB), generated in %.2f s\n", path.c_str(),
                tarvo_bench::kBenchGrammar, static_cast<unsigned long long>(stats.bytes), stats.bytes / kMiB, s);
    std::printf("          %llu elements (%llu result nodes, %llu texts), depth %d, %llu attributes left to "
                "their defaults\n",
                static_cast<unsigned long long>(stats.elements), static_cast<unsigned long long>(stats.result_nodes),
                static_cast<unsigned long long>(stats.text_runs), stats.max_depth,
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
    for (const Contender& c : contenders()) rows.push_back({c.label, {}});
    for (uint64_t mb : sizes) {
        std::string path = temp_document();
        DocumentStats stats;
        if (path.empty() || !generate(path, mb, stats)) return 1;
        for (size_t i = 0; i < contenders().size(); ++i) {
            long before = 0, after = 0;
            if (!probe_child(contenders()[i].key, path, before, after)) {
                std::fprintf(stderr, "tarvo-bench: the %s probe failed\n", contenders()[i].key);
                std::remove(path.c_str());
                return 1;
            }
            rows[i].growth.push_back(after - before);
            baseline = std::max(baseline, before);
        }
        std::remove(path.c_str());
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
    struct Cleanup {
        const std::string& p;
        bool on;
        ~Cleanup() {
            if (on) std::remove(p.c_str());
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

    std::vector<const Contender*> chosen;
    for (const Contender& c : contenders())
        if (opt.only.empty() || std::find(opt.only.begin(), opt.only.end(), c.key) != opt.only.end())
            chosen.push_back(&c);
    std::vector<double> best(chosen.size(), 1e300);

    // Round-robin over the parsers so that a slow moment of the machine does
    // not favour one of them.
    for (int r = 0; r < opt.repeat; ++r)
        for (size_t i = 0; i < chosen.size(); ++i) {
            auto t0 = std::chrono::steady_clock::now();
            std::string err = chosen[i]->run(path);
            double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            if (!err.empty()) {
                std::fprintf(stderr, "tarvo-bench: %s failed: %s\n", chosen[i]->label, err.c_str());
                return 1;
            }
            best[i] = std::min(best[i], s);
        }

    auto rate = [&](std::string_view key) {
        for (size_t i = 0; i < chosen.size(); ++i)
            if (key == chosen[i]->key) return bytes / kMiB / best[i];
        return 0.0;
    };
    double expat = rate("expat"), libxml2 = rate("libxml2");

    std::printf("\nbest of %d runs, 1 MB = 2^20 bytes\n\n", opt.repeat);
    std::printf("%-30s %10s %10s %11s %11s\n", "parser", "time (s)", "MB/s", "vs expat", "vs libxml2");
    for (size_t i = 0; i < chosen.size(); ++i) {
        double mbs = bytes / kMiB / best[i];
        std::printf("%-30s %10.3f %10.1f", chosen[i]->label, best[i], mbs);
        if (chosen[i]->is_tarvo) {
            if (expat > 0)
                std::printf(" %10.2fx", mbs / expat);
            else
                std::printf(" %11s", "-");
            if (libxml2 > 0) std::printf(" %10.2fx", mbs / libxml2);
        }
        std::printf("\n");
    }
    std::printf("\npeak RSS of this process: %.1f MiB (document: %.1f MiB)\n", peak_rss_kib() / 1024.0, bytes / kMiB);
    return 0;
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
        } else {
            std::fprintf(stderr, "tarvo-bench: bad argument '%s'\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }
    if (!tarvo::find_grammar(tarvo_bench::kBenchGrammar)) {
        std::fprintf(stderr, "tarvo-bench: grammar %s is not registered\n", tarvo_bench::kBenchGrammar);
        return 1;
    }
    xmlInitParser();

    if (!opt.write_path.empty()) {
        DocumentStats stats;
        return generate(opt.write_path, opt.size_mb, stats) ? 0 : 1;
    }
    int rc = opt.memory_check ? memory_check(opt) : benchmark(opt);
    xmlCleanupParser();
    return rc;
}
