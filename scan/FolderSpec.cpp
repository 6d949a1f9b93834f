#include "scan/FolderSpec.h"

#include <QStringList>
#include <algorithm>
#include <utility>

#include "config/AttributeValues.h"
#include "config/PurgalaConfig.h"
#include "platform/FileNames.h"

namespace purgala {

namespace {

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        c = AsciiUpper(c);
    }
    return upper;
}

bool EqualsUpper(std::string_view text, const std::string& upper) {
    if (text.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < upper.size(); ++i) {
        if (AsciiUpper(text[i]) != upper[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

TExtFilter::TExtFilter(std::string_view ext) {
    // Without a ";" the extension is taken whole, blanks included, as it always was.
    if (ext.find(';') == std::string_view::npos) {
        upper_ = Upper(ext);
        return;
    }
    for (const std::string_view item : ListItemsOf(ext)) {
        more_.push_back(Upper(item));
    }
    if (more_.size() == 1) {
        upper_ = std::move(more_.front());
        more_.clear();
    }
}

bool TExtFilter::Matches(std::string_view name) const {
    if (MatchesAll()) {
        return true;
    }
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return false;
    }
    const std::string_view found = name.substr(dot + 1);
    if (more_.empty()) {
        return EqualsUpper(found, upper_);
    }
    return std::any_of(more_.begin(), more_.end(),
                       [found](const std::string& upper) { return EqualsUpper(found, upper); });
}

QString BareExtensions(const QString& typed) {
    QStringList bare;
    for (QString item : typed.split(u';')) {
        item = item.trimmed();
        if (item.startsWith(u'*')) {
            item.remove(0, 1);
        }
        if (item.startsWith(u'.')) {
            item.remove(0, 1);
        }
        item = item.trimmed();
        if (!item.isEmpty() && !bare.contains(item)) {
            bare.push_back(item);
        }
    }
    return bare.join(u';');
}

QString BareKeepPatterns(const QString& typed) {
    QStringList bare;
    for (const QString& item : typed.split(u';')) {
        if (const QString pattern = item.trimmed(); !pattern.isEmpty()) {
            bare.push_back(pattern);
        }
    }
    return bare.join(u';');
}

TFolderSpec::TFolderSpec(std::string path, std::string ext, std::string ageText, std::string keep)
    : path(std::move(path)),
      ext(std::move(ext)),
      filter(this->ext),
      keep(std::move(keep)),
      keepPatterns(this->keep),
      ageText(std::move(ageText)) {
    if (this->ageText.empty()) {
        return;
    }
    if (const std::optional<std::int32_t> days = AgeDaysOf(QString::fromStdString(this->ageText))) {
        ageDays = *days;
    } else {
        badAge = true;
    }
}

TFolderSpec FolderSpecOf(IXMLFolderType& folder) {
    return TFolderSpec(EncodeFileName(folder.GetFullpath()), EncodeFileName(folder.GetExt()),
                       folder.GetAgeText().toStdString(), EncodeFileName(folder.GetKeep()));
}

std::vector<TFolderSpec> FolderSpecsOf(const std::shared_ptr<IXMLFoldersType>& folders) {
    std::vector<TFolderSpec> setups;
    const int count = folders->GetCount();
    setups.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        setups.push_back(FolderSpecOf(*folders->GetFolder(i)));
    }
    return setups;
}

}  // namespace purgala
