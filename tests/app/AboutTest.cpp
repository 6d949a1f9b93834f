#include "app/UAbout.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QUrl>
#include <vector>

#include "app/uMain.h"
#include "config/Config.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "tests/TestSupport.h"
#include "util/ShellActions.h"

namespace purgala {
namespace {

class AboutTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDirForTesting(dir_.Path());
        ResetConfigForTesting();
        oldShell_ = SetShellHook([this](const QUrl& url) { opened_.push_back(url); });
    }
    void TearDown() override {
        SetShellHook(oldShell_);
        SetModalHook({});
        ResetConfigForTesting();
        SetProgramDirForTesting({});
    }

    test::TempDir dir_;
    std::vector<QUrl> opened_;
    ShellHook oldShell_;
};

TEST_F(AboutTest, EveryShowingIsANewBoxWithTheVersionLine) {
    TFMMain window;
    std::vector<QPointer<TFMAbout>> boxes;
    SetModalHook([&](QDialog& dialog) {
        auto* about = qobject_cast<TFMAbout*>(&dialog);
        EXPECT_NE(about, nullptr);
        if (about != nullptr) {
            EXPECT_EQ(about->parentWidget(), &window);
            about->show();
            EXPECT_EQ(about->Label1->text(), "Vontra Purgala 2.5.3");
            boxes.emplace_back(about);
        }
        return int(QDialog::Rejected);
    });
    window.m1Click();
    window.m1Click();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].isNull());  // destroyed after its showing
    EXPECT_TRUE(boxes[1].isNull());
}

TEST_F(AboutTest, OnlyTheAddressLabelsReactToClicks) {
    TFMAbout about(nullptr);
    about.show();
    QTest::mouseClick(about.Label4, Qt::LeftButton);
    QTest::mouseClick(about.Label6, Qt::LeftButton);
    QTest::mouseClick(about.Label1, Qt::LeftButton);
    EXPECT_TRUE(opened_.empty());
    QTest::mouseClick(about.Label5, Qt::LeftButton);
    QTest::mouseClick(about.Label7, Qt::LeftButton);
    ASSERT_EQ(opened_.size(), 2u);
    EXPECT_EQ(opened_[0].scheme(), "https");
    EXPECT_EQ(opened_[1].scheme(), "mailto");
    EXPECT_EQ(about.Label5->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(AboutTest, HelpOpensTheHomePage) {
    TFMMain window;
    window.Help1->trigger();
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(opened_[0].toString().toStdString(), kHomePage);
}

}  // namespace
}  // namespace purgala
