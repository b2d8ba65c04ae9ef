// The tarvo extension module: one source for Python 2.7 and Python 3.6+.
//
// A parse call converts its arguments, builds a CallbackHandler over the
// callbacks dictionary, runs the core parser with it and turns the core's
// Result into the call's result: the warning text, ParseError with the error
// text, or the exception a callable raised.
#include "py_compat.h"

#include <sys/socket.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "schema/schema_table.h"
#include "tarvo/tarvo.h"

namespace tarvo::py {
namespace {

PyObject* g_parse_error = nullptr;

// Owns one reference.
class Ref {
public:
    explicit Ref(PyObject* o = nullptr) : o_(o) {}
    ~Ref() { Py_XDECREF(o_); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    PyObject* get() const { return o_; }
    PyObject* release() {
        PyObject* o = o_;
        o_ = nullptr;
        return o;
    }

private:
    PyObject* o_;
};

// ---------------------------------------------------------------------------
// Host strings for the names a grammar defines. Every start, text and end
// event names an element of the grammar and most attributes are declared
// ones, so these strings are made once per grammar and shared by all parses
// instead of being built per event. The tables are static, so the strings
// are kept for the life of the process.

struct GrammarNames {
    std::vector<PyObject*> elements;         // by element index
    std::vector<PyObject*> end_args;         // (name,) by element index, where calls take tuples
    std::vector<size_t> first_attribute;     // by element index, into `attributes`
    std::vector<PyObject*> attributes;       // declared attribute names, element after element
    std::vector<PyObject*> defaults;         // their default values, parallel to `attributes` (null: none)

    GrammarNames() = default;
    GrammarNames(const GrammarNames&) = delete;
    GrammarNames& operator=(const GrammarNames&) = delete;
    // Only runs for a set that lost the race to be published.
    ~GrammarNames() {
        for (PyObject* o : elements) Py_DECREF(o);
        for (PyObject* o : end_args) Py_DECREF(o);
        for (PyObject* o : attributes) Py_DECREF(o);
        for (PyObject* o : defaults) Py_XDECREF(o);
    }
};

// One slot per built-in grammar, in registration order; grammars loaded at
// run time get theirs in g_loaded_names (they too live for the process).
GrammarNames** g_names = nullptr;
std::vector<std::pair<const SchemaTable*, GrammarNames*>>* g_loaded_names = nullptr;

GrammarNames* build_names(const SchemaTable& g) {
    std::unique_ptr<GrammarNames> n;
    try {
        n = std::make_unique<GrammarNames>();
        size_t attribute_total = 0;
        for (int32_t i = 0; i < g.element_count; ++i)
            attribute_total += static_cast<size_t>(g.elements[i].attribute_count);
        // Reserved up front so that no push_back below can throw and strand a
        // reference.
        n->elements.reserve(static_cast<size_t>(g.element_count));
        if (kCallsUseTuples) n->end_args.reserve(static_cast<size_t>(g.element_count));
        n->first_attribute.reserve(static_cast<size_t>(g.element_count));
        n->attributes.reserve(attribute_total);
        n->defaults.reserve(attribute_total);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    }
    for (int32_t i = 0; i < g.element_count; ++i) {
        const ElementRule& e = g.elements[i];
        PyObject* name = interned_text(e.name, e.name_length);
        if (!name) return nullptr;
        n->elements.push_back(name);
        if (kCallsUseTuples) {
            PyObject* args = PyTuple_Pack(1, name);
            if (!args) return nullptr;
            n->end_args.push_back(args);
        }
        n->first_attribute.push_back(n->attributes.size());
        for (int32_t a = 0; a < e.attribute_count; ++a) {
            const AttributeRule& r = e.attributes[a];
            PyObject* attribute = interned_text(r.name, r.name_length);
            if (!attribute) return nullptr;
            n->attributes.push_back(attribute);
            PyObject* value = r.default_value ? text(r.default_value, r.default_length) : nullptr;
            if (r.default_value && !value) return nullptr;
            n->defaults.push_back(value);
        }
    }
    return n.release();
}

const GrammarNames* names_for(const SchemaTable& g) {
    std::span<const SchemaTable* const> all = grammars();
    size_t slot = 0;
    while (slot < all.size() && all[slot] != &g) ++slot;
    GrammarNames** cell = slot < all.size() ? &g_names[slot] : nullptr;
    if (!cell) {
        if (!g_loaded_names) g_loaded_names = new (std::nothrow) std::vector<std::pair<const SchemaTable*, GrammarNames*>>;
        if (!g_loaded_names) {
            PyErr_NoMemory();
            return nullptr;
        }
        for (auto& [table, names] : *g_loaded_names)
            if (table == &g) cell = &names;
        if (!cell) {
            try {
                g_loaded_names->emplace_back(&g, nullptr);
            } catch (const std::bad_alloc&) {
                PyErr_NoMemory();
                return nullptr;
            }
            cell = &g_loaded_names->back().second;
        }
    }
    if (*cell) return *cell;
    std::unique_ptr<GrammarNames> made(build_names(g));
    if (!made) return nullptr;
    // Building can run a garbage collection and with it Python code that
    // lets another thread in, which may have published its own set first.
    // (Only a built-in slot can race: loaded grammars' slots are looked up
    // again below.)
    if (slot < all.size()) {
        if (!g_names[slot]) g_names[slot] = made.release();
        return g_names[slot];
    }
    for (auto& [table, names] : *g_loaded_names)
        if (table == &g) {
            if (!names) names = made.release();
            return names;
        }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Callback dispatch.

// The "O&" converter for the callbacks argument: checks the dictionary and
// its keys before anything is created. The dictionary itself is copied into
// the handler once the grammar is known.
int convert_callbacks(PyObject* object, void* out) {
    if (!PyDict_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "object is not a dictionary");
        return 0;
    }
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(object, &pos, &key, &value)) {
        if (!is_key(key)) {
            PyErr_SetString(PyExc_TypeError, "key in dictionary is not a string");
            return 0;
        }
    }
    *static_cast<PyObject**>(out) = object;
    return 1;
}

class CallbackHandler final : public Handler {
public:
    CallbackHandler(const SchemaTable& grammar, const GrammarNames& names) : grammar_(grammar), names_(names) {}

