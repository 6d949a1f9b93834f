// "&Check Temps" with no window: what a consumer hears, how the rules judge each file, the
// totals, and the folders that could not be read.
#include "scan/CheckTemps.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "config/Config.h"
#include "scan/FolderSpec.h"
#include "scan/ResultRows.h"
#include "tests/TestSupport.h"
#include "util/DeleteRun.h"

namespace purgala {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

// Writes down every event as a line, as a printer would, keeping nothing else.
class TRecorder : public IScanConsumer {
public:
    std::vector<std::string> events;

    void FolderBegun(const TFolderSpec& setup) override { events.push_back("begun " + setup.path); }
    void FileListed(const TListedEntry& file) override {
        events.push_back("file " + file.folder->PathWith(file.name) + " " +
                         std::to_string(static_cast<int>(file.reason)));
    }
    void FolderUnreadable(const TUnreadableFolder& folder) override {
        events.push_back("unreadable " + folder.path + " " + std::to_string(folder.error));
    }
    void FolderDone(const TFolderSpec& setup) override { events.push_back("done " + setup.path); }
};

TCheckTempsOptions Quiet() {
    TCheckTempsOptions options;
    options.procRoot = "/nonexistent";  // no process holds a file
    return options;
}

TEST(CheckTempsTest, FoldersInTheirOrderEachWithItsFilesAndWhatCouldNotBeRead) {
    const TempDir temp;
    WriteFile(temp / "a/one.tmp", "1");
    WriteFile(temp / "a/skip.txt", "22");
    WriteFile(temp / "b/two.tmp", "333");
    TRecorder recorder;
    TCheckTemps run({TFolderSpec(temp / "a", "tmp"), TFolderSpec(temp / "missing", "tmp"),
                     TFolderSpec(temp / "b", "")},
                    recorder, Quiet());
    run.Run();
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"begun " + temp / "a", "file " + temp / "a/one.tmp 0",
                                        "done " + temp / "a", "begun " + temp / "missing",
                                        "unreadable " + temp / "missing " + std::to_string(ENOENT),
                                        "done " + temp / "missing", "begun " + temp / "b",
                                        "file " + temp / "b/two.tmp 0", "done " + temp / "b"}));
    const TCheckTempsResult& result = run.Result();
    EXPECT_EQ(result.totals.listed, (TFileCount{2, 4}));
    EXPECT_EQ(result.totals.checked, (TFileCount{2, 4}));
    EXPECT_EQ(result.totals.kept, TFileCount{});
    ASSERT_EQ(result.unreadable.size(), 1u);
    EXPECT_EQ(result.unreadable[0].path, temp / "missing");
    EXPECT_FALSE(result.stopped);
}

