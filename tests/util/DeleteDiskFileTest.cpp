// Removing a listed file: only that file, only below its configured folder, never through a link,
// never a folder; every case is run with openat2 and with the folder-by-folder fallback.
#include "util/DeleteDiskFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/DirReader.h"
#include "tests/TestSupport.h"
#include "util/FileRemover.h"

namespace purgala {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::StampOfPath;
using test::TempDir;
using test::WriteFile;

// The folder as the scan opens it: a link there is followed.
TFileIdentity FolderIdentityOfPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// A listing that owns its texts.
struct TListing {
    std::string folder;
    std::string fullPath;
    TFileStamp stamp;
    TFileIdentity folderIdentity = FolderIdentityOfPath(folder);
    TListedFile View() const { return {folder, fullPath, folderIdentity, stamp}; }
};

class DeleteDiskFileTest : public ::testing::TestWithParam<bool> {
protected:
    // The file at `path` as the scan of `folder` would have listed it, as of now.
    TListing Listed(const std::string& path) const { return Listed(folder_, path); }
    TListing Listed(const std::string& folder, const std::string& path) const {
        return {folder, path, StampOfPath(path)};
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

TEST_P(DeleteDiskFileTest, FileOrSubFolderGoneIsVanishedButAnotherConfiguredFolderIsReported) {
    WriteFile(folder_ + "/gone.tmp");
    WriteFile(folder_ + "/sub/inner.tmp");
    const TListing gone = Listed(folder_ + "/gone.tmp");
    const TListing inner = Listed(folder_ + "/sub/inner.tmp");
    fs::remove(folder_ + "/gone.tmp");
    fs::remove_all(folder_ + "/sub");
    EXPECT_EQ(Delete(gone).result, TDeleteResult::Vanished);
    EXPECT_EQ(Delete(inner).result, TDeleteResult::Vanished);
    EXPECT_FALSE(Exists(folder_ + "/sub"));  // nothing is made on the way

    // The configured folder removed, replaced by another of the same name, or (typed relative)
    // found elsewhere after the working folder changed: its files may still be on disk, so none
    // counts as gone and none is touched.
    const std::string cwd = fs::current_path();
    fs::current_path(temp_.Path());
    WriteFile(temp_ / "removed/a.tmp");
    WriteFile(temp_ / "replaced/a.tmp");
    WriteFile(temp_ / "rel/a.tmp");
    WriteFile(temp_ / "elsewhere/rel/a.tmp");
    const std::vector<TListing> listed = {Listed(temp_ / "removed", temp_ / "removed/a.tmp"),
                                          Listed(temp_ / "replaced", temp_ / "replaced/a.tmp"),
                                          Listed("rel", "rel/a.tmp")};
    fs::rename(temp_ / "removed", temp_ / "moved");
    fs::rename(temp_ / "replaced", temp_ / "old");
    fs::create_directory(temp_ / "replaced");
    fs::create_hard_link(temp_ / "old/a.tmp", temp_ / "replaced/a.tmp");  // even the same file
    fs::current_path(temp_ / "elsewhere");
    for (const TListing& file : listed) {
        const TDeleteOutcome outcome = TDiskFileDeleter(GetParam()).DeleteDiskFile(file.View());
        EXPECT_EQ(outcome.result, TDeleteResult::Failed) << file.fullPath;
        EXPECT_EQ(outcome.reason, kFolderChangedSinceScan) << file.fullPath;
    }
    fs::current_path(cwd);
    for (const char* path :
         {"moved/a.tmp", "old/a.tmp", "replaced/a.tmp", "rel/a.tmp", "elsewhere/rel/a.tmp"}) {
        EXPECT_TRUE(Exists(temp_ / path)) << path;
    }
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

TEST_P(DeleteDiskFileTest, AnyDifferenceFromTheListingKeepsTheFile) {
    WriteFile(folder_ + "/a.tmp", "listed");
    const TListing file = Listed(folder_ + "/a.tmp");
    const std::vector<std::pair<const char*, void (*)(TFileStamp&)>> changes = {
        {"inode", [](TFileStamp& s) { ++s.identity.inode; }},
        {"device", [](TFileStamp& s) { ++s.identity.device; }},
        {"size", [](TFileStamp& s) { ++s.size; }},
        {"write time", [](TFileStamp& s) { ++s.writeTime; }},
        {"birth or change time", [](TFileStamp& s) { ++s.bornOrChanged; }},
        {"kind of time", [](TFileStamp& s) { s.birthKnown = !s.birthKnown; }},
    };
    for (const auto& [what, change] : changes) {
        TListedFile listed = file.View();
        change(listed.stamp);
        const TDeleteOutcome outcome = deleter_.DeleteDiskFile(listed);
        EXPECT_EQ(outcome.result, TDeleteResult::Failed) << what;
        EXPECT_EQ(outcome.reason, kChangedSinceScan) << what;
    }
    EXPECT_TRUE(Exists(file.fullPath));
    EXPECT_EQ(Delete(file).result, TDeleteResult::Deleted);
}

// What a program rewriting its state files does between the scan and "&Delete": a new file at
// the listed path within the same second, on the inode number just freed, and a file rewritten
// in place with as many bytes. Neither is the file the user reviewed. Where times have whole
// seconds only, a rewrite within the second of the last write cannot be told apart: there the
// rewrite comes a second later, as it does when a user looks at the list first.
void ExpectNewAndRewrittenFilesKept(TDiskFileDeleter& deleter, const std::string& folder,
                                    bool wholeSeconds) {
    const std::string reused = folder + "/state.tmp";
    const std::string rewritten = folder + "/lock.tmp";
    WriteFile(rewritten, "1111");
    bool sameInode = false;
    for (int attempt = 0; attempt < 20 && !sameInode; ++attempt) {
        WriteFile(reused, "same");
        const TListing listed{folder, reused, StampOfPath(reused)};
        ASSERT_EQ(::unlink(reused.c_str()), 0);
        WriteFile(reused, "same");
        const TFileStamp now = StampOfPath(reused);
        sameInode = now.identity == listed.stamp.identity;
        if (sameInode) {
            const TDeleteOutcome outcome = deleter.DeleteDiskFile(listed.View());
            EXPECT_EQ(outcome.result, TDeleteResult::Failed);
            EXPECT_EQ(outcome.reason, kChangedSinceScan);
        }
        ASSERT_EQ(::unlink(reused.c_str()), 0);
    }
    EXPECT_TRUE(sameInode) << "the file system never handed the inode number out again";

    const TListing lock{folder, rewritten, StampOfPath(rewritten)};
    if (wholeSeconds) {
        ::sleep(1);
    }
    WriteFile(rewritten, "2222");
    const TDeleteOutcome outcome = deleter.DeleteDiskFile(lock.View());
    EXPECT_EQ(outcome.result, TDeleteResult::Failed);
    EXPECT_EQ(outcome.reason, kChangedSinceScan);
    EXPECT_EQ(test::ReadFile(rewritten), "2222");
}

TEST_P(DeleteDiskFileTest, NewFileOnAReusedInodeAndRewrittenFileAreKept) {
    fs::create_directories(folder_);
    ExpectNewAndRewrittenFilesKept(deleter_, folder_, false);
}

// A small ext4 file system with 128-byte inodes, mounted through a loop device while the result
// lives: no birth times, and times in whole seconds only.
bool MountSmallInodeFileSystem(const std::string& image, const std::string& mount) {
    const std::string command = "truncate -s 8M '" + image + "' && mkfs.ext4 -q -F -I 128 '" +
                                image + "' 2>/dev/null && mount -o loop '" + image + "' '" + mount +
                                "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

TEST_P(DeleteDiskFileTest, NewFileOnAReusedInodeIsKeptWhereThereAreNoBirthTimes) {
    const std::string image = temp_ / "fs.img";
    const test::ScopedMount small(
        temp_ / "mnt", [&] { return MountSmallInodeFileSystem(image, temp_ / "mnt"); },
        "cannot make and loop-mount an ext4 image here");
    if (!small.WhyNot().empty()) {
        GTEST_SKIP() << small.WhyNot();
    }
    WriteFile(small.Path() + "/probe");
    ASSERT_FALSE(StampOfPath(small.Path() + "/probe").birthKnown);
    ExpectNewAndRewrittenFilesKept(deleter_, small.Path(), true);
}

TEST_P(DeleteDiskFileTest, MountOnTheWayIsNotCrossedEvenToTheListedFile) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "bind mounts need root";
    }
    WriteFile(folder_ + "/sub/file.tmp", "listed");
    const TListing file = Listed(folder_ + "/sub/file.tmp");
    // The folder moves away and comes back as a bind mount: the very file, behind a mount.
    fs::create_directory(outside_);
    fs::rename(folder_ + "/sub", outside_ + "/sub");
    fs::create_directory(folder_ + "/sub");
    ASSERT_EQ(
        ::mount((outside_ + "/sub").c_str(), (folder_ + "/sub").c_str(), nullptr, MS_BIND, nullptr),
        0);
    const TDeleteOutcome outcome = Delete(file);
    ::umount2((folder_ + "/sub").c_str(), MNT_DETACH);
    EXPECT_EQ(outcome.result, TDeleteResult::Failed);
    EXPECT_TRUE(Exists(outside_ + "/sub/file.tmp"));
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
    const TFileStamp victim = StampOfPath(outside_ + "/victim.tmp");
    const TFileStamp sub = StampOfPath(folder_ + "/sub");
    const TFileStamp x = StampOfPath(folder_ + "/sub/x.tmp");
    const std::string nul = folder_ + std::string("/sub/x.tmp\0", 11) + "junk";
    const std::vector<TListing> refused = {
        {folder_, folder_ + "/../outside/victim.tmp", victim},
        {folder_, folder_ + "/sub/../../outside/victim.tmp", victim},
        {folder_, outside_ + "/victim.tmp", victim},
        {folder_, temp_ / "confx/y.tmp", StampOfPath(temp_ / "confx/y.tmp")},
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

// Several workers share one batch: the outcomes stay in the batch's order, and a stop leaves
// every file it did not try where it was, whichever worker stopped where.
TEST(FileRemoverTest, WorkersSharingABatchReportInItsOrderAndAStopLeavesUntriedFilesAlone) {
    const TempDir temp;
    const std::string folder = temp / "conf";
    fs::create_directories(folder);
    const TFileIdentity identity = FolderIdentityOfPath(folder);
    const auto batchOf = [&](int folders, int files) {
        std::vector<TListedFile> batch;
        for (int f = 0; f < folders; ++f) {
            for (int i = 0; i < files; ++i) {
                const std::string path =
                    folder + "/d" + std::to_string(f) + "/" + std::to_string(i) + ".tmp";
                WriteFile(path, "x");
                batch.push_back({folder, path, identity, StampOfPath(path)});
            }
        }
        return batch;
    };

    TFileRemover remover(/*toTrash=*/false, /*workers=*/3);
    std::vector<TListedFile> batch = batchOf(7, 150);
    const std::string replaced = batch[500].fullPath, vanished = batch[901].fullPath;
    fs::remove(replaced);
    WriteFile(replaced, "new");
    fs::remove(vanished);
    remover.Start(std::move(batch));
    std::vector<TDeleteOutcome> outcomes = *remover.Take(TFileRemover::Clock::time_point::max());
    ASSERT_EQ(outcomes.size(), remover.Batch().size());
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const TDeleteResult expected = i == 500   ? TDeleteResult::Failed
                                       : i == 901 ? TDeleteResult::Vanished
                                                  : TDeleteResult::Deleted;
        EXPECT_EQ(outcomes[i].result, expected) << i;
    }
    EXPECT_TRUE(Exists(replaced));

    remover.Start(batchOf(20, 200));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    remover.Stop();
    outcomes = *remover.Take(TFileRemover::Clock::time_point::max());
    ASSERT_LE(outcomes.size(), remover.Batch().size());
    for (std::size_t i = 0; i < remover.Batch().size(); ++i) {
        const TDeleteResult result =
            i < outcomes.size() ? outcomes[i].result : TDeleteResult::Untried;
        ASSERT_TRUE(result == TDeleteResult::Deleted || result == TDeleteResult::Untried) << i;
        EXPECT_EQ(Exists(remover.Batch()[i].fullPath), result == TDeleteResult::Untried) << i;
    }
}

}  // namespace
}  // namespace purgala
