// The command line against the window's own work: --list and --csv against the rows "&Check
// Temps" makes, --clean against "&Delete" after it, and the arguments and documents it refuses.
#include "cli/CommandLine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/Config.h"
#include "config/PurgalaConfig.h"
#include "platform/UniqueFd.h"
#include "scan/ResultRows.h"
#include "scan/ShownTexts.h"
#include "tests/TestSupport.h"
#include "util/DeleteRun.h"

namespace purgala::cli {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

constexpr std::int64_t kDay = 86'400;
const std::int64_t kNow = ::time(nullptr);
// Sixty days from now: a file born today is old by then, one written fifty days on is recent.
const std::int64_t kStart = (kNow + 60 * kDay) * 1'000'000'000;

// The columns as a user may have set them: reordered, one not exported.
constexpr std::string_view kNodes =
    "<nodes><node Name=\"Full Path\" Index=\"2\" DefaultExport=\"True\"/>"
    "<node Name=\"File Name\" Index=\"0\" DefaultExport=\"True\"/>"
    "<node Name=\"File Ext\" Index=\"1\" DefaultExport=\"False\"/>"
    "<node Name=\"File Size\" Index=\"3\" DefaultExport=\"True\"/>"
    "<node Name=\"Write Time\" Index=\"4\" DefaultExport=\"True\"/></nodes>";

std::string Folder(const std::string& path, std::string_view ext, std::string_view age = {}) {
    std::string element =
        "<folder name=\"f\" fullpath=\"" + path + "\" ext=\"" + std::string(ext) + "\"";
    if (!age.empty()) {
        element += " age=\"" + std::string(age) + "\"";
    }
    return element + "/>";
}

std::string Document(const std::string& folders, bool trash = false) {
    return std::string(ConfigHeader) + "<config versionNo=\"2\"" +
           (trash ? " trash=\"True\"" : "") + ">" + std::string(kNodes) + "<folders>" + folders +
           "</folders></config>";
}

void MakeRecent(const std::string& path) {
    const struct timespec later[2] = {{kNow, 0}, {kNow + 50 * kDay, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, AT_SYMLINK_NOFOLLOW), 0);
}

// What a run printed and said, and how it ended.
struct TOutcome {
    int status = -1;
    std::string out, err;
};

std::string ReadBack(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, got);
    }
    std::fclose(file);
    return text;
}

TOutcome RunArgs(std::vector<std::string> args, const std::atomic<bool>* stop = nullptr) {
    std::vector<char*> argv;
    args.insert(args.begin(), "purgala");
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const TParsed parsed = ParseArguments(static_cast<int>(args.size()), argv.data());
    EXPECT_EQ(parsed.error, "");
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    TRunContext context;
    context.out = ::fileno(out);
    context.err = ::fileno(err);
    context.scan.startNanos = kStart;
    context.stop = stop;
    TOutcome outcome;
    outcome.status = Run(parsed.command, context);
    outcome.out = ReadBack(out);
    outcome.err = ReadBack(err);
    return outcome;
}

std::string Csv(std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(field);
    }
    std::string quoted = "\"";
    for (char c : field) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

// "&Check Temps" as the window runs it, into rows.
struct TWindowScan {
    TResultTree tree;
    TRowRules rules;
    TCheckTempsResult result;

    explicit TWindowScan(const std::string& documentPath) {
        const auto root = LoadConfigDocument(documentPath);
        rules.Start(kStart);
        TResultRows rows(tree, rules);
        TCheckTempsOptions options;
        options.startNanos = kStart;
        TCheckTemps run(FolderSpecsOf(root->GetFolders()), rows, options);
        run.Run();
        rules.SetOpenFiles(run.Result().openFiles);
        result = run.Result();
    }

    template <typename Visit>
    void ForEachFileRow(Visit visit) const {
        for (PVirtualNode folder = tree.GetFirstChild(nullptr); folder;
             folder = tree.GetNextSibling(folder)) {
            for (PVirtualNode row = tree.GetFirstChild(folder); row;
                 row = tree.GetNextSibling(row)) {
                visit(row, tree.GetNodeData(row), tree.CheckState(row) == TCheckState::Checked);
            }
        }
    }
};

