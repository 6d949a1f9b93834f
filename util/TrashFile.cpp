#include "util/TrashFile.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <utility>

namespace purgala {

namespace {

TDeleteOutcome Failed(std::string_view reason) {
    return {TDeleteResult::Failed, std::string(reason)};
}

// The longest name most file systems take; an info file's name is the trash name plus this.
constexpr std::size_t kNameMax = 255;
constexpr std::string_view kInfoSuffix = ".trashinfo";
// Numbered names tried for one file before the trash counts as full.
constexpr unsigned kMaxAttempts = 100'000;

struct stat StatOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        st.st_mode = 0;
    }
    return st;
}

// The sub-folder `name` of `parentFd`, made (mode 0700) when missing, never through a link, and
// only when it is the user's own and on `device`.
TUniqueFd OwnSubFolder(int parentFd, const char* name, std::uint64_t device, unsigned uid) {
    if (::mkdirat(parentFd, name, 0700) != 0 && errno != EEXIST) {
        return {};
    }
    TUniqueFd folder = OpenSubFolder(parentFd, name);
    if (!folder.Valid()) {
        return {};
    }
    const struct stat st = StatOf(folder.Get());
    if (!S_ISDIR(st.st_mode) || st.st_uid != uid ||
        static_cast<std::uint64_t>(st.st_dev) != device) {
        return {};
    }
    return folder;
}

// The folder at an absolute path from the mount table, with no link on the way.
TUniqueFd OpenMountPoint(const std::string& path) {
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    if (fd >= 0) {
        return TUniqueFd(static_cast<int>(fd));
    }
    if (errno != ENOSYS && errno != EPERM) {
        return {};
    }
    // Without openat2 the last component at least is not a link; the device is checked after.
    return TUniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Where an open folder is, as the kernel names it now: absolute, links resolved.
bool PathOfFolder(int fd, std::string& path) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::string buffer(4096, '\0');
    const ssize_t got = ::readlink(link, buffer.data(), buffer.size());
    if (got <= 0 || static_cast<std::size_t>(got) >= buffer.size() || buffer[0] != '/') {
        return false;
    }
    buffer.resize(static_cast<std::size_t>(got));
    path = std::move(buffer);
    return true;
}

// The mount table's escapes (\040 for a blank and the like) undone.
std::string Unescape(std::string_view field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const auto digit = [](char c) { return c >= '0' && c <= '7'; };
            if (digit(field[i + 1]) && digit(field[i + 2]) && digit(field[i + 3])) {
                text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                          (field[i + 3] - '0'));
                i += 3;
                continue;
            }
        }
        text += field[i];
    }
    return text;
}

bool IsBelow(std::string_view path, std::string_view top) {
    if (top == "/") {
        return path.starts_with('/');
    }
    return path.starts_with(top) && (path.size() == top.size() || path[top.size()] == '/');
}

// The name the file gets in the trash at the given attempt: its own, then with ".2", ".3"...;
// cut short where the info file's name would be too long.
std::string TrashName(std::string_view name, unsigned attempt) {
    const std::string suffix = attempt == 0 ? std::string() : "." + std::to_string(attempt + 1);
    const std::size_t room = kNameMax - kInfoSuffix.size() - suffix.size();
    std::string trashName(name.substr(0, room));
    trashName += suffix;
    return trashName;
}

std::string DeletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = {};
    if (::localtime_r(&now, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) {
        return {};
    }
    return text;
}

// Writes the whole text to a new file; false (errno set) when any byte did not go.
bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t wrote = ::write(fd, text.data(), text.size());
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

// The entry moved is the one checked before the move. The move itself changes the
// status-change time, so that is not compared; the birth time, or where there is none the
// handle that tells a new file on a reused inode number, is.
bool SameFile(const TEntryStat& before, const TEntryStat& after) {
    const TFileEntryInfo& a = before.info;
    const TFileEntryInfo& b = after.info;
    return before.type == after.type && a.device == b.device && a.inode == b.inode &&
           a.size == b.size && a.writeTime == b.writeTime && a.createTime == b.createTime &&
           a.handle == b.handle;
}

}  // namespace

struct TTrashMover::TTrash {
    bool usable = false;
    std::uint64_t device = 0;
    std::string top;  // the top folder, paths in its info files are relative to; empty at home
    TUniqueFd files;
    TUniqueFd info;
    // For names met twice or more: the attempt to start from next time.
    std::unordered_map<std::string, unsigned> nextAttempt;

    // Makes `files` and `info` in the open trash folder; usable when both are there.
    void Open(int trashFd, std::uint64_t onDevice, unsigned uid) {
        device = onDevice;
        files = OwnSubFolder(trashFd, "files", onDevice, uid);
        info = OwnSubFolder(trashFd, "info", onDevice, uid);
        usable = files.Valid() && info.Valid();
    }
};

