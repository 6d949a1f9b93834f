// The folder scan: which files are listed, where their rows go, what they hold, and that the walk
// never leaves the configured folder.
#include "scan/ResultRows.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/Config.h"
#include "platform/ResultTree.h"
#include "tests/TestSupport.h"

namespace purgala {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

class ScannerTest : public ::testing::Test {
protected:
    // The folder row and its file rows of the last top-level row, after scanning `path`.
    PVirtualNode Scan(const std::string& path, std::string_view ext) {
        ScanFolder(tree_, path, ext);
        return LastFolderRow();
    }
    PVirtualNode LastFolderRow() {
        PVirtualNode row = tree_.GetFirstChild(nullptr);
        while (tree_.GetNextSibling(row) != nullptr) {
            row = tree_.GetNextSibling(row);
        }
        return row;
    }
    std::vector<PVirtualNode> FileRows(PVirtualNode folderRow) {
        std::vector<PVirtualNode> rows;
        for (PVirtualNode r = tree_.GetFirstChild(folderRow); r; r = tree_.GetNextSibling(r)) {
            rows.push_back(r);
        }
        return rows;
    }
    std::vector<std::string> Paths(PVirtualNode folderRow) {
        std::vector<std::string> paths;
        for (PVirtualNode r : FileRows(folderRow)) {
            paths.emplace_back(tree_.GetNodeData(r).FullPath());
        }
        return paths;
    }
    std::set<std::string> Names(PVirtualNode folderRow) {
        std::set<std::string> names;
        for (PVirtualNode r : FileRows(folderRow)) {
            names.insert(tree_.GetNodeData(r).FileName());
        }
        return names;
    }
    const TFileNodeData* RowOf(PVirtualNode folderRow, const std::string& fullPath) {
        for (PVirtualNode r : FileRows(folderRow)) {
            if (tree_.GetNodeData(r).FullPath() == fullPath) {
                return &tree_.GetNodeData(r);
            }
        }
        return nullptr;
    }

    TempDir temp_;
    TResultTree tree_;
};

TEST_F(ScannerTest, ExtensionMatchesLastComponentInAnyAsciiCase) {
    for (const char* name : {"a.tmp", "B.TMP", "c.Tmp", "a.tmp.bak", "tmp", "x.tmp/plain", "ends.",
                             "tmp.", ".tmp", "d.tmpx", "e.tm"}) {
        WriteFile(temp_ / name);
    }
    EXPECT_EQ(Names(Scan(temp_.Path(), "tmp")),
              (std::set<std::string>{"a.tmp", "B.TMP", "c.Tmp", ".tmp"}));
    EXPECT_EQ(Names(Scan(temp_.Path(), "TMP")),
              (std::set<std::string>{"a.tmp", "B.TMP", "c.Tmp", ".tmp"}));
    EXPECT_TRUE(Names(Scan(temp_.Path(), ".tmp")).empty());
    EXPECT_TRUE(Names(Scan(temp_.Path(), "tmp.bak")).empty());
}

TEST_F(ScannerTest, OnlyAsciiLettersAreFolded) {
    WriteFile(temp_ / "lower.\xC3\xA9t\xC3\xA9");  // .été
    WriteFile(temp_ / "upper.\xC3\x89T\xC3\x89");  // .ÉTÉ
    WriteFile(temp_ / "mixed.\xC3\xA9T\xC3\xA9");  // .éTé
    EXPECT_EQ(Names(Scan(temp_.Path(), "\xC3\xA9t\xC3\xA9")),
              (std::set<std::string>{"lower.\xC3\xA9t\xC3\xA9", "mixed.\xC3\xA9T\xC3\xA9"}));
}

TEST_F(ScannerTest, EmptyExtensionListsEveryFileHiddenOnesToo) {
    for (const char* name : {"a.tmp", ".hidden", "ends.", "noext", ".dir/inner", "sub/x.y.z"}) {
        WriteFile(temp_ / name);
    }
    EXPECT_EQ(Names(Scan(temp_.Path(), "")),
              (std::set<std::string>{"a.tmp", ".hidden", "ends.", "noext", "inner", "x.y.z"}));
}

TEST_F(ScannerTest, FolderRowAndFileRowsHoldTheirTexts) {
    WriteFile(temp_ / "data.tmp", "12345");
    WriteFile(temp_ / "empty.tmp");
    PVirtualNode folder = Scan(temp_.Path(), "tmp");

    const TFileNodeData& f = tree_.GetNodeData(folder);
    EXPECT_EQ(f.FileName(), fs::path(temp_.Path()).filename().string());
    EXPECT_EQ(f.FullPath(), temp_.Path());
    EXPECT_EQ(f.FileType(), "folder");
    EXPECT_EQ(f.FileExt(), "");
    EXPECT_EQ(f.FileSize(), "");
    EXPECT_EQ(f.Text(TFieldKind::WriteTime), "");
    EXPECT_EQ(tree_.GetNodeLevel(folder), 0u);
    EXPECT_EQ(tree_.CheckState(folder), TCheckState::Unchecked);
    EXPECT_TRUE(tree_.Expanded(folder));
    EXPECT_FALSE(tree_.InUpdate());

    const TFileNodeData* data = RowOf(folder, temp_ / "data.tmp");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->FileName(), "data.tmp");
    EXPECT_EQ(data->FileSize(), "5");
    EXPECT_EQ(data->FileExt(), "tmp");
    EXPECT_EQ(data->FileType(), "file");
    EXPECT_NE(data->Text(TFieldKind::AccessTime), "");
    EXPECT_NE(data->Text(TFieldKind::WriteTime), "");
    EXPECT_EQ(data->Text(TFieldKind::Description), "");
    // The identity a later delete compares with.
    struct stat st {};
    ASSERT_EQ(::lstat((temp_ / "data.tmp").c_str(), &st), 0);
    EXPECT_EQ(data->Device(), static_cast<std::uint64_t>(st.st_dev));
    EXPECT_EQ(data->Inode(), static_cast<std::uint64_t>(st.st_ino));

