#pragma once
// Fixture helpers: a temporary folder tree that tests build and that is removed afterwards.

#include <filesystem>
#include <string>
#include <string_view>

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

}  // namespace purgala::test
