// Grammars built from a grammar file's text held in memory (an imported
// DTD's, for one); load_grammar() reads the text from a file first.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "schema/schema_table.h"

namespace tarvo {

// Reads and checks `text` as a grammar file called `path` in messages and in
// the table's grammar_file, and builds its tables. Throws GrammarError.
std::shared_ptr<const SchemaTable> load_grammar_text(const std::string& path, const std::string& text);

// The elements no content of the grammar holds (its possible roots), in
// element order: grammar_info()'s roots.
std::vector<int32_t> root_elements(const SchemaTable& grammar);

}  // namespace tarvo
