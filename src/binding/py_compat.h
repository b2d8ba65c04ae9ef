// The few places where Python 2.7 and Python 3 differ for this module, so
// that the module is written once. Included before any other header: Python.h
// must come first.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#if PY_MAJOR_VERSION < 3
#include <structseq.h>  // Python 3's Python.h includes it
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>

#if PY_MAJOR_VERSION < 3 && !(PY_MAJOR_VERSION == 2 && PY_MINOR_VERSION == 7)
#error "tarvo supports Python 2.7 and Python 3.6 or later"
#endif
#if PY_MAJOR_VERSION == 3 && PY_MINOR_VERSION < 6
#error "tarvo supports Python 2.7 and Python 3.6 or later"
#endif

#define TARVO_PY3 (PY_MAJOR_VERSION >= 3)

namespace tarvo::py {

// Document bytes as the host's native string: a byte string on Python 2; on
// Python 3 a str decoded as UTF-8 with surrogateescape, so that every byte
// survives the round trip s.encode("utf-8", "surrogateescape").
inline PyObject* text(const char* data, size_t size) {
#if TARVO_PY3
    // Most names, values and texts are ASCII: those are copied straight into
    // a new str, with no decoder set up. One byte or none goes through the
    // decoder, which hands out the shared single-character strings.
    if (size > 1) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
        unsigned char any = 0;
        size_t i = 0;
        for (; i + 8 <= size; i += 8) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            any |= (word & 0x8080808080808080ull) != 0;
        }
        for (; i < size; ++i) any |= p[i] & 0x80;
        if (!any) {
            PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(size), 127);
            if (s) std::memcpy(PyUnicode_1BYTE_DATA(s), data, size);
            return s;
        }
    }
    return PyUnicode_DecodeUTF8(data, static_cast<Py_ssize_t>(size), "surrogateescape");
#else
    return PyString_FromStringAndSize(data, static_cast<Py_ssize_t>(size));
#endif
}

// A string that lives as long as the process: interned, so that dictionary
// lookups by callers with equal strings mostly compare pointers.
inline PyObject* interned_text(const char* data, size_t size) {
    PyObject* s = text(data, size);
    if (!s) return nullptr;
#if TARVO_PY3
    PyUnicode_InternInPlace(&s);
#else
    PyString_InternInPlace(&s);
#endif
    return s;
}

// An empty dictionary with room for `entries` items without resizing.
inline PyObject* new_dict(size_t entries) { return _PyDict_NewPresized(static_cast<Py_ssize_t>(entries)); }

inline PyObject* integer(long value) {
#if TARVO_PY3
    return PyLong_FromLong(value);
#else
    return PyInt_FromLong(value);
#endif
}

// Whether a callbacks key has the accepted string type: str on Python 3
// (bytes refused), the byte string on Python 2 (unicode refused).
inline bool is_key(PyObject* key) {
#if TARVO_PY3
    return PyUnicode_Check(key);
#else
    return PyString_Check(key);
#endif
}

// The document bytes a callbacks key stands for. `owner` receives a new
// reference that keeps the bytes alive (null on Python 2, where the key's own
// buffer is used). Returns false, with no exception pending, for a key that
// no document name can equal (a str holding a surrogate that did not come
// from surrogateescape decoding).
inline bool key_bytes(PyObject* key, const char** data, Py_ssize_t* size, PyObject** owner) {
#if TARVO_PY3
    PyObject* b = PyUnicode_AsEncodedString(key, "utf-8", "surrogateescape");
    if (!b) {
        PyErr_Clear();
        *owner = nullptr;
        return false;
    }
    *owner = b;
    *data = PyBytes_AS_STRING(b);
    *size = PyBytes_GET_SIZE(b);
#else
    *owner = nullptr;
    *data = PyString_AS_STRING(key);
    *size = PyString_GET_SIZE(key);
#endif
    return true;
}