    ~CallbackHandler() override {
        Py_XDECREF(spare_pair_);
        for (PyObject* o : held_) Py_DECREF(o);
    }

    CallbackHandler(const CallbackHandler&) = delete;
    CallbackHandler& operator=(const CallbackHandler&) = delete;

    // Takes one reference to every value of `callbacks` for the life of the
    // handler and resolves the keys to element indices, so that an event
    // finds its value by index instead of by name. The value of the key "*"
    // (no element can be named so) fills every element left without one
    // here, once, so that events cost the same with it or without. Later
    // changes to the dictionary do not reach the running parse. Throws
    // std::bad_alloc.
    void load(PyObject* callbacks) {
        by_element_.assign(static_cast<size_t>(grammar_.element_count), nullptr);
        held_.reserve(static_cast<size_t>(PyDict_Size(callbacks)));
        PyObject* every = nullptr;
        Py_ssize_t pos = 0;
        PyObject* key;
        PyObject* value;
        while (PyDict_Next(callbacks, &pos, &key, &value)) {
            // Code run by the argument parser after the converter (a path's
            // __fspath__, say) may have added keys of another type since.
            if (!is_key(key) || held_.size() == held_.capacity()) continue;
            Py_INCREF(value);
            held_.push_back(value);
            const char* data;
            Py_ssize_t size;
            PyObject* owner;
            if (!key_bytes(key, &data, &size, &owner)) continue;
            std::string_view name(data, static_cast<size_t>(size));
            int32_t element = find_element(grammar_, name);
            if (name == "*") every = value;
            Py_XDECREF(owner);
            if (element >= 0) by_element_[static_cast<size_t>(element)] = value;
        }
        if (every)
            for (PyObject*& slot : by_element_)
                if (!slot) slot = every;
    }

    bool start_tag(int element, std::string_view, std::span<const Attribute> attributes) override {
        if (PyObject* fn = callable(element, 0, "start tag"))
            call_with_second(fn, element, "start tag", attribute_dict(element, attributes));
        return !failed_;
    }

    bool text(int element, std::string_view, std::string_view data) override {
        if (PyObject* fn = callable(element, 1, "text"))
            call_with_second(fn, element, "text", py::text(data.data(), data.size()));
        return !failed_;
    }

    // The file reader waits without the interpreter lock, so that other
    // threads run meanwhile (a thread of this process may be the one that
    // writes the file, a FIFO say). No event comes in between.
    void before_wait() override { saved_ = PyEval_SaveThread(); }
    void after_wait() override { PyEval_RestoreThread(saved_); }

    bool end_tag(int element, std::string_view) override {
        PyObject* fn = callable(element, 2, "end tag");
        if (!fn) return !failed_;
        PyObject* args[2] = {nullptr, names_.elements[static_cast<size_t>(element)]};
        PyObject* tuple = names_.end_args.empty() ? nullptr : names_.end_args[static_cast<size_t>(element)];
        PyObject* result = call(fn, args + 1, 1, tuple);
        Py_DECREF(fn);
        done(result, "end tag", element);
        return !failed_;
    }

    std::string failure() const override { return failure_; }

private:
    // The item at `position` of the value registered for `element` when it
    // is callable (a new reference), else null. Nothing about the value is
    // assumed from one event to the next: a list changed by a callable
    // takes effect at the following event.
    PyObject* callable(int element, Py_ssize_t position, const char* kind) {
        // An exception already pending (a signal handler that raised while
        // the socket reader waited, a receive that failed) stops the parse
        // before any further event.
        if (PyErr_Occurred()) {
            failed(kind, element);
            return nullptr;
        }
        if (static_cast<size_t>(element) >= by_element_.size()) return nullptr;
        PyObject* value = by_element_[static_cast<size_t>(element)];
        if (!value) return nullptr;
        PyObject* item;
        if (PyList_CheckExact(value)) {
            if (PyList_GET_SIZE(value) <= position) return nullptr;
            item = PyList_GET_ITEM(value, position);
            Py_INCREF(item);
        } else if (PyTuple_CheckExact(value)) {
            if (PyTuple_GET_SIZE(value) <= position) return nullptr;
            item = PyTuple_GET_ITEM(value, position);
            Py_INCREF(item);
        } else {
            if (!PySequence_Check(value)) return nullptr;
            // A sequence type of the caller's own may raise from __len__ or
            // __getitem__; that stops the parse like a raising callable.
            Py_ssize_t size = PySequence_Size(value);
            if (size < 0) {
                failed(kind, element);
                return nullptr;
            }
            if (size <= position) return nullptr;
            item = PySequence_GetItem(value, position);
            if (!item) {
                failed(kind, element);
                return nullptr;
            }
        }
        // The reference taken above keeps the callable alive even if it
        // replaces itself in its list while it runs.
        if (!PyCallable_Check(item)) {
            Py_DECREF(item);
            return nullptr;
        }
        return item;
    }

