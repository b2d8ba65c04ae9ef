#include "reader/char_input.h"

#include <algorithm>

namespace tarvo {

namespace {

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

}  // namespace

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

FileInput::FileInput(const char* path, Handler* waits)
    : waits_(waits), file_(waiting(waits, [path] { return std::fopen(path, "rb"); })) {
    if (!file_) return;
    buffer_.reset(new unsigned char[kBufferSize]);
    cur_ = end_ = counted_ = buffer_.get();
}

FileInput::~FileInput() {
    if (file_) std::fclose(file_);
}

bool FileInput::refill() {
    if (eof_ || !file_) return false;
    if (end_ != buffer_.get()) {
        // Leave the buffer behind: count its line feeds before it is reused.
        newlines_ += count_newlines(counted_, end_);
        previous_last_ = end_[-1];
        consumed_before_ += static_cast<size_t>(end_ - buffer_.get());
        cur_ = end_ = counted_ = buffer_.get();
    }
    size_t n = waiting(waits_, [this] { return std::fread(buffer_.get(), 1, kBufferSize, file_); });
    if (n == 0) {
        if (std::ferror(file_)) throw ReadFailure{};
        eof_ = true;
        return false;
    }
    end_ = buffer_.get() + n;
    return true;
}

long FileInput::line_number() {
    if (cur_ == buffer_.get()) {
        // Nothing read from the current buffer: the last character read is
        // the last one of the previous buffer, if any.
        if (consumed_before_ == 0) return 1;
        return 1 + newlines_ - (previous_last_ == '\n');
    }
    const unsigned char* last = cur_ - 1;  // the last character read is not counted
    if (counted_ < last) {
        newlines_ += count_newlines(counted_, last);
        counted_ = last;
    }
    return 1 + newlines_;
}

}  // namespace tarvo
