#pragma once
// The record carried by every row of the result tree and of the folder settings grid.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FileFacts.h"
#include "scan/FieldKind.h"

namespace purgala {

// The two values of a result row's FileType.
inline constexpr std::string_view kFolderType = "folder";
inline constexpr std::string_view kFileType = "file";

// Why a rule left a listed file unchecked: changed recently in a folder with an age, held by a
// running program, in a folder whose age is no whole number of days, or another user's file in
// a folder that lets only a file's owner remove it.
enum class TKeepReason : std::uint8_t { None, Recent, InUse, BadAge, NotYours };

class TScanFolder;

// A shared reference to a folder the scan went through. Single-threaded, like every row.
class TScanFolderRef {
public:
    TScanFolderRef() = default;
    explicit TScanFolderRef(std::unique_ptr<TScanFolder> folder);
    TScanFolderRef(const TScanFolderRef& other);
    TScanFolderRef& operator=(const TScanFolderRef& other);
    TScanFolderRef(TScanFolderRef&& other) noexcept : folder_(other.folder_) {
        other.folder_ = nullptr;
    }
    TScanFolderRef& operator=(TScanFolderRef&& other) noexcept;
    ~TScanFolderRef() { Release(); }

    // Another reference to a folder some reference keeps already.
    static TScanFolderRef Of(TScanFolder* folder);

    TScanFolder* get() const { return folder_; }
    TScanFolder* operator->() const { return folder_; }
    explicit operator bool() const { return folder_ != nullptr; }

private:
    void Release();
    TScanFolder* folder_ = nullptr;
};

// A folder the scan went through: its own part of the path, a reference to the folder above it,
// and the names of its listed files, back to back. A row keeps its name's place here, so a
// folder's path is stored once however many files it holds.
class TScanFolder {
public:
    // The configured folder: `dir` is its path as typed with "/" appended, `identity` what it was
    // when the scan opened it.
    static TScanFolderRef Root(std::string_view dir, TFileIdentity identity);
    // The sub-folder `name` of `parent`.
    static TScanFolderRef Sub(const TScanFolderRef& parent, std::string_view name);
    // The record that takes this folder's names now: this one, or, once it holds no more, the
    // last of the records of the same folder made after it.
    TScanFolder& ForNames();
    // Makes the next record of the same folder, for names beyond this one's room (this must be
    // the last, see ForNames), and gives back this one's spare room.
    TScanFolder& Continue();

    explicit TScanFolder(std::string_view part) : part_(part) {}

    // The last offset a name may start at: a row keeps it in 15 bits, and a folder with more
    // names goes on in another record (Continued).
    static constexpr std::uint32_t kMaxNameOffset = (1u << 15) - 1;

    // Stores a file's name; its offset for Name. Empty when this record holds no more room.
    std::optional<std::uint32_t> AddName(std::string_view name);
    std::string_view Name(std::uint32_t offset, std::uint8_t length) const {
        return std::string_view(names_).substr(offset, length);
    }
    // Gives back the spare room once no more names come.
    void Seal() { names_.shrink_to_fit(); }

    // The path of this folder, ending in "/", with `name` appended.
    std::string PathWith(std::string_view name) const;
    // The configured folder as it was scanned; an inode of zero when unknown. Its device is
    // every listed file's: the scan does not leave the configured folder's file system.
    TFileIdentity RootIdentity() const { return root_->rootIdentity_; }

private:
    friend class TScanFolderRef;
    std::uint32_t refs_ = 0;
    TScanFolderRef parent_;
    const TScanFolder* root_ = this;  // kept alive through parent_
    TFileIdentity rootIdentity_;      // set on the configured folder only
    std::string part_;                // "name/", or the configured folder's path with its "/"
    std::string names_;
    TScanFolderRef next_;           // the record made when this one was full
    TScanFolder* forNames_ = this;  // the last of the chain, as far as this record knows
};

// The stamp that the row of a file listed in `folder` keeps (TFileNodeData::Stamp), for those
// who hand the file on without making a row.
TFileStamp RowStampOf(const TScanFolder& folder, const TFileEntryInfo& info);

// One text per field kind, as the rest of the program sees it. A million rows must fit in
// memory, so a scanned file keeps its name, a reference to its folder, and its size and times as
// numbers; the texts of those kinds are made when asked for. Texts set one by one (folder rows,
// the settings grid) are kept as they are.
class TFileNodeData {
public:
    TFileNodeData() = default;
    TFileNodeData(const TFileNodeData& other);
    TFileNodeData& operator=(const TFileNodeData& other);
    TFileNodeData(TFileNodeData&& other) noexcept;
    TFileNodeData& operator=(TFileNodeData&& other) noexcept;
    ~TFileNodeData();