    ASSERT_NE(RowOf(folder, temp_ / "empty.tmp"), nullptr);
    EXPECT_EQ(RowOf(folder, temp_ / "empty.tmp")->FileSize(), "0");

    for (PVirtualNode row : FileRows(folder)) {
        EXPECT_EQ(tree_.CheckState(row), TCheckState::Checked);
        EXPECT_EQ(tree_.GetNodeLevel(row), 1u);
        EXPECT_EQ(tree_.ChildCount(row), 0u);
    }
}

TEST_F(ScannerTest, TrailingSlashIsNotDoubled) {
    WriteFile(temp_ / "a.tmp");
    PVirtualNode folder = Scan(temp_.Path() + "/", "tmp");
    EXPECT_EQ(tree_.GetNodeData(folder).FullPath(), temp_.Path() + "/");
    EXPECT_EQ(tree_.GetNodeData(folder).FileName(), "");
    EXPECT_EQ(Paths(folder), std::vector<std::string>{temp_ / "a.tmp"});
}

// The expected order: the file system's own order, each sub-folder's files where it is met.
void CollectInOrder(const fs::path& dir, std::vector<std::string>& out) {
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        if (entry.is_directory()) {
            CollectInOrder(entry.path(), out);
        } else if (entry.path().extension() == ".tmp") {
            out.push_back(entry.path().string());
        }
    }
}

TEST_F(ScannerTest, NestedFilesAreChildrenOfTheFolderRowWhereTheirFolderIsMet) {
    for (const char* name :
         {"a1.tmp", "a2.tmp", "skip.txt", "one/b1.tmp", "one/b2.tmp", "one/two/c1.tmp",
          "one/two/three/d1.tmp", "one/z.tmp", "other/e1.tmp", "z.tmp", ".hidden/h.tmp"}) {
        WriteFile(temp_ / name);
    }
    fs::create_directory(temp_ / "emptydir");
    PVirtualNode folder = Scan(temp_.Path(), "tmp");
    std::vector<std::string> expected;
    CollectInOrder(temp_.Path(), expected);
    ASSERT_EQ(expected.size(), 10u);
    EXPECT_EQ(Paths(folder), expected);
    EXPECT_EQ(tree_.ChildCount(folder), 10u);
    EXPECT_EQ(tree_.RootNodeCount(), 1u);
}

