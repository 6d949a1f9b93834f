// Sorting the result tree by a header click, on file rows built in memory as the scanner makes
// them, and what a painted cell costs.
#include <QWidget>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchCommands.h"
#include "config/Config.h"
#include "platform/VirtualTree.h"
#include "scan/FACtrl.h"

namespace purgala::bench {

namespace {

constexpr int kNameColumn = 0;
constexpr int kSizeColumn = 2;
constexpr int kWriteTimeColumn = 5;
constexpr int kFolders = 4;

// `files` file rows under a few folder rows: random names, sizes with many repeats over six
// orders of magnitude, and times spread over five years with some creation times unknown.
void FillTree(TVirtualStringTree& tree, std::size_t files) {
    std::mt19937_64 random(20240315);
    std::uniform_int_distribution<int> digits(0, 6);
    std::uniform_int_distribution<std::int64_t> seconds(1'560'000'000, 1'717'000'000);
    tree.BeginUpdate();
    std::vector<PVirtualNode> folders;
    for (int f = 0; f < kFolders; ++f) {
        PVirtualNode folder = tree.AddChild(nullptr);
        TFileNodeData& data = tree.GetNodeData(folder);
        data.SetText(TFieldKind::FileName, "folder" + std::to_string(f));
        data.SetText(TFieldKind::FullPath, "/bench/folder" + std::to_string(f));
        data.SetText(TFieldKind::FileType, "folder");
        tree.SetExpanded(folder, true);
        folders.push_back(folder);
    }
    for (std::size_t i = 0; i < files; ++i) {
        std::int64_t size = 1;
        for (int d = digits(random); d > 0; --d) {
            size *= 10;
        }
        TFileEntryInfo info;
        info.size = static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(size));
        info.createTime = i % 7 == 0 ? TFileTime{} : TFileTime{seconds(random)};
        info.accessTime = TFileTime{seconds(random)};
        info.writeTime = TFileTime{seconds(random)};
        const std::string path = "/bench/folder" + std::to_string(i % kFolders) + "/sub/" +
                                 std::to_string(random() % 1'000'000'007) + ".tmp";
        PVirtualNode row = tree.AddChild(folders[i % kFolders]);
        tree.GetNodeData(row).AssignFile(path, path.rfind('/') + 1, info);
    }
    tree.EndUpdate();
}

// One click on the header's column that sorts in `direction`, from the order a sort by name
// leaves (unrelated to sizes and times), timed alone.
double TimedClick(TFACtrl& ctrl, TVirtualStringTree& tree, int column, TSortDirection direction) {
    tree.Header().SetSortColumn(kNoColumn);
    ctrl.TreeHeaderClick(tree, kNameColumn, Qt::LeftButton);
    if (direction == TSortDirection::Ascending) {
        tree.Header().SetSortColumn(kNoColumn);
    } else {
        tree.Header().SetSortDirection(TSortDirection::Ascending);
    }
    const double seconds = Seconds([&] { ctrl.TreeHeaderClick(tree, column, Qt::LeftButton); });
    if (tree.Header().SortColumn() != column || tree.Header().SortDirection() != direction) {
        throw std::runtime_error("the click did not sort as asked");
    }
    return seconds;
}

// The text of one cell as the view asks for it, the column's kind read from the document.
double SecondsPerCell(TVirtualStringTree& tree, int column) {
    constexpr int kCells = 100'000;
    std::size_t bytes = 0;
    PVirtualNode row = tree.GetFirstChild(tree.GetFirst());
    const double seconds = Seconds([&] {
        for (int i = 0; i < kCells; ++i) {
            std::string text;
            tree.OnGetText(tree, row, column, TVSTTextType::Normal, text);
            bytes += text.size();
        }
    });
    if (bytes == 0) {
        throw std::runtime_error("no cell text");
    }
    return seconds / kCells;
}

}  // namespace

int RunSort(const Options& options) {
    const ProgramDir programDir(options.parent);
    QWidget owner;
    TVirtualStringTree tree(&owner);
    TFACtrl ctrl(owner, tree);
    ctrl.BuildColumns(tree, GetConfig().GetRoot()->GetNodes());

    const double fill = Seconds([&] { FillTree(tree, options.files); });
    std::printf("%zu file rows under %d folder rows, built in %.2f s\n", options.files, kFolders,
                fill);

    struct Case {
        const char* name;
        int column;
        TSortDirection direction;
    };
    const Case cases[] = {
        {"File Size, ascending", kSizeColumn, TSortDirection::Ascending},
        {"File Size, descending", kSizeColumn, TSortDirection::Descending},
        {"Write Time, ascending", kWriteTimeColumn, TSortDirection::Ascending},
        {"Write Time, descending", kWriteTimeColumn, TSortDirection::Descending},
    };
    for (const Case& c : cases) {
        const double best =
            BestOf(options.runs, [&] { return TimedClick(ctrl, tree, c.column, c.direction); });
        std::printf("header click, %-24s %.3f s (best of %d)\n", c.name, best, options.runs);
    }

    // The rule as written, one conversion per comparison, on a slice of the rows for scale.
    const std::size_t sliceFiles = std::min<std::size_t>(options.files, 50'000);
    TVirtualStringTree slice(&owner);
    TFACtrl sliceCtrl(owner, slice);
    FillTree(slice, sliceFiles);
    slice.OnPrepareSort = nullptr;
    for (const Case& c : {cases[0], cases[2]}) {
        const double seconds = TimedClick(sliceCtrl, slice, c.column, c.direction);
        std::printf("per-comparison conversion, %-22s %.3f s for %zu rows\n", c.name, seconds,
                    sliceFiles);
    }

    std::printf(
        "cell text with the column looked up in the document: %.2f us (File Size), "
        "%.2f us (Write Time)\n",
        SecondsPerCell(tree, kSizeColumn) * 1e6, SecondsPerCell(tree, kWriteTimeColumn) * 1e6);
    return 0;
}

}  // namespace purgala::bench
