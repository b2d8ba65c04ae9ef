// A parsed grammar laid out as the reader's tables (schema/schema_table.h).
// load_grammar() keeps a TableLayout as the loaded grammar; tarvo-grammarc
// prints one as the static data of a built-in grammar. This is the only
// place that decides what goes where, so the two cannot differ.
#pragma once

#include <string>
#include <vector>

#include "containers/sip_hash.h"
#include "grammar/grammar_file.h"
#include "schema/schema_table.h"

namespace tarvo::grammar_file {

// `table` and every array it points into, owned here and never changed once
// built (so neither copied nor moved: the table points into the members).
struct TableLayout {
    // `grammar_file` is where the table says the grammar lies. Keyed indexes
    // take their keys from `seed`: a random one for a file loaded at run
    // time, whose names may have been chosen to collide; any fixed one for a
    // built-in grammar, whose indexes are checked when it is compiled.
    TableLayout(Grammar grammar, std::string grammar_file, const HashKey& seed);
    TableLayout(const TableLayout&) = delete;
    TableLayout& operator=(const TableLayout&) = delete;

    Grammar source;  // every name, value and default the table points to
    std::string grammar_file;
    std::vector<ContentPosition> positions;  // every list, one after another
    std::vector<SuccessorRow> rows;          // each element's rows in element order, then the text rows
    std::vector<const char*> values;         // every attribute's allowed values, one list after another
    std::vector<uint32_t> value_lengths;
    std::vector<AttributeRule> attributes;   // each element's rules in element order
    std::vector<ElementRule> elements;
    std::vector<uint32_t> slots;             // every index (a keyed one after its key), one after another
    SchemaTable table{};
};

// The longest run of filled slots in an index (a lookup, whether it finds
// its name or not, ends within one run), and the bound the layout keeps it
// under: a small constant for the cheap hash, so that not even names chosen
// for it can cost more; a bound that grows with the logarithm of the size
// for a keyed hash, where long runs are improbable but not impossible.
uint32_t longest_run(const NameIndex& index);
inline constexpr uint32_t kCheapRunBound = 24;
uint32_t keyed_run_bound(size_t slot_count);

}  // namespace tarvo::grammar_file