    // The attribute dictionary, sized for its entries up front. Declared
    // names and values equal to their default come from the grammar's
    // strings (str is immutable, so sharing them is invisible); every other
    // value is made from the reader's bytes.
    PyObject* attribute_dict(int element, std::span<const Attribute> attributes) {
        PyObject* dict = new_dict(attributes.size());
        if (!dict) return nullptr;
        const ElementRule& rule = grammar_.elements[element];
        const size_t first = names_.first_attribute[static_cast<size_t>(element)];
        PyObject* const* declared = names_.attributes.data() + first;
        PyObject* const* defaults = names_.defaults.data() + first;
        for (const Attribute& a : attributes) {
            bool cached = a.rule >= 0 && a.rule < rule.attribute_count;
            PyObject* key = cached ? declared[a.rule] : py::text(a.name.data(), a.name.size());
            if (!key) {
                Py_DECREF(dict);
                return nullptr;
            }
            PyObject* value = nullptr;
            if (cached && defaults[a.rule]) {
                const AttributeRule& r = rule.attributes[a.rule];
                if (a.value == std::string_view(r.default_value, r.default_length)) {
                    value = defaults[a.rule];
                    Py_INCREF(value);
                }
            }
            if (!value) value = py::text(a.value.data(), a.value.size());
            int stored = value ? PyDict_SetItem(dict, key, value) : -1;
            Py_XDECREF(value);
            if (!cached) Py_DECREF(key);
            if (stored < 0) {
                Py_DECREF(dict);
                return nullptr;
            }
        }
        return dict;
    }

    // Calls `fn` with (element name, `second`) and releases both; a null
    // `second` (it could not be built) fails the event like a raise.
    void call_with_second(PyObject* fn, int element, const char* kind, PyObject* second) {
        if (!second) {
            Py_DECREF(fn);
            failed(kind, element);
            return;
        }
        PyObject* args[3] = {nullptr, names_.elements[static_cast<size_t>(element)], second};
        PyObject* result = call_with_spare(fn, args + 1, 2, &spare_pair_);
        Py_DECREF(second);
        Py_DECREF(fn);
        done(result, kind, element);
    }

    void done(PyObject* result, const char* kind, int element) {
        if (result) {
            Py_DECREF(result);
            return;
        }
        failed(kind, element);
    }

    // A callable raised (its exception is pending): the event says it
    // failed, the core stops the parse with Status::handler_failed, and the
    // exception then leaves the entry point unchanged.
    void failed(const char* kind, int element) {
        const ElementRule& e = grammar_.elements[element];
        failed_ = true;
        try {
            failure_ = "Exception raised in ";
            failure_ += kind;
            failure_ += " callback for ";
            failure_.append(e.name, e.name_length);
            failure_ += " tag";
        } catch (const std::bad_alloc&) {
        }
    }

    const SchemaTable& grammar_;
    const GrammarNames& names_;
    PyThreadState* saved_ = nullptr;
    bool failed_ = false;
    std::string failure_;
    std::vector<PyObject*> held_;        // one reference each
    std::vector<PyObject*> by_element_;  // borrowed from held_; null: nothing registered
    PyObject* spare_pair_ = nullptr;     // see call_with_spare
};

// ---------------------------------------------------------------------------
// Entry points.

PyObject* string_list(const std::vector<std::string_view>& messages) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(messages.size())));
    if (!list.get()) return nullptr;
    for (size_t i = 0; i < messages.size(); ++i) {
        PyObject* s = text(messages[i].data(), messages[i].size());
        if (!s) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), s);
    }
    return list.release();
}

// ---------------------------------------------------------------------------
// ParseError and its records.

// A list made by `item(i)` for i < n; null with the exception set on failure.
template <class Item>
PyObject* list_of(size_t n, Item&& item) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list.get()) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        PyObject* o = item(i);
        if (!o) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), o);
    }
    return list.release();
}


// tarvo.Diagnostic: one message as data, a named tuple of fixed fields.
PyStructSequence_Field g_diagnostic_fields[] = {
    {const_cast<char*>("severity"), const_cast<char*>("'error' or 'warning'")},
    {const_cast<char*>("kind"), const_cast<char*>("what the message is about: 'syntax', 'unknown_element', ...")},
    {const_cast<char*>("lineno"), const_cast<char*>("line of the reader's position, from 1; None: no position")},
    {const_cast<char*>("offset"), const_cast<char*>("column in bytes from 1; None: no position")},
    {const_cast<char*>("element"), const_cast<char*>("the element concerned, or None")},
    {const_cast<char*>("attribute"), const_cast<char*>("the attribute concerned, or None")},
    {const_cast<char*>("expected"), const_cast<char*>("what could have stood there: element names or values")},
    {const_cast<char*>("message"), const_cast<char*>("the message text")},
    {nullptr, nullptr},
};

PyStructSequence_Desc g_diagnostic_desc = {
    const_cast<char*>("tarvo.Diagnostic"),
    const_cast<char*>("One warning or error of a parse as data; message is its text."),
    g_diagnostic_fields,
    8,
};

