// The capture side of the share view on ScreenCaptureKit, CoreMedia and
// Dispatch: shareable content, filter, configuration, stream, frames queue and
// the sample buffers it delivers.

#include "MacShareSupport.h"

#include <utility>
#include <vector>

using namespace velto::shareview;
using namespace velto::shareview::macos;

namespace velto::shareview::macos {
class MacCaptureStream;
}

// Forwards the stream's own stop to the core's delegate, on the service's thread.
@interface VeltoStreamDelegate : NSObject <SCStreamDelegate>
- (instancetype)initWithDelegate:(std::weak_ptr<StreamDelegate>)delegate
                          stream:(std::weak_ptr<MacCaptureStream>)stream;
@end

// Forwards every sample buffer of the stream to one core output, on the
// queue the output was added with.
@interface VeltoStreamOutput : NSObject <SCStreamOutput>
- (instancetype)initWithOutput:(std::weak_ptr<StreamOutput>)output
                        stream:(std::weak_ptr<MacCaptureStream>)stream;
@end

namespace velto::shareview::macos {

namespace {

std::optional<CaptureError> captureError(NSError* error) {
    if (!error) return std::nullopt;
    return CaptureError{fromNSString(error.localizedDescription)};
}

// Keeps an Objective-C object alive for as long as the core holds the record.
std::shared_ptr<const void> retained(id object) {
    return std::shared_ptr<const void>((__bridge_retained const void*)object,
                                       [](const void* handle) { CFRelease(handle); });
}

template <typename NativeType>
NativeType* nativeOf(const std::shared_ptr<const void>& handle) {
    return (__bridge NativeType*)handle.get();
}

ShareableContent shareableContent(SCShareableContent* content) {
    ShareableContent result;
    for (SCDisplay* display in content.displays) {
        result.displays.push_back({display.displayID, display.width, display.height, retained(display)});
    }
    for (SCRunningApplication* application in content.applications) {
        result.applications.push_back(
            {application.processID, fromNSString(application.bundleIdentifier), retained(application)});
    }
    return result;
}

SCContentFilter* contentFilter(const ContentFilter& filter) {
    NSMutableArray<SCRunningApplication*>* excluded = [NSMutableArray array];
    for (const RunningApplication& application : filter.excludedApplications) {
        [excluded addObject:nativeOf<SCRunningApplication>(application.native)];
    }
    return [[SCContentFilter alloc] initWithDisplay:nativeOf<SCDisplay>(filter.display.native)
                                excludingApplications:excluded
                                     exceptingWindows:@[]];
}

SCStreamConfiguration* streamConfiguration(const StreamConfiguration& values) {
    SCStreamConfiguration* configuration = [[SCStreamConfiguration alloc] init];
    configuration.width = static_cast<size_t>(values.width);
    configuration.height = static_cast<size_t>(values.height);
    configuration.minimumFrameInterval =
        CMTimeMake(values.minimumFrameIntervalValue, values.minimumFrameIntervalTimescale);
    configuration.queueDepth = values.queueDepth;
    configuration.pixelFormat = values.pixelFormat;
    configuration.showsCursor = values.showsCursor;
    configuration.capturesAudio = values.capturesAudio;
    return configuration;
}

}  // namespace

class MacCaptureStream final : public CaptureStream, public std::enable_shared_from_this<MacCaptureStream> {
public:
    static std::shared_ptr<MacCaptureStream> make(SCContentFilter* filter, SCStreamConfiguration* configuration,
                                                  std::weak_ptr<StreamDelegate> delegate) {
        auto capture = std::make_shared<MacCaptureStream>();
        capture->delegate_ = [[VeltoStreamDelegate alloc] initWithDelegate:std::move(delegate) stream:capture];
        capture->stream_ = [[SCStream alloc] initWithFilter:filter
                                              configuration:configuration
                                                   delegate:capture->delegate_];
        return capture;
    }

    std::optional<CaptureError> addStreamOutput(std::weak_ptr<StreamOutput> output, StreamOutputType type,
                                                std::shared_ptr<SerialQueue> queue) override {
        const auto* frames = dynamic_cast<const MacSerialQueue*>(queue.get());
        VeltoStreamOutput* receiver =
            [[VeltoStreamOutput alloc] initWithOutput:std::move(output) stream:weak_from_this()];
        NSError* error = nil;
        const BOOL added = [stream_ addStreamOutput:receiver
                                               type:static_cast<SCStreamOutputType>(type)
                                 sampleHandlerQueue:frames ? frames->native() : nil
                                              error:&error];
        if (!added) return captureError(error).value_or(CaptureError{});
        outputs_.push_back(receiver);
        queues_.push_back(std::move(queue));
        return std::nullopt;
    }

    void startCapture(CaptureCompletion completion) override {
        [stream_ startCaptureWithCompletionHandler:^(NSError* error) {
            completion(captureError(error));
        }];
    }

