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

TScanFolderRef TScanFolderRef::Of(TScanFolder* folder) {
    TScanFolderRef ref;
    ref.folder_ = folder;
    if (folder != nullptr) {
        ++folder->refs_;
    }
    return ref;
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

TScanFolder& TScanFolder::ForNames() {
    TScanFolder* record = forNames_;
    while (record->next_) {
        record = record->next_.get();
    }
    forNames_ = record;
    return *record;
}

std::optional<std::uint32_t> TScanFolder::AddName(std::string_view name) {
    if (names_.size() > kMaxNameOffset) {
        return std::nullopt;
    }
    const auto offset = static_cast<std::uint32_t>(names_.size());
    names_.append(name);
    return offset;
}

TScanFolder& TScanFolder::Continue() {
    Seal();
    auto next = std::make_unique<TScanFolder>(part_);
    next->parent_ = parent_;
    next->rootIdentity_ = rootIdentity_;
    next->root_ = parent_ ? root_ : next.get();
    next_ = TScanFolderRef(std::move(next));
    return *next_.get();
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

static_assert(sizeof(TFileNodeData) == 48, "a million rows are budgeted at this size");

namespace {

// Whole seconds that fit the row's access time; the unknown time has the lowest.
constexpr std::int64_t kAccessLimit = (std::int64_t{1} << 36) - 1;
constexpr std::int64_t kUnknownAccess = -kAccessLimit - 1;

}  // namespace

TFileNodeData::TFileNodeData(const TFileNodeData& other)
    : size_(other.size_),
      writeNanos_(other.writeNanos_),
      bornOrChanged_(other.bornOrChanged_),
      inode_(other.inode_),
      packed_(other.packed_) {
    if (IsScannedFile()) {
        new (&storage_.folder) TScanFolderRef(other.storage_.folder);
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
        if (other.IsScannedFile()) {
            MakeScanned();
            storage_.folder = std::move(other.storage_.folder);
        } else {
            MakePlain();
            storage_.texts = std::move(other.storage_.texts);
        }
        size_ = other.size_;
        writeNanos_ = other.writeNanos_;
        bornOrChanged_ = other.bornOrChanged_;
        inode_ = other.inode_;
        packed_ = other.packed_;
    }
    return *this;
}

TFileNodeData::~TFileNodeData() {
    DestroyStorage();
}

void TFileNodeData::DestroyStorage() {
    if (IsScannedFile()) {
        storage_.folder.~TScanFolderRef();
    } else {
        storage_.texts.~Texts();
    }
}

void TFileNodeData::MakeScanned() {
    DestroyStorage();
    size_ = 0;
    new (&storage_.folder) TScanFolderRef();
}

void TFileNodeData::MakePlain() {
    DestroyStorage();
    size_ = kPlain;
    new (&storage_.texts) Texts();
}

std::string TFileNodeData::FullPath() const {
    if (IsScannedFile()) {
        return storage_.folder->PathWith(Name());
    }
    return PlainTexts() ? PlainTexts()[Ord(TFieldKind::FullPath)] : std::string();
}

std::string TFileNodeData::Text(TFieldKind kind) const {
    if (IsScannedFile()) {
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
    if (IsScannedFile()) {
        // From now on this row's texts stand on their own.
        auto texts = std::make_unique<std::string[]>(kFieldKindCount);
        for (std::size_t i = 0; i < kFieldKindCount; ++i) {
            texts[i] = Text(static_cast<TFieldKind>(i));
        }
        MakePlain();
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
    TScanFolder* record = &folder->ForNames();
    std::optional<std::uint32_t> offset = record->AddName(name);
    if (!offset) {
        record = &record->Continue();
        offset = record->AddName(name);
    }
    MakeScanned();
    storage_.folder = TScanFolderRef::Of(record);
    const TFileStamp stamp = StampOf(info);
    size_ = std::max<std::int64_t>(info.size, 0);
    writeNanos_ = stamp.writeTime;
    bornOrChanged_ = stamp.bornOrChanged;
    inode_ = info.inode;
    const TKeepReason kept = KeptBy();
    packed_ = {};
    packed_.accessSeconds = info.accessTime.Known()
                                ? std::clamp(info.accessTime.seconds, -kAccessLimit, kAccessLimit)
                                : kUnknownAccess;
    packed_.birthKnown = stamp.birthKnown ? 1 : 0;
    packed_.nameLength = static_cast<std::uint8_t>(name.size());
    packed_.nameOffset = *offset;
    SetKeptBy(kept);
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
            MakePlain();
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
    if (!IsScannedFile() || !IsTimeKind(kind)) {
        return {};
    }
    switch (kind) {
        case TFieldKind::CreateTime:
            return packed_.birthKnown != 0 ? TimeOfNanos(bornOrChanged_) : TFileTime{};
        case TFieldKind::AccessTime:
            return packed_.accessSeconds == kUnknownAccess ? TFileTime{}
                                                           : TFileTime{packed_.accessSeconds, 0};
        default:
            return TimeOfNanos(writeNanos_);
    }
}

TFileStamp TFileNodeData::Stamp() const {
    if (!IsScannedFile()) {
        return {};
    }
    return {{storage_.folder->RootIdentity().device, inode_},
            size_,
            writeNanos_,
            bornOrChanged_,
            packed_.birthKnown != 0};
}

TFileStamp RowStampOf(const TScanFolder& folder, const TFileEntryInfo& info) {
    TFileStamp stamp = StampOf(info);
    stamp.identity.device = folder.RootIdentity().device;
    stamp.size = std::max<std::int64_t>(info.size, 0);
    return stamp;
}

TFileIdentity TFileNodeData::FolderIdentity() const {
    return IsScannedFile() ? storage_.folder->RootIdentity() : TFileIdentity{};
}

}  // namespace purgala
