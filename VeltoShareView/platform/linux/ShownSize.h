#pragma once
// The size, in pixels, at which the share window shows frames: set by the
// window on the main thread, read by the capture, which paints its frames at
// that size so that the picture is scaled once. A change wakes the capture.

#include "FrameGeometry.h"

#include <atomic>
#include <cstdint>

namespace velto::x11 {

class ShownSize {
public:
    ShownSize();
    ~ShownSize();
    ShownSize(const ShownSize&) = delete;
    ShownSize& operator=(const ShownSize&) = delete;

    void set(PixelSize size);
    PixelSize get() const;
    // Readable after a change; `drain` makes it quiet again.
    int wakeDescriptor() const { return wake_; }
    void drain() const;

private:
    std::atomic<std::uint64_t> packed_{0};
    int wake_ = -1;
};

}  // namespace velto::x11
