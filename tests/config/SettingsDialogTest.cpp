// The folder settings dialog: the grid filled from the document, adding and deleting rows, and
// the write-back and save on every close.
#include "config/uOptions.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFocusEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/Config.h"
#include "config/uAddFolder.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "tests/TestSupport.h"
#include "util/FileUtils.h"

namespace purgala {
namespace {

namespace fs = std::filesystem;
using test::ConfigWithFolders;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using Cells = std::vector<std::vector<std::string>>;

class SettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldDir_ = QDir::currentPath();
        SetProgramDirForTesting(program_.Path());
        ResetConfigForTesting();
        SetMessageHook([this](const TMessageRequest& request) {
            messages_.push_back(request);
            return QMessageBox::Ok;
        });
        SetShellHook([this](const QUrl& url) { opened_.push_back(url); });
        // Each run of the add-folder dialog takes the next scripted answer.
        SetModalHook([this](QDialog& dialog) {
            auto* folder = dynamic_cast<TfmFolder*>(&dialog);
            if (folder == nullptr || answers_.empty()) {
                ADD_FAILURE() << "unexpected modal dialog";
                return int(QDialog::Rejected);
            }
            folder->show();
            const auto answer = std::move(answers_.front());
            answers_.pop_front();
            answer(*folder);
            return folder->result();
        });
    }
    void TearDown() override {
        SetModalHook({});
        SetShellHook({});
        SetMessageHook({});
        ResetConfigForTesting();
        SetProgramDirForTesting({});
        QDir::setCurrent(oldDir_);
    }

    std::string File() const { return program_ / "PurgalaConfig.xml"; }
    void WriteConfig(const std::string& text) { WriteFile(File(), text); }
    // What the file holds between <folders> and </folders>.
    std::string FoldersInFile() const {
        const std::string text = ReadFile(File());
        const std::size_t begin = text.find("<folders");
        const std::size_t end = text.find("</config>");
        return begin == std::string::npos || end == std::string::npos
                   ? text
                   : text.substr(begin, end - begin);
    }
    // The grid's cells as the view shows them.
    static Cells GridCells(TfmSetting& dialog) {
        Cells cells;
        TVirtualStringTree& grid = *dialog.VT;
        for (PVirtualNode n = grid.GetFirst(); n != nullptr; n = grid.GetNext(n)) {
            std::vector<std::string> row;
            for (int column = 0; column < 4; ++column) {
                row.push_back(grid.IndexOf(n, column).data().toString().toStdString());
            }
            cells.push_back(row);
        }
        return cells;
    }
    static PVirtualNode Row(TfmSetting& dialog, int position) {
        PVirtualNode n = dialog.VT->GetFirst();
        while (position-- > 0 && n != nullptr) {
            n = dialog.VT->GetNext(n);
        }
        return n;
    }

    TempDir program_;
    TempDir data_;
    QString oldDir_;
    std::vector<TMessageRequest> messages_;
    std::vector<QUrl> opened_;
    std::deque<std::function<void(TfmFolder&)>> answers_;
};

TEST_F(SettingsDialogTest, AnEmptyListOpensEmptyAndClosesIntoAnEmptyFolderList) {
    TfmSetting dialog;
    EXPECT_EQ(dialog.windowTitle(), "Setup Folders to Check ");
    EXPECT_EQ(dialog.height(), 391);
    EXPECT_GE(dialog.width(), 621);
    for (QPushButton* button : {dialog.btnAdd, dialog.btnDel, dialog.btnOpen, dialog.btnExit}) {
        // Whole captions, inside the dialog.
        EXPECT_GE(button->width(), std::max(129, button->sizeHint().width()));
        EXPECT_LT(button->geometry().right(), dialog.width());
    }
    TVirtualTreeColumns& columns = dialog.VT->Header().Columns();
    ASSERT_EQ(columns.Count(), 6);
    const QStringList captions = {"No",  "Folder Name", "Full Path", "File Extension",
                                  "Age", "Keep"};
    const int widths[] = {30, 90, 150, 90, 40, 130};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(columns.Items(i).Text(), captions[i]);
        // Never narrower than planned, nor than its caption.
        EXPECT_GE(dialog.VT->header()->sectionSize(i), widths[i]);
        EXPECT_GE(dialog.VT->header()->sectionSize(i), dialog.VT->header()->sectionSizeHint(i));
    }
    EXPECT_EQ(dialog.btnAdd->text(), "Add Folder To Check");
    EXPECT_EQ(dialog.btnDel->text(), "Delete Selected Folder");
    EXPECT_EQ(dialog.btnOpen->text(), "Open Folder Explore");
    EXPECT_EQ(dialog.btnExit->text(), "Close");

    dialog.show();
    EXPECT_EQ(dialog.VT->RootNodeCount(), 0u);
    QTest::mouseClick(dialog.btnExit, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(FoldersInFile(), "<folders/>");
    EXPECT_TRUE(messages_.empty());
}

