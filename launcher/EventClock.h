#pragma once
// Places the time stamps of a keyboard's event stream (milliseconds on the
// event source's own clock, wrapping at 2^32, as the X server counts) on the
// agent's monotonic clock, so that a hold begun by an event and ended by a
// poll is measured on one clock. A pure value: the caller passes the moment
// each event was read.

#include <cstdint>
#include <optional>

namespace velto::launcher {

class EventClock {
public:
    // The local time at which an event stamped `stamp` happened, given that
    // it was read at `readAt` (seconds on the monotonic clock). Never later
    // than `readAt`.
    double place(std::uint32_t stamp, double readAt);

private:
    // Local seconds minus source seconds. The least difference seen is the
    // one least delayed on its way (a starved reader sees large ones); it
    // may creep up by `driftAllowance` of the time passed, so that a source
    // clock running slower than ours is followed.
    static constexpr double driftAllowance = 1e-3;

    std::optional<double> offset_;
    double lastReadAt_ = 0;
    std::uint32_t lastStamp_ = 0;
    std::int64_t unwrappedMilliseconds_ = 0;
};

}  // namespace velto::launcher
