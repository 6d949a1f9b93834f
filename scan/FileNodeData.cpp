#include "scan/FileNodeData.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <new>
#include <utility>

#include "util/FileTime.h"
#include "util/FileUtils.h"

namespace purgala {

namespace {

bool IsTimeKind(TFieldKind kind) {
    return kind == TFieldKind::CreateTime || kind == TFieldKind::AccessTime ||
           kind == TFieldKind::WriteTime;
}

}  // namespace

// ---- folders ------------------------------------------------------------------------------------

TScanFolderRef::TScanFolderRef(std::unique_ptr<TScanFolder> folder) : folder_(folder.release()) {
    if (folder_ != nullptr) {
        ++folder_->refs_;
    }
}

TScanFolderRef::TScanFolderRef(const TScanFolderRef& other) : folder_(other.folder_) {
    if (folder_ != nullptr) {
        ++folder_->refs_;
    }
}

TScanFolderRef& TScanFolderRef::operator=(const TScanFolderRef& other) {
    TScanFolderRef copy(other);
    *this = std::move(copy);
    return *this;
}

TScanFolderRef& TScanFolderRef::operator=(TScanFolderRef&& other) noexcept {
    if (this != &other) {
        Release();
        folder_ = other.folder_;
        other.folder_ = nullptr;
    }
    return *this;
}

void TScanFolderRef::Release() {
    // Up the chain in a loop: a tree thousands of folders deep must not recurse as deep.
    TScanFolder* folder = std::exchange(folder_, nullptr);
    while (folder != nullptr && --folder->refs_ == 0) {
        TScanFolder* parent = std::exchange(folder->parent_.folder_, nullptr);
        std::unique_ptr<TScanFolder> owned(folder);
        owned.reset();
        folder = parent;
    }
}

TScanFolderRef TScanFolder::Root(std::string_view dir, TFileIdentity identity) {
    TScanFolderRef root(std::make_unique<TScanFolder>(dir));
    root->rootIdentity_ = identity;
    return root;
}

TScanFolderRef TScanFolder::Sub(const TScanFolderRef& parent, std::string_view name) {
    auto folder = std::make_unique<TScanFolder>(name);
    folder->part_.push_back('/');
    folder->parent_ = parent;
    folder->root_ = parent->root_;
    return TScanFolderRef(std::move(folder));
}

const TScanFolderRef& TScanFolder::Continued() {
    if (!next_) {
        Seal();
        auto next = std::make_unique<TScanFolder>(part_);
        next->parent_ = parent_;
        next->rootIdentity_ = rootIdentity_;
        next->root_ = parent_ ? root_ : next.get();
        next_ = TScanFolderRef(std::move(next));
    }
    return next_;
}

std::optional<std::uint32_t> TScanFolder::AddName(std::string_view name) {
    if (names_.size() + name.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    const auto offset = static_cast<std::uint32_t>(names_.size());
    names_.append(name);
    return offset;
}

std::string TScanFolder::PathWith(std::string_view name) const {
    std::size_t length = name.size();
    for (const TScanFolder* f = this; f != nullptr; f = f->parent_.get()) {
        length += f->part_.size();
    }
    std::string path(length, '\0');
    std::size_t end = length - name.size();
    std::copy(name.begin(), name.end(), path.begin() + static_cast<std::ptrdiff_t>(end));
    for (const TScanFolder* f = this; f != nullptr; f = f->parent_.get()) {
        end -= f->part_.size();
        std::copy(f->part_.begin(), f->part_.end(),
                  path.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return path;
}

// ---- rows ---------------------------------------------------------------------------------------

static_assert(sizeof(TFileNodeData) == 56, "a million rows are budgeted at this size");

TFileNodeData::TFileNodeData(const TFileNodeData& other)
    : birthKnown_(other.birthKnown_),
      nameLength_(other.nameLength_),
      keptBy_(other.keptBy_),
      nameOffset_(other.nameOffset_),
      size_(other.size_),
      times_{other.times_[0], other.times_[1], other.times_[2]},
      inode_(other.inode_) {
    Reset(other.kind_);
    if (kind_ == RowKind::ScannedFile) {
        storage_.folder = other.storage_.folder;
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
        Reset(other.kind_);
        if (kind_ == RowKind::ScannedFile) {
            storage_.folder = std::move(other.storage_.folder);
        } else {
            storage_.texts = std::move(other.storage_.texts);
        }
        birthKnown_ = other.birthKnown_;
        nameLength_ = other.nameLength_;
        keptBy_ = other.keptBy_;
        nameOffset_ = other.nameOffset_;
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
        storage_.folder.~TScanFolderRef();
    } else {
        storage_.texts.~Texts();
    }
}

void TFileNodeData::Reset(RowKind kind) {
    DestroyStorage();
    kind_ = kind;
    if (kind == RowKind::ScannedFile) {
        new (&storage_.folder) TScanFolderRef();
    } else {
        new (&storage_.texts) Texts();
    }
}

std::string TFileNodeData::FullPath() const {
    if (kind_ == RowKind::ScannedFile) {
        return storage_.folder->PathWith(Name());
    }
    return PlainTexts() ? PlainTexts()[Ord(TFieldKind::FullPath)] : std::string();
}

std::string TFileNodeData::Text(TFieldKind kind) const {
    if (kind_ == RowKind::ScannedFile) {
        switch (kind) {
            case TFieldKind::FullPath:
                return FullPath();
            case TFieldKind::FileName:
                return std::string(Name());
            case TFieldKind::FileSize:
                return std::to_string(size_);
            case TFieldKind::FileExt:
                // A name holds no "/", so its extension is the full path's.
                return FileExtOf(Name());
            case TFieldKind::FileType:
                return std::string(kFileType);
            case TFieldKind::CreateTime:
            case TFieldKind::AccessTime:
            case TFieldKind::WriteTime:
                return FileTimeToText(Time(kind));
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

bool TFileNodeData::AssignFile(const TScanFolderRef& folder, std::string_view name,
                               const TFileEntryInfo& info) {
    if (!folder || name.size() > std::numeric_limits<std::uint8_t>::max()) {
        return false;
    }
    // A folder whose names fill one record goes on in another: no row without its identity.
    const TScanFolderRef* record = &folder;
    std::optional<std::uint32_t> offset;
    while (!(offset = (*record)->AddName(name))) {
        record = &(*record)->Continued();
    }
    Reset(RowKind::ScannedFile);
    storage_.folder = *record;
    nameOffset_ = *offset;
    nameLength_ = static_cast<std::uint8_t>(name.size());
    const TFileStamp stamp = StampOf(info);
    birthKnown_ = stamp.birthKnown;
    size_ = info.size;
    times_[0] = stamp.bornOrChanged;
    times_[1] = NanosOf(info.accessTime);
    times_[2] = stamp.writeTime;
    inode_ = info.inode;
    return true;
}

void TFileNodeData::AssignFile(std::string_view fullPath, std::size_t nameOffset,
                               const TFileEntryInfo& info) {
    // Consecutive files of one folder share its record, as a scan's do.
    thread_local TScanFolderRef last;
    const std::string_view dir = fullPath.substr(0, nameOffset);
    const std::string_view name = fullPath.substr(nameOffset);
    if (!last || last->PathWith({}) != dir || last->RootIdentity().device != info.device ||
        !AssignFile(last, name, info)) {
        // The device is every file's of a folder; an inode of zero marks a folder never opened.
        last = TScanFolder::Root(dir, {info.device, 0});
        if (!AssignFile(last, name, info)) {
            // A name longer than any file system gives: its texts are kept as texts.
            Reset(RowKind::Plain);
            SetText(TFieldKind::FullPath, fullPath);
            SetText(TFieldKind::FileName, name);
            SetText(TFieldKind::FileSize, std::to_string(info.size));
            SetText(TFieldKind::CreateTime, FileTimeToText(info.createTime));
            SetText(TFieldKind::AccessTime, FileTimeToText(info.accessTime));
            SetText(TFieldKind::WriteTime, FileTimeToText(info.writeTime));
            SetText(TFieldKind::FileExt, FileExtOf(fullPath));
            SetText(TFieldKind::FileType, kFileType);
        }
    }
}

TFileTime TFileNodeData::Time(TFieldKind kind) const {
    if (kind_ != RowKind::ScannedFile || !IsTimeKind(kind)) {
        return {};
    }
    if (kind == TFieldKind::CreateTime) {
        return birthKnown_ ? TimeOfNanos(times_[0]) : TFileTime{};
    }
    return TimeOfNanos(times_[kind == TFieldKind::AccessTime ? 1 : 2]);
}

TFileStamp TFileNodeData::Stamp() const {
    if (kind_ != RowKind::ScannedFile) {
        return {};
    }
    return {
        {storage_.folder->RootIdentity().device, inode_}, size_, times_[2], times_[0], birthKnown_};
}

TFileIdentity TFileNodeData::FolderIdentity() const {
    return kind_ == RowKind::ScannedFile ? storage_.folder->RootIdentity() : TFileIdentity{};
}

}  // namespace purgala