TTrashOwner TTrashOwner::FromEnvironment() {
    TTrashOwner owner;
    owner.uid = ::getuid();
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    // Relative values are to be ignored, as for every XDG folder.
    if (dataHome != nullptr && dataHome[0] == '/') {
        owner.dataHome = dataHome;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        owner.dataHome = std::string(home) + "/.local/share";
    }
    return owner;
}

TTrashMover::TTrashMover(TTrashOwner owner, bool useOpenat2)
    : owner_(std::move(owner)), finder_(useOpenat2) {
    ::tzset();
}

TTrashMover::~TTrashMover() = default;

const std::vector<std::pair<std::uint64_t, std::string>>& TTrashMover::Mounts() {
    if (!mounts_) {
        mounts_.emplace();
        std::ifstream table("/proc/self/mountinfo");
        std::string line;
        while (std::getline(table, line)) {
            // ID, parent ID, major:minor, root, mount point, ...
            std::istringstream fields(line);
            std::string id, parent, device, root, point;
            unsigned major = 0;
            unsigned minor = 0;
            if (fields >> id >> parent >> device >> root >> point &&
                std::sscanf(device.c_str(), "%u:%u", &major, &minor) == 2) {
                mounts_->emplace_back(makedev(major, minor), Unescape(point));
            }
        }
    }
    return *mounts_;
}

TTrashMover::TTrash* TTrashMover::HomeTrashFor(std::uint64_t device) {
    if (owner_.dataHome.empty()) {
        return nullptr;
    }
    const std::string trashPath = owner_.dataHome + "/Trash";
    if (!homeDevice_) {
        // The file system the home trash is on, or would be on once made.
        std::string existing = trashPath;
        struct stat st {};
        while (::stat(existing.c_str(), &st) != 0) {
            const std::size_t slash = existing.rfind('/');
            if (slash == std::string::npos || existing == "/") {
                st.st_dev = 0;
                break;
            }
            existing.resize(slash == 0 ? 1 : slash);
        }
        homeDevice_ = static_cast<std::uint64_t>(st.st_dev);
    }
    if (*homeDevice_ != device) {
        return nullptr;
    }
    if (!home_) {
        home_ = std::make_unique<TTrash>();
        // The data folder is the user's own setting: a link on its way is followed, as for a
        // configured folder. Missing folders are made as a file manager would.
        std::string partial;
        for (std::size_t from = 1; from <= trashPath.size();) {
            std::size_t slash = trashPath.find('/', from);
            if (slash == std::string::npos) {
                slash = trashPath.size();
            }
            partial = trashPath.substr(0, slash);
            ::mkdir(partial.c_str(), 0700);
            from = slash + 1;
        }
        const TUniqueFd trash = OpenFolder(trashPath.c_str());
        if (trash.Valid() && static_cast<std::uint64_t>(StatOf(trash.Get()).st_dev) == device) {
            home_->Open(trash.Get(), device, owner_.uid);
        }
    }
    return home_.get();
}

TTrashMover::TTrash* TTrashMover::TopDirTrashFor(std::uint64_t device,
                                                 const std::string& folderPath) {
    // The mount of that file system that holds the folder: the longest mount point above it.
    const std::string* top = nullptr;
    for (const auto& [mountDevice, point] : Mounts()) {
        if (mountDevice == device && IsBelow(folderPath, point) &&
            (top == nullptr || point.size() > top->size())) {
            top = &point;
        }
    }
    if (top == nullptr) {
        return nullptr;
    }
    std::unique_ptr<TTrash>& trash = topDirs_[*top];
    if (trash) {
        return trash.get();
    }
    trash = std::make_unique<TTrash>();
    trash->top = *top;
    const TUniqueFd topFd = OpenMountPoint(*top);
    if (!topFd.Valid() || static_cast<std::uint64_t>(StatOf(topFd.Get()).st_dev) != device) {
        return trash.get();
    }
    const std::string uid = std::to_string(owner_.uid);
    // An administrator's .Trash counts only as a real folder with the sticky bit, on this file
    // system; then the user's own folder in it is the trash.
    if (const TUniqueFd shared = OpenSubFolder(topFd.Get(), ".Trash"); shared.Valid()) {
        const struct stat st = StatOf(shared.Get());
        if (S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0 &&
            static_cast<std::uint64_t>(st.st_dev) == device) {
            if (const TUniqueFd mine = OwnSubFolder(shared.Get(), uid.c_str(), device, owner_.uid);
                mine.Valid()) {
                trash->Open(mine.Get(), device, owner_.uid);
            }
        }
    }
    if (!trash->usable) {
        const std::string own = ".Trash-" + uid;
        if (const TUniqueFd mine = OwnSubFolder(topFd.Get(), own.c_str(), device, owner_.uid);
            mine.Valid()) {
            trash->Open(mine.Get(), device, owner_.uid);
        }
    }
    return trash.get();
}

