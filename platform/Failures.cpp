#include "platform/Failures.h"

namespace purgala {

namespace {

ErrorHandler& Handler() {
    static ErrorHandler handler;
    return handler;
}

}  // namespace

void SetErrorHandler(ErrorHandler handler) {
    Handler() = std::move(handler);
}

void HandleError(const std::string& message) noexcept {
    if (const auto& handler = Handler()) {
        try {
            handler(message);
        } catch (...) {
            // The handler is the last stop; a failure there has nowhere left to go.
        }
    }
}

}  // namespace purgala
