#pragma once
// The consumer of "&Check Temps" that the window shows: one folder row per configured folder at
// the top level of a result tree, and under it one row per file listed, checked unless a rule
// kept it. The rows reach the tree's observer about once a second, the folder row expanded the
// first time, and when the folder is done: each time, a view lays out all its rows again.

#include <chrono>
#include <cstdint>
#include <string_view>

#include "platform/ResultTree.h"
#include "scan/CheckTemps.h"
#include "scan/KeepRules.h"

namespace purgala {

class TResultRows : public IKeepingConsumer {
public:
    using Clock = std::chrono::steady_clock;

    // `rules` hears the setup of each folder row, for the hints. Both must outlive this.
    TResultRows(TResultTree& tree, TRowRules& rules) : tree_(tree), rules_(rules) {}
    ~TResultRows() override;

    void FolderBegun(const TFolderSpec& setup) override;
    void FileListed(const TListedEntry& file) override;
    void FolderDone(const TFolderSpec& setup) override;
    TFileCount KeepInUse(const TOpenFiles& files) override;

private:
    static constexpr std::chrono::seconds kShowEvery{1};

    void Show();
    void EndFolder();

    TResultTree& tree_;
    TRowRules& rules_;
    PVirtualNode folderRow_;
    bool inBracket_ = false;
    bool expanded_ = false;
    unsigned sinceClock_ = 0;
    Clock::time_point shown_;
};

// "&Check Temps" of one folder at once into `tree`, with no rule but the age of `ageText` and the
// keep patterns `keep`; for tests and measurements.
void ScanFolder(TResultTree& tree, std::string_view folderPath, std::string_view ext,
                std::string_view ageText = {}, unsigned readers = 0, std::string_view keep = {});

}  // namespace purgala