TDeleteOutcome TTrashMover::MoveToTrash(const TListedFile& file) {
    TFoundFile found;
    TDeleteOutcome outcome;
    if (!finder_.Find(file, found, outcome)) {
        return outcome;
    }
    std::string folderPath;
    if (!PathOfFolder(found.folder, folderPath)) {
        return Failed("its folder's path cannot be told to the trash");
    }
    const std::uint64_t device = found.now.info.device;
    bool otherMount = false;
    if (TTrash* home = HomeTrashFor(device); home != nullptr) {
        outcome = MoveInto(*home, found, folderPath, otherMount);
        // The home trash's file system reached through another mount (a bind mount): the trash
        // at that mount's top is the one on the file's side.
        if (!otherMount) {
            return outcome;
        }
    }
    TTrash* top = TopDirTrashFor(device, folderPath);
    if (top == nullptr) {
        return Failed(kNoTrash);
    }
    return MoveInto(*top, found, folderPath, otherMount);
}

TDeleteOutcome TTrashMover::MoveInto(TTrash& trash, const TFoundFile& found,
                                     const std::string& folderPath, bool& otherMount) {
    otherMount = false;
    if (!trash.usable || trash.device != found.now.info.device) {
        return Failed(kNoTrash);
    }
    std::string original = folderPath;
    if (original.back() != '/') {
        original += '/';
    }
    original += found.name;
    std::string_view shown = original;
    if (!trash.top.empty()) {
        shown.remove_prefix(trash.top == "/" ? 1 : trash.top.size() + 1);
    }
    const std::string infoText =
        "[Trash Info]\nPath=" + TrashInfoPath(shown) + "\nDeletionDate=" + DeletionDate() + "\n";

    const auto known = trash.nextAttempt.find(found.name);
    unsigned attempt = known == trash.nextAttempt.end() ? 0 : known->second;
    std::string trashName;
    std::string infoName;
    for (;; ++attempt) {
        if (attempt == kMaxAttempts) {
            return Failed("no free name in the trash");
        }
        trashName = TrashName(found.name, attempt);
        infoName = trashName;
        infoName += kInfoSuffix;
        const TUniqueFd infoFd(::openat(trash.info.Get(), infoName.c_str(),
                                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                        0600));
        if (!infoFd.Valid()) {
            if (errno == EEXIST) {
                continue;
            }
            return Failed("the trash cannot be written: " + SystemMessage(errno));
        }
        if (!WriteAll(infoFd.Get(), infoText)) {
            const int error = errno;
            ::unlinkat(trash.info.Get(), infoName.c_str(), 0);
            return Failed("the trash cannot be written: " + SystemMessage(error));
        }
        if (stepHook) {
            stepHook(TTrashStep::BeforeMove);
        }
        if (::renameat2(found.folder, found.name.c_str(), trash.files.Get(), trashName.c_str(),
                        RENAME_NOREPLACE) == 0) {
            break;
        }
        const int error = errno;
        ::unlinkat(trash.info.Get(), infoName.c_str(), 0);
        switch (error) {
            case EEXIST:
                continue;  // a file without an info file holds that name
            case ENOENT:
                return {TDeleteResult::Vanished, {}};
            case EXDEV:
                otherMount = true;
                return Failed(kNoTrash);
            default:
                return Failed(SystemMessage(error));
        }
    }
    if (attempt > 0) {
        trash.nextAttempt[found.name] = attempt + 1;
    }

    // Another file may have taken the listed name between the check and the move.
    const std::optional<TEntryStat> moved = StatEntry(trash.files.Get(), trashName.c_str());
    if (moved && SameFile(found.now, *moved)) {
        return {TDeleteResult::Trashed, {}};
    }
    if (stepHook) {
        stepHook(TTrashStep::BeforeMoveBack);
    }
    if (::renameat2(trash.files.Get(), trashName.c_str(), found.folder, found.name.c_str(),
                    RENAME_NOREPLACE) == 0) {
        ::unlinkat(trash.info.Get(), infoName.c_str(), 0);
        return Failed(kChangedSinceScan);
    }
    // Its old name was taken once more: in the trash, with its info file, it can be restored.
    return Failed("another file took its place and is in the trash as " + trashName);
}

std::string TrashInfoPath(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(path.size());
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' || c == '~' ||
            c == '/') {
            text += c;
        } else {
            text += '%';
            text += kHex[byte >> 4];
            text += kHex[byte & 0xF];
        }
    }
    return text;
}

}  // namespace purgala
