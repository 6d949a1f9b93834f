#include "scan/FileNodeData.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>

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

static_assert(sizeof(TFileNodeData) == 64, "a million rows are budgeted at this size");

namespace {

constexpr std::uint32_t kMinorBits = 20;
constexpr std::uint32_t kUnknownDevice = 0xFFFFFFFF;

std::uint32_t PackDevice(std::uint64_t device) {
    const std::uint64_t major = ::major(device);
    const std::uint64_t minor = ::minor(device);
    if (major >= (1u << (32 - kMinorBits)) || minor >= (1u << kMinorBits)) {
        return kUnknownDevice;  // never matches a real device: the row is never deleted
    }
    return static_cast<std::uint32_t>(major << kMinorBits | minor);
}

}  // namespace

TFileNodeData::TFileNodeData(const TFileNodeData& other)
    : ExpandedImageIndex(other.ExpandedImageIndex),
      ImageIndex(other.ImageIndex),
      nameOffset_(other.nameOffset_),
      device_(other.device_),
      size_(other.size_),
      times_{other.times_[0], other.times_[1], other.times_[2]},
      inode_(other.inode_) {
    Reset(other.kind_);
    if (kind_ == RowKind::ScannedFile) {
        storage_.path = other.storage_.path;
    } else if (other.PlainTexts()) {
        storage_.texts = std::make_unique<std::string[]>(kFieldKindCount);
        for (std::size_t i = 0; i < kFieldKindCount; ++i) {
            storage_.texts[i] = other.storage_.texts[i];
        }
    }
}

TFileNodeData& TFileNodeData::operator=(const TFileNodeData& other) {
    if (this != &other) {
        *this = TFileNodeData(other);
    }
    return *this;
}

TFileNodeData::TFileNodeData(TFileNodeData&& other) noexcept {
    *this = std::move(other);
}

TFileNodeData& TFileNodeData::operator=(TFileNodeData&& other) noexcept {
    if (this != &other) {
        ExpandedImageIndex = other.ExpandedImageIndex;
        ImageIndex = other.ImageIndex;
        Reset(other.kind_);
        if (kind_ == RowKind::ScannedFile) {
            storage_.path = std::move(other.storage_.path);
        } else {
            storage_.texts = std::move(other.storage_.texts);
        }
        nameOffset_ = other.nameOffset_;
        device_ = other.device_;
        size_ = other.size_;
        std::copy(std::begin(other.times_), std::end(other.times_), std::begin(times_));
        inode_ = other.inode_;
    }
    return *this;
}

TFileNodeData::~TFileNodeData() {
    DestroyStorage();
}

void TFileNodeData::DestroyStorage() {
    if (kind_ == RowKind::ScannedFile) {
        storage_.path.~CompactText();
    } else {
        storage_.texts.~Texts();
    }
}

void TFileNodeData::Reset(RowKind kind) {
    DestroyStorage();
    kind_ = kind;
    if (kind == RowKind::ScannedFile) {
        new (&storage_.path) CompactText();
    } else {
        new (&storage_.texts) Texts();
    }
}

std::string_view TFileNodeData::FullPath() const {
    if (kind_ == RowKind::ScannedFile) {
        return storage_.path.View();
    }
    return PlainTexts() ? std::string_view(PlainTexts()[Ord(TFieldKind::FullPath)])
                        : std::string_view();
}

std::uint64_t TFileNodeData::Device() const {
    if (kind_ != RowKind::ScannedFile) {
        return 0;
    }
    if (device_ == kUnknownDevice) {
        return ~std::uint64_t{0};
    }
    return makedev(device_ >> kMinorBits, device_ & ((1u << kMinorBits) - 1));
}

std::string TFileNodeData::Text(TFieldKind kind) const {
    if (kind_ == RowKind::ScannedFile) {
        const std::string_view path = storage_.path.View();
        switch (kind) {
            case TFieldKind::FullPath:
                return std::string(path);
            case TFieldKind::FileName:
                return std::string(path.substr(nameOffset_));
            case TFieldKind::FileSize:
                return std::to_string(size_);
            case TFieldKind::FileExt:
                return FileExtOf(path);
            case TFieldKind::FileType:
                return std::string(kFileType);
            case TFieldKind::CreateTime:
            case TFieldKind::AccessTime:
            case TFieldKind::WriteTime:
                return FileTimeToText(times_[TimeSlot(kind)]);
            default:
                return {};
        }
    }
    return PlainTexts() ? PlainTexts()[Ord(kind)] : std::string();
}

void TFileNodeData::SetText(TFieldKind kind, std::string_view text) {
    if (kind_ == RowKind::ScannedFile) {
        // From now on this row's texts stand on their own.
        auto texts = std::make_unique<std::string[]>(kFieldKindCount);
        for (std::size_t i = 0; i < kFieldKindCount; ++i) {
            texts[i] = Text(static_cast<TFieldKind>(i));
        }
        Reset(RowKind::Plain);
        storage_.texts = std::move(texts);
    }
    if (!storage_.texts) {
        if (text.empty()) {
            return;
        }
        storage_.texts = std::make_unique<std::string[]>(kFieldKindCount);
    }
    storage_.texts[Ord(kind)] = std::string(text);
}

void TFileNodeData::AssignFile(std::string_view fullPath, std::size_t nameOffset,
                               const TFileEntryInfo& info) {
    if (nameOffset > std::numeric_limits<std::uint16_t>::max()) {
        // A path deeper than the offset can say: keep this rare row's texts as texts. Without
        // an identity it is never deleted.
        Reset(RowKind::Plain);
        SetText(TFieldKind::FullPath, fullPath);
        SetText(TFieldKind::FileName, fullPath.substr(nameOffset));
        SetText(TFieldKind::FileSize, std::to_string(info.size));
        SetText(TFieldKind::CreateTime, FileTimeToText(info.createTime));
        SetText(TFieldKind::AccessTime, FileTimeToText(info.accessTime));
        SetText(TFieldKind::WriteTime, FileTimeToText(info.writeTime));
        SetText(TFieldKind::FileExt, FileExtOf(fullPath));
        SetText(TFieldKind::FileType, kFileType);
        return;
    }
    Reset(RowKind::ScannedFile);
    storage_.path = CompactText(fullPath);
    nameOffset_ = static_cast<std::uint16_t>(nameOffset);
    size_ = info.size;
    times_[0] = info.createTime;
    times_[1] = info.accessTime;
    times_[2] = info.writeTime;
    device_ = PackDevice(info.device);
    inode_ = info.inode;
}

TFileTime TFileNodeData::Time(TFieldKind kind) const {
    if (kind_ != RowKind::ScannedFile || !IsTimeKind(kind)) {
        return {};
    }
    return times_[TimeSlot(kind)];
}

}  // namespace purgala
