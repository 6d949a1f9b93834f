#pragma once
// The application object. Handlers guard their own work (platform/Failures.h); whatever still
// escapes an event handler is caught here, before it can cross the event loop, and ends in the
// same error handler.

#include <QApplication>

namespace purgala {

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace purgala
