// Time texts in the user's locale, with the offset from UTC in force at the file's own date.
#include "util/FileTime.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace purgala {
namespace {

// 2021-07-04, UTC.
constexpr std::int64_t kJuly4 = 1625356800;
constexpr std::int64_t kHour = 3600;

TFileTime At(std::int64_t seconds) {
    return TFileTime{seconds};
}

// Sets the default locale and, when asked, the time zone, and puts both back afterwards.
class LocaleScope {
public:
    explicit LocaleScope(const char* locale, const char* tz = nullptr) {
        QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
        if (const char* old = std::getenv("TZ")) {
            oldTz_ = old;
        }
        if (tz != nullptr) {
            ::setenv("TZ", tz, 1);
            ::tzset();
        }
    }
    ~LocaleScope() {
        QLocale::setDefault(old_);
        if (oldTz_) {
            ::setenv("TZ", oldTz_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;

private:
    QLocale old_;
    std::optional<std::string> oldTz_;
};

TEST(FileTimeToText, TwelveHourLocale) {
    LocaleScope scope("en_US");
    EXPECT_EQ(FileTimeToText(At(kJuly4 + 15 * kHour + 4 * 60 + 5)), "7/4/21 3:04:05 PM");
    EXPECT_EQ(FileTimeToText(At(kJuly4 + 9 * kHour + 8 * 60 + 7)), "7/4/21 9:08:07 AM");
    EXPECT_EQ(FileTimeToText(At(kJuly4 + 12 * kHour + 30 * 60)), "7/4/21 12:30:00 PM");
    EXPECT_EQ(FileTimeToText(At(kJuly4 + 1)), "7/4/21 12:00:01 AM");
    EXPECT_EQ(FileTimeToText(At(kJuly4)), "7/4/21");
    EXPECT_EQ(FileTimeToText(At(-1)), "12/31/69 11:59:59 PM");
}

TEST(FileTimeToText, TwentyFourHourLocales) {
    {
        LocaleScope scope("de_DE");  // leading zero on hours
        EXPECT_EQ(FileTimeToText(At(kJuly4 + 15 * kHour + 4 * 60 + 5)), "04.07.21 15:04:05");
        EXPECT_EQ(FileTimeToText(At(kJuly4 + 9 * kHour + 8 * 60 + 7)), "04.07.21 09:08:07");
        EXPECT_EQ(FileTimeToText(At(kJuly4)), "04.07.21");
    }
    {
        LocaleScope scope("fi_FI");  // "." between the parts, no leading zero
        EXPECT_EQ(FileTimeToText(At(kJuly4 + 9 * kHour + 8 * 60 + 7)), "4.7.2021 9.08.07");
    }
}

TEST(FileTimeToText, DesignatorInFrontWhereTheLocalePutsIt) {
    LocaleScope scope("ko_KR");
    const std::string pm = QLocale().pmText().toStdString();
    EXPECT_EQ(FileTimeToText(At(kJuly4 + 15 * kHour + 4 * 60 + 5)), "21. 7. 4. " + pm + " 3:04:05");
}

TEST(FileTimeToText, ChangingTheLocaleChangesTheText) {
    const TFileTime t = At(kJuly4 + 15 * kHour);
    {
        LocaleScope scope("de_DE");
        EXPECT_EQ(FileTimeToText(t), "04.07.21 15:00:00");
    }
    EXPECT_EQ(FileTimeToText(t), "7/4/21 3:00:00 PM");
}

TEST(FileTimeToText, OffsetIsTheOneInForceAtTheDate) {
    LocaleScope scope("de_DE", "Europe/Berlin");
    // Summer time (UTC+2) and winter time (UTC+1), whatever today is.
    EXPECT_EQ(FileTimeToText(At(kJuly4 + 12 * kHour)), "04.07.21 14:00:00");
    constexpr std::int64_t kJanuary4 = 1609718400;
    EXPECT_EQ(FileTimeToText(At(kJanuary4 + 12 * kHour)), "04.01.21 13:00:00");
    // Local midnight, which is not midnight in UTC, shows the date alone.
    EXPECT_EQ(FileTimeToText(At(kJuly4 - 2 * kHour)), "04.07.21");
    EXPECT_EQ(FileTimeToText(At(kJanuary4 - kHour)), "04.01.21");
}

TEST(FileTimeToText, UnknownTimeIsEmpty) {
    EXPECT_EQ(FileTimeToText(TFileTime{}), "");
}

}  // namespace
}  // namespace purgala
