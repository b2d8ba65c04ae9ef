// Collects the warning and error texts of one parse. The running parse's
// Reporter is found through a per-thread registry instead of being passed
// around, so every check can report without knowing who called it.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "containers/str_buf.h"

namespace tarvo {

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
    void add_warning(std::string message);
    void add_error(std::string message);

    bool error_flag() const { return errors_reported_ != 0; }
    // Errors written so far; the parser compares it around a handler call to
    // tell a failing call from an error reported earlier.
    uint32_t error_count() const { return errors_reported_; }

    const std::vector<std::string>& warning_messages() const { return warning_list_; }
    const std::vector<std::string>& error_messages() const { return error_list_; }

private:
    static void append(StrBuf& buf, std::vector<std::string>& list, std::string message);

    StrBuf& warnings_;
    StrBuf& errors_;
    std::vector<std::string> warning_list_;
    std::vector<std::string> error_list_;
    uint32_t errors_reported_ = 0;
    Reporter* previous_;
};

// The Reporter registered for the calling thread, or nullptr.
Reporter* current_reporter();

}  // namespace tarvo
