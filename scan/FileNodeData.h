#pragma once
// The record carried by every row of the result tree and of the folder settings grid.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "scan/FieldKind.h"
#include "util/FileTime.h"

namespace purgala {

// The two values of a result row's FileType.
inline constexpr std::string_view kFolderType = "folder";
inline constexpr std::string_view kFileType = "file";

// What the scanner learns about one directory entry.
struct TFileEntryInfo {
    std::int64_t size = 0;
    TFileTime createTime;  // birth time, unknown where the file system records none
    TFileTime accessTime;
    TFileTime writeTime;
    std::uint64_t device = 0;  // with `inode`, the identity of the file that was listed
    std::uint64_t inode = 0;
};

// One text per field kind, as the rest of the program sees it. A million rows must fit in
// memory, so a scanned file keeps its path's bytes once and its size and times as numbers; the
// texts of those kinds are made when asked for. Texts set one by one (folder rows, the settings
// grid) are kept as they are.
class TFileNodeData {
public:
    TFileNodeData() = default;
    TFileNodeData(const TFileNodeData& other);
    TFileNodeData& operator=(const TFileNodeData& other);
    TFileNodeData(TFileNodeData&& other) noexcept;
    TFileNodeData& operator=(TFileNodeData&& other) noexcept;
    ~TFileNodeData();

    std::int32_t ExpandedImageIndex = 0;
    std::int32_t ImageIndex = 0;

    // The text of one kind; empty when nothing set it.
    std::string Text(TFieldKind kind) const;
    void SetText(TFieldKind kind, std::string_view text);

    std::string FileName() const { return Text(TFieldKind::FileName); }
    std::string_view FullPath() const;
    std::string FileSize() const { return Text(TFieldKind::FileSize); }
    std::string FileExt() const { return Text(TFieldKind::FileExt); }
    std::string FileType() const { return Text(TFieldKind::FileType); }

    // Fills the row of a scanned file: `fullPath` with the entry's name starting at
    // `nameOffset`; the texts of its name, path, size, times, extension and type follow.
    void AssignFile(std::string_view fullPath, std::size_t nameOffset, const TFileEntryInfo& info);

    // The raw values behind a scanned file's texts (zero or unknown for any other row).
    bool IsScannedFile() const { return kind_ == RowKind::ScannedFile; }
    std::int64_t Size() const { return size_; }
    TFileTime Time(TFieldKind kind) const;  // CreateTime, AccessTime or WriteTime
    std::uint64_t Device() const;
    std::uint64_t Inode() const { return IsScannedFile() ? inode_ : 0; }

private:
    // A byte string of one pointer: the length is stored in front of the bytes.
    class CompactText {
    public:
        CompactText() = default;
        explicit CompactText(std::string_view text);
        CompactText(const CompactText& other) : CompactText(other.View()) {}
        CompactText& operator=(const CompactText& other);
        CompactText(CompactText&&) noexcept = default;
        CompactText& operator=(CompactText&&) noexcept = default;
        std::string_view View() const;

    private:
        std::unique_ptr<char[]> bytes_;
    };

    enum class RowKind : std::uint8_t { Plain, ScannedFile };

    using Texts = std::unique_ptr<std::string[]>;
    // Ends the storage of the current kind and starts an empty one of `kind`.
    void Reset(RowKind kind);
    void DestroyStorage();
    const Texts& PlainTexts() const { return storage_.texts; }

    // A million rows must fit: the fields below keep the record at 64 bytes, so that a row
    // with its tree node fills a 96-byte heap block.
    RowKind kind_ = RowKind::Plain;
    std::uint16_t nameOffset_ = 0;
    // The kernel numbers a device in 32 bits (12 for the major, 20 for the minor number).
    std::uint32_t device_ = 0;
    // A scanned file keeps its path's bytes; any other row one text per kind, absent until a
    // text is set.
    union Storage {
        Storage() : texts() {}
        ~Storage() {}
        CompactText path;
        Texts texts;
    } storage_;
    std::int64_t size_ = 0;
    TFileTime times_[3];
    std::uint64_t inode_ = 0;
};

}  // namespace purgala
