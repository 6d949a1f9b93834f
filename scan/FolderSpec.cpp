#include "scan/FolderSpec.h"

#include <utility>

#include "config/AttributeValues.h"
#include "config/PurgalaConfig.h"
#include "platform/FileNames.h"

namespace purgala {

namespace {

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

TExtFilter::TExtFilter(std::string_view ext) : upper_(ext) {
    for (char& c : upper_) {
        c = AsciiUpper(c);
    }
}

bool TExtFilter::Matches(std::string_view name) const {
    if (upper_.empty()) {
        return true;
    }
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.size() - dot - 1 != upper_.size()) {
        return false;
    }
    const char* e = name.data() + dot + 1;
    for (std::size_t i = 0; i < upper_.size(); ++i) {
        if (AsciiUpper(e[i]) != upper_[i]) {
            return false;
        }
    }
    return true;
}

TFolderSpec::TFolderSpec(std::string path, std::string ext, std::string ageText)
    : path(std::move(path)), ext(std::move(ext)), filter(this->ext), ageText(std::move(ageText)) {
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
                       folder.GetAgeText().toStdString());
}

std::vector<TFolderSpec> FolderSpecsOf(const std::shared_ptr<IXMLFoldersType>& folders) {
    std::vector<TFolderSpec> specs;
    const int count = folders->GetCount();
    specs.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        specs.push_back(FolderSpecOf(*folders->GetFolder(i)));
    }
    return specs;
}

}  // namespace purgala
