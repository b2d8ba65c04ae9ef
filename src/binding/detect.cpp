// detect_grammar(): the grammar a document's head names, as a
// GrammarChoice; and the finder it and validate() without a grammar share.
#include "binding.h"

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::py {
namespace {

// tarvo.GrammarChoice: what detect_grammar() found.
PyStructSequence_Field g_choice_fields[] = {
    {const_cast<char*>("grammar"), const_cast<char*>("the grammar's name, as grammars() lists it, or None")},
    {const_cast<char*>("reason"),
     const_cast<char*>("how it was chosen (\"DOCTYPE SYSTEM 'NAME'\", \"root element 'NAME'\"), or why none was")},
    {nullptr, nullptr},
};

PyStructSequence_Desc g_choice_desc = {
    const_cast<char*>("tarvo.GrammarChoice"),
    const_cast<char*>("The grammar detect_grammar() chose for a document, and why; a tuple of two."),
    g_choice_fields,
    2,
};

PyTypeObject g_choice_type;
bool g_choice_ready = false;

PyObject* choice_record(const GrammarChoice& choice) {
    std::string_view name = choice.grammar ? grammar_name(*choice.grammar) : std::string_view();
    PyObject* fields[2] = {
        choice.grammar ? text(name.data(), name.size()) : (Py_INCREF(Py_None), Py_None),
        text(choice.reason.data(), choice.reason.size()),
    };
    return filled_record(&g_choice_type, fields, 2);
}

const char* const kDetectKeywords[] = {"source", nullptr};

}  // namespace

bool add_detect_types(PyObject* module) {
    return add_record_type(module, "GrammarChoice", &g_choice_type, &g_choice_desc, &g_choice_ready);
}

std::shared_ptr<const GrammarFinder> current_finder() {
    // Every finder looks at each grammar once. The tables of a grammar
    // unloaded or replaced stay in memory, so an address never names two
    // grammars: the same addresses are the same grammars.
    static std::vector<const SchemaTable*> grammars;
    static std::shared_ptr<const GrammarFinder> finder;
    std::vector<const SchemaTable*> now = all_grammars();
    if (!finder || now != grammars) {
        finder = std::make_shared<const GrammarFinder>(now);
        grammars = std::move(now);
    }
    return finder;
}

PyObject* detect_grammar_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* source = nullptr;
    if (!parse_arguments(args, kwargs, "O:detect_grammar", kDetectKeywords, &source)) return nullptr;
    try {
        DocumentHead head;
        if (is_path(source)) {
            std::string path;
            if (!encoded_path(source, path)) return nullptr;
            std::optional<DocumentHead> read = read_head_file(path.c_str());
            if (!read) return nullptr;
            if (read->os_error) {
                raise_parse_error(unreadable_result(path, read->os_error), path.c_str());
                return nullptr;
            }
            head = std::move(*read);
        } else {
            // Read with the lock held: no other thread changes a bytearray
            // meanwhile, and a head is short.
            DocumentBytes bytes;
            if (!bytes.take(source)) return nullptr;
            head = read_document_head(bytes.bytes());
        }
        return choice_record(current_finder()->find(head));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

const char kDetectGrammarDoc[] = TARVO_DOC(
    "detect_grammar(source)",
    "The grammar a document names in its head, the part before its first\n"
    "element's name: the one whose SYSTEM name (grammar_info()'s system_name)\n"
    "its DOCTYPE's SYSTEM literal is, as written or as the last segment of a\n"
    "path or URI; or else the one grammar that has its root element among its\n"
    "roots. Every grammar registered, built in or loaded, is a candidate. source\n"
    "is a path or the document's bytes, as validate() takes it; only the head of\n"
    "a file is read, each wait without the interpreter lock.\n"
    "\n"
    "Returns a GrammarChoice, a tuple (grammar, reason): grammar is the name to\n"
    "pass to validate() or parse(), or None when no grammar is named; reason says\n"
    "how it was chosen, \"DOCTYPE SYSTEM 'NAME'\" or \"root element 'NAME'\", or\n"
    "why none was. A file that cannot be read raises the ParseError that parse()\n"
    "raises for it (an OSError too); TypeError for a source of another type.");

}  // namespace tarvo::py
