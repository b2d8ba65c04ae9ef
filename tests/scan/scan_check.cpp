// The reader's bulk byte scans against a byte-at-a-time statement of what
// each must find. Built three times: with the machine's block scan, with
// the block scan turned off (TARVO_SCAN_SCALAR), and for AArch64 under an
// emulator where one is installed, so that the SSE2, NEON and byte-loop
// paths all answer the same. Every run length up to a few blocks, every
// start alignment and every byte value at every place are tried; each run
// is a buffer of its own, so that a read past its end shows under the
// address sanitizer.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "reader/byte_scan.h"

namespace {

using Byte = unsigned char;
using Scan = std::function<const Byte*(const Byte*, const Byte*)>;

bool space(Byte c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool alnum(Byte c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
bool xml_ascii_name(Byte c) { return alnum(c) || c == '-' || c == '.' || c == '_' || c == ':'; }
bool xml_stop(Byte c, Byte stop, bool text) {
    return c == stop || c == '&' || c == '<' || c < 0x20 || c >= 0x80 || (text && c == ']');
}

// A scan and the bytes it passes over: it must stop at the first byte
// for which `passes` is false.
struct Case {
    const char* name;
    Scan scan;
    std::function<bool(Byte)> passes;
};

std::vector<Case> cases() {
    using namespace tarvo::scan;
    return {
        {"skip_space", skip_space, space},
        {"skip_name<':'>", skip_name<':'>, [](Byte c) { return alnum(c) || c == ':'; }},
        {"skip_name<'_'>", skip_name<'_'>, [](Byte c) { return alnum(c) || c == '_'; }},
        {"find_stop<'<', cr, amp>", find_stop<'<', true, true>,
         [](Byte c) { return c != '<' && c != 0 && c != '\r' && c != '&'; }},
        {"find_stop<'\"'>", find_stop<'"', false, false>, [](Byte c) { return c != '"' && c != 0; }},
        {"find_stop<'\\'', amp>", find_stop<'\'', false, true>,
         [](Byte c) { return c != '\'' && c != 0 && c != '&'; }},
        {"skip_xml_ascii_name", skip_xml_ascii_name, xml_ascii_name},
        {"find_xml_stop<'<', text>", find_xml_stop<'<', true>, [](Byte c) { return !xml_stop(c, '<', true); }},
        {"find_xml_stop<'\"'>", find_xml_stop<'"', false>, [](Byte c) { return !xml_stop(c, '"', false); }},
        {"find_xml_stop<'\\''>", find_xml_stop<'\'', false>, [](Byte c) { return !xml_stop(c, '\'', false); }},
        {"find_byte('>')",
         [](const Byte* p, const Byte* e) {
             return reinterpret_cast<const Byte*>(find_byte(reinterpret_cast<const char*>(p),
                                                            reinterpret_cast<const char*>(e), '>'));
         },
         [](Byte c) { return c != '>'; }},
        // A name of any bytes: ASCII name bytes and those of multi-byte
        // sequences pass; `high` is checked by the case below.
        {"skip_xml_name",
         [](const Byte* p, const Byte* e) {
             bool high = false;
             return skip_xml_name(p, e, high);
         },
         [](Byte c) { return xml_ascii_name(c) || c >= 0x80; }},
    };
}

int failures = 0;

void fail(const char* scan, const std::vector<Byte>& run, size_t align, long got, long want) {
    if (++failures > 20) return;
    std::string bytes;
    char hex[4];
    for (Byte c : run) {
        std::snprintf(hex, sizeof hex, "%02X ", c);
        bytes += hex;
    }
    std::printf("%s at alignment %zu over [%s]: stopped at %ld, should stop at %ld\n", scan, align,
                bytes.c_str(), got, want);
}

// Runs `c` over `run` placed `align` bytes into a buffer that ends where
// the run ends.
void check(const Case& c, const std::vector<Byte>& run, size_t align) {
    std::unique_ptr<Byte[]> buffer(new Byte[align + run.size() + 1]);
    Byte* p = buffer.get() + align;
    std::copy(run.begin(), run.end(), p);
    const Byte* e = p + run.size();
    long want = 0;
    while (want < static_cast<long>(run.size()) && c.passes(run[static_cast<size_t>(want)])) ++want;
    const long got = c.scan(p, e) - p;
    if (got != want) fail(c.name, run, align, got, want);
}

}  // namespace

int main() {
    std::mt19937 random(20261207);
    for (const Case& c : cases()) {
        std::vector<Byte> passing;
        for (int b = 0; b < 256; ++b)
            if (c.passes(static_cast<Byte>(b))) passing.push_back(static_cast<Byte>(b));
        for (size_t length = 0; length <= 50; ++length) {
            std::vector<Byte> run(length);
            for (Byte& b : run) b = passing[random() % passing.size()];
            check(c, run, length % 16);
            // Every byte value at every place of a passing run.
            for (size_t at = 0; at < length; ++at) {
                const Byte kept = run[at];
                for (int b = 0; b < 256; ++b) {
                    run[at] = static_cast<Byte>(b);
                    check(c, run, (at + static_cast<size_t>(b)) % 16);
                }
                run[at] = kept;
            }
        }
    }
    // skip_xml_name's flag: set exactly when the name it passed over holds
    // a byte of a multi-byte sequence.
    const std::vector<std::string> names = {"plain", "x_y-z.w:v", "caf\xC3\xA9", "\xC3\xA9t\xC3\xA9", "a_\xE2\x82\xAC>",
                                            std::string(40, 'n') + "\xC3\xA9", std::string(40, 'n') + "> \xC3\xA9"};
    for (const std::string& name : names) {
        const auto* p = reinterpret_cast<const Byte*>(name.data());
        bool high = false;
        const Byte* end = tarvo::scan::skip_xml_name(p, p + name.size(), high);
        bool want = false;
        for (const Byte* q = p; q < end; ++q) want |= *q >= 0x80;
        if (high != want) {
            ++failures;
            std::printf("skip_xml_name over '%s': multi-byte flag %d, should be %d\n", name.c_str(), high, want);
        }
    }
    // last_line_feed over runs of every length up to a few blocks, at
    // every alignment, with line feeds nowhere, sparse and everywhere.
    for (int density : {0, 5, 100}) {
        for (size_t length = 0; length <= 50; ++length) {
            std::vector<Byte> run(length);
            for (Byte& b : run) b = static_cast<int>(random() % 100) < density ? '\n' : static_cast<Byte>(random() % 256);
            long want = 0, want_last = -1;
            for (size_t i = 0; i < length; ++i)
                if (run[i] == '\n') ++want, want_last = static_cast<long>(i);
            for (size_t align = 0; align < 16; ++align) {
                std::unique_ptr<Byte[]> buffer(new Byte[align + length + 1]);
                Byte* p = buffer.get() + align;
                std::copy(run.begin(), run.end(), p);
                long got = 0;
                const Byte* last = tarvo::scan::last_line_feed(p, p + length, got);
                const long got_last = last ? last - p : -1;
                if ((got != want || got_last != want_last) && ++failures <= 20)
                    std::printf("last_line_feed over %zu bytes at alignment %zu: %ld, last %ld; should be %ld, last %ld\n",
                                length, align, got, got_last, want, want_last);
            }
        }
    }
    if (failures) {
        std::printf("%d scans stopped at the wrong byte\n", failures);
        return EXIT_FAILURE;
    }
#if TARVO_SCAN_SSE2
    std::puts("block scan: SSE2; all scans agree");
#elif TARVO_SCAN_NEON
    std::puts("block scan: NEON; all scans agree");
#else
    std::puts("byte loop; all scans agree");
#endif
    return EXIT_SUCCESS;
}
