// The launcher's application, keyboard sample, clock, timer, workspace, log
// and state directory on AppKit, Foundation, Dispatch and CoreGraphics. The
// status item lives in MacStatusItem.mm.

#import <CoreGraphics/CoreGraphics.h>

#include "MacLauncherSupport.h"

#include <utility>

using namespace velto::launcher;
using namespace velto::launcher::macos;

namespace velto::launcher::macos {

NSString* toNSString(const std::string& text) {
    NSString* string = [[NSString alloc] initWithBytes:text.data()
                                                length:text.size()
                                              encoding:NSUTF8StringEncoding];
    return string ?: @"";
}

namespace {

std::optional<std::string> fromNSString(NSString* text) {
    const char* utf8 = text.UTF8String;
    if (!utf8) return std::nullopt;
    return std::string(utf8);
}

NSURL* fileURL(const std::string& path) { return [NSURL fileURLWithPath:toNSString(path)]; }

NSApplication* application() { return [NSApplication sharedApplication]; }

class MacTimer final : public Timer {
public:
    explicit MacTimer(NSTimer* timer) : timer_(timer) {}
    void invalidate() override { [timer_ invalidate]; }

private:
    NSTimer* timer_;
};

class MacLauncherPlatform final : public LauncherPlatform {
public:
    void setActivationPolicyAccessory() override {
        [application() setActivationPolicy:NSApplicationActivationPolicyAccessory];
    }

    // A status-item agent is napped as soon as it is idle, and its 20 ms poll
    // is then stretched to seconds: the gesture would be missed. The activity
    // lasts as long as the process. Not latency-critical: the poll's 5 ms
    // tolerance is all the precision the gesture needs, and idle sleep stays
    // the system's decision.
    int run() override {
        activity_ = [[NSProcessInfo processInfo]
            beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep
                              reason:@"Polls the keyboard for the right Option gesture"];
        [application() run];
        return 0;
    }

    void terminate() override { [application() terminate:nil]; }

    std::uint64_t modifierFlags() override { return CGEventSourceFlagsState(kCGEventSourceStateHIDSystemState); }

    std::uint32_t keyDownCount() override {
        return CGEventSourceCounterForEventType(kCGEventSourceStateHIDSystemState, kCGEventKeyDown);
    }

    KeyName holdKeyName() override { return {"\u2325", "Option"}; }

    double systemUptime() override { return [NSProcessInfo processInfo].systemUptime; }

    // In the common modes, so that the poll goes on while the status menu is open.
    std::shared_ptr<Timer> scheduleRepeatingTimer(double interval, double tolerance,
                                                  std::function<void()> action) override {
        auto fire = ^(NSTimer*) {
            action();
        };
        NSTimer* timer = [NSTimer timerWithTimeInterval:interval repeats:YES block:fire];
        timer.tolerance = tolerance;
        [[NSRunLoop mainRunLoop] addTimer:timer forMode:NSRunLoopCommonModes];
        return std::make_shared<MacTimer>(timer);
    }

    void postToMain(std::function<void()> work) override {
        dispatch_async(dispatch_get_main_queue(), ^{
            work();
        });
    }

    std::shared_ptr<StatusItem> makeStatusItem() override { return makeMacStatusItem(); }

    // NSBundle keeps the object it made for a URL for the life of the process:
    // after the main application is replaced in place, an agent running all
    // session would go on reading the old identifier. The information
    // dictionary is read from disk at each call instead.
    std::optional<std::string> bundleIdentifierAt(const std::string& location) override {
        CFDictionaryRef info = CFBundleCopyInfoDictionaryForURL((__bridge CFURLRef)fileURL(location));
        if (!info) return std::nullopt;
        std::optional<std::string> identifier;
        CFTypeRef value = CFDictionaryGetValue(info, kCFBundleIdentifierKey);
        if (value && CFGetTypeID(value) == CFStringGetTypeID()) identifier = fromNSString((__bridge NSString*)value);
        CFRelease(info);
        return identifier;
    }

    std::optional<std::string> locationForApplication(const std::string& bundleIdentifier) override {
        NSURL* url = [[NSWorkspace sharedWorkspace] URLForApplicationWithBundleIdentifier:toNSString(bundleIdentifier)];
        return fromNSString(url.path);
    }

    void openApplication(const std::string& location, const OpenConfiguration& configuration,
                         OpenCompletion completion) override {
        NSWorkspaceOpenConfiguration* open = [NSWorkspaceOpenConfiguration configuration];
        open.activates = configuration.activates;
        open.createsNewApplicationInstance = configuration.createsNewApplicationInstance;
        NSMutableArray<NSString*>* arguments = [NSMutableArray array];
        for (const std::string& argument : configuration.arguments) [arguments addObject:toNSString(argument)];
        open.arguments = arguments;
        auto opened = ^(NSRunningApplication*, NSError* error) {
            if (error) {
                completion(OpenError{fromNSString(error.localizedDescription).value_or("")});
            } else {
                completion(std::nullopt);
            }
        };
        // Launch Services starts the application through launchd, not as our
        // child: it does not inherit the agent's ignored SIGPIPE.
        [[NSWorkspace sharedWorkspace] openApplicationAtURL:fileURL(location) configuration:open completionHandler:opened];
    }

    void log(const std::string& line) override { NSLog(@"%@", toNSString(line)); }

    std::optional<std::filesystem::path> stateDirectory() override {
        NSURL* home = [NSFileManager defaultManager].homeDirectoryForCurrentUser;
        NSURL* directory = [home URLByAppendingPathComponent:@"Library/Application Support/VeltoLauncher"
                                                 isDirectory:YES];
        const auto path = fromNSString(directory.path);
        if (!path) return std::nullopt;
        return std::filesystem::path(*path);
    }

private:
    id<NSObject> activity_ = nil;
};

}  // namespace

}  // namespace velto::launcher::macos

namespace velto::launcher {

std::unique_ptr<LauncherPlatform> makeLauncherPlatform() {
    return std::make_unique<macos::MacLauncherPlatform>();
}

}  // namespace velto::launcher
