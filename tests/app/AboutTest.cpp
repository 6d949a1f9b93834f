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

TEST_F(AboutTest, OnlyAClickOnAnAddressLabelActsAndEscapeDoesNotClose) {
    TFMAbout about(nullptr);
    about.show();
    QTest::mouseClick(about.Label4, Qt::LeftButton);
    QTest::mouseClick(about.Label6, Qt::LeftButton);
    QTest::mouseClick(about.Label1, Qt::LeftButton);
    EXPECT_TRUE(opened_.empty());
    EXPECT_EQ(about.Label5->cursor().shape(), Qt::PointingHandCursor);

    // The label that took the press also gets the release, wherever the mouse went meanwhile.
    struct Case {
        QLabel* link;
        QPoint release;  // in the link's coordinates
        const char* scheme;
    };
    const std::vector<Case> cases = {
        {about.Label5, {5, 5}, "https"},
        {about.Label7, {5, 5}, "mailto"},
        {about.Label5, {5, 40}, nullptr},
        {about.Label7, {-20, 5}, nullptr},
    };
    for (const Case& c : cases) {
        opened_.clear();
        QTest::mousePress(c.link, Qt::LeftButton, {}, {5, 5});
        QTest::mouseRelease(c.link, Qt::LeftButton, {}, c.release);
        if (c.scheme != nullptr) {
            ASSERT_EQ(opened_.size(), 1u);
            EXPECT_EQ(opened_[0].scheme(), c.scheme);
        } else {
            EXPECT_TRUE(opened_.empty()) << c.release.x() << "," << c.release.y();
        }
    }

    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_TRUE(about.isVisible());
    about.close();
    EXPECT_FALSE(about.isVisible());
}

TEST_F(AboutTest, HelpOpensTheHomePage) {
    TFMMain window;
    window.Help1->trigger();
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(opened_[0].toString().toStdString(), kHomePage);
}

}  // namespace
}  // namespace purgala
