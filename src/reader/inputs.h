// The inputs a document is read from, each a BufferedInput with its own
// refill(): a file or a host's reader block by block (BlockInput over a
// DocumentSource), memory in place (MemoryInput), and a stream of
// back-to-back documents from a callback (SourceInput).
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>

#include "reader/char_input.h"
#include "tarvo/tarvo.h"

namespace tarvo {

// What the parse loop asks of an input: single bytes, the bulk scans of
// names, whitespace, text and values, where the reader stands, a hook run
// before the buffer is reused, and whether the input is a stream of
// back-to-back documents (kStream) or one document that must end after its
// root element. BufferedInput provides all but kStream and refill().
template <class In>
concept DocumentInput = requires(In in, std::string& spill, std::string_view& view, bool& amp, long& number) {
    { In::kStream } -> std::convertible_to<bool>;
    { in.get() } -> std::same_as<int>;
    { in.skip_space() } -> std::same_as<int>;
    { in.read_space(spill, view) } -> std::same_as<int>;
    { in.template read_name<':', is_element_name_char>(spill, view) } -> std::same_as<int>;
    { in.template scan_until<'<', true>(spill, amp) } -> std::same_as<int>;
    { in.template value_in_buffer<'"'>(view) } -> std::same_as<bool>;
    { in.scan_until_space(spill) } -> std::same_as<int>;
    { in.location(number, number) };
    { in.line_number() } -> std::same_as<long>;
    { in.on_refill(static_cast<void (*)(void*)>(nullptr), static_cast<void*>(nullptr)) };
    { in.refill() } -> std::same_as<bool>;
};

// Thrown by BlockInput when a read fails (a directory, an I/O error): the
// parse ends as for a file that cannot be opened. `error` is errno.
struct ReadFailure {
    int error;
};

// A document read block by block from a source: a file (FileSource), or a
// host's own reader of the same bytes. Locations for messages come from the
// data already read, so a message never reads again.
class BlockInput : public BufferedInput<BlockInput> {
public:
    static constexpr bool kStream = false;
    static constexpr bool kWhole = false;

    explicit BlockInput(const DocumentSource& read) : read_(read), buffer_(new unsigned char[kBufferSize]) {
        start_buffer(buffer_.get(), 0);
    }
    bool refill();

private:
    static constexpr size_t kBufferSize = 64 * 1024;
    const DocumentSource& read_;
    std::unique_ptr<unsigned char[]> buffer_;
    bool eof_ = false;
};

// A document file, read as a DocumentSource. An open or a read that a
// signal interrupts is made again: only a real failure ends the document.
class FileSource {
public:
    explicit FileSource(const char* path);
    ~FileSource();
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool is_open() const { return file_ != nullptr; }
    // errno of the failed open.
    int open_error() const { return error_; }
    SourceRead read(char* buffer, size_t capacity);

private:
    std::FILE* file_ = nullptr;
    // The error that cut a read short; the next read reports it.
    int error_ = 0;
};

// A document held in memory, read in place: one buffer that is never refilled.
class MemoryInput : public BufferedInput<MemoryInput> {
public:
    static constexpr bool kStream = false;
    static constexpr bool kWhole = true;

    explicit MemoryInput(std::string_view data) {
        start_buffer(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    }
    bool refill() { return leave_text(); }
};

// A stream of documents from a callback source, read in chunks. In peek
// mode the callback only looks at what has arrived (a socket's MSG_PEEK)
// and `take` removes bytes from the source once they are consumed, so that
// the source loses exactly what the parser has read and nothing more.
class SourceInput : public BufferedInput<SourceInput> {
public:
    static constexpr bool kStream = true;
    static constexpr bool kWhole = false;
    using Fill = std::function<size_t(char* buffer, size_t capacity)>;
    using Take = std::function<void(size_t count)>;

    explicit SourceInput(Fill fill, Take take = nullptr)
        : fill_(std::move(fill)), take_(std::move(take)), buffer_(new unsigned char[kBufferSize]) {
        start_buffer(buffer_.get(), 0);
    }

    bool refill() {
        if (!texts_.empty() && leave_text()) return true;
        if (ended_) return false;
        if (take_) take_(static_cast<size_t>(end_ - buffer_.get()));  // all of it was consumed
        leave_buffer(end_);
        size_t n = fill_(reinterpret_cast<char*>(buffer_.get()), kBufferSize);
        if (n == 0) {
            ended_ = true;  // the end of input stays the end
            return false;
        }
        start_buffer(buffer_.get(), n);
        return true;
    }

    // In peek mode, takes the bytes consumed since the last refill.
    void commit() {
        if (!take_) return;
        take_(static_cast<size_t>(cur_ - buffer_.get()));
        // What is left was only looked at; look again next time.
        leave_buffer(cur_);
    }

private:
    static constexpr size_t kBufferSize = 64 * 1024;
    Fill fill_;
    Take take_;
    std::unique_ptr<unsigned char[]> buffer_;
    bool ended_ = false;
};

}  // namespace tarvo
