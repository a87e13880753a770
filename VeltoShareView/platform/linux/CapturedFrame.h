#pragma once
// A captured picture that stays in the X server: the capture connection draws
// into a pixmap of the stream's size and the video view scales it into the
// window from its own connection, so no pixel crosses into this process.

#include "ShareTypes.h"

#include <X11/Xlib.h>

#include <memory>

namespace velto::x11 {

// One pixmap of the capture's pool. The pool reuses it only once no sample
// buffer refers to it any more, so a picture on show is never drawn over.
struct FramePixmap {
    Pixmap pixmap = None;
    int width = 0;
    int height = 0;
};

class CapturedFrame final : public SampleBuffer {
public:
    CapturedFrame(std::shared_ptr<const FramePixmap> pixmap, std::int64_t status)
        : pixmap_(std::move(pixmap)), status_(status) {}

    bool isValid() const override { return pixmap_ != nullptr; }
    std::optional<std::int64_t> frameStatus() const override { return status_; }
    // The view shows every picture the moment it is enqueued: there is no
    // presentation time to override.
    void markDisplayImmediately() override {}

    const std::shared_ptr<const FramePixmap>& pixmap() const { return pixmap_; }

private:
    const std::shared_ptr<const FramePixmap> pixmap_;
    const std::int64_t status_;
};

// Frame statuses as the frame pipeline reads them.
inline constexpr std::int64_t frameStatusComplete = 0;

}  // namespace velto::x11
