// tarvo grammars as data: load a grammar file at run time, look inside any
// grammar, describe it for people and tools, export it as RELAX NG or DTD.
// Included by tarvo/tarvo.h.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tarvo/tarvo.h"

namespace tarvo {

// A grammar file that cannot be used. what() holds every problem found, one
// "file:line: reason" per line; messages() holds them one by one.
class TARVO_API GrammarError : public std::runtime_error {
public:
    explicit GrammarError(std::vector<std::string> messages);
    const std::vector<std::string>& messages() const { return messages_; }

private:
    std::vector<std::string> messages_;
};

// Reads and checks a grammar file (the format of src/schemas/*.grammar) and
// builds its tables, name index included, exactly as the build does for the
// built-in grammars. The result works with every parse entry point; it
// lives as long as the last copy of the pointer. Throws GrammarError.
TARVO_API std::shared_ptr<const SchemaTable> load_grammar(const std::string& path);

// A DTD read as a grammar: element declarations become successor lists,
// attribute-list declarations attribute rules. Nothing outside the file is
// read (an external entity is listed, never fetched). `grammar` is the text
// of the equivalent grammar file, named `root` when one is given (it must
// be a declared element), else after the file; `loosened` names each place
// the grammar checks more loosely than the DTD, one line each:
//   "element NAME: reason", "attribute NAME of ELEMENT: reason", ...
// The grammar file carries them as comments too. Throws GrammarError with
// "file:line: reason" lines (a content model that is not deterministic, a
// syntax error, ...).
struct DtdImport {
    std::string grammar;
    std::vector<std::string> loosened;
};
TARVO_API DtdImport import_dtd(const std::string& path, const std::string& root = {});

// The tables of import_dtd(path), built as load_grammar() builds them;
// `loosened`, when given, receives its list.
TARVO_API std::shared_ptr<const SchemaTable> load_dtd(const std::string& path,
                                                      std::vector<std::string>* loosened = nullptr);

// Makes `grammar` findable by find_grammar() and listed by all_grammars()
// under its declared name, for the rest of the process. Throws
// std::invalid_argument, naming it, when the name is already taken.
TARVO_API const SchemaTable& register_grammar(std::shared_ptr<const SchemaTable> grammar);

// Takes the grammar registered as `name` out of the registry: find_grammar()
// no longer finds it, all_grammars() no longer lists it, and the name may be
// registered again. Returns the registry's pointer to it, or null when no
// grammar of that name was registered; throws std::invalid_argument for a
// built-in grammar. A pointer to the tables that find_grammar() gave earlier
// stays valid only while some copy of the returned pointer lives: keep it
// until every parse that may still use the grammar has returned.
TARVO_API std::shared_ptr<const SchemaTable> unregister_grammar(std::string_view name);

// Built-in grammars in registration order, then registered ones in the
// order they were registered.
TARVO_API std::vector<const SchemaTable*> all_grammars();

// One entry of a content list: an element standing here (then row `context`
// of that element applies after it), character data (then text row
// `context` applies), or the close of the enclosing element.
struct ContentItem {
    enum Kind { kElement, kText, kEnd };
    Kind kind = kEnd;
    int element = -1;  // kElement only
    int context = -1;  // kEnd: -1
};

struct AttributeInfo {
    std::string name;
    bool required = true;
    std::string default_value;        // when !required
    std::vector<std::string> values;  // empty: any value
};

struct ElementInfo {
    std::string name;
    std::vector<ContentItem> first;              // what may come first inside it
    std::vector<std::vector<ContentItem>> rows;  // row c: what may follow it in context c
    std::vector<AttributeInfo> attributes;       // in the order they are checked
};

struct GrammarInfo {
    std::string name;         // registry name
    std::string source_name;  // name recorded at compile time for the definition it came from
    std::string system_name;  // SYSTEM name in the DOCTYPE of its documents: "<name>.dtd"
    std::string grammar_file;  // src/schemas/... for a built-in grammar, else the path it was loaded from
    std::vector<std::string> roots;  // elements no other element may contain: what heads documents
    std::vector<ElementInfo> elements;
    std::vector<std::vector<ContentItem>> text_rows;  // row c: what may follow text in context c
};

TARVO_API GrammarInfo grammar_info(const SchemaTable& grammar);

// "Name/c", "TEXT/c" or "END", as grammar files write them.
TARVO_API std::string item_text(const GrammarInfo& grammar, const ContentItem& item);

// Descriptions of a grammar, or of one element (`element` >= 0).
TARVO_API std::string describe_text(const GrammarInfo& grammar, int element = -1);
TARVO_API std::string describe_json(const GrammarInfo& grammar, int element = -1);
TARVO_API std::string describe_dot(const GrammarInfo& grammar, int element = -1);

// A schema for other tools. Where the schema language cannot say a rule
// exactly, the schema accepts more there, carries a comment at that place,
// and the place is listed in `loosened`, one line each:
//   "element NAME: reason" or "attribute NAME of ELEMENT: reason".
struct Export {
    std::string text;
    std::vector<std::string> loosened;
};
TARVO_API Export export_rng(const GrammarInfo& grammar);
TARVO_API Export export_dtd(const GrammarInfo& grammar);

}  // namespace tarvo
