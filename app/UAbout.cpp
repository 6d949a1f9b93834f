#include "app/UAbout.h"

namespace purgala {

TFMAbout::TFMAbout(QWidget* owner) : QDialog(owner) {
    setWindowTitle(tr("About Purgala"));
}

}  // namespace purgala
