#pragma once
// When the capture may look at the screen and hand out a frame. Plain
// values: the caller passes the time.
//
// Frames follow a grid one frame interval apart, so that no more than the
// configured rate is ever made on average. A frame may come a little ahead
// of its place on the grid: a source that runs at the same rate as the grid
// (a 30 fps video) jitters around it, and waiting out each early change
// would cost the capture a second sleep per frame. A frame late by more than
// that tolerance moves the grid to itself. Looks that made no frame (news
// that shows nothing, no picture of the pool free) are spaced apart too.

#include <chrono>

namespace velto::x11 {

class FramePacing {
public:
    using Clock = std::chrono::steady_clock;

    explicit FramePacing(Clock::duration interval);

    // The earliest time at which a look may make a frame.
    Clock::time_point due() const;
    bool allows(Clock::time_point now) const { return now >= due(); }

    void frameMadeAt(Clock::time_point now);
    void lookedAt(Clock::time_point now);

private:
    Clock::duration interval_;
    Clock::duration tolerance_;
    Clock::time_point nextFrame_{};  // on the grid
    Clock::time_point nextLook_{};
};

}  // namespace velto::x11
