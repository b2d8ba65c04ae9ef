// grammars(), grammar_info(), load_grammar(), load_dtd() and
// unload_grammar(): the grammars as the module shows them, and grammars read
// from files at run time.
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

// The tables of grammars unloaded or replaced. A parse on another thread may
// still be reading them (parses run without the interpreter lock), and the
// callbacks' name strings are kept by table address, so they stay in memory
// until the process ends: unloading frees the name, not the memory.
std::vector<std::shared_ptr<const SchemaTable>>* g_retired = nullptr;

// Takes the grammar `name` out of the registry and keeps its tables; false
// with ValueError set for a built-in grammar or a name nobody registered.
bool retire(std::string_view name) {
    try {
        if (!g_retired) g_retired = new std::vector<std::shared_ptr<const SchemaTable>>;
        g_retired->reserve(g_retired->size() + 1);  // so the push_back below cannot throw
        std::shared_ptr<const SchemaTable> old = unregister_grammar(name);
        if (!old) {
            PyErr_Format(PyExc_ValueError, "unknown grammar '%s'", std::string(name).c_str());
            return false;
        }
        g_retired->push_back(std::move(old));
        return true;
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    return false;
}

// Loads a grammar with `load` and registers it, in place of the grammar of
// the same name when `replace` is true; its name, or null with ValueError
// for a file that cannot be used or a name already taken. Reading and
// checking the file may wait and takes time: other threads run meanwhile.
// Registering is quick and is done with the interpreter lock held, so no
// Python thread sees the name missing between the old grammar and the new.
template <class Load>
PyObject* load_and_register(Load&& load, bool replace) {
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
        std::string name(grammar_name(*loaded));
        if (replace && find_grammar(name) && !retire(name)) return nullptr;
        register_grammar(std::move(loaded));
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

// The truth of an optional flag argument (null: not given).
bool flag_value(PyObject* o, bool* out) {
    int truth = o ? PyObject_IsTrue(o) : 0;
    if (truth < 0) return false;
    *out = truth != 0;
    return true;
}

const char* const kLoadGrammarKeywords[] = {"path", "replace", nullptr};
const char* const kLoadDtdKeywords[] = {"path", "loosened", "replace", nullptr};
const char* const kUnloadKeywords[] = {"name", nullptr};

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
    PyObject* replace_arg = nullptr;
    if (!parse_arguments(args, kwargs, TARVO_PATH_FORMAT "|O:load_grammar", kLoadGrammarKeywords,
                         TARVO_PATH_ARGUMENT(converted), &replace_arg))
        return nullptr;
    std::string path = path_string(converted);
    bool replace;
    if (!flag_value(replace_arg, &replace)) return nullptr;
    return load_and_register([&] { return load_grammar(path); }, replace);
}

PyObject* load_dtd_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    PathArgument converted = nullptr;
    PyObject* loosened_out = Py_None;
    PyObject* replace_arg = nullptr;
    if (!parse_arguments(args, kwargs, TARVO_PATH_FORMAT "|OO:load_dtd", kLoadDtdKeywords,
                         TARVO_PATH_ARGUMENT(converted), &loosened_out, &replace_arg))
        return nullptr;
    std::string path = path_string(converted);
    bool replace;
    if (!flag_value(replace_arg, &replace)) return nullptr;
    if (loosened_out != Py_None && !PyList_Check(loosened_out)) {
        PyErr_Format(PyExc_TypeError, "loosened must be a list or None, not %.100s", Py_TYPE(loosened_out)->tp_name);
        return nullptr;
    }
    std::vector<std::string> loosened;
    Ref name(load_and_register([&] { return load_dtd(path, &loosened); }, replace));
    if (!name.get()) return nullptr;
    if (loosened_out != Py_None)
        for (const std::string& line : loosened) {
            Ref item(text_of(line));
            if (!item.get() || PyList_Append(loosened_out, item.get()) < 0) return nullptr;
        }
    return name.release();
}

PyObject* unload_grammar_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    const char* name = nullptr;
    if (!parse_arguments(args, kwargs, "s:unload_grammar", kUnloadKeywords, &name)) return nullptr;
    if (!retire(name)) return nullptr;
    Py_RETURN_NONE;
}

const char kLoadGrammarDoc[] = TARVO_DOC(
    "load_grammar(path, replace=False)",
    "Read the grammar file at path and register it under the name it declares, for\n"
    "parse(), parse_socket_stream(), grammar_info() and grammars(); returns that\n"
    "name. A grammar loaded before under that name is replaced when replace is\n"
    "true; otherwise, and always for a built-in grammar, a name already taken\n"
    "raises ValueError naming the grammar. Raises ValueError with one\n"
    "\"file:line: reason\" per line when the file cannot be read or is not a valid\n"
    "grammar; the grammar registered before is then kept.");

const char kLoadDtdDoc[] = TARVO_DOC(
    "load_dtd(path, loosened=None, replace=False)",
    "Read the DTD at path as a grammar (named after the file) and register it as\n"
    "load_grammar() does; returns its name. Nothing outside the file is read. When\n"
    "loosened is a list, a line is appended to it for each place the grammar\n"
    "checks more loosely than the DTD (\"element NAME: reason\", ...). Raises\n"
    "ValueError as load_grammar() does, with \"file:line: reason\" lines for a DTD\n"
    "that cannot be read or used.");

const char kUnloadGrammarDoc[] = TARVO_DOC(
    "unload_grammar(name)",
    "Take the loaded grammar registered as name out of the registry: parse() and\n"
    "grammars() no longer know it, and the name may be loaded again. A parse\n"
    "already running with it (on another thread) finishes with it; its tables\n"
    "stay in memory until the process ends. Raises ValueError for a built-in\n"
    "grammar and for a name no grammar is registered under.");

}  // namespace tarvo::py