// Every column, Age and Keep included, is seen whole without scrolling sideways, also once the
// list is long enough for a vertical scroll bar; the panel stays left of the buttons.
TEST_F(SettingsDialogTest, EveryColumnFitsThePanelWithoutScrollingSideways) {
    std::string folders;
    for (int i = 0; i < 40; ++i) {
        folders += "<folder name=\"f" + std::to_string(i) +
                   "\" fullpath=\"/f\" ext=\"tmp;log\" "
                   "age=\"7\" keep=\"mozilla/;*.lock\"/>";
    }
    WriteConfig(ConfigWithFolders(folders));
    TfmSetting dialog;
    dialog.show();
    TVirtualStringTree& grid = *dialog.VT;
    // The scroll bars follow the layout of the rows, which comes with the next events.
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid.verticalScrollBar()->isVisible(); }));
    EXPECT_EQ(grid.horizontalScrollBar()->maximum(), 0);
    int columnsWidth = 0;
    for (int i = 0; i < grid.header()->count(); ++i) {
        columnsWidth += grid.header()->sectionSize(i);
    }
    EXPECT_LE(columnsWidth, grid.viewport()->width());
    EXPECT_LT(dialog.Panel1->geometry().right(), dialog.btnAdd->geometry().left());
    EXPECT_LT(dialog.cbTrash->geometry().right(), dialog.width());
}

TEST_F(SettingsDialogTest, AnUnchangedListIsRewrittenInOrderWithoutOptions) {
    WriteConfig(ConfigWithFolders(
        "\n  <folder ext=\"tmp\" fullpath=\"/a\" name=\"A\" options=\"7\"/>"
        "\n  <folder name=\"\xC3\x89t\xC3\xA9\" fullpath=\"/data/\xC3\xA9t\xC3\xA9\" ext=\"\"/>"
        "\n  <folder name=\"C\" fullpath=\"/c\" options=\"1\" ext=\".log\"/>\n"));
    TfmSetting dialog;
    dialog.show();
    EXPECT_EQ(GridCells(dialog), (Cells{{"1", "A", "/a", "tmp"},
                                        {"2", "\xC3\x89t\xC3\xA9", "/data/\xC3\xA9t\xC3\xA9", ""},
                                        {"3", "C", "/c", ".log"}}));
    dialog.close();  // the close box
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(FoldersInFile(),
              "<folders><folder name=\"A\" fullpath=\"/a\" ext=\"tmp\"/>"
              "<folder name=\"\xC3\x89t\xC3\xA9\" fullpath=\"/data/\xC3\xA9t\xC3\xA9\" ext=\"\"/>"
              "<folder name=\"C\" fullpath=\"/c\" ext=\".log\"/></folders>");
}

