#pragma once
// The rows of the tree grid: the node record, who owns whom (a row owns its children), and the
// walks over live rows. Rows deleted inside an update bracket stay in their parent's list, marked,
// until the bracket ends; every walk here passes over them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/TreeTypes.h"
#include "scan/FileNodeData.h"

namespace purgala {

enum NodeFlag : std::uint8_t {
    kExpanded = 1,
    kInitialized = 2,
    kDeleted = 4,
    kHasDeletedChildren = 8,  // listed for closing its gaps at the end of the bracket
};

struct TVirtualNode {
    // From slabs of rows rather than a heap block each (see TreeRows.cpp).
    static void* operator new(std::size_t size);
    static void operator delete(void* p, std::size_t size) noexcept;

    struct Children {
        std::vector<std::unique_ptr<TVirtualNode>> rows;
        // Rows the view has been told about; rows appended inside an update bracket are
        // announced in one go when it ends.
        std::uint32_t committed = 0;
    };

    TVirtualNode* parent = nullptr;  // the hidden root for a top-level row
    std::unique_ptr<Children> children;
    std::uint32_t index = 0;
    TCheckType checkType = TCheckType::None;
    TCheckState checkState = TCheckState::Unchecked;
    std::uint8_t flags = 0;
    TFileNodeData data;

    bool Has(NodeFlag flag) const { return (flags & flag) != 0; }
    void Set(NodeFlag flag, bool on) {
        flags =
            on ? static_cast<std::uint8_t>(flags | flag) : static_cast<std::uint8_t>(flags & ~flag);
    }
    std::size_t RowCount() const { return children ? children->rows.size() : 0; }
    TVirtualNode* Child(std::size_t i) const { return children->rows[i].get(); }
};

// The first live child of `parent` at or after position `from`, or nullptr.
PVirtualNode LiveChildFrom(const TVirtualNode* parent, std::size_t from);
// The last live child of `parent` before position `before`, or nullptr.
PVirtualNode LiveChildBefore(const TVirtualNode* parent, std::size_t before);
// The last live row in pre-order below `node`, or `node` itself.
PVirtualNode LastDescendant(PVirtualNode node);
// Neither the row nor any row above it is marked deleted.
bool IsLive(const TVirtualNode* node);
// Rows between `node` and the hidden root.
unsigned Depth(const TVirtualNode* node);
// Gives every child of `parent` its position as its index.
void Renumber(TVirtualNode* parent);

}  // namespace purgala
