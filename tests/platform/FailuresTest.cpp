#include "platform/Failures.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Errors.h"

namespace purgala {
namespace {

class FailuresTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetErrorHandler([this](const std::string& message) { messages_.push_back(message); });
    }
    void TearDown() override { SetErrorHandler({}); }

    std::vector<std::string> messages_;
};

class TFailingWidget : public QPushButton {
public:
    TFailingWidget() {
        connect(this, &QPushButton::clicked, this, GuardedSlot(this, &TFailingWidget::Fail));
    }
    void Fail() {
        ++runs;
        throw InOutError("disk gone");
    }
    int runs = 0;
};

TEST_F(FailuresTest, AFailingSlotEndsInTheHandlerAndTheClickReturns) {
    TFailingWidget button;
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(button.runs, 2);
    EXPECT_EQ(messages_, (std::vector<std::string>{"disk gone", "disk gone"}));
}

TEST_F(FailuresTest, AnythingThrownIsTakenAndAFailingHandlerIsSwallowed) {
    RunGuarded([] { throw 42; });
    EXPECT_EQ(messages_, (std::vector<std::string>{"unknown failure"}));
    SetErrorHandler([](const std::string&) { throw std::runtime_error("handler broke"); });
    RunGuarded([] { throw ParseError("bad file"); });  // must not escape
    SetErrorHandler({});
    RunGuarded([] { throw ParseError("bad file"); });  // no handler: dropped
}

}  // namespace
}  // namespace purgala
