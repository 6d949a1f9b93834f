#pragma once
// The About box: the program's name and version, a notice and the makers' web and mail links.

#include <QDialog>

namespace purgala {

class TFMAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFMAbout(QWidget* owner);
};

}  // namespace purgala
