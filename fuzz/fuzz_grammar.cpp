// libFuzzer target over the grammar-file reader: any text as a grammar
// file, loaded as a program loads one at run time. It must be refused with
// line-numbered reasons or give tables the reader can use; never a crash,
// a hang or a read out of bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "tarvo/grammar.h"
#include "tarvo/tarvo.h"

namespace {

std::string temp_path() {
    char path[] = "/tmp/tarvo-fuzz-grammar-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) close(fd);
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = temp_path();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::shared_ptr<const tarvo::SchemaTable> grammar;
    try {
        grammar = tarvo::load_grammar(path);
    } catch (const tarvo::GrammarError& e) {
        if (e.messages().empty()) __builtin_trap();  // a refusal always says why
        return 0;
    }
    // The tables must carry a parse: the first element as a document.
    std::string doc = "<";
    if (tarvo::element_count(*grammar) > 0) doc += tarvo::element_name(*grammar, 0);
    doc += " a='1'>t</x>";
    size_t at = 0;
    tarvo::StreamReader reader([&](char* buf, size_t cap) {
        size_t n = doc.copy(buf, cap, at);
        at += n;
        return n;
    });
    reader.read(*grammar, nullptr, tarvo::PARSE_IGNORE_UNKNOWN_ATTRIBUTES | tarvo::PARSE_IGNORE_WRONG_ELEMENTS);
    return 0;
}
