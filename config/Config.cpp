#include "config/Config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "config/ConfigLocation.h"
#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "platform/UniqueFd.h"
#include "util/FileUtils.h"

namespace purgala {

namespace {

// In TFieldKind order.
constexpr std::array<std::string_view, kFieldKindCount> kFieldKindNames = {
    "File Name",          "Full Path",         "File Size",           "File Ext",
    "File Type",          "Description",       "File Name Length",    "Path Name Length",
    "Size Percentage",    "Catalog Name",      "Create Time",         "Access Time",
    "Write Time",         "DOS Name",          "File Count",          "CreateAgeRange",
    "AccessAgeRange",     "WriteAgeRange",     "SizeRange",           "CreateTime Perview",
    "AccessTime Perview", "WriteTime Perview", "Copy From File Name", "Copy From Full Path",
};

constexpr std::string_view kConfigFileName = "PurgalaConfig.xml";

std::string& ProgramDirForTesting() {
    static std::string dir;
    return dir;
}

std::unique_ptr<TConfig>& Holder() {
    static std::unique_ptr<TConfig> holder;
    return holder;
}

bool IsRegularFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

[[noreturn]] void Fail(const std::string& path, const char* what, int error) {
    throw InOutError(path + ": " + what + ": " + std::strerror(error));
}

void WriteAll(int fd, const std::string& path, std::initializer_list<std::string_view> parts) {
    for (std::string_view part : parts) {
        while (!part.empty()) {
            const ssize_t written = ::write(fd, part.data(), part.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                Fail(path, "cannot write", written < 0 ? errno : ENOSPC);
            }
            part.remove_prefix(static_cast<std::size_t>(written));
        }
    }
    if (::fsync(fd) != 0) {
        Fail(path, "cannot flush", errno);
    }
}

// Closes `fd` and reports a failed close, which can be the first news of a failed write.
void Close(TUniqueFd fd, const std::string& path) {
    if (::close(fd.Release()) != 0) {
        Fail(path, "cannot close", errno);
    }
}

// Replaces the file at `path` with `parts`. The new content goes to a temporary file beside it
// that is renamed over the old one only when fully written and flushed, so a failure leaves the
// old file as it was. Where the folder forbids a new file but the file itself is writable (an
// installed program whose configuration belongs to the user), the file is written in place.
// Paths are bytes throughout: a folder name need not be valid UTF-8.
void ReplaceFile(const std::string& path, std::initializer_list<std::string_view> parts) {
    MakeParentFolders(path);
    std::string target = path;
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists) {
        // A link keeps pointing at the file it names; that file gets the new content.
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
        if (::access(target.c_str(), W_OK) != 0) {
            Fail(path, "not writable", errno);
        }
    }

    TUniqueFd fd;
    std::string temp;
    for (int attempt = 0; attempt < 100 && !fd.Valid(); ++attempt) {
        temp = target + ".tmp" + std::to_string(QRandomGenerator::global()->generate());
        fd = TUniqueFd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd.Valid() && errno != EEXIST) {
            break;
        }
    }
    if (!fd.Valid()) {
        const int error = errno;
        if ((error != EACCES && error != EPERM) || !exists || !S_ISREG(old.st_mode)) {
            Fail(path, "cannot create a file beside it", error);
        }
        TUniqueFd inPlace(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
        if (!inPlace.Valid()) {
            Fail(path, "cannot open", errno);
        }
        WriteAll(inPlace.Get(), path, parts);
        Close(std::move(inPlace), path);
        return;
    }

    try {
        if (exists) {
            // The new file keeps the old one's permissions (fchmod may not give away set-id
            // bits; that is no reason to fail).
            (void)::fchmod(fd.Get(), old.st_mode & 07777);
        }
        WriteAll(fd.Get(), path, parts);
        Close(std::move(fd), path);
        if (::rename(temp.c_str(), target.c_str()) != 0) {
            Fail(path, "cannot replace", errno);
        }
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
}

// The folder of the running program file, by the bytes the file system names it with.
// QCoreApplication::applicationDirPath() would lose a name that is not valid UTF-8.
std::string ProgramFolder() {
    if (!ProgramDirForTesting().empty()) {
        return ProgramDirForTesting();
    }
    std::string exe(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", exe.data(), exe.size());
        if (length < 0) {
            // No /proc: Qt's guess is the best there is.
            return EncodeFileName(QCoreApplication::applicationDirPath());
        }
        if (static_cast<std::size_t>(length) < exe.size()) {
            exe.resize(static_cast<std::size_t>(length));
            break;
        }
        exe.resize(exe.size() * 2);
    }
    const std::size_t slash = exe.rfind('/');
    // A program in "/" keeps the root's own separator.
    return slash == 0 || slash == std::string::npos ? "/" : exe.substr(0, slash);
}

}  // namespace

TConfig::TConfig(Key) {
    const std::string path = GetConfigFileName();
    // A directory or anything else that is not a regular file counts as missing; writing then
    // fails and reports it.
    if (!IsRegularFile(path)) {
        WriteDefaultConfig();
    }
    root_ = LoadConfigDocument(path);
}

void TConfig::Save() const {
    const QByteArray markup = root_->GetXML().toUtf8();
    ReplaceFile(GetConfigFileName(),
                {ConfigHeader,
                 std::string_view(markup.constData(), static_cast<std::size_t>(markup.size()))});
}

std::string TConfig::GetConfigFileName() {
    // The separator is added even after "/", which the file system reads as one.
    return ChooseConfigFile(ProgramFolder(), InstalledProgramDirs(), kConfigFileName);
}

void TConfig::WriteDefaultConfig() {
    ReplaceFile(GetConfigFileName(), {DefaultConfigText});
}

TConfig& GetConfig() {
    std::unique_ptr<TConfig>& holder = Holder();
    if (!holder) {
        holder = std::make_unique<TConfig>(TConfig::Key{});
    }
    return *holder;
}

std::string_view FieldKindName(TFieldKind kind) {
    return kFieldKindNames.at(Ord(kind));
}

TFieldKind FieldKindOfName(std::string_view name) {
    TFieldKind found = TFieldKind::FileName;
    for (std::size_t i = 0; i < kFieldKindNames.size(); ++i) {
        if (kFieldKindNames[i] == name) {
            found = static_cast<TFieldKind>(i);
        }
    }
    return found;
}

void SetProgramDirForTesting(std::string dir) {
    ProgramDirForTesting() = std::move(dir);
}

void ResetConfigForTesting() {
    Holder().reset();
}

}  // namespace purgala
