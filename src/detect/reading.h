// Reading a document for its head and going on from there: a file opened
// with open_for_reading() as a DocumentSource, and the bytes read kept for the
// parse that follows.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string_view>

#include "tarvo/detect.h"

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

// The bytes read from a source so far, in a buffer that doubles as it
// fills. It is never zero-filled: only the bytes read are looked at.
class ReadBytes {
public:
    std::string_view view() const { return {data_.get(), size_}; }
    size_t size() const { return size_; }
    // Whether a read has given the end of the document.
    bool ended() const { return ended_; }

    // One read into the free room, made at least `room` bytes (and one)
    // first: a read into no room would look like the end.
    SourceRead read_more(const DocumentSource& read, size_t room) {
        room = std::max<size_t>(room, 1);
        if (capacity_ - size_ < room) {
            const size_t capacity = std::max(2 * capacity_, size_ + room);
            std::unique_ptr<char[]> bigger(new char[capacity]);
            std::copy_n(data_.get(), size_, bigger.get());
            data_ = std::move(bigger);
            capacity_ = capacity;
        }
        const SourceRead r = read(data_.get() + size_, capacity_ - size_);
        if (!r.error) {
            size_ += std::min(r.size, capacity_ - size_);
            ended_ = r.size == 0;
        }
        return r;
    }

private:
    std::unique_ptr<char[]> data_;
    size_t size_ = 0, capacity_ = 0;
    bool ended_ = false;
};

// read_document_head(read), the bytes it reads kept in `held`.
DocumentHead read_document_head(const DocumentSource& read, ReadBytes& held);

}  // namespace tarvo::detail
