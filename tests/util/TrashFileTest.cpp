// Moving listed files to the trash: which trash takes them, what trash-cli then lists and
// restores, what stays where no trash may be used, and that no file is lost on any path.
#include "util/TrashFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace purgala {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::ReadFile;
using test::StampOfPath;
using test::TempDir;
using test::WriteFile;

struct TListing {
    std::string folder;
    std::string fullPath;
    TFileStamp stamp = StampOfPath(fullPath);
    TFileIdentity folderIdentity = StampOfPath(folder).identity;
    TListedFile View() const { return {folder, fullPath, folderIdentity, stamp}; }
};

// Runs a program with `env` added and `input` on its standard input; its output, or nullopt when
// it failed.
std::optional<std::string> RunTool(const std::vector<std::string>& argv,
                                   const std::vector<std::string>& env,
                                   const std::string& input = {}) {
    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) {
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::close(in[1]);
        ::close(out[0]);
        for (const std::string& e : env) {
            ::putenv(const_cast<char*>(e.c_str()));
        }
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    [[maybe_unused]] const ssize_t wrote = ::write(in[1], input.data(), input.size());
    ::close(in[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::optional(output) : std::nullopt;
}

bool HaveTrashCli() {
    return RunTool({"trash-list", "--version"}, {}).has_value();
}

// The contents of every regular file below `roots`, info files aside, sorted: each file made by
// a test has contents of its own, so a lost or doubled file shows as a difference.
std::vector<std::string> ContentsBelow(const std::vector<std::string>& roots) {
    std::vector<std::string> contents;
    for (const std::string& root : roots) {
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file() && !entry.is_symlink() &&
                entry.path().extension() != ".trashinfo") {
                contents.push_back(ReadFile(entry.path()));
            }
        }
    }
    std::sort(contents.begin(), contents.end());
    return contents;
}

// A tmpfs mounted below a temporary folder while the object lives: another file system.
bool MountTmpfs(const std::string& path) {
    return ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=4m") == 0;
}

