#include "app/Application.h"

#include <exception>

namespace purgala {

namespace {

TApplication::ErrorHandler& Handler() {
    static TApplication::ErrorHandler handler;
    return handler;
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        HandleError(e.what());
    } catch (...) {
        HandleError("unknown failure");
    }
    return false;
}

void TApplication::SetErrorHandler(ErrorHandler handler) {
    Handler() = std::move(handler);
}

void TApplication::HandleError(const std::string& message) {
    if (const auto& handler = Handler()) {
        // The handler itself must never throw back into the event loop.
        try {
            handler(message);
        } catch (...) {
        }
    }
}

}  // namespace purgala
