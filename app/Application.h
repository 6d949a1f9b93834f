#pragma once
// The application object. Qt does not let an exception cross its event loop, so every failure
// that escapes an event handler ends here and is handed to the installed error handler.

#include <QApplication>
#include <functional>
#include <string>

namespace purgala {

class TApplication : public QApplication {
    Q_OBJECT
public:
    using ErrorHandler = std::function<void(const std::string& message)>;

    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The handler for failures that escape an event handler; without one they are dropped.
    static void SetErrorHandler(ErrorHandler handler);
    // What the handler does with a failure; also used where a failure is caught on purpose and
    // must end like any other.
    static void HandleError(const std::string& message);
};

}  // namespace purgala
