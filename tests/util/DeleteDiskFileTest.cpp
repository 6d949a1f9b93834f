// Removing a listed file: only that file, only below its configured folder, never through a link,
// never a folder; every case is run with openat2 and with the folder-by-folder fallback.
#include "util/DeleteDiskFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "tests/TestSupport.h"

namespace purgala {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::TempDir;
using test::WriteFile;

TFileIdentity IdentityOfPath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        throw std::runtime_error("cannot stat " + path);
    }
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// A listing that owns its texts.
struct TListing {
    std::string folder;
    std::string fullPath;
    TFileIdentity identity;
    TListedFile View() const { return {folder, fullPath, identity, {}}; }
};

class DeleteDiskFileTest : public ::testing::TestWithParam<bool> {
protected:
    // The file at `path` as the scan of `folder` would have listed it, as of now.
    TListing Listed(const std::string& path) const { return Listed(folder_, path); }
    TListing Listed(const std::string& folder, const std::string& path) const {
        return {folder, path, IdentityOfPath(path)};
    }
    TDeleteOutcome Delete(const TListing& file) { return deleter_.DeleteDiskFile(file.View()); }

    TempDir temp_;
    const std::string folder_ = temp_ / "conf";
    const std::string outside_ = temp_ / "outside";
    TDiskFileDeleter deleter_{GetParam()};
};

TEST_P(DeleteDiskFileTest, DeletesListedFilesAtAnyDepthAndKeepsEveryFolder) {
    const std::vector<std::string> files = {folder_ + "/top.tmp", folder_ + "/a/one.tmp",
                                            folder_ + "/a/b/deep.tmp", folder_ + "/a/two.tmp",
                                            folder_ + "/c/x.tmp"};
    for (const std::string& f : files) {
        WriteFile(f, "x");
    }
    const std::string link = folder_ + "/link.tmp";
    fs::create_symlink(outside_ + "/target", link);
    WriteFile(outside_ + "/target", "keep");
    std::vector<TListing> listed;
    for (const std::string& f : files) {
        listed.push_back(Listed(f));
    }
    listed.push_back(Listed(link));
    // Folders alternate, so the open folder kept between calls must be the right one each time.
    for (const TListing& file : listed) {
        const TDeleteOutcome outcome = Delete(file);
        EXPECT_EQ(outcome.result, TDeleteResult::Deleted) << file.fullPath << outcome.reason;
        EXPECT_FALSE(Exists(std::string(file.fullPath)));
    }
    // A listed link goes as an entry of its own; what it pointed to stays.
    EXPECT_TRUE(Exists(outside_ + "/target"));
    for (const char* dir : {"", "/a", "/a/b", "/c"}) {
        EXPECT_TRUE(fs::is_directory(folder_ + dir)) << dir;
    }
}

TEST_P(DeleteDiskFileTest, ConfiguredFolderIsTakenAsTypedWithOrWithoutSlashOrThroughALink) {
    WriteFile(folder_ + "/sub/a.tmp");
    WriteFile(folder_ + "/sub/b.tmp");
    WriteFile(folder_ + "/sub/c.tmp");
    EXPECT_EQ(Delete(Listed(folder_ + "/", folder_ + "/sub/a.tmp")).result, TDeleteResult::Deleted);
    // A link as the configured folder itself is the user's own choice.
    const std::string typed = temp_ / "typed";
    fs::create_symlink(folder_, typed);
    EXPECT_EQ(Delete(Listed(typed, typed + "/sub/b.tmp")).result, TDeleteResult::Deleted);
    EXPECT_FALSE(Exists(folder_ + "/sub/b.tmp"));
    EXPECT_EQ(Delete(Listed(folder_ + "/sub/c.tmp")).result, TDeleteResult::Deleted);
}

TEST_P(DeleteDiskFileTest, FileOrFolderGoneSinceTheScanIsVanished) {
    WriteFile(folder_ + "/gone.tmp");
    WriteFile(folder_ + "/sub/inner.tmp");
    WriteFile(folder_ + "/kept.tmp");
    const TListing gone = Listed(folder_ + "/gone.tmp");
    const TListing inner = Listed(folder_ + "/sub/inner.tmp");
    fs::remove(folder_ + "/gone.tmp");
    fs::remove_all(folder_ + "/sub");
    EXPECT_EQ(Delete(gone).result, TDeleteResult::Vanished);
    EXPECT_EQ(Delete(inner).result, TDeleteResult::Vanished);
    EXPECT_FALSE(Exists(folder_ + "/sub"));  // nothing is made on the way

    const TListing kept = Listed(folder_ + "/kept.tmp");
    fs::remove_all(folder_);
    EXPECT_EQ(TDiskFileDeleter(GetParam()).DeleteDiskFile(kept.View()).result,
              TDeleteResult::Vanished);
}

TEST_P(DeleteDiskFileTest, AnotherEntryAtTheListedPathIsKept) {
    for (const char* name : {"replaced.tmp", "dir.tmp", "link.tmp"}) {
        WriteFile(folder_ + "/" + name, "listed");
    }
    const TListing replaced = Listed(folder_ + "/replaced.tmp");
    const TListing dir = Listed(folder_ + "/dir.tmp");
    const TListing link = Listed(folder_ + "/link.tmp");
    // Written beside and renamed over: a new file under the old name.
    WriteFile(folder_ + "/new", "another");
    fs::rename(folder_ + "/new", folder_ + "/replaced.tmp");
    // Moved aside rather than removed, so that no new entry can get a freed inode number.
    fs::create_directory(outside_);
    fs::rename(folder_ + "/dir.tmp", outside_ + "/was-dir.tmp");
    fs::create_directory(folder_ + "/dir.tmp");
    fs::rename(folder_ + "/link.tmp", outside_ + "/was-link.tmp");
    WriteFile(outside_ + "/precious", "outside");
    fs::create_symlink(outside_ + "/precious", folder_ + "/link.tmp");

    for (const TListing* file : {&replaced, &dir, &link}) {
        const TDeleteOutcome outcome = Delete(*file);
        EXPECT_EQ(outcome.result, TDeleteResult::Failed) << file->fullPath;
        EXPECT_FALSE(outcome.reason.empty());
    }
    EXPECT_EQ(test::ReadFile(folder_ + "/replaced.tmp"), "another");
    EXPECT_TRUE(fs::is_directory(folder_ + "/dir.tmp"));
    EXPECT_TRUE(fs::is_symlink(folder_ + "/link.tmp"));
    EXPECT_EQ(test::ReadFile(outside_ + "/precious"), "outside");
}