    void stopCapture(CaptureCompletion completion) override {
        [stream_ stopCaptureWithCompletionHandler:^(NSError* error) {
            completion(captureError(error));
        }];
    }

private:
    SCStream* stream_ = nil;
    // The stream's delegate and outputs are kept here as well, so that they
    // live exactly as long as the stream's record in the core.
    VeltoStreamDelegate* delegate_ = nil;
    std::vector<VeltoStreamOutput*> outputs_;
    std::vector<std::shared_ptr<SerialQueue>> queues_;
};

}  // namespace velto::shareview::macos

@implementation VeltoStreamDelegate {
    std::weak_ptr<StreamDelegate> _delegate;
    std::weak_ptr<MacCaptureStream> _stream;
}

- (instancetype)initWithDelegate:(std::weak_ptr<StreamDelegate>)delegate
                          stream:(std::weak_ptr<MacCaptureStream>)stream {
    self = [super init];
    if (self) {
        _delegate = std::move(delegate);
        _stream = std::move(stream);
    }
    return self;
}

- (void)stream:(SCStream*)stream didStopWithError:(NSError*)error {
    auto delegate = _delegate.lock();
    auto capture = _stream.lock();
    if (delegate && capture) delegate->streamDidStopWithError(*capture, captureError(error).value_or(CaptureError{}));
}

@end

@implementation VeltoStreamOutput {
    std::weak_ptr<StreamOutput> _output;
    std::weak_ptr<MacCaptureStream> _stream;
}

- (instancetype)initWithOutput:(std::weak_ptr<StreamOutput>)output
                        stream:(std::weak_ptr<MacCaptureStream>)stream {
    self = [super init];
    if (self) {
        _output = std::move(output);
        _stream = std::move(stream);
    }
    return self;
}

- (void)stream:(SCStream*)stream didOutputSampleBuffer:(CMSampleBufferRef)sampleBuffer ofType:(SCStreamOutputType)type {
    auto output = _output.lock();
    auto capture = _stream.lock();
    if (!output || !capture) return;
    output->streamDidOutputSampleBuffer(*capture, std::make_shared<MacSampleBuffer>(sampleBuffer),
                                        static_cast<StreamOutputType>(type));
}

@end

namespace velto::shareview::macos {

MacSerialQueue::MacSerialQueue(const std::string& label)
    : label_(label), queue_(dispatch_queue_create(label.c_str(), DISPATCH_QUEUE_SERIAL)) {}

void MacSerialQueue::async(std::function<void()> work) {
    dispatch_async(queue_, ^{
        work();
    });
}

MacSampleBuffer::MacSampleBuffer(CMSampleBufferRef buffer)
    : buffer_((CMSampleBufferRef)CFRetain(buffer)) {}

MacSampleBuffer::~MacSampleBuffer() { CFRelease(buffer_); }

bool MacSampleBuffer::isValid() const { return CMSampleBufferIsValid(buffer_); }

std::optional<std::int64_t> MacSampleBuffer::frameStatus() const {
    CFArrayRef attachments = CMSampleBufferGetSampleAttachmentsArray(buffer_, false);
    if (!attachments || CFArrayGetCount(attachments) == 0) return std::nullopt;
    CFTypeRef first = CFArrayGetValueAtIndex(attachments, 0);
    if (!first || CFGetTypeID(first) != CFDictionaryGetTypeID()) return std::nullopt;
    CFTypeRef status = CFDictionaryGetValue((CFDictionaryRef)first, (__bridge CFStringRef)SCStreamFrameInfoStatus);
    // A boolean or a floating-point number is not a status.
    if (!status || CFGetTypeID(status) != CFNumberGetTypeID() || CFNumberIsFloatType((CFNumberRef)status))
        return std::nullopt;
    std::int64_t value = 0;
    if (!CFNumberGetValue((CFNumberRef)status, kCFNumberSInt64Type, &value)) return std::nullopt;
    return value;
}

void MacSampleBuffer::markDisplayImmediately() {
    CFArrayRef attachments = CMSampleBufferGetSampleAttachmentsArray(buffer_, true);
    if (!attachments || CFArrayGetCount(attachments) == 0) return;
    auto first = (CFMutableDictionaryRef)CFArrayGetValueAtIndex(attachments, 0);
    if (first) CFDictionarySetValue(first, kCMSampleAttachmentKey_DisplayImmediately, kCFBooleanTrue);
}

void getMacShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                            std::function<void(ShareableContentResult)> completion) {
    auto handler = ^(SCShareableContent* content, NSError* error) {
        if (error) {
            completion({std::nullopt, captureError(error)});
        } else {
            completion({shareableContent(content), std::nullopt});
        }
    };
    [SCShareableContent getShareableContentExcludingDesktopWindows:excludingDesktopWindows
                                               onScreenWindowsOnly:onScreenWindowsOnly
                                                 completionHandler:handler];
}

std::shared_ptr<CaptureStream> makeMacStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                             std::weak_ptr<StreamDelegate> delegate) {
    return MacCaptureStream::make(contentFilter(filter), streamConfiguration(configuration), std::move(delegate));
}

}  // namespace velto::shareview::macos
