#pragma once
// The rules that leave a listed file unchecked: a folder's age (files changed fewer days ago than
// that are recent) and files that running programs hold. Access time never counts: desktops read
// files all the time. The rows stay listed; only their box starts empty, and the hint says why.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/FileFacts.h"
#include "platform/OpenFiles.h"
#include "platform/VirtualTree.h"
#include "scan/FileNodeData.h"

namespace purgala {

inline constexpr std::int64_t kNanosPerDay = 86'400'000'000'000;

// One configured folder's age rule for one "&Check Temps".
struct TFolderKeep {
    std::int32_t ageDays = 0;     // 0: no age rule
    bool badAge = false;          // the age is no whole number of days: no file starts checked
    QString ageText;              // as written, for the messages
    std::int64_t startNanos = 0;  // when "&Check Temps" started

    // Reads a folder's `age` as written (empty: none).
    static TFolderKeep Of(const QString& ageText, std::int64_t startNanos);
    bool HasRule() const { return ageDays > 0 || badAge; }
};

// What `rule` makes of a file: None (it starts checked), Recent or BadAge. Recent means its
// latest write or birth (status change where there is no birth time) is less than the age before
// the start, or after it.
TKeepReason KeepReasonOf(const TFolderKeep& rule, const TFileEntryInfo& info);

// The number of files and bytes a pass over the rows left unchecked.
struct TKeptCount {
    std::size_t files = 0;
    std::uint64_t bytes = 0;
};

// What one "&Check Temps" knew when it judged the rows, for telling the user why later.
class TKeepRules {
public:
    void Start(std::int64_t startNanos);
    std::int64_t StartNanos() const { return startNanos_; }
    void SetFolder(PVirtualNode folderRow, TFolderKeep rule);
    // Leaves unchecked every checked file row whose file a program holds, and names that
    // program for the hint of every such row.
    TKeptCount KeepOpenFiles(TVirtualStringTree& tree, TOpenFiles files);

    // Why the rule left `row` unchecked, e.g. "Open in firefox (process 4242)"; empty for a row
    // no rule left.
    QString Why(TVirtualStringTree& tree, PVirtualNode row) const;

private:
    std::int64_t startNanos_ = 0;
    std::unordered_map<PVirtualNode, TFolderKeep> folders_;
    TOpenFiles openFiles_;
};

// "3 hours", "1 day", "45 seconds": how long `nanos` is, in the largest whole unit.
QString SpanText(std::int64_t nanos);

}  // namespace purgala
