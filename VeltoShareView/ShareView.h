#pragma once
// The share view's one controller: builds the share window, watches the
// parent, starts the capture, shows its frames and ends the presentation.
// Everything runs on the main thread except the frame output method (frames
// queue) and the stream-stopped callback (a capture service thread).

#include "SharePlatform.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace velto::shareview {

class ShareViewApp final : public ApplicationDelegate,
                           public StreamOutput,
                           public StreamDelegate,
                           public ScreenParametersObserver,
                           public WindowDelegate,
                           public std::enable_shared_from_this<ShareViewApp> {
    struct ConstructionKey {};

public:
    // Every timer block and deferred closure holds the controller weakly, so
    // it only exists inside a shared_ptr, owned by the entry.
    static std::shared_ptr<ShareViewApp> make(SharePlatform& platform, std::int32_t parentPID,
                                              std::uint32_t displayID);
    ShareViewApp(ConstructionKey, SharePlatform& platform, std::int32_t parentPID, std::uint32_t displayID);

    void applicationDidFinishLaunching() override;
    void streamDidOutputSampleBuffer(CaptureStream& stream, SampleBufferRef buffer, StreamOutputType type) override;
    void streamDidStopWithError(CaptureStream& stream, const CaptureError& error) override;
    void displayChanged() override;
    void windowWillClose() override;
    void applicationWillTerminate() override;

    // Ends the program in order; the application terminates inside.
    void finish();
    // Ends the presentation once; the process keeps running.
    void fail(const std::string& message);

private:
    // Capture sequence; each step after a wait resumes on the main thread.
    void startCapture();
    void shareableContentArrived(ShareableContentResult result);
    void streamStarted(std::optional<CaptureError> error);
    void failToStart(const CaptureError& error);
    void armStartupWatchdog();
    static void requestStop(const std::shared_ptr<CaptureStream>& stream);

    // Frame pipeline, main-thread side.
    void handOff(const SampleBufferRef& buffer);
    void show(const SampleBufferRef& buffer);
    void submitSourceFailure();

    void watchParent();
    void buildWindow();

    SharePlatform& platform;

    std::shared_ptr<Window> window;
    std::shared_ptr<VideoView> video;
    std::shared_ptr<Label> label;
    std::shared_ptr<CaptureStream> capture;
    std::shared_ptr<Timer> parentTimer;
    std::shared_ptr<Timer> startupTimer;
    bool receivedFrame = false;
    bool stopped = false;
    const std::int32_t parentPID;
    const std::uint32_t displayID;
    const std::shared_ptr<SerialQueue> queue;
    bool framePending = false;  // guarded by frameLock
    std::mutex frameLock;
};

}  // namespace velto::shareview
