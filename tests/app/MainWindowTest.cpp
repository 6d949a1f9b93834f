#include "app/uMain.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Progress.h"
#include "app/UAbout.h"
#include "config/Config.h"
#include "config/uAddFolder.h"
#include "config/uOptions.h"
#include "platform/Colors.h"
#include "platform/Dialogs.h"
#include "scan/FACtrl.h"
#include "tests/TestSupport.h"

namespace purgala {
namespace {

namespace fs = std::filesystem;
using test::ConfigWithFolders;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string FolderElement(const std::string& path, const std::string& ext) {
    return "<folder name=\"x\" fullpath=\"" + path + "\" ext=\"" + ext + "\"/>";
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDirForTesting(program_.Path());
        ResetConfigForTesting();
        // Nothing here may open a real dialog.
        SetModalHook([this](QDialog&) {
            ++modalRuns_;
            return int(QDialog::Rejected);
        });
    }
    void TearDown() override {
        SetModalHook({});
        ResetConfigForTesting();
        SetProgramDirForTesting({});
    }

    void WriteConfig(const std::string& text) { WriteFile(program_ / "PurgalaConfig.xml", text); }

    // Rows in pre-order: level, check state and the name of the file or folder.
    struct Row {
        unsigned level;
        TCheckState state;
        std::string path;
        bool operator==(const Row&) const = default;
    };
    static std::vector<Row> Rows(TVirtualStringTree& tree) {
        std::vector<Row> rows;
        for (PVirtualNode n = tree.GetFirst(); n != nullptr; n = tree.GetNext(n)) {
            rows.push_back({tree.GetNodeLevel(n), tree.CheckState(n),
                            std::string(tree.GetNodeData(n).FullPath())});
        }
        return rows;
    }

    TempDir program_;
    TempDir data_;
    int modalRuns_ = 0;
};

TEST_F(MainWindowTest, FirstShowWritesTheDefaultAndBuildsColumnsAndCaption) {
    TFMMain window;
    EXPECT_EQ(window.windowTitle(), "Vontra Purgala ");
    window.show();
    EXPECT_EQ(ReadFile(program_ / "PurgalaConfig.xml"), DefaultConfigText);
    EXPECT_EQ(window.windowTitle(), "Vontra Purgala 2.5.3");
    EXPECT_EQ(window.windowIcon().pixmap(64).size(), QSize(64, 64));  // linked in, not empty
    EXPECT_EQ(window.VT->Header().Columns().Count(), 6);
    EXPECT_NE(FACtrl, nullptr);
    EXPECT_TRUE(window.cbCheckAll->isChecked());
    EXPECT_TRUE(window.SBPanel0->text().isEmpty());
}

TEST_F(MainWindowTest, CommandBarHasItsCaptionsAndAccelerators) {
    TFMMain window;
    const std::vector<QToolButton*> buttons = {window.btnOpenFile, window.btnOpenFolder,
                                               window.SpeedButton3, window.btnApply,
                                               window.SpeedButton2};
    const QStringList captions = {"&Check Temps", "&Delete", "&Open Folder", "&Setting", "&Exit"};
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(buttons[i]->text(), captions[int(i)]);
        EXPECT_EQ(buttons[i]->size(), QSize(113, 37));
        EXPECT_FALSE(buttons[i]->shortcut().isEmpty());
    }
    const auto actions = window.menuBar()->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->text(), "About");
    EXPECT_EQ(actions[1]->text(), "Help");
}

TEST_F(MainWindowTest, MalformedConfigLeavesDesignCaptionAndShowsWhyInStatusBar) {
    WriteConfig("<config><nodes>");
    TFMMain window;
    window.show();
    EXPECT_EQ(window.windowTitle(), "Vontra Purgala ");
    EXPECT_EQ(window.VT->Header().Columns().Count(), 0);
    EXPECT_FALSE(window.SBPanel0->text().isEmpty());

    // Every later scan tries again, fails quietly, and says so in the status bar only.
    window.SBPanel0->clear();
    QTest::mouseClick(window.btnOpenFile, Qt::LeftButton);
    EXPECT_FALSE(window.SBPanel0->text().isEmpty());
    EXPECT_EQ(window.VT->TotalCount(), 0u);
    EXPECT_EQ(modalRuns_, 0);

    // The next command starts with a clean status line.
    QTest::mouseClick(window.cbCheckAll, Qt::LeftButton);
    EXPECT_TRUE(window.SBPanel0->text().isEmpty());
}

