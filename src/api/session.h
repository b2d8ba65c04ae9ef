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
        r.warnings = warnings_.release();
        r.errors = errors_.release();
        const std::vector<Reporter::Entry>& entries = reporter_.entries();
        r.diagnostics.reserve(entries.size());
        for (const Reporter::Entry& e : entries) {
            const std::string& text = e.diagnostic.severity == Severity::warning ? r.warnings : r.errors;
            std::string_view message(text.data() + e.offset, e.length);
            r.diagnostics.push_back(e.diagnostic);
            r.diagnostics.back().message = message;
            (e.diagnostic.severity == Severity::warning ? r.warning_messages : r.error_messages).push_back(message);
        }
        r.names_ = reporter_.names();
        return r;
    }

private:
    StrBuf errors_;
    StrBuf warnings_;
    Reporter reporter_;
};

}  // namespace tarvo
