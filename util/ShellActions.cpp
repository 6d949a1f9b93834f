#include "util/ShellActions.h"

#include "platform/Shell.h"
#include "platform/VirtualTree.h"

namespace purgala {

void OpenRowFolder(TVirtualStringTree&) {}

void OpenHomePage() {}

bool MailToMaker() {
    return true;
}

}  // namespace purgala
