// "&Delete" on the main window, the question answered by the test: what goes from disk and from
// the tree, what stays, and what the user is told.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/uMain.h"
#include "config/Config.h"
#include "platform/Dialogs.h"
#include "scan/ResultRows.h"
#include "tests/TestSupport.h"

namespace purgala {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::TempDir;
using test::WriteFile;

class DeleteTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDirForTesting(program_.Path());
        ResetConfigForTesting();
        SetModalHook([](QDialog&) { return int(QDialog::Rejected); });
        SetMessageHook([this](const TMessageRequest& request) {
            messages_.push_back(request);
            return request.buttons.testFlag(QMessageBox::Yes) ? answer_ : QMessageBox::Ok;
        });
        window_.show();
    }
    void TearDown() override {
        SetMessageHook({});
        SetModalHook({});
        ResetConfigForTesting();
        SetProgramDirForTesting({});
    }

    TVirtualStringTree& Tree() { return *window_.VT; }

    PVirtualNode Scan(const std::string& folder, const std::string& ext = "tmp") {
        ScanFolder(Tree().Rows(), folder, ext);
        PVirtualNode row = Tree().GetFirstChild(nullptr);
        while (Tree().GetNextSibling(row) != nullptr) {
            row = Tree().GetNextSibling(row);
        }
        return row;
    }

    void Delete(QMessageBox::StandardButton answer) {
        answer_ = answer;
        messages_.clear();
        window_.btnOpenFolderClick();
    }

    std::vector<PVirtualNode> Children(PVirtualNode folderRow) {
        std::vector<PVirtualNode> rows;
        for (PVirtualNode r = Tree().GetFirstChild(folderRow); r; r = Tree().GetNextSibling(r)) {
            rows.push_back(r);
        }
        return rows;
    }

    // Every row in pre-order: level, check state and path.
    struct Row {
        unsigned level;
        TCheckState state;
        std::string path;
        bool operator==(const Row&) const = default;
    };
    std::vector<Row> Rows() {
        std::vector<Row> rows;
        for (PVirtualNode n = Tree().GetFirst(); n != nullptr; n = Tree().GetNext(n)) {
            rows.push_back({Tree().GetNodeLevel(n), Tree().CheckState(n),
                            std::string(Tree().GetNodeData(n).FullPath())});
        }
        return rows;
    }

    std::set<std::string> PathsUnder(PVirtualNode folderRow) {
        std::set<std::string> paths;
        for (PVirtualNode r : Children(folderRow)) {
            paths.emplace(Tree().GetNodeData(r).FullPath());
        }
        return paths;
    }

    void CheckAll(bool on) {
        window_.cbCheckAll->setChecked(on);
        window_.cbCheckAllClick();
    }

    // The one message that followed the question, which must have been the only other one.
    QString FailureMessage() {
        EXPECT_EQ(messages_.size(), 2u);
        return messages_.size() == 2 ? messages_[1].text : QString();
    }

    TempDir program_;
    TempDir data_;
    TFMMain window_;
    std::vector<TMessageRequest> messages_;
    QMessageBox::StandardButton answer_ = QMessageBox::Yes;
};

