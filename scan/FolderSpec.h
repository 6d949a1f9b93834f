#pragma once
// One configured folder as the work sees it: where it is, which of its files count, and how
// recent a file may be before it is listed unchecked. Built once per folder from the document;
// the scan, the rules and the totals all read it, so a new rule for a folder lives here, in the
// binding and in the settings dialog, and nowhere else.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace purgala {

class IXMLFolderType;
class IXMLFoldersType;

// Which file names count: the text after the last dot equals the extension in any ASCII letter
// case; every name when the extension is empty. Only a-z are folded: other bytes, UTF-8 letters
// included, must match exactly.
class TExtFilter {
public:
    explicit TExtFilter(std::string_view ext);
    bool Matches(std::string_view name) const;
    bool MatchesAll() const { return upper_.empty(); }

private:
    std::string upper_;
};

struct TFolderSpec {
    TFolderSpec(std::string path, std::string ext, std::string ageText = {});

    std::string path;  // as configured, file-system bytes
    std::string ext;   // as configured
    TExtFilter filter;
    // The age rule: files changed fewer than `ageDays` days before the scan started are listed
    // unchecked; 0 for none. An age that is no whole number of days (`badAge`) leaves every file
    // of the folder unchecked.
    std::int32_t ageDays = 0;
    bool badAge = false;
    std::string ageText;  // as written, UTF-8, for the messages

    bool HasAgeRule() const { return ageDays > 0 || badAge; }
};

// The spec of one `folder` element, and of every one in document order.
TFolderSpec FolderSpecOf(IXMLFolderType& folder);
std::vector<TFolderSpec> FolderSpecsOf(const std::shared_ptr<IXMLFoldersType>& folders);

}  // namespace purgala
