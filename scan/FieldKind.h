#pragma once
// The kinds of information a result row can carry. A column of the grid is configured by the
// display name of its kind.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace purgala {

enum class TFieldKind : std::uint8_t {
    FileName,
    FullPath,
    FileSize,
    FileExt,
    FileType,
    Description,
    FileNameLength,
    PathNameLength,
    SizePercentage,
    CatalogName,
    CreateTime,
    AccessTime,
    WriteTime,
    DosName,
    FileCount,
    CreateAgeRange,
    AccessAgeRange,
    WriteAgeRange,
    SizeRange,
    CreateTimePerview,
    AccessTimePerview,
    WriteTimePerview,
    CopyFromFileName,
    CopyFromFullPath,
};

inline constexpr std::size_t kFieldKindCount = 24;

constexpr std::size_t Ord(TFieldKind kind) {
    return static_cast<std::size_t>(kind);
}

}  // namespace purgala