TEST_F(ScannerTest, MissingOrEmptyFolderGetsAnExpandedRowWithoutChildren) {
    // The last one would name the temporary folder to the system, which reads up to the NUL.
    for (const std::string& path : {temp_ / "missing", std::string(), temp_ / "file.tmp",
                                    temp_.Path() + std::string("\0/x", 3)}) {
        if (path.ends_with("file.tmp")) {
            WriteFile(path);  // a file where a folder was configured
        }
        PVirtualNode folder = Scan(path, "");
        EXPECT_EQ(tree_.GetNodeData(folder).FullPath(), path);
        EXPECT_EQ(tree_.GetNodeData(folder).FileType(), "folder");
        EXPECT_EQ(tree_.ChildCount(folder), 0u) << path;
        EXPECT_TRUE(tree_.Expanded(folder));
        EXPECT_FALSE(tree_.InUpdate());
    }
    EXPECT_EQ(tree_.RootNodeCount(), 4u);
}

TEST_F(ScannerTest, FoldersKeepConfigurationOrderAndRepeat) {
    WriteFile(temp_ / "one/a.tmp");
    WriteFile(temp_ / "two/b.tmp");
    ScanFolder(tree_, temp_ / "two", "tmp");
    ScanFolder(tree_, temp_ / "one", "tmp");
    ScanFolder(tree_, temp_ / "two", "tmp");
    std::vector<std::string> order;
    for (PVirtualNode n = tree_.GetFirst(); n; n = tree_.GetNext(n)) {
        order.emplace_back(tree_.GetNodeData(n).FullPath());
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{temp_ / "two", temp_ / "two/b.tmp", temp_ / "one",
                                        temp_ / "one/a.tmp", temp_ / "two", temp_ / "two/b.tmp"}));
}

TEST_F(ScannerTest, LinksAreListedAsEntriesAndNeverEntered) {
    TempDir outside;
    WriteFile(outside / "secret.tmp");
    WriteFile(outside / "deeper/secret2.tmp");
    WriteFile(temp_ / "real/file.tmp", "abc");
    fs::create_directory_symlink(outside.Path(), temp_ / "out.tmp");  // a folder link, named *.tmp
    fs::create_directory_symlink("..", temp_ / "real/loop");          // a cycle
    fs::create_symlink("real/file.tmp", temp_ / "link.tmp");          // a link to a file
    fs::create_symlink(outside / "secret.tmp", temp_ / "plain.txt");  // not matched by target
    fs::create_symlink(temp_ / "nowhere", temp_ / "dangling.tmp");

    PVirtualNode folder = Scan(temp_.Path(), "tmp");
    EXPECT_EQ(Names(folder),
              (std::set<std::string>{"file.tmp", "out.tmp", "link.tmp", "dangling.tmp"}));
    for (const std::string& path : Paths(folder)) {
        EXPECT_TRUE(path.starts_with(temp_.Path() + "/")) << path;
    }
    // The link's own size: the length of the text it points to.
    const TFileNodeData* link = RowOf(folder, temp_ / "link.tmp");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->FileSize(), std::to_string(std::string("real/file.tmp").size()));
    EXPECT_EQ(link->FileType(), "file");

    PVirtualNode all = Scan(temp_.Path(), "");
    EXPECT_EQ(Names(all), (std::set<std::string>{"file.tmp", "out.tmp", "loop", "link.tmp",
                                                 "plain.txt", "dangling.tmp"}));
}

