#pragma once
// How far a long command has come, in one status bar panel. Nothing shows for the first quarter
// of a second; then the panel is redrawn about ten times a second. Only the panel is painted; a
// command that runs on the GUI thread alone handles no event meanwhile, so it ends before any
// click or key takes effect (one run as a TLongWork handles them between its slices).

#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>

class QLabel;

namespace purgala {

class TProgressReporter {
public:
    using Clock = std::chrono::steady_clock;

    explicit TProgressReporter(QLabel& panel);

    // Cheap enough to call for every file: `text` is asked for only when a redraw is due.
    template <typename TextFunction>
    void Step(TextFunction&& text) {
        if (++steps_ % kStride != 0) {
            return;
        }
        const Clock::time_point now = Now();
        if (now < due_) {
            return;
        }
        due_ = now + kInterval;
        Show(text());
    }

private:
    // Reading the clock costs more than most steps: look at it every few steps only.
    static constexpr unsigned kStride = 8;
    static constexpr std::chrono::milliseconds kDelay{250};
    static constexpr std::chrono::milliseconds kInterval{100};

    static Clock::time_point Now();
    void Show(const QString& text);

    QPointer<QLabel> panel_;
    Clock::time_point due_;
    unsigned steps_ = 0;
};

// The box of a question that was just answered stays drawn on the window until the window
// system's news of its closing is handled, and the long work that follows handles no events.
// Lets that news, and nothing the user sends, through before the work starts.
void RedrawAfterQuestion();

// Replaces the clock the reporters read; an empty one restores the real clock. Returns the old.
using ProgressClock = std::function<TProgressReporter::Clock::time_point()>;
ProgressClock SetProgressClock(ProgressClock clock);

}  // namespace purgala
