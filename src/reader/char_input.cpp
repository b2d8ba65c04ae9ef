#include "reader/char_input.h"

#include <algorithm>

namespace tarvo {

FileInput::FileInput(const char* path) : file_(std::fopen(path, "rb")) {
    if (file_) buffer_.reset(new unsigned char[kBufferSize]);
}

FileInput::~FileInput() {
    if (file_) std::fclose(file_);
}

bool FileInput::refill() {
    if (eof_ || !file_) return false;
    size_t n = std::fread(buffer_.get(), 1, kBufferSize, file_);
    if (n == 0) {
        // Keep the last buffer: the line of the last character is still
        // counted from it.
        eof_ = true;
        return false;
    }
    if (end_) {
        newlines_ += std::count(counted_, end_, '\n');
        previous_last_ = end_[-1];
        consumed_before_ += static_cast<size_t>(end_ - buffer_.get());
    }
    cur_ = counted_ = buffer_.get();
    end_ = buffer_.get() + n;
    return true;
}

long FileInput::line_number() {
    if (consumed_before_ == 0 && cur_ == counted_) return 1;  // nothing read yet
    if (cur_ == buffer_.get()) return 1 + newlines_ - (previous_last_ == '\n');
    const unsigned char* last = cur_ - 1;  // the last character read is not counted
    if (counted_ < last) {
        newlines_ += std::count(counted_, last, '\n');
        counted_ = last;
    }
    return 1 + newlines_;
}

}  // namespace tarvo
