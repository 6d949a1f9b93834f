#pragma once
// The tree grid's vocabulary, shared by its rows, its model, its header and its owner: the handle
// of a row, its check box, sort and alignment settings, and the view of one set of siblings that
// a sort is given.

#include <cstddef>
#include <cstdint>

namespace purgala {

struct TVirtualNode;
using PVirtualNode = TVirtualNode*;

enum class TCheckType : std::uint8_t { None, CheckBox };
// CheckedPressed is the moment a box is held down by the mouse; nothing in the program sets it.
enum class TCheckState : std::uint8_t { Unchecked, Checked, CheckedPressed, Mixed };
enum class TSortDirection : std::uint8_t { Ascending, Descending };
enum class TImageKind : std::uint8_t { Normal, Selected, State, Overlay };
enum class TVSTTextType : std::uint8_t { Normal, Static };
enum class TAlignment : std::uint8_t { Left, Right, Center };

inline constexpr int kNoColumn = -1;

class TVTModel;

// What the rows of every tree take from the heap: bytes of live rows, and bytes held for rows
// (live or free for reuse). For measurements; both are zero where rows take the general heap.
struct TRowPoolUsage {
    std::size_t inUse = 0;
    std::size_t reserved = 0;
};
TRowPoolUsage RowPoolUsage();

// The rows of one set of siblings by position, as a sort sees them, without a list of their own:
// a million rows are sorted at once.
class TSiblingRows {
public:
    std::size_t size() const;
    PVirtualNode operator[](std::size_t i) const;

private:
    friend class TVTModel;
    explicit TSiblingRows(const TVirtualNode* parent) : parent_(parent) {}
    const TVirtualNode* parent_;
};

}  // namespace purgala
