#include "util/ShellActions.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QUrl>

#include "platform/Shell.h"
#include "platform/VirtualTree.h"

namespace purgala {

namespace {

// A file URL that carries the path's exact bytes: a name that is not valid UTF-8 stays
// percent-encoded instead of being replaced on the way through QString.
QUrl LocalFolderUrl(std::string_view path) {
    QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    if (!bytes.startsWith('/')) {
        // A folder typed relative in the configuration means the same to the file manager as
        // to the scan: relative to the working folder.
        bytes = QFile::encodeName(QDir::currentPath()) + '/' + bytes;
    }
    return QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"), QUrl::StrictMode);
}

}  // namespace

std::string FolderPartOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    // The slash of the root, or one doubled, stays: the folder part of /a.tmp is /.
    const bool keepSlash = slash == 0 || path[slash - 1] == '/';
    return std::string(path.substr(0, keepSlash ? slash + 1 : slash));
}

void OpenRowFolder(TVirtualStringTree& tree) {
    const PVirtualNode node = tree.FocusedNode();
    if (node == nullptr) {
        return;
    }
    const TFileNodeData& data = tree.GetNodeData(node);
    std::string path(data.FullPath());
    if (data.FileType() == kFileType) {
        path = FolderPartOf(path);
    }
    if (path.empty()) {
        return;
    }
    ShellOpen(LocalFolderUrl(path));
}

bool OpenHomePage() {
    ShellOpen(QUrl(QString::fromLatin1(kHomePage.data(), kHomePage.size())));
    return true;
}

bool MailToMaker() {
    ShellOpen(QUrl("mailto:" + QString::fromLatin1(kMakerMail.data(), kMakerMail.size())));
    return true;
}

}  // namespace purgala
