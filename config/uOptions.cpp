#include "config/uOptions.h"

namespace purgala {

TfmSetting::TfmSetting(QWidget* owner) : QDialog(owner) {
    setWindowTitle(tr("Setup Folders to Check "));
}

}  // namespace purgala