PyTypeObject g_diagnostic_type;
bool g_diagnostic_ready = false;

PyObject* text_or_none(std::string_view s) {
    if (s.empty()) {
        Py_INCREF(Py_None);
        return Py_None;
    }
    return text(s.data(), s.size());
}

PyObject* position(long value, bool known) {
    if (!known) {
        Py_INCREF(Py_None);
        return Py_None;
    }
    return integer(value);
}

PyObject* diagnostic(const Diagnostic& d) {
    Ref record(PyStructSequence_New(&g_diagnostic_type));
    if (!record.get()) return nullptr;
    std::string_view kind = kind_name(d.kind);
    // A message about no place (a file that could not be opened) has line 0.
    bool placed = d.line > 0;
    PyObject* fields[8] = {
        d.severity == Severity::error ? text("error", 5) : text("warning", 7),
        text(kind.data(), kind.size()),
        position(d.line, placed),
        position(d.column, placed),
        text_or_none(d.element),
        text_or_none(d.attribute),
        PyTuple_New(static_cast<Py_ssize_t>(d.expected.size())),
        text(d.message.data(), d.message.size()),
    };
    bool ok = true;
    for (Py_ssize_t i = 0; i < 8; ++i) {
        if (!fields[i]) ok = false;
        PyStructSequence_SET_ITEM(record.get(), i, fields[i]);  // a null one is fine to the destructor
    }
    if (!ok) return nullptr;
    for (size_t i = 0; i < d.expected.size(); ++i) {
        PyObject* name = text(d.expected[i].data(), d.expected[i].size());
        if (!name) return nullptr;
        PyTuple_SET_ITEM(fields[6], static_cast<Py_ssize_t>(i), name);
    }
    return record.release();
}

// The exception class for a file that could not be read with system error
// `os_error`: derived from ParseError and from the OSError subclass that the
// error number stands for (FileNotFoundError, IsADirectoryError, ...; IOError
// on Python 2), so either kind of handler catches it. It keeps ParseError's
// name and its text: str() is the message, not OSError's own form. One class
// per OSError subclass, made on first use.
PyObject* g_os_error_classes = nullptr;  // OSError subclass -> combined class
PyObject* g_rebuild_unreadable = nullptr;  // the module's _unreadable, for pickling

PyObject* reduce_unreadable(PyObject* self, PyObject*);

PyMethodDef g_reduce_unreadable = {"__reduce__", reduce_unreadable, METH_NOARGS, nullptr};

PyObject* os_error_class(int os_error) {
#if TARVO_PY3
    // OSError picks the subclass for an error number when called itself.
    Ref probe(PyObject_CallFunction(PyExc_OSError, const_cast<char*>("is"), os_error, "-"));
    if (!probe.get()) return nullptr;
    PyObject* base = reinterpret_cast<PyObject*>(Py_TYPE(probe.get()));
#else
    (void)os_error;
    PyObject* base = PyExc_IOError;  // what open() raises there
#endif
    if (!g_os_error_classes && !(g_os_error_classes = PyDict_New())) return nullptr;
    if (PyObject* known = PyDict_GetItem(g_os_error_classes, base)) {
        Py_INCREF(known);
        return known;
    }
    Ref str(PyObject_GetAttrString(PyExc_BaseException, "__str__"));
    if (!str.get()) return nullptr;
    Ref dict(Py_BuildValue("{s:O,s:s}", "__str__", str.get(), "__module__", "tarvo"));
    if (!dict.get()) return nullptr;
    Ref made(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), const_cast<char*>("s(OO)O"),
                                   "ParseError", g_parse_error, base, dict.get()));
    if (!made.get()) return nullptr;
    // Pickled by name, the class would be found as plain ParseError and
    // refused; it is rebuilt through the module's _unreadable instead.
    Ref reduce(PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(made.get()), &g_reduce_unreadable));
    if (!reduce.get() || PyObject_SetAttrString(made.get(), "__reduce__", reduce.get()) < 0 ||
        PyDict_SetItem(g_os_error_classes, base, made.get()) < 0)
        return nullptr;
    return made.release();
}

// The exception for a file that could not be read: `message` its text,
// `filename` its path.
PyObject* unreadable_error(int os_error, PyObject* message, PyObject* filename) {
    Ref cls(os_error_class(os_error));
    if (!cls.get()) return nullptr;
    Ref error(PyObject_CallFunctionObjArgs(cls.get(), message, nullptr));
    if (!error.get()) return nullptr;
    const char* reason = std::strerror(os_error);
    Ref number(integer(os_error));
    Ref strerror(text(reason, std::strlen(reason)));
    if (!number.get() || !strerror.get() || PyObject_SetAttrString(error.get(), "errno", number.get()) < 0 ||
        PyObject_SetAttrString(error.get(), "strerror", strerror.get()) < 0 ||
        PyObject_SetAttrString(error.get(), "filename", filename) < 0)
        return nullptr;
    return error.release();
}

// _unreadable(errno, message, filename): what pickling such an exception
// calls to make it again (its other attributes follow as its state).
PyObject* rebuild_unreadable_entry(PyObject*, PyObject* args) {
    int os_error;
    PyObject* message;
    PyObject* filename;
    if (!PyArg_ParseTuple(args, "iOO:_unreadable", &os_error, &message, &filename)) return nullptr;
    return unreadable_error(os_error, message, filename);
}

