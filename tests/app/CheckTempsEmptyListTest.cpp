// "&Check Temps" with no folder configured: the settings open, the user adds a folder, and the
// scan that follows lists it.
#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <string>
#include <vector>

#include "app/uMain.h"
#include "config/Config.h"
#include "config/uAddFolder.h"
#include "config/uOptions.h"
#include "platform/Dialogs.h"
#include "tests/TestSupport.h"

namespace purgala {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class CheckTempsEmptyListTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDirForTesting(program.Path());
        ResetConfigForTesting();
    }
    void TearDown() override {
        SetModalHook({});
        ResetConfigForTesting();
        SetProgramDirForTesting({});
        QDir::setCurrent(oldDir);  // the add-folder dialog moves the working folder
    }

    TempDir program;
    TempDir data;
    const QString oldDir = QDir::currentPath();
};

TEST_F(CheckTempsEmptyListTest, OpensTheSettingsAndScansTheFolderJustAdded) {
    WriteFile(data / "a.tmp", "1");
    WriteFile(data / "sub/b.TMP", "22");
    WriteFile(data / "c.txt", "333");

    // The user's part: in the settings, "Add Folder To Check" and "Close"; in the add-folder
    // dialog, the data folder with the extension tmp and "OK".
    std::vector<std::string> runs;
    SetModalHook([&](QDialog& dialog) {
        dialog.show();
        if (auto* settings = dynamic_cast<TfmSetting*>(&dialog)) {
            runs.push_back("settings");
            QTest::mouseClick(settings->btnAdd, Qt::LeftButton);
            QTest::mouseClick(settings->btnExit, Qt::LeftButton);
        } else if (auto* folder = dynamic_cast<TfmFolder*>(&dialog)) {
            runs.push_back("folder");
            folder->dlb->SetDirectory(QString::fromStdString(data.Path()));
            folder->rb3->setChecked(true);
            QTest::keyClicks(folder->EdExt2, "tmp");
            QTest::mouseClick(folder->BitBtn3, Qt::LeftButton);
        }
        return dialog.result();
    });

    {
        TFMMain window;
        window.show();
        window.btnOpenFileClick();

        EXPECT_EQ(runs, (std::vector<std::string>{"settings", "folder"}));
        std::vector<std::string> files;
        PVirtualNode folderRow = window.VT->GetFirst();
        ASSERT_NE(folderRow, nullptr);
        EXPECT_EQ(window.VT->GetNodeData(folderRow).FullPath(), data.Path());
        for (PVirtualNode n = window.VT->GetNext(folderRow); n != nullptr;
             n = window.VT->GetNext(n)) {
            EXPECT_EQ(window.VT->NodeParent(n), folderRow);
            files.emplace_back(window.VT->GetNodeData(n).FullPath());
        }
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, (std::vector<std::string>{data / "a.tmp", data / "sub/b.TMP"}));
        EXPECT_NE(ReadFile(program / "PurgalaConfig.xml")
                      .find("fullpath=\"" + data.Path() + "\" ext=\"tmp\""),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace purgala