TEST_F(MainWindowTest, CheckTempsTwiceListsEveryFileOnceInDocumentOrder) {
    WriteFile(data_ / "one/a.tmp");
    WriteFile(data_ / "one/deep/er/B.TMP");
    WriteFile(data_ / "one/c.txt");
    WriteFile(data_ / "two/x.dat");
    WriteConfig(ConfigWithFolders(FolderElement(data_ / "two", "") +
                                  FolderElement(data_ / "one", "tmp") +
                                  FolderElement(data_ / "missing", "tmp")));
    TFMMain window;
    window.show();
    window.btnOpenFileClick();
    const auto first = Rows(*window.VT);
    window.btnOpenFileClick();
    EXPECT_EQ(Rows(*window.VT), first);

    ASSERT_EQ(first.size(), 6u);
    EXPECT_EQ(first[0], (Row{0, TCheckState::Unchecked, data_ / "two"}));
    EXPECT_EQ(first[1], (Row{1, TCheckState::Checked, data_ / "two/x.dat"}));
    EXPECT_EQ(first[2].path, data_ / "one");
    EXPECT_EQ(first[5], (Row{0, TCheckState::Unchecked, data_ / "missing"}));
    std::vector<std::string> oneFiles = {first[3].path, first[4].path};
    std::sort(oneFiles.begin(), oneFiles.end());
    EXPECT_EQ(oneFiles,
              (std::vector<std::string>{data_ / "one/a.tmp", data_ / "one/deep/er/B.TMP"}));
    EXPECT_EQ(modalRuns_, 0);
}

// Folders that cannot be read are counted and named in the tooltip, the first twenty of them;
// a scan that finds nothing says so.
TEST_F(MainWindowTest, TheStatusBarNamesWhatCouldNotBeReadAndSaysWhenNothingMatched) {
    WriteFile(data_ / "some/a.tmp", "12");
    std::string folders = FolderElement(data_ / "some", "tmp");
    for (int i = 0; i < 22; ++i) {
        folders += FolderElement(data_ / ("gone" + std::to_string(i)), "tmp");
    }
    WriteConfig(ConfigWithFolders(folders));
    TFMMain window;
    window.show();
    window.btnOpenFileClick();
    EXPECT_EQ(window.SBPanel0->text(),
              "1 file (2.00 B) listed, 1 (2.00 B) checked, 22 folders could not be read");
    const QStringList tip = window.SBPanel0->toolTip().split('\n');
    ASSERT_EQ(tip.size(), 2 + 20 + 1);
    EXPECT_EQ(tip[0], window.SBPanel0->text());
    EXPECT_EQ(tip[2], QString::fromStdString(data_ / "gone0") + ": No such file or directory");
    EXPECT_EQ(tip[21], QString::fromStdString(data_ / "gone19") + ": No such file or directory");
    EXPECT_EQ(tip[22], "and 2 more");

    WriteConfig(ConfigWithFolders(FolderElement(data_ / "some", "log") +
                                  FolderElement(data_ / "some", "txt")));
    ResetConfigForTesting();
    window.btnOpenFileClick();
    EXPECT_EQ(window.SBPanel0->text(), "No matching files in 2 folders");
    EXPECT_EQ(window.SBPanel0->toolTip(), window.SBPanel0->text());
}

TEST_F(MainWindowTest, EmptyFolderListOpensTheSettingsThenScansNothing) {
    TFMMain window;
    window.show();
    // The empty grid says where folders come from, in its own colours...
    EXPECT_TRUE(window.VT->EmptyText().contains("Setting"));
    const QImage withText = window.VT->viewport()->grab().toImage();
    window.btnOpenFileClick();
    EXPECT_EQ(modalRuns_, 1);
    EXPECT_EQ(window.VT->TotalCount(), 0u);
    EXPECT_EQ(window.SBPanel0->text(), "No folders to check: add them under Setting");

    // ...until the settings give it a folder.
    WriteFile(data_ / "a/1.tmp");
    WriteConfig(ConfigWithFolders(FolderElement(data_ / "a", "tmp")));
    ResetConfigForTesting();
    window.btnApplyClick();
    EXPECT_TRUE(window.VT->EmptyText().isEmpty());
    EXPECT_NE(window.VT->viewport()->grab().toImage(), withText);

    // Rows hide the text even while it is set.
    window.btnOpenFileClick();
    const QImage rows = window.VT->viewport()->grab().toImage();
    window.VT->SetEmptyText("nothing here");
    EXPECT_EQ(window.VT->viewport()->grab().toImage(), rows);
}