TEST_F(ScannerTest, OnlyRegularFilesAndLinksOfThisFileSystemAndNoneOfOurOwnAreListed) {
    WriteFile(temp_ / "plain");
    fs::create_symlink("plain", temp_ / "link");
    // Live endpoints of other programs and the system: a FIFO, a socket, a device node.
    ASSERT_EQ(::mkfifo((temp_ / "fifo").c_str(), 0600), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = temp_ / "socket";
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const bool device = ::mknod((temp_ / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    // The program file (a hard link shares its identity) and the configuration in use.
    SetProgramDirForTesting(temp_ / "prog");
    WriteFile(temp_ / "prog/PurgalaConfig.xml");
    const bool programLinked = ::link("/proc/self/exe", (temp_ / "prog/program").c_str()) == 0 ||
                               ::linkat(AT_FDCWD, fs::read_symlink("/proc/self/exe").c_str(),
                                        AT_FDCWD, (temp_ / "prog/program").c_str(), 0) == 0;
    // Another mount below the folder, here a bind mount of a folder from elsewhere.
    const TempDir outside;
    WriteFile(outside / "mounted.tmp");
    fs::create_directory(temp_ / "mnt");
    const bool mounted =
        ::mount(outside.Path().c_str(), (temp_ / "mnt").c_str(), nullptr, MS_BIND, nullptr) == 0;

    const std::set<std::string> names = Names(Scan(temp_.Path(), ""));
    if (mounted) {
        ::umount2((temp_ / "mnt").c_str(), MNT_DETACH);
    }
    ::close(sock);
    SetProgramDirForTesting({});
    EXPECT_EQ(names, (std::set<std::string>{"plain", "link"}));
    if (!programLinked || !mounted || !device) {
        GTEST_SKIP() << "shown in part only, without " << (programLinked ? "" : "the program file ")
                     << (mounted ? "" : "a mount (needs root) ")
                     << (device ? "" : "a device node (needs root)");
    }
}

TEST_F(ScannerTest, ConfiguredFolderMayItselfBeALink) {
    WriteFile(temp_ / "target/a.tmp");
    fs::create_directory_symlink(temp_ / "target", temp_ / "via");
    PVirtualNode folder = Scan(temp_ / "via", "tmp");
    EXPECT_EQ(Paths(folder), std::vector<std::string>{temp_ / "via/a.tmp"});
}

TEST_F(ScannerTest, NameThatIsNotUtf8KeepsItsExactBytes) {
    const std::string name = "bad\xFF\xFE name.TMP";
    WriteFile(temp_ / name, "xy");
    WriteFile(temp_ / "sub\x80/inner.tmp");
    PVirtualNode folder = Scan(temp_.Path(), "tmp");
    const TFileNodeData* row = RowOf(folder, temp_ / name);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->FileName(), name);
    EXPECT_EQ(row->FileSize(), "2");
    EXPECT_NE(RowOf(folder, temp_ / "sub\x80/inner.tmp"), nullptr);
}

TEST_F(ScannerTest, SizesBeyondTwoGibibytesAreTrue) {
    const std::string path = temp_ / "big.tmp";
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const int rc = ::ftruncate(fd, 3LL << 30);  // sparse: takes no space
        ::close(fd);
        ASSERT_EQ(rc, 0);
    }
    const TFileNodeData* row = RowOf(Scan(temp_.Path(), "tmp"), path);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->FileSize(), "3221225472");
    EXPECT_EQ(row->Size(), 3LL << 30);
}

TEST_F(ScannerTest, TimesComeFromTheFileAndMidnightShowsTheDateAlone) {
    const std::string path = temp_ / "t.tmp";
    WriteFile(path);
    // Tests run in UTC: access 2021-03-04 13:05:09, write 2021-03-05 00:00:00.
    const struct timespec times[2] = {{1614863109, 0}, {1614902400, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    const TFileNodeData* row = RowOf(Scan(temp_.Path(), "tmp"), path);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Text(TFieldKind::AccessTime), "3/4/21 1:05:09 PM");
    EXPECT_EQ(row->Text(TFieldKind::WriteTime), "3/5/21");
    // Only where the file system records a birth time.
    EXPECT_EQ(row->Text(TFieldKind::CreateTime).empty(),
              !row->Time(TFieldKind::CreateTime).Known());
}

TEST_F(ScannerTest, RowCopiedOutOfTheTreeKeepsItsTextsAndIdentityWhenTheTreeIsCleared) {
    WriteFile(temp_ / "a/b/deep.tmp", "xyz");
    PVirtualNode folder = Scan(temp_.Path(), "tmp");
    ASSERT_EQ(FileRows(folder).size(), 1u);
    TFileNodeData copy = tree_.GetNodeData(FileRows(folder)[0]);
    const TFileNodeData moved = std::move(tree_.GetNodeData(FileRows(folder)[0]));
    tree_.Clear();
    for (const TFileNodeData* row : {static_cast<const TFileNodeData*>(&copy), &moved}) {
        EXPECT_EQ(row->FullPath(), temp_ / "a/b/deep.tmp");
        EXPECT_EQ(row->FileName(), "deep.tmp");
        EXPECT_EQ(row->FileSize(), "3");
        EXPECT_EQ(row->FolderIdentity().device, row->Device());
        EXPECT_NE(row->FolderIdentity().inode, 0u);
    }
    copy.SetText(TFieldKind::Description, "own texts from here on");
    EXPECT_EQ(copy.FullPath(), temp_ / "a/b/deep.tmp");
    EXPECT_FALSE(copy.IsScannedFile());
}

TEST_F(ScannerTest, UpdateBracketOfTheCallerIsKept) {
    WriteFile(temp_ / "a.tmp");
    tree_.BeginUpdate();
    ScanFolder(tree_, temp_.Path(), "tmp");
    ScanFolder(tree_, temp_ / "missing", "tmp");
    EXPECT_TRUE(tree_.InUpdate());
    tree_.EndUpdate();
    EXPECT_FALSE(tree_.InUpdate());
    EXPECT_EQ(tree_.TotalCount(), 3u);
}

}  // namespace
}  // namespace purgala

