#pragma once
// When the capture may look at the screen and hand out a frame. Plain
// values: the caller passes the time.
//
// A frame comes no sooner than half a frame interval after the change the
// frame before it showed was seen, and over any longer time no more frames
// are made than the rate allows: each frame takes one interval of credit, of
// which at most one interval can be saved up. A source that changes at the
// frame rate (a 30 fps video) is then painted the moment each change is
// seen, whatever its phase and however it jitters, so the capture sleeps
// once per frame instead of waiting out a grid of its own.

#include <chrono>

namespace velto::x11 {

class FramePacing {
public:
    using Clock = std::chrono::steady_clock;

    explicit FramePacing(Clock::duration interval);

    // The earliest time at which a look may make a frame.
    Clock::time_point due() const;
    bool allows(Clock::time_point now) const { return now >= due(); }
    // Before this time no change can be shown, however long ago it came:
    // the rate's credit is spent until then.
    Clock::time_point creditFrom() const { return creditUsedUntil_ - interval_; }

    // `changeSeenAt`: when the first change this frame shows was seen.
    void frameMadeAt(Clock::time_point now, Clock::time_point changeSeenAt);
    // A look that made no frame.
    void lookedAt(Clock::time_point now);

private:
    Clock::duration interval_;
    Clock::duration spacing_;
    Clock::time_point lastShownChange_{};
    Clock::time_point creditUsedUntil_{};
    Clock::time_point nextLook_{};
};

}  // namespace velto::x11
