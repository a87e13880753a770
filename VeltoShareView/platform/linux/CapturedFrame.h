#pragma once
// A captured picture that stays in the X server: the capture connection draws
// into a pixmap of the stream's size and the video view scales it into the
// window from its own connection, so no pixel crosses into this process.

#include "FrameGeometry.h"
#include "ShareTypes.h"

#include <X11/Xlib.h>

#include <memory>

namespace velto::x11 {

// One pixmap of the capture's pool. The pool reuses it only once no sample
// buffer refers to it any more, so a picture on show is never drawn over.
struct FramePixmap {
    int index = 0;  // in the pool
    Pixmap pixmap = None;
    int width = 0;
    int height = 0;
};

class CapturedFrame final : public SampleBuffer {
public:
    // `changed`: where this picture differs from the one handed out just
    // before it (number `sequence` - 1), in its own coordinates.
    CapturedFrame(std::shared_ptr<const FramePixmap> pixmap, std::int64_t status, std::uint64_t sequence,
                  Area changed)
        : pixmap_(std::move(pixmap)), status_(status), sequence_(sequence), changed_(std::move(changed)) {}

    bool isValid() const override { return pixmap_ != nullptr; }
    std::optional<std::int64_t> frameStatus() const override { return status_; }
    // The view shows every picture the moment it is enqueued: there is no
    // presentation time to override.
    void markDisplayImmediately() override {}

    const std::shared_ptr<const FramePixmap>& pixmap() const { return pixmap_; }
    std::uint64_t sequence() const { return sequence_; }
    const Area& changed() const { return changed_; }

private:
    const std::shared_ptr<const FramePixmap> pixmap_;
    const std::int64_t status_;
    const std::uint64_t sequence_;
    const Area changed_;
};

// Frame statuses as the frame pipeline reads them.
inline constexpr std::int64_t frameStatusComplete = 0;

}  // namespace velto::x11
