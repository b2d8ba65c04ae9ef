// One parse call's texts and Reporter. The Reporter is registered for the
// calling thread while the session lives; finish() hands the texts and the
// records out without copying a message.
#pragma once

#include "containers/str_buf.h"
#include "diag/reporter.h"
#include "tarvo/tarvo.h"

namespace tarvo {

class ParseSession {
public:
    ParseSession() : reporter_(warnings_, errors_) {}

    Reporter& reporter() { return reporter_; }

    Result finish(int status) {
        Result r;
        r.status = status;
        const char* from_warnings = warnings_.data();
        const char* from_errors = errors_.data();
        r.warnings = warnings_.release();
        r.errors = errors_.release();
        r.diagnostics = reporter_.take_records();
        size_t warning_count = 0;
        for (const Diagnostic& d : r.diagnostics) warning_count += d.severity == Severity::warning;
        r.warning_messages.reserve(warning_count);
        r.error_messages.reserve(r.diagnostics.size() - warning_count);
        for (const Diagnostic& d : r.diagnostics)
            (d.severity == Severity::warning ? r.warning_messages : r.error_messages).push_back(d.message);
        r.names_ = reporter_.names();
        // A short text moved with its string; a long one stayed where it was.
        r.rebase(from_warnings, from_errors);
        return r;
    }

private:
    StrBuf errors_;
    StrBuf warnings_;
    Reporter reporter_;
};

}  // namespace tarvo