PyObject* reduce_unreadable(PyObject* self, PyObject*) {
    Ref args(PyObject_GetAttrString(self, "args"));
    Ref number(PyObject_GetAttrString(self, "errno"));
    Ref filename(PyObject_GetAttrString(self, "filename"));
    if (!args.get() || !number.get() || !filename.get()) return nullptr;
    PyObject* message = PyTuple_Check(args.get()) && PyTuple_GET_SIZE(args.get()) > 0
                            ? PyTuple_GET_ITEM(args.get(), 0) : Py_None;
    Ref state(PyObject_GetAttrString(self, "__dict__"));
    if (!state.get()) return nullptr;
    return Py_BuildValue("O(OOO)O", g_rebuild_unreadable, number.get(), message, filename.get(), state.get());
}

// Sets `name` on `object` to `value` and drops the reference to value.
bool set_attribute(PyObject* object, const char* name, PyObject* value) {
    if (!value) return false;
    int rc = PyObject_SetAttrString(object, name, value);
    Py_DECREF(value);
    return rc == 0;
}

// The host string of a file system path, as os.fsdecode gives it; None for
// a null path.
PyObject* path_text(const char* path) {
    if (!path) {
        Py_INCREF(Py_None);
        return Py_None;
    }
#if TARVO_PY3
    return PyUnicode_DecodeFSDefault(path);
#else
    return PyString_FromString(path);
#endif
}

// Raises ParseError for a failed parse of the file at `path` (null: the
// document came from no file).
void raise_parse_error(const Result& r, const char* path) {
    const Diagnostic* first = nullptr;
    for (const Diagnostic& d : r.diagnostics())
        if (d.severity == Severity::error) {
            first = &d;
            break;
        }
    int os_error = first && first->kind == DiagnosticKind::input_output ? first->os_error : 0;
    Ref message(text(r.errors().data(), r.errors().size()));
    Ref filename(path_text(path));
    if (!message.get() || !filename.get()) return;
    Ref error(os_error ? unreadable_error(os_error, message.get(), filename.get())
                       : PyObject_CallFunctionObjArgs(g_parse_error, message.get(), nullptr));
    if (!error.get()) return;
    PyObject* e = error.get();
    bool placed = first && first->line > 0;
    std::string_view kind = first ? kind_name(first->kind) : std::string_view();
    if (!set_attribute(e, "errors", string_list(r.error_messages())) ||
        !set_attribute(e, "warnings", string_list(r.warning_messages())) ||
        !set_attribute(e, "lineno", position(first ? first->line : 0, placed)) ||
        !set_attribute(e, "offset", position(first ? first->column : 0, placed)) ||
        !set_attribute(e, "filename", (Py_INCREF(filename.get()), filename.get())) ||
        !set_attribute(e, "kind", text_or_none(kind)) ||
        !set_attribute(e, "diagnostics", list_of(r.diagnostics().size(), [&](size_t i) {
                           return diagnostic(r.diagnostics()[i]);
                       })))
        return;
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e)), e);
}

// What every entry point does once its arguments are converted: resolve the
// grammar, build the handler, let `run` parse, and map the result. `run`
// takes the grammar and the handler and returns the core's Result, or an
// empty optional with a Python exception set when it could not start.
// `path` is the file's path for ParseError's filename, or null.
template <class Run>
PyObject* parse_with_callbacks(const char* grammar_name, PyObject* callbacks, const char* path, Run&& run) {
    const SchemaTable* grammar = find_grammar(grammar_name);
    if (!grammar) {
        PyErr_SetString(PyExc_ValueError, "unknown DTD");
        return nullptr;
    }
    const GrammarNames* names = names_for(*grammar);
    if (!names) return nullptr;
    Result result;
    bool callable_raised = false;
    {
        std::unique_ptr<CallbackHandler> handler;
        try {
            handler = std::make_unique<CallbackHandler>(*grammar, *names);
            handler->load(callbacks);
        } catch (const std::bad_alloc&) {
            handler.reset();
            PyErr_SetString(PyExc_ValueError, "invalid callbacks");
            return nullptr;
        }
        try {
            std::optional<Result> outcome = run(*grammar, handler.get());
            if (!outcome) {
                handler.reset();
                return nullptr;
            }
            result = std::move(*outcome);
        } catch (const std::bad_alloc&) {
            handler.reset();
            return PyErr_NoMemory();
        } catch (...) {
            handler.reset();
            PyErr_SetString(PyExc_RuntimeError, "could not create parser");
            return nullptr;
        }
        // Seen before the handler goes: releasing the registered values may
        // run Python code.
        callable_raised = result.status == Status::handler_failed && PyErr_Occurred();
    }
    if (callable_raised && PyErr_Occurred()) return nullptr;
    if (result.status != Status::ok) {
        raise_parse_error(result, path);
        return nullptr;
    }
    return text(result.warnings().data(), result.warnings().size());
}

// parse(grammar, callbacks, path, flags=PARSE_STRICT) and parse_file, the
// same function. Argument errors name "parse" in every function.
const char* const kParseKeywords[] = {"grammar", "callbacks", "path", "flags", nullptr};

PyObject* parse_file_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    const char* grammar = nullptr;
    PyObject* callbacks = nullptr;
    int flags = 0;