// Calls `fn` with args[0..n). args[-1] must be writable: vectorcall may use
// it as scratch space instead of building a tuple. `tuple`, if not null, is
// a prebuilt tuple holding the same arguments, used where calls need one.
inline PyObject* call(PyObject* fn, PyObject** args, size_t n, PyObject* tuple) {
#if PY_VERSION_HEX >= 0x03090000
    (void)tuple;
    return PyObject_Vectorcall(fn, args, n | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
#elif PY_VERSION_HEX >= 0x03080000
    (void)tuple;
    return _PyObject_Vectorcall(fn, args, n | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
#elif TARVO_PY3
    (void)tuple;
    return _PyObject_FastCallDict(fn, args, static_cast<Py_ssize_t>(n), nullptr);
#else
    if (tuple) return PyObject_Call(fn, tuple, nullptr);
    PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(n));
    if (!t) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        Py_INCREF(args[i]);
        PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), args[i]);
    }
    PyObject* result = PyObject_Call(fn, t, nullptr);
    Py_DECREF(t);
    return result;
#endif
}

// A docstring that starts with the call's signature. Python 3 takes the part
// before "--" as the function's __text_signature__, which inspect.signature
// and help() show; Python 2 shows the signature as the first line.
#if TARVO_PY3
#define TARVO_DOC(signature, text) signature "\n--\n\n" text
#else
#define TARVO_DOC(signature, text) signature "\n\n" text
#endif

// Arguments of a METH_VARARGS | METH_KEYWORDS function: `format` as for
// PyArg_ParseTuple, `keywords` the names of its items in order, null
// terminated. A call without keywords goes through PyArg_ParseTuple, so a
// positional call gets the argument errors it has always had ("parse() takes
// at least 3 arguments (2 given)" on every Python version).
template <class... Out>
inline bool parse_arguments(PyObject* args, PyObject* kwargs, const char* format, const char* const* keywords,
                            Out... out) {
    bool ok;
    if (!kwargs || PyDict_Size(kwargs) == 0)
        ok = PyArg_ParseTuple(args, const_cast<char*>(format), out...) != 0;
    else  // Python 2 and early 3.x declare both without const.
        ok = PyArg_ParseTupleAndKeywords(args, kwargs, const_cast<char*>(format), const_cast<char**>(keywords),
                                         out...) != 0;
#if !TARVO_PY3
    // A string holding a NUL byte (a grammar name, a path) names nothing:
    // refused with ValueError on every version, as Python 3 refuses it.
    if (!ok && PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyObject *type, *value, *trace;
        PyErr_Fetch(&type, &value, &trace);
        PyObject* message = value ? PyObject_Str(value) : nullptr;
        bool nul = message && PyString_Check(message) && std::strstr(PyString_AS_STRING(message), "without null bytes");
        Py_XDECREF(message);
        if (nul) {
            Py_XDECREF(type);
            Py_XDECREF(value);
            Py_XDECREF(trace);
            PyErr_SetString(PyExc_ValueError, "embedded null character");
        } else {
            PyErr_Restore(type, value, trace);
        }
    }
#endif
    return ok;
}

// A METH_VARARGS | METH_KEYWORDS function as the PyCFunction a method table holds.
inline PyCFunction keywords_function(PyObject* (*fn)(PyObject*, PyObject*, PyObject*)) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// As call(), where calls need a tuple: `*spare` holds a tuple of size `n`
// kept from the previous call, or null. It is filled and used again when
// nothing else holds it (the callee kept no reference), so a steady run of
// calls makes no tuple per call.
inline PyObject* call_with_spare(PyObject* fn, PyObject** args, size_t n, PyObject** spare) {
#if TARVO_PY3
    (void)spare;
    return call(fn, args, n, nullptr);
#else
    PyObject* t = *spare;
    if (!t || Py_REFCNT(t) != 1) {
        Py_XDECREF(t);
        *spare = t = PyTuple_New(static_cast<Py_ssize_t>(n));
        if (!t) return nullptr;
    }
    for (size_t i = 0; i < n; ++i) {
        Py_INCREF(args[i]);
        PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), args[i]);
    }
    PyObject* result = PyObject_Call(fn, t, nullptr);
    if (Py_REFCNT(t) != 1) {
        // The callee kept it: it is theirs now, unchanged.
        Py_DECREF(t);
        *spare = nullptr;
        return result;
    }
    // Empty it again, so the arguments do not outlive the call here.
    for (size_t i = 0; i < n; ++i) {
        PyObject* item = PyTuple_GET_ITEM(t, static_cast<Py_ssize_t>(i));
        PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), nullptr);
        Py_DECREF(item);
    }
    return result;
#endif
}

// Whether calls take a prebuilt argument tuple (see call()).
inline constexpr bool kCallsUseTuples = !TARVO_PY3;

}  // namespace tarvo::py
