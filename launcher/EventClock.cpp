#include "EventClock.h"

#include <algorithm>

namespace velto::launcher {

double EventClock::place(std::uint32_t stamp, double readAt) {
    // The signed difference carries the count over the wrap at 2^32 and
    // tolerates a stamp slightly older than the last one.
    if (offset_) {
        unwrappedMilliseconds_ += static_cast<std::int32_t>(stamp - lastStamp_);
    } else {
        unwrappedMilliseconds_ = stamp;
    }
    lastStamp_ = stamp;
    const double sourceSeconds = static_cast<double>(unwrappedMilliseconds_) / 1000.0;
    const double seen = readAt - sourceSeconds;
    if (offset_) {
        const double allowed = *offset_ + driftAllowance * std::max(0.0, readAt - offsetCheckedAt_);
        offset_ = std::min(seen, allowed);
    } else {
        offset_ = seen;
    }
    offsetCheckedAt_ = readAt;
    return std::min(readAt, sourceSeconds + *offset_);
}

}  // namespace velto::launcher
