// How the commands write names and messages: in pieces, and without a
// control byte.
//
// A file name or a message comes from outside (a path, a document's names
// and values, a grammar file), so it could hold a line break that starts a
// record of its own or an escape sequence for the terminal. Every control
// byte of one is written as \xHH instead: the C0 controls (0x00 to 0x1f),
// DEL (0x7f) and the C1 controls, which are a byte 0x80 to 0x9f that is not
// part of a well-formed UTF-8 sequence and the UTF-8 form of U+0080 to
// U+009F (0xc2 0x80 to 0xc2 0x9f, written as two escapes). Everything else,
// the backslash included, is written as it is, so ordinary text comes out
// unchanged. JSON strings escape the same controls the JSON way (\n,
// \u001b, \u0085), which keeps their values whole.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tarvo::cli {

// How a line feed or carriage return inside a name or message is written.
enum class Breaks {
    escape,  // \x0a, \x0d, like every other control byte
    space,   // a space: a message of the gcc format stays readable
};

// Gathers a command's output and hands it on in blocks of about 64 KiB, so
// a record with a long name or message never stands whole in memory: the
// text is read from where the Result keeps it.
class Writer {
public:
    explicit Writer(void (*write)(std::string_view)) : write_(write) {}
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer() { flush(); }

    // The format's own bytes, written as they are.
    Writer& raw(std::string_view bytes);
    // A name or message, its control bytes escaped.
    Writer& text(std::string_view s, Breaks breaks = Breaks::escape);
    // A JSON string, quotes included; always valid UTF-8.
    Writer& json(std::string_view s);
    // The same without the quotes: a piece of a JSON string made of several.
    Writer& json_chars(std::string_view s);
    // A JSON string, or null when `s` is empty.
    Writer& json_or_null(std::string_view s);
    Writer& json_list(std::span<const std::string_view> items);
    // A value of a workflow command line (`::error file=F::TEXT`): '%', CR
    // and LF as %25, %0D and %0A, and in a property (`property`) ':' and ','
    // as %3A and %2C too, so that the value neither ends its command nor
    // its property; the other control bytes as \xHH, as text() writes them.
    Writer& workflow(std::string_view s, bool property);
    // Hands on what is gathered.
    void flush();

private:
    void (*write_)(std::string_view);
    std::string buffer_;
};

// `s` with its control bytes escaped as above (line breaks too): for the
// tool's own one-line messages.
std::string escape_controls(std::string_view s);

}  // namespace tarvo::cli
