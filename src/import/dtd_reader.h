// Reading a DTD: its element, attribute-list and entity declarations, with
// parameter entities expanded and conditional sections resolved. Nothing
// outside the one file is ever read: an external entity is recorded, never
// fetched.
#pragma once

#include <string>
#include <vector>

#include "grammar/grammar_file.h"

namespace tarvo::dtd {

// One particle of a content model: a name, #PCDATA, or a sequence or choice
// of particles, with its occurrence indicator.
struct Particle {
    enum class Kind { Name, Text, Seq, Choice };
    Kind kind = Kind::Name;
    char occurrence = 0;  // 0, '?', '*' or '+'
    std::string name;     // Kind::Name
    std::vector<Particle> kids;
};

struct ElementDecl {
    enum class Content { Empty, Any, Mixed, Children };
    std::string name;
    int line = 0;
    Content content = Content::Empty;
    Particle model;  // Mixed and Children; a Mixed model is a choice of #PCDATA and names
};

struct AttributeDecl {
    enum class Default { Required, Implied, Fixed, Value };
    std::string element, name;
    int line = 0;
    std::string type;                 // CDATA, ID, ..., NOTATION; empty for an enumeration
    std::vector<std::string> values;  // an enumeration's or NOTATION's names
    Default kind = Default::Implied;
    std::string value;                // Fixed and Value: the default, normalised
    // The value tarvo supplies for a missing #IMPLIED attribute, as a comment
    // written by tarvo's own DTD export says; `supplied_line` 0: none.
    std::string supplied;
    int supplied_line = 0;
};

// tarvo's DTD export notes how each row of the grammar it came from is
// reached: in the content of `parent`, after the children `word` (the last
// one `name`, "#PCDATA" for text), the place numbered `row`.
struct RowHint {
    std::string name, parent;
    int row = 0;
    std::vector<std::string> word;
};

// A general entity as declared (the first declaration of a name holds).
struct GeneralEntity {
    std::string value;  // replacement text of an internal entity
    bool external = false;
};

struct Dtd {
    std::vector<ElementDecl> elements;      // in declaration order
    std::vector<AttributeDecl> attributes;  // in declaration order, repeats included
    // What the DTD refers to but tarvo never reads: "line: reason".
    std::vector<std::pair<int, std::string>> unread;
    std::vector<RowHint> row_hints;
    std::vector<std::pair<std::string, GeneralEntity>> general;  // in declaration order
};

// Reads the DTD held in `text` (named `path` in messages). A syntax error
// stops the reading; it is appended to `diags` as `path:line` and false is
// returned. Lines are those of the file; inside a parameter entity, the line
// of its reference.
bool read_dtd(const std::string& path, const std::string& text, Dtd& out,
              std::vector<grammar_file::Diagnostic>& diags);

// Whether `c` may stand in an XML name (any byte of a multi-byte character
// is taken to be a name character), and may start one.
bool is_name_char(unsigned char c);
bool is_name_start(unsigned char c);

}  // namespace tarvo::dtd