// Every case the rows can meet: links (to a file, to a folder, dangling), a name holding a
// newline and a comma, one that is not UTF-8, a folder that cannot be read, a recent file in a
// folder with an age, one a process holds, and a mount below a folder when one can be made.
TEST(CommandLineTest, ListAndCsvAreTheRowsOfCheckTemps) {
    const TempDir temp;
    WriteFile(temp / "a/plain.tmp", "12345");
    WriteFile(temp / "a/sub/deep.TMP", "1");
    WriteFile(temp / "a/other.txt");
    WriteFile(temp / "a/new\nline, \"q\".tmp", "x");
    WriteFile(temp / "a/caf\xe9.tmp", "xy");
    WriteFile(temp / "a/held.tmp", "h");
    ASSERT_EQ(::symlink((temp / "a/plain.tmp").c_str(), (temp / "a/link.tmp").c_str()), 0);
    ASSERT_EQ(::symlink("/nowhere", (temp / "a/dangling.tmp").c_str()), 0);
    ASSERT_EQ(::symlink((temp / "a/sub").c_str(), (temp / "a/dirlink").c_str()), 0);
    WriteFile(temp / "aged/old.log");
    WriteFile(temp / "aged/new.log");
    MakeRecent(temp / "aged/new.log");
    const test::ScopedMount mount(
        temp / "a/mnt",
        [&] { return ::mount("tmpfs", (temp / "a/mnt").c_str(), "tmpfs", 0, nullptr) == 0; },
        "cannot mount a tmpfs here");
    if (mount.WhyNot().empty()) {
        WriteFile(temp / "a/mnt/beyond.tmp");
    }
    const TUniqueFd held(::open((temp / "a/held.tmp").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(held.Valid());
    WriteFile(temp / "purgala.xml",
              Document(Folder(temp / "a", "tmp") + Folder(temp / "missing", "tmp") +
                       Folder(temp / "aged", "log", "30") + Folder(temp / "a/sub", "")));

    const TWindowScan window(temp / "purgala.xml");
    std::string list;
    std::string csv = "File Name,Full Path,File Size,Write Time,Checked,Reason\r\n";
    std::size_t rows = 0;
    window.ForEachFileRow([&](PVirtualNode row, const TFileNodeData& data, bool checked) {
        ++rows;
        if (checked) {
            list += data.FullPath() + '\n';
        }
        for (TFieldKind kind : {TFieldKind::FileName, TFieldKind::FullPath, TFieldKind::FileSize,
                                TFieldKind::WriteTime}) {
            csv += Csv(FormatCellText(kind, &data)) + ",";
        }
        csv += checked ? "True," : "False,";
        csv += Csv(window.rules.Why(window.tree, row).toStdString()) + "\r\n";
    });
    // The window's rows hold every case, or the comparison proves little.
    ASSERT_EQ(rows, 10u);
    ASSERT_NE(csv.find("Open in"), std::string::npos);
    ASSERT_NE(csv.find("this folder keeps files changed in the last 30 days"), std::string::npos);
    ASSERT_NE(list.find("caf\xe9.tmp\n"), std::string::npos);

    const TOutcome listed = RunArgs({"--config", temp / "purgala.xml", "--list"});
    EXPECT_EQ(listed.out, list);
    EXPECT_EQ(listed.status, 1) << "a folder could not be read";
    EXPECT_EQ(listed.err, CheckTotalsText(window.result.totals, 4, false, 1).toStdString() + "\n");

    const TOutcome nulls = RunArgs({"--config", temp / "purgala.xml", "-l0"});
    std::string nullList = list;
    std::replace(nullList.begin(), nullList.end(), '\n', '\0');
    // The newline inside a name stays one.
    const std::size_t inName = list.find("new\nline");
    nullList[inName + 3] = '\n';
    EXPECT_EQ(nulls.out, nullList);

    EXPECT_EQ(RunArgs({"--config", temp / "purgala.xml", "--list", "--csv"}).out, csv);
}

enum class TRemoval { Delete, Trash };

class CleanTest : public ::testing::TestWithParam<TRemoval> {};

// Every file below `dir` by its path below it, and what it holds; the documents aside.
std::vector<std::string> Snapshot(const std::string& dir) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if ((entry.is_symlink() || !entry.is_directory()) &&
            !entry.path().filename().string().ends_with(".xml")) {
            files.push_back(entry.path().string().substr(dir.size()) + " " +
                            (entry.is_symlink() ? "link" : test::ReadFile(entry.path())));
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Two copies of one tree, each with a folder with an age, one without, one whose age is no
// number: "&Delete" after "&Check Temps" in one, --clean in the other, leave the same files.
TEST_P(CleanTest, CleanLeavesWhatDeleteAfterCheckTempsLeaves) {
    const bool toTrash = GetParam() == TRemoval::Trash;
    const TempDir temp;
    const auto make = [&](const std::string& root) {
        WriteFile(root + "/aged/old.tmp", "old");
        WriteFile(root + "/aged/sub/old2.tmp", "old2");
        WriteFile(root + "/aged/new.tmp", "new");
        MakeRecent(root + "/aged/new.tmp");
        WriteFile(root + "/aged/other.txt", "other");
        ASSERT_EQ(::symlink("/etc/hostname", (root + "/aged/link.tmp").c_str()), 0);
        WriteFile(root + "/plain/any.tmp", "any");
        WriteFile(root + "/bad/any.tmp", "bad");
        WriteFile(root + "/purgala.xml",
                  Document(Folder(root + "/aged", "tmp", "30") + Folder(root + "/plain", "tmp") +
                               Folder(root + "/bad", "tmp", "a week"),
                           toTrash));
    };
    make(temp / "window");
    make(temp / "cli");
    const test::ScopedEnv data("XDG_DATA_HOME", temp / "data");

    {
        // The window has no age to skip a folder by: it is given only the aged ones, as the
        // user would check only those.
        const auto root = LoadConfigDocument(temp / "window/purgala.xml");
        root->GetFolders()->Delete(1);
        WriteFile(temp / "window/aged-only.xml",
                  std::string(ConfigHeader) + root->GetXML().toStdString());
        TWindowScan window(temp / "window/aged-only.xml");
        TDeleteRun(window.tree, toTrash).Run();
    }
    const std::vector<std::string> before = Snapshot(temp / "cli");
    const std::string document = test::ReadFile(temp / "cli/purgala.xml");
    const TOutcome dry = RunArgs({"--config", temp / "cli/purgala.xml", "--clean", "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(Snapshot(temp / "cli"), before) << "a dry run touches nothing";
    std::vector<std::string> wouldGo;
    for (std::size_t start = 0, end; (end = dry.out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        wouldGo.push_back(dry.out.substr(start, end - start));
    }
    std::sort(wouldGo.begin(), wouldGo.end());
    EXPECT_EQ(wouldGo,
              (std::vector<std::string>{temp / "cli/aged/link.tmp", temp / "cli/aged/old.tmp",
                                        temp / "cli/aged/sub/old2.tmp"}));

    const TOutcome cleaned = RunArgs({"--config", temp / "cli/purgala.xml", "-c"});
    EXPECT_EQ(cleaned.status, 0) << cleaned.err;
    EXPECT_EQ(cleaned.out, "");
    EXPECT_EQ(test::ReadFile(temp / "cli/purgala.xml"), document);
    EXPECT_EQ(Snapshot(temp / "cli"), Snapshot(temp / "window"));
    EXPECT_TRUE(test::Exists(temp / "cli/plain/any.tmp"));
    EXPECT_NE(cleaned.err.find(temp / "cli/plain has no age: it is cleaned only from the window\n"),
              std::string::npos)
        << cleaned.err;
    EXPECT_NE(cleaned.err.find(toTrash ? "3 files moved to the trash (" : "3 files deleted, "),
              std::string::npos)
        << cleaned.err;
    // Both went to the one trash: each file once, with its info file.
    std::size_t trashed = 0;
    if (fs::exists(temp / "data/Trash/files")) {
        for ([[maybe_unused]] const auto& entry :
             fs::directory_iterator(temp / "data/Trash/files")) {
            ++trashed;
        }
    }
    EXPECT_EQ(trashed, toTrash ? 6u : 0u);
    if (toTrash && std::system("command -v trash-list >/dev/null") == 0) {
        // The desktop's own tools see them where they came from.
        std::string shown;
        std::FILE* list = ::popen("trash-list 2>/dev/null | cut -d' ' -f3- | sort", "r");
        ASSERT_NE(list, nullptr);
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, list)) > 0;) {
            shown.append(buffer, got);
        }
        ::pclose(list);
        for (const char* name : {"/aged/link.tmp", "/aged/old.tmp", "/aged/sub/old2.tmp"}) {
            EXPECT_NE(shown.find(temp / "cli" + name + "\n"), std::string::npos) << shown;
        }
    }
}

// A stop in the middle of a clean, as SIGTERM asks for one, finishes the file in hand: every
// file is then intact where it was, or in the trash with its info file, and nothing else is.
TEST(CommandLineTest, AStopInTheMiddleOfACleanLosesNothing) {
    const TempDir temp;
    constexpr int kFiles = 3000;
    for (int i = 0; i < kFiles; ++i) {
        WriteFile(temp / ("aged/d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".tmp"),
                  std::to_string(i));
    }
    WriteFile(temp / "purgala.xml", Document(Folder(temp / "aged", "tmp", "1"), true));
    const test::ScopedEnv data("XDG_DATA_HOME", temp / "data");
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        // Once some went, as a user's Ctrl+C would come.
        std::error_code error;
        while (!fs::exists(temp / "data/Trash/info", error) ||
               std::distance(fs::directory_iterator(temp / "data/Trash/info", error),
                             fs::directory_iterator()) < 50) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        stop = true;
    });
    const TOutcome outcome = RunArgs({"--config", temp / "purgala.xml", "--clean"}, &stop);
    stopper.join();
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("Stopped while moving to the trash from " + temp / "aged; "),
              std::string::npos)
        << outcome.err;

    std::size_t trashed = 0;
    for (const auto& entry : fs::directory_iterator(temp / "data/Trash/files")) {
        const std::string name = entry.path().filename().string();
        const std::string info = test::ReadFile(temp / ("data/Trash/info/" + name + ".trashinfo"));
        const std::size_t at = info.find("Path=");
        ASSERT_NE(at, std::string::npos) << info;
        const std::string from = info.substr(at + 5, info.find('\n', at) - at - 5);
        EXPECT_FALSE(test::Exists(from)) << from << " is in the trash and still there";
        EXPECT_EQ(test::ReadFile(entry.path()), name.substr(1, name.size() - 5));
        ++trashed;
    }
    std::size_t infos = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(temp / "data/Trash/info")) {
        ++infos;
    }
    EXPECT_EQ(infos, trashed) << "an info file without its file";
    std::size_t left = 0;
    for (const auto& entry : fs::recursive_directory_iterator(temp / "aged")) {
        if (entry.is_regular_file()) {
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(test::ReadFile(entry.path()), name.substr(1, name.size() - 5));
            ++left;
        }
    }
    EXPECT_GE(trashed, 50u);
    EXPECT_GT(left, 0u) << "the stop came too late to stop anything";
    EXPECT_EQ(trashed + left, static_cast<std::size_t>(kFiles));
}

