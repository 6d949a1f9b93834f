#pragma once
// One configured folder as the work sees it: where it is, which of its files count, and how
// recent a file may be before it is listed unchecked. Built once per folder from the document;
// the scan, the rules and the totals all read it, so a new rule for a folder lives here, in the
// binding and in the settings dialog, and nowhere else.

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scan/KeepPatterns.h"

namespace purgala {

class IXMLFolderType;
class IXMLFoldersType;

// Which file names count: the text after the last dot equals the extension, or one of the
// extensions of a list separated by ";", in any ASCII letter case; every name when there is none.
// Only a-z are folded: other bytes, UTF-8 letters included, must match exactly. Blanks around
// the items of a list are not part of them.
class TExtFilter {
public:
    explicit TExtFilter(std::string_view ext);
    bool Matches(std::string_view name) const;
    bool MatchesAll() const { return upper_.empty() && more_.empty(); }

private:
    std::string upper_;              // the one extension: the common case, compared directly
    std::vector<std::string> more_;  // a list, when there is more than one
};

// The extensions as the add-folder dialog stores them, from any way the user writes them:
// "tmp; log", ".tmp", "*.tmp;*.log" give "tmp", "tmp;log". Empty when none is left.
QString BareExtensions(const QString& typed);
// Keep patterns as the dialogs store them: without blanks around them and without empty ones.
QString BareKeepPatterns(const QString& typed);

struct TFolderSpec {
    TFolderSpec(std::string path, std::string ext, std::string ageText = {}, std::string keep = {});

    std::string path;  // as configured, file-system bytes
    std::string ext;   // as configured
    TExtFilter filter;
    std::string keep;  // the keep patterns as configured, file-system bytes
    TKeepPatterns keepPatterns;
    // The age rule: files changed fewer than `ageDays` days before the scan started are listed
    // unchecked; 0 for none. An age that is no whole number of days (`badAge`) leaves every file
    // of the folder unchecked.
    std::int32_t ageDays = 0;
    bool badAge = false;
    std::string ageText;  // as written, UTF-8, for the messages

    bool HasAgeRule() const { return ageDays > 0 || badAge; }
};

// The setup of one `folder` element, and of every one in document order.
TFolderSpec FolderSpecOf(IXMLFolderType& folder);
std::vector<TFolderSpec> FolderSpecsOf(const std::shared_ptr<IXMLFoldersType>& folders);

}  // namespace purgala
