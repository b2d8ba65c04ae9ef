// Collects the warnings and errors of one parse: each message once, in the
// warning or the error text, and beside it a record of what it is about.
// The running parse's Reporter is found through a per-thread registry
// instead of being passed around, so every check can report without
// knowing who called it.
#pragma once

#include <cstdarg>
#include <cstdint>
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
    void add_warning(std::string message, const Details& details = {});
    void add_error(std::string message, const Details& details = {});

    bool error_flag() const { return errors_reported_ != 0; }
    // Errors written so far; the parser compares it around a handler call to
    // tell a failing call from an error reported earlier.
    uint32_t error_count() const { return errors_reported_; }
    // The record of the last error when more than `mark` errors were written.
    const Diagnostic* last_error_since(uint32_t mark) const;

    Locator* locator() const { return locator_; }
    void set_locator(Locator* locator) { locator_ = locator; }

    // Views into the two texts, valid until the next message.
    std::vector<std::string_view> warning_messages() const { return messages(Severity::warning); }
    std::vector<std::string_view> error_messages() const { return messages(Severity::error); }

    // A record and where its message stands in its text.
    struct Entry {
        Diagnostic diagnostic;
        size_t offset;
        size_t length;
    };
    const std::vector<Entry>& entries() const { return entries_; }
    const std::shared_ptr<DiagnosticNames>& names() const { return names_; }

private:
    void report(Severity severity, std::string message, const Details& details);
    std::vector<std::string_view> messages(Severity severity) const;

    StrBuf& warnings_;
    StrBuf& errors_;
    std::vector<Entry> entries_;
    std::shared_ptr<DiagnosticNames> names_;
    uint32_t errors_reported_ = 0;
    size_t last_error_ = 0;  // index in entries_ of the last error
    Locator* locator_ = nullptr;
    Reporter* previous_;
};

// The Reporter registered for the calling thread, or nullptr.
Reporter* current_reporter();

}  // namespace tarvo