INSTANTIATE_TEST_SUITE_P(Removals, CleanTest, ::testing::Values(TRemoval::Delete, TRemoval::Trash),
                         [](const auto& info) {
                             return info.param == TRemoval::Trash ? "ToTrash" : "FromDisk";
                         });

// A document that cannot be read ends the command before any file is looked at, and is left as
// it was: the window's default is never written.
TEST(CommandLineTest, AMissingOrMalformedDocumentIsRefusedAndLeftAlone) {
    const TempDir temp;
    WriteFile(temp / "victim/a.tmp");
    const std::string folders = Folder(temp / "victim", "tmp", "1");
    for (const std::string& text :
         {std::string(), std::string("<config><folders>"), std::string("<other/>"),
          Document(folders).substr(0, 80), std::string("\xEF\xBB\xBF<config>\xFF</config>")}) {
        SCOPED_TRACE(text);
        const std::string path = temp / "doc.xml";
        std::remove(path.c_str());
        if (!text.empty()) {
            WriteFile(path, text);
        }
        for (const char* mode : {"--list", "--clean"}) {
            const TOutcome outcome = RunArgs({"--config", path, mode});
            EXPECT_EQ(outcome.status, 2);
            EXPECT_EQ(outcome.out, "");
            EXPECT_TRUE(outcome.err.starts_with("purgala: cannot read the configuration: " + path))
                << outcome.err;
            EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1);
        }
        EXPECT_EQ(test::Exists(path), !text.empty());
        if (!text.empty()) {
            EXPECT_EQ(test::ReadFile(path), text);
        }
        EXPECT_TRUE(test::Exists(temp / "victim/a.tmp"));
    }
}

