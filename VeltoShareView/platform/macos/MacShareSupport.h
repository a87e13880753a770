#pragma once
// Pieces shared by the Objective-C++ files of the share view's macOS layer.
// Included only from .mm files compiled with ARC.

#import <AppKit/AppKit.h>
#import <CoreMedia/CoreMedia.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>

#include "SharePlatform.h"

#include <memory>
#include <string>

namespace velto::shareview::macos {

NSString* toNSString(const std::string& text);
std::string fromNSString(NSString* text);

// A dispatch queue behind SerialQueue; the capture stream delivers frames on it.
class MacSerialQueue final : public SerialQueue {
public:
    explicit MacSerialQueue(const std::string& label);
    const std::string& label() const override { return label_; }
    void async(std::function<void()> work) override;
    dispatch_queue_t native() const { return queue_; }

private:
    std::string label_;
    dispatch_queue_t queue_;
};

// Holds one reference to a captured sample buffer for as long as the core
// keeps the record, independently of the stream's own reference.
class MacSampleBuffer final : public SampleBuffer {
public:
    explicit MacSampleBuffer(CMSampleBufferRef buffer);
    ~MacSampleBuffer() override;
    MacSampleBuffer(const MacSampleBuffer&) = delete;
    MacSampleBuffer& operator=(const MacSampleBuffer&) = delete;

    bool isValid() const override;
    std::optional<std::int64_t> frameStatus() const override;
    void markDisplayImmediately() override;
    CMSampleBufferRef native() const { return buffer_; }

private:
    CMSampleBufferRef buffer_;
};

// MacShareWindow.mm
std::shared_ptr<Window> makeMacWindow(const WindowConfiguration& configuration,
                                      std::weak_ptr<WindowDelegate> delegate);
std::shared_ptr<VideoView> makeMacVideoView(const Rect& frame);
std::shared_ptr<Label> makeMacWrappingLabel(const std::string& text);

// MacCapture.mm
void getMacShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                            std::function<void(ShareableContentResult)> completion);
std::shared_ptr<CaptureStream> makeMacStream(const ContentFilter& filter,
                                             const StreamConfiguration& configuration,
                                             std::weak_ptr<StreamDelegate> delegate);

}  // namespace velto::shareview::macos
