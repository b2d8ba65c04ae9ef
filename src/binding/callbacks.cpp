// Callback dispatch: the Handler that turns a parse's events into calls of
// the callables registered in the callbacks dictionary, and the strings it
// hands them.
#include "binding.h"

#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo::py {
namespace {

// ---------------------------------------------------------------------------
// Host strings for the names a grammar defines. Every start, text and end
// event names an element of the grammar and most attributes are declared
// ones, so these strings are made once per grammar and shared by all parses
// instead of being built per event. The grammars live for the process, and
// so do these strings.

struct GrammarNames {
    std::vector<PyObject*> elements;       // by element index
    std::vector<PyObject*> end_args;       // (name,) by element index, where calls take tuples
    std::vector<size_t> first_attribute;   // by element index, into `attributes`; one more at the end
    std::vector<PyObject*> attributes;     // declared attribute names, element after element
    std::vector<PyObject*> defaults;       // their default values, parallel to `attributes` (null: none)
    std::vector<std::string_view> default_bytes;  // the same as the grammar holds them

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

    // The number of attributes `element` declares.
    int attribute_count(int element) const {
        return static_cast<int>(first_attribute[static_cast<size_t>(element) + 1] -
                                first_attribute[static_cast<size_t>(element)]);
    }
};

// One slot per built-in grammar, in registration order; grammars loaded at
// run time get theirs in g_loaded_names.
GrammarNames** g_names = nullptr;
std::vector<std::pair<const SchemaTable*, GrammarNames*>>* g_loaded_names = nullptr;

GrammarNames* build_names(const SchemaTable& g) {
    const int elements = element_count(g);
    std::unique_ptr<GrammarNames> n;
    try {
        n = std::make_unique<GrammarNames>();
        size_t attribute_total = 0;
        for (int i = 0; i < elements; ++i) attribute_total += static_cast<size_t>(attribute_count(g, i));
        // Reserved up front so that no push_back below can throw and strand a
        // reference.
        n->elements.reserve(static_cast<size_t>(elements));
        if (kCallsUseTuples) n->end_args.reserve(static_cast<size_t>(elements));
        n->first_attribute.reserve(static_cast<size_t>(elements) + 1);
        n->attributes.reserve(attribute_total);
        n->defaults.reserve(attribute_total);
        n->default_bytes.reserve(attribute_total);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    }
    for (int i = 0; i < elements; ++i) {
        std::string_view element = element_name(g, i);
        PyObject* name = interned_text(element.data(), element.size());
        if (!name) return nullptr;
        n->elements.push_back(name);
        if (kCallsUseTuples) {
            PyObject* args = PyTuple_Pack(1, name);
            if (!args) return nullptr;
            n->end_args.push_back(args);
        }
        n->first_attribute.push_back(n->attributes.size());
        for (int a = 0, count = attribute_count(g, i); a < count; ++a) {
            const AttributeDeclaration d = attribute_declaration(g, i, a);
            PyObject* attribute = interned_text(d.name.data(), d.name.size());
            if (!attribute) return nullptr;
            n->attributes.push_back(attribute);
            PyObject* value = d.required ? nullptr : text(d.default_value.data(), d.default_value.size());
            if (!d.required && !value) return nullptr;
            n->defaults.push_back(value);
            n->default_bytes.push_back(d.default_value);
        }
    }
    n->first_attribute.push_back(n->attributes.size());
    return n.release();
}

const GrammarNames* names_for(const SchemaTable& g) {
    if (!g_names) {
        g_names = new (std::nothrow) GrammarNames*[grammars().size()]();
        if (!g_names) {
            PyErr_NoMemory();
            return nullptr;
        }
    }
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
        by_element_.assign(static_cast<size_t>(element_count(grammar_)), nullptr);
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
            int element = element_index(grammar_, name);
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
        // a reader waited, a receive that failed) stops the parse before
        // any further event.
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
        const size_t first = names_.first_attribute[static_cast<size_t>(element)];
        const int declared_count = names_.attribute_count(element);
        PyObject* const* declared = names_.attributes.data() + first;
        PyObject* const* defaults = names_.defaults.data() + first;
        const std::string_view* default_bytes = names_.default_bytes.data() + first;
        for (const Attribute& a : attributes) {
            bool cached = a.rule >= 0 && a.rule < declared_count;
            PyObject* key = cached ? declared[a.rule] : py::text(a.name.data(), a.name.size());
            if (!key) {
                Py_DECREF(dict);
                return nullptr;
            }
            PyObject* value = nullptr;
            if (cached && defaults[a.rule] && a.value == default_bytes[a.rule]) {
                value = defaults[a.rule];
                Py_INCREF(value);
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
        failed_ = true;
        try {
            failure_ = "Exception raised in ";
            failure_ += kind;
            failure_ += " callback for ";
            failure_ += element_name(grammar_, element);
            failure_ += " tag";
        } catch (const std::bad_alloc&) {
        }
    }

    const SchemaTable& grammar_;
    const GrammarNames& names_;
    bool failed_ = false;
    std::string failure_;
    std::vector<PyObject*> held_;        // one reference each
    std::vector<PyObject*> by_element_;  // borrowed from held_; null: nothing registered
    PyObject* spare_pair_ = nullptr;     // see call_with_spare
};

}  // namespace

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
        // A bare callable would be skipped at every event without a word.
        if (PyCallable_Check(value) && !PySequence_Check(value)) {
            const char* data = "";
            Py_ssize_t size = 0;
            PyObject* owner = nullptr;
            key_bytes(key, &data, &size, &owner);
            PyErr_Format(PyExc_TypeError,
                         "callbacks for element '%.200s': expected a list of three, [start, text, end], "
                         "not a bare %.100s",
                         std::string(data, static_cast<size_t>(size)).c_str(), Py_TYPE(value)->tp_name);
            Py_XDECREF(owner);
            return 0;
        }
    }
    *static_cast<PyObject**>(out) = object;
    return 1;
}

std::unique_ptr<Handler> make_callback_handler(const SchemaTable& grammar, PyObject* callbacks) {
    const GrammarNames* names = names_for(grammar);
    if (!names) return nullptr;
    std::unique_ptr<CallbackHandler> handler;
    try {
        handler = std::make_unique<CallbackHandler>(grammar, *names);
        handler->load(callbacks);
    } catch (const std::bad_alloc&) {
        handler.reset();
        PyErr_SetString(PyExc_ValueError, "invalid callbacks");
        return nullptr;
    }
    return handler;
}

}  // namespace tarvo::py
