#include "platform/Shell.h"

#include <QDesktopServices>
#include <utility>

namespace purgala {

namespace {

ShellHook& CurrentHook() {
    static ShellHook hook;
    return hook;
}

}  // namespace

void ShellOpen(const QUrl& url) {
    if (const auto& hook = CurrentHook()) {
        hook(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

ShellHook SetShellHook(ShellHook hook) {
    return std::exchange(CurrentHook(), std::move(hook));
}

}  // namespace purgala
