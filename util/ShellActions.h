#pragma once
// Hand-offs to the desktop's shell: they return at once and report nothing.

namespace purgala {

class TVirtualStringTree;

// Opens the folder of the tree's focused row in the file manager.
void OpenRowFolder(TVirtualStringTree& tree);
// Opens the program's home page in the web browser.
void OpenHomePage();
// Opens a new mail to the program's makers in the mail program.
bool MailToMaker();

}  // namespace purgala
