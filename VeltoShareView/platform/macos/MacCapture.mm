// The capture side of the share view on ScreenCaptureKit, CoreMedia and
// Dispatch: shareable content, filter, configuration, stream, frames queue and
// the sample buffers it delivers; and, while the stream runs, the exclusion
// rule applied to applications that start later.

#include "CaptureRules.h"
#include "MacShareSupport.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <set>
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

// Tells the stream about every application the workspace reports launched.
@interface VeltoLaunchObserver : NSObject
- (instancetype)initWithStream:(std::weak_ptr<MacCaptureStream>)stream;
- (void)applicationDidLaunch:(NSNotification*)notification;
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

std::set<std::int32_t> processIDs(const std::vector<RunningApplication>& applications) {
    std::set<std::int32_t> result;
    for (const RunningApplication& application : applications) result.insert(application.processID);
    return result;
}

bool listsProcess(const ShareableContent& content, pid_t processID) {
    return std::any_of(content.applications.begin(), content.applications.end(),
                       [processID](const RunningApplication& application) { return application.processID == processID; });
}

// A launched application reaches the shareable content only once the window
// server knows it; until then it is asked for again, for a few seconds.
constexpr int launchLookups = 10;
constexpr double launchLookupInterval = 0.5;

}  // namespace

// The stream, its delegate and outputs. A filter excludes the applications it
// was made with, not those that start later: while the stream runs, each
// launched application that the exclusion rule covers (a second instance of
// the main application, say) has the filter rebuilt from fresh content. When
// that cannot be done, the stream is stopped and the core hears of it as a
// stream that stopped on its own: no picture rather than a private one.
class MacCaptureStream final : public CaptureStream, public std::enable_shared_from_this<MacCaptureStream> {
public:
    static std::shared_ptr<MacCaptureStream> make(const ContentFilter& filter, SCStreamConfiguration* configuration,
                                                  std::weak_ptr<StreamDelegate> delegate) {
        auto capture = std::make_shared<MacCaptureStream>();
        capture->filter_ = filter;
        capture->filteredProcesses_ = processIDs(filter.excludedApplications);
        capture->coreDelegate_ = delegate;
        capture->delegate_ = [[VeltoStreamDelegate alloc] initWithDelegate:std::move(delegate) stream:capture];
        capture->stream_ = [[SCStream alloc] initWithFilter:contentFilter(filter)
                                              configuration:configuration
                                                   delegate:capture->delegate_];
        capture->launchObserver_ = [[VeltoLaunchObserver alloc] initWithStream:capture];
        [[NSWorkspace sharedWorkspace].notificationCenter addObserver:capture->launchObserver_
                                                              selector:@selector(applicationDidLaunch:)
                                                                  name:NSWorkspaceDidLaunchApplicationNotification
                                                                object:nil];
        return capture;
    }

