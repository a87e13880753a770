#pragma once
// The capture stream on X11: a private compositor. Top-level windows are
// redirected (automatically, so the screen looks as before) and the chosen
// monitor is painted from their own pixmaps into pictures kept in the server,
// leaving out every window of an application the exclusion rule names, for
// the whole life of the stream, so that whatever lies beneath shows instead.

#include "ShareTypes.h"
#include "ShownSize.h"

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
    void tick();
    void stopWithError(const std::string& description);

    void startWaiter();
    void stopWaiter();
    void wait();

    const ContentFilter filter_;
    const StreamConfiguration configuration_;
    const std::weak_ptr<StreamDelegate> delegate_;
    const std::shared_ptr<ShownSize> shown_;
    std::weak_ptr<StreamOutput> output_;
    std::shared_ptr<SerialQueue> queue_;

    std::unique_ptr<Compositor> compositor_;

    // The waiter thread only paces the work: it sleeps until the screen has
    // news (or, while a change waits to be painted, until the next frame is
    // due) and then asks the frames queue for one tick, never for a second
    // while one is still waiting; at most 30 ticks a second make frames. An
    // unchanged screen wakes nobody.
    std::thread waiter_;
    int connectionNumber_ = -1;
    bool pointerLookedAt_ = false;  // no motion events: the pointer is read now and then
    int stopWake_ = -1;
    std::mutex waiterMutex_;
    std::condition_variable tickDone_;
    bool stopping_ = false;      // guarded by waiterMutex_
    bool tickQueued_ = false;    // guarded by waiterMutex_
    bool changePending_ = true;  // guarded by waiterMutex_
    bool tickMadeFrame_ = false; // guarded by waiterMutex_
};

}  // namespace velto::x11
