// libFuzzer target over the grammar-file reader: any text as a grammar
// file. It must be read or refused with line-numbered reasons, never crash,
// hang or read out of bounds, and a refusal always gives a reason.
#include <cstdint>
#include <string>
#include <vector>

#include "grammarc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    grammarc::Grammar g;
    std::vector<grammarc::Diagnostic> diags;
    bool ok = grammarc::parse_grammar("fuzz.grammar", text, g, diags);
    if (ok != diags.empty()) __builtin_trap();
    for (const grammarc::Diagnostic& d : diags)
        if (d.line < 0 || d.message.empty()) __builtin_trap();
    return 0;
}
