#pragma once
// A sequence of rows kept in blocks of a fixed number of elements: indexed like a vector, but it
// never moves what it holds to grow. A vector of a million rows that grows by doubling holds the
// old and the new copy at once, half again the rows' own memory at the worst moment; here the
// last block alone grows, as a small vector does, until it is full.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace purgala {

template <typename T, std::size_t BlockSize = 256>
class TRowBlocks {
    static_assert((BlockSize & (BlockSize - 1)) == 0, "a power of two, for cheap indexing");

public:
    TRowBlocks() = default;
    TRowBlocks(const TRowBlocks&) = delete;
    TRowBlocks& operator=(const TRowBlocks&) = delete;
    TRowBlocks(TRowBlocks&& other) noexcept
        : blocks_(std::move(other.blocks_)),
          size_(std::exchange(other.size_, 0)),
          lastCapacity_(std::exchange(other.lastCapacity_, 0)) {}
    TRowBlocks& operator=(TRowBlocks&& other) noexcept {
        if (this != &other) {
            clear();
            blocks_ = std::move(other.blocks_);
            size_ = std::exchange(other.size_, 0);
            lastCapacity_ = std::exchange(other.lastCapacity_, 0);
        }
        return *this;
    }
    ~TRowBlocks() { clear(); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    T& operator[](std::size_t i) { return blocks_[i / BlockSize].get()[i % BlockSize]; }
    const T& operator[](std::size_t i) const { return blocks_[i / BlockSize].get()[i % BlockSize]; }

    T& emplace_back() {
        const std::size_t inBlock = size_ % BlockSize;
        if (inBlock == 0 && (blocks_.empty() || lastCapacity_ == BlockSize)) {
            blocks_.push_back(Allocate(kFirstCapacity));
            lastCapacity_ = kFirstCapacity;
        } else if (inBlock == lastCapacity_) {
            GrowLast();
        }
        T* slot = blocks_.back().get() + inBlock;
        new (slot) T();
        ++size_;
        return *slot;
    }

    void clear() {
        for (std::size_t i = size_; i-- > 0;) {
            (*this)[i].~T();
        }
        blocks_.clear();
        size_ = 0;
        lastCapacity_ = 0;
    }

    // Keeps, in their order, the elements whose index `remove` says false for, and gives back
    // the blocks no longer needed.
    template <typename Remove>
    void RemoveIf(Remove&& remove) {
        std::size_t write = 0;
        for (std::size_t read = 0; read < size_; ++read) {
            if (remove(read)) {
                continue;
            }
            if (write != read) {
                (*this)[write] = std::move((*this)[read]);
            }
            ++write;
        }
        Truncate(write);
    }

    // Drops the elements from `count` on, and gives back the blocks no longer needed.
    void Truncate(std::size_t count) {
        if (count >= size_) {
            return;
        }
        for (std::size_t i = size_; i-- > count;) {
            (*this)[i].~T();
        }
        size_ = count;
        const std::size_t before = blocks_.size();
        const std::size_t needed = (size_ + BlockSize - 1) / BlockSize;
        blocks_.resize(needed);
        blocks_.shrink_to_fit();
        if (needed == 0) {
            lastCapacity_ = 0;
        } else if (needed < before) {
            lastCapacity_ = BlockSize;  // every block but the last is a full one
        }
    }

    // Heap bytes held, for measurements.
    std::size_t Capacity() const {
        return blocks_.empty() ? 0 : (blocks_.size() - 1) * BlockSize + lastCapacity_;
    }

private:
    struct Free {
        void operator()(T* p) const noexcept {
            ::operator delete (static_cast<void*>(p), std::align_val_t{alignof(T)});
        }
    };
    using Block = std::unique_ptr<T, Free>;
    // A small folder takes a small block: most folders hold a few files.
    static constexpr std::size_t kFirstCapacity = std::min<std::size_t>(4, BlockSize);

    static Block Allocate(std::size_t capacity) {
        return Block(
            static_cast<T*>(::operator new (capacity * sizeof(T), std::align_val_t{alignof(T)})));
    }

    // The last block is not full yet but has no room left: it doubles, as a vector does.
    void GrowLast() {
        const std::size_t count = size_ % BlockSize;
        const std::size_t capacity = std::min(lastCapacity_ * 2, BlockSize);
        Block grown = Allocate(capacity);
        T* from = blocks_.back().get();
        for (std::size_t i = 0; i < count; ++i) {
            new (grown.get() + i) T(std::move(from[i]));
            from[i].~T();
        }
        blocks_.back() = std::move(grown);
        lastCapacity_ = capacity;
    }

    std::vector<Block> blocks_;
    std::size_t size_ = 0;
    std::size_t lastCapacity_ = 0;  // of the last block
};

}  // namespace purgala
