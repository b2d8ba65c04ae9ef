// tarvo-grammar-bench: grammar files as hostile input. Each case writes a
// grammar file with very many declared names, loads it with load_grammar()
// and reads a document that looks those names up over and over; it prints
// the load time and the parse time per tag, best of --repeat runs.
//
// The names are of two kinds: ordinary counters (`Item00000x`...), which
// differ in a few bytes only, and crafted ones that agree in their length
// and in the bytes at positions 0, n/4, n/2 and n - 1, so that a hash that
// reads only those bytes sends them all to one slot.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tarvo/grammar.h"
#include "tarvo/tarvo.h"

namespace {

std::string counter(const char* prefix, size_t i, const char* suffix) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%06zu%s", prefix, i, suffix);
    return buf;
}

// Ten letters: 'C', 'c', 'c' and 'z' at positions 0, 2, 5 and 9 (n/4, n/2
// and n - 1 for n = 10), `i` in base 26 at the other six.
std::string crafted(size_t i) {
    std::string s = "C?c??c???z";
    for (size_t at : {1, 3, 4, 6, 7, 8}) {
        s[at] = static_cast<char>('a' + i % 26);
        i /= 26;
    }
    return s;
}

struct Case {
    const char* name;
    const char* what;
    std::string grammar;
    std::string document;
    size_t lookups;  // names looked up by one parse
};

std::string header(const char* name) { return std::string("grammar ") + name + "\nsource none\n"; }

// A root and `count` elements, each allowed after the one before (the last
// wraps around); the document is `tags` empty tags along that chain.
Case element_chain(const char* name, const char* what, size_t count, size_t tags,
                   const std::function<std::string(size_t)>& element) {
    Case c{name, what, header(name), "", tags};
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) names.push_back(element(i));
    c.grammar += "element 0 Root\n  first " + names[0] + "/0\n  row 0 (none)\n";
    for (size_t i = 0; i < count; ++i)
        c.grammar += "element " + std::to_string(i + 1) + " " + names[i] + "\n  first END\n  row 0 " +
                     names[(i + 1) % count] + "/0 END\n";
    c.document = "<?xml version=\"1.0\"?>\n<Root>\n";
    for (size_t t = 0; t < tags; ++t) c.document += "<" + names[t % count] + "/>\n";
    c.document += "</Root>\n";
    return c;
}

// One element declaring `count` attributes; the document has `tags` tags
// that give every one of them, in reverse order of declaration.
Case attributes(const char* name, const char* what, size_t count, size_t tags,
                const std::function<std::string(size_t)>& attribute) {
    Case c{name, what, header(name), "", count * tags};
    c.grammar += "element 0 Root\n  first Wide/0 END\n  row 0 (none)\nelement 1 Wide\n  first END\n  row 0 Wide/0 END\n";
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        names.push_back(attribute(i));
        c.grammar += "  attr " + names.back() + " required\n";
    }
    std::string tag = "<Wide";
    for (size_t i = count; i-- > 0;) tag += " " + names[i] + "=\"v\"";
    tag += "/>\n";
    c.document = "<?xml version=\"1.0\"?>\n<Root>\n";
    for (size_t t = 0; t < tags; ++t) c.document += tag;
    c.document += "</Root>\n";
    return c;
}

// One attribute listing `count` allowed values; `tags` tags each give one,
// from the last listed back.
Case values(const char* name, const char* what, size_t count, size_t tags) {
    Case c{name, what, header(name), "", tags};
    c.grammar += "element 0 Root\n  first V/0 END\n  row 0 (none)\nelement 1 V\n  first END\n  row 0 V/0 END\n"
                 "  attr a required values";
    for (size_t i = 0; i < count; ++i) c.grammar += " \"" + counter("v", i, "") + "\"";
    c.grammar += "\n";
    c.document = "<?xml version=\"1.0\"?>\n<Root>\n";
    for (size_t t = 0; t < tags; ++t) c.document += "<V a=\"" + counter("v", count - 1 - t % count, "") + "\"/>\n";
    c.document += "</Root>\n";
    return c;
}

