// The handler's view of where the reader stands (Handler::position).
#pragma once

#include <utility>

#include "tarvo/tarvo.h"

namespace tarvo {

// Shows a handler where the reader stands while a run lives (see
// Handler::position): one pointer stored per run, nothing per event.
class PositionScope {
public:
    PositionScope(Handler* handler, const Position* position) : handler_(handler) {
        if (handler_) previous_ = std::exchange(handler_->position_, position);
    }
    ~PositionScope() {
        if (handler_) handler_->position_ = previous_;
    }
    PositionScope(const PositionScope&) = delete;
    PositionScope& operator=(const PositionScope&) = delete;

private:
    Handler* handler_;
    const Position* previous_ = nullptr;
};

}  // namespace tarvo
