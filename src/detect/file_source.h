// A file opened with std::fopen as a DocumentSource, for the reads of a
// document's head and of the document after it.
#pragma once

#include <cerrno>
#include <cstdio>

#include "tarvo/tarvo.h"

namespace tarvo::detail {

// Reads `f`, which must stay open while the source is used; a failed read
// gives its error number.
inline DocumentSource file_source(std::FILE* f) {
    return [f](char* buffer, size_t capacity) -> SourceRead {
        const size_t n = std::fread(buffer, 1, capacity, f);
        if (n == 0 && std::ferror(f)) return {0, errno ? errno : EIO};
        return {n, 0};
    };
}

}  // namespace tarvo::detail
