// "&Delete": the files of the checked file rows go from disk, and their rows from the tree.
#include "app/uMain.h"

namespace purgala {

void TFMMain::btnOpenFolderClick() {
    BeginCommand();
}

}  // namespace purgala
