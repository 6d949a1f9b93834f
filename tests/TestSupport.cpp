#include "tests/TestSupport.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "config/Config.h"
#include "platform/DirReader.h"

namespace purgala::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "purgala-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests make folders read-only; give the owner write access back so that removal works.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TempDir::operator/(std::string_view relative) const {
    return path_ + "/" + std::string(relative);
}

void WriteFile(const std::string& path, std::string_view contents) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        old_ = old;
    }
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (old_) {
        ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

FileSizeLimit::FileSizeLimit(unsigned long bytes) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) {
        throw std::runtime_error("cannot read the file size limit");
    }
    oldSoftLimit_ = limit.rlim_cur;
    // Past the limit the kernel sends SIGXFSZ, which would end the test program.
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = bytes;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        std::signal(SIGXFSZ, oldHandler_);
        throw std::runtime_error("cannot set the file size limit");
    }
}

FileSizeLimit::~FileSizeLimit() {
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = oldSoftLimit_;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler_);
}

std::string ConfigWithFolders(std::string_view folderElements) {
    std::string text(DefaultConfigText);
    const std::string_view empty = "\t<folders>\t</folders>";
    text.replace(text.find(empty), empty.size(),
                 "\t<folders>" + std::string(folderElements) + "\t</folders>");
    return text;
}

ScopedMount::ScopedMount(std::string path, const std::function<bool()>& mount, std::string failure)
    : path_(std::move(path)) {
    if (::geteuid() != 0) {
        reason_ = "mounting needs root";
        return;
    }
    std::filesystem::create_directories(path_);
    if (!mount()) {
        reason_ = std::move(failure);
        return;
    }
    mounted_ = true;
}

ScopedMount::~ScopedMount() {
    if (mounted_) {
        ::umount2(path_.c_str(), MNT_DETACH);
    }
}

TFileStamp StampOfPath(const std::string& path) {
    const std::optional<TEntryStat> stat = StatEntry(AT_FDCWD, path.c_str());
    if (!stat) {
        throw std::runtime_error("cannot stat " + path);
    }
    return StampOf(stat->info);
}

}  // namespace purgala::test

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
