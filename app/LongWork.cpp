#include "app/LongWork.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>
#include <utility>

namespace purgala {

TLongWork::TLongWork(QWidget& window, QAbstractButton* button, std::vector<QWidget*> refused,
                     std::function<void()> stop)
    : window_(&window), button_(button), stop_(std::move(stop)) {
    if (button != nullptr) {
        caption_ = button->text();
        button->setText(tr("&Stop"));
    }
    for (QWidget* widget : refused) {
        if (widget != nullptr && widget->isEnabled()) {
            widget->setEnabled(false);
            refused_.emplace_back(widget);
        }
    }
    QCoreApplication::instance()->installEventFilter(this);
}

TLongWork::~TLongWork() {
    QCoreApplication::instance()->removeEventFilter(this);
    if (button_ != nullptr) {
        button_->setText(caption_);
    }
    for (const QPointer<QWidget>& widget : refused_) {
        if (widget != nullptr) {
            widget->setEnabled(true);
        }
    }
}

void TLongWork::Run(const Slice& slice) {
    while (!slice(Clock::now() + kSlice)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void TLongWork::Stop() {
    stopped_ = true;
    if (stop_) {
        stop_();
    }
}

bool TLongWork::eventFilter(QObject* watched, QEvent* event) {
    // Escape anywhere in the window stops the work; in a dialog opened meanwhile it is the
    // dialog's.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() && window_ != nullptr &&
        static_cast<QWidget*>(watched)->window() == window_) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            Stop();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace purgala
