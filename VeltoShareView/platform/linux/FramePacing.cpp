#include "FramePacing.h"

#include <algorithm>

namespace velto::x11 {
namespace {

// The least time between two looks at the screen that made no frame.
constexpr auto lookSpacing = std::chrono::milliseconds(4);

}  // namespace

FramePacing::FramePacing(Clock::duration interval) : interval_(interval), spacing_(interval / 2) {}

FramePacing::Clock::time_point FramePacing::due() const {
    return std::max({lastShownChange_ + spacing_, creditFrom(), nextLook_});
}

void FramePacing::frameMadeAt(Clock::time_point now, Clock::time_point changeSeenAt) {
    creditUsedUntil_ = std::max(creditUsedUntil_, now) + interval_;
    lastShownChange_ = std::min(changeSeenAt, now);
    nextLook_ = now;
}

void FramePacing::lookedAt(Clock::time_point now) { nextLook_ = now + lookSpacing; }

}  // namespace velto::x11