TEST_F(MainWindowTest, TheSummaryTakesTheStatusBarsWidthButNeverWidensTheWindow) {
    TFMMain window;
    window.resize(1400, 500);
    window.show();
    EXPECT_GT(window.SBPanel0->width(), 1400 - window.SBPanel1->width() - 100);
    window.SBPanel0->setText(QString(400, 'x'));
    window.resize(800, 500);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.width(), 800);
    EXPECT_GE(window.SBPanel0->width(), 700);
}

TEST_F(MainWindowTest, CheckAllReachesCollapsedRowsAndNewScansAreChecked) {
    WriteFile(data_ / "a/1.tmp");
    WriteFile(data_ / "a/2.tmp");
    WriteFile(data_ / "b/3.tmp");
    WriteConfig(
        ConfigWithFolders(FolderElement(data_ / "a", "tmp") + FolderElement(data_ / "b", "tmp")));
    TFMMain window;
    window.show();
    window.btnOpenFileClick();
    TVirtualStringTree& vt = *window.VT;
    vt.SetExpanded(vt.GetFirst(), false);

    QTest::mouseClick(window.cbCheckAll, Qt::LeftButton);
    EXPECT_FALSE(window.cbCheckAll->isChecked());
    for (const Row& row : Rows(vt)) {
        EXPECT_EQ(row.state, TCheckState::Unchecked) << row.path;
    }

    // A new scan checks its rows whatever the box says, and leaves the box alone.
    window.btnOpenFileClick();
    EXPECT_FALSE(window.cbCheckAll->isChecked());
    for (const Row& row : Rows(vt)) {
        EXPECT_EQ(row.state, row.level == 0 ? TCheckState::Unchecked : TCheckState::Checked);
    }

    vt.SetExpanded(vt.GetFirst(), false);
    QTest::mouseClick(window.cbCheckAll, Qt::LeftButton);  // off → on
    QTest::mouseClick(window.cbCheckAll, Qt::LeftButton);  // on → off
    QTest::mouseClick(window.cbCheckAll, Qt::LeftButton);  // off → on
    for (const Row& row : Rows(vt)) {
        EXPECT_EQ(row.state, TCheckState::Checked) << row.path;  // folder rows too
    }
    EXPECT_FALSE(vt.InUpdate());
}

TEST_F(MainWindowTest, CheckAllOnAnEmptyTreeDoesNothing) {
    TFMMain window;
    window.show();
    QTest::mouseClick(window.cbCheckAll, Qt::LeftButton);
    EXPECT_EQ(window.VT->TotalCount(), 0u);
    EXPECT_TRUE(window.SBPanel0->text().isEmpty());
}

