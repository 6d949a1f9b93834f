#include "util/ShellActions.h"

#include <gtest/gtest.h>

#include <QUrl>
#include <vector>

#include "platform/Shell.h"
#include "platform/VirtualTree.h"

namespace purgala {
namespace {

// Records what would be handed to the desktop instead of starting anything.
class ShellActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = SetShellHook([this](const QUrl& url) { opened_.push_back(url); });
    }
    void TearDown() override { SetShellHook(old_); }

    PVirtualNode AddRow(PVirtualNode parent, std::string_view path, std::string_view type) {
        PVirtualNode node = tree_.AddChild(parent);
        tree_.GetNodeData(node).SetText(TFieldKind::FullPath, path);
        tree_.GetNodeData(node).SetText(TFieldKind::FileType, type);
        return node;
    }

    // The path the file manager would get, as bytes.
    QByteArray OpenedPath() const {
        EXPECT_EQ(opened_.size(), 1u);
        return opened_.empty() ? QByteArray()
                               : QByteArray::fromPercentEncoding(
                                     opened_.back().path(QUrl::FullyEncoded).toLatin1());
    }

    TVirtualStringTree tree_;
    std::vector<QUrl> opened_;
    ShellHook old_;
};

TEST(FolderPartOf, CutsAtTheLastSlashButKeepsTheRoot) {
    EXPECT_EQ(FolderPartOf("/dir/a.tmp"), "/dir");
    EXPECT_EQ(FolderPartOf("/dir/sub/a.tmp"), "/dir/sub");
    EXPECT_EQ(FolderPartOf("/a.tmp"), "/");
    EXPECT_EQ(FolderPartOf("//a.tmp"), "//");
    EXPECT_EQ(FolderPartOf("a.tmp"), "");
    EXPECT_EQ(FolderPartOf(""), "");
}

TEST_F(ShellActionsTest, NoFocusedRowOpensNothing) {
    AddRow(nullptr, "/data", "folder");
    OpenRowFolder(tree_);
    EXPECT_TRUE(opened_.empty());
}

TEST_F(ShellActionsTest, FileRowOpensTheFolderThatHoldsIt) {
    PVirtualNode folder = AddRow(nullptr, "/data", "folder");
    tree_.SetFocusedNode(AddRow(folder, "/data/sub/a.tmp", "file"));
    OpenRowFolder(tree_);
    EXPECT_EQ(OpenedPath(), "/data/sub");
    EXPECT_TRUE(opened_.back().isLocalFile());
}

TEST_F(ShellActionsTest, FileInTheRootFolderOpensTheRoot) {
    PVirtualNode folder = AddRow(nullptr, "/", "folder");
    tree_.SetFocusedNode(AddRow(folder, "/a.tmp", "file"));
    OpenRowFolder(tree_);
    EXPECT_EQ(OpenedPath(), "/");
}

TEST_F(ShellActionsTest, FolderAndSettingsRowsOpenTheirOwnPath) {
    tree_.SetFocusedNode(AddRow(nullptr, "/data/cache", "folder"));
    OpenRowFolder(tree_);
    tree_.SetFocusedNode(AddRow(nullptr, "/data/logs", ""));
    OpenRowFolder(tree_);
    ASSERT_EQ(opened_.size(), 2u);
    EXPECT_EQ(opened_[0].toLocalFile(), "/data/cache");
    EXPECT_EQ(opened_[1].toLocalFile(), "/data/logs");
}

TEST_F(ShellActionsTest, FileTypeInOtherLetterCaseIsNoFileRow) {
    tree_.SetFocusedNode(AddRow(nullptr, "/data/a.tmp", "File"));
    OpenRowFolder(tree_);
    EXPECT_EQ(OpenedPath(), "/data/a.tmp");
}

TEST_F(ShellActionsTest, EmptyPathOrFileWithoutFolderOpensNothing) {
    tree_.SetFocusedNode(AddRow(nullptr, "", "folder"));
    OpenRowFolder(tree_);
    tree_.SetFocusedNode(AddRow(nullptr, "a.tmp", "file"));
    OpenRowFolder(tree_);
    EXPECT_TRUE(opened_.empty());
}

TEST_F(ShellActionsTest, PathThatIsNotUtf8ReachesTheDesktopByteForByte) {
    const std::string path = "/data/caf\xe9 x%41";
    tree_.SetFocusedNode(AddRow(nullptr, path, "folder"));
    OpenRowFolder(tree_);
    EXPECT_EQ(OpenedPath(), QByteArray::fromStdString(path));
}

TEST_F(ShellActionsTest, HomePageAndMailGoToTheirHandlers) {
    EXPECT_TRUE(OpenHomePage());
    EXPECT_TRUE(MailToMaker());
    ASSERT_EQ(opened_.size(), 2u);
    EXPECT_EQ(opened_[0].scheme(), "https");
    EXPECT_EQ(opened_[1].scheme(), "mailto");
    EXPECT_EQ(opened_[1].path().toStdString(), kMakerMail);
}

}  // namespace
}  // namespace purgala
