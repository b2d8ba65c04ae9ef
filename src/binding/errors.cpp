// ParseError and its records: the exception a failed parse raises, the
// Diagnostic records it carries, and the classes that also make a file
// that could not be read an OSError.
#include "binding.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace tarvo::py {
namespace {

PyObject* g_parse_error = nullptr;

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

// tarvo.Diagnostic: one message as data, a named tuple of fixed fields.
PyStructSequence_Field g_diagnostic_fields[] = {
    {const_cast<char*>("severity"), const_cast<char*>("'error' or 'warning'")},
    {const_cast<char*>("kind"), const_cast<char*>("what the message is about: 'syntax', 'unknown_element', "
                      "'misplaced_element', 'unknown_attribute', 'wrong_attribute_value', 'missing_attribute', "
                      "'text_not_allowed', 'input_output' or 'handler_failed'")},
    {const_cast<char*>("lineno"), const_cast<char*>("line where the token concerned starts, from 1; None: no position")},
    {const_cast<char*>("offset"), const_cast<char*>("its column in bytes from 1; None: no position")},
    {const_cast<char*>("element"), const_cast<char*>("the element concerned, or None")},
    {const_cast<char*>("attribute"), const_cast<char*>("the attribute concerned, or None")},
    {const_cast<char*>("expected"), const_cast<char*>("what could have stood there: element names or values")},
    {const_cast<char*>("message"), const_cast<char*>("the message text")},
    // By name only: the tuple keeps its eight items.
    {const_cast<char*>("code"), const_cast<char*>("the problem's stable name, or None: 'unknown-element', "
                      "'misplaced-element', 'missing-element', 'unknown-attribute', 'missing-attribute', "
                      "'invalid-value', 'text-not-allowed', 'syntax', 'unreadable', 'callback-failed' or "
                      "'no-grammar'")},
    {const_cast<char*>("note"), const_cast<char*>("True: the reader's line about where the problem of the record before happened")},
    {const_cast<char*>("parent"), const_cast<char*>("the element the concerned one stands in, or None")},
    {const_cast<char*>("path"), const_cast<char*>("the element's path from the root, '/Root/Item[2]', or None")},
    {const_cast<char*>("suggestion"), const_cast<char*>("the allowed name or value closest to a wrong one, or None")},
    {const_cast<char*>("end_lineno"), const_cast<char*>("line of the token's last byte; None: no position")},
    {const_cast<char*>("end_offset"), const_cast<char*>("column just past the token's last byte; None: no position")},
    {nullptr, nullptr},
};
constexpr Py_ssize_t kDiagnosticFields = 15;

PyStructSequence_Desc g_diagnostic_desc = {
    const_cast<char*>("tarvo.Diagnostic"),
    const_cast<char*>("One warning or error of a parse as data; message is its text.\n"
                      "\n"
                      "A tuple of eight: severity, kind, lineno, offset, element, attribute,\n"
                      "expected, message; code, note, parent, path and suggestion by name\n"
                      "only. Each field is described below."),
    g_diagnostic_fields,
    8,
};

// tarvo.Report: what validate() found.
PyStructSequence_Field g_report_fields[] = {
    {const_cast<char*>("valid"), const_cast<char*>("True when the document is valid (status 0)")},
    {const_cast<char*>("status"), const_cast<char*>("0 valid, 1 invalid, 2 unreadable or no grammar found")},
    {const_cast<char*>("diagnostics"), const_cast<char*>("every warning and error as a Diagnostic, in the order reported")},
    {nullptr, nullptr},
};

PyStructSequence_Desc g_report_desc = {
    const_cast<char*>("tarvo.Report"),
    const_cast<char*>("What validate() found about one document."),
    g_report_fields,
    3,
};
bool g_report_ready = false;

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

}  // namespace

