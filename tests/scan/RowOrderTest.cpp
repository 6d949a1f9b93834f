// A sort prepared from copies of the rows orders them exactly as comparing the rows one pair at
// a time does: ties, files without a birth time, both directions, keys too wide for the quick
// way.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/ResultTree.h"
#include "platform/SiblingSort.h"
#include "scan/RowCompare.h"

namespace purgala {
namespace {

std::vector<std::uint64_t> ByPairs(const TResultTree& tree, PVirtualNode parent, TFieldKind kind,
                                   bool ascending) {
    const TSiblingRows rows = tree.Siblings(parent);
    return SortedOrder(
        rows.size(),
        [&](std::size_t a, std::size_t b) {
            return CompareRows(tree.GetNodeData(rows[a]), tree.GetNodeData(rows[b]), kind,
                               ascending);
        },
        ascending);
}

TEST(RowOrderTest, ThePreparedOrderIsTheOrderOfComparingRows) {
    std::mt19937 random(11);
    for (const bool wide : {false, true}) {
        TResultTree tree;
        const PVirtualNode top = tree.AddChild(nullptr);
        for (int i = 0; i < 600; ++i) {
            TFileEntryInfo info;
            info.device = 1;
            info.inode = static_cast<std::uint64_t>(i + 1);
            // Few distinct values, so that ties are many.
            info.size = static_cast<std::int64_t>(random() % 50) * (wide ? (1LL << 33) : 1000);
            const std::int64_t seconds = 1'600'000'000 + static_cast<std::int64_t>(random() % 40) *
                                                             (wide ? 3'000'000'000LL : 3600);
            info.writeTime = {seconds, static_cast<std::int32_t>(random() % 1000)};
            info.accessTime = {seconds - 100, 0};
            if (random() % 4 != 0) {
                info.createTime = {seconds - 7200, 0};
            }
            const std::string path = "/data/f" + std::to_string(i) + ".tmp";
            tree.GetNodeData(tree.AddChild(top)).AssignFile(path, 6, info);
        }
        for (const TFieldKind kind : {TFieldKind::FileSize, TFieldKind::WriteTime,
                                      TFieldKind::CreateTime, TFieldKind::AccessTime}) {
            for (const bool ascending : {true, false}) {
                SCOPED_TRACE(std::to_string(int(kind)) + (ascending ? " up" : " down") +
                             (wide ? " wide" : ""));
                const std::vector<std::uint64_t> prepared =
                    SiblingOrder(tree, tree.Siblings(top), kind, ascending)();
                EXPECT_EQ(prepared, ByPairs(tree, top, kind, ascending));
            }
        }
    }
}

}  // namespace
}  // namespace purgala
