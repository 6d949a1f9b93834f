#include "scan/Scanner.h"

#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/DirReader.h"
#include "util/FileUtils.h"

namespace purgala {

namespace {

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Only a-z are folded: other bytes, UTF-8 letters included, must match exactly.
class TExtFilter {
public:
    explicit TExtFilter(std::string_view ext) : upper_(ext) {
        for (char& c : upper_) {
            c = AsciiUpper(c);
        }
    }

    bool Matches(std::string_view name) const {
        if (upper_.empty()) {
            return true;
        }
        const std::size_t dot = name.rfind('.');
        if (dot == std::string_view::npos || name.size() - dot - 1 != upper_.size()) {
            return false;
        }
        const char* e = name.data() + dot + 1;
        for (std::size_t i = 0; i < upper_.size(); ++i) {
            if (AsciiUpper(e[i]) != upper_[i]) {
                return false;
            }
        }
        return true;
    }

private:
    std::string upper_;
};

// Depth first with an explicit stack of open folders, so that a deep tree costs no call stack;
// one path buffer grows and shrinks with the walk and is copied only into the rows.
class TFolderWalk {
public:
    TFolderWalk(TVirtualStringTree& tree, PVirtualNode parentRow, std::string_view ext,
                const TScanProgress& progress)
        : tree_(tree), parentRow_(parentRow), filter_(ext), progress_(progress) {}

    void Run(std::string_view dir) {
        // The system would read such a path only up to the NUL: another folder altogether.
        if (dir.find('\0') != std::string_view::npos) {
            return;
        }
        path_.assign(dir);
        Push(OpenFolder(path_.c_str()));
        while (!stack_.empty()) {
            TDirEntry entry;
            if (!stack_.back().reader.Next(entry)) {
                stack_.pop_back();
                continue;
            }
            path_.resize(stack_.back().pathLength);
            if (progress_) {
                progress_(path_, listed_);
            }
            try {
                Handle(entry);
            } catch (const std::exception&) {
                // One entry's failure costs that entry only.
            }
        }
    }

private:
    struct Frame {
        TDirReader reader;
        std::size_t pathLength;  // of the folder's path with its trailing "/"
        TFileIdentity identity;
    };

    void Handle(const TDirEntry& entry) {
        const int folderFd = stack_.back().reader.Fd();
        TEntryType type = entry.type;
        std::optional<TEntryStat> stat;
        if (type == TEntryType::Unknown) {
            stat = StatEntry(folderFd, entry.name);
            if (!stat) {
                return;
            }
            type = stat->isFolder ? TEntryType::Folder : TEntryType::Other;
        }
        if (type == TEntryType::Folder) {
            Enter(folderFd, entry.name);
            return;
        }
        // A link is an entry of its own, matched by its own name and never followed.
        if (!filter_.Matches(entry.name)) {
            return;
        }
        if (!stat) {
            stat = StatEntry(folderFd, entry.name);
            // Gone since it was listed, or replaced by a folder: either way not this file.
            if (!stat || stat->isFolder) {
                return;
            }
        }
        const std::size_t nameOffset = path_.size();
        path_.append(entry.name);
        PVirtualNode row = tree_.AddChild(parentRow_);
        tree_.GetNodeData(row).AssignFile(path_, nameOffset, stat->info);
        tree_.SetCheckState(row, TCheckState::Checked);
        ++listed_;
    }

    void Enter(int parentFd, const char* name) {
        path_.append(name);
        Push(OpenSubFolder(parentFd, name));
    }

    void Push(TUniqueFd folder) {
        if (!folder.Valid()) {
            return;
        }
        const std::optional<TFileIdentity> identity = IdentityOf(folder.Get());
        if (!identity) {
            return;
        }
        // Links are not followed, but a bind mount can still show a folder inside itself.
        for (const Frame& frame : stack_) {
            if (frame.identity == *identity) {
                return;
            }
        }
        TDirReader reader(std::move(folder));
        if (!reader.Valid()) {
            return;
        }
        if (path_.empty() || path_.back() != '/') {
            path_.push_back('/');
        }
        stack_.push_back(Frame{std::move(reader), path_.size(), *identity});
    }

    TVirtualStringTree& tree_;
    PVirtualNode parentRow_;
    TExtFilter filter_;
    const TScanProgress& progress_;
    std::size_t listed_ = 0;
    std::string path_;
    std::vector<Frame> stack_;
};

}  // namespace

void ScanFolderFiles(TVirtualStringTree& tree, std::string_view dir, PVirtualNode parentRow,
                     std::string_view ext, const TScanProgress& progress) {
    TFolderWalk(tree, parentRow, ext, progress).Run(dir);
}

void ScanFolder(TVirtualStringTree& tree, std::string_view folderPath, std::string_view ext,
                const TScanProgress& progress) {
    TUpdateBracket bracket(tree);
    try {
        PVirtualNode row = tree.AddChild(nullptr);
        TFileNodeData& data = tree.GetNodeData(row);
        data.SetText(TFieldKind::FileName, FolderDisplayName(folderPath));
        data.SetText(TFieldKind::FullPath, folderPath);
        data.SetText(TFieldKind::FileType, kFolderType);
        data.SetText(TFieldKind::FileExt, {});
        // An empty path would otherwise become "/" and list the whole system for deletion.
        if (!folderPath.empty()) {
            std::string dir(folderPath);
            if (dir.back() != '/') {
                dir.push_back('/');
            }
            ScanFolderFiles(tree, dir, row, ext, progress);
        }
        tree.SetExpanded(row, true);
    } catch (const std::exception&) {
        // The rows made so far stay; the scan of the next folder goes on.
    }
}

}  // namespace purgala