TEST_F(MainWindowTest, OnlyFileRowsShowACheckBoxAndClickingItToggles) {
    WriteFile(data_ / "a/1.tmp");
    WriteConfig(ConfigWithFolders(FolderElement(data_ / "a", "tmp")));
    TFMMain window;
    window.show();
    window.btnOpenFileClick();
    TVirtualStringTree& vt = *window.VT;
    const PVirtualNode folder = vt.GetFirst();
    const PVirtualNode file = vt.GetNext(folder);
    QAbstractItemModel* model = vt.model();

    EXPECT_FALSE(model->data(vt.IndexOf(folder), Qt::CheckStateRole).isValid());
    EXPECT_FALSE(model->flags(vt.IndexOf(folder)) & Qt::ItemIsUserCheckable);
    EXPECT_EQ(vt.CheckType(folder), TCheckType::None);
    EXPECT_EQ(model->data(vt.IndexOf(file), Qt::CheckStateRole), Qt::Checked);
    EXPECT_EQ(vt.CheckType(file), TCheckType::CheckBox);

    // The user's click goes through the model, as the view's own check box does.
    ASSERT_TRUE(model->setData(vt.IndexOf(file), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(vt.CheckState(file), TCheckState::Unchecked);
    EXPECT_EQ(vt.CheckState(folder), TCheckState::Unchecked);  // never mixed, never follows
}

TEST_F(MainWindowTest, ExitAndCloseBoxBothCloseAndReleaseTheController) {
    for (const bool useExit : {true, false}) {
        TFMMain window;
        window.show();
        ASSERT_NE(FACtrl, nullptr);
        if (useExit) {
            QTest::mouseClick(window.SpeedButton2, Qt::LeftButton);
        } else {
            window.close();
        }
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(FACtrl, nullptr);
        EXPECT_FALSE(window.VT->OnGetText);
        EXPECT_EQ(modalRuns_, 0);
    }
}

// A dark desktop theme turns Qt's text light; wherever the program fixes a colour of its own,
// the text on it must still read (contrast of at least 4.5:1), and the fixed colours stay.
TEST_F(MainWindowTest, TextOnTheProgramsOwnColoursReadsUnderLightAndDarkThemes) {
    const QPalette light = QApplication::palette();
    const QPalette lightTip = QToolTip::palette();
    QPalette dark = light;
    for (const auto& [role, color] : std::initializer_list<std::pair<QPalette::ColorRole, QColor>>{
             {QPalette::Window, QColor(0x35, 0x35, 0x35)},
             {QPalette::WindowText, Qt::white},
             {QPalette::Base, QColor(0x2a, 0x2a, 0x2a)},
             {QPalette::Text, Qt::white},
             {QPalette::Button, QColor(0x35, 0x35, 0x35)},
             {QPalette::ButtonText, Qt::white},
             {QPalette::ToolTipBase, QColor(0x35, 0x35, 0x35)},
             {QPalette::ToolTipText, Qt::white},
             {QPalette::Link, QColor(0x2a, 0x82, 0xda)}}) {
        dark.setColor(role, color);
    }
    const auto restore = qScopeGuard([&] {
        QApplication::setPalette(light);
        QToolTip::setPalette(lightTip);
    });

    WriteFile(data_ / "a/1.tmp");
    std::string config = ConfigWithFolders(FolderElement(data_ / "a", "tmp"));
    // One column that is not read-only: it takes the tooltip colour of the theme.
    config.replace(config.find("ReadOnly=\"True\""), 15, "ReadOnly=\"False\"");
    WriteConfig(config);

    for (const QPalette& theme : {light, dark}) {
        QApplication::setPalette(theme);
        QToolTip::setPalette(theme);
        ResetConfigForTesting();
        TFMMain window;
        window.show();
        window.btnOpenFileClick();
        TfmSetting settings(nullptr);
        TFMAbout about(&window);
        TfmFolder addFolder(nullptr);
        TVirtualStringTree& vt = *window.VT;

        struct Pair {
            std::string what;
            QColor text;
            QColor background;
        };
        std::vector<Pair> pairs;
        const auto add = [&pairs](const std::string& what, const QPalette& palette,
                                  QPalette::ColorRole text, QPalette::ColorRole background) {
            for (const auto group : {QPalette::Active, QPalette::Inactive}) {
                pairs.push_back(
                    {what, palette.color(group, text), palette.color(group, background)});
            }
        };
        for (QWidget* grid :
             {static_cast<QWidget*>(window.VT), static_cast<QWidget*>(settings.VT)}) {
            auto* tree = static_cast<TVirtualStringTree*>(grid);
            add("rows", tree->palette(), QPalette::Text, QPalette::Base);
            add("header", tree->header()->palette(), QPalette::ButtonText, QPalette::Button);
            add("header", tree->header()->palette(), QPalette::WindowText, QPalette::Window);
        }
        add("expand arrows", vt.palette(), QPalette::WindowText, QPalette::Base);
        add("scroll bar arrows", vt.verticalScrollBar()->palette(), QPalette::WindowText,
            QPalette::Window);
        add("Check All", window.cbCheckAll->palette(), QPalette::WindowText, QPalette::Window);
        add("About link", about.Label5->palette(), QPalette::WindowText, QPalette::Window);
        add("folder link", addFolder.lblfolder->palette(), QPalette::WindowText, QPalette::Window);
        const PVirtualNode file = vt.GetNext(vt.GetFirst());
        ASSERT_NE(file, nullptr);
        for (int column = 0; column < 6; ++column) {
            const QModelIndex cell = vt.IndexOf(file, column);
            pairs.push_back({"cell " + std::to_string(column),
                             cell.data(Qt::ForegroundRole).value<QColor>(),
                             cell.data(Qt::BackgroundRole).value<QColor>()});
        }

        // A row a rule left unchecked reads paler, and still reads.
        vt.GetNodeData(file).SetKeptBy(TKeepReason::Recent);
        vt.SetCheckState(file, TCheckState::Unchecked);
        for (int column = 0; column < 6; ++column) {
            const QModelIndex cell = vt.IndexOf(file, column);
            const QColor muted = cell.data(Qt::ForegroundRole).value<QColor>();
            const QColor background = cell.data(Qt::BackgroundRole).isValid()
                                          ? cell.data(Qt::BackgroundRole).value<QColor>()
                                          : vt.palette().color(QPalette::Base);
            EXPECT_NE(muted, ReadableTextColor(background, {vt.palette().color(QPalette::Text)}));
            pairs.push_back({"muted cell " + std::to_string(column), muted, background});
        }

        for (const Pair& pair : pairs) {
            EXPECT_GE(ContrastRatio(pair.text, pair.background), kMinTextContrast)
                << pair.what << ": " << pair.text.name().toStdString() << " on "
                << pair.background.name().toStdString();
        }
        EXPECT_EQ(vt.palette().color(QPalette::Base), QColor(239, 243, 255));
        EXPECT_EQ(vt.header()->palette().color(QPalette::Button), QColor(123, 170, 255));
        EXPECT_EQ(window.cbCheckAll->palette().color(QPalette::Window), QColor(239, 243, 255));
        EXPECT_EQ(settings.VT->palette().color(QPalette::Base), QColor(0xEF, 0xF3, 0xFF));
    }
}

// A long scan or deletion shows how far it has come and keeps the window alive; the commands that
// would conflict with it are refused meanwhile, and Escape, its own button or a close stop it. A
// stopped scan keeps the rows found so far and says where it stopped; a stopped deletion leaves
// every file it did not remove on disk, listed and checked. A close follows once it stopped.
TEST_F(MainWindowTest, LongWorkRefusesConflictsAndStopsByEscapeButtonOrClose) {
    WriteConfig(ConfigWithFolders(FolderElement(data_ / "big", "tmp") +
                                  FolderElement(data_ / "next", "tmp")));
    enum class How { Escape, Button, Close };
    const auto stop = [](TFMMain& window, QAbstractButton& button, How how) {
        switch (how) {
            case How::Escape:
                QTest::keyClick(window.VT, Qt::Key_Escape);
                break;
            case How::Button:
                button.click();
                break;
            case How::Close:
                window.close();
                break;
        }
    };
    for (const How how : {How::Escape, How::Button, How::Close}) {
        SCOPED_TRACE(int(how));
        for (int i = 0; i < 200; ++i) {
            WriteFile(data_ / ("big/" + std::to_string(i) + ".tmp"));
            WriteFile(data_ / ("next/" + std::to_string(i) + ".tmp"));
        }
        TFMMain window;
        window.show();
        window.btnOpenFileClick();  // a first, whole scan: rows to try the boxes and sorting on
        ASSERT_EQ(window.VT->TotalCount(), 402u);
        int questions = 0;
        SetMessageHook([&](const TMessageRequest&) {
            ++questions;
            return QMessageBox::Yes;
        });
        const int modalRunsBefore = modalRuns_;
        QStringList shown;
        int reads = 0;
        QString captionMeanwhile;
        auto now = TProgressReporter::Clock::now();
        const auto oldClock = SetProgressClock([&] {
            shown << window.SBPanel0->text();
            if (++reads == 3) {
                captionMeanwhile = window.btnOpenFile->text();
                window.btnOpenFolder->click();
                window.btnApply->click();
                window.btnApplyClick();
                window.cbCheckAll->click();
                window.cbCheckAllClick();
                window.btnOpenFileClick();  // not a second scan inside the first
                PVirtualNode row = window.VT->GetFirstChild(window.VT->GetFirst());
                if (row != nullptr) {
                    window.VT->model()->setData(window.VT->IndexOf(row), Qt::Unchecked,
                                                Qt::CheckStateRole);
                }
                if (window.VT->OnHeaderClick) {
                    window.VT->OnHeaderClick(*window.VT, 2, Qt::LeftButton);
                }
            }
            if (reads == 5) {
                stop(window, *window.btnOpenFile, how);
            }
            return now += std::chrono::milliseconds(100);
        });
        window.btnOpenFileClick();
        SetProgressClock(oldClock);
        SetMessageHook({});

        EXPECT_EQ(captionMeanwhile, "&Stop");
        EXPECT_EQ(questions, 0);
        EXPECT_EQ(modalRuns_, modalRunsBefore);
        EXPECT_TRUE(window.cbCheckAll->isChecked());
        EXPECT_EQ(window.btnOpenFile->text(), "&Check Temps");
        for (QWidget* widget : std::initializer_list<QWidget*>{
                 window.btnOpenFile, window.btnOpenFolder, window.btnApply, window.cbCheckAll}) {
            EXPECT_TRUE(widget->isEnabled());
        }
        EXPECT_EQ(window.isVisible(), how != How::Close);
        // Stopped in the first folder: its rows so far, all checked and in the order of the
        // disk, and no row of the second.
        EXPECT_EQ(window.VT->RootNodeCount(), 1u);
        const std::size_t rows = window.VT->TotalCount() - 1;
        EXPECT_GT(rows, 0u);
        EXPECT_LT(rows, 200u);
        EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const QString& text) {
            return text.startsWith("Scanning " + QString::fromStdString(data_ / "big/")) &&
                   text.endsWith(" files found so far");
        })) << shown.join('|').toStdString();
        const QString count = QString::number(rows);
        EXPECT_EQ(window.SBPanel0->text(),
                  "Stopped while scanning " + QString::fromStdString(data_ / "big/") + "; " +
                      count + " files (0.00 B) listed, " + count + " (0.00 B) checked");
        for (PVirtualNode n = window.VT->GetFirstChild(window.VT->GetFirst()); n != nullptr;
             n = window.VT->GetNextSibling(n)) {
            EXPECT_EQ(window.VT->CheckState(n), TCheckState::Checked);
        }
        EXPECT_EQ(window.VT->GetNodeData(window.VT->GetFirst()).FullPath(), data_ / "big");
        // A scan reads and never deletes.
        EXPECT_EQ(std::distance(fs::directory_iterator(data_ / "big"), fs::directory_iterator()),
                  200);

        TFMMain deleting;
        deleting.show();
        deleting.btnOpenFileClick();
        SetMessageHook([&](const TMessageRequest&) {
            ++questions;
            return QMessageBox::Yes;
        });
        questions = 0;
        shown.clear();
        reads = 0;
        captionMeanwhile.clear();
        const auto deleteClock = SetProgressClock([&] {
            shown << deleting.SBPanel0->text();
            if (++reads == 2) {
                captionMeanwhile = deleting.btnOpenFolder->text();
                deleting.btnOpenFile->click();
                deleting.btnOpenFileClick();
                deleting.btnOpenFolderClick();  // not a second deletion inside the first
            }
            if (reads == 3) {
                stop(deleting, *deleting.btnOpenFolder, how);
            }
            return now += std::chrono::milliseconds(100);
        });
        deleting.btnOpenFolderClick();
        SetProgressClock(deleteClock);
        SetMessageHook({});
        EXPECT_EQ(questions, 1);
        EXPECT_EQ(captionMeanwhile, "&Stop");
        EXPECT_EQ(deleting.btnOpenFolder->text(), "&Delete");
        EXPECT_EQ(deleting.isVisible(), how != How::Close);
        EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const QString& text) {
            return text.startsWith("Deleting in ");
        })) << shown.join('|').toStdString();
        EXPECT_TRUE(deleting.SBPanel0->text().startsWith("Stopped while deleting in "))
            << deleting.SBPanel0->text().toStdString();
        // Each file left on disk has its row, checked, and each row left has its file.
        std::size_t onDisk = 0;
        for (const char* folder : {"big", "next"}) {
            onDisk += static_cast<std::size_t>(
                std::distance(fs::directory_iterator(data_ / folder), fs::directory_iterator()));
        }
        EXPECT_GT(onDisk, 0u);
        EXPECT_LT(onDisk, 400u);
        EXPECT_EQ(deleting.VT->TotalCount() - deleting.VT->RootNodeCount(), onDisk);
        for (PVirtualNode n = deleting.VT->GetFirst(); n != nullptr; n = deleting.VT->GetNext(n)) {
            if (deleting.VT->GetNodeLevel(n) > 0) {
                EXPECT_EQ(deleting.VT->CheckState(n), TCheckState::Checked);
                EXPECT_TRUE(fs::exists(std::string(deleting.VT->GetNodeData(n).FullPath())));
            }
        }
    }

    // Not stopped, it removes every checked file.
    for (int i = 0; i < 200; ++i) {
        WriteFile(data_ / ("big/" + std::to_string(i) + ".tmp"));
        WriteFile(data_ / ("next/" + std::to_string(i) + ".tmp"));
    }
    TFMMain window;
    window.show();
    window.btnOpenFileClick();
    SetMessageHook([](const TMessageRequest&) { return QMessageBox::Yes; });
    window.btnOpenFolderClick();
    SetMessageHook({});
    EXPECT_EQ(window.SBPanel0->text(),
              "400 files deleted, 0.00 B freed; 0 files (0.00 B) listed, "
              "0 (0.00 B) checked");
}

