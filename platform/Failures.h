#pragma once
// Where a failure ends when no caller can take it: in the handler the main window installs,
// which shows it in the status bar. Qt does not allow an exception to unwind through its own
// code, so every slot and event handler that can fail runs its work through RunGuarded.

#include <exception>
#include <functional>
#include <string>
#include <utility>

namespace purgala {

using ErrorHandler = std::function<void(const std::string& message)>;

// Replaces the handler; without one, failures are dropped.
void SetErrorHandler(ErrorHandler handler);
// Hands `message` to the handler. Never throws, whatever the handler does.
void HandleError(const std::string& message) noexcept;

// Runs `action`; a failure goes to the error handler instead of to whoever called.
template <typename Action>
void RunGuarded(Action&& action) noexcept {
    try {
        std::forward<Action>(action)();
    } catch (const std::exception& failure) {
        HandleError(failure.what());
    } catch (...) {
        HandleError("unknown failure");
    }
}

// A slot for connect() that runs `handler` of `object` guarded. Signal arguments are dropped:
// the handlers read the state they need themselves.
template <typename Object>
auto GuardedSlot(Object* object, void (Object::*handler)()) {
    return [object, handler] { RunGuarded([&] { (object->*handler)(); }); };
}

}  // namespace purgala