#if TARVO_PY3
    PyObject* path_bytes = nullptr;
    if (!parse_arguments(args, kwargs, "sO&O&|i:parse", kParseKeywords, &grammar, convert_callbacks, &callbacks,
                         PyUnicode_FSConverter, &path_bytes, &flags))
        return nullptr;
    Ref path_owner(path_bytes);
    const char* path = PyBytes_AS_STRING(path_bytes);
#else
    // A unicode path is encoded as the file system expects, as open() does.
    char* path = nullptr;
    if (!parse_arguments(args, kwargs, "sO&et|i:parse", kParseKeywords, &grammar, convert_callbacks, &callbacks,
                         Py_FileSystemDefaultEncoding, &path, &flags))
        return nullptr;
    std::unique_ptr<char, void (*)(void*)> path_owner(path, PyMem_Free);
#endif
    return parse_with_callbacks(grammar, callbacks, path, [&](const SchemaTable& g, Handler* h) {
        return parse_file(g, path, h, static_cast<Flags>(flags));
    });
}

// parse_bytes(grammar, callbacks, data, flags=PARSE_STRICT, name="<bytes>"):
// a document held by any object with the buffer interface. The view is kept
// for the whole parse, so a bytearray cannot be resized under the reader.
const char* const kBytesKeywords[] = {"grammar", "callbacks", "data", "flags", "name", nullptr};

PyObject* parse_bytes_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    const char* grammar = nullptr;
    PyObject* callbacks = nullptr;
    PyObject* data = nullptr;
    int flags = 0;
    const char* name = "<bytes>";
    if (!parse_arguments(args, kwargs, "sO&O|is:parse_bytes", kBytesKeywords, &grammar, convert_callbacks,
                         &callbacks, &data, &flags, &name))
        return nullptr;
#if !TARVO_PY3
    // Text is not bytes: Python 2's unicode would hand out its internal form.
    if (PyUnicode_Check(data)) {
        PyErr_SetString(PyExc_TypeError, "data must be bytes or a buffer, not unicode");
        return nullptr;
    }
#endif
    Py_buffer view;
    if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
    PyObject* result = parse_with_callbacks(grammar, callbacks, nullptr, [&](const SchemaTable& g, Handler* h) {
        return parse_buffer(g, std::string_view(static_cast<const char*>(view.buf), static_cast<size_t>(view.len)),
                            name, h, static_cast<Flags>(flags));
    });
    PyBuffer_Release(&view);
    return result;
}

const char kBytesDoc[] = TARVO_DOC(
    "parse_bytes(grammar, callbacks, data, flags=PARSE_STRICT, name=\"<bytes>\")",
    "Read the document held in data (bytes, bytearray, memoryview or any object\n"
    "with the buffer interface) as parse() reads a file with those bytes; name\n"
    "stands where a file's path stands in messages. callbacks and flags are as\n"
    "for parse().\n"
    "\n"
    "Returns the warning text. Raises ParseError (its filename None) with the\n"
    "error text when the document is invalid; an exception raised by a callable\n"
    "comes through unchanged.");

#define TARVO_PARSE_DOC(name)                                                                                  \
    TARVO_DOC(name "(grammar, callbacks, path, flags=PARSE_STRICT)",                                           \
              "Read the document file at path against the built-in grammar named grammar.\n"                 \
              "\n"                                                                                              \
              "callbacks maps element names to a sequence [start, text, end] of callables,\n"                  \
              "called as start(name, attributes), text(name, text) and end(name); shorter\n"                   \
              "sequences and None items are allowed. The key \"*\" gives the sequence for every\n"             \
              "element without an entry of its own. flags combines the PARSE_* constants.\n"                   \
              "\n"                                                                                              \
              "Returns the warning text (\"\" when there are none). Raises ParseError with the\n"             \
              "error text when the document is invalid or cannot be read; an exception raised\n"               \
              "by a callable comes through unchanged.")

// ---------------------------------------------------------------------------
// Socket streams.

// The handle of a host socket object, from its fileno(). False with the
// host's exception set when there is no fileno, it raises, or its result is
// not an integer.
bool socket_handle(PyObject* socket, int32_t* fd) {
    // Python 2 declares the method name without const.
    Ref result(PyObject_CallMethod(socket, const_cast<char*>("fileno"), nullptr));
    if (!result.get()) return false;
#if TARVO_PY3
    long value = PyLong_AsLong(result.get());
#else
    long value = PyInt_AsLong(result.get());
#endif
    if (value == -1 && PyErr_Occurred()) return false;
    if (value < INT32_MIN || value > INT32_MAX) {
        // Cut to 32 bits it would name some other descriptor.
        PyErr_SetString(PyExc_OverflowError, "fileno() is out of range for a socket handle");
        return false;
    }
    *fd = static_cast<int32_t>(value);
    return true;
}

// Waits, with the interpreter lock released, until something has arrived and
// copies it without removing it from the socket; 0 when the peer has closed.
// A signal that interrupts the wait runs its Python handler. When the wait
// ends in an exception (the handler raised, or the receive failed: OSError
// with its errno, also for a socket with a timeout that found nothing), the
// input ends, the exception stays pending and `failed` is set: the parse
// then delivers no further event and the call raises that exception.
size_t peek_socket(int32_t fd, char* buffer, size_t capacity, bool& failed) {
    for (;;) {
        ssize_t n;
        int error;
        Py_BEGIN_ALLOW_THREADS
        n = recv(fd, buffer, capacity, MSG_PEEK);
        error = errno;
        Py_END_ALLOW_THREADS
        if (n >= 0) return static_cast<size_t>(n);
        if (error == EINTR) {
            if (PyErr_CheckSignals() == 0) continue;
        } else {
            errno = error;
            PyErr_SetFromErrno(PyExc_OSError);
        }
        failed = true;
        return 0;
    }
}

