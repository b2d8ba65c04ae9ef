// validate() and validate_many(): checks that report instead of raising,
// with no callbacks, so the whole read and parse runs without the
// interpreter lock (validate_many() on several threads); and position(),
// where the reader stands during a callback.
#include "binding.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo::py {
namespace {

// The interpreter lock given up for a whole parse. A read that a signal
// interrupts takes the lock back for as long as the signal's Python handler
// runs; when that handler raises, the read fails and the call raises the
// handler's exception.
class Unlocked {
public:
    Unlocked() : state_(PyEval_SaveThread()) {}
    ~Unlocked() { PyEval_RestoreThread(state_); }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

    // Runs the Python handlers of signals that arrived; false when one raised.
    bool run_signal_handlers() {
        PyEval_RestoreThread(state_);
        bool ok = PyErr_CheckSignals() == 0;
        state_ = PyEval_SaveThread();
        if (!ok) raised_ = true;
        return ok;
    }
    bool raised() const { return raised_; }

private:
    PyThreadState* state_;
    bool raised_ = false;
};

// A system call again while a signal interrupts it and its handler does
// not raise: its result, or -1 with errno set.
template <class Call>
long retried(Unlocked& unlocked, Call&& call) {
    for (;;) {
        long value = static_cast<long>(call());
        if (value >= 0 || errno != EINTR) return value;
        int error = errno;
        if (!unlocked.run_signal_handlers()) {
            errno = error;
            return -1;
        }
    }
}

// The grammar argument of validate() and validate_many(): a grammar's name,
// or None for the grammar each document's head names.
struct GrammarArgument {
    const SchemaTable* grammar = nullptr;
    std::shared_ptr<const GrammarFinder> finder;  // for None

    // False with ValueError set for an unknown name.
    bool resolve(const char* name) {
        if (name) return (grammar = find_grammar_or_raise(name)) != nullptr;
        finder = current_finder();
        return true;
    }
    // The Results of validate_many(), made without the interpreter lock.
    std::vector<Result> check_all(const std::vector<Source>& sources, unsigned jobs, const Options& options) const {
        if (grammar) return validate_many(*grammar, sources, jobs, options);
        std::vector<Result> results(sources.size());
        each_in_order(
            sources.size(), jobs, [&](size_t i) { return validate_detected(*finder, sources[i], options); },
            [&](size_t i, const Result& r) { results[i] = r; });
        return results;
    }
};

// Reads the file at `path` without the interpreter lock; nothing when a
// signal handler raised (its exception is set).
std::optional<Result> validate_file(const GrammarArgument& g, const char* path, const Options& options) {
    Result result;
    bool raised;
    {
        Unlocked unlocked;
        long fd = retried(unlocked, [path] { return ::open(path, O_RDONLY | O_CLOEXEC); });
        if (fd < 0) {
            result = unreadable_result(path, errno);
        } else {
            auto read = [&](char* buffer, size_t capacity) -> SourceRead {
                long n = retried(unlocked, [&] { return ::read(static_cast<int>(fd), buffer, capacity); });
                if (n < 0) return {0, errno};
                return {static_cast<size_t>(n), 0};
            };
            result = g.grammar ? parse_source(*g.grammar, read, path, nullptr, options)
                               : validate_detected(*g.finder, read, path, options);
            ::close(static_cast<int>(fd));
        }
        raised = unlocked.raised();
    }
    if (raised) return std::nullopt;
    return result;
}

std::optional<Result> validate_bytes(const GrammarArgument& g, PyObject* source, const Options& options) {
    DocumentBytes bytes;
    if (!bytes.take(source)) return std::nullopt;
    // Without the lock another thread may write into a bytearray meanwhile:
    // only the bytes of an immutable object are read in place.
    std::string copy;
    std::string_view data = bytes.bytes();
    if (!bytes.immutable()) {
        copy.assign(data);
        data = copy;
    }
    Unlocked unlocked;
    return g.grammar ? parse_buffer(*g.grammar, data, "<bytes>", nullptr, options)
                     : validate_detected(*g.finder, Source::bytes(data), options);
}

PyObject* report(const Result& r) {
    PyObject* fields[3] = {
        PyBool_FromLong(r.ok()),
        integer(static_cast<long>(r.status)),
        list_of(r.diagnostics().size(), [&](size_t i) { return diagnostic_record(r.diagnostics()[i]); }),
    };
    return filled_record(&g_report_type, fields, 3);
}

// The "O&" converter for jobs: None (one thread per core) or an integer
// from 1 to kMaxJobs, into an `unsigned` (0 for None).
constexpr long kMaxJobs = 1024;
int convert_jobs(PyObject* object, void* out) {
    long long value = 0;
    if (object != Py_None) {
        if (!integer_argument(object, "jobs", &value)) return 0;
        if (value < 1 || value > kMaxJobs) {
            PyErr_Format(PyExc_ValueError, "jobs must be None or from 1 to %ld, not %lld", kMaxJobs, value);
            return 0;
        }
    }
    *static_cast<unsigned*>(out) = static_cast<unsigned>(value);
    return 1;
}

// What validate_many() checks, converted while the interpreter lock is
// held: paths as the file system's bytes, buffers held until the end (a
// mutable one copied, as validate() copies it).
class SourceList {
public:
    // False with an exception set when an item is neither a path nor a buffer.
    bool add(PyObject* item) {
        if (is_path(item)) {
            std::string path;
            if (!encoded_path(item, path)) return false;
            sources_.push_back(Source::file(std::move(path)));
            return true;
        }
        auto bytes = std::make_unique<DocumentBytes>();
        if (!bytes->take(item)) return false;
        std::string_view data = bytes->bytes();
        if (!bytes->immutable()) {
            copies_.push_back(std::make_unique<std::string>(data));
            data = *copies_.back();
        }
        sources_.push_back(Source::bytes(data));
        held_.push_back(std::move(bytes));
        return true;
    }
    const std::vector<Source>& sources() const { return sources_; }

private:
    std::vector<Source> sources_;
    std::vector<std::unique_ptr<DocumentBytes>> held_;
    std::vector<std::unique_ptr<std::string>> copies_;
};

const char* const kValidateKeywords[] = {"grammar", "source", "flags", "max_errors", nullptr};
const char* const kValidateManyKeywords[] = {"grammar", "sources", "jobs", "flags", "max_errors", nullptr};

thread_local const Handler* t_current = nullptr;

}  // namespace

