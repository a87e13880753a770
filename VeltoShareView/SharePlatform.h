#pragma once
// Everything the share view core asks of the platform. The core decides; an
// implementation of these interfaces only translates each call into the
// platform's own (AppKit/ScreenCaptureKit on macOS, Qt and X11 on Linux, a
// scripted substitute in the tests). No platform header is reachable from here.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velto::shareview {

// ---------------------------------------------------------------- geometry
struct Size {
    double width = 0;
    double height = 0;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// ---------------------------------------------------------------- main loop
class Timer {
public:
    virtual ~Timer() = default;
    // The timer never fires afterwards; harmless when repeated.
    virtual void invalidate() = 0;
};

// A serial queue of the platform (a dispatch queue on macOS, one worker thread
// elsewhere). Work submitted with async runs one item at a time, in order, off
// the main thread.
class SerialQueue {
public:
    virtual ~SerialQueue() = default;
    virtual const std::string& label() const = 0;
    virtual void async(std::function<void()> work) = 0;
};

// ---------------------------------------------------------------- frames
enum class StreamOutputType : int { screen = 0, audio = 1, microphone = 2 };

// One captured picture and its per-sample attachments.
class SampleBuffer {
public:
    virtual ~SampleBuffer() = default;
    virtual bool isValid() const = 0;
    // The integer frame status from the first attachment dictionary, read
    // without creating attachments. Nothing when there are no attachments, the
    // array is empty, the first dictionary is empty or has no status, or the
    // status is not an integer.
    virtual std::optional<std::int64_t> frameStatus() const = 0;
    // Asks the layer to show this sample at once: sets the display-immediately
    // attachment in the first attachment dictionary, creating the attachments
    // array if the buffer has none; does nothing when no dictionary exists.
    virtual void markDisplayImmediately() = 0;
};
using SampleBufferRef = std::shared_ptr<SampleBuffer>;

enum class LayerStatus : int { unknown = 0, rendering = 1, failed = 2 };

// The sample-buffer display layer owned by the video view.
class DisplayLayer {
public:
    virtual ~DisplayLayer() = default;
    virtual LayerStatus status() const = 0;
    virtual bool isReadyForMoreMediaData() const = 0;
    virtual void enqueueSampleBuffer(const SampleBufferRef& buffer) = 0;
    // Drops queued samples and the picture on show; the view shows black.
    virtual void flushAndRemoveImage() = 0;
};

// ---------------------------------------------------------------- window
// The window's content view: a black surface showing the latest enqueued
// picture fitted with its aspect ratio kept; the layer's frame follows the
// view's bounds at every layout.
class VideoView {
public:
    virtual ~VideoView() = default;
    virtual DisplayLayer& video() = 0;
    void clear() { video().flushAndRemoveImage(); }
};

struct LabelStyle {
    // White text, system font of fontSize points at medium weight, centred,
    // wrapping; kept centred over the video view and at most
    // maxWidthFraction of its width.
    double fontSize = 20;
    double maxWidthFraction = 0.85;
};

class Label {
public:
    virtual ~Label() = default;
    virtual void setText(const std::string& text) = 0;
    virtual void setHidden(bool hidden) = 0;
};

enum class WindowSharingType : int { none = 0, readOnly = 1 };

struct WindowConfiguration {
    Rect contentRect;            // screen coordinates, before centring
    unsigned styleMask = 0;      // titled | closable | miniaturizable | resizable
    std::string title;
    bool releasedWhenClosed = false;
    Size minSize;                // the whole frame, title bar included
    WindowSharingType sharingType = WindowSharingType::readOnly;
};

class WindowDelegate {
public:
    virtual ~WindowDelegate() = default;
    // The share window is about to close (close button or window manager).
    virtual void windowWillClose() = 0;
};

class Window {
public:
    virtual ~Window() = default;
    virtual Rect contentBounds() const = 0;
    // Installs the view as the content view, width- and height-sizable.
    virtual void setContentView(const std::shared_ptr<VideoView>& view) = 0;
    // Adds the label as a subview of the content view, laid out by the
    // style's constraints.
    virtual void addLabel(const std::shared_ptr<Label>& label, const LabelStyle& style) = 0;
    virtual void center() = 0;
    virtual void makeKeyAndOrderFront() = 0;
};

// ---------------------------------------------------------------- capture
struct CaptureError {
    std::string localizedDescription;
};

// Native handles stay opaque to the core; the capture service reads them back
// when it builds a filter from these records.
struct Display {
    std::uint32_t displayID = 0;
    std::int64_t width = 0;   // points
    std::int64_t height = 0;
    std::shared_ptr<const void> native;
};

struct RunningApplication {
    std::int32_t processID = 0;
    std::string bundleIdentifier;
    std::shared_ptr<const void> native;
};

struct ShareableContent {
    std::vector<Display> displays;
    std::vector<RunningApplication> applications;
};

// Exactly one of the two members is set.
struct ShareableContentResult {
    std::optional<ShareableContent> content;
    std::optional<CaptureError> error;
};

// Who stays out of the picture: the main application's process, this very
// process, and every process that carries the main application's or the share
// view's bundle identifier. The platform applies it for the whole stream, to
// applications that start after the filter was made too (CaptureRules.h).
struct ExclusionRule {
    std::int32_t parentPID = 0;
    std::int32_t ownPID = 0;
};

struct ContentFilter {
    Display display;
    // The applications the rule matched when the stream was set up.
    std::vector<RunningApplication> excludedApplications;
    ExclusionRule rule;
    // No windows are excepted from the exclusion.
};

inline constexpr std::uint32_t pixelFormatBGRA = 1111970369;  // 'BGRA'

struct StreamConfiguration {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t minimumFrameIntervalValue = 1;
    std::int32_t minimumFrameIntervalTimescale = 30;
    int queueDepth = 3;
    std::uint32_t pixelFormat = pixelFormatBGRA;
    bool showsCursor = true;
    bool capturesAudio = false;
};

class CaptureStream;

class StreamOutput {
public:
    virtual ~StreamOutput() = default;
    // Called on the queue given to addStreamOutput, one call at a time.
    virtual void streamDidOutputSampleBuffer(CaptureStream& stream, SampleBufferRef buffer,
                                             StreamOutputType type) = 0;
};

class StreamDelegate {
public:
    virtual ~StreamDelegate() = default;
    // Called on a thread of the capture service when the stream stops on its own.
    virtual void streamDidStopWithError(CaptureStream& stream, const CaptureError& error) = 0;
};

using CaptureCompletion = std::function<void(std::optional<CaptureError>)>;

class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // The output is held weakly; frames of `type` reach it on `queue`.
    virtual std::optional<CaptureError> addStreamOutput(std::weak_ptr<StreamOutput> output,
                                                        StreamOutputType type,
                                                        std::shared_ptr<SerialQueue> queue) = 0;
    // Each completes exactly once, on any thread.
    virtual void startCapture(CaptureCompletion completion) = 0;
    virtual void stopCapture(CaptureCompletion completion) = 0;
};

