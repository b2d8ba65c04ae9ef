// What the parts of the extension module share. The module is written
// against tarvo's public headers alone, so it builds against an installed
// library as well as in the source tree.
//
//   callbacks.cpp  the Handler that calls the callables, and the per-grammar
//                  name strings it hands them
//   parse.cpp      parse(), parse_file(), parse_bytes(): what every parse
//                  call does, the module's own file reading
//   validate.cpp   validate(), validate_many() and the Report; position()
//   detect.cpp     detect_grammar() and its GrammarChoice; the grammar finder
//                  that validate() uses when it is given no grammar
//   sockets.cpp    parse_socket_stream()
//   errors.cpp     ParseError, Diagnostic, the unreadable-file exceptions
//   grammars.cpp   grammars(), grammar_info(), load_grammar(), load_dtd(),
//                  unload_grammar()
//   module.cpp     the method table and the module's creation
#pragma once

#include "py_compat.h"

#include <cerrno>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "tarvo/detect.h"
#include "tarvo/tarvo.h"

namespace tarvo::py {

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

// The grammar registered as `name`, or null with ValueError "unknown grammar
// 'NAME'" set.
const SchemaTable* find_grammar_or_raise(const char* name);

// Waits in a system call without the interpreter lock. See blocking().
struct Wait {
    long value;   // what the call returned
    int error;    // errno when it returned -1
    bool raised;  // a signal handler raised: its exception is set, `value` is to be given up
};

// Runs `call` (a system call: -1 and errno on failure) without the
// interpreter lock, again whenever a signal interrupts it and the signal's
// Python handler returns. Handlers of signals that arrived during a call
// that succeeded run too, before anything else is done: an exception they
// raise is what the parse call raises, not a surprise at some later line of
// the caller.
template <class Call>
Wait blocking(Call&& call) {
    for (;;) {
        long value;
        int error;
        Py_BEGIN_ALLOW_THREADS
        value = static_cast<long>(call());
        error = errno;
        Py_END_ALLOW_THREADS
        if (PyErr_CheckSignals() < 0) return {value, error, true};
        if (value >= 0 || error != EINTR) return {value, value < 0 ? error : 0, false};
    }
}

// callbacks.cpp ------------------------------------------------------------

// The "O&" converter for the callbacks argument: a dictionary with string
// keys.
int convert_callbacks(PyObject* object, void* out);

// The handler that delivers a parse's events to the values of `callbacks`;
// null with an exception set when it cannot be made.
std::unique_ptr<Handler> make_callback_handler(const SchemaTable& grammar, PyObject* callbacks);

// While one lives, position() on this thread answers from `handler`; the
// parse it stood for before comes back when it goes (a callable may parse
// too).
class CurrentParse {
public:
    explicit CurrentParse(const Handler* handler);
    ~CurrentParse();
    CurrentParse(const CurrentParse&) = delete;
    CurrentParse& operator=(const CurrentParse&) = delete;

private:
    const Handler* previous_;
};

// position(): (line, column) of the event being delivered.
PyObject* position_entry(PyObject*, PyObject*);
extern const char kPositionDoc[];

// parse.cpp ------------------------------------------------------------------

// The parse an entry point runs once its arguments are converted: the
// core's Result, or nothing with a Python exception set.
using RunParse = std::optional<Result> (*)(void* context, const SchemaTable& grammar, Handler* handler,
                                           const Options& options);

// The "O&" converter for max_errors: a non-negative integer that fits an
// unsigned int, into an `unsigned`.
int convert_max_errors(PyObject* object, void* out);
// An integer argument's value; false with TypeError naming the argument for
// any other type, or OverflowError for one beyond a long long.
bool integer_argument(PyObject* object, const char* name, long long* out);

// A call's flags argument as Flags; false with ValueError naming the bits
// that no PARSE_* constant has.
bool check_flags(int flags, Flags* out);

// What every parse call does: resolve the grammar, check the flags, build
// the handler, let `run` parse, and turn the outcome into the call's result
// (the warning text, ParseError, or the exception a callable or a signal
// handler raised). `path` is the file's path for ParseError's filename, or
// null.
PyObject* run_parse(const char* grammar, PyObject* callbacks, int flags, unsigned max_errors, const char* path,
                    RunParse run, void* context);

template <class Run>
PyObject* parse_with_callbacks(const char* grammar, PyObject* callbacks, int flags, unsigned max_errors,
                               const char* path, Run&& run) {
    using R = std::remove_reference_t<Run>;
    return run_parse(
        grammar, callbacks, flags, max_errors, path,
        [](void* context, const SchemaTable& g, Handler* h, const Options& o) -> std::optional<Result> {
            return (*static_cast<R*>(context))(g, h, o);
        },
        &run);
}

// Reads the document file at `path` as the core reads a file, opening and
// reading it without the interpreter lock; nothing when a signal handler
// raised (its exception is set).
std::optional<Result> parse_document_file(const SchemaTable& grammar, const char* path, Handler* handler,
                                          const Options& options);

// The head of the document file at `path`, read as parse_document_file()
// reads a file: each wait without the interpreter lock. os_error is set
// when it cannot be read; nothing when a signal handler raised (its
// exception is set).
std::optional<DocumentHead> read_head_file(const char* path);

// The bytes of a buffer object, held for the whole parse. A view of an
// object with the buffer interface is kept until the end, so a bytearray
// cannot be resized under the reader. Python 2's array and mmap have only
// the older buffer interface, which pins nothing: their bytes are copied.
class DocumentBytes {
public:
    DocumentBytes() = default;
    DocumentBytes(const DocumentBytes&) = delete;
    DocumentBytes& operator=(const DocumentBytes&) = delete;
    ~DocumentBytes();

