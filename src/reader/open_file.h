// How the library opens a file it reads (a document, a grammar file).
#pragma once

#include <cerrno>
#include <cstdio>

namespace tarvo {

// `path` opened for reading, or null with errno set. Closed on exec, so that
// a host's child processes do not inherit it; opened again when a signal
// interrupts the open (a FIFO's waits for its writer).
inline std::FILE* open_for_reading(const char* path) {
    std::FILE* f;
    do f = std::fopen(path, "rbe");
    while (!f && errno == EINTR);
    return f;
}

}  // namespace tarvo