TEST_P(DeleteDiskFileTest, FileBornAtAnotherTimeOnTheSameInodeIsKept) {
    // What a reused inode number looks like: the same device and inode, another birth time.
    WriteFile(folder_ + "/a.tmp");
    const TListing file = Listed(folder_ + "/a.tmp");
    struct statx stx {};
    ASSERT_EQ(::statx(AT_FDCWD, file.fullPath.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &stx), 0);
    if ((stx.stx_mask & STATX_BTIME) == 0) {
        GTEST_SKIP() << "this file system records no birth times";
    }
    TListedFile listed = file.View();
    listed.birthTime = TFileTime{stx.stx_btime.tv_sec - 60};
    const TDeleteOutcome outcome = deleter_.DeleteDiskFile(listed);
    EXPECT_EQ(outcome.result, TDeleteResult::Failed);
    EXPECT_EQ(outcome.reason, "another file now stands at its path");
    EXPECT_TRUE(Exists(file.fullPath));

    listed.birthTime = TFileTime{stx.stx_btime.tv_sec};
    EXPECT_EQ(deleter_.DeleteDiskFile(listed).result, TDeleteResult::Deleted);
}

TEST_P(DeleteDiskFileTest, FolderSwappedForALinkIsNotFollowedEvenToTheListedFile) {
    WriteFile(folder_ + "/a/b/file.tmp", "listed");
    WriteFile(folder_ + "/c/file.tmp", "listed");
    const TListing deep = Listed(folder_ + "/a/b/file.tmp");
    const TListing shallow = Listed(folder_ + "/c/file.tmp");
    WriteFile(folder_ + "/d/file.tmp", "listed");
    const TListing inside = Listed(folder_ + "/d/file.tmp");
    // The very folders move outside and links take their place: the files keep their identity,
    // so only not following the links keeps them.
    fs::create_directory(outside_);
    fs::rename(folder_ + "/a/b", outside_ + "/b");
    fs::create_directory_symlink(outside_ + "/b", folder_ + "/a/b");
    fs::rename(folder_ + "/c", outside_ + "/c");
    fs::create_directory_symlink(outside_ + "/c", folder_ + "/c");
    // A relative link that stays inside the configured folder is not followed either.
    fs::create_directory(folder_ + "/e");
    fs::rename(folder_ + "/d", folder_ + "/e/d");
    fs::create_directory_symlink("e/d", folder_ + "/d");

    for (const TListing* file : {&deep, &shallow, &inside}) {
        const TDeleteOutcome outcome = Delete(*file);
        EXPECT_EQ(outcome.result, TDeleteResult::Failed) << file->fullPath;
        EXPECT_FALSE(outcome.reason.empty());
    }
    EXPECT_TRUE(Exists(outside_ + "/b/file.tmp"));
    EXPECT_TRUE(Exists(outside_ + "/c/file.tmp"));
    EXPECT_TRUE(Exists(folder_ + "/e/d/file.tmp"));
}

TEST_P(DeleteDiskFileTest, PathsTheScanCannotHaveMadeAreRefused) {
    WriteFile(outside_ + "/victim.tmp");
    WriteFile(folder_ + "/sub/x.tmp");
    WriteFile(temp_ / "confx/y.tmp");
    const TFileIdentity victim = IdentityOfPath(outside_ + "/victim.tmp");
    const TFileIdentity sub = IdentityOfPath(folder_ + "/sub");
    const TFileIdentity x = IdentityOfPath(folder_ + "/sub/x.tmp");
    const std::string nul = folder_ + std::string("/sub/x.tmp\0", 11) + "junk";
    const std::vector<TListing> refused = {
        {folder_, folder_ + "/../outside/victim.tmp", victim},
        {folder_, folder_ + "/sub/../../outside/victim.tmp", victim},
        {folder_, outside_ + "/victim.tmp", victim},
        {folder_, temp_ / "confx/y.tmp", IdentityOfPath(temp_ / "confx/y.tmp")},
        {folder_, folder_ + "//sub/x.tmp", x},
        {folder_, folder_ + "/./sub/x.tmp", x},
        {folder_, nul, x},
        {folder_, folder_ + "/sub", sub},   // a folder, even with its true identity
        {folder_, folder_ + "/sub/", sub},  // no name at all
        {"", "/sub/x.tmp", x},
    };
    for (const TListing& file : refused) {
        EXPECT_EQ(Delete(file).result, TDeleteResult::Failed) << file.fullPath;
    }
    EXPECT_TRUE(Exists(outside_ + "/victim.tmp"));
    EXPECT_TRUE(Exists(folder_ + "/sub/x.tmp"));
    EXPECT_TRUE(Exists(temp_ / "confx/y.tmp"));
}

INSTANTIATE_TEST_SUITE_P(Resolve, DeleteDiskFileTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Openat2" : "FolderByFolder";
                         });

}  // namespace
}  // namespace purgala
