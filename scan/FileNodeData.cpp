#include "scan/FileNodeData.h"

#include <cstring>
#include <limits>

#include "util/FileUtils.h"

namespace purgala {

namespace {

bool IsTimeKind(TFieldKind kind) {
    return kind == TFieldKind::CreateTime || kind == TFieldKind::AccessTime ||
           kind == TFieldKind::WriteTime;
}

std::size_t TimeSlot(TFieldKind kind) {
    return Ord(kind) - Ord(TFieldKind::CreateTime);
}

// The kinds whose text a scanned file derives from its raw values.
bool IsDerivedKind(TFieldKind kind) {
    switch (kind) {
        case TFieldKind::FileName:
        case TFieldKind::FileSize:
        case TFieldKind::FileExt:
        case TFieldKind::FileType:
        case TFieldKind::CreateTime:
        case TFieldKind::AccessTime:
        case TFieldKind::WriteTime:
            return true;
        default:
            return false;
    }
}

}  // namespace

TFileNodeData::CompactText::CompactText(std::string_view text) {
    if (text.empty()) {
        return;
    }
    const auto length = static_cast<std::uint32_t>(text.size());
    bytes_ = std::make_unique_for_overwrite<char[]>(sizeof length + text.size());
    std::memcpy(bytes_.get(), &length, sizeof length);
    std::memcpy(bytes_.get() + sizeof length, text.data(), text.size());
}

TFileNodeData::CompactText& TFileNodeData::CompactText::operator=(const CompactText& other) {
    if (this != &other) {
        *this = CompactText(other.View());
    }
    return *this;
}

std::string_view TFileNodeData::CompactText::View() const {
    if (!bytes_) {
        return {};
    }
    std::uint32_t length = 0;
    std::memcpy(&length, bytes_.get(), sizeof length);
    return {bytes_.get() + sizeof length, length};
}

TFileNodeData::TFileNodeData(const TFileNodeData& other)
    : ExpandedImageIndex(other.ExpandedImageIndex),
      ImageIndex(other.ImageIndex),
      kind_(other.kind_),
      nameOffset_(other.nameOffset_),
      path_(other.path_),
      size_(other.size_),
      times_{other.times_[0], other.times_[1], other.times_[2]},
      device_(other.device_),
      inode_(other.inode_) {
    if (other.texts_) {
        texts_ = std::make_unique<std::string[]>(kFieldKindCount);
        for (std::size_t i = 0; i < kFieldKindCount; ++i) {
            texts_[i] = other.texts_[i];
        }
    }
}

TFileNodeData& TFileNodeData::operator=(const TFileNodeData& other) {
    if (this != &other) {
        *this = TFileNodeData(other);
    }
    return *this;
}

std::string TFileNodeData::Text(TFieldKind kind) const {
    if (kind == TFieldKind::FullPath) {
        return std::string(path_.View());
    }
    if (kind_ == RowKind::ScannedFile && IsDerivedKind(kind)) {
        switch (kind) {
            case TFieldKind::FileName:
                return std::string(path_.View().substr(nameOffset_));
            case TFieldKind::FileSize:
                return std::to_string(size_);
            case TFieldKind::FileExt:
                return FileExtOf(path_.View());
            case TFieldKind::FileType:
                return "file";
            default:
                return FileTimeToText(times_[TimeSlot(kind)]);
        }
    }
    return texts_ ? texts_[Ord(kind)] : std::string();
}

void TFileNodeData::SetText(TFieldKind kind, std::string_view text) {
    if (kind == TFieldKind::FullPath) {
        if (kind_ == RowKind::ScannedFile) {
            // The name is a part of the old path; keep it as the text it was.
            SetText(TFieldKind::FileName, FileName());
        }
        path_ = CompactText(text);
        return;
    }
    if (kind_ == RowKind::ScannedFile && IsDerivedKind(kind)) {
        // From now on this row's texts stand on their own.
        auto texts = std::make_unique<std::string[]>(kFieldKindCount);
        for (std::size_t i = 0; i < kFieldKindCount; ++i) {
            const auto k = static_cast<TFieldKind>(i);
            if (k != TFieldKind::FullPath) {
                texts[i] = Text(k);
            }
        }
        texts_ = std::move(texts);
        kind_ = RowKind::Plain;
    }
    if (!texts_) {
        if (text.empty()) {
            return;
        }
        texts_ = std::make_unique<std::string[]>(kFieldKindCount);
    }
    texts_[Ord(kind)] = std::string(text);
}

void TFileNodeData::AssignFile(std::string_view fullPath, std::size_t nameOffset,
                               const TFileEntryInfo& info) {
    texts_.reset();
    path_ = CompactText(fullPath);
    size_ = info.size;
    times_[0] = info.createTime;
    times_[1] = info.accessTime;
    times_[2] = info.writeTime;
    device_ = info.device;
    inode_ = info.inode;
    if (nameOffset <= std::numeric_limits<std::uint16_t>::max()) {
        kind_ = RowKind::ScannedFile;
        nameOffset_ = static_cast<std::uint16_t>(nameOffset);
    } else {
        // A path deeper than the offset can say: keep this rare row's texts as texts.
        kind_ = RowKind::Plain;
        SetText(TFieldKind::FileName, fullPath.substr(nameOffset));
        SetText(TFieldKind::FileSize, std::to_string(info.size));
        SetText(TFieldKind::CreateTime, FileTimeToText(info.createTime));
        SetText(TFieldKind::AccessTime, FileTimeToText(info.accessTime));
        SetText(TFieldKind::WriteTime, FileTimeToText(info.writeTime));
        SetText(TFieldKind::FileExt, FileExtOf(fullPath));
        SetText(TFieldKind::FileType, "file");
    }
}

TFileTime TFileNodeData::Time(TFieldKind kind) const {
    if (kind_ != RowKind::ScannedFile || !IsTimeKind(kind)) {
        return {};
    }
    return times_[TimeSlot(kind)];
}

}  // namespace purgala