TEST_F(SettingsDialogTest, TheTrashChoiceIsSavedOnCloseOnlyOnceMadeAndReadBack) {
    const auto closeWith = [](std::optional<bool> check) {
        TfmSetting dialog;
        dialog.show();
        const bool shown = dialog.cbTrash->isChecked();
        if (check) {
            dialog.cbTrash->setChecked(*check);
        }
        dialog.close();
        return shown;
    };
    // Never chosen: unchecked, and the file is saved exactly as before the choice existed.
    WriteConfig(ConfigWithFolders(""));
    EXPECT_FALSE(closeWith(std::nullopt));
    const std::string unchosen = ReadFile(File());
    EXPECT_EQ(unchosen.find("trash"), std::string::npos);
    EXPECT_EQ(closeWith(false), false);
    EXPECT_EQ(ReadFile(File()), unchosen);

    EXPECT_FALSE(closeWith(true));
    EXPECT_NE(ReadFile(File()).find("<config versionNo=\"2\" trash=\"True\">"), std::string::npos);
    ResetConfigForTesting();  // read from the file again
    EXPECT_TRUE(closeWith(false));
    EXPECT_NE(ReadFile(File()).find(" trash=\"False\">"), std::string::npos);
    ResetConfigForTesting();
    EXPECT_FALSE(closeWith(std::nullopt));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(SettingsDialogTest, DeletingTheSecondOfThreeRenumbersAndWritesTheOthers) {
    WriteConfig(
        ConfigWithFolders("<folder name=\"A\" fullpath=\"/a\" ext=\"tmp\"/>"
                          "<folder name=\"B\" fullpath=\"/b\" ext=\"tmp\"/>"
                          "<folder name=\"C\" fullpath=\"/c\" ext=\"log\"/>"));
    TfmSetting dialog;
    dialog.show();
    // The grid taking the keyboard focus picks no row by itself, so nothing is deleted.
    QFocusEvent focusIn(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(dialog.VT, &focusIn);
    QTest::mouseClick(dialog.btnDel, Qt::LeftButton);
    EXPECT_EQ(dialog.VT->RootNodeCount(), 3u);

    dialog.VT->SetFocusedNode(Row(dialog, 1));
    QTest::mouseClick(dialog.btnDel, Qt::LeftButton);
    EXPECT_EQ(GridCells(dialog), (Cells{{"1", "A", "/a", "tmp"}, {"2", "C", "/c", "log"}}));
    QTest::mouseClick(dialog.btnDel, Qt::LeftButton);  // nor does a deleted row's neighbour
    EXPECT_EQ(dialog.VT->RootNodeCount(), 2u);
    EXPECT_EQ(ReadFile(File()).find("name=\"B\"") != std::string::npos, true);  // not yet

    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(FoldersInFile(),
              "<folders><folder name=\"A\" fullpath=\"/a\" ext=\"tmp\"/>"
              "<folder name=\"C\" fullpath=\"/c\" ext=\"log\"/></folders>");
}

// The add-folder dialog's extensions come bare, its keep patterns into their own column.
TEST_F(SettingsDialogTest, AddedFoldersKeepTheirExtensionsBareAndMayRepeat) {
    fs::create_directories(data_ / "cache.d");
    const QString folder = QString::fromStdString(data_ / "cache.d");
    const auto choose = [folder](const char* ext, bool special, bool accept,
                                 const char* keep = "") {
        return [=](TfmFolder& dialog) {
            dialog.dlb->SetDirectory(folder);
            dialog.rb3->setChecked(special);
            dialog.EdExt2->setText(ext);
            dialog.edKeep->setText(keep);
            if (accept) {
                dialog.BitBtn3Click();
            } else {
                dialog.BitBtn2Click();
            }
        };
    };
    answers_.push_back(choose("*.tmp; *.LOG", true, true, " mozilla/ ;; *.lock"));
    answers_.push_back(choose("", false, true));  // "Check all files", the same folder again
    answers_.push_back(choose("log", true, false));
    answers_.push_back([](TfmFolder& dialog) { dialog.close(); });

    TfmSetting dialog;
    dialog.show();
    for (int i = 0; i < 4; ++i) {
        QTest::mouseClick(dialog.btnAdd, Qt::LeftButton);
    }
    EXPECT_TRUE(answers_.empty());
    const std::string path = data_ / "cache.d";
    ASSERT_EQ(FolderDisplayName(path), "cache");
    EXPECT_EQ(GridCells(dialog),
              (Cells{{"1", "cache", path, "tmp;LOG"}, {"2", "cache", path, ""}}));
    EXPECT_EQ(dialog.VT->IndexOf(Row(dialog, 0), TfmSetting::kKeepColumn).data().toString(),
              "mozilla/;*.lock");
    EXPECT_EQ(ReadFile(File()), DefaultConfigText);  // the file changes only at close

    QTest::mouseClick(dialog.btnExit, Qt::LeftButton);
    EXPECT_EQ(FoldersInFile(), "<folders><folder name=\"cache\" fullpath=\"" + path +
                                   "\" ext=\"tmp;LOG\" keep=\"mozilla/;*.lock\"/>"
                                   "<folder name=\"cache\" fullpath=\"" +
                                   path + "\" ext=\"\"/></folders>");
}

// Keep patterns show in their own column and are edited there, like ages; only a folder with
// some carries them, and a document without them is written as it was.
TEST_F(SettingsDialogTest, KeepPatternsAreEditedInTheirCellAndWrittenOnlyWhereSet) {
    WriteConfig(
        ConfigWithFolders("<folder name=\"A\" fullpath=\"/a\" ext=\"tmp;log\" age=\"7\" "
                          "keep=\"mozilla/;*.lock\"/>"
                          "<folder name=\"B\" fullpath=\"/b\" ext=\"tmp\"/>"));
    TfmSetting dialog;
    dialog.show();
    TVirtualStringTree& grid = *dialog.VT;
    const auto keep = [&](int row) {
        return grid.IndexOf(Row(dialog, row), TfmSetting::kKeepColumn);
    };
    EXPECT_EQ(GridCells(dialog)[0][3], "tmp;log");  // as stored
    EXPECT_EQ(keep(0).data().toString(), "mozilla/;*.lock");
    EXPECT_EQ(keep(1).data().toString(), "");
    EXPECT_TRUE(keep(0).flags() & Qt::ItemIsEditable);

    QAbstractItemModel& model = *grid.model();
    model.setData(keep(0), " ", Qt::EditRole);  // none
    model.setData(keep(1), "**/shader-cache/ ; [x", Qt::EditRole);
    EXPECT_EQ(keep(0).data().toString(), "");
    EXPECT_EQ(keep(1).data().toString(), "**/shader-cache/;[x");

    QTest::mouseClick(dialog.btnExit, Qt::LeftButton);
    EXPECT_EQ(FoldersInFile(),
              "<folders><folder name=\"A\" fullpath=\"/a\" ext=\"tmp;log\" age=\"7\"/>"
              "<folder name=\"B\" fullpath=\"/b\" ext=\"tmp\" keep=\"**/shader-cache/;[x\"/>"
              "</folders>");

    // Opened and closed again without a change: the file stays byte for byte.
    const std::string saved = ReadFile(File());
    TfmSetting again;
    again.show();
    again.close();
    EXPECT_EQ(ReadFile(File()), saved);
}

// Ages show in a column of their own and are edited there; only a folder with a rule carries
// one, and a value that is no number stays as written until the user mends it.
TEST_F(SettingsDialogTest, AgesAreEditedInTheirCellAndWrittenOnlyWhereThereIsARule) {
    WriteConfig(
        ConfigWithFolders("<folder name=\"A\" fullpath=\"/a\" ext=\"\" age=\"7\"/>"
                          "<folder name=\"B\" fullpath=\"/b\" ext=\"tmp\"/>"
                          "<folder name=\"C\" fullpath=\"/c\" ext=\"\" age=\"a week\"/>"));
    fs::create_directories(data_ / "d");
    answers_.push_back([this](TfmFolder& folder) {
        EXPECT_EQ(folder.spAge->text(), "no age");
        folder.dlb->SetDirectory(QString::fromStdString(data_ / "d"));
        folder.spAge->setValue(14);
        folder.BitBtn3Click();
    });
    TfmSetting dialog;
    dialog.show();
    TVirtualStringTree& grid = *dialog.VT;
    const auto age = [&](int row) {
        return grid.IndexOf(Row(dialog, row), TfmSetting::kAgeColumn);
    };
    EXPECT_EQ(age(0).data().toString(), "7");
    EXPECT_EQ(age(1).data().toString(), "");
    EXPECT_EQ(age(2).data().toString(), "a week");
    EXPECT_TRUE(age(0).flags() & Qt::ItemIsEditable);
    EXPECT_FALSE(grid.IndexOf(Row(dialog, 0), 3).flags() & Qt::ItemIsEditable);

    QAbstractItemModel& model = *grid.model();
    model.setData(age(0), "0", Qt::EditRole);  // no rule
    model.setData(age(1), "3", Qt::EditRole);
    model.setData(age(1), "x", Qt::EditRole);  // refused: the 3 stays
    EXPECT_EQ(age(0).data().toString(), "");
    EXPECT_EQ(age(1).data().toString(), "3");
    QTest::mouseClick(dialog.btnAdd, Qt::LeftButton);
    EXPECT_EQ(age(3).data().toString(), "14");

    QTest::mouseClick(dialog.btnExit, Qt::LeftButton);
    const std::string d = data_ / "d";
    EXPECT_EQ(FoldersInFile(),
              "<folders><folder name=\"A\" fullpath=\"/a\" ext=\"\"/>"
              "<folder name=\"B\" fullpath=\"/b\" ext=\"tmp\" age=\"3\"/>"
              "<folder name=\"C\" fullpath=\"/c\" ext=\"\" age=\"a week\"/>"
              "<folder name=\"d\" fullpath=\"" +
                  d + "\" ext=\"\" age=\"14\"/></folders>");
}

TEST_F(SettingsDialogTest, AFileSystemRootIsAddedWithItsOwnPath) {
    answers_.push_back([](TfmFolder& dialog) {
        dialog.dlb->OpenEntry(0);
        dialog.BitBtn3Click();
    });
    TfmSetting dialog;
    dialog.show();
    dialog.btnAddClick();
    const Cells cells = GridCells(dialog);
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(cells[0][2], "/");
    EXPECT_EQ(cells[0][1], FolderDisplayName("/"));
    EXPECT_FALSE(cells[0][1].empty());
}

TEST_F(SettingsDialogTest, OpenFolderExploreOpensTheFocusedRowsOwnPath) {
    WriteConfig(
        ConfigWithFolders("<folder name=\"A\" fullpath=\"/srv/a b\" ext=\"tmp\"/>"
                          "<folder name=\"B\" fullpath=\"/srv/b\" ext=\"\"/>"));
    TfmSetting dialog;
    dialog.show();
    QTest::mouseClick(dialog.btnOpen, Qt::LeftButton);
    EXPECT_TRUE(opened_.empty());

    dialog.VT->SetFocusedNode(Row(dialog, 0));
    QTest::mouseClick(dialog.btnOpen, Qt::LeftButton);
    const QRect second = dialog.VT->visualRect(dialog.VT->IndexOf(Row(dialog, 1), 1));
    QTest::mouseDClick(dialog.VT->viewport(), Qt::LeftButton, {}, second.center());
    ASSERT_EQ(opened_.size(), 2u);
    EXPECT_EQ(opened_[0].toLocalFile(), "/srv/a b");  // the folder itself, not its parent
    EXPECT_EQ(opened_[1].toLocalFile(), "/srv/b");
}

TEST_F(SettingsDialogTest, EveryWayOfClosingTriesTheSaveExactlyOnce) {
    // A document that cannot be loaded: the grid opens empty and no close can save.
    const std::string broken = "<config><folders>";
    WriteConfig(broken);
    const std::vector<std::pair<const char*, std::function<void(TfmSetting&)>>> closings = {
        {"Close", [](TfmSetting& d) { QTest::mouseClick(d.btnExit, Qt::LeftButton); }},
        {"close box", [](TfmSetting& d) { d.close(); }},
        {"Escape", [](TfmSetting& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"done", [](TfmSetting& d) { d.done(QDialog::Accepted); }},
    };
    for (const auto& [name, closeIt] : closings) {
        SCOPED_TRACE(name);
        messages_.clear();
        TfmSetting dialog;
        dialog.show();
        EXPECT_EQ(dialog.VT->RootNodeCount(), 0u);
        closeIt(dialog);
        EXPECT_FALSE(dialog.isVisible());
        dialog.close();  // already closed: nothing more
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_TRUE(messages_[0].text.startsWith("The folder list could not be saved."));
        EXPECT_GT(messages_[0].text.size(), QString("The folder list could not be saved.").size());
        EXPECT_EQ(messages_[0].icon, QMessageBox::Warning);
    }

    // The real modal run, closed by the close box from inside its own loop.
    SetModalHook({});
    messages_.clear();
    TfmSetting dialog;
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.close(); });
    ShowModal(dialog);
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(ReadFile(File()), broken);
}

TEST_F(SettingsDialogTest, AFileRepairedWhileTheDialogWasOpenKeepsItsFolders) {
    WriteConfig("<config><folders>");
    TfmSetting dialog;
    dialog.show();
    const std::string repaired =
        ConfigWithFolders("<folder name=\"A\" fullpath=\"/a\" ext=\"tmp\"/>");
    WriteConfig(repaired);
    dialog.close();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].text.startsWith("The folder list could not be saved."));
    EXPECT_EQ(ReadFile(File()), repaired);
}

TEST_F(SettingsDialogTest, AFailedSaveSaysWhyClosesAndLeavesTheOldFile) {
    const std::string original =
        ConfigWithFolders("<folder name=\"A\" fullpath=\"/a\" ext=\"tmp\"/>");
    WriteConfig(original);
    TfmSetting dialog;
    dialog.show();
    dialog.VT->SetFocusedNode(Row(dialog, 0));
    dialog.btnDelClick();

    {
        const test::FileSizeLimit fullDisk(100);
        QTest::mouseClick(dialog.btnExit, Qt::LeftButton);
    }

    EXPECT_FALSE(dialog.isVisible());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].text.contains(QString::fromStdString(File())))
        << messages_[0].text.toStdString();
    EXPECT_EQ(ReadFile(File()), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(program_.Path()), {}), 1);

    // The document keeps the new list, and the next save writes it.
    EXPECT_EQ(GetConfig().GetRoot()->GetFolders()->GetCount(), 0);
    GetConfig().Save();
    EXPECT_EQ(FoldersInFile(), "<folders/>");
}

}  // namespace
}  // namespace purgala
