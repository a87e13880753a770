#include "EventClock.h"

#include <algorithm>

namespace velto::launcher {

double EventClock::place(std::uint32_t stamp, double readAt) {
    if (offset_) {
        // The stamp is taken as the one nearest to where the time passed
        // between the readings leads, so that neither the wrap at 2^32 ms nor
        // weeks without a single event mislead it; a stamp slightly older
        // than the last is no wrap either.
        const auto passed = static_cast<std::int64_t>(std::max(0.0, readAt - lastReadAt_) * 1000.0);
        const auto predicted = static_cast<std::uint32_t>(lastStamp_ + static_cast<std::uint32_t>(passed));
        unwrappedMilliseconds_ += passed + static_cast<std::int32_t>(stamp - predicted);
    } else {
        unwrappedMilliseconds_ = stamp;
    }
    lastStamp_ = stamp;
    const double sourceSeconds = static_cast<double>(unwrappedMilliseconds_) / 1000.0;
    const double seen = readAt - sourceSeconds;
    if (offset_) {
        const double allowed = *offset_ + driftAllowance * std::max(0.0, readAt - lastReadAt_);
        offset_ = std::min(seen, allowed);
    } else {
        offset_ = seen;
    }
    lastReadAt_ = readAt;
    return std::min(readAt, sourceSeconds + *offset_);
}

}  // namespace velto::launcher
