// parse_socket_stream(): documents sent back to back over a socket, read
// without holding the interpreter lock while waiting, and taken from the
// socket only as far as they are read.
#include "binding.h"

#include <sys/socket.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>

namespace tarvo::py {
namespace {

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
// A signal that interrupts the wait runs its Python handler, and so does one
// that came while a receive succeeded. When the wait ends in an exception
// (a handler raised, or the receive failed: OSError with its errno, also for
// a socket with a timeout that found nothing), the input ends, the exception
// stays pending and `failed` is set: the parse then delivers no further
// event and the call raises that exception.
size_t peek_socket(int32_t fd, char* buffer, size_t capacity, bool& failed) {
    Wait w = blocking([=] { return recv(fd, buffer, capacity, MSG_PEEK); });
    if (!w.raised && w.value >= 0) return static_cast<size_t>(w.value);
    if (!w.raised) {
        errno = w.error;
        PyErr_SetFromErrno(PyExc_OSError);
    }
    failed = true;
    return 0;
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
PyObject* read_socket_stream(PyObject* args, PyObject* kwargs) {
    const char* grammar = nullptr;
    PyObject* callbacks = nullptr;
    PyObject* socket = nullptr;
    int flags = 0;
    unsigned char loop = 0;
    if (!parse_arguments(args, kwargs, "sO&O|ib:parse", kSocketKeywords, &grammar, convert_callbacks, &callbacks,
                         &socket, &flags, &loop))
        return nullptr;
    return parse_with_callbacks(grammar, callbacks, flags, nullptr,
                                [&](const SchemaTable& g, Handler* h, Flags f) -> std::optional<Result> {
        int32_t fd;
        if (!socket_handle(socket, &fd)) return std::nullopt;
#ifdef TARVO_BYTEWISE_SOCKET_READER
        if constexpr (kBytewise) {
            StreamReader reader([fd](char* b, size_t) { return read_socket_byte(fd, b); });
            return reader.read(g, h, f, loop != 0);
        }
#endif
        constexpr size_t kScratchSize = 64 * 1024;
        std::unique_ptr<char[]> scratch(new char[kScratchSize]);
        bool failed = false;
        StreamReader reader([fd, &failed](char* b, size_t cap) { return peek_socket(fd, b, cap, failed); },
                            [fd, &scratch](size_t n) { take_from_socket(fd, scratch.get(), kScratchSize, n); });
        Result result = reader.read(g, h, f, loop != 0);
        if (failed && PyErr_Occurred()) return std::nullopt;
        return result;
    });
}

}  // namespace

PyObject* parse_socket_stream_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return read_socket_stream<false>(args, kwargs);
}

#ifdef TARVO_BYTEWISE_SOCKET_READER
PyObject* parse_socket_stream_bytewise_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return read_socket_stream<true>(args, kwargs);
}
#endif

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

}  // namespace tarvo::py
