// A grammar file, read, checked and resolved. The build-time compiler lays
// it out as static tables; load_grammar() builds the same tables at run time.
// Both read files with this one reader, so a file means the same to both.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::grammar_file {

struct Diagnostic {
    std::string file;
    int line;
    std::string message;
};

// One entry of a content list: `Name/c`, `END` or `TEXT/c`.
struct Entry {
    enum class Kind { Element, End, Text };
    Kind kind = Kind::End;
    std::string name;      // Kind::Element only
    int32_t context = 0;   // END has none and keeps 0
    int32_t element = -1;  // index of `name`, filled in once the file is read
    int line = 0;
};

using List = std::vector<Entry>;

struct Attribute {
    std::string name;
    bool required = true;
    std::string default_value;        // meaningful only when !required
    std::vector<std::string> values;  // empty: any value
    int line = 0;
};

struct Element {
    std::string name;
    int line = 0;
    int first_line = 0;  // 0: no `first` yet
    List first;
    std::vector<List> rows;
    std::vector<Attribute> attributes;
};

struct Grammar {
    std::string entry;  // as listed in the catalogue
    std::string name;
    int name_line = 0;
    std::string source;
    int source_line = 0;
    std::vector<Element> elements;
    std::vector<List> text_rows;
};

// Reads one grammar file. Problems are appended to `diags` as `path:line`;
// returns false if there were any, in which case `out` must not be emitted.
bool parse_grammar(const std::string& path, const std::string& text, Grammar& out,
                   std::vector<Diagnostic>& diags);

// Open-addressed element-name index as find_element() probes it: twice as
// many slots as elements, a power of two, -1 for an empty slot. Built-in and
// loaded tables get theirs from here.
std::vector<int16_t> build_name_slots(const Grammar& g, uint32_t& mask);

// The same kind of index over `names` in the given order, for an element's
// attribute names or an attribute's allowed values: empty (no index) for a
// list shorter than kIndexedListLength or too long for the slots' type.
std::vector<int16_t> build_list_slots(const std::vector<std::string_view>& names, uint32_t& mask);
std::vector<int16_t> attribute_slots(const Element& e, uint32_t& mask);
std::vector<int16_t> value_slots(const Attribute& a, uint32_t& mask);

// Reads `path` and parses it; a file that cannot be read is one diagnostic
// at line 0.
bool read_grammar_file(const std::string& path, Grammar& out, std::vector<Diagnostic>& diags);

// "file:line: reason"
std::string format(const Diagnostic& d);

}  // namespace tarvo::grammar_file