bool is_path(PyObject* source) {
#if TARVO_PY3
    return !PyObject_CheckBuffer(source);
#else
    return PyString_Check(source) || PyUnicode_Check(source);
#endif
}

bool encoded_path(PyObject* source, std::string& out) {
#if TARVO_PY3
    PyObject* path_bytes = nullptr;
    if (!PyUnicode_FSConverter(source, &path_bytes)) return false;
    Ref owner(path_bytes);
    out.assign(PyBytes_AS_STRING(path_bytes), static_cast<size_t>(PyBytes_GET_SIZE(path_bytes)));
#else
    Ref encoded(PyUnicode_Check(source) ? PyUnicode_AsEncodedString(source, Py_FileSystemDefaultEncoding, nullptr)
                                        : (Py_INCREF(source), source));
    if (!encoded.get()) return false;
    out.assign(PyString_AS_STRING(encoded.get()), static_cast<size_t>(PyString_GET_SIZE(encoded.get())));
    if (out.size() != std::strlen(out.c_str())) {
        PyErr_SetString(PyExc_ValueError, "embedded null character");
        return false;
    }
#endif
    return true;
}

bool DocumentBytes::immutable() const {
    return copy_ || (viewing_ && view_.obj && PyBytes_CheckExact(view_.obj));
}

PyObject* validate_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    const char* grammar_name = nullptr;
    PyObject* source = nullptr;
    int flags = 0;
    Options options;
    options.max_errors = 0;
    options.paths = true;
    if (!parse_arguments(args, kwargs, "zO|iO&:validate", kValidateKeywords, &grammar_name, &source, &flags,
                         convert_max_errors, &options.max_errors))
        return nullptr;
    std::optional<Result> result;
    try {
        GrammarArgument grammar;
        if (!grammar.resolve(grammar_name) || !check_flags(flags, &options.flags)) return nullptr;
        if (is_path(source)) {
            std::string path;
            if (!encoded_path(source, path)) return nullptr;
            result = validate_file(grammar, path.c_str(), options);
        } else {
            result = validate_bytes(grammar, source, options);
        }
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    if (!result) return nullptr;
    return report(*result);
}

