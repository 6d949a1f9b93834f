// The add-folder dialog: browsing from the working folder, the extension rule, and its results.
#include "config/uAddFolder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStorageInfo>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "tests/TestSupport.h"

namespace purgala {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

QString Q(const std::string& path) {
    return QString::fromStdString(path);
}

// Runs in a folder of its own and puts the process's working folder back afterwards, since the
// dialog moves it.
class AddFolderDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldDir_ = QDir::currentPath();
        fs::create_directories(temp_ / "work/beta");
        fs::create_directories(temp_ / "work/Alpha");
        fs::create_directories(temp_ / "work/.cache");
        WriteFile(temp_ / "work/file.txt");
        ASSERT_TRUE(QDir::setCurrent(Q(temp_ / "work")));
        work_ = QDir::currentPath();
        SetMessageHook([this](const TMessageRequest& request) {
            messages_.push_back(request);
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        SetMessageHook({});
        QDir::setCurrent(oldDir_);
    }

    static QStringList Entries(const TDirectoryListBox& list) {
        QStringList texts;
        for (int i = 0; i < list.count(); ++i) {
            texts << list.item(i)->text();
        }
        return texts;
    }
    static int RowOf(const TDirectoryListBox& list, const QString& text) {
        const auto found = list.findItems(text, Qt::MatchExactly);
        return found.isEmpty() ? -1 : list.row(found.front());
    }

    TempDir temp_;
    QString oldDir_;
    QString work_;
    std::vector<TMessageRequest> messages_;
};

TEST_F(AddFolderDialogTest, OkAtOnceGivesTheWorkingFolderAndAnEmptyExtension) {
    TfmFolder dialog;
    EXPECT_EQ(dialog.windowTitle(), "Add Check Folder");
    // The age and keep rows, and below them the places, as tall as the font makes five rows.
    EXPECT_EQ(dialog.width(), 420);
    EXPECT_GE(dialog.height(), 422);
    EXPECT_LE(dialog.lvPlaces->geometry().bottom(), dialog.height());
    EXPECT_EQ(dialog.GroupBox1->title(), "Options");
    EXPECT_EQ(dialog.rb1->text(), "Check all files");
    EXPECT_EQ(dialog.rb3->text(), "Check files special with extensions: ");
    EXPECT_EQ(dialog.Label2->text(), "File Ext  =  ");
    EXPECT_EQ(dialog.BitBtn2->text(), "Cancel");
    EXPECT_EQ(dialog.BitBtn3->text(), "OK");
    EXPECT_TRUE(dialog.rb1->isChecked());
    EXPECT_TRUE(dialog.EdExt2->text().isEmpty());
    EXPECT_EQ(dialog.lblfolder->toolTip(), work_);
    EXPECT_EQ(dialog.lblKeep->text(), "Keep:");
    EXPECT_TRUE(dialog.edKeep->text().isEmpty());
    EXPECT_TRUE(dialog.edKeep->toolTip().contains("mozilla/;*.lock;**/shader-cache/"));
    EXPECT_LE(dialog.edKeep->geometry().bottom(), dialog.height());

    dialog.show();
    QTest::mouseClick(dialog.BitBtn3, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.Directory(), work_);
    EXPECT_EQ(dialog.Ext(), "");
    EXPECT_EQ(dialog.Keep(), "");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(AddFolderDialogTest, AnEmptyExtensionIsRefusedOnlyForTheExtensionChoice) {
    struct Case {
        bool special;
        const char* typed;
        const char* stored;  // nullptr: refused
    };
    // Whatever is left once the extensions are bare counts: nothing left is no extension.
    const Case cases[] = {
        {false, "", ""},
        {false, "tmp", "tmp"},
        {true, "", nullptr},
        {true, " ", nullptr},
        {true, "*.;", nullptr},
        {true, ".tmp", "tmp"},
        {true, "tmp; log", "tmp;log"},
        {true, "*.tmp;*.log", "tmp;log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.special ? "special" : "all") + " '" + c.typed + "'");
        messages_.clear();
        TfmFolder dialog;
        dialog.show();
        if (c.special) {
            // On the caption's second line: the wrapped text takes the click too.
            QTest::mouseClick(dialog.rb3, Qt::LeftButton, {}, QPoint(60, 34));
            ASSERT_TRUE(dialog.rb3->isChecked());
        }
        QTest::keyClicks(dialog.EdExt2, c.typed);
        QTest::mouseClick(dialog.BitBtn3, Qt::LeftButton);
        if (c.stored != nullptr) {
            EXPECT_TRUE(messages_.empty());
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_FALSE(dialog.isVisible());
            EXPECT_EQ(dialog.Ext(), c.stored);
        } else {
            ASSERT_EQ(messages_.size(), 1u);
            EXPECT_EQ(messages_[0].text, "Must setup file extension!");
            EXPECT_EQ(messages_[0].caption, QApplication::applicationName());
            EXPECT_EQ(messages_[0].buttons, QMessageBox::Ok);
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_TRUE(dialog.rb3->isChecked());
        }
    }
}

TEST_F(AddFolderDialogTest, CancelAndTheCloseBoxCancelWhileEnterAndEscapeDoNothing) {
    for (const bool closeBox : {false, true}) {
        TfmFolder dialog;
        dialog.show();
        dialog.rb3->setChecked(true);
        QTest::keyClicks(dialog.EdExt2, "tmp");
        QTest::keyClick(dialog.EdExt2, Qt::Key_Return);
        QTest::keyClick(dialog.EdExt2, Qt::Key_Escape);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_FALSE(dialog.BitBtn2->isDefault() || dialog.BitBtn3->isDefault());
        if (closeBox) {
            dialog.close();
        } else {
            QTest::mouseClick(dialog.BitBtn2, Qt::LeftButton);
        }
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_TRUE(messages_.empty());
}

TEST_F(AddFolderDialogTest, BrowsingMovesTheListAndTheWorkingFolder) {
    const QString beta = work_ + "/beta";
    {
        TfmFolder dialog;
        dialog.show();
        TDirectoryListBox& list = *dialog.dlb;
        // The branch from the root down, then the sub-folders, hidden ones included; no files.
        QStringList expected = {"/"};
        expected << work_.split('/', Qt::SkipEmptyParts);
        expected << ".cache"
                 << "Alpha"
                 << "beta";
        EXPECT_EQ(Entries(list), expected);
        EXPECT_EQ(list.currentItem()->text(), "work");

        // A double click opens a sub-folder.
        const int betaRow = RowOf(list, "beta");
        list.scrollToItem(list.item(betaRow));
        const QPoint at = list.visualItemRect(list.item(betaRow)).center();
        // As a mouse sends it: the first click, then the second one as a double click.
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
        EXPECT_EQ(list.Directory(), beta);
        EXPECT_EQ(QDir::currentPath(), beta);
        EXPECT_EQ(dialog.lblfolder->toolTip(), beta);
        EXPECT_EQ(Entries(list).back(), "beta");

        // Enter opens the highlighted ancestor.
        list.setCurrentRow(RowOf(list, "work"));
        QTest::keyClick(&list, Qt::Key_Return);
        EXPECT_EQ(list.Directory(), work_);
        EXPECT_EQ(QDir::currentPath(), work_);

        // "OK" right after opening takes the folder opened.
        list.OpenEntry(RowOf(list, "beta"));
        EXPECT_EQ(dialog.Directory(), beta);
    }
    // The next dialog opens where this one was left.
    TfmFolder next;
    EXPECT_EQ(next.Directory(), beta);
}

// What is highlighted is what "OK" takes, and the label says so at once; only opening moves the
// list and the working folder.
TEST_F(AddFolderDialogTest, ThePickedEntryIsTheChosenFolder) {
    TfmFolder dialog;
    dialog.show();
    TDirectoryListBox& list = *dialog.dlb;
    const QString cache = work_ + "/.cache";
    const QPoint at = list.visualItemRect(list.item(RowOf(list, ".cache"))).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(dialog.Directory(), cache);
    EXPECT_EQ(dialog.lblfolder->toolTip(), cache);
    EXPECT_EQ(list.Directory(), work_);
    EXPECT_EQ(QDir::currentPath(), work_);

    QTest::keyClick(&list, Qt::Key_Down);  // .cache, Alpha
    EXPECT_EQ(dialog.Directory(), work_ + "/Alpha");
    EXPECT_EQ(dialog.lblfolder->toolTip(), work_ + "/Alpha");
    QTest::keyClick(&list, Qt::Key_Up);
    QTest::keyClick(&list, Qt::Key_Up);  // back to the folder itself
    EXPECT_EQ(dialog.Directory(), work_);

    QTest::keyClick(&list, Qt::Key_Down);
    QTest::mouseClick(dialog.BitBtn3, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Directory(), cache);
}

TEST_F(AddFolderDialogTest, ALinkKeepsThePathTheUserWalked) {
    fs::create_directory_symlink(temp_ / "work/beta", temp_ / "work/link");
    const QString link = work_ + "/link";
    {
        TfmFolder dialog;
        dialog.dlb->OpenEntry(RowOf(*dialog.dlb, "link"));
        EXPECT_EQ(dialog.Directory(), link);
        EXPECT_EQ(dialog.lblfolder->toolTip(), link);
        EXPECT_EQ(Entries(*dialog.dlb).back(), "link");
        EXPECT_EQ(QDir::currentPath(), work_ + "/beta");
    }
    // The next dialog goes on from the link too; ".." goes back up the names walked.
    TfmFolder next;
    EXPECT_EQ(next.Directory(), link);
    next.dlb->SetDirectory("..");
    EXPECT_EQ(next.Directory(), work_);
}

TEST_F(AddFolderDialogTest, AFolderThatCannotBeEnteredLeavesTheListAsItWas) {
    TfmFolder dialog;
    TDirectoryListBox& list = *dialog.dlb;
    const QStringList before = Entries(list);
    fs::remove(temp_ / "work/beta");
    EXPECT_THROW(list.OpenEntry(RowOf(list, "beta")), InOutError);
    EXPECT_EQ(list.Directory(), work_);
    EXPECT_EQ(QDir::currentPath(), work_);
    EXPECT_EQ(Entries(list), before);
}

TEST_F(AddFolderDialogTest, AFileSystemRootGivesItsOwnPath) {
    TfmFolder dialog;
    const QString workVolume = QStorageInfo(work_).rootPath();
    EXPECT_EQ(dialog.dcb->currentData().toString(), workVolume);

    // Another mounted file system, where the machine has this usual one, opens at its root;
    // going back to the first one returns to the folder left there.
    const QString root = "/dev/shm";
    if (const int i = dialog.dcb->findData(root); i >= 0 && root != workVolume) {
        dialog.dcb->setCurrentIndex(i);
        dialog.dcbChange();
        EXPECT_TRUE(dialog.Directory().startsWith(root)) << dialog.Directory().toStdString();
        EXPECT_EQ(QDir::currentPath(), dialog.Directory());
        dialog.dcb->setCurrentIndex(dialog.dcb->findData(workVolume));
        dialog.dcbChange();
        EXPECT_EQ(dialog.Directory(), work_);
    }

    // A file system that cannot be entered (gone since the list was made): the list and the
    // drive shown stay as they were.
    dialog.dcb->addItem("/gone", QString::fromStdString(temp_ / "gone"));
    dialog.dcb->setCurrentIndex(dialog.dcb->count() - 1);
    EXPECT_THROW(dialog.dcbChange(), InOutError);
    EXPECT_EQ(dialog.Directory(), work_);
    EXPECT_EQ(QDir::currentPath(), work_);
    EXPECT_EQ(dialog.dcb->currentData().toString(), workVolume);

    dialog.dlb->OpenEntry(0);
    EXPECT_EQ(dialog.Directory(), "/");
    EXPECT_EQ(dialog.dcb->currentData().toString(), "/");
    dialog.BitBtn3Click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Directory(), "/");
}

TEST_F(AddFolderDialogTest, AWellKnownPlaceFillsInFolderFilesAndAgeButAddsNothing) {
    WriteFile(temp_ / "down/a.part", "1234");
    WriteFile(temp_ / "down/b.crdownload", "12");
    TfmFolder dialog;
    dialog.show();
    dialog.ShowPlaces({{Q(temp_ / "work/.cache"), {}, 30, "cache"},
                       {Q(temp_ / "down"), "part;crdownload", 7, "downloads"}});
    ASSERT_EQ(dialog.lvPlaces->topLevelItemCount(), 2);
    QTreeWidgetItem* down = dialog.lvPlaces->topLevelItem(1);
    EXPECT_EQ(down->text(1), "*.part;*.crdownload, 7 days");
    // Counted in slices between the dialog's events.
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.PlacesMeasured(); }, 10000));
    EXPECT_EQ(down->text(2), "2 files (6.00 B)");
    EXPECT_EQ(dialog.lvPlaces->topLevelItem(0)->text(2), "0 files (0.00 B)");

