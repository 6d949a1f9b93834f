#pragma once
// Hand-offs to the desktop: a row's folder to the file manager, the home page to the web
// browser, a new mail to the mail program. They return at once and report nothing: whatever the
// desktop makes of the request is its own business.

#include <string>
#include <string_view>

namespace purgala {

class TVirtualStringTree;

inline constexpr std::string_view kHomePage = "https://purgala.example/";
inline constexpr std::string_view kMakerMail = "dev@purgala.example";

// The folder that holds the file at `path`: /dir/a.tmp gives /dir, /a.tmp gives /, and a path
// without any "/" gives the empty text.
std::string FolderPartOf(std::string_view path);

// Opens the folder of the tree's focused row in the file manager: for a file row the folder that
// holds the file, for any other row its path itself. No focused row or an empty path: nothing.
void OpenRowFolder(TVirtualStringTree& tree);
// Opens the home page in the web browser.
bool OpenHomePage();
// Starts a new mail to the makers in the mail program.
bool MailToMaker();

}  // namespace purgala