const char kValidateDoc[] = TARVO_DOC(
    "validate(grammar, source, flags=PARSE_STRICT, max_errors=0)",
    "Check one document against the grammar named grammar and report what was\n"
    "found instead of raising. source is a path (str or os.PathLike; on Python 2\n"
    "str or unicode) or the document's bytes (bytes on Python 3, bytearray,\n"
    "memoryview or any object with a buffer interface). max_errors is as for\n"
    "parse(), but without a limit by default. No callables are called, and the\n"
    "whole read and parse runs without the interpreter lock.\n"
    "\n"
    "With grammar None, the document is checked against the grammar its head\n"
    "names, as detect_grammar() chooses it; one that names none is reported with\n"
    "status 2 and the error 'No grammar found for NAME: REASON', code\n"
    "'no-grammar'.\n"
    "\n"
    "Returns a Report: valid (bool), status (0 valid, 1 invalid, 2 unreadable or\n"
    "no grammar) and diagnostics, every warning and error as a Diagnostic with\n"
    "its path. Raises only for its arguments (ValueError for an unknown grammar\n"
    "or flag bits, TypeError for a source of another type), and the exception of\n"
    "a signal handler that raised while the file was read.");

PyObject* validate_many_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    const char* grammar_name = nullptr;
    PyObject* sources = nullptr;
    unsigned jobs = 0;
    int flags = 0;
    Options options;
    options.max_errors = 0;
    options.paths = true;
    if (!parse_arguments(args, kwargs, "zO|O&iO&:validate_many", kValidateManyKeywords, &grammar_name, &sources,
                         convert_jobs, &jobs, &flags, convert_max_errors, &options.max_errors))
        return nullptr;
    GrammarArgument grammar;
    try {
        if (!grammar.resolve(grammar_name) || !check_flags(flags, &options.flags)) return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    // One path or one document given for the list of them would be taken
    // apart into one source per character or byte.
    if (PyUnicode_Check(sources) || PyBytes_Check(sources) || PyByteArray_Check(sources)) {
        PyErr_Format(PyExc_TypeError, "validate_many() takes a list of sources, not one %.100s",
                     Py_TYPE(sources)->tp_name);
        return nullptr;
    }
    Ref items(PySequence_Fast(sources, "validate_many() sources must be an iterable of paths and buffers"));
    if (!items.get()) return nullptr;
    try {
        SourceList list;
        Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
        for (Py_ssize_t i = 0; i < n; ++i)
            if (!list.add(PySequence_Fast_GET_ITEM(items.get(), i))) return nullptr;
        std::vector<Result> results;
        bool out_of_memory = false;
        Py_BEGIN_ALLOW_THREADS
        try {
            results = grammar.check_all(list.sources(), jobs, options);
        } catch (const std::bad_alloc&) {
            out_of_memory = true;
        }
        Py_END_ALLOW_THREADS
        if (out_of_memory) return PyErr_NoMemory();
        return list_of(results.size(), [&](size_t i) { return report(results[i]); });
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

const char kValidateManyDoc[] = TARVO_DOC(
    "validate_many(grammar, sources, jobs=None, flags=PARSE_STRICT, max_errors=0)",
    "Check every document of sources (an iterable of what validate() takes: paths\n"
    "and buffers, mixed as they come) against the grammar named grammar (None:\n"
    "each document's own, as validate() chooses it), on jobs threads (None: one\n"
    "per core; from 1 to 1024), and return a list of Reports in the order of\n"
    "sources, each equal to what validate() gives for its source.\n"
    "The threads run without the interpreter lock, so other Python threads go on\n"
    "meanwhile; the buffers are held, and a mutable one copied, until the call\n"
    "returns. A signal's Python handler runs once the call returns.\n"
    "\n"
    "Raises only for its arguments: ValueError for an unknown grammar, flag bits\n"
    "or jobs out of range, TypeError for sources that are not an iterable (or are\n"
    "one str or bytes), for a source of another type or a jobs that is not an\n"
    "integer.");

CurrentParse::CurrentParse(const Handler* handler) : previous_(std::exchange(t_current, handler)) {}

CurrentParse::~CurrentParse() { t_current = previous_; }

PyObject* position_entry(PyObject*, PyObject*) {
    const Position* at = t_current ? t_current->position() : nullptr;
    if (!at) {
        PyErr_SetString(PyExc_RuntimeError, "position() is only known inside a callback of a parse");
        return nullptr;
    }
    long line, column;
    at->location(line, column);  // may wait, read ahead, without the interpreter lock
    if (PyErr_Occurred()) return nullptr;  // a signal's handler raised meanwhile
    return Py_BuildValue("(ll)", line, column);
}

const char kPositionDoc[] = TARVO_DOC(
    "position()",
    "Inside a callback: (line, column) where the reader stands for the event being\n"
    "delivered, the line from 1 and the column in bytes from 1 of the last\n"
    "character read: for a start or end tag its '>' (an empty-element tag starts at\n"
    "its '/'), for text the '<' after it. Raises RuntimeError outside a callback.");

}  // namespace tarvo::py
