#pragma once
// The folder settings dialog: the list of folders to check, edited in a grid.

#include <QDialog>

namespace purgala {

class TfmSetting : public QDialog {
    Q_OBJECT
public:
    explicit TfmSetting(QWidget* owner = nullptr);
};

}  // namespace purgala
