// grammars(), grammar_info(), load_grammar() and load_dtd(): the grammars
// as the module shows them, and grammars read from files at run time.
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

namespace {

// Loads a grammar with `load` and registers it; its name, or null with
// ValueError for a file that cannot be used or a name already taken.
// Reading and checking the file may wait and takes time: other threads run
// meanwhile. Registering is quick and is done under the lock.
template <class Load>
PyObject* load_and_register(Load&& load) {
    std::shared_ptr<const SchemaTable> loaded;
    std::exception_ptr failure;
    Py_BEGIN_ALLOW_THREADS
    try {
        loaded = load();
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

const char* const kLoadGrammarKeywords[] = {"path", nullptr};
const char* const kLoadDtdKeywords[] = {"path", "loosened", nullptr};

}  // namespace

// The format of a path argument: str, bytes or os.PathLike on Python 3;
// on Python 2 str, or unicode encoded as the file system expects, as open()
// does. TARVO_PATH_ARGUMENT(var) names what it fills.
#if TARVO_PY3
#define TARVO_PATH_FORMAT "O&"
#define TARVO_PATH_ARGUMENT(var) PyUnicode_FSConverter, &var
using PathArgument = PyObject*;
std::string path_string(PathArgument& converted) {
    Ref owner(converted);
    return PyBytes_AS_STRING(converted);
}
#else
#define TARVO_PATH_FORMAT "et"
#define TARVO_PATH_ARGUMENT(var) Py_FileSystemDefaultEncoding, &var
using PathArgument = char*;
std::string path_string(PathArgument& converted) {
    std::string path = converted;
    PyMem_Free(converted);
    return path;
}
#endif

PyObject* load_grammar_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    PathArgument converted = nullptr;
    if (!parse_arguments(args, kwargs, TARVO_PATH_FORMAT ":load_grammar", kLoadGrammarKeywords,
                         TARVO_PATH_ARGUMENT(converted)))
        return nullptr;
    std::string path = path_string(converted);
    return load_and_register([&] { return load_grammar(path); });
}

PyObject* load_dtd_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    PathArgument converted = nullptr;
    PyObject* loosened_out = Py_None;
    if (!parse_arguments(args, kwargs, TARVO_PATH_FORMAT "|O:load_dtd", kLoadDtdKeywords,
                         TARVO_PATH_ARGUMENT(converted), &loosened_out))
        return nullptr;
    std::string path = path_string(converted);
    if (loosened_out != Py_None && !PyList_Check(loosened_out)) {
        PyErr_Format(PyExc_TypeError, "loosened must be a list or None, not %.100s", Py_TYPE(loosened_out)->tp_name);
        return nullptr;
    }
    std::vector<std::string> loosened;
    Ref name(load_and_register([&] { return load_dtd(path, &loosened); }));
    if (!name.get()) return nullptr;
    if (loosened_out != Py_None)
        for (const std::string& line : loosened) {
            Ref item(text_of(line));
            if (!item.get() || PyList_Append(loosened_out, item.get()) < 0) return nullptr;
        }
    return name.release();
}

const char kLoadGrammarDoc[] = TARVO_DOC(
    "load_grammar(path)",
    "Read the grammar file at path and register it under the name it declares, for\n"
    "parse(), parse_socket_stream(), grammar_info() and grammars(); returns that\n"
    "name. Raises ValueError naming the grammar when the name is already taken\n"
    "(built in or loaded before), and ValueError with one \"file:line: reason\" per\n"
    "line when the file cannot be read or is not a valid grammar.");

const char kLoadDtdDoc[] = TARVO_DOC(
    "load_dtd(path, loosened=None)",
    "Read the DTD at path as a grammar (named after the file) and register it as\n"
    "load_grammar() does; returns its name. Nothing outside the file is read. When\n"
    "loosened is a list, a line is appended to it for each place the grammar\n"
    "checks more loosely than the DTD (\"element NAME: reason\", ...). Raises\n"
    "ValueError as load_grammar() does, with \"file:line: reason\" lines for a DTD\n"
    "that cannot be read or used.");

}  // namespace tarvo::py

