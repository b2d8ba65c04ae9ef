#include "reader/char_input.h"

#include <algorithm>
#include <cerrno>

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

namespace {

// Runs `call` between the handler's before_wait and after_wait.
template <class Call>
auto waiting(Handler* waits, Call&& call) {
    if (waits) waits->before_wait();
    auto result = call();
    if (waits) waits->after_wait();
    return result;
}

}  // namespace

FileInput::FileInput(const char* path, Handler* waits) : waits_(waits) {
    // errno is taken at once: the wait's end may run code that changes it.
    file_ = waiting(waits, [this, path] {
        std::FILE* f = std::fopen(path, "rb");
        if (!f) open_error_ = errno;
        return f;
    });
    if (!file_) return;
    buffer_.reset(new unsigned char[kBufferSize]);
    start_buffer(buffer_.get(), 0);
}

FileInput::~FileInput() {
    if (file_) std::fclose(file_);
}

bool FileInput::refill() {
    if (eof_ || !file_) return false;
    leave_buffer(end_);
    int error = 0;
    size_t n = waiting(waits_, [this, &error] {
        size_t got = std::fread(buffer_.get(), 1, kBufferSize, file_);
        if (got == 0 && std::ferror(file_)) error = errno;
        return got;
    });
    if (n == 0) {
        if (std::ferror(file_)) throw ReadFailure{error};
        eof_ = true;
        return false;
    }
    start_buffer(buffer_.get(), n);
    return true;
}

}  // namespace tarvo