    ~MacCaptureStream() override {
        [[NSWorkspace sharedWorkspace].notificationCenter removeObserver:launchObserver_];
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

    // Once started, the filter is brought up to date at once: an application
    // may have started after the content was fetched, before the stream ran.
    // That main-queue block is queued before the core hears of the start, so
    // a stop the core asks for then still comes after it.
    void startCapture(CaptureCompletion completion) override {
        std::weak_ptr<MacCaptureStream> weak = weak_from_this();
        [stream_ startCaptureWithCompletionHandler:^(NSError* error) {
            if (!error) {
                dispatch_async(dispatch_get_main_queue(), ^{
                    if (auto capture = weak.lock()) capture->didStart();
                });
            }
            completion(captureError(error));
        }];
    }

    void stopCapture(CaptureCompletion completion) override {
        stopping_ = true;
        [stream_ stopCaptureWithCompletionHandler:^(NSError* error) {
            completion(captureError(error));
        }];
    }

    // The service stopped the stream: no more filter updates.
    void didStopOnItsOwn() { stopping_ = true; }

    // Main thread, for each application the workspace reports launched.
    void applicationDidLaunch(NSRunningApplication* application) {
        if (!running() ||
            !excludes(filter_.rule, application.processIdentifier, fromNSString(application.bundleIdentifier)))
            return;
        refreshFilter(application, launchLookups);
    }

private:
    bool running() const { return started_ && !stopping_; }

    void didStart() {
        started_ = true;
        if (running()) refreshFilter(nil, 0);
    }

    // Main thread. `launched`, when given, must be among the fresh content's
    // applications (or have ended) before the filter is rebuilt.
    void refreshFilter(NSRunningApplication* launched, int lookupsLeft) {
        const std::uint64_t request = ++requested_;
        std::weak_ptr<MacCaptureStream> weak = weak_from_this();
        getMacShareableContent(false, false, [weak, launched, lookupsLeft, request](ShareableContentResult result) {
            dispatch_async(dispatch_get_main_queue(), ^{
                if (auto capture = weak.lock()) capture->applyContent(result, launched, lookupsLeft, request);
            });
        });
    }

    void applyContent(const ShareableContentResult& result, NSRunningApplication* launched, int lookupsLeft,
                      std::uint64_t request) {
        // A later request already rebuilt the filter from later content.
        if (!running() || request < applied_) return;
        if (!result.content) return stopForPrivacy();
        const ShareableContent& content = *result.content;
        if (launched && !launched.terminated && !listsProcess(content, launched.processIdentifier)) {
            if (lookupsLeft <= 1) return stopForPrivacy();
            std::weak_ptr<MacCaptureStream> weak = weak_from_this();
            auto lookAgain = ^(NSTimer*) {
                if (auto capture = weak.lock()) capture->refreshFilter(launched, lookupsLeft - 1);
            };
            [NSTimer scheduledTimerWithTimeInterval:launchLookupInterval repeats:NO block:lookAgain];
            return;
        }
        applied_ = request;
        ContentFilter updated = filter_;
        updated.excludedApplications.clear();
        std::copy_if(content.applications.begin(), content.applications.end(),
                     std::back_inserter(updated.excludedApplications),
                     [this](const RunningApplication& application) { return excludes(filter_.rule, application); });
        const std::set<std::int32_t> processes = processIDs(updated.excludedApplications);
        if (processes == filteredProcesses_) return;
        // A display that is gone ends the presentation through the display
        // change; until then the filter keeps the display it has.
        if (const std::optional<Display> display = chosenDisplay(content.displays, filter_.display.displayID))
            updated.display = *display;
        filter_ = updated;
        filteredProcesses_ = processes;
        std::weak_ptr<MacCaptureStream> weak = weak_from_this();
        [stream_ updateContentFilter:contentFilter(updated)
                   completionHandler:^(NSError* error) {
                       if (!error) return;
                       dispatch_async(dispatch_get_main_queue(), ^{
                           if (auto capture = weak.lock()) capture->stopForPrivacy();
                       });
                   }];
    }

    void stopForPrivacy() {
        if (!running()) return;
        stopping_ = true;
        [stream_ stopCaptureWithCompletionHandler:^(NSError*){
        }];
        if (auto delegate = coreDelegate_.lock())
            delegate->streamDidStopWithError(*this, CaptureError{"the filter could not follow a launched application"});
    }

    ContentFilter filter_;
    std::set<std::int32_t> filteredProcesses_;
    std::weak_ptr<StreamDelegate> coreDelegate_;
    // Main thread only, but for stopping_: the core may stop the stream from
    // any thread.
    bool started_ = false;
    std::atomic<bool> stopping_ = false;
    std::uint64_t requested_ = 0;
    std::uint64_t applied_ = 0;
    VeltoLaunchObserver* launchObserver_ = nil;
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
    if (capture) capture->didStopOnItsOwn();
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

@implementation VeltoLaunchObserver {
    std::weak_ptr<MacCaptureStream> _stream;
}

- (instancetype)initWithStream:(std::weak_ptr<MacCaptureStream>)stream {
    self = [super init];
    if (self) _stream = std::move(stream);
    return self;
}

// Whichever thread the workspace posts on, the stream's state is touched on
// the main thread only.
- (void)applicationDidLaunch:(NSNotification*)notification {
    NSRunningApplication* application = [notification.userInfo objectForKey:NSWorkspaceApplicationKey];
    if (!application) return;
    std::weak_ptr<MacCaptureStream> weak = _stream;
    dispatch_async(dispatch_get_main_queue(), ^{
        if (auto capture = weak.lock()) capture->applicationDidLaunch(application);
    });
}

@end

namespace velto::shareview::macos {

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
    return MacCaptureStream::make(filter, streamConfiguration(configuration), std::move(delegate));
}

}  // namespace velto::shareview::macos
