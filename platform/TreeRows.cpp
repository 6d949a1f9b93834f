#include "platform/TreeRows.h"

#include <algorithm>

namespace purgala {

namespace {

// Rows come and go by the million, each the same size. The general heap would put each in a
// block of its own with a header and rounding (a 96-byte block for an 80-byte row); slabs of
// rows without either keep a million rows 16 MB smaller. Freed rows are reused, never returned.
// Under AddressSanitizer rows take the general heap, so that a row used after it was freed is
// still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPoolRows = false;
#else
constexpr bool kPoolRows = true;
#endif

template <std::size_t Size, std::size_t Align>
class TSlabPool {
public:
    void* Allocate() {
        if (free_ == nullptr) {
            Grow();
        }
        Slot* slot = free_;
        free_ = slot->next;
        ++inUse_;
        return slot;
    }

    void Free(void* p) noexcept {
        auto* slot = static_cast<Slot*>(p);
        slot->next = free_;
        free_ = slot;
        --inUse_;
    }

    TRowPoolUsage Usage() const {
        return {inUse_ * sizeof(Slot), slabs_.size() * kSlabRows * sizeof(Slot)};
    }

private:
    union Slot {
        Slot* next;
        alignas(Align) std::byte bytes[Size];
    };
    static constexpr std::size_t kSlabRows = 4096;

    void Grow() {
        slabs_.push_back(std::make_unique<Slot[]>(kSlabRows));
        Slot* slab = slabs_.back().get();
        for (std::size_t i = kSlabRows; i-- > 0;) {
            slab[i].next = free_;
            free_ = &slab[i];
        }
    }

    std::vector<std::unique_ptr<Slot[]>> slabs_;
    Slot* free_ = nullptr;
    std::size_t inUse_ = 0;
};

TSlabPool<sizeof(TVirtualNode), alignof(TVirtualNode)>& RowPool() {
    static TSlabPool<sizeof(TVirtualNode), alignof(TVirtualNode)> pool;
    return pool;
}

}  // namespace

TRowPoolUsage RowPoolUsage() {
    return RowPool().Usage();
}

void* TVirtualNode::operator new(std::size_t size) {
    return kPoolRows ? RowPool().Allocate() : ::operator new(size);
}

void TVirtualNode::operator delete(void* p, std::size_t size) noexcept {
    if (kPoolRows) {
        RowPool().Free(p);
    } else {
        ::operator delete(p, size);
    }
}

std::size_t TSiblingRows::size() const {
    return parent_->RowCount();
}

PVirtualNode TSiblingRows::operator[](std::size_t i) const {
    return parent_->Child(i);
}

PVirtualNode LiveChildFrom(const TVirtualNode* parent, std::size_t from) {
    if (!parent->children) {
        return nullptr;
    }
    const auto& rows = parent->children->rows;
    for (std::size_t i = from; i < rows.size(); ++i) {
        if (!rows[i]->Has(kDeleted)) {
            return rows[i].get();
        }
    }
    return nullptr;
}

PVirtualNode LiveChildBefore(const TVirtualNode* parent, std::size_t before) {
    if (!parent->children) {
        return nullptr;
    }
    const auto& rows = parent->children->rows;
    for (std::size_t i = std::min(before, rows.size()); i-- > 0;) {
        if (!rows[i]->Has(kDeleted)) {
            return rows[i].get();
        }
    }
    return nullptr;
}

PVirtualNode LastDescendant(PVirtualNode node) {
    while (PVirtualNode last = LiveChildBefore(node, node->RowCount())) {
        node = last;
    }
    return node;
}

bool IsLive(const TVirtualNode* node) {
    for (; node != nullptr; node = node->parent) {
        if (node->Has(kDeleted)) {
            return false;
        }
    }
    return true;
}

unsigned Depth(const TVirtualNode* node) {
    unsigned depth = 0;
    for (; node->parent != nullptr; node = node->parent) {
        ++depth;
    }
    return depth;
}

void Renumber(TVirtualNode* parent) {
    auto& rows = parent->children->rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i]->index = static_cast<std::uint32_t>(i);
    }
}

}  // namespace purgala