// Each rule in turn: the age, a file held open, another user's file in a folder that lets only
// a file's owner remove it, an age that is no whole number of days. The in-use rule reaches a
// plain consumer as the file's reason, and a keeping one (the rows) afterwards.
TEST(CheckTempsTest, TheRulesLeaveFilesUncheckedAndSayWhy) {
    const TempDir temp;
    // A birth time cannot be set back: the scan starts sixty days from now instead, so that a
    // file born today is old, and one written fifty days from now is recent.
    constexpr std::int64_t kDay = 86'400;
    const std::int64_t now = ::time(nullptr);
    WriteFile(temp / "aged/old.tmp");
    WriteFile(temp / "aged/new.tmp");
    const struct timespec later[2] = {{now, 0}, {now + 50 * kDay, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (temp / "aged/new.tmp").c_str(), later, AT_SYMLINK_NOFOLLOW),
              0);
    WriteFile(temp / "held/open.tmp");
    WriteFile(temp / "held/free.tmp");
    const int held = ::open((temp / "held/open.tmp").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    WriteFile(temp / "shared/theirs.tmp");
    ASSERT_EQ(::chmod((temp / "shared").c_str(), 01777), 0);
    WriteFile(temp / "bad/any.tmp");
    // Someone who owns neither the shared folder nor its file; root may remove anything.
    const std::uint32_t stranger = ::geteuid() + 4242;

    const auto setups = [&] {
        return std::vector<TFolderSpec>{
            TFolderSpec(temp / "aged", "tmp", "30"), TFolderSpec(temp / "held", "tmp"),
            TFolderSpec(temp / "shared", "tmp"), TFolderSpec(temp / "bad", "tmp", "a week")};
    };
    const auto reasonOf = [&](const std::vector<std::string>& events, const std::string& path) {
        for (const std::string& event : events) {
            if (event.starts_with("file " + path + " ")) {
                return static_cast<TKeepReason>(std::stoi(event.substr(event.rfind(' ') + 1)));
            }
        }
        ADD_FAILURE() << path << " was not listed";
        return TKeepReason::None;
    };
    for (const std::optional<std::uint32_t> user :
         {std::optional<std::uint32_t>(stranger), std::optional<std::uint32_t>(0u)}) {
        SCOPED_TRACE(*user);
        TRecorder recorder;
        TCheckTempsOptions options;
        options.user = user;
        options.startNanos = (now + 60 * kDay) * 1'000'000'000;
        TCheckTemps run(setups(), recorder, options);
        run.Run();
        const auto& events = recorder.events;
        EXPECT_EQ(reasonOf(events, temp / "aged/old.tmp"), TKeepReason::None);
        EXPECT_EQ(reasonOf(events, temp / "aged/new.tmp"), TKeepReason::Recent);
        EXPECT_EQ(reasonOf(events, temp / "held/open.tmp"), TKeepReason::InUse);
        EXPECT_EQ(reasonOf(events, temp / "held/free.tmp"), TKeepReason::None);
        EXPECT_EQ(reasonOf(events, temp / "shared/theirs.tmp"),
                  *user == 0 ? TKeepReason::None : TKeepReason::NotYours);
        EXPECT_EQ(reasonOf(events, temp / "bad/any.tmp"), TKeepReason::BadAge);
        const TCheckTempsResult& result = run.Result();
        EXPECT_EQ(result.totals.listed.count, 6u);
        EXPECT_EQ(result.totals.kept.count, *user == 0 ? 3u : 4u);
        EXPECT_EQ(result.totals.checked.count, *user == 0 ? 3u : 2u);
        EXPECT_EQ(result.badAges, std::vector<std::size_t>{3});
        ASSERT_NE(result.openFiles, nullptr);

        // The same into rows: the file in use is kept once the processes are read.
        TResultTree tree;
        TRowRules rules;
        TResultRows rows(tree, rules);
        TCheckTemps intoRows(setups(), rows, options);
        intoRows.Run();
        EXPECT_EQ(intoRows.Result().totals.kept.count, result.totals.kept.count);
        std::size_t keptRows = 0;
        for (PVirtualNode n = tree.GetFirst(); n; n = tree.GetNext(n)) {
            const TFileNodeData& data = tree.GetNodeData(n);
            if (n.IsTopLevel()) {
                continue;
            }
            EXPECT_EQ(tree.CheckState(n) == TCheckState::Checked,
                      data.KeptBy() == TKeepReason::None);
            keptRows += data.KeptBy() == TKeepReason::None ? 0 : 1;
            if (data.FileName() == "open.tmp") {
                EXPECT_EQ(data.KeptBy(), TKeepReason::InUse);
            }
            if (data.FileName() == "theirs.tmp" && *user != 0) {
                rules.SetOpenFiles(intoRows.Result().openFiles);
                EXPECT_TRUE(rules.Why(tree, n).startsWith("Belongs to "))
                    << rules.Why(tree, n).toStdString();
                EXPECT_TRUE(
                    rules.Why(tree, n).endsWith("; this folder lets only its owner remove it"));
            }
        }
        EXPECT_EQ(keptRows, result.totals.kept.count);

        // Delete takes the checked rows only: what a rule kept is neither tried nor a failure.
        TDeleteRun removal(tree, /*toTrash=*/false);
        removal.Run();
        EXPECT_TRUE(removal.Failures().all.empty());
        EXPECT_EQ(test::Exists(temp / "shared/theirs.tmp"), *user != 0);
        EXPECT_TRUE(test::Exists(temp / "aged/new.tmp"));
        WriteFile(temp / "aged/old.tmp");
        WriteFile(temp / "held/free.tmp");
        if (*user == 0) {
            WriteFile(temp / "shared/theirs.tmp");
        }
    }
    ::close(held);
}

TEST(CheckTempsTest, AStopEndsTheWalkKeepingWhatWasHandedOver) {
    const TempDir temp;
    for (int i = 0; i < 200; ++i) {
        WriteFile(temp / ("f" + std::to_string(i) + ".tmp"));
    }
    TRecorder recorder;
    TCheckTempsOptions options = Quiet();
    TCheckTemps* self = nullptr;
    std::size_t seen = 0;
    options.progress = [&](const TScanFolder&, std::size_t listed) {
        seen = listed;
        if (listed == 10) {
            self->Stop();
        }
    };
    TCheckTemps run({TFolderSpec(temp.Path(), "tmp"), TFolderSpec(temp.Path(), "tmp")}, recorder,
                    options);
    self = &run;
    run.Run();
    EXPECT_TRUE(run.Result().stopped);
    EXPECT_EQ(run.Result().stoppedIn, temp.Path() + "/");
    EXPECT_EQ(run.Result().totals.listed.count, 10u);
    EXPECT_EQ(seen, 10u);
    EXPECT_EQ(recorder.events.back(), "done " + temp.Path());  // the second folder never began
}

// A kept folder is passed by without being opened: nothing in it reaches a reader, and one that
// could not be read is no failure. A kept file is not listed; everything else is, as before.
TEST(CheckTempsTest, KeptFoldersAreNeverReadAndKeptFilesNeverListed) {
    const TempDir temp;
    for (const char* name :
         {"a.tmp", "x.lock", "sub/b.tmp", "sub/mozilla/inside.tmp", "sub/locked/inside.tmp",
          "cache/c.tmp", "cache/shader-cache/s/inside.tmp", "other/cache/d.tmp"}) {
        WriteFile(temp / name);
    }
    ASSERT_EQ(::chmod((temp / "sub/locked").c_str(), 0), 0);
    TRecorder recorder;
    TCheckTempsOptions options = Quiet();
    std::mutex mutex;
    std::vector<std::string> read;  // every entry a reader handled
    options.disturb = [&](std::string_view name) {
        const std::lock_guard lock(mutex);
        read.emplace_back(name);
    };
    TCheckTemps run({TFolderSpec(temp.Path(), "tmp;lock", {},
                                 "mozilla/;locked/;*.lock;/cache/**/shader-cache/")},
                    recorder, options);
    run.Run();
    ::chmod((temp / "sub/locked").c_str(), 0700);
    // Between "begun" and "done", in the order the folders give their entries.
    std::vector<std::string> files(recorder.events.begin() + 1, recorder.events.end() - 1);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{
                         "file " + temp / "a.tmp 0", "file " + temp / "cache/c.tmp 0",
                         "file " + temp / "other/cache/d.tmp 0", "file " + temp / "sub/b.tmp 0"}));
    EXPECT_TRUE(run.Result().unreadable.empty());
    EXPECT_EQ(std::count(read.begin(), read.end(), "inside.tmp"), 0);
    EXPECT_EQ(std::count(read.begin(), read.end(), "s"), 0);
    EXPECT_EQ(std::count(read.begin(), read.end(), "mozilla"), 1);  // met, not entered
    // Without the patterns the same walk reads them and finds the locked folder unreadable
    // (where the tests run without root's right to read anything).
    TRecorder plain;
    TCheckTemps all({TFolderSpec(temp.Path(), "tmp;lock")}, plain, Quiet());
    ASSERT_EQ(::chmod((temp / "sub/locked").c_str(), 0), 0);
    all.Run();
    ::chmod((temp / "sub/locked").c_str(), 0700);
    EXPECT_EQ(all.Result().totals.listed.count, ::geteuid() == 0 ? 8u : 7u);
    EXPECT_EQ(all.Result().unreadable.size(), ::geteuid() == 0 ? 0u : 1u);
}