// A folder's age leaves recent files unchecked, and so does a program holding a file, in any
// folder; the rows stay listed, paler, with a hint that says why, until the user's own word.
TEST_F(MainWindowTest, RecentAndOpenFilesAreListedUncheckedUntilTheUserSaysOtherwise) {
    constexpr std::int64_t kSecond = 1'000'000'000;
    constexpr std::int64_t kHour = 3600 * kSecond;
    constexpr std::int64_t kDay = 24 * kHour;
    const auto nowNanos = [] {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return now.tv_sec * kSecond + now.tv_nsec;
    };
    // Every file here is born now; the scan starts a month later on its own clock.
    const std::int64_t start = nowNanos() + 30 * kDay;
    const auto written = [&](const std::string& path, std::int64_t before) {
        WriteFile(path, "12345");
        const std::int64_t t = start - before;
        const timespec times[2] = {{t / kSecond, t % kSecond}, {t / kSecond, t % kSecond}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    written(data_ / "aged/hour.tmp", kHour);
    written(data_ / "aged/six-days.tmp", 6 * kDay);
    written(data_ / "aged/eight-days.tmp", 8 * kDay);
    written(data_ / "aged/ahead.tmp", -kHour);
    written(data_ / "unpacked/old.tmp", 100 * kDay);  // born 30 days before the scan
    written(data_ / "plain/hour.tmp", kHour);
    written(data_ / "plain/open.tmp", 100 * kDay);
    written(data_ / "plain/mapped.tmp", 100 * kDay);
    written(data_ / "bad/old.tmp", 100 * kDay);
    const int open = ::open((data_ / "plain/open.tmp").c_str(), O_RDONLY | O_CLOEXEC);
    const int mapFd = ::open((data_ / "plain/mapped.tmp").c_str(), O_RDONLY | O_CLOEXEC);
    void* mapped = ::mmap(nullptr, 5, PROT_READ, MAP_PRIVATE, mapFd, 0);
    ::close(mapFd);  // only the mapping holds it now
    ASSERT_GE(open, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    const auto release = qScopeGuard([&] {
        ::munmap(mapped, 5);
        ::close(open);
    });
    WriteConfig(ConfigWithFolders(
        "<folder name=\"a\" fullpath=\"" + data_ / "aged" + "\" ext=\"tmp\" age=\"7\"/>" +
        "<folder name=\"u\" fullpath=\"" + data_ / "unpacked" + "\" ext=\"\" age=\"40\"/>" +
        FolderElement(data_ / "plain", "") + "<folder name=\"b\" fullpath=\"" + data_ / "bad" +
        "\" ext=\"\" age=\"a week\"/>"));
    TFMMain window;
    window.Clock = [start] { return start; };
    window.show();
    window.btnOpenFileClick();
    TVirtualStringTree& vt = *window.VT;

    const auto row = [&](const std::string& path) {
        for (PVirtualNode n = vt.GetFirst(); n != nullptr; n = vt.GetNext(n)) {
            if (vt.GetNodeData(n).FullPath() == path) {
                return n;
            }
        }
        ADD_FAILURE() << path << " is not listed";
        return PVirtualNode{};
    };
    const struct {
        const char* path;
        TKeepReason reason;
        const char* why;  // the hint's last line
    } expected[] = {
        {"aged/hour.tmp", TKeepReason::Recent,
         "Changed 1 hour ago; this folder keeps files changed in the last 7 days"},
        {"aged/six-days.tmp", TKeepReason::Recent,
         "Changed 6 days ago; this folder keeps files changed in the last 7 days"},
        {"aged/eight-days.tmp", TKeepReason::None, nullptr},
        {"aged/ahead.tmp", TKeepReason::Recent,
         "Changed 1 hour after the scan started; this folder keeps files changed in the last 7 "
         "days"},
        {"unpacked/old.tmp", TKeepReason::Recent, nullptr},
        {"plain/hour.tmp", TKeepReason::None, nullptr},
        {"plain/open.tmp", TKeepReason::InUse, nullptr},
        {"plain/mapped.tmp", TKeepReason::InUse, nullptr},
        {"bad/old.tmp", TKeepReason::BadAge,
         "This folder's age \"a week\" is not a whole number of days"},
    };
    const QString self = QStringLiteral("Open in %1 (process %2)")
                             .arg(QString::fromUtf8(program_invocation_short_name).left(15))
                             .arg(::getpid());
    const auto colour = [&](PVirtualNode n) { return vt.IndexOf(n, 1).data(Qt::ForegroundRole); };
    const QVariant plain = colour(row(data_ / "aged/eight-days.tmp"));
    for (const auto& e : expected) {
        const PVirtualNode n = row(data_ / e.path);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(vt.GetNodeData(n).KeptBy(), e.reason) << e.path;
        EXPECT_EQ(vt.CheckState(n) == TCheckState::Checked, e.reason == TKeepReason::None)
            << e.path;
        const QString hint = vt.IndexOf(n, 1).data(Qt::ToolTipRole).toString();
        if (e.why != nullptr) {
            EXPECT_TRUE(hint.endsWith(QString::fromUtf8(e.why))) << hint.toStdString();
        } else if (e.reason == TKeepReason::InUse) {
            EXPECT_TRUE(hint.endsWith(self)) << hint.toStdString();
        }
        EXPECT_EQ(colour(n) != plain, e.reason != TKeepReason::None) << e.path;
    }
    EXPECT_EQ(window.SBPanel0->text(),
              "The age \"a week\" of " + QString::fromStdString(data_ / "bad") +
                  " is not a whole number of days: none of its files was checked; 9 files "
                  "(45.00 B) listed, 2 (10.00 B) checked, 7 left unchecked as recent, in use or "
                  "another user's");

    // The user checks one: it is the user's from then on.
    const PVirtualNode hour = row(data_ / "aged/hour.tmp");
    vt.model()->setData(vt.IndexOf(hour, 0), Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(vt.GetNodeData(hour).KeptBy(), TKeepReason::None);
    EXPECT_EQ(colour(hour), plain);
    EXPECT_TRUE(
        window.SBPanel0->text().endsWith(", 6 left unchecked as recent, in use or another user's"));

    // "&Delete" takes the checked files only: every one a rule left stays on disk.
    SetMessageHook([](const TMessageRequest&) { return QMessageBox::Yes; });
    window.btnOpenFolderClick();
    SetMessageHook({});
    for (const auto& e : expected) {
        const bool deleted =
            e.reason == TKeepReason::None || std::string(e.path) == "aged/hour.tmp";
        EXPECT_EQ(test::Exists(data_ / e.path), !deleted) << e.path;
    }

    // "Check All" is the user's word for every row.
    window.cbCheckAll->setChecked(true);
    window.cbCheckAllClick();
    for (PVirtualNode n = vt.GetFirst(); n != nullptr; n = vt.GetNext(n)) {
        EXPECT_EQ(vt.GetNodeData(n).KeptBy(), TKeepReason::None);
    }
    EXPECT_FALSE(window.SBPanel0->text().contains("left unchecked"));
}

}  // namespace
}  // namespace purgala