TEST_F(DeleteTest, NoChangesNothingAndTheQuestionComesFirstEveryTime) {
    WriteFile(data_ / "a.tmp");
    WriteFile(data_ / "sub/b.tmp");
    Scan(data_.Path());
    const std::vector<Row> before = Rows();

    Delete(QMessageBox::No);
    ASSERT_EQ(messages_.size(), 1u);
    const TMessageRequest& question = messages_[0];
    EXPECT_EQ(question.text, "Are you sure to delete the files from disk?");
    EXPECT_EQ(question.caption, "Warning");
    EXPECT_EQ(question.icon, QMessageBox::Question);
    EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(question.parent, &window_);
    EXPECT_EQ(Rows(), before);
    EXPECT_TRUE(Exists(data_ / "a.tmp"));
    EXPECT_TRUE(Exists(data_ / "sub/b.tmp"));

    // Nothing checked: still asked, and Yes changes nothing.
    CheckAll(false);
    Delete(QMessageBox::Yes);
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(Tree().TotalCount(), 3u);
    EXPECT_TRUE(Exists(data_ / "a.tmp"));

    Tree().Clear();
    Delete(QMessageBox::Yes);
    EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(DeleteTest, CheckAllDeletesEveryListedFileAndKeepsFolderRowsAndFolders) {
    const std::string first = data_ / "first";
    const std::string second = data_ / "second";
    for (const std::string& f :
         {first + "/a.tmp", first + "/x/y/b.TMP", first + "/keep.txt", first + "/bad\xFF.tmp",
          second + "/c.tmp", second + "/d.tmp", second + "/z/e.tmp"}) {
        WriteFile(f);
    }
    // Read-only and hidden files go like any other.
    WriteFile(first + "/.hidden.tmp");
    WriteFile(first + "/readonly.tmp");
    fs::permissions(first + "/readonly.tmp", fs::perms(0444));
    PVirtualNode firstRow = Scan(first);
    PVirtualNode secondRow = Scan(second);
    Tree().SetExpanded(firstRow, false);  // collapsed rows are walked as well
    CheckAll(true);
    ASSERT_EQ(Tree().CheckState(firstRow), TCheckState::Checked);

    Delete(QMessageBox::Yes);
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(Rows(), (std::vector<Row>{{0, TCheckState::Checked, first},
                                        {0, TCheckState::Checked, second}}));
    EXPECT_EQ(Tree().GetNodeData(firstRow).FileType(), "folder");
    EXPECT_EQ(Tree().GetNodeData(secondRow).FileName(), "second");
    EXPECT_EQ(Tree().ChildCount(firstRow), 0u);
    for (const char* gone :
         {"first/a.tmp", "first/x/y/b.TMP", "first/bad\xFF.tmp", "first/.hidden.tmp",
          "first/readonly.tmp", "second/c.tmp", "second/d.tmp", "second/z/e.tmp"}) {
        EXPECT_FALSE(Exists(data_ / gone)) << gone;
    }
    EXPECT_TRUE(Exists(first + "/keep.txt"));
    for (const char* dir : {"first", "first/x/y", "second", "second/z"}) {
        EXPECT_TRUE(fs::is_directory(data_ / dir)) << dir;
    }
}

TEST_F(DeleteTest, OnlyCheckedRowsGoWhereverTheyStandAndARescanListsWhatIsLeft) {
    const std::string folder = data_ / "f";
    for (int i = 0; i < 7; ++i) {
        WriteFile(folder + "/file" + std::to_string(i) + ".tmp");
    }
    PVirtualNode other = Scan(data_ / "other");  // a folder row before, with nothing below
    PVirtualNode folderRow = Scan(folder);
    Tree().SetExpanded(folderRow, false);
    const std::vector<PVirtualNode> rows = Children(folderRow);
    ASSERT_EQ(rows.size(), 7u);
    // Kept: positions 1, 4 and 5; so the first, the last and two adjacent rows go.
    std::vector<std::string> kept;
    for (const int i : {1, 4, 5}) {
        Tree().SetCheckState(rows[std::size_t(i)], TCheckState::Unchecked);
        kept.emplace_back(Tree().GetNodeData(rows[std::size_t(i)]).FullPath());
    }

    Delete(QMessageBox::Yes);
    EXPECT_EQ(messages_.size(), 1u);
    std::vector<Row> expected = {{0, TCheckState::Unchecked, data_ / "other"},
                                 {0, TCheckState::Unchecked, folder}};
    for (const std::string& path : kept) {
        expected.push_back({1, TCheckState::Unchecked, path});
    }
    EXPECT_EQ(Rows(), expected);
    EXPECT_EQ(Tree().GetNodeData(other).FullPath(), data_ / "other");
    std::set<std::string> onDisk;
    for (const auto& entry : fs::directory_iterator(folder)) {
        onDisk.insert(entry.path().string());
    }
    EXPECT_EQ(onDisk, std::set<std::string>(kept.begin(), kept.end()));

    std::string config(DefaultConfigText);
    const std::string emptyList = "\t<folders>\t</folders>";
    config.replace(
        config.find(emptyList), emptyList.size(),
        "\t<folders><folder name=\"f\" fullpath=\"" + folder + "\" ext=\"tmp\"/>\t</folders>");
    WriteFile(program_ / "PurgalaConfig.xml", config);
    ResetConfigForTesting();
    window_.btnOpenFileClick();
    ASSERT_EQ(Tree().RootNodeCount(), 1u);
    EXPECT_EQ(PathsUnder(Tree().GetFirst()), std::set<std::string>(kept.begin(), kept.end()));
}

TEST_F(DeleteTest, FileGoneSinceTheScanLosesItsRowSilently) {
    WriteFile(data_ / "gone.tmp");
    WriteFile(data_ / "sub/gone.tmp");
    WriteFile(data_ / "here.tmp");
    PVirtualNode folderRow = Scan(data_.Path());
    fs::remove(data_ / "gone.tmp");
    fs::remove_all(data_ / "sub");

    Delete(QMessageBox::Yes);
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(Tree().ChildCount(folderRow), 0u);
    EXPECT_FALSE(Exists(data_ / "here.tmp"));
}

// Takes away root's power to ignore permissions while it lives, where the tests run as root.
class TUnprivileged {
public:
    TUnprivileged() : wasRoot_(::geteuid() == 0) { ok_ = !wasRoot_ || ::seteuid(kNobody) == 0; }
    ~TUnprivileged() {
        if (wasRoot_ && ok_) {
            EXPECT_EQ(::seteuid(0), 0);
        }
    }
    TUnprivileged(const TUnprivileged&) = delete;
    TUnprivileged& operator=(const TUnprivileged&) = delete;
    bool Ok() const { return ok_; }

private:
    static constexpr uid_t kNobody = 65534;
    bool wasRoot_;
    bool ok_ = false;
};

TEST_F(DeleteTest, FileThatCannotBeRemovedKeepsItsCheckedRowAndIsReported) {
    const std::string locked = data_ / "locked";
    WriteFile(locked + "/stuck.tmp", "x");
    WriteFile(data_ / "free.tmp");
    PVirtualNode folderRow = Scan(data_.Path());
    // Listed a second time under a folder of its own: still one file to report.
    PVirtualNode lockedRow = Scan(locked);
    // Only the locked folder is read-only; the walk below runs without root's privileges.
    fs::permissions(data_.Path(), fs::perms(0777));
    fs::permissions(locked, fs::perms(0555));
    {
        TUnprivileged unprivileged;
        if (!unprivileged.Ok()) {
            GTEST_SKIP() << "running as root and cannot drop to an unprivileged user, so a "
                            "read-only folder does not stop the removal";
        }
        Delete(QMessageBox::Yes);
    }

    EXPECT_TRUE(Exists(locked + "/stuck.tmp"));
    EXPECT_FALSE(Exists(data_ / "free.tmp"));
    const std::vector<PVirtualNode> rows = Children(folderRow);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(Tree().GetNodeData(rows[0]).FullPath(), locked + "/stuck.tmp");
    EXPECT_EQ(Tree().CheckState(rows[0]), TCheckState::Checked);
    ASSERT_EQ(Children(lockedRow).size(), 1u);
    EXPECT_EQ(Tree().CheckState(Children(lockedRow)[0]), TCheckState::Checked);

    const QString text = FailureMessage();
    EXPECT_TRUE(text.startsWith("1 file could not be deleted:")) << text.toStdString();
    EXPECT_EQ(text.count(QString::fromStdString(locked + "/stuck.tmp: Permission denied")), 1)
        << text.toStdString();
    EXPECT_EQ(messages_.back().caption, "Warning");
    EXPECT_EQ(messages_.back().icon, QMessageBox::Warning);
    EXPECT_EQ(messages_.back().buttons, QMessageBox::Ok);
}

TEST_F(DeleteTest, EntriesSwappedAfterTheScanAreKeptAndNothingOutsideIsTouched) {
    const std::string folder = data_ / "f";
    const std::string outside = data_ / "outside";
    WriteFile(folder + "/moved/listed.tmp", "listed");
    WriteFile(folder + "/link.tmp", "listed");
    WriteFile(folder + "/replaced.tmp", "listed");
    WriteFile(folder + "/plain.tmp", "listed");
    WriteFile(outside + "/precious.tmp", "outside");
    PVirtualNode folderRow = Scan(folder);
    // The folder itself moves outside and a link takes its place: the file is still the listed
    // one, but reached through a link.
    fs::rename(folder + "/moved", outside + "/moved");
    fs::create_directory_symlink(outside + "/moved", folder + "/moved");
    // Moved aside rather than removed, so that the new entry cannot get the freed inode number.
    fs::rename(folder + "/link.tmp", outside + "/was-link.tmp");
    fs::create_symlink(outside + "/precious.tmp", folder + "/link.tmp");
    WriteFile(folder + "/new", "another");
    fs::rename(folder + "/new", folder + "/replaced.tmp");

    Delete(QMessageBox::Yes);
    EXPECT_EQ(test::ReadFile(outside + "/moved/listed.tmp"), "listed");
    EXPECT_EQ(test::ReadFile(outside + "/precious.tmp"), "outside");
    EXPECT_TRUE(fs::is_symlink(folder + "/link.tmp"));
    EXPECT_EQ(test::ReadFile(folder + "/replaced.tmp"), "another");
    EXPECT_FALSE(Exists(folder + "/plain.tmp"));
    EXPECT_EQ(PathsUnder(folderRow),
              (std::set<std::string>{folder + "/moved/listed.tmp", folder + "/link.tmp",
                                     folder + "/replaced.tmp"}));
    for (PVirtualNode row : Children(folderRow)) {
        EXPECT_EQ(Tree().CheckState(row), TCheckState::Checked);
    }
    const QString text = FailureMessage();
    EXPECT_TRUE(text.startsWith("3 files could not be deleted:")) << text.toStdString();
    for (const char* name : {"/moved/listed.tmp: ", "/link.tmp: ", "/replaced.tmp: "}) {
        EXPECT_TRUE(text.contains(QString::fromStdString(folder + name))) << name;
    }
}

TEST_F(DeleteTest, ConfiguredFolderReplacedSinceTheScanKeepsEveryRowAndSaysWhy) {
    const std::string folder = data_ / "f";
    WriteFile(folder + "/a.tmp", "listed");
    WriteFile(folder + "/sub/b.tmp", "listed");
    PVirtualNode folderRow = Scan(folder);
    // A program recreates its cache folder: the listed files live on under another name.
    fs::rename(folder, data_ / "f.old");
    WriteFile(folder + "/a.tmp", "new");
    WriteFile(folder + "/sub/b.tmp", "new");

    Delete(QMessageBox::Yes);
    for (const std::string path : {"f/a.tmp", "f/sub/b.tmp", "f.old/a.tmp", "f.old/sub/b.tmp"}) {
        EXPECT_TRUE(Exists(data_ / path)) << path;
    }
    ASSERT_EQ(Children(folderRow).size(), 2u);
    for (PVirtualNode row : Children(folderRow)) {
        EXPECT_EQ(Tree().CheckState(row), TCheckState::Checked);
    }
    const QString text = FailureMessage();
    EXPECT_TRUE(text.startsWith("2 files could not be deleted:")) << text.toStdString();
    EXPECT_EQ(text.count(": the folder changed since the scan"), 2) << text.toStdString();
}

// Files at every level of a folder chain far deeper than one open file per level allows and than
// a path may be long.
TEST_F(DeleteTest, EveryFileOfAFourThousandLevelTreeIsListedAndDeletedWithinAThousandOpenFiles) {
    constexpr int kLevels = 4000;
    {
        int fd = ::open(data_.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int level = 0; level < kLevels && fd >= 0; ++level) {
            const int file = ::openat(fd, "f.tmp", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            ASSERT_GE(file, 0);
            ::close(file);
            ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = next;
        }
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit lowered{std::min<rlim_t>(limit.rlim_cur, 1024), limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    PVirtualNode folderRow = Scan(data_.Path());
    const std::size_t listed = Tree().ChildCount(folderRow);
    Delete(QMessageBox::Yes);
    ::setrlimit(RLIMIT_NOFILE, &limit);

    EXPECT_EQ(listed, std::size_t{kLevels});
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(Tree().ChildCount(folderRow), 0u);
    // Every folder stays, no file does; the chain is taken down from the top, a level at a time.
    int folders = 0;
    while (Exists(data_ / "d")) {
        EXPECT_FALSE(Exists(data_ / "d/f.tmp"));
        fs::rename(data_ / "d/d", data_ / "next");
        fs::remove(data_ / "d");
        fs::rename(data_ / "next", data_ / "d");
        ++folders;
        if (!Exists(data_ / "d/d")) {
            fs::remove(data_ / "d");
            ++folders;
        }
    }
    EXPECT_EQ(folders, kLevels);
}

TEST_F(DeleteTest, FailureMessageNamesTheFirstFewAndCountsThemAll) {
    // 'f', not "f": GCC 12 warns falsely (-Wrestrict) on a literal + a temporary string.
    for (int i = 0; i < 8; ++i) {
        WriteFile(data_ / ('f' + std::to_string(i) + ".tmp"));
    }
    Scan(data_.Path());
    for (int i = 0; i < 8; ++i) {
        const std::string path = data_ / ('f' + std::to_string(i) + ".tmp");
        WriteFile(path + ".new", "another");
        fs::rename(path + ".new", path);
    }

    Delete(QMessageBox::Yes);
    EXPECT_EQ(Tree().TotalCount(), 9u);
    const QString text = FailureMessage();
    EXPECT_TRUE(text.startsWith("8 files could not be deleted:")) << text.toStdString();
    EXPECT_EQ(text.count(QString::fromStdString(data_.Path() + "/f")), 5);
    EXPECT_TRUE(text.endsWith("and 3 more.")) << text.toStdString();
    // The details name every one with its reason, the five named first.
    const QStringList details = messages_[1].detailedText.split('\n');
    ASSERT_EQ(details.size(), 8);
    for (int i = 0; i < 8; ++i) {
        const QString path = QString::fromStdString(data_ / ('f' + std::to_string(i) + ".tmp"));
        EXPECT_EQ(
            details.filter(QRegularExpression('^' + QRegularExpression::escape(path) + ": \\w"))
                .size(),
            1)
            << details.join('\n').toStdString();
        EXPECT_EQ(text.contains('\n' + details[i] + '\n'), i < 5) << i;
    }
}

// However many fail, each is in the details with its reason; rows the scan never listed fail
// without touching the disk.
TEST_F(DeleteTest, AHundredThousandFailuresAreAllInTheDetails) {
    constexpr int kCount = 100'000;
    PVirtualNode folder = Tree().AddChild(nullptr);
    Tree().GetNodeData(folder).SetText(TFieldKind::FullPath, data_.Path());
    for (int i = 0; i < kCount; ++i) {
        PVirtualNode row = Tree().AddChild(folder);
        Tree().GetNodeData(row).SetText(TFieldKind::FullPath, data_ / ('f' + std::to_string(i)));
        Tree().SetCheckState(row, TCheckState::Checked);
    }

    Delete(QMessageBox::Yes);
    EXPECT_EQ(Tree().TotalCount(), kCount + 1u);
    const QString text = FailureMessage();
    EXPECT_TRUE(text.startsWith("100000 files could not be deleted:")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("and 99995 more.")) << text.toStdString();
    const QStringList details = messages_[1].detailedText.split('\n');
    ASSERT_EQ(details.size(), kCount);
    // Tried from the bottom row up.
    const QString reason = QStringLiteral(": it was not listed by a scan");
    EXPECT_EQ(details.front(), QString::fromStdString(data_ / "f99999") + reason);
    EXPECT_EQ(details[kCount / 2], QString::fromStdString(data_ / "f49999") + reason);
    EXPECT_EQ(details.back(), QString::fromStdString(data_ / "f0") + reason);
}

// The first status panel follows every change of the rows and their boxes; the question says
// what the answer will delete.
TEST_F(DeleteTest, StatusBarAndQuestionTellWhatIsListedCheckedAndFreed) {
    WriteFile(data_ / "a/1.tmp", std::string(1000, 'x'));
    WriteFile(data_ / "a/2.tmp", std::string(2000, 'x'));
    WriteFile(data_ / "b/3.tmp", std::string(3000, 'x'));
    WriteFile(data_ / "b/keep.tmp", std::string(24, 'x'));
    test::WriteFile(program_ / "PurgalaConfig.xml",
                    test::ConfigWithFolders("<folder name=\"a\" fullpath=\"" + data_ / "a" +
                                            "\" ext=\"tmp\"/><folder name=\"b\" fullpath=\"" +
                                            data_ / "b" + "\" ext=\"tmp\"/>"));
    ResetConfigForTesting();
    const auto status = [this] { return window_.SBPanel0->text(); };
    const auto rowOf = [this](const std::string& path) {
        for (PVirtualNode n = Tree().GetFirst(); n != nullptr; n = Tree().GetNext(n)) {
            if (Tree().GetNodeData(n).FullPath() == path) {
                return n;
            }
        }
        return PVirtualNode{};
    };

    window_.btnOpenFileClick();
    EXPECT_EQ(status(), "4 files (5.88 KB) listed, 4 (5.88 KB) checked");
    Tree().SetFocusedNode(rowOf(data_ / "b/keep.tmp"));
    QTest::keyClick(window_.VT, Qt::Key_Space);
    EXPECT_EQ(status(), "4 files (5.88 KB) listed, 3 (5.86 KB) checked");
    QTest::mouseClick(window_.cbCheckAll, Qt::LeftButton);
    EXPECT_EQ(status(), "4 files (5.88 KB) listed, 0 (0.00 B) checked");
    QTest::mouseClick(window_.cbCheckAll, Qt::LeftButton);
    EXPECT_EQ(status(), "4 files (5.88 KB) listed, 4 (5.88 KB) checked");
    Tree().model()->setData(Tree().IndexOf(rowOf(data_ / "b/keep.tmp")), Qt::Unchecked,
                            Qt::CheckStateRole);
    EXPECT_EQ(status(), "4 files (5.88 KB) listed, 3 (5.86 KB) checked");

    WriteFile(data_ / "b/3.tmp.new");
    fs::rename(data_ / "b/3.tmp.new", data_ / "b/3.tmp");  // no longer the listed file
    Delete(QMessageBox::Yes);
    ASSERT_EQ(messages_.size(), 2u);  // the question and the failure
    EXPECT_EQ(messages_[0].informativeText, "3 files checked in 2 folders, 5.86 KB in all.");
    EXPECT_EQ(status(),
              "2 files deleted, 2.93 KB freed; 2 files (2.95 KB) listed, 1 (2.93 KB) checked");

    CheckAll(false);
    Delete(QMessageBox::No);
    EXPECT_EQ(messages_[0].informativeText, "No file is checked.");
    EXPECT_EQ(status(), "2 files (2.95 KB) listed, 0 (0.00 B) checked");
}

// With the trash chosen the same command moves the files there and says so before and after;
// without a usable trash every file stays, checked, and is named.
TEST_F(DeleteTest, WithTheTrashChosenFilesGoToTheTrashOrStayWhereThereIsNone) {
    const TempDir home;
    const test::ScopedEnv homeEnv("HOME", home.Path());
    const test::ScopedEnv dataEnv("XDG_DATA_HOME", home / "data");
    WriteFile(data_ / "a.tmp", std::string(1000, 'x'));
    WriteFile(data_ / "sub/a.tmp", std::string(2000, 'y'));
    Scan(data_.Path());
    GetConfig().GetRoot()->SetTrash(true);
    const std::vector<Row> before = Rows();

    // A file where the trash's folder for files belongs: no trash, and never a deletion.
    WriteFile(home / "data/Trash/files", "not a folder");
    Delete(QMessageBox::Yes);
    EXPECT_EQ(messages_[0].informativeText,
              "2 files checked in 1 folder, 2.93 KB in all.\nThey will be moved to the trash.");
    EXPECT_TRUE(FailureMessage().startsWith("2 files could not be moved to the trash:"));
    EXPECT_TRUE(messages_[1].text.contains("no trash on its file system"));
    EXPECT_EQ(Rows(), before);
    EXPECT_TRUE(Exists(data_ / "a.tmp"));
    EXPECT_TRUE(Exists(data_ / "sub/a.tmp"));

    fs::remove(home / "data/Trash/files");
    Delete(QMessageBox::Yes);
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(window_.SBPanel0->text(), "2 files moved to the trash (2.93 KB), no space freed yet");
    EXPECT_EQ(test::ReadFile(home / "data/Trash/files/a.tmp").size() +
                  test::ReadFile(home / "data/Trash/files/a.tmp.2").size(),
              3000u);
    EXPECT_FALSE(Exists(data_ / "a.tmp"));
    EXPECT_EQ(Tree().TotalCount(), 1u);
}

}  // namespace
}  // namespace purgala
