#include "FramePacing.h"

#include <algorithm>

namespace velto::x11 {
namespace {

// The least time between two looks at the screen that made no frame.
constexpr auto lookSpacing = std::chrono::milliseconds(4);

}  // namespace

FramePacing::FramePacing(Clock::duration interval) : interval_(interval), tolerance_(interval / 8) {}

FramePacing::Clock::time_point FramePacing::due() const { return std::max(nextFrame_ - tolerance_, nextLook_); }

void FramePacing::frameMadeAt(Clock::time_point now) {
    // The grid advances a whole interval per frame, so an early frame is
    // made up for by the next; only a late one moves it.
    nextFrame_ = std::max(nextFrame_ + interval_, now + interval_ - tolerance_);
    nextLook_ = now;
}

void FramePacing::lookedAt(Clock::time_point now) { nextLook_ = now + lookSpacing; }

}  // namespace velto::x11
