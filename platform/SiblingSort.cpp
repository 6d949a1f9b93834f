#include "platform/SiblingSort.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace purgala {

namespace {

// Top-down merge sort of positions. Taking the second run's row first only on a strict answer
// keeps rows that compare equal in their order when ascending and reverses them when descending.
// Only the first run of a merge is set aside, so the spare room is half the positions.
class SiblingSorter {
public:
    SiblingSorter(const std::function<int(std::size_t, std::size_t)>& compare, bool ascending)
        : compare_(compare), ascending_(ascending) {}

    std::vector<std::uint64_t> Sort(std::size_t count) {
        std::vector<std::uint64_t> order(count);
        for (std::size_t i = 0; i < count; ++i) {
            order[i] = i;
        }
        buffer_.resize((count + 1) / 2);
        SortRange(order, 0, count);
        return order;
    }

private:
    void SortRange(std::vector<std::uint64_t>& order, std::size_t lo, std::size_t hi) {
        if (hi - lo < 2) {
            return;
        }
        const std::size_t mid = lo + (hi - lo) / 2;
        SortRange(order, lo, mid);
        SortRange(order, mid, hi);
        const auto at = [](auto& v, std::size_t i) {
            return v.begin() + static_cast<std::ptrdiff_t>(i);
        };
        std::copy(at(order, lo), at(order, mid), buffer_.begin());
        std::size_t i = 0;
        const std::size_t firstEnd = mid - lo;
        std::size_t j = mid;
        std::size_t out = lo;
        while (i < firstEnd && j < hi) {
            const int result = compare_(buffer_[i], order[j]);
            const bool secondFirst = ascending_ ? result > 0 : result < 0;
            order[out++] = secondFirst ? order[j++] : buffer_[i++];
        }
        while (i < firstEnd) {
            order[out++] = buffer_[i++];
        }
        // What is left of the second run is in place already.
    }

    const std::function<int(std::size_t, std::size_t)>& compare_;
    bool ascending_;
    std::vector<std::uint64_t> buffer_;
};

}  // namespace

std::vector<std::uint64_t> SortedOrder(std::size_t count,
                                       const std::function<int(std::size_t, std::size_t)>& compare,
                                       bool ascending) {
    return SiblingSorter(compare, ascending).Sort(count);
}

}  // namespace purgala
