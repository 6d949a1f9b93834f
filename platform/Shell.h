#pragma once
// Hand-offs to the desktop: a folder to the file manager, a web page to the browser, a mailto:
// link to the mail program. They go through one function that tests can replace.

#include <QUrl>
#include <functional>

namespace purgala {

// Asks the desktop to open `url` with its handler; does not wait and reports nothing.
void ShellOpen(const QUrl& url);

using ShellHook = std::function<void(const QUrl&)>;
// Replaces what ShellOpen does; an empty hook restores the desktop hand-off. Returns the old one.
ShellHook SetShellHook(ShellHook hook);

}  // namespace purgala
