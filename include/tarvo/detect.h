// Which grammar a document is written in, told by its first bytes: the
// DOCTYPE's SYSTEM name as 'tarvo grammars' lists it, or else the root
// element's name when exactly one grammar has that root. A DOCTYPE with an
// internal subset may itself serve as the grammar.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarvo/tarvo.h"

namespace tarvo {

// What the head of a document says: everything before its first element,
// and that element's name. It is read leniently and checks nothing (the
// parse does that); reading stops at the first element's name, so a large
// document costs no more than its head.
struct DocumentHead {
    bool has_doctype = false;
    std::string doctype_name;  // the DOCTYPE's name
    std::string system_id;     // its SYSTEM literal, or empty
    std::string public_id;     // its PUBLIC literal, or empty
    bool has_internal_subset = false;
    std::string internal_subset;  // the declarations between '[' and ']', as written
    std::string root;             // the first element's name; empty when the head ends before one
    int os_error = 0;             // read_document_head_file(): the file could not be read
};

TARVO_API DocumentHead read_document_head(std::string_view bytes);
TARVO_API DocumentHead read_document_head_file(const char* path);
// The head of the document `read` gives, for a host that reads files its
// own way (as parse_source() is): read in growing steps until the head
// ends, so the bytes after it are mostly never asked for; a failed read
// sets os_error.
TARVO_API DocumentHead read_document_head(const DocumentSource& read);
// The head of a Source's bytes or file; for an unreadable Source, none
// but its os_error.
TARVO_API DocumentHead read_document_head(const Source& source);

// A grammar chosen for a document, or none, and in words why.
struct GrammarChoice {
    const SchemaTable* grammar = nullptr;
    // Chosen: "DOCTYPE SYSTEM 'NAME'" or "root element 'NAME'"; none: why
    // not, as a sentence a message can end with.
    std::string reason;
};

// Chooses among a set of grammars (by default every registered one, as
// 'tarvo grammars' lists them). A SYSTEM literal names a grammar when it,
// or its last path segment, is the grammar's SYSTEM name; a root element
// names one when exactly one grammar has it among its roots. Building the
// finder looks at every grammar once; find() is cheap and may be called
// from any number of threads.
class TARVO_API GrammarFinder {
public:
    GrammarFinder();
    explicit GrammarFinder(const std::vector<const SchemaTable*>& grammars);

    GrammarChoice find(const DocumentHead& head) const;

private:
    struct Entry {
        std::string key;
        const SchemaTable* grammar;
    };
    std::vector<Entry> systems_, roots_;  // sorted by key
};

// The grammar of a document among all registered grammars.
TARVO_API GrammarChoice detect_grammar(std::string_view bytes);
TARVO_API GrammarChoice detect_grammar_file(const char* path);

// The grammar `finder` chooses for the document `name` whose head is
// `head`. Null when there is none, with `outcome` set to the Result the
// document gets instead: unreadable_result() when its head could not be
// read, else no_grammar_result() with the reason.
TARVO_API const SchemaTable* choose_grammar(const GrammarFinder& finder, const DocumentHead& head,
                                            std::string_view name, Result& outcome);

// Chooses a document's grammar from its head: the grammar, or null with
// `outcome` set to the Result the document gets instead. A grammar made for
// the document must live until its parse ends.
using HeadChooser = std::function<const SchemaTable*(const DocumentHead& head, Result& outcome)>;

// Parses `source` against the grammar `choose` picks from its head, its
// events to `handler` (null: none). The document is read once, the bytes of
// its head kept for the parse, so a pipe works; a source or head that
// cannot be read gives unreadable_result().
TARVO_API Result parse_detected(const Source& source, const HeadChooser& choose, Handler* handler,
                                const Options& options = {});
// The same for the document `read` gives (as parse_source() reads it),
// called `name` in messages.
TARVO_API Result parse_detected(const DocumentSource& read, std::string_view name, const HeadChooser& choose,
                                Handler* handler, const Options& options = {});

// The Result of checking `source` against the grammar its head names, as
// choose_grammar() chooses it: parse_detected() with `finder` choosing.
TARVO_API Result validate_detected(const GrammarFinder& finder, const Source& source, const Options& options = {});
TARVO_API Result validate_detected(const GrammarFinder& finder, const DocumentSource& read, std::string_view name,
                                   const Options& options = {});

// The grammar a document's internal subset declares, imported as
// load_dtd() imports a DTD file, its root the DOCTYPE's name; `name`
// stands for the document in messages. Null when the subset declares no
// element (or there is none). Throws GrammarError as load_dtd() does.
TARVO_API std::shared_ptr<const SchemaTable> internal_subset_grammar(const DocumentHead& head, const std::string& name,
                                                                     std::vector<std::string>* loosened = nullptr);

// The Result of a document whose grammar could not be chosen:
// Status::unreadable, and one error of kind input_output and code
// "no-grammar", about no position: "No grammar found for NAME: REASON".
TARVO_API Result no_grammar_result(std::string_view name, std::string_view reason);

}  // namespace tarvo
