#include "scan/Scanner.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/Config.h"
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

// The files no scan may list, by identity: the program file and the configuration file in use
// (and a link standing for it), whose loss would take the folder list with it.
class TOwnFiles {
public:
    TOwnFiles() {
        Add("/proc/self/exe", true);
        try {
            const std::string config = TConfig::GetConfigFileName();
            Add(config.c_str(), true);
            Add(config.c_str(), false);
        } catch (const std::exception&) {
            // Without a configuration path there is no configuration file to keep.
        }
    }

    bool Contains(const TFileEntryInfo& info) const {
        return std::find(files_.begin(), files_.end(), TFileIdentity{info.device, info.inode}) !=
               files_.end();
    }

private:
    void Add(const char* path, bool followLink) {
        struct stat st {};
        if ((followLink ? ::stat(path, &st) : ::lstat(path, &st)) == 0) {
            files_.push_back(
                {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
        }
    }

    std::vector<TFileIdentity> files_;
};

// Depth first with an explicit stack, so that a deep tree costs no call stack. Only the deepest
// folders stay open: a folder further up is read to its end and closed, and opened again through
// ".." of its sub-folder when the walk returns to it, so that any depth fits in a few open files.
class TFolderWalk {
public:
    TFolderWalk(TVirtualStringTree& tree, PVirtualNode parentRow, std::string_view ext,
                const TScanProgress& progress, const TFolderKeep* keep)
        : tree_(tree), parentRow_(parentRow), filter_(ext), progress_(progress), keep_(keep) {}

    void Run(std::string_view dir) {
        // The system would read such a path only up to the NUL: another folder altogether.
        if (dir.find('\0') != std::string_view::npos) {
            return;
        }
        std::string path(dir);
        TUniqueFd root = OpenFolder(path.c_str());
        if (!root.Valid()) {
            return;
        }
        // The configured folder itself may be a mount root; nothing below it that is one is
        // entered.
        const std::optional<TFolderIdentity> identity = FolderIdentityOf(root.Get());
        if (!identity) {
            return;
        }
        if (path.empty() || path.back() != '/') {
            path.push_back('/');
        }
        Push(std::move(root), identity->identity, TScanFolder::Root(path, identity->identity));
        TDirEntry entry;
        while (!stack_.empty()) {
            if (!Next(stack_.back(), entry)) {
                Pop();
                continue;
            }
            if (progress_) {
                progress_(*stack_.back().folder.get(), listed_);
            }
            try {
                Handle(entry);
            } catch (const std::exception&) {
                // One entry's failure costs that entry only.
            }
        }
    }

private:
    // Folders open at once at most: the deepest ones.
    static constexpr std::size_t kOpenFolders = 32;

    struct Frame {
        TDirReader reader;  // while the folder is open and read as it goes
        // Once it has been read to its end: the entries not yet handled, and its descriptor
        // while it is open again.
        std::optional<std::vector<std::pair<std::string, TEntryType>>> rest;
        std::size_t restNext = 0;
        TUniqueFd reopened;
        TFileIdentity identity;
        TScanFolderRef folder;
    };

    static int FdOf(const Frame& frame) {
        return frame.rest ? frame.reopened.Get() : frame.reader.Fd();
    }

    static bool Next(Frame& frame, TDirEntry& entry) {
        if (!frame.rest) {
            return frame.reader.Next(entry);
        }
        if (frame.restNext == frame.rest->size() || !frame.reopened.Valid()) {
            return false;
        }
        const auto& [name, type] = (*frame.rest)[frame.restNext++];
        entry.name = name.c_str();
        entry.type = type;
        return true;
    }

    void Handle(const TDirEntry& entry) {
        const int folderFd = FdOf(stack_.back());
        TEntryType type = entry.type;
        std::optional<TEntryStat> stat;
        if (type == TEntryType::Unknown) {
            stat = StatEntry(folderFd, entry.name);
            if (!stat) {
                return;
            }
            type = stat->type;
        }
        if (type == TEntryType::Folder) {
            Enter(folderFd, entry.name);
            return;
        }
        // Regular files and links only: a FIFO, socket or device node belongs to a live program
        // or to the system. A link is an entry of its own, matched by its own name and never
        // followed.
        if ((type != TEntryType::Regular && type != TEntryType::Link) ||
            !filter_.Matches(entry.name)) {
            return;
        }
        if (!stat) {
            stat = StatEntry(folderFd, entry.name);
            if (!stat) {
                return;  // gone since it was listed
            }
        }
        // Replaced since it was listed, a file mounted over this entry, or one of our own.
        if ((stat->type != TEntryType::Regular && stat->type != TEntryType::Link) ||
            stat->isMountRoot || stat->info.device != stack_.back().identity.device ||
            ownFiles_.Contains(stat->info)) {
            return;
        }
        PVirtualNode row = tree_.AddChild(parentRow_);
        TScanFolderRef& folder = stack_.back().folder;
        TFileNodeData& data = tree_.GetNodeData(row);
        // A folder whose names fill one record goes on in another: no row without its identity.
        if (!data.AssignFile(folder, entry.name, stat->info)) {
            folder->Seal();
            folder = TScanFolder::Continuation(folder);
            data.AssignFile(folder, entry.name, stat->info);
        }
        const TKeepReason reason =
            keep_ != nullptr ? KeepReasonOf(*keep_, stat->info) : TKeepReason::None;
        if (reason == TKeepReason::None) {
            tree_.SetCheckState(row, TCheckState::Checked);
        } else {
            data.SetKeptBy(reason);
        }
        ++listed_;
    }

    void Enter(int parentFd, const char* name) {
        TUniqueFd folder = OpenSubFolder(parentFd, name);
        if (!folder.Valid()) {
            return;
        }
        const std::optional<TFolderIdentity> identity = FolderIdentityOf(folder.Get());
        // Another file system, or a bind mount, below the configured folder is not cleaned.
        if (!identity || identity->isMountRoot ||
            identity->identity.device != stack_.back().identity.device) {
            return;
        }
        // Links are not followed and mounts not entered, but where the kernel does not say
        // what is a mount, a bind mount can still show a folder inside itself.
        for (const Frame& frame : stack_) {
            if (frame.identity == identity->identity) {
                return;
            }
        }
        Push(std::move(folder), identity->identity, TScanFolder::Sub(stack_.back().folder, name));
    }

    void Push(TUniqueFd folder, TFileIdentity identity, TScanFolderRef record) {
        TDirReader reader(std::move(folder));
        if (!reader.Valid()) {
            return;
        }
        if (stack_.size() - firstOpen_ >= kOpenFolders) {
            Spill(stack_[firstOpen_++]);
        }
        stack_.push_back(
            Frame{std::move(reader), std::nullopt, 0, TUniqueFd(), identity, std::move(record)});
    }

    // Reads the rest of a folder the walk will come back to only later, and closes it.
    static void Spill(Frame& frame) {
        if (!frame.rest) {
            frame.rest.emplace();
            TDirEntry entry;
            while (frame.reader.Next(entry)) {
                frame.rest->emplace_back(entry.name, entry.type);
            }
            frame.reader = TDirReader(TUniqueFd());
        }
        frame.reopened = TUniqueFd();
    }

    void Pop() {
        Frame done = std::move(stack_.back());
        stack_.pop_back();
        done.folder->Seal();
        if (stack_.empty() || firstOpen_ < stack_.size()) {
            return;
        }
        // Back to a folder that was closed: ".." of the folder just done leads there, unless
        // something moved in the meantime; then the rest of it is left out.
        --firstOpen_;
        Frame& parent = stack_.back();
        const int doneFd = FdOf(done);
        if (doneFd < 0) {
            return;
        }
        TUniqueFd up = OpenSubFolder(doneFd, "..");
        const std::optional<TFolderIdentity> identity =
            up.Valid() ? FolderIdentityOf(up.Get()) : std::nullopt;
        if (identity && identity->identity == parent.identity) {
            parent.reopened = std::move(up);
        }
    }

    TVirtualStringTree& tree_;
    PVirtualNode parentRow_;
    TExtFilter filter_;
    TOwnFiles ownFiles_;
    const TScanProgress& progress_;
    const TFolderKeep* keep_;
    std::size_t listed_ = 0;
    std::vector<Frame> stack_;
    std::size_t firstOpen_ = 0;  // the frames below it are closed
};

}  // namespace

void ScanFolderFiles(TVirtualStringTree& tree, std::string_view dir, PVirtualNode parentRow,
                     std::string_view ext, const TScanProgress& progress, const TFolderKeep* keep) {
    TFolderWalk(tree, parentRow, ext, progress, keep).Run(dir);
}

void ScanFolder(TVirtualStringTree& tree, std::string_view folderPath, std::string_view ext,
                const TScanProgress& progress, const TFolderKeep* keep) {
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
            ScanFolderFiles(tree, dir, row, ext, progress, keep);
        }
        tree.SetExpanded(row, true);
    } catch (const std::exception&) {
        // The rows made so far stay; the scan of the next folder goes on.
    }
}

}  // namespace purgala