// Removes `count` bytes that peek_socket has shown to be there, so nothing
// waits and the lock stays held. MSG_DONTWAIT keeps even a socket that
// someone else reads meanwhile from blocking us with the lock held.
void take_from_socket(int32_t fd, char* scratch, size_t scratch_size, size_t count) {
    while (count > 0) {
        ssize_t n = recv(fd, scratch, std::min(count, scratch_size), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        count -= static_cast<size_t>(n);
    }
}

#ifdef TARVO_BYTEWISE_SOCKET_READER
// One byte per receive, the lock released and retaken around each: the
// simplest way to read a socket, built only into the benchmark's copy of the
// module so that peek_socket can be measured against it.
size_t read_socket_byte(int32_t fd, char* buffer) {
    ssize_t n;
    Py_BEGIN_ALLOW_THREADS
    n = recv(fd, buffer, 1, MSG_WAITALL);
    Py_END_ALLOW_THREADS
    return n == 1 ? 1 : 0;
}
#endif

// parse_socket_stream(grammar, callbacks, sock, flags=PARSE_STRICT, loop=0).
// Only the bytes of the documents read are taken from the socket (with the
// whitespace before each); a call returns at the '>' that closes a root
// element and leaves whatever follows on the socket for the next call.
const char* const kSocketKeywords[] = {"grammar", "callbacks", "sock", "flags", "loop", nullptr};

template <bool kBytewise>
PyObject* parse_socket_stream_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    const char* grammar = nullptr;
    PyObject* callbacks = nullptr;
    PyObject* socket = nullptr;
    int flags = 0;
    unsigned char loop = 0;
    if (!parse_arguments(args, kwargs, "sO&O|ib:parse", kSocketKeywords, &grammar, convert_callbacks, &callbacks,
                         &socket, &flags, &loop))
        return nullptr;
    return parse_with_callbacks(grammar, callbacks, nullptr, [&](const SchemaTable& g, Handler* h) -> std::optional<Result> {
        int32_t fd;
        if (!socket_handle(socket, &fd)) return std::nullopt;
#ifdef TARVO_BYTEWISE_SOCKET_READER
        if constexpr (kBytewise) {
            StreamReader reader([fd](char* b, size_t) { return read_socket_byte(fd, b); });
            return reader.read(g, h, static_cast<Flags>(flags), loop != 0);
        }
#endif
        constexpr size_t kScratchSize = 64 * 1024;
        std::unique_ptr<char[]> scratch(new char[kScratchSize]);
        bool failed = false;
        StreamReader reader([fd, &failed](char* b, size_t cap) { return peek_socket(fd, b, cap, failed); },
                            [fd, &scratch](size_t n) { take_from_socket(fd, scratch.get(), kScratchSize, n); });
        Result result = reader.read(g, h, static_cast<Flags>(flags), loop != 0);
        if (failed && PyErr_Occurred()) return std::nullopt;
        return result;
    });
}

const char kSocketDoc[] = TARVO_DOC(
    "parse_socket_stream(grammar, callbacks, sock, flags=PARSE_STRICT, loop=0)",
    "Read documents sent back to back over the connected stream socket sock\n"
    "(anything with a fileno() method), each a single root element without XML\n"
    "declaration, separated by optional whitespace.\n"
    "\n"
    "Reads one document, or with loop non-zero (0 to 255) one document after\n"
    "another until one fails or the peer closes. Takes from the socket only the\n"
    "documents it reads and the whitespace before them: a call returns as soon as\n"
    "a root element closes, and the next document stays on the socket. Waits for\n"
    "data without holding the interpreter lock. The socket must be in blocking\n"
    "mode: a receive that fails (a timeout included) raises OSError. callbacks and\n"
    "flags are as for parse().\n"
    "\n"
    "Returns the warnings of every document read. Raises ParseError with the errors\n"
    "of the first document that fails; an exception raised by a callable, by a\n"
    "signal handler while the call waits, or by sock.fileno() comes through\n"
    "unchanged.");

// ---------------------------------------------------------------------------
// Grammars: list, describe, load.

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

PyObject* grammars_entry(PyObject*, PyObject*) {
    std::vector<const SchemaTable*> all = all_grammars();
    return list_of(all.size(), [&](size_t i) { return text(all[i]->name, std::strlen(all[i]->name)); });
}

const char kGrammarsDoc[] = TARVO_DOC("grammars()",
                                      "The names of the grammars, built in and loaded, in registration order.");

const char* const kGrammarInfoKeywords[] = {"name", nullptr};

