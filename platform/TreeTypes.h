#pragma once
// The tree grid's vocabulary, shared by its rows, its model, its header and its owner: the handle
// of a row, its check box, sort and alignment settings, and the view of one set of siblings that
// a sort is given.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace purgala {

struct TTopRow;
class TResultTree;

// A row: a top-level row, or a child row by its position below one. Like a model index, a child
// row's handle names a position: it stays good while rows are appended, deleted inside an update
// bracket or changed, and is stale once the rows of its parent are sorted or deleted rows are
// taken out. A top-level row's handle stays good as long as the row lives.
class PVirtualNode {
public:
    constexpr PVirtualNode() = default;
    constexpr PVirtualNode(std::nullptr_t) {}  // NOLINT: reads as a pointer, as it once was

    explicit operator bool() const { return top_ != nullptr; }
    friend bool operator==(const PVirtualNode&, const PVirtualNode&) = default;

    bool IsTopLevel() const { return top_ != nullptr && child_ == kNoChild; }

private:
    friend class TResultTree;
    friend class TVTModel;
    friend struct std::hash<PVirtualNode>;
    static constexpr std::uint32_t kNoChild = ~std::uint32_t{0};

    constexpr PVirtualNode(TTopRow* top, std::uint32_t child) : top_(top), child_(child) {}

    TTopRow* top_ = nullptr;
    std::uint32_t child_ = kNoChild;
};

enum class TCheckType : std::uint8_t { None, CheckBox };
// CheckedPressed is the moment a box is held down by the mouse; nothing in the program sets it.
enum class TCheckState : std::uint8_t { Unchecked, Checked, CheckedPressed, Mixed };
enum class TSortDirection : std::uint8_t { Ascending, Descending };
enum class TImageKind : std::uint8_t { Normal, Selected, State, Overlay };
enum class TVSTTextType : std::uint8_t { Normal, Static };
enum class TAlignment : std::uint8_t { Left, Right, Center };

inline constexpr int kNoColumn = -1;

// The rows of one set of siblings by position, as a sort sees them, without a list of their own:
// a million rows are sorted at once.
class TSiblingRows {
public:
    std::size_t size() const { return size_; }
    PVirtualNode operator[](std::size_t i) const;

private:
    friend class TResultTree;
    TSiblingRows(const TResultTree& tree, PVirtualNode parent, std::size_t size)
        : tree_(&tree), parent_(parent), size_(size) {}
    const TResultTree* tree_;
    PVirtualNode parent_;  // nullptr: the top level
    std::size_t size_;
};

}  // namespace purgala

template <>
struct std::hash<purgala::PVirtualNode> {
    std::size_t operator()(const purgala::PVirtualNode& node) const noexcept {
        return std::hash<const void*>()(node.top_) ^
               (std::size_t{node.child_} * 0x9E3779B97F4A7C15ull);
    }
};
