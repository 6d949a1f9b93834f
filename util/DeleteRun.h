#pragma once
// "&Delete" without the window: the files of the checked file rows of a result tree go from disk
// (or to the trash), and the rows of those that went leave the tree. The rows are walked from the
// last up and handed to a remover in batches: while one batch is removed on its thread, the next
// is gathered here and the outcomes of the last are applied to the rows. Each step ends by its
// deadline, so that a window's events have their turn.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/ResultTree.h"
#include "util/FileRemover.h"

namespace purgala {

// The files that could not be removed, one entry per file however many rows listed it: the same
// file met under two configured folders fails twice for the same reason.
struct TFailures {
    std::vector<std::pair<std::string, std::string>> all;  // path, reason, in the order tried
    std::set<std::pair<TFileIdentity, std::string>> seen;  // file, and its path if unscanned

    void Add(const TFileNodeData& data, std::string reason);
};

class TDeleteRun {
public:
    using Clock = std::chrono::steady_clock;

    // The rows of removed files leave the tree's observer when the run ends (see EndUpdate):
    // every removal of rows lays out a whole view again, which a million rows would pay for at
    // every step.
    TDeleteRun(TResultTree& tree, bool toTrash);

    // Called for each row tried, before a row whose file went is deleted: the row, its
    // configured folder, what became of its file.
    std::function<void(PVirtualNode row, const std::string& folder, TDeleteResult)> onOutcome;

    // True once every checked row was tried, or the rows tried when stopped are applied.
    bool Step(Clock::time_point deadline);
    void Run();
    // From any thread: the file in hand is finished, no other is tried.
    void Stop() { remover_.Stop(); }
    // The rows that went leave the observer now.
    void EndUpdate() { bracket_.reset(); }
    const TFailures& Failures() const { return failures_; }
    // The configured folder of the row tried last.
    const std::string& LastFolder() const { return appliedPaths_.Last(); }

private:
    // The configured folder of the last folder row asked for: consecutive rows share it.
    class TFolderPaths {
    public:
        const std::string& Of(const TResultTree& tree, PVirtualNode folderRow);
        const std::string& Last() const { return path_; }

    private:
        PVirtualNode row_;
        std::string path_;
    };
    struct TBatch {
        std::vector<PVirtualNode> rows;
        std::vector<TListedFile> files;
    };
    // Small at first, so that the first rows go at once; larger later, for fewer hand-overs.
    static constexpr std::size_t kFirstBatch = 64;
    static constexpr std::size_t kLargestBatch = 4096;

    void StartGathered();
    bool Gather(Clock::time_point deadline);
    bool Apply(Clock::time_point deadline);
    PVirtualNode FolderRowOf(PVirtualNode row) const;

    TResultTree& tree_;
    std::optional<TRowsBracket> bracket_;
    TFileRemover remover_;
    TFolderPaths folderPaths_;   // of the rows gathered
    TFolderPaths appliedPaths_;  // of the rows applied
    PVirtualNode next_;          // the row to look at next, going up; rows below it are gathered
    std::size_t batchSize_ = kFirstBatch;
    TBatch gathering_;
    std::vector<PVirtualNode> removing_;    // the rows of the batch the remover has
    std::vector<PVirtualNode> applying_;    // the rows of the batch it finished
    std::vector<TDeleteOutcome> outcomes_;  // of `applying_`, applied up to `applied_`
    std::size_t applied_ = 0;
    TFailures failures_;
};

}  // namespace purgala