TEST(CommandLineTest, ArgumentsMakeOneCommandOrOneLineThatSaysWhyNot) {
    struct TCase {
        std::vector<std::string> args;
        TMode mode;
        std::string error;  // empty: good
    };
    const std::vector<TCase> cases = {
        {{"-l"}, TMode::List, ""},
        {{"--list", "--null"}, TMode::List, ""},
        {{"-l0"}, TMode::List, ""},
        {{"--csv", "--list", "--config", "x.xml"}, TMode::List, ""},
        {{"--config=x.xml", "-c", "-n"}, TMode::Clean, ""},
        {{"--clean", "--dry-run"}, TMode::Clean, ""},
        {{"-h"}, TMode::Help, ""},
        {{"--version"}, TMode::Version, ""},
        {{"--list", "--clean"}, TMode::Window, "--list and --clean do not go together"},
        {{"-lc"}, TMode::Window, "--list and --clean do not go together"},
        {{"-l", "-0", "--csv"}, TMode::Window, "--null and --csv do not go together"},
        {{"--clean", "--null"}, TMode::Window, "--null goes with --list only"},
        {{"--csv"}, TMode::Window, "--csv goes with --list only"},
        {{"--list", "-n"}, TMode::Window, "--dry-run goes with --clean only"},
        {{"--config", "x.xml"}, TMode::Window, "--config goes with --list or --clean"},
        {{"--list", "--config"}, TMode::Window, "--config needs a file name"},
        {{"--help", "--list"}, TMode::Window, "--help and --version take no other option"},
        {{"--bogus"}, TMode::Window, "unknown argument \"--bogus\" (see purgala --help)"},
        {{"-platform", "offscreen"},
         TMode::Window,
         "unknown argument \"-platform\" (see purgala --help)"},
        {{"--list", "file.xml"},
         TMode::Window,
         "unknown argument \"file.xml\" (see purgala --help)"},
        {{"-l", "-"}, TMode::Window, "unknown argument \"-\" (see purgala --help)"},
    };
    for (TCase c : cases) {
        SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : ""));
        std::vector<char*> argv{const_cast<char*>("purgala")};
        for (std::string& arg : c.args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const TParsed parsed = ParseArguments(static_cast<int>(argv.size()) - 1, argv.data());
        EXPECT_EQ(parsed.error, c.error);
        if (c.error.empty()) {
            EXPECT_EQ(parsed.command.mode, c.mode);
        }
    }
}

}  // namespace
}  // namespace purgala::cli
