// Reading ahead: one document read and checked on a thread of its own while
// the handler's calls are made on the calling thread. Where the handler's
// work is as heavy as the reading (an interpreter's callables), the two
// overlap on a machine with a core to spare.
#pragma once

#include "tarvo/batch.h"
#include "tarvo/tarvo.h"

namespace tarvo {

// What the calling thread of parse_ahead() does around each wait for the
// reading thread, and around the second reading after a failed handler
// call: a host holding a lock of its own that other threads need (an
// interpreter's) releases it in begin() and takes it back in end(). Both
// are called on the calling thread, in pairs: outside any handler call, and
// within the one where the handler first asks for a position (see below).
class TARVO_API AheadWait {
public:
    virtual void begin() = 0;
    virtual void end() = 0;

protected:
    ~AheadWait() = default;
};

// Parses `source` as parse_file or parse_buffer parses it, with the same
// handler calls (same order, arguments and Handler::position), on the
// calling thread, and the same Result, while the document is read and
// checked up to a few tens of thousands of events ahead on another
// thread (chunks of at most 8,192 events, four of them waiting at most). The
// reading thread takes no positions until the handler first asks for one:
// then the document is read again, with them, up to the event being
// delivered, while the calling thread waits (a wait announced to AheadWait
// like the others, but inside that handler call). When a handler call
// fails, the document is read again up to that event, so that the Result
// is the one the direct parse gives. The bytes of a bytes
// source must stay unchanged until the call returns, handler calls
// included. A handler exception leaves the call once the reading thread
// has stopped. Parses directly, on the calling thread, when `handler` is
// null, when the machine has a single core and when no thread can be
// started.
TARVO_API Result parse_ahead(const SchemaTable& grammar, const Source& source, Handler* handler,
                             const Options& options = {}, AheadWait* wait = nullptr);

}  // namespace tarvo
