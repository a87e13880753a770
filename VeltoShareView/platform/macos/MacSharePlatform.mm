// The share view's application, main loop, processes and permission on AppKit,
// Foundation, Dispatch and CoreGraphics. Windows live in MacShareWindow.mm and
// the capture service in MacCapture.mm.

#import <CoreGraphics/CoreGraphics.h>

#include "DisplayArrangement.h"
#include "MacShareSupport.h"

#include <signal.h>
#include <unistd.h>

#include <utility>
#include <vector>

using namespace velto::shareview;
using namespace velto::shareview::macos;

// The application's delegate: AppKit holds it weakly, the platform strongly.
@interface VeltoApplicationDelegate : NSObject <NSApplicationDelegate>
- (instancetype)initWithDelegate:(std::shared_ptr<ApplicationDelegate>)delegate;
@end

@implementation VeltoApplicationDelegate {
    std::shared_ptr<ApplicationDelegate> _delegate;
}

- (instancetype)initWithDelegate:(std::shared_ptr<ApplicationDelegate>)delegate {
    self = [super init];
    if (self) _delegate = std::move(delegate);
    return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    _delegate->applicationDidFinishLaunching();
}

- (void)applicationWillTerminate:(NSNotification*)notification {
    _delegate->applicationWillTerminate();
}

@end

namespace {

// The active displays with their bounds and modes now; nothing when the
// system cannot list them.
std::optional<DisplayArrangement> activeDisplayArrangement() {
    uint32_t count = 0;
    if (CGGetActiveDisplayList(0, nullptr, &count) != kCGErrorSuccess) return std::nullopt;
    std::vector<CGDirectDisplayID> identifiers(count);
    if (count > 0 && CGGetActiveDisplayList(count, identifiers.data(), &count) != kCGErrorSuccess)
        return std::nullopt;
    identifiers.resize(count);
    std::vector<ActiveDisplay> displays;
    for (const CGDirectDisplayID identifier : identifiers) {
        const CGRect bounds = CGDisplayBounds(identifier);
        ActiveDisplay display{identifier, bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height,
                              std::nullopt};
        if (CGDisplayModeRef mode = CGDisplayCopyDisplayMode(identifier)) {
            display.mode = DisplayMode{CGDisplayModeGetWidth(mode), CGDisplayModeGetHeight(mode),
                                       CGDisplayModeGetPixelWidth(mode), CGDisplayModeGetPixelHeight(mode),
                                       CGDisplayModeGetRefreshRate(mode)};
            CGDisplayModeRelease(mode);
        }
        displays.push_back(display);
    }
    return DisplayArrangement(std::move(displays));
}

}  // namespace

// Receives the screen-parameters notification for one core observer and
// passes on only a real change of the displays (DisplayArrangement.h),
// compared with the displays as they were at registration or at the last
// notification.
@interface VeltoScreenParametersObserver : NSObject
- (instancetype)initWithObserver:(std::weak_ptr<ScreenParametersObserver>)observer;
- (void)displayChanged:(NSNotification*)notification;
@end

@implementation VeltoScreenParametersObserver {
    std::weak_ptr<ScreenParametersObserver> _observer;
    std::optional<DisplayChangeFilter> _displays;
}

- (instancetype)initWithObserver:(std::weak_ptr<ScreenParametersObserver>)observer {
    self = [super init];
    if (self) {
        _observer = std::move(observer);
        _displays.emplace(activeDisplayArrangement());
    }
    return self;
}

- (void)displayChanged:(NSNotification*)notification {
    if (!_displays->changed(activeDisplayArrangement())) return;
    if (auto observer = _observer.lock()) observer->displayChanged();
}

@end

namespace velto::shareview::macos {

NSString* toNSString(const std::string& text) {
    NSString* string = [[NSString alloc] initWithBytes:text.data()
                                                length:text.size()
                                              encoding:NSUTF8StringEncoding];
    return string ?: @"";
}

std::string fromNSString(NSString* text) {
    const char* utf8 = text.UTF8String;
    return utf8 ? std::string(utf8) : std::string();
}

namespace {

NSApplication* application() { return [NSApplication sharedApplication]; }

class MacTimer final : public Timer {
public:
    explicit MacTimer(NSTimer* timer) : timer_(timer) {}
    void invalidate() override { [timer_ invalidate]; }

private:
    NSTimer* timer_;
};

class MacSharePlatform final : public SharePlatform {
public:
    bool preflightScreenCaptureAccess() override { return CGPreflightScreenCaptureAccess(); }

    std::string operatingSystemVersionString() override {
        return fromNSString([NSProcessInfo processInfo].operatingSystemVersionString);
    }

