#pragma once
// The capture stream on X11: a private compositor. Top-level windows are
// redirected (automatically, so the screen looks as before) and the chosen
// monitor is painted from their own pixmaps into pictures kept in the server,
// leaving out every window of an application the exclusion rule names, for
// the whole life of the stream, so that whatever lies beneath shows instead.

#include "ShareTypes.h"
#include "ShownSize.h"

#include <chrono>
#include <memory>

namespace velto::x11 {

class Compositor;
class FramePacing;

class X11CaptureStream final : public CaptureStream,
                               public std::enable_shared_from_this<X11CaptureStream> {
public:
    X11CaptureStream(ContentFilter filter, StreamConfiguration configuration,
                     std::weak_ptr<StreamDelegate> delegate, std::shared_ptr<ShownSize> shown);
    ~X11CaptureStream() override;

    std::optional<CaptureError> addStreamOutput(std::weak_ptr<StreamOutput> output,
                                                StreamOutputType type,
                                                std::shared_ptr<SerialQueue> queue) override;
    void startCapture(CaptureCompletion completion) override;
    void stopCapture(CaptureCompletion completion) override;

private:
    // Everything below runs on the frames queue.
    std::optional<CaptureError> begin();
    void end();
    // The capture's one loop: it sleeps on the X connection until the screen
    // has news (or, while a change waits to be painted, until a frame is
    // due), then reads the news and paints on this same thread, so a frame
    // costs one wake-up and the paint's one round trip. It holds the frames
    // queue until a stop is asked for; the stop's own work queued after it
    // runs then. An unchanged screen wakes nobody.
    void run();
    // True when a frame was handed out.
    bool look(FramePacing& pacing, std::chrono::steady_clock::time_point changeSeenAt);
    void stopWithError(const std::string& description);

    const ContentFilter filter_;
    const StreamConfiguration configuration_;
    const std::weak_ptr<StreamDelegate> delegate_;
    const std::shared_ptr<ShownSize> shown_;
    std::weak_ptr<StreamOutput> output_;
    std::shared_ptr<SerialQueue> queue_;

    std::unique_ptr<Compositor> compositor_;
    bool pointerLookedAt_ = false;  // no motion events: the pointer is read now and then
    bool sizeChanged_ = true;       // the share window's size, since the last look
    // Readable once a stop was asked for, from any thread.
    const int stopWake_;
};

}  // namespace velto::x11
