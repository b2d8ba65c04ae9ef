// A grammar file, read, checked and resolved. layout.h lays it out as the
// reader's tables, which the build-time compiler prints as static data and
// load_grammar() keeps at run time. Both read files with this one reader,
// so a file means the same to both.
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

// The names a document can spell in one way of reading it. An element or
// attribute declared under any other name could never be matched, so the
// grammar is refused instead.
struct NameRule {
    bool (*element)(std::string_view name);
    bool (*attribute)(std::string_view name);
    const char* element_form;    // what an element name is made of, for messages
    const char* attribute_form;  // the same for an attribute name
};

// Names the reader can read in one of its modes: its own subset's, or
// XML's names in the XML mode.
extern const NameRule kTagNames;

// Reads one grammar file. Problems are appended to `diags` as `path:line`;
// returns false if there were any, in which case `out` must not be emitted.
bool parse_grammar(const std::string& path, const std::string& text, Grammar& out,
                   std::vector<Diagnostic>& diags, const NameRule& names = kTagNames);

// Reads the whole file at `path` into `text`, retrying where a signal
// interrupts the wait; returns 0, or the system's error number.
int read_text_file(const std::string& path, std::string& text);

// Reads `path` and parses it; a file that cannot be read is one diagnostic
// at line 0.
bool read_grammar_file(const std::string& path, Grammar& out, std::vector<Diagnostic>& diags,
                       const NameRule& names = kTagNames);

// "file:line: reason"
std::string format(const Diagnostic& d);

}  // namespace tarvo::grammar_file
