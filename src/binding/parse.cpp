// parse(), parse_file() and parse_bytes(), and what every parse call does
// once its arguments are converted; the module's reading of files.
#include "binding.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>

#include "tarvo/read_ahead.h"

namespace tarvo::py {

const SchemaTable* find_grammar_or_raise(const char* name) {
    const SchemaTable* grammar = find_grammar(name);
    if (!grammar) PyErr_Format(PyExc_ValueError, "unknown grammar '%s'", name);
    return grammar;
}

bool check_flags(int flags, Flags* out) {
    const unsigned unknown = static_cast<unsigned>(flags) & ~static_cast<unsigned>(kAllFlags);
    if (unknown) {
        char bits[16];
        std::snprintf(bits, sizeof bits, "%#x", unknown);
        PyErr_Format(PyExc_ValueError, "unknown flag bits %s in flags %d", bits, flags);
        return false;
    }
    *out = static_cast<Flags>(flags);
    return true;
}

bool integer_argument(PyObject* object, const char* name, long long* out) {
    // Integers only, as the "i" of flags takes them: no float, no str.
#if TARVO_PY3
    bool integer = PyLong_Check(object);
#else
    bool integer = PyInt_Check(object) || PyLong_Check(object);
#endif
    if (!integer) {
        PyErr_Format(PyExc_TypeError, "%s must be an integer, not %.100s", name, Py_TYPE(object)->tp_name);
        return false;
    }
#if TARVO_PY3
    long long value = PyLong_AsLongLong(object);
#else
    long long value = PyLong_Check(object) ? PyLong_AsLongLong(object) : static_cast<long long>(PyInt_AS_LONG(object));
#endif
    if (value == -1 && PyErr_Occurred()) return false;
    *out = value;
    return true;
}

int convert_max_errors(PyObject* object, void* out) {
    long long value;
    if (!integer_argument(object, "max_errors", &value)) return 0;
    if (value < 0 || value > static_cast<long long>(UINT_MAX)) {
        PyErr_Format(PyExc_ValueError, "max_errors must be from 0 (no limit) to %u, not %lld", UINT_MAX, value);
        return 0;
    }
    *static_cast<unsigned*>(out) = static_cast<unsigned>(value);
    return 1;
}

PyObject* run_parse(const char* grammar_name, PyObject* callbacks, int flags, unsigned max_errors, const char* path,
                    RunParse run, void* context) {
    const SchemaTable* grammar = find_grammar_or_raise(grammar_name);
    Options options;
    options.max_errors = max_errors;
    if (!grammar || !check_flags(flags, &options.flags)) return nullptr;
    Result result;
    bool callable_raised = false;
    {
        std::unique_ptr<Handler> handler = make_callback_handler(*grammar, callbacks);
        if (!handler) return nullptr;
        CurrentParse current(handler.get());
        try {
            std::optional<Result> outcome = run(context, *grammar, handler.get(), options);
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

namespace {

// ---------------------------------------------------------------------------
// Reading ahead. A document at least this large whose bytes cannot change
// meanwhile (a regular file, a bytes object) is read and checked on a
// second thread while the callables are called on this one (see
// parse_ahead): the two overlap, and the call takes about as long as the
// callables alone. Below it, starting the thread costs more than it saves.
constexpr size_t kReadAhead = size_t(1) << 20;

// The interpreter lock is released while this thread waits for the reading
// one, so that other threads run meanwhile, as they do while a file is read.
// Signal handlers run after each wait, as after each read of a file: one
// that raises stops the parse at the next event (the callback handler
// stops at a pending exception), and its exception leaves the call; during
// a callable's first position() it comes out of that position().
class LockReleased final : public AheadWait {
public:
    void begin() override { state_ = PyEval_SaveThread(); }
    void end() override {
        PyEval_RestoreThread(state_);
        if (!PyErr_Occurred()) PyErr_CheckSignals();
    }

private:
    PyThreadState* state_ = nullptr;
};

std::optional<Result> parse_ahead_unlocked(const SchemaTable& grammar, const Source& source, Handler* handler,
                                           const Options& options) {
    LockReleased wait;
    Result result = parse_ahead(grammar, source, handler, options, &wait);
    if (PyErr_Occurred()) return std::nullopt;  // a callable's or a signal handler's exception
    return result;
}

// ---------------------------------------------------------------------------
// Files. The module opens and reads a document file itself, so that every
// wait for it (the open, each read) happens without the interpreter lock:
// other threads run meanwhile, one of them perhaps the writer of a FIFO
// being read. The core parses what it reads exactly as it parses a file.

class DocumentFile {
public:
    DocumentFile() = default;
    DocumentFile(const DocumentFile&) = delete;
    DocumentFile& operator=(const DocumentFile&) = delete;
    ~DocumentFile() {
        if (fd_ >= 0) ::close(fd_);
    }

    // Opens `path`: 0, or the errno of a failed open, or -1 when a signal
    // handler raised (its exception is set).
    int open(const char* path) {
        Wait w = blocking([path] { return ::open(path, O_RDONLY | O_CLOEXEC); });
        if (w.value >= 0) fd_ = static_cast<int>(w.value);
        return w.raised ? -1 : w.error;
    }

    // One read as the core asks for it. When a signal handler raised, the
    // read fails, so that the parse stops at once; the call then raises
    // the handler's exception.
    SourceRead read(char* buffer, size_t capacity) {
        Wait w = blocking([this, buffer, capacity] { return ::read(fd_, buffer, capacity); });
        if (w.raised) {
            raised_ = true;
            return {0, EINTR};
        }
        if (w.value < 0) return {0, w.error};
        return {static_cast<size_t>(w.value), 0};
    }

    bool raised() const { return raised_; }

private:
    int fd_ = -1;
    bool raised_ = false;
};

}  // namespace

std::optional<Result> parse_document_file(const SchemaTable& grammar, const char* path, Handler* handler,
                                          const Options& options) {
    if (handler) {
        // Told before opening, so that a file read ahead is opened once, by
        // the reading.
        struct stat st;
        Wait w = blocking([path, &st] { return ::stat(path, &st); });
        if (w.raised) return std::nullopt;
        if (w.value == 0 && S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) >= kReadAhead)
            return parse_ahead_unlocked(grammar, Source::file(path), handler, options);
    }
    DocumentFile file;
    int error = file.open(path);
    if (error < 0) return std::nullopt;
    if (error > 0) return unreadable_result(path, error);
    Result result = parse_source(
        grammar, [&file](char* buffer, size_t capacity) { return file.read(buffer, capacity); }, path, handler,
        options);
    if (file.raised()) return std::nullopt;
    return result;
}

std::optional<DocumentHead> read_head_file(const char* path) {
    DocumentFile file;
    int error = file.open(path);
    if (error < 0) return std::nullopt;
    DocumentHead head;
    if (error > 0) {
        head.os_error = error;
        return head;
    }
    head = read_document_head([&file](char* buffer, size_t capacity) { return file.read(buffer, capacity); });
    if (file.raised()) return std::nullopt;
    return head;
}

namespace {

// parse(grammar, callbacks, path, flags=PARSE_STRICT, max_errors=1) and
// parse_file, the same function. Argument errors name "parse" in every
// function.
const char* const kParseKeywords[] = {"grammar", "callbacks", "path", "flags", "max_errors", nullptr};

// parse_bytes(grammar, callbacks, data, flags=PARSE_STRICT, name="<bytes>",
// max_errors=1).
const char* const kBytesKeywords[] = {"grammar", "callbacks", "data", "flags", "name", "max_errors", nullptr};

}  // namespace

DocumentBytes::~DocumentBytes() {
    if (viewing_) PyBuffer_Release(&view_);
    Py_XDECREF(copy_);
}

bool DocumentBytes::take(PyObject* data) {
#if !TARVO_PY3
    // Text is not bytes: Python 2's unicode would hand out its internal form.
    if (PyUnicode_Check(data)) {
        PyErr_SetString(PyExc_TypeError, "data must be bytes or a buffer, not unicode");
        return false;
    }
    if (!PyObject_CheckBuffer(data) && PyObject_CheckReadBuffer(data)) {
        const void* bytes;
        Py_ssize_t size;
        if (PyObject_AsReadBuffer(data, &bytes, &size) < 0) return false;
        copy_ = PyString_FromStringAndSize(static_cast<const char*>(bytes), size);
        if (!copy_) return false;
        bytes_ = std::string_view(PyString_AS_STRING(copy_), static_cast<size_t>(size));
        return true;
    }
#endif
    if (PyObject_GetBuffer(data, &view_, PyBUF_SIMPLE) < 0) return false;
    viewing_ = true;
    bytes_ = std::string_view(static_cast<const char*>(view_.buf), static_cast<size_t>(view_.len));
    return true;
}

PyObject* parse_file_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    const char* grammar = nullptr;
    PyObject* callbacks = nullptr;
    int flags = 0;
    unsigned max_errors = 1;
#if TARVO_PY3
    PyObject* path_bytes = nullptr;
    if (!parse_arguments(args, kwargs, "sO&O&|iO&:parse", kParseKeywords, &grammar, convert_callbacks, &callbacks,
                         PyUnicode_FSConverter, &path_bytes, &flags, convert_max_errors, &max_errors))
        return nullptr;
    Ref path_owner(path_bytes);
    const char* path = PyBytes_AS_STRING(path_bytes);
#else
    // A unicode path is encoded as the file system expects, as open() does.
    char* path = nullptr;
    if (!parse_arguments(args, kwargs, "sO&et|iO&:parse", kParseKeywords, &grammar, convert_callbacks, &callbacks,
                         Py_FileSystemDefaultEncoding, &path, &flags, convert_max_errors, &max_errors))
        return nullptr;
    std::unique_ptr<char, void (*)(void*)> path_owner(path, PyMem_Free);
#endif
    return parse_with_callbacks(grammar, callbacks, flags, max_errors, path,
                                [&](const SchemaTable& g, Handler* h, const Options& o) {
                                    return parse_document_file(g, path, h, o);
                                });
}

PyObject* parse_bytes_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    const char* grammar = nullptr;
    PyObject* callbacks = nullptr;
    PyObject* data = nullptr;
    int flags = 0;
    const char* name = "<bytes>";
    unsigned max_errors = 1;
    if (!parse_arguments(args, kwargs, "sO&O|isO&:parse_bytes", kBytesKeywords, &grammar, convert_callbacks,
                         &callbacks, &data, &flags, &name, convert_max_errors, &max_errors))
        return nullptr;
    DocumentBytes bytes;
    if (!bytes.take(data)) return nullptr;
    return parse_with_callbacks(grammar, callbacks, flags, max_errors, nullptr,
                                [&](const SchemaTable& g, Handler* h, const Options& o) -> std::optional<Result> {
                                    if (bytes.immutable() && bytes.bytes().size() >= kReadAhead)
                                        return parse_ahead_unlocked(g, Source::bytes(bytes.bytes(), name), h, o);
                                    return parse_buffer(g, bytes.bytes(), name, h, o);
                                });
}

const char kBytesDoc[] = TARVO_DOC(
    "parse_bytes(grammar, callbacks, data, flags=PARSE_STRICT, name=\"<bytes>\", max_errors=1)",
    "Read the document held in data (bytes, bytearray, memoryview, array, mmap or\n"
    "any object with a buffer interface) as parse() reads a file with those\n"
    "bytes; name stands where a file's path stands in messages. callbacks,\n"
    "flags and max_errors are as for parse(). A bytes object of 1 MiB or more\n"
    "is read ahead as parse() reads a large file; other buffers, whose bytes\n"
    "may change meanwhile, never are.\n"
    "\n"
    "Returns the warning text. Raises ParseError (its filename None) with the\n"
    "error text when the document is invalid; an exception raised by a callable\n"
    "comes through unchanged.");

#define TARVO_PARSE_DOC(name)                                                                                  \
    TARVO_DOC(name "(grammar, callbacks, path, flags=PARSE_STRICT, max_errors=1)",                                           \
              "Read the document file at path against the grammar named grammar.\n"                            \
              "\n"                                                                                             \
              "callbacks maps element names to a sequence [start, text, end] of callables,\n"                  \
              "called as start(name, attributes), text(name, text) and end(name); shorter\n"                   \
              "sequences and None items are allowed, a bare callable is refused (TypeError).\n"                \
              "The key \"*\" gives the sequence for every element without an entry of its own.\n"            \
              "flags combines the PARSE_* constants.\n"                                                         \
              "max_errors is how many validity errors are reported before the parse stops\n"                \
              "(0: no limit); after one, reading goes on as the matching PARSE_* tolerance\n"                \
              "would, each problem staying an error. A syntax error always ends it.\n"                        \
              "A regular file of 1 MiB or more is read and checked on a second thread while\n"               \
              "the callables are called on this one, when the machine has more than one\n"                   \
              "core: the calls, their order and position() are the same.\n"                                  \
              "\n"                                                                                             \
              "Returns the warning text (\"\" when there are none). Raises ParseError with the\n"              \
              "error text when the document is invalid or cannot be read; an exception raised\n"               \
              "by a callable, or by a signal handler while the file is waited for, comes\n"                    \
              "through unchanged. Raises ValueError for an unknown grammar, for flags with\n"                 \
              "bits that no PARSE_* constant has and for a negative max_errors.")

const char kParseDoc[] = TARVO_PARSE_DOC("parse");
const char kParseFileDoc[] = TARVO_PARSE_DOC("parse_file");

}  // namespace tarvo::py
