#include "reader/inputs.h"

#include <algorithm>
#include <cerrno>

#include "reader/open_file.h"

namespace tarvo {

// Line feeds in [b, e). Byte counters in blocks of at most 255 rounds, so
// the compiler can count 16 or 32 bytes per instruction.
long count_newlines(const unsigned char* b, const unsigned char* e) {
    constexpr size_t kLanes = 32;
    long total = 0;
    while (static_cast<size_t>(e - b) >= kLanes) {
        size_t rounds = std::min<size_t>(static_cast<size_t>(e - b) / kLanes, 255);
        unsigned char lanes[kLanes] = {};
        for (size_t r = 0; r < rounds; ++r, b += kLanes)
            for (size_t i = 0; i < kLanes; ++i) lanes[i] += b[i] == '\n';
        for (unsigned char n : lanes) total += n;
    }
    for (; b < e; ++b) total += *b == '\n';
    return total;
}

bool BlockInput::refill() {
    if (!texts_.empty() && leave_text()) return true;
    if (eof_) return false;
    leave_buffer(end_);
    SourceRead got = read_(reinterpret_cast<char*>(buffer_.get()), kBufferSize);
    if (got.error) throw ReadFailure{got.error};
    if (got.size == 0) {
        eof_ = true;  // the end of input stays the end
        return false;
    }
    start_buffer(buffer_.get(), std::min(got.size, kBufferSize));
    return true;
}

FileSource::FileSource(const char* path) {
    file_ = open_for_reading(path);
    error_ = file_ ? 0 : errno;
}

FileSource::~FileSource() {
    if (file_) std::fclose(file_);
}

SourceRead FileSource::read(char* buffer, size_t capacity) {
    if (error_) return {0, error_};
    for (;;) {
        errno = 0;
        size_t got = std::fread(buffer, 1, capacity, file_);
        if (!std::ferror(file_)) return {got, 0};
        int error = errno ? errno : EIO;
        std::clearerr(file_);
        if (error != EINTR) {
            if (got == 0) return {0, error};
            error_ = error;  // the bytes before the failure count first
        }
        if (got > 0) return {got, 0};
    }
}

}  // namespace tarvo
