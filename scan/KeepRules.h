#pragma once
// The rules that leave a listed file unchecked: a folder's age (files changed fewer days ago than
// that are recent), files that running programs hold, and another user's files in a folder that
// lets only a file's owner remove it. Access time never counts: desktops read files all the
// time. The files stay listed; only their box starts empty, and the hint says why.

#include <QString>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "platform/FileFacts.h"
#include "platform/OpenFiles.h"
#include "platform/TreeTypes.h"
#include "scan/FileNodeData.h"
#include "scan/FolderSpec.h"

namespace purgala {

class TResultTree;

inline constexpr std::int64_t kNanosPerDay = 86'400'000'000'000;

// What a folder's age makes of a file: None (it starts checked), Recent or BadAge. Recent means
// its latest write or birth (status change where there is no birth time) is less than the age
// before `startNanos`, or after it.
TKeepReason AgeReasonOf(const TFolderSpec& setup, std::int64_t startNanos,
                        const TFileEntryInfo& info);

// Whether `user` may not remove a file owned by `fileOwner` from a folder owned by
// `folderOwner`: in a sticky folder only the file's owner, the folder's owner and root may.
bool MayNotRemove(bool stickyFolder, std::uint32_t folderOwner, std::uint32_t fileOwner,
                  std::uint32_t user);

// A kept file as the words about it need it.
struct TKeptFile {
    std::int64_t writeNanos = kUnknownNanos;
    TFileTime birth;  // unknown where the file system records none
    TFileIdentity identity;
    std::string_view path;  // for its owner's name, looked up when asked
};
TKeptFile KeptFileOf(const TFileNodeData& data, std::string_view path);

// What one "&Check Temps" knew when it judged the files, for telling the user why later.
class TKeepRules {
public:
    TKeepRules() = default;
    explicit TKeepRules(std::int64_t startNanos) : startNanos_(startNanos) {}

    std::int64_t StartNanos() const { return startNanos_; }
    void SetOpenFiles(std::shared_ptr<const TOpenFiles> files) { openFiles_ = std::move(files); }
    const TOpenFiles* OpenFiles() const { return openFiles_.get(); }

    // Why `reason` left the file unchecked, e.g. "Open in firefox (process 4242)" or "Changed 3
    // hours ago; this folder keeps files changed in the last 7 days"; empty for None.
    QString Why(TKeepReason reason, const TFolderSpec& setup, const TKeptFile& file) const;

private:
    std::int64_t startNanos_ = 0;
    std::shared_ptr<const TOpenFiles> openFiles_;
};

// The rules of the rows of one result tree: the folder setup of each folder row, and what the
// last "&Check Temps" knew.
class TRowRules {
public:
    void Start(std::int64_t startNanos);
    void SetOpenFiles(std::shared_ptr<const TOpenFiles> files);
    void SetFolder(PVirtualNode folderRow, const TFolderSpec& setup);
    const TKeepRules& Rules() const { return rules_; }

    // Why the rule left `row` unchecked; empty for a row no rule left.
    QString Why(const TResultTree& tree, PVirtualNode row) const;

private:
    TKeepRules rules_;
    std::unordered_map<PVirtualNode, TFolderSpec> folders_;
};

// "3 hours", "1 day", "45 seconds": how long `nanos` is, in the largest whole unit.
QString SpanText(std::int64_t nanos);

}  // namespace purgala