    std::optional<std::string> run(std::shared_ptr<ApplicationDelegate> delegate) override {
        // Outside a GUI login session (over ssh, say) AppKit has no window server.
        CFDictionaryRef session = CGSessionCopyCurrentDictionary();
        if (!session) return "no window server session: run it from a logged-in desktop";
        CFRelease(session);
        // Covered by other windows, an accessory application is napped and the
        // shared picture stutters; the mirror must keep its frame rate for as
        // long as the process lives. Idle sleep stays the system's decision.
        activity_ = [[NSProcessInfo processInfo]
            beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep | NSActivityLatencyCritical
                              reason:@"Mirrors a display for a presentation"];
        applicationDelegate_ = [[VeltoApplicationDelegate alloc] initWithDelegate:std::move(delegate)];
        application().delegate = applicationDelegate_;
        endOnTerminationSignals();
        [application() run];
        return std::nullopt;
    }

    // AppKit calls applicationWillTerminate: on the delegate, then exits with 0.
    void terminate() override { [application() terminate:nil]; }

    void setActivationPolicyAccessory() override {
        [application() setActivationPolicy:NSApplicationActivationPolicyAccessory];
    }

    void activate(bool ignoringOtherApps) override {
        [application() activateIgnoringOtherApps:ignoringOtherApps];
    }

    void postToMain(std::function<void()> work) override {
        dispatch_async(dispatch_get_main_queue(), ^{
            work();
        });
    }

    std::shared_ptr<Timer> scheduleTimer(double interval, bool repeats,
                                         std::function<void()> action) override {
        auto fire = ^(NSTimer*) {
            action();
        };
        NSTimer* timer = [NSTimer scheduledTimerWithTimeInterval:interval repeats:repeats block:fire];
        return std::make_shared<MacTimer>(timer);
    }

    std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override {
        return std::make_shared<MacSerialQueue>(label);
    }

    std::shared_ptr<Window> makeWindow(const WindowConfiguration& configuration,
                                       std::weak_ptr<WindowDelegate> delegate) override {
        windowDelegate_ = delegate;
        return makeMacWindow(configuration, std::move(delegate));
    }

    std::shared_ptr<VideoView> makeVideoView(const Rect& frame) override { return makeMacVideoView(frame); }

    std::shared_ptr<Label> makeWrappingLabel(const std::string& text) override {
        return makeMacWrappingLabel(text);
    }

    void addScreenParametersObserver(std::weak_ptr<ScreenParametersObserver> observer) override {
        const ScreenParametersObserver* key = observer.lock().get();
        if (!key) return;
        VeltoScreenParametersObserver* receiver =
            [[VeltoScreenParametersObserver alloc] initWithObserver:std::move(observer)];
        [[NSNotificationCenter defaultCenter] addObserver:receiver
                                                 selector:@selector(displayChanged:)
                                                     name:NSApplicationDidChangeScreenParametersNotification
                                                   object:nil];
        screenObservers_.emplace_back(key, receiver);
    }

    void removeScreenParametersObserver(const ScreenParametersObserver* observer) override {
        std::erase_if(screenObservers_, [observer](const auto& entry) {
            if (entry.first != observer) return false;
            [[NSNotificationCenter defaultCenter] removeObserver:entry.second];
            return true;
        });
    }

    int killProbe(std::int32_t pid) override { return ::kill(pid, 0); }

    std::int32_t currentProcessID() override { return ::getpid(); }

    // Its answer is not used: the user is told to reopen the share view.
    void requestScreenCaptureAccess() override { (void)CGRequestScreenCaptureAccess(); }

    void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                             std::function<void(ShareableContentResult)> completion) override {
        getMacShareableContent(excludingDesktopWindows, onScreenWindowsOnly, std::move(completion));
    }

    std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                              const StreamConfiguration& configuration,
                                              std::weak_ptr<StreamDelegate> delegate) override {
        return makeMacStream(filter, configuration, std::move(delegate));
    }

private:
    // A parent or a session manager stops its child with these: they end the
    // presentation as a closed window does, "stopped" last and status 0. The
    // sources deliver on the main queue, which AppKit serves only after the
    // launch has made the window. A signal ignored at start stays ignored.
    void endOnTerminationSignals() {
        for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
            if (signal(number, SIG_IGN) == SIG_IGN) continue;
            dispatch_source_t source =
                dispatch_source_create(DISPATCH_SOURCE_TYPE_SIGNAL, uintptr_t(number), 0, dispatch_get_main_queue());
            dispatch_source_set_event_handler(source, ^{
                if (auto windowDelegate = windowDelegate_.lock()) windowDelegate->windowWillClose();
            });
            dispatch_resume(source);
            signalSources_.push_back(source);
        }
    }

    std::weak_ptr<WindowDelegate> windowDelegate_;
    std::vector<dispatch_source_t> signalSources_;
    id<NSObject> activity_ = nil;
    VeltoApplicationDelegate* applicationDelegate_ = nil;
    std::vector<std::pair<const ScreenParametersObserver*, VeltoScreenParametersObserver*>> screenObservers_;
};

}  // namespace

}  // namespace velto::shareview::macos

namespace velto::shareview {

std::unique_ptr<SharePlatform> makeSharePlatform() {
    return std::make_unique<macos::MacSharePlatform>();
}

}  // namespace velto::shareview