namespace purgala {
namespace {

// Every row as bytes: level, box, rule, path, size, times and identity.
std::vector<std::string> RowBytes(const TResultTree& tree) {
    std::vector<std::string> rows;
    for (PVirtualNode n = tree.GetFirst(); n != nullptr; n = tree.GetNext(n)) {
        const TFileNodeData& d = tree.GetNodeData(n);
        std::string row = std::to_string(tree.GetNodeLevel(n)) + ' ' +
                          std::to_string(int(tree.CheckState(n))) + ' ' +
                          std::to_string(int(d.KeptBy())) + ' ' + d.FullPath() + '\t' +
                          d.FileSize() + '\t' + std::to_string(d.Inode());
        for (TFieldKind kind :
             {TFieldKind::CreateTime, TFieldKind::AccessTime, TFieldKind::WriteTime}) {
            row += '\t' + std::to_string(d.Time(kind).seconds) + '.' +
                   std::to_string(d.Time(kind).nanoseconds);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// Removes a tree deeper than a path can name, one folder at a time from the bottom.
void RemoveDeep(const std::string& top, const char* name, int depth) {
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < depth && fd >= 0; ++i) {
        const int next = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    for (int i = 0; i < depth && fd >= 0; ++i) {
        ::unlinkat(fd, "f.tmp", 0);
        const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = up;
        ::unlinkat(fd, name, AT_REMOVEDIR);
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

// The rows never depend on how many readers there are or which of them is quicker: the same
// trees through one reader and through several with their timing disturbed give the same bytes.
TEST(ScannerOrderTest, ManyReadersMakeTheRowsOfOneByteForByte) {
    const TempDir temp;
    const std::string root = temp / "root";
    for (int i = 0; i < 40; ++i) {
        const std::string folder = root + "/f" + std::to_string(i % 7) + "/g" + std::to_string(i);
        WriteFile(folder + "/a.tmp", std::string(std::size_t(i), 'x'));
        WriteFile(folder + "/skip.txt");
        WriteFile(root + "/f" + std::to_string(i % 7) + "/n" + std::to_string(i) + ".TMP");
    }
    WriteFile(root + "/odd \xFF\xFE name.tmp");
    WriteFile(root + "/sub\x80/inner.tmp");
    WriteFile(root + "/.hidden/h.tmp");
    fs::create_directory_symlink(root + "/f1", root + "/f0/link.tmp");
    fs::create_directory_symlink("..", root + "/f2/loop");
    fs::create_symlink(root + "/nowhere", root + "/dangling.tmp");
    // Read by no one: unreadable (unless run by root), and one that goes once its entry is read.
    WriteFile(root + "/locked/l.tmp");
    ::chmod((root + "/locked").c_str(), 0);
    // One folder of a hundred thousand entries, a tenth of them matching.
    const std::string wide = root + "/wide";
    fs::create_directories(wide);
    for (int i = 0; i < 100'000; ++i) {
        const std::string path = wide + "/" + std::to_string(i) + (i % 10 == 0 ? ".tmp" : "");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    // A mount below, when the test may mount.
    const TempDir outside;
    WriteFile(outside / "mounted.tmp");
    fs::create_directory(root + "/mnt");
    const bool mounted =
        ::mount(outside.Path().c_str(), (root + "/mnt").c_str(), nullptr, MS_BIND, nullptr) == 0;
    // Four thousand levels, deeper than a path can name, under a small limit of open files.
    constexpr int kDepth = 4000;
    {
        int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int i = 0; i < kDepth && fd >= 0; ++i) {
            ::mkdirat(fd, "d", 0700);
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = next;
            if (i % 97 == 0) {
                ::close(::openat(fd, "f.tmp", O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
            }
        }
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit small{std::min<rlim_t>(1024, limit.rlim_cur), limit.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &small);

    // Every file here is recent: the age rule's verdict travels with the records too. The
    // folders that cannot be read are named in the walk's order too.
    std::vector<std::string> unreadable;
    const auto rows = [&](unsigned readers, bool disturbed, bool sliced = false) {
        fs::create_directories(root + "/vanishing/v.tmp.d");
        WriteFile(root + "/vanishing/gone/g.tmp");
        std::atomic<unsigned> seed{1};
        TCheckTempsOptions options;
        options.readers = readers;
        options.procRoot = "/nonexistent";
        options.disturb = [&, disturbed](std::string_view name) {
            if (name == "gone") {
                fs::remove_all(root + "/vanishing/gone");
            }
            if (disturbed) {
                thread_local std::minstd_rand random(seed++);
                if (random() % 64 == 0) {
                    std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
                }
            }
        };
        TResultTree tree;
        TRowRules rules;
        TResultRows consumer(tree, rules);
        TCheckTemps run({TFolderSpec(root, "tmp", "3")}, consumer, std::move(options));
        if (sliced) {
            // As the window steps it, in slices that often end while a folder is being read.
            while (!run.Step(TCheckTemps::Clock::now() + std::chrono::microseconds(50))) {
            }
        } else {
            run.Run();
        }
        std::vector<std::string> bytes = RowBytes(tree);
        for (const TUnreadableFolder& folder : run.Result().unreadable) {
            bytes.push_back("unreadable " + folder.path + ' ' + std::to_string(folder.error));
        }
        return bytes;
    };
    const std::vector<std::string> one = rows(1, false);
    for (const unsigned readers : {2u, 3u, 8u}) {
        EXPECT_TRUE(rows(readers, true) == one) << readers << " readers";
    }
    EXPECT_TRUE(rows(2, true, /*sliced=*/true) == one) << "in slices";
    ::setrlimit(RLIMIT_NOFILE, &limit);
    if (mounted) {
        ::umount2((root + "/mnt").c_str(), MNT_DETACH);
    }
    ::chmod((root + "/locked").c_str(), 0700);
    RemoveDeep(root, "d", kDepth);

    // What one reader made is the one-thread walk's result.
    const bool asRoot = ::geteuid() == 0;  // reads the locked folder
    const std::size_t files = 40 + 40 + 5 + 10'000 + (kDepth + 96) / 97 + (asRoot ? 1 : 0);
    ASSERT_EQ(one.size(), 1 + files + (asRoot ? 1 : 2));
    const auto named = [&](const std::string& line) {
        return std::find(one.begin(), one.end(), line) != one.end();
    };
    EXPECT_TRUE(named("unreadable " + root + "/vanishing/gone " + std::to_string(ENOENT)));
    EXPECT_TRUE(asRoot || named("unreadable " + root + "/locked " + std::to_string(EACCES)));
    EXPECT_EQ(std::size_t(
                  std::count_if(one.begin(), one.end(),
                                [](const std::string& row) { return row.starts_with("1 0 1 "); })),
              files);
    for (const char* absent : {"/gone/", "/mnt/", "/link.tmp/", "/loop/", ".txt", "v.tmp.d"}) {
        EXPECT_TRUE(std::none_of(one.begin(), one.end(), [&](const std::string& row) {
            return row.find(absent) != std::string::npos;
        })) << absent;
    }
}

}  // namespace
}  // namespace purgala
