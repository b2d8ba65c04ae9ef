// One parse call's texts and Reporter. The Reporter is registered for the
// calling thread while the session lives; finish() hands the texts out.
#pragma once

#include "containers/str_buf.h"
#include "diag/reporter.h"
#include "tarvo/tarvo.h"

namespace tarvo {

class ParseSession {
public:
    ParseSession() : reporter_(warnings_, errors_) {}

    Result finish(int status) {
        Result r;
        r.status = status;
        r.warnings = warnings_.take_copy();
        r.errors = errors_.take_copy();
        r.warning_messages = reporter_.warning_messages();
        r.error_messages = reporter_.error_messages();
        return r;
    }

private:
    StrBuf errors_;
    StrBuf warnings_;
    Reporter reporter_;
};

}  // namespace tarvo
