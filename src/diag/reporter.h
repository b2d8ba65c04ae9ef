// Collects the warnings and errors of one parse: each message once, in the
// warning or the error text, and beside it a record of what it is about.
// The running parse's Reporter is found through a per-thread registry
// instead of being passed around, so every check can report without
// knowing who called it.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "containers/str_buf.h"
#include "tarvo/tarvo.h"

namespace tarvo {

// What the reporting site knows about a message besides its text.
struct Details {
    DiagnosticKind kind = DiagnosticKind::syntax;
    std::string_view element;
    std::string_view attribute;
    // Identity of the expected list (a grammar row or rule), so that a list
    // is stored once however many messages name it; null for none.
    const void* expected_key = nullptr;
    std::span<const std::string_view> expected;  // read only when the key is new
    int os_error = 0;
};

// Tells where the reader stands; the running parse lends one to its Reporter.
class Locator {
public:
    virtual void locate(long& line, long& column) = 0;

protected:
    ~Locator() = default;
};

// Names and expected lists of one parse's records, each stored once.
struct DiagnosticNames {
    std::unordered_set<std::string> strings;  // nodes never move: views stay valid
    std::unordered_map<const void*, std::vector<std::string_view>> lists;

    std::string_view intern(std::string_view s);
};

// A record's names point into the message texts wherever the message
// quotes them, so a long name costs no copy of its own; other names are
// interned. While the texts grow, the Reporter keeps the records' views
// pointing at them; the texts must not be written by anyone else meanwhile.
class Reporter {
public:
    // Registers the new Reporter for the calling thread. One already
    // registered there is remembered and becomes current again when this one
    // is destroyed, so a parse nested inside a callback hands the thread
    // back to the outer parse.
    Reporter(StrBuf& warnings, StrBuf& errors);
    ~Reporter();
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    void warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void add_warning(std::string_view message, const Details& details = {});
    void add_error(std::string_view message, const Details& details = {});
    // A message joined from `parts`, each appended up to its first NUL.
    void add_parts(Severity severity, const Details& details, std::initializer_list<std::string_view> parts);

    // A message written in parts straight into its text: begin() returns the
    // text to append to, end() files what was appended since as one message.
    // `details` must stay valid until end(); its names may be views into
    // the texts.
    StrBuf& begin(Severity severity, const Details& details);
    void end();

    bool error_flag() const { return errors_reported_ != 0; }
    // Errors written so far; the parser compares it around a handler call to
    // tell a failing call from an error reported earlier.
    uint32_t error_count() const { return errors_reported_; }
    // The record of the last error when more than `mark` errors were written.
    const Diagnostic* last_error_since(uint32_t mark) const;

    // Views into the two texts, valid until the next message.
    std::vector<std::string_view> warning_messages() const { return messages(Severity::warning); }
    std::vector<std::string_view> error_messages() const { return messages(Severity::error); }

    Locator* locator() const { return locator_; }
    void set_locator(Locator* locator) { locator_ = locator; }

    // The records, their views into the texts as they stand now.
    std::vector<Diagnostic> take_records() { return std::move(records_); }
    const std::shared_ptr<DiagnosticNames>& names() const { return names_; }

private:
    // One of the two texts, and where it stood when the records last
    // pointed into it.
    struct Text {
        StrBuf& buf;
        const char* base;
        size_t size;
    };
    Text& text(Severity severity) { return severity == Severity::warning ? warnings_ : errors_; }
    // Moves the views into `t` that the records and the pending message hold
    // after `t` moved in memory.
    void follow(Text& t);
    std::string_view keep_name(std::string_view name, std::string_view message);
    std::vector<std::string_view> messages(Severity severity) const;

    Text warnings_;
    Text errors_;
    std::vector<Diagnostic> records_;
    std::shared_ptr<DiagnosticNames> names_;
    uint32_t errors_reported_ = 0;
    size_t last_error_ = 0;  // index in records_ of the last error
    Locator* locator_ = nullptr;
    Reporter* previous_;
    // The message begun and not yet ended.
    Severity pending_severity_ = Severity::error;
    Details pending_;
    size_t pending_start_ = 0;
};

// The Reporter registered for the calling thread, or nullptr.
Reporter* current_reporter();

// Whether `view` points into the `size` bytes at `base` (or just past them).
bool lies_in(std::string_view view, const char* base, size_t size);
// After a text of `size` bytes moved from `from` to `to`: points `view` at
// the same place in the moved text when it pointed into the old one.
void move_view(std::string_view& view, const char* from, size_t size, const char* to);

}  // namespace tarvo
