// tarvo-attribute-bench: time per attribute of one start tag carrying many
// attributes, to show that reading, duplicate detection and checking stay
// linear in the number of attributes whatever their names.
//
// Two kinds of names: "one bucket" names all hash to the same bucket of the
// 32-bucket key order (the hostile case), "distinct" names are a plain
// counter spread over the buckets. Each size is read strict (the document
// is refused at the first undeclared attribute, after the whole list has
// been read) and with undeclared attributes tolerated (-U: every one kept,
// with a warning); the best of three runs counts.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tarvo/tarvo.h"

namespace {

// 'a' followed by `i` in base 26, so every name is distinct.
std::string counter_name(size_t i) {
    std::string s = "a";
    do {
        s.push_back(static_cast<char>('a' + i % 26));
        i /= 26;
    } while (i);
    return s;
}

// A distinct name whose bytes after the first add up to a multiple of 32.
std::string one_bucket_name(size_t i) {
    std::string s = counter_name(i);
    int sum = 0;
    for (size_t k = 1; k < s.size(); ++k) sum += static_cast<signed char>(s[k]);
    // Two letters from 'A'..'Z' add 130 to 180: every remainder is in reach.
    int need = ((-sum - 130) % 32 + 32) % 32;
    int x = need < 26 ? need : 25;
    s.push_back(static_cast<char>('A' + x));
    s.push_back(static_cast<char>('A' + need - x));
    return s;
}

std::string document(size_t count, bool one_bucket) {
    std::string doc = "<?xml version=\"1.0\"?>\n<Heatmap";
    for (size_t i = 0; i < count; ++i) {
        doc += ' ';
        doc += one_bucket ? one_bucket_name(i) : counter_name(i);
        doc += "=\"v\"";
    }
    doc += "/>\n";
    return doc;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<size_t> sizes = {10000, 100000, 1000000};
    if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::printf("usage: tarvo-attribute-bench [COUNT...]   (default: 10000 100000 1000000)\n");
        return 0;
    }
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoull(argv[i], nullptr, 10));
    }
    const tarvo::SchemaTable* heatmap = tarvo::find_grammar("heatmap");
    char path[] = "/tmp/tarvo-attribute-bench-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0 || !heatmap) return 1;
    close(fd);

    std::printf("%-10s %-10s %-6s %12s %14s\n", "attributes", "names", "mode", "seconds", "ns/attribute");
    for (size_t count : sizes) {
        for (bool one_bucket : {true, false}) {
            std::string doc = document(count, one_bucket);
            std::FILE* f = std::fopen(path, "wb");
            if (!f || std::fwrite(doc.data(), 1, doc.size(), f) != doc.size() || std::fclose(f) != 0) return 1;
            for (tarvo::Flags flags : {tarvo::Flags::strict, tarvo::Flags::ignore_unknown_attributes}) {
                tarvo::Result r;
                double s = 1e30;
                for (int run = 0; run < 3; ++run) {  // the best of three
                    auto t0 = std::chrono::steady_clock::now();
                    r = tarvo::parse_file(*heatmap, path, nullptr, flags);
                    s = std::min(s, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
                }
                // Strict refuses the first undeclared attribute; -U keeps them all.
                bool expected = flags != tarvo::Flags::strict ? r.ok() && r.warning_messages().size() == count : !r.ok();
                if (!expected) {
                    std::fprintf(stderr, "unexpected outcome for %zu attributes: %.*s\n", count,
                                 static_cast<int>(r.errors().size()), r.errors().data());
                    return 1;
                }
                std::printf("%-10zu %-10s %-6s %12.4f %14.1f\n", count, one_bucket ? "one-bucket" : "distinct",
                            flags != tarvo::Flags::strict ? "-U" : "strict", s, s * 1e9 / static_cast<double>(count));
                std::fflush(stdout);
            }
        }
    }
    std::remove(path);
    return 0;
}
