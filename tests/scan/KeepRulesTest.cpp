#include "scan/KeepRules.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryFile>
#include <chrono>

namespace purgala {
namespace {

TEST(KeepRulesTest, AnAgeIsWholeDaysWrittenInDigitsOnly) {
    const struct {
        const char* text;
        bool rule;
        bool bad;
        int days;
    } cases[] = {
        {"", false, false, 0},          {"0", false, false, 0},    {"7", true, false, 7},
        {"007", true, false, 7},        {"-1", true, true, 0},     {"+7", true, true, 0},
        {"7.5", true, true, 0},         {"a week", true, true, 0}, {" 7", true, true, 0},
        {"99999999999", true, true, 0},
    };
    for (const auto& c : cases) {
        const TFolderSpec rule("/x", "", c.text);
        EXPECT_EQ(rule.HasAgeRule(), c.rule) << c.text;
        EXPECT_EQ(rule.badAge, c.bad) << c.text;
        EXPECT_EQ(rule.ageDays, c.days) << c.text;
    }
}

// A file is recent by the latest of its write and birth times (its status change where there is
// no birth time); access time never counts.
TEST(KeepRulesTest, RecentIsTheLatestChangeWithinTheAgeOrAfterTheStart) {
    constexpr std::int64_t kStart = 1'800'000'000;  // seconds
    constexpr std::int64_t kHour = 3600;
    constexpr std::int64_t kDay = 86400;
    const auto at = [](std::int64_t seconds) { return TFileTime{seconds, 0}; };
    const TFileTime unknown{};
    const struct {
        const char* what;
        const char* age;
        TFileTime write, birth, change, access;
        TKeepReason reason;
    } cases[] = {
        {"an hour ago", "7", at(kStart - kHour), unknown, at(kStart - 9 * kDay),
         at(kStart - 9 * kDay), TKeepReason::Recent},
        {"six days ago", "7", at(kStart - 6 * kDay), at(kStart - 9 * kDay), unknown, unknown,
         TKeepReason::Recent},
        {"eight days ago", "7", at(kStart - 8 * kDay), at(kStart - 9 * kDay), unknown, at(kStart),
         TKeepReason::None},
        {"ahead of the clock", "7", at(kStart + kHour), at(kStart - 9 * kDay), unknown, unknown,
         TKeepReason::Recent},
        {"unpacked: old write, new birth", "7", at(kStart - 90 * kDay), at(kStart - kHour), unknown,
         unknown, TKeepReason::Recent},
        {"old write, no birth, new status change", "7", at(kStart - 90 * kDay), unknown,
         at(kStart - kHour), unknown, TKeepReason::Recent},
        {"exactly the age", "7", at(kStart - 7 * kDay), at(kStart - 9 * kDay), unknown, unknown,
         TKeepReason::None},
        {"no age", "", at(kStart - kHour), at(kStart - kHour), unknown, unknown, TKeepReason::None},
        {"an age of no days", "0", at(kStart), at(kStart), unknown, unknown, TKeepReason::None},
        {"an age beyond 64 bits", "2000000000", at(kStart - 90 * kDay), at(kStart - 90 * kDay),
         unknown, unknown, TKeepReason::Recent},
        {"a bad age", "x", at(kStart - 90 * kDay), at(kStart - 90 * kDay), unknown, unknown,
         TKeepReason::BadAge},
    };
    for (const auto& c : cases) {
        TFileEntryInfo info;
        info.writeTime = c.write;
        info.createTime = c.birth;
        info.changeTime = c.change;
        info.accessTime = c.access;
        const TFolderSpec setup("/x", "", c.age);
        EXPECT_EQ(AgeReasonOf(setup, kStart * 1'000'000'000, info), c.reason) << c.what;
    }
}

TEST(KeepRulesTest, SpansAreGivenInTheirLargestWholeUnit) {
    constexpr std::int64_t kSecond = 1'000'000'000;
    EXPECT_EQ(SpanText(1 * kSecond), "1 second");
    EXPECT_EQ(SpanText(59 * kSecond), "59 seconds");
    EXPECT_EQ(SpanText(3 * 3600 * kSecond + 59 * kSecond), "3 hours");
    EXPECT_EQ(SpanText(86400 * kSecond), "1 day");
}

TEST(KeepRulesTest, TheHolderNamedIsTheLowestPidWhateverOrderProcessesWereReadIn) {
    const TFileIdentity file{1, 2};
    TOpenFiles early;
    early.Add(file, 900, "late");
    TOpenFiles late;
    late.Add(file, 40, "early");
    late.Add({1, 3}, 40, "early");
    for (TOpenFiles* first : {&early, &late}) {
        TOpenFiles merged;
        merged.Merge(*first);
        merged.Merge(first == &early ? late : early);
        ASSERT_NE(merged.HolderOf(file), nullptr);
        EXPECT_EQ(merged.HolderOf(file)->pid, 40);
        EXPECT_EQ(merged.Size(), 2u);
    }
}

TEST(KeepRulesTest, AHelperAndTheWaitingThreadTogetherFindAFileThisProcessHoldsOpen) {
    QTemporaryFile held;
    ASSERT_TRUE(held.open());
    struct stat st {};
    ASSERT_EQ(::fstat(held.handle(), &st), 0);
    TOpenFilesCollector collector;
    collector.StartHelper();
    while (!collector.Finish(TOpenFilesCollector::Clock::now() + std::chrono::milliseconds(1))) {
    }
    const TOpenFiles files = collector.Take();
    const TFileHolder* holder = files.HolderOf(
        {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(holder->pid, ::getpid());
}

}  // namespace
}  // namespace purgala