    dialog.lvPlaces->setCurrentItem(down);
    EXPECT_EQ(dialog.Directory(), Q(temp_ / "down"));
    EXPECT_EQ(dialog.lblfolder->toolTip(), Q(temp_ / "down"));
    EXPECT_TRUE(dialog.rb3->isChecked());
    EXPECT_EQ(dialog.Ext(), "part;crdownload");
    EXPECT_EQ(dialog.Age(), 7);
    dialog.edKeep->setText("keep/");

    // By the keyboard too; every file clears the extension box.
    dialog.lvPlaces->setFocus();
    QTest::keyClick(dialog.lvPlaces, Qt::Key_Up);
    EXPECT_EQ(dialog.Directory(), Q(temp_ / "work/.cache"));
    EXPECT_TRUE(dialog.rb1->isChecked());
    EXPECT_EQ(dialog.Ext(), "");
    EXPECT_EQ(dialog.Age(), 30);
    EXPECT_EQ(dialog.Keep(), "");  // it named what to keep in another folder
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(MinimizeNameTest, LeadingFolderNamesGiveWayToDots) {
    const QFontMetrics metrics(QApplication::font());
    const QString path = "/home/user/projects/deep/folder";
    const auto width = [&](const QString& text) { return metrics.horizontalAdvance(text); };
    EXPECT_EQ(MinimizeName(path, metrics, width(path)), path);
    EXPECT_EQ(MinimizeName(path, metrics, width(path) - 1), "/.../user/projects/deep/folder");
    EXPECT_EQ(MinimizeName(path, metrics, width("/.../deep/folder")), "/.../deep/folder");
    EXPECT_EQ(MinimizeName(path, metrics, width("/.../folder") + 1), "/.../folder");
    const QString tiny = MinimizeName(path, metrics, width("/.../fo"));
    EXPECT_LE(width(tiny), width("/.../fo"));
    EXPECT_TRUE(tiny.startsWith("/...")) << tiny.toStdString();
}

}  // namespace
}  // namespace purgala
