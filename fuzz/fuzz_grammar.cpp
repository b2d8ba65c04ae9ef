// libFuzzer target over the grammar-file reader: any text as a grammar
// file, loaded as a program loads one at run time. It must be refused with
// line-numbered reasons or give tables the reader can use; never a crash,
// a hang or a read out of bounds.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "tarvo/grammar.h"
#include "tarvo/tarvo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = tarvo_fuzz::write_scratch_file({reinterpret_cast<const char*>(data), size});
    if (path.empty()) return 0;
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
    reader.read(*grammar, nullptr, tarvo::Flags::ignore_unknown_attributes | tarvo::Flags::ignore_wrong_elements);
    return 0;
}
