#include "platform/SpeedButton.h"

#include <QEvent>

namespace purgala {

bool TSpeedButton::event(QEvent* event) {
    if (event->type() == QEvent::Shortcut && isEnabled()) {
        click();
        return true;
    }
    return QToolButton::event(event);
}

}  // namespace purgala
