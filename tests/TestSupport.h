#pragma once
// Fixture helpers: a temporary folder tree that tests build and that is removed afterwards.

#include <QString>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/FileFacts.h"

namespace purgala::test {

// A fresh folder under the system's temporary folder, removed with everything below it (links
// are removed, never followed) when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path() + "/" + relative.
    std::string operator/(std::string_view relative) const;

private:
    std::string path_;
};

// Writes `contents` to `path`, creating missing parent folders. Throws on failure.
void WriteFile(const std::string& path, std::string_view contents = {});
// The whole file as bytes; throws when it cannot be read.
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);  // lstat: a dangling link exists too
// What a scan would record of the entry at `path` (not followed); throws when it is missing.
TFileStamp StampOfPath(const std::string& path);

// Makes every write beyond `bytes` fail, as a full disk would, while the object lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long oldSoftLimit_ = 0;
    void (*oldHandler_)(int) = nullptr;
};

// Sets an environment variable while the object lives, then gives the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// The default configuration document with `folderElements` as its folder list.
std::string ConfigWithFolders(std::string_view folderElements);

// A file system mounted at `path` by `mount` (false when it cannot) while the object lives, and
// unmounted after. Mounting needs root: WhyNot() says why there is none, empty when mounted.
class ScopedMount {
public:
    ScopedMount(std::string path, const std::function<bool()>& mount, std::string failure);
    ~ScopedMount();
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& WhyNot() const { return reason_; }

private:
    std::string path_;
    std::string reason_;
    bool mounted_ = false;
};

}  // namespace purgala::test

// Failures show Qt texts as text rather than as UTF-16 code units.
void PrintTo(const QString& text, std::ostream* out);
