#pragma once
// A flat command button with a picture and a caption. Its Alt accelerator runs the command at
// once instead of after a short pressed-look animation, so keys typed after it (an arrow, space)
// reach the rows that the command has just made.

#include <QToolButton>

namespace purgala {

class TSpeedButton : public QToolButton {
    Q_OBJECT
public:
    using QToolButton::QToolButton;

protected:
    bool event(QEvent* event) override;
};

}  // namespace purgala
