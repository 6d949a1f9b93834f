// The well-known places: only those that exist, with their rules, and what each holds counted
// with no window.
#include "scan/KnownPlaces.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <filesystem>
#include <string>

#include "tests/TestSupport.h"

namespace purgala {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

QString Q(const std::string& path) {
    return QString::fromStdString(path);
}

TEST(KnownPlacesTest, OnlyPlacesThatExistAreOfferedWithTheirRules) {
    const TempDir temp;
    fs::create_directories(temp / "cache");
    fs::create_directories(temp / "tmp");
    fs::create_directories(temp / "home/Downloads");
    const auto paths = [](const std::vector<TKnownPlace>& places) {
        QStringList list;
        for (const TKnownPlace& place : places) {
            list << QStringLiteral("%1 %2 %3").arg(place.path, place.ext).arg(place.ageDays);
        }
        return list;
    };

    // /var/tmp is missing here; a path is cleaned of its trailing "/".
    TPlaceRoots roots{Q(temp / "cache/"), Q(temp / "tmp"), Q(temp / "var/tmp"),
                      Q(temp / "home/Downloads"), Q(temp / "home")};
    EXPECT_EQ(paths(KnownPlaces(roots)),
              QStringList({Q(temp / "cache") + "  30", Q(temp / "tmp") + "  10",
                           Q(temp / "home/Downloads") + " part;crdownload 7"}));

    // A download folder that is the home itself (user-dirs.dirs turns it off so) is no place.
    roots.downloads = Q(temp / "home/");
    roots.cache.clear();
    EXPECT_EQ(paths(KnownPlaces(roots)), QStringList({Q(temp / "tmp") + "  10"}));
}

TEST(KnownPlacesTest, EachPlaceIsCountedByItsOwnRules) {
    const TempDir temp;
    WriteFile(temp / "cache/a/one.bin", "12345");
    WriteFile(temp / "cache/two", "123");
    WriteFile(temp / "down/movie.mkv.part", "1234567");
    WriteFile(temp / "down/movie.mkv", "123");
    WriteFile(temp / "down/song.crdownload", "12");
    TPlaceMeasure measure({{Q(temp / "cache"), {}, 30, "cache"},
                           {Q(temp / "down"), "part;crdownload", 7, "downloads"},
                           {Q(temp / "gone"), {}, 10, "vanished since it was offered"}});
    std::vector<std::size_t> finished;
    while (!measure.Done()) {
        if (const auto place =
                measure.Step(TPlaceMeasure::Clock::now() + std::chrono::milliseconds(5))) {
            finished.push_back(*place);
        }
    }
    EXPECT_EQ(finished, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(measure.Result(0).totals.listed, (TFileCount{2, 8}));
    EXPECT_EQ(measure.Result(1).totals.listed, (TFileCount{2, 9}));
    // Files written just now are all recent: none would be checked.
    EXPECT_EQ(measure.Result(0).totals.checked, (TFileCount{0, 0}));
    EXPECT_EQ(measure.Result(2).unreadable.size(), 1u);
}

}  // namespace
}  // namespace purgala