// A root whose first list names `count` elements; the document is one tag,
// the last of them.
Case long_list(const char* name, const char* what, size_t count) {
    Case c{name, what, header(name), "", 1};
    std::string list;
    for (size_t i = 0; i < count; ++i) list.append(" ").append(counter("Item", i, "x")).append("/0");
    c.grammar += "element 0 Root\n  first" + list + " END\n  row 0 (none)\n";
    for (size_t i = 0; i < count; ++i)
        c.grammar += "element " + std::to_string(i + 1) + " " + counter("Item", i, "x") + "\n  first END\n  row 0 END\n";
    c.document = "<?xml version=\"1.0\"?>\n<Root><" + counter("Item", count - 1, "x") + "/></Root>\n";
    return c;
}

std::vector<Case> cases() {
    auto item = [](size_t i) { return counter("Item", i, "x"); };
    auto attr = [](size_t i) { return counter("attr", i, ""); };
    std::vector<Case> out;
    out.push_back(element_chain("elements_counter", "32,766 elements Item000000x.., 200,000 tags", 32766, 200000, item));
    out.push_back(element_chain("elements_crafted", "32,766 crafted element names, 200,000 tags", 32766, 200000, crafted));
    out.push_back(attributes("attributes_20000", "20,000 attributes attr000000.., 10 tags of all", 20000, 10, attr));
    out.push_back(attributes("attributes_crafted", "16,000 crafted attribute names, 10 tags of all", 16000, 10, crafted));
    out.push_back(attributes("attributes_100000", "100,000 attributes attr000000.., 2 tags of all", 100000, 2, attr));
    out.push_back(long_list("list_20000", "a content list of 20,000 elements, 1 tag", 20000));
    out.push_back(values("values_20000", "20,000 allowed values v000000.., 200,000 tags", 20000, 200000));
    return out;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool write_file(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    return f && std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fclose(f) == 0;
}

int usage() {
    std::printf(
        "usage: tarvo-grammar-bench [--repeat N] [--only CASE,...]\n"
        "       tarvo-grammar-bench --write DIR [--only CASE,...]\n"
        "Loads each case's grammar file and reads its document, best of N runs (default 3; a run\n"
        "over 5 s is not repeated). --write only writes CASE.grammar and CASE.xml to DIR.\n"
        "Cases:\n");
    for (const Case& c : cases()) std::printf("  %-20s %s\n", c.name, c.what);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 3;
    std::string only, write_dir;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (a == "--only" && i + 1 < argc)
            only.append(",").append(argv[++i]).append(",");
        else if (a == "--write" && i + 1 < argc)
            write_dir = argv[++i];
        else
            return usage();
    }
    if (write_dir.empty())
        std::printf("%-20s %10s %10s %10s %10s %12s\n", "case", "grammar", "load s", "document", "parse s",
                    "ns/lookup");
    for (const Case& c : cases()) {
        std::string key = ",";
        if (!only.empty() && only.find(key.append(c.name).append(",")) == std::string::npos) continue;
        if (!write_dir.empty()) {
            if (!write_file(write_dir + "/" + c.name + ".grammar", c.grammar) ||
                !write_file(write_dir + "/" + c.name + ".xml", c.document)) {
                std::fprintf(stderr, "cannot write to %s\n", write_dir.c_str());
                return 1;
            }
            continue;
        }
        char path[] = "/tmp/tarvo-grammar-bench-XXXXXX";
        int fd = mkstemp(path);
        if (fd < 0) return 1;
        close(fd);
        if (!write_file(path, c.grammar)) return 1;
        std::shared_ptr<const tarvo::SchemaTable> g;
        double load = 1e30, parse = 1e30;
        for (int run = 0; run < repeat; ++run) {
            auto t0 = std::chrono::steady_clock::now();
            g = tarvo::load_grammar(path);
            load = std::min(load, seconds_since(t0));
            if (load > 5) break;
        }
        std::remove(path);
        for (int run = 0; run < repeat; ++run) {
            auto t0 = std::chrono::steady_clock::now();
            tarvo::Result r = tarvo::parse_buffer(*g, c.document, c.name, nullptr, tarvo::Flags::strict);
            parse = std::min(parse, seconds_since(t0));
            if (!r.ok()) {
                std::fprintf(stderr, "%s: the document was refused: %s\n", c.name, std::string(r.errors()).c_str());
                return 1;
            }
            if (parse > 5) break;
        }
        std::printf("%-20s %9.2fM %10.3f %9.2fM %10.3f %12.1f\n", c.name, c.grammar.size() / 1e6, load,
                    c.document.size() / 1e6, parse, parse * 1e9 / static_cast<double>(c.lookups));
        std::fflush(stdout);
    }
    return 0;
}
