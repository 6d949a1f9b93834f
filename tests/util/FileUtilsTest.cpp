// Extensions of paths and display names of folders.
#include "util/FileUtils.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

namespace purgala {
namespace {

TEST(FileExtOf, TakesWhatFollowsTheLastDotOfTheLastComponent) {
    EXPECT_EQ(FileExtOf("/var/tmp/a.tmp"), "tmp");
    EXPECT_EQ(FileExtOf("/var/tmp/a.tmp.bak"), "bak");
    EXPECT_EQ(FileExtOf("/var/tmp/B.TMP"), "TMP");
    EXPECT_EQ(FileExtOf("/var/tmp/.hidden"), "hidden");
    EXPECT_EQ(FileExtOf("/var/tmp/name."), "");
    EXPECT_EQ(FileExtOf("/var/x.tmp/plain"), "");
    EXPECT_EQ(FileExtOf("/var/x.tmp/"), "");
    EXPECT_EQ(FileExtOf("tmp"), "");
    EXPECT_EQ(FileExtOf(""), "");
    // ":" is an ordinary character here.
    EXPECT_EQ(FileExtOf("/d/a.b:c"), "b:c");
    EXPECT_EQ(FileExtOf("c:name"), "");
}

TEST(FolderDisplayName, LastComponentCutAtItsFirstDot) {
    EXPECT_EQ(FolderDisplayName("/var/tmp"), "tmp");
    EXPECT_EQ(FolderDisplayName("/data/my.files"), "my");
    EXPECT_EQ(FolderDisplayName("/data/a.b.c"), "a");
    EXPECT_EQ(FolderDisplayName("relative/sub"), "sub");
    EXPECT_EQ(FolderDisplayName("alone"), "alone");
    EXPECT_EQ(FolderDisplayName("/data/with blank"), "with blank");
    EXPECT_EQ(FolderDisplayName("/data/\xFF\xFE.x"), "\xFF\xFE");
}

TEST(FolderDisplayName, LeadingDotsBelongToTheName) {
    EXPECT_EQ(FolderDisplayName("/home/u/.cache"), ".cache");
    EXPECT_EQ(FolderDisplayName("/home/u/.my.files"), ".my");
    EXPECT_EQ(FolderDisplayName("/home/u/.."), "..");
}

TEST(FolderDisplayName, TrailingSlashOnAnOrdinaryFolderGivesNoName) {
    test::TempDir temp;
    EXPECT_EQ(FolderDisplayName(temp.Path() + "/"), "");
    EXPECT_EQ(FolderDisplayName("/no/such/folder/"), "");
    EXPECT_EQ(FolderDisplayName(""), "");
}

TEST(FolderDisplayName, RootOfAFileSystemShowsItsLabelOrItsPath) {
    const std::string label = VolumeLabel("/");
    EXPECT_EQ(FolderDisplayName("/"), label.empty() ? "/" : label);
    EXPECT_EQ(FolderDisplayName("//"), label.empty() ? "//" : label);
    EXPECT_EQ(VolumeLabel("/no/such/folder"), "");
}

}  // namespace
}  // namespace purgala
