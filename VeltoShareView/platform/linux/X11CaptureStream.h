#pragma once
// The capture stream on X11: a private compositor. Top-level windows are
// redirected (automatically, so the screen looks as before) and the chosen
// monitor is painted from their own pixmaps into pictures kept in the server,
// leaving out every window of an application the exclusion rule names, for
// the whole life of the stream, so that whatever lies beneath shows instead.

#include "ShareTypes.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace velto::x11 {

class Compositor;

class X11CaptureStream final : public CaptureStream,
                               public std::enable_shared_from_this<X11CaptureStream> {
public:
    X11CaptureStream(ContentFilter filter, StreamConfiguration configuration,
                     std::weak_ptr<StreamDelegate> delegate);
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
    void tick();
    void stopWithError(const std::string& description);

    void startTicker();
    void stopTicker();

    const ContentFilter filter_;
    const StreamConfiguration configuration_;
    const std::weak_ptr<StreamDelegate> delegate_;
    std::weak_ptr<StreamOutput> output_;
    std::shared_ptr<SerialQueue> queue_;

    std::unique_ptr<Compositor> compositor_;

    // The ticker thread only paces the work: it asks the frames queue for a
    // tick at most 30 times a second and never while one is still waiting.
    std::thread ticker_;
    std::mutex tickerMutex_;
    std::condition_variable tickerWake_;
    bool tickerStopping_ = false;
    std::atomic<bool> tickQueued_{false};
    // After a second without a new picture the ticker slows down; the first
    // picture after that brings it back to the full rate.
    int idleTicks_ = 0;  // frames queue only
    std::atomic<bool> resting_{false};
};

}  // namespace velto::x11