PyObject* grammar_info_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    const char* name = nullptr;
    if (!parse_arguments(args, kwargs, "s:grammar_info", kGrammarInfoKeywords, &name)) return nullptr;
    const SchemaTable* t = find_grammar(name);
    if (!t) {
        PyErr_Format(PyExc_ValueError, "unknown grammar '%s'", name);
        return nullptr;
    }
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
    try {
        const SchemaTable& g = register_grammar(load_grammar(path));
        return text(g.name, std::strlen(g.name));
    } catch (const GrammarError& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
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

const char kModuleDoc[] =
    "Validating XML reader over built-in grammars.\n"
    "\n"
    "parse() reads a document file, parse_bytes() one held in memory,\n"
    "parse_socket_stream() documents sent back to back over a socket. Each checks\n"
    "the document against a grammar compiled into the module, calls the callables\n"
    "registered for its elements, and returns the warning text or raises\n"
    "ParseError, whose diagnostics are Diagnostic records. The PARSE_* flags\n"
    "tolerate wrong or unknown attributes and misplaced elements. grammars() and\n"
    "grammar_info() show the grammars; load_grammar() adds one from a grammar file.";

PyMethodDef g_methods[] = {
    {"parse", keywords_function(parse_file_entry), METH_VARARGS | METH_KEYWORDS, TARVO_PARSE_DOC("parse")},
    {"parse_file", keywords_function(parse_file_entry), METH_VARARGS | METH_KEYWORDS, TARVO_PARSE_DOC("parse_file")},
    {"parse_bytes", keywords_function(parse_bytes_entry), METH_VARARGS | METH_KEYWORDS, kBytesDoc},
    {"parse_socket_stream", keywords_function(parse_socket_stream_entry<false>), METH_VARARGS | METH_KEYWORDS,
     kSocketDoc},
    {"grammars", grammars_entry, METH_NOARGS, kGrammarsDoc},
    {"grammar_info", keywords_function(grammar_info_entry), METH_VARARGS | METH_KEYWORDS, kGrammarInfoDoc},
    {"load_grammar", keywords_function(load_grammar_entry), METH_VARARGS | METH_KEYWORDS, kLoadGrammarDoc},
    {"_unreadable", rebuild_unreadable_entry, METH_VARARGS, nullptr},
#ifdef TARVO_BYTEWISE_SOCKET_READER
    {"_parse_socket_stream_bytewise", keywords_function(parse_socket_stream_entry<true>),
     METH_VARARGS | METH_KEYWORDS, nullptr},
#endif
    {nullptr, nullptr, 0, nullptr},
};

// Fills a new module; false with an exception set on failure.
bool init_module(PyObject* module) {
    if (!g_names) {
        g_names = new (std::nothrow) GrammarNames*[grammars().size()]();
        if (!g_names) {
            PyErr_NoMemory();
            return false;
        }
    }
    if (!g_parse_error) {
        // Python 2 declares the name parameter without const.
        g_parse_error = PyErr_NewException(const_cast<char*>("tarvo.ParseError"), nullptr, nullptr);
        if (!g_parse_error) return false;
    }
    if (!g_diagnostic_ready) {
#if TARVO_PY3
        if (PyStructSequence_InitType2(&g_diagnostic_type, &g_diagnostic_desc) < 0) return false;
#else
        PyStructSequence_InitType(&g_diagnostic_type, &g_diagnostic_desc);
        if (PyErr_Occurred()) return false;
#endif
        g_diagnostic_ready = true;
    }
    Py_INCREF(&g_diagnostic_type);
    if (PyModule_AddObject(module, "Diagnostic", reinterpret_cast<PyObject*>(&g_diagnostic_type)) < 0) {
        Py_DECREF(&g_diagnostic_type);
        return false;
    }
    Py_INCREF(g_parse_error);  // PyModule_AddObject steals one on success
    if (PyModule_AddObject(module, "ParseError", g_parse_error) < 0) {
        Py_DECREF(g_parse_error);
        return false;
    }
    if (!g_rebuild_unreadable && !(g_rebuild_unreadable = PyObject_GetAttrString(module, "_unreadable"))) return false;
    return PyModule_AddStringConstant(module, "__version__", version()) == 0 &&
           PyModule_AddIntConstant(module, "PARSE_STRICT", static_cast<long>(Flags::strict)) == 0 &&
           PyModule_AddIntConstant(module, "PARSE_IGNORE_WRONG_ATTRIBUTES",
                                   static_cast<long>(Flags::ignore_wrong_attributes)) == 0 &&
           PyModule_AddIntConstant(module, "PARSE_IGNORE_UNKNOWN_ATTRIBUTES",
                                   static_cast<long>(Flags::ignore_unknown_attributes)) == 0 &&
           PyModule_AddIntConstant(module, "PARSE_IGNORE_WRONG_ELEMENTS",
                                   static_cast<long>(Flags::ignore_wrong_elements)) == 0;
}

#if TARVO_PY3
PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT, "tarvo", kModuleDoc, -1, g_methods, nullptr, nullptr, nullptr, nullptr,
};
#endif

}  // namespace
}  // namespace tarvo::py

#pragma GCC visibility push(default)
#if TARVO_PY3
PyMODINIT_FUNC PyInit_tarvo(void) {
    PyObject* module = PyModule_Create(&tarvo::py::g_module);
    if (!module) return nullptr;
    if (!tarvo::py::init_module(module)) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
#else
PyMODINIT_FUNC inittarvo(void) {
    // Py_InitModule4 is Py_InitModule4_64 on 64-bit builds.
    PyObject* module = Py_InitModule4("tarvo", tarvo::py::g_methods, const_cast<char*>(tarvo::py::kModuleDoc), nullptr,
                                      PYTHON_API_VERSION);
    if (!module) return;
    tarvo::py::init_module(module);
}
#endif
#pragma GCC visibility pop
