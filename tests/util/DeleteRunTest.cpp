// "&Delete" with no window: the checked rows of a result tree go from disk, a batch at a time on
// another thread, and only those rows leave the tree; what could not go stays, checked, and is
// named once.
#include "util/DeleteRun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/ResultRows.h"
#include "tests/TestSupport.h"

namespace purgala {
namespace {

using test::Exists;
using test::TempDir;
using test::WriteFile;

TEST(DeleteRunTest, CheckedRowsGoAndEverythingElseStays) {
    const TempDir temp;
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        names.push_back("f" + std::to_string(i) + ".tmp");
        WriteFile(temp / ("sub/" + names.back()), "x");
    }
    TResultTree tree;
    ScanFolder(tree, temp.Path(), "tmp");
    const PVirtualNode folder = tree.GetFirst();
    ASSERT_EQ(tree.ChildCount(folder), 300u);
    // Every third row unchecked; one file replaced since the scan, one gone already.
    std::size_t position = 0;
    std::string replaced, vanished;
    for (PVirtualNode row = tree.GetFirstChild(folder); row; row = tree.GetNextSibling(row)) {
        const std::string path = tree.GetNodeData(row).FullPath();
        if (position % 3 == 0) {
            tree.SetCheckState(row, TCheckState::Unchecked);
        } else if (replaced.empty()) {
            replaced = path;
        } else if (vanished.empty()) {
            vanished = path;
        }
        ++position;
    }
    std::filesystem::remove(replaced);
    WriteFile(replaced, "new");
    std::filesystem::remove(vanished);

    TDeleteRun run(tree, /*toTrash=*/false);
    std::vector<TDeleteResult> results;
    run.onOutcome = [&](PVirtualNode, const std::string& configured, TDeleteResult result) {
        EXPECT_EQ(configured, temp.Path());
        results.push_back(result);
    };
    run.Run();

    EXPECT_EQ(results.size(), 200u);
    ASSERT_EQ(run.Failures().all.size(), 1u);
    EXPECT_EQ(run.Failures().all[0].first, replaced);
    EXPECT_EQ(run.Failures().all[0].second, kChangedSinceScan);
    // The unchecked rows and the one that failed, in their order, the failed one still checked.
    EXPECT_EQ(tree.ChildCount(folder), 101u);
    for (PVirtualNode row = tree.GetFirstChild(folder); row; row = tree.GetNextSibling(row)) {
        const std::string path = tree.GetNodeData(row).FullPath();
        EXPECT_TRUE(Exists(path)) << path;
        EXPECT_EQ(tree.CheckState(row) == TCheckState::Checked, path == replaced) << path;
    }
    std::size_t left = 0;
    for (const std::string& name : names) {
        left += Exists(temp / ("sub/" + name)) ? 1 : 0;
    }
    EXPECT_EQ(left, 101u);
    EXPECT_TRUE(Exists(temp / "sub"));
}

// Everything a scan with keep patterns lists goes; nothing under a kept folder, and no kept
// file, is touched.
TEST(DeleteRunTest, WhatAFolderKeepsStaysOnDisk) {
    const TempDir temp;
    const std::vector<std::string> gone = {"a.tmp", "sub/b.log", "sub/deep/c.tmp"};
    const std::vector<std::string> kept = {"x.lock.tmp", "sub/mozilla/d.tmp",
                                           "sub/mozilla/inner/e.log", "cache/f.tmp"};
    for (const auto* list : {&gone, &kept}) {
        for (const std::string& name : *list) {
            WriteFile(temp / name, "x");
        }
    }
    TResultTree tree;
    ScanFolder(tree, temp.Path(), "tmp;log", {}, 0, "mozilla/;*.lock.*;/cache");
    ASSERT_EQ(tree.ChildCount(tree.GetFirst()), gone.size());
    TDeleteRun run(tree, /*toTrash=*/false);
    run.Run();
    EXPECT_TRUE(run.Failures().all.empty());
    for (const std::string& name : gone) {
        EXPECT_FALSE(Exists(temp / name)) << name;
    }
    for (const std::string& name : kept) {
        EXPECT_TRUE(Exists(temp / name)) << name;
    }
}

}  // namespace
}  // namespace purgala