// ---------------------------------------------------------------- delegates
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
    virtual void applicationWillTerminate() = 0;
};

class ScreenParametersObserver {
public:
    virtual ~ScreenParametersObserver() = default;
    // On the main thread after a real change of the screen configuration: a
    // display added or removed, or a display's position, size, mode, rotation
    // or the main display changed. The platform stays silent about anything
    // else it hears (the Dock showing, an output property set).
    virtual void displayChanged() = 0;
};

// ---------------------------------------------------------------- platform
class SharePlatform {
public:
    virtual ~SharePlatform() = default;

    // Entry and diagnostics; these must work without opening the window system.
    virtual bool preflightScreenCaptureAccess() = 0;
    virtual std::string operatingSystemVersionString() = 0;

    // Runs the event loop on the calling (main) thread with `delegate` as the
    // application's delegate, calling applicationDidFinishLaunching once.
    // Returns nothing when the loop ends normally; a readable reason when the
    // window system cannot be reached at all.
    virtual std::optional<std::string> run(std::shared_ptr<ApplicationDelegate> delegate) = 0;
    // Calls the delegate's applicationWillTerminate, then ends the process
    // with status 0. Does not return on a real platform.
    virtual void terminate() = 0;
    virtual void setActivationPolicyAccessory() = 0;
    virtual void activate(bool ignoringOtherApps) = 0;

    // Main thread.
    virtual void postToMain(std::function<void()> work) = 0;  // any thread; FIFO
    virtual std::shared_ptr<Timer> scheduleTimer(double interval, bool repeats,
                                                 std::function<void()> action) = 0;
    virtual std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) = 0;

    // Window, view and label; main thread only.
    virtual std::shared_ptr<Window> makeWindow(const WindowConfiguration& configuration,
                                               std::weak_ptr<WindowDelegate> delegate) = 0;
    virtual std::shared_ptr<VideoView> makeVideoView(const Rect& frame) = 0;
    virtual std::shared_ptr<Label> makeWrappingLabel(const std::string& text) = 0;

    // Screen configuration changes; the observer is held weakly.
    virtual void addScreenParametersObserver(std::weak_ptr<ScreenParametersObserver> observer) = 0;
    virtual void removeScreenParametersObserver(const ScreenParametersObserver* observer) = 0;

    // Processes.
    virtual int killProbe(std::int32_t pid) = 0;  // kill(pid, 0)
    virtual std::int32_t currentProcessID() = 0;

    // Screen recording.
    virtual void requestScreenCaptureAccess() = 0;
    // Completes exactly once, on any thread.
    virtual void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                                     std::function<void(ShareableContentResult)> completion) = 0;
    virtual std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                                      const StreamConfiguration& configuration,
                                                      std::weak_ptr<StreamDelegate> delegate) = 0;
};

// Defined once per platform layer. Cheap: opens no connection.
std::unique_ptr<SharePlatform> makeSharePlatform();

}  // namespace velto::shareview
