// A DTD turned into a grammar file: the same text a hand-written grammar
// file holds, read afterwards by the one grammar-file reader, and the list
// of what the grammar checks more loosely than the DTD says.
#pragma once

#include <string>
#include <vector>

#include "grammar/grammar_file.h"

namespace tarvo::dtd {

struct Imported {
    std::string grammar;                 // a grammar file's text, the loosened places as comments at its head
    std::vector<std::string> loosened;   // "element NAME: reason", "attribute NAME of ELEMENT: reason", ...
};

// Imports the DTD held in `text`, named `path` in messages. The grammar is
// called `root` when one is given (which must then be a declared element),
// else after the file. Problems are appended to `diags` as `path:line`;
// false if there were any.
bool import_dtd_text(const std::string& path, const std::string& text, const std::string& root, Imported& out,
                     std::vector<grammar_file::Diagnostic>& diags);

}  // namespace tarvo::dtd