// The folders of a document, one setup each, in document order.
TEST(CheckTempsTest, EachFolderOfTheDocumentGivesOneSpec) {
    const TempDir program;
    SetProgramDirForTesting(program.Path());
    ResetConfigForTesting();
    WriteFile(program / "PurgalaConfig.xml",
              test::ConfigWithFolders(
                  "<folder name=\"a\" fullpath=\"/x/a\" ext=\"tmp\"/>"
                  "<folder name=\"b\" fullpath=\"/x/b\" ext=\"\" age=\"7\"/>"
                  "<folder name=\"c\" fullpath=\"/x/\xC3\xA9\" ext=\"log;bak\" age=\"soon\" "
                  "keep=\"\xC3\xA9t\xC3\xA9/;*.lock\"/>"));
    const std::vector<TFolderSpec> setups = FolderSpecsOf(GetConfig().GetRoot()->GetFolders());
    ResetConfigForTesting();
    SetProgramDirForTesting({});
    ASSERT_EQ(setups.size(), 3u);
    EXPECT_EQ(setups[0].path, "/x/a");
    EXPECT_TRUE(setups[0].filter.Matches("a.TMP"));
    EXPECT_FALSE(setups[0].HasAgeRule());
    EXPECT_EQ(setups[1].ageDays, 7);
    EXPECT_TRUE(setups[1].filter.MatchesAll());
    EXPECT_EQ(setups[2].path, "/x/\xC3\xA9");
    EXPECT_TRUE(setups[2].badAge);
    EXPECT_EQ(setups[2].ageText, "soon");
    EXPECT_TRUE(setups[0].keepPatterns.Empty());
    EXPECT_TRUE(setups[2].filter.Matches("x.BAK"));
    EXPECT_EQ(setups[2].keep, "\xC3\xA9t\xC3\xA9/;*.lock");
    EXPECT_TRUE(setups[2].keepPatterns.Keeps("a/\xC3\xA9t\xC3\xA9", true));
}

}  // namespace
}  // namespace purgala