PyObject* diagnostic_record(const Diagnostic& d) {
    Ref record(PyStructSequence_New(&g_diagnostic_type));
    if (!record.get()) return nullptr;
    std::string_view kind = kind_name(d.kind);
    // A message about no place (a file that could not be opened) has line 0.
    bool placed = d.line > 0;
    PyObject* fields[kDiagnosticFields] = {
        d.severity == Severity::error ? text("error", 5) : text("warning", 7),
        text(kind.data(), kind.size()),
        position(d.line, placed),
        position(d.column, placed),
        text_or_none(d.element),
        text_or_none(d.attribute),
        PyTuple_New(static_cast<Py_ssize_t>(d.expected.size())),
        text(d.message.data(), d.message.size()),
        text_or_none(d.code),
        PyBool_FromLong(d.note),
        text_or_none(d.parent),
        text_or_none(d.path),
        text_or_none(d.suggestion),
        position(d.end_line, placed),
        position(d.end_column, placed),
    };
    bool ok = true;
    for (Py_ssize_t i = 0; i < kDiagnosticFields; ++i) {
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

PyTypeObject g_report_type;

namespace {

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

}  // namespace

// _unreadable(errno, message, filename): what pickling such an exception
// calls to make it again (its other attributes follow as its state).
PyObject* rebuild_unreadable_entry(PyObject*, PyObject* args) {
    int os_error;
    PyObject* message;
    PyObject* filename;
    if (!PyArg_ParseTuple(args, "iOO:_unreadable", &os_error, &message, &filename)) return nullptr;
    return unreadable_error(os_error, message, filename);
}

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
                           return diagnostic_record(r.diagnostics()[i]);
                       })))
        return;
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e)), e);
}

const char kParseErrorDoc[] =
    "A parse that failed: the document is invalid or could not be read.\n"
    "\n"
    "str(error) is the error text, the errors joined by newlines. Fields:\n"
    "  errors       list of str: each error message, in the order reported\n"
    "  warnings     list of str: each warning message met before the parse ended\n"
    "  kind         str or None: the first error's kind ('syntax', 'unknown_element',\n"
    "               'misplaced_element', 'unknown_attribute', 'wrong_attribute_value',\n"
    "               'missing_attribute', 'text_not_allowed', 'input_output',\n"
    "               'handler_failed')\n"
    "  lineno       int or None: line of the first error, from 1\n"
    "  offset       int or None: its column in bytes, from 1\n"
    "  filename     str or None: the path of the document read; None for bytes\n"
    "               and sockets\n"
    "  diagnostics  list of Diagnostic: every message as a record, in the order\n"
    "               reported (with max_errors above 1, every problem found up to\n"
    "               that many)\n"
    "A file that could not be read raises a class derived from both ParseError\n"
    "and the OSError subclass for its error number (FileNotFoundError, ...), with\n"
    "errno, strerror and filename set as well.";

bool add_record_type(PyObject* module, const char* name, PyTypeObject* type, PyStructSequence_Desc* desc,
                     bool* ready) {
    if (!*ready) {
#if TARVO_PY3
        if (PyStructSequence_InitType2(type, desc) < 0) return false;
#else
        PyStructSequence_InitType(type, desc);
        if (PyErr_Occurred()) return false;
#endif
        *ready = true;
    }
    Py_INCREF(type);  // PyModule_AddObject steals one on success
    if (PyModule_AddObject(module, name, reinterpret_cast<PyObject*>(type)) < 0) {
        Py_DECREF(type);
        return false;
    }
    return true;
}

PyObject* filled_record(PyTypeObject* type, PyObject* const* fields, Py_ssize_t n) {
    Ref made(PyStructSequence_New(type));
    bool ok = made.get() != nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!fields[i]) ok = false;
        if (made.get())
            PyStructSequence_SET_ITEM(made.get(), i, fields[i]);  // a null one is fine to the destructor
        else
            Py_XDECREF(fields[i]);
    }
    return ok ? made.release() : nullptr;
}

bool add_error_types(PyObject* module) {
    if (!g_parse_error) {
        // Python 2 declares the name parameter without const.
        g_parse_error = PyErr_NewExceptionWithDoc(const_cast<char*>("tarvo.ParseError"),
                                                  const_cast<char*>(kParseErrorDoc), nullptr, nullptr);
        if (!g_parse_error) return false;
    }
    if (!add_record_type(module, "Report", &g_report_type, &g_report_desc, &g_report_ready) ||
        !add_record_type(module, "Diagnostic", &g_diagnostic_type, &g_diagnostic_desc, &g_diagnostic_ready))
        return false;
    Py_INCREF(g_parse_error);  // PyModule_AddObject steals one on success
    if (PyModule_AddObject(module, "ParseError", g_parse_error) < 0) {
        Py_DECREF(g_parse_error);
        return false;
    }
    return g_rebuild_unreadable || (g_rebuild_unreadable = PyObject_GetAttrString(module, "_unreadable"));
}

}  // namespace tarvo::py