class TrashFileTest : public ::testing::Test {
protected:
    std::string HomeTrash() const { return home_ + "/.local/share/Trash"; }
    TTrashMover Mover() const { return TTrashMover({home_ + "/.local/share", ::getuid()}); }
    // What trash-cli needs to see the test's own trash, and to print names as bytes.
    std::vector<std::string> ToolEnv() const {
        return {"HOME=" + home_, "XDG_DATA_HOME=" + home_ + "/.local/share",
                "PYTHONIOENCODING=utf-8:surrogateescape", "LC_ALL=C.UTF-8"};
    }
    // The original paths trash-cli lists from below this test's folder, sorted.
    std::vector<std::string> TrashList() const {
        const std::optional<std::string> out = RunTool({"trash-list"}, ToolEnv());
        std::vector<std::string> paths;
        if (!out) {
            ADD_FAILURE() << "trash-list failed";
            return paths;
        }
        const std::regex line("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (.*)$");
        std::smatch match;
        std::istringstream lines(*out);
        for (std::string text; std::getline(lines, text);) {
            // Other tests' trashes on other mounts are listed too: only this test's count.
            if (std::regex_match(text, match, line) &&
                match[1].str().starts_with(temp_.Path() + "/")) {
                paths.push_back(match[1]);
            }
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    // trash-restore takes one file per run: the first of those trashed from below `folder`.
    void TrashRestoreAll(const std::string& folder, std::size_t count) const {
        for (std::size_t i = 0; i < count; ++i) {
            const std::string cd = "cd '" + folder + "' && exec trash-restore";
            EXPECT_TRUE(RunTool({"sh", "-c", cd}, ToolEnv(), "0\n")) << "trash-restore " << i;
        }
    }

    TempDir temp_;
    const std::string home_ = temp_ / "home";
    const std::string folder_ = temp_ / "conf";
};

std::string InfoOf(const std::string& trash, const std::string& name) {
    return ReadFile(trash + "/info/" + name + ".trashinfo");
}

TEST_F(TrashFileTest, HomeTrashTakesOddAndRepeatedNamesAndTrashCliRestoresThemByteForByte) {
    const std::string odd = "with space %41 \xff.tmp";
    const std::string longName = std::string(250, 'n') + ".tmp";
    const std::vector<std::string> files = {folder_ + "/a.tmp", folder_ + "/sub/a.tmp",
                                            folder_ + "/" + odd, folder_ + "/" + longName};
    for (const std::string& f : files) {
        WriteFile(f, "contents of " + f);
    }
    const std::vector<std::string> before = ContentsBelow({folder_});
    TTrashMover mover = Mover();
    for (const std::string& f : files) {
        const TDeleteOutcome outcome = mover.MoveToTrash(TListing{folder_, f}.View());
        EXPECT_EQ(outcome.result, TDeleteResult::Trashed) << f << ": " << outcome.reason;
        EXPECT_FALSE(Exists(f));
    }
    EXPECT_TRUE(fs::is_directory(folder_ + "/sub"));
    EXPECT_EQ(ContentsBelow({folder_, home_}), before);

    // The second a.tmp gets a name of its own; paths are absolute, bytes percent-encoded, the
    // date local time to the second.
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/a.tmp"), "contents of " + files[0]);
    EXPECT_EQ(ReadFile(HomeTrash() + "/files/a.tmp.2"), "contents of " + files[1]);
    const std::regex info(
        "\\[Trash Info\\]\nPath=(.*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
    std::smatch match;
    const std::string oddInfo = InfoOf(HomeTrash(), odd);
    ASSERT_TRUE(std::regex_match(oddInfo, match, info)) << oddInfo;
    EXPECT_EQ(match[1], TrashInfoPath(folder_) + "/with%20space%20%2541%20%FF.tmp");
    // A name too long for its info file's name is cut short in the trash only.
    EXPECT_TRUE(Exists(HomeTrash() + "/files/" + longName.substr(0, 245)));

    if (!HaveTrashCli()) {
        GTEST_SKIP() << "trash-cli is not installed (scripts/setup installs it)";
    }
    // trash-cli decodes %FF as UTF-8 would, so it shows that one name with a replacement
    // character and cannot give it back by its bytes: that file is put back as its info file
    // says, the others by trash-restore.
    std::vector<std::string> listed = {files[0], files[1], folder_ + "/with space %41 \uFFFD.tmp",
                                       files[3]};
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(TrashList(), listed);
    fs::rename(HomeTrash() + "/files/" + odd, folder_ + "/" + odd);
    fs::remove(HomeTrash() + "/info/" + odd + ".trashinfo");
    TrashRestoreAll(folder_, files.size() - 1);
    for (const std::string& f : files) {
        EXPECT_EQ(ReadFile(f), "contents of " + f) << f;
    }
    EXPECT_TRUE(fs::is_empty(HomeTrash() + "/files"));
    EXPECT_TRUE(fs::is_empty(HomeTrash() + "/info"));
}

// On another file system: the trash at its top, chosen by what .Trash is there.
TEST_F(TrashFileTest, AnotherFileSystemUsesItsTopTrashOnlyWhereItIsSafe) {
    const std::string uid = std::to_string(::getuid());
    struct Case {
        const char* what;
        void (*prepare)(const std::string& top);
        const char* trash;  // relative to the top; empty: no usable trash
    };
    const Case cases[] = {
        {"no .Trash", [](const std::string&) {}, ".Trash-UID"},
        {"sticky .Trash",
         [](const std::string& top) {
             fs::create_directory(top + "/.Trash");
             fs::permissions(top + "/.Trash", fs::perms::all | fs::perms::sticky_bit);
         },
         ".Trash/UID"},
        {".Trash without the sticky bit",
         [](const std::string& top) {
             fs::create_directory(top + "/.Trash");
             fs::permissions(top + "/.Trash", fs::perms::all);
         },
         ".Trash-UID"},
        {".Trash a link to a sticky folder",
         [](const std::string& top) {
             fs::create_directory(top + "/shared");
             fs::permissions(top + "/shared", fs::perms::all | fs::perms::sticky_bit);
             fs::create_directory_symlink("shared", top + "/.Trash");
         },
         ".Trash-UID"},
        {".Trash-UID a file",
         [](const std::string& top) { WriteFile(top + "/.Trash-" + std::to_string(::getuid())); },
         ""},
        {".Trash-UID a link to a folder",
         [](const std::string& top) {
             fs::create_directory(top + "/elsewhere");
             fs::create_directory_symlink("elsewhere",
                                          top + "/.Trash-" + std::to_string(::getuid()));
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string top = temp_ / "mnt";
        const test::ScopedMount tmpfs(
            top, [&] { return MountTmpfs(top); }, "cannot mount a tmpfs here");
        if (!tmpfs.WhyNot().empty()) {
            GTEST_SKIP() << tmpfs.WhyNot();
        }
        c.prepare(top);
        const std::string folder = top + "/conf";
        const std::string file = folder + "/sub/x.tmp";
        WriteFile(file, "on the other file system");
        WriteFile(HomeTrash() + "/files/keep", "home trash");  // not the one to use
        const std::vector<std::string> before = ContentsBelow({top, home_});

        const TDeleteOutcome outcome = Mover().MoveToTrash(TListing{folder, file}.View());
        EXPECT_EQ(ContentsBelow({top, home_}), before);
        std::string trash = c.trash;
        if (trash.empty()) {
            EXPECT_EQ(outcome.result, TDeleteResult::Failed);
            EXPECT_EQ(outcome.reason, kNoTrash);
            EXPECT_EQ(ReadFile(file), "on the other file system");
            continue;
        }
        trash = top + "/" + std::regex_replace(trash, std::regex("UID"), uid);
        ASSERT_EQ(outcome.result, TDeleteResult::Trashed) << outcome.reason;
        EXPECT_EQ(ReadFile(trash + "/files/x.tmp"), "on the other file system");
        EXPECT_NE(InfoOf(trash, "x.tmp").find("\nPath=conf/sub/x.tmp\n"), std::string::npos);
        EXPECT_EQ(fs::status(trash).permissions() & fs::perms::all, fs::perms::owner_all);
        if (HaveTrashCli()) {
            const std::vector<std::string> listed = TrashList();
            EXPECT_NE(std::find(listed.begin(), listed.end(), file), listed.end());
            TrashRestoreAll(folder, 1);
            EXPECT_EQ(ReadFile(file), "on the other file system");
        }
        fs::remove_all(home_);
    }
}

TEST_F(TrashFileTest, FileReplacedSinceTheScanStaysAndTheTrashIsLeftClean) {
    WriteFile(folder_ + "/a.tmp", "listed");
    const TListing listed{folder_, folder_ + "/a.tmp"};
    WriteFile(folder_ + "/new", "replacement");
    fs::rename(folder_ + "/new", folder_ + "/a.tmp");
    const TDeleteOutcome outcome = Mover().MoveToTrash(listed.View());
    EXPECT_EQ(outcome.result, TDeleteResult::Failed);
    EXPECT_EQ(outcome.reason, kChangedSinceScan);
    EXPECT_EQ(ReadFile(folder_ + "/a.tmp"), "replacement");
    EXPECT_FALSE(Exists(HomeTrash() + "/info/a.tmp.trashinfo"));
}

// What no check before a rename can see: another file takes the listed name between the check
// and the move. It is put back, or, when its name is taken again meanwhile, kept in the trash
// with its info file so that it can be restored.
TEST_F(TrashFileTest, AFileSwappedInJustBeforeTheMoveIsPutBackOrKeptRestorable) {
    for (const bool takenAgain : {false, true}) {
        SCOPED_TRACE(takenAgain ? "name taken again" : "name free");
        const TempDir data;
        const std::string folder = data / "conf";
        const std::string aside = data / "aside";
        WriteFile(folder + "/a.tmp", "listed");
        const TListing listed{folder, folder + "/a.tmp"};
        TTrashMover mover = Mover();
        mover.stepHook = [&](TTrashStep step) {
            if (step == TTrashStep::BeforeMove) {
                fs::rename(folder + "/a.tmp", aside);
                WriteFile(folder + "/a.tmp", "swapped in");
            } else if (takenAgain) {
                WriteFile(folder + "/a.tmp", "taken again");
            }
        };
        const TDeleteOutcome outcome = mover.MoveToTrash(listed.View());
        mover.stepHook = nullptr;
        EXPECT_EQ(outcome.result, TDeleteResult::Failed);
        EXPECT_EQ(ReadFile(aside), "listed");
        if (!takenAgain) {
            EXPECT_EQ(outcome.reason, kChangedSinceScan);
            EXPECT_EQ(ReadFile(folder + "/a.tmp"), "swapped in");
            EXPECT_TRUE(fs::is_empty(HomeTrash() + "/info"));
        } else {
            EXPECT_NE(outcome.reason.find("in the trash as a.tmp"), std::string::npos)
                << outcome.reason;
            EXPECT_EQ(ReadFile(folder + "/a.tmp"), "taken again");
            EXPECT_EQ(ReadFile(HomeTrash() + "/files/a.tmp"), "swapped in");
            EXPECT_NE(InfoOf(HomeTrash(), "a.tmp").find("Path=" + TrashInfoPath(folder)),
                      std::string::npos);
        }
        fs::remove_all(home_);
    }
}

}  // namespace
}  // namespace purgala
