#include "platform/FileFacts.h"

namespace purgala {

namespace {
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
}  // namespace

std::int64_t NanosOf(TFileTime t) {
    if (!t.Known()) {
        return kUnknownNanos;
    }
    constexpr std::int64_t kMaxSeconds = std::numeric_limits<std::int64_t>::max() / kNanosPerSecond;
    if (t.seconds >= kMaxSeconds) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (t.seconds <= -kMaxSeconds) {
        return kUnknownNanos + 1;
    }
    return t.seconds * kNanosPerSecond + t.nanoseconds;
}

TFileTime TimeOfNanos(std::int64_t nanos) {
    if (nanos == kUnknownNanos) {
        return {};
    }
    std::int64_t seconds = nanos / kNanosPerSecond;
    std::int64_t rest = nanos % kNanosPerSecond;
    if (rest < 0) {
        --seconds;
        rest += kNanosPerSecond;
    }
    return {seconds, static_cast<std::int32_t>(rest)};
}

TFileStamp StampOf(const TFileEntryInfo& info) {
    const bool birthKnown = info.createTime.Known();
    std::int64_t bornOrChanged = NanosOf(info.createTime);
    if (!birthKnown) {
        // Wrapping arithmetic on purpose: only equality of the result counts.
        bornOrChanged =
            static_cast<std::int64_t>(static_cast<std::uint64_t>(NanosOf(info.changeTime)) ^
                                      (info.handle * 0x9E3779B97F4A7C15ull));
    }
    return {
        {info.device, info.inode}, info.size, NanosOf(info.writeTime), bornOrChanged, birthKnown};
}

}  // namespace purgala
