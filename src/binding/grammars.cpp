// grammars(), grammar_info() and load_grammar(): the grammars as the
// module shows them, and grammars read from files at run time.
#include "binding.h"

#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo::py {
namespace {

PyObject* text_of(const std::string& s) { return text(s.data(), s.size()); }

PyObject* items_list(const GrammarInfo& g, const std::vector<ContentItem>& l) {
    return list_of(l.size(), [&](size_t i) { return text_of(item_text(g, l[i])); });
}

// Sets d[key] = value and drops the reference to value; false on failure.
bool set_item(PyObject* d, const char* key, PyObject* value) {
    if (!value) return false;
    int rc = PyDict_SetItemString(d, key, value);
    Py_DECREF(value);
    return rc == 0;
}

PyObject* attribute_dict(const AttributeInfo& a) {
    Ref d(PyDict_New());
    if (!d.get()) return nullptr;
    PyObject* dflt = Py_None;
    if (a.required)
        Py_INCREF(Py_None);
    else
        dflt = text_of(a.default_value);
    PyObject* required = a.required ? Py_True : Py_False;
    Py_INCREF(required);
    if (!set_item(d.get(), "name", text_of(a.name)) || !set_item(d.get(), "required", required) ||
        !set_item(d.get(), "default", dflt) ||
        !set_item(d.get(), "values", list_of(a.values.size(), [&](size_t i) { return text_of(a.values[i]); })))
        return nullptr;
    return d.release();
}

PyObject* element_dict(const GrammarInfo& g, size_t index) {
    const ElementInfo& e = g.elements[index];
    Ref d(PyDict_New());
    if (!d.get()) return nullptr;
    if (!set_item(d.get(), "name", text_of(e.name)) ||
#if TARVO_PY3
        !set_item(d.get(), "index", PyLong_FromSize_t(index)) ||
#else
        !set_item(d.get(), "index", PyInt_FromSize_t(index)) ||
#endif
        !set_item(d.get(), "first", items_list(g, e.first)) ||
        !set_item(d.get(), "rows", list_of(e.rows.size(), [&](size_t r) { return items_list(g, e.rows[r]); })) ||
        !set_item(d.get(), "attributes",
                  list_of(e.attributes.size(), [&](size_t a) { return attribute_dict(e.attributes[a]); })))
        return nullptr;
    return d.release();
}

}  // namespace

PyObject* grammars_entry(PyObject*, PyObject*) {
    std::vector<const SchemaTable*> all = all_grammars();
    return list_of(all.size(), [&](size_t i) {
        std::string_view name = grammar_name(*all[i]);
        return text(name.data(), name.size());
    });
}

const char kGrammarsDoc[] = TARVO_DOC("grammars()",
                                      "The names of the grammars, built in and loaded, in registration order.");

const char* const kGrammarInfoKeywords[] = {"name", nullptr};

PyObject* grammar_info_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    const char* name = nullptr;
    if (!parse_arguments(args, kwargs, "s:grammar_info", kGrammarInfoKeywords, &name)) return nullptr;
    const SchemaTable* t = find_grammar_or_raise(name);
    if (!t) return nullptr;
    GrammarInfo g;
    try {
        g = grammar_info(*t);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    Ref d(PyDict_New());
    if (!d.get()) return nullptr;
    if (!set_item(d.get(), "name", text_of(g.name)) || !set_item(d.get(), "source_name", text_of(g.source_name)) ||
        !set_item(d.get(), "system_name", text_of(g.system_name)) ||
        !set_item(d.get(), "grammar_file", text_of(g.grammar_file)) ||
        !set_item(d.get(), "roots", list_of(g.roots.size(), [&](size_t i) { return text_of(g.roots[i]); })) ||
        !set_item(d.get(), "elements", list_of(g.elements.size(), [&](size_t i) { return element_dict(g, i); })) ||
        !set_item(d.get(), "text_rows",
                  list_of(g.text_rows.size(), [&](size_t r) { return items_list(g, g.text_rows[r]); })))
        return nullptr;
    return d.release();
}

const char kGrammarInfoDoc[] = TARVO_DOC(
    "grammar_info(name)",
    "Describe the grammar registered as name, as a dict of plain lists and strings:\n"
    "name, source_name, system_name (the DOCTYPE SYSTEM name of its documents),\n"
    "grammar_file, roots, elements and text_rows. Each element has name, index,\n"
    "first (what may come first inside it), rows (row c: what may follow it in\n"
    "context c) and attributes (name, required, default or None, values). List\n"
    "entries read \"Name/c\", \"TEXT/c\" or \"END\". The same structure as\n"
    "'tarvo grammar NAME --format json'. Raises ValueError for an unknown name.");

const char* const kLoadGrammarKeywords[] = {"path", nullptr};

PyObject* load_grammar_entry(PyObject*, PyObject* args, PyObject* kwargs) {
#if TARVO_PY3
    PyObject* path_bytes = nullptr;
    if (!parse_arguments(args, kwargs, "O&:load_grammar", kLoadGrammarKeywords, PyUnicode_FSConverter, &path_bytes))
        return nullptr;
    Ref path_owner(path_bytes);
    std::string path = PyBytes_AS_STRING(path_bytes);
#else
    char* raw = nullptr;
    if (!parse_arguments(args, kwargs, "et:load_grammar", kLoadGrammarKeywords, Py_FileSystemDefaultEncoding, &raw))
        return nullptr;
    std::string path = raw;
    PyMem_Free(raw);
#endif
    // Reading and checking the file may wait and takes time: other threads
    // run meanwhile. Registering is quick and is done under the lock.
    std::shared_ptr<const SchemaTable> loaded;
    std::exception_ptr failure;
    Py_BEGIN_ALLOW_THREADS
    try {
        loaded = load_grammar(path);
    } catch (...) {
        failure = std::current_exception();
    }
    Py_END_ALLOW_THREADS
    try {
        if (failure) std::rethrow_exception(failure);
        std::string_view name = grammar_name(register_grammar(std::move(loaded)));
        return text(name.data(), name.size());
    } catch (const GrammarError& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

const char kLoadGrammarDoc[] = TARVO_DOC(
    "load_grammar(path)",
    "Read the grammar file at path and register it under the name it declares, for\n"
    "parse(), parse_socket_stream(), grammar_info() and grammars(); returns that\n"
    "name. Raises ValueError naming the grammar when the name is already taken\n"
    "(built in or loaded before), and ValueError with one \"file:line: reason\" per\n"
    "line when the file cannot be read or is not a valid grammar.");

}  // namespace tarvo::py
