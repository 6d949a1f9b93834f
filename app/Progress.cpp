#include "app/Progress.h"

#include <QCoreApplication>
#include <QLabel>
#include <utility>

namespace purgala {

namespace {

ProgressClock& CurrentClock() {
    static ProgressClock clock;
    return clock;
}

}  // namespace

ProgressClock SetProgressClock(ProgressClock clock) {
    return std::exchange(CurrentClock(), std::move(clock));
}

TProgressReporter::TProgressReporter(QLabel& panel) : panel_(&panel), due_(Now() + kDelay) {}

TProgressReporter::Clock::time_point TProgressReporter::Now() {
    const ProgressClock& clock = CurrentClock();
    return clock ? clock() : Clock::now();
}

void TProgressReporter::Show(const QString& text) {
    // The window may have been closed meanwhile; a hidden panel paints nothing.
    if (panel_ == nullptr) {
        return;
    }
    panel_->setText(text);
    panel_->repaint();
}

void RedrawAfterQuestion() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 100);
}

}  // namespace purgala