    // The text of one kind; empty when nothing set it.
    std::string Text(TFieldKind kind) const;
    void SetText(TFieldKind kind, std::string_view text);

    std::string FileName() const { return Text(TFieldKind::FileName); }
    std::string FullPath() const;
    std::string FileSize() const { return Text(TFieldKind::FileSize); }
    std::string FileExt() const { return Text(TFieldKind::FileExt); }
    std::string FileType() const { return Text(TFieldKind::FileType); }

    // Fills the row of a scanned file named `name` in `folder`; the texts of its name, path,
    // size, times, extension and type follow. False, leaving the row as it was, when the name
    // cannot be kept (longer than a file name can be, or no room left in the folder).
    bool AssignFile(const TScanFolderRef& folder, std::string_view name,
                    const TFileEntryInfo& info);
    // The same for a file whose folder was not scanned: `fullPath` with the name starting at
    // `nameOffset`. Such a row is never deleted, since no scan saw its folder.
    void AssignFile(std::string_view fullPath, std::size_t nameOffset, const TFileEntryInfo& info);

    // The raw values behind a scanned file's texts (zero or unknown for any other row).
    bool IsScannedFile() const { return size_ >= 0; }
    std::int64_t Size() const { return IsScannedFile() ? size_ : 0; }
    // CreateTime, AccessTime or WriteTime. The access time is kept in whole seconds: the texts
    // show no fraction of a second, and telling files apart needs none.
    TFileTime Time(TFieldKind kind) const;
    std::uint64_t Device() const { return Stamp().identity.device; }
    std::uint64_t Inode() const { return Stamp().identity.inode; }
    TFileStamp Stamp() const;
    // The configured folder the file was found in, as the scan opened it.
    TFileIdentity FolderIdentity() const;

    // The rule that left the row unchecked; None once the user set its box.
    TKeepReason KeptBy() const { return static_cast<TKeepReason>(packed_.keptBy); }
    void SetKeptBy(TKeepReason reason) { packed_.keptBy = static_cast<std::uint8_t>(reason); }

private:
    using Texts = std::unique_ptr<std::string[]>;
    static constexpr std::int64_t kPlain = -1;  // the size of a row that is no scanned file

    void MakeScanned();
    void MakePlain();
    void DestroyStorage();
    const Texts& PlainTexts() const { return storage_.texts; }
    std::string_view Name() const {
        return storage_.folder->Name(packed_.nameOffset, packed_.nameLength);
    }

    // A million rows must fit: these fields keep the record at 48 bytes. A row's icon is worked
    // out for each cell painted and handed straight to the view, not kept here.
    // A scanned file keeps its folder; any other row one text per kind, absent until a text is
    // set.
    union Storage {
        Storage() : texts() {}
        ~Storage() {}
        TScanFolderRef folder;
        Texts texts;
    } storage_;
    std::int64_t size_ = kPlain;
    // Nanoseconds since the epoch: the last write, and the birth (or, where the file system
    // records none, the status change mixed with the handle's digest; see TFileStamp).
    std::int64_t writeNanos_ = 0;
    std::int64_t bornOrChanged_ = 0;
    std::uint64_t inode_ = 0;
    // The rest in one word: the access time, the rule, and where the name lies in its folder's
    // record (see TScanFolder::kMaxNameOffset).
    struct Packed {
        std::int64_t accessSeconds : 37;  // some 2,000 years either side of 1970
        std::uint64_t keptBy : 3;
        std::uint64_t birthKnown : 1;  // bornOrChanged_ is the birth time
        std::uint64_t nameLength : 8;
        std::uint64_t nameOffset : 15;
    } packed_{};
};

}  // namespace purgala
