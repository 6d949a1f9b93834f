#pragma once
// A long command that keeps the window alive: its file-system work runs on other threads while
// the GUI thread does its own part in short slices and handles the window's events in between.
// The command still returns to its caller only when the work is done. Meanwhile its own button
// says "&Stop" and stops it, as Escape in the window does, and the widgets that would conflict
// with it are disabled.

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>
#include <vector>

class QAbstractButton;
class QWidget;

namespace purgala {

class TLongWork : public QObject {
public:
    using Clock = std::chrono::steady_clock;
    // Does the GUI thread's part until `deadline` (or a little past it) and says whether the work
    // is done; a stopped work must soon say it is.
    using Slice = std::function<bool(Clock::time_point deadline)>;

    // How long a slice runs before the events have their turn.
    static constexpr std::chrono::milliseconds kSlice{25};

    // `stop` tells the workers to stop; it may be called more than once. Work that no button
    // started (`button` nullptr) has none that reads "&Stop".
    TLongWork(QWidget& window, QAbstractButton* button, std::vector<QWidget*> refused,
              std::function<void()> stop);
    ~TLongWork() override;  // the button's caption and the refused widgets come back
    TLongWork(const TLongWork&) = delete;
    TLongWork& operator=(const TLongWork&) = delete;

    void Run(const Slice& slice);
    void Stop();
    bool Stopped() const { return stopped_; }
    const QAbstractButton* Button() const { return button_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> window_;
    QPointer<QAbstractButton> button_;
    QString caption_;
    std::vector<QPointer<QWidget>> refused_;
    std::function<void()> stop_;
    bool stopped_ = false;
};

}  // namespace purgala