    // False with an exception set when `data` holds no bytes.
    bool take(PyObject* data);
    std::string_view bytes() const { return bytes_; }
    // Whether no one can change the bytes meanwhile: they belong to a bytes
    // object or are a copy (defined in validate.cpp, which relies on it).
    bool immutable() const;

private:
    Py_buffer view_{};
    bool viewing_ = false;
    PyObject* copy_ = nullptr;  // owned
    std::string_view bytes_;
};

// Whether `source` names a file rather than holding the document: str and
// os.PathLike on Python 3, str and unicode on Python 2 (whose byte string
// is its path type).
bool is_path(PyObject* source);
// The file system's bytes for the path `source`, as open() takes them;
// false with TypeError or ValueError (an embedded null) set.
bool encoded_path(PyObject* source, std::string& out);

PyObject* parse_file_entry(PyObject*, PyObject* args, PyObject* kwargs);
PyObject* parse_bytes_entry(PyObject*, PyObject* args, PyObject* kwargs);
PyObject* validate_entry(PyObject*, PyObject* args, PyObject* kwargs);
extern const char kValidateDoc[];
PyObject* validate_many_entry(PyObject*, PyObject* args, PyObject* kwargs);
extern const char kValidateManyDoc[];
extern const char kParseDoc[];
extern const char kParseFileDoc[];
extern const char kBytesDoc[];

// detect.cpp -----------------------------------------------------------------

// Adds GrammarChoice to the module; false with an exception set.
bool add_detect_types(PyObject* module);
// The finder over the grammars registered now, made again only once they
// have changed. Called with the interpreter lock held; the finder may be
// used without it for as long as it is held.
std::shared_ptr<const GrammarFinder> current_finder();
PyObject* detect_grammar_entry(PyObject*, PyObject* args, PyObject* kwargs);
extern const char kDetectGrammarDoc[];

// sockets.cpp ----------------------------------------------------------------

PyObject* parse_socket_stream_entry(PyObject*, PyObject* args, PyObject* kwargs);
extern const char kSocketDoc[];
#ifdef TARVO_BYTEWISE_SOCKET_READER
PyObject* parse_socket_stream_bytewise_entry(PyObject*, PyObject* args, PyObject* kwargs);
#endif

// errors.cpp -----------------------------------------------------------------

// Adds ParseError, Diagnostic and Report to the module; false with an
// exception set.
bool add_error_types(PyObject* module);
// Makes the record type `type` from `desc` unless `*ready` says it was
// made, and adds it to `module` as `name`; false with an exception set.
bool add_record_type(PyObject* module, const char* name, PyTypeObject* type, PyStructSequence_Desc* desc,
                     bool* ready);
// A new record of `type` holding fields[0..n), whose references it takes;
// null with an exception set when it or a field (left null) could not be made.
PyObject* filled_record(PyTypeObject* type, PyObject* const* fields, Py_ssize_t n);
// A Diagnostic record for `d`; null with an exception set.
PyObject* diagnostic_record(const Diagnostic& d);
// The Report type of validate(), ready once add_error_types() succeeded.
extern PyTypeObject g_report_type;
// Raises ParseError for a failed parse of the file at `path` (null: the
// document came from no file).
void raise_parse_error(const Result& r, const char* path);
// _unreadable(errno, message, filename), for pickling.
PyObject* rebuild_unreadable_entry(PyObject*, PyObject* args);

// grammars.cpp ---------------------------------------------------------------

PyObject* grammars_entry(PyObject*, PyObject*);
PyObject* grammar_info_entry(PyObject*, PyObject* args, PyObject* kwargs);
PyObject* load_grammar_entry(PyObject*, PyObject* args, PyObject* kwargs);
PyObject* load_dtd_entry(PyObject*, PyObject* args, PyObject* kwargs);
PyObject* unload_grammar_entry(PyObject*, PyObject* args, PyObject* kwargs);
extern const char kUnloadGrammarDoc[];
extern const char kLoadDtdDoc[];
extern const char kGrammarsDoc[];
extern const char kGrammarInfoDoc[];
extern const char kLoadGrammarDoc[];

}  // namespace tarvo::py
