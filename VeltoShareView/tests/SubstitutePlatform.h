#pragma once
// A deterministic stand-in for the platform: a virtual-time main loop, a
// scripted capture service whose completions can be held back, and a window,
// label and layer that record what the controller does to them.

#include "SharePlatform.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velto::shareview::testing {

// Tells a listener, in order, what the controller did to the platform, so a
// test can interleave it with the status lines.
struct Journal {
    std::function<void(const std::string&)> listener;
    void note(const std::string& event) const {
        if (listener) {
            listener(event);
        }
    }
};

// ---------------------------------------------------------------- frames
class FakeSampleBuffer final : public SampleBuffer {
public:
    // A buffer with one attachment dictionary holding `status`.
    static std::shared_ptr<FakeSampleBuffer> withStatus(std::int64_t status);
    // Valid, but the status cannot be read (no attachments, empty dictionary, no status entry...).
    static std::shared_ptr<FakeSampleBuffer> withoutStatus();
    static std::shared_ptr<FakeSampleBuffer> invalid();

    bool isValid() const override { return valid; }
    std::optional<std::int64_t> frameStatus() const override { return status; }
    void markDisplayImmediately() override { markedForImmediateDisplay = true; }

    bool valid = true;
    std::optional<std::int64_t> status;
    bool markedForImmediateDisplay = false;
};

// ---------------------------------------------------------------- window
class RecordingLayer final : public DisplayLayer {
public:
    explicit RecordingLayer(const Journal& journal) : journal(journal) {}
    LayerStatus status() const override { return layerStatus; }
    bool isReadyForMoreMediaData() const override { return ready; }
    void enqueueSampleBuffer(const SampleBufferRef& buffer) override;
    void flushAndRemoveImage() override;

    LayerStatus layerStatus = LayerStatus::rendering;
    bool ready = true;
    std::vector<SampleBufferRef> enqueued;
    // Whether each enqueued buffer already carried the display-immediately mark.
    std::vector<bool> markedWhenEnqueued;
    int clears = 0;
    bool showsPicture = false;

private:
    const Journal& journal;
};

class RecordingVideoView final : public VideoView {
public:
    RecordingVideoView(const Journal& journal, const Rect& frame) : frame(frame), layer(journal) {}
    DisplayLayer& video() override { return layer; }

    Rect frame;
    RecordingLayer layer;
};

class RecordingLabel final : public Label {
public:
    RecordingLabel(const Journal& journal, std::string text) : text(std::move(text)), journal(journal) {}
    void setText(const std::string& newText) override;
    void setHidden(bool isHidden) override;

    std::string text;
    bool hidden = false;

private:
    const Journal& journal;
};

class RecordingWindow final : public Window {
public:
    RecordingWindow(WindowConfiguration configuration, std::weak_ptr<WindowDelegate> delegate)
        : configuration(std::move(configuration)), delegate(std::move(delegate)) {}

    Rect contentBounds() const override { return {0, 0, configuration.contentRect.width, configuration.contentRect.height}; }
    void setContentView(const std::shared_ptr<VideoView>& view) override { contentView = view; }
    void addLabel(const std::shared_ptr<Label>& newLabel, const LabelStyle& newStyle) override;
    void center() override { centered = true; }
    void makeKeyAndOrderFront() override { shown = true; }

    WindowConfiguration configuration;
    std::weak_ptr<WindowDelegate> delegate;
    std::shared_ptr<VideoView> contentView;
    std::shared_ptr<Label> label;
    std::optional<LabelStyle> labelStyle;
    bool centered = false;
    bool shown = false;
};

// ---------------------------------------------------------------- main loop
class ManualTimer final : public Timer {
public:
    ManualTimer(double due, double interval, bool repeats, std::function<void()> action, std::uint64_t order)
        : due(due), interval(interval), repeats(repeats), action(std::move(action)), order(order) {}
    void invalidate() override { valid = false; }

    double due;
    const double interval;
    const bool repeats;
    const std::function<void()> action;
    const std::uint64_t order;
    bool valid = true;
};

// Runs nothing by itself: whoever plays the frames queue calls drain(), on
// one thread at a time.
class ManualSerialQueue final : public SerialQueue {
public:
    explicit ManualSerialQueue(std::string label) : name(std::move(label)) {}
    const std::string& label() const override { return name; }
    void async(std::function<void()> work) override;
    void drain();

private:
    const std::string name;
    std::mutex mutex;
    std::deque<std::function<void()>> work;
};

// ---------------------------------------------------------------- capture
class SubstitutePlatform;

class ScriptedStream final : public CaptureStream {
public:
    ScriptedStream(SubstitutePlatform& platform, ContentFilter filter, StreamConfiguration configuration,
                   std::weak_ptr<StreamDelegate> delegate)
        : platform(platform), filter(std::move(filter)), configuration(configuration), delegate(std::move(delegate)) {}

    std::optional<CaptureError> addStreamOutput(std::weak_ptr<StreamOutput> newOutput, StreamOutputType type,
                                                std::shared_ptr<SerialQueue> queue) override;
    void startCapture(CaptureCompletion completion) override;
    void stopCapture(CaptureCompletion completion) override;

    // Hands the buffer to the output on its queue (still to be drained).
    void emit(const SampleBufferRef& buffer, StreamOutputType type = StreamOutputType::screen);
    // The service stops the stream on its own.
    void stopWithError(const std::string& description);

    SubstitutePlatform& platform;
    const ContentFilter filter;
    const StreamConfiguration configuration;
    const std::weak_ptr<StreamDelegate> delegate;
    std::weak_ptr<StreamOutput> output;
    std::optional<StreamOutputType> outputType;
    std::shared_ptr<SerialQueue> outputQueue;
    int startRequests = 0;
    int stopRequests = 0;
};

// ---------------------------------------------------------------- platform
class SubstitutePlatform final : public SharePlatform {
public:
    SubstitutePlatform();
    ~SubstitutePlatform() override;

    // ---- script
    bool screenCapturePermitted = true;
    std::optional<std::string> runFailure;
    std::int32_t ownProcessID = 4000;
    std::set<std::int32_t> livingProcesses;
    ShareableContentResult shareableContent;
    std::optional<CaptureError> addOutputError;
    std::optional<CaptureError> startError;
    // Held completions wait for releaseContent()/releaseStart(); the others,
    // and every stop, complete at once.
    bool holdContent = false;
    bool holdStart = false;

    void releaseContent();
    void releaseStart();

    // ---- the main loop, in virtual time
    void runUntilIdle();
    void advance(double seconds);
    // The most work items ever waiting at once on the main queue since the last reset.
    std::size_t maxMainBacklog();
    void resetMainBacklog();

    // ---- events from the outside
    void closeWindow();
    void changeScreenParameters();

    // ---- record
    Journal journal;
    bool accessory = false;
    std::vector<bool> activations;
    int permissionRequests = 0;
    int terminations = 0;
    bool terminated = false;
    std::vector<std::shared_ptr<RecordingWindow>> windows;
    std::vector<std::shared_ptr<RecordingVideoView>> videoViews;
    std::vector<std::shared_ptr<RecordingLabel>> labels;
    std::vector<std::shared_ptr<ManualSerialQueue>> queues;
    std::vector<std::shared_ptr<ScriptedStream>> streams;
    std::vector<std::shared_ptr<ManualTimer>> timers;
    std::vector<std::int32_t> killProbes;
    int contentRequests = 0;
    std::optional<std::pair<bool, bool>> contentFlags;
    std::vector<std::weak_ptr<ScreenParametersObserver>> observers;

    // Shorthands for the single window, view, label, stream and frames queue.
    RecordingWindow& window() { return *windows.at(0); }
    RecordingLayer& layer() { return videoViews.at(0)->layer; }
    RecordingLabel& label() { return *labels.at(0); }
    ScriptedStream& stream() { return *streams.at(0); }
    ManualSerialQueue& framesQueue() { return *queues.at(0); }
    std::vector<std::shared_ptr<ManualTimer>> validTimers() const;

    // ---- SharePlatform
    bool preflightScreenCaptureAccess() override { return screenCapturePermitted; }
    std::string operatingSystemVersionString() override { return "Substitute 1.0"; }
    std::optional<std::string> run(std::shared_ptr<ApplicationDelegate> delegate) override;
    void terminate() override;
    void setActivationPolicyAccessory() override { accessory = true; }
    void activate(bool ignoringOtherApps) override { activations.push_back(ignoringOtherApps); }
    void postToMain(std::function<void()> work) override;
    std::shared_ptr<Timer> scheduleTimer(double interval, bool repeats, std::function<void()> action) override;
    std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;
    std::shared_ptr<Window> makeWindow(const WindowConfiguration& configuration,
                                       std::weak_ptr<WindowDelegate> delegate) override;
    std::shared_ptr<VideoView> makeVideoView(const Rect& frame) override;
    std::shared_ptr<Label> makeWrappingLabel(const std::string& text) override;
    void addScreenParametersObserver(std::weak_ptr<ScreenParametersObserver> observer) override;
    void removeScreenParametersObserver(const ScreenParametersObserver* observer) override;
    int killProbe(std::int32_t pid) override;
    std::int32_t currentProcessID() override { return ownProcessID; }
    void requestScreenCaptureAccess() override { ++permissionRequests; }
    void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                             std::function<void(ShareableContentResult)> completion) override;
    std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                              std::weak_ptr<StreamDelegate> delegate) override;

private:
    friend class ScriptedStream;
    bool runNextMainItem();
    std::shared_ptr<ManualTimer> nextTimerDueBy(double deadline) const;

    double clock = 0;
    std::uint64_t timersScheduled = 0;
    std::weak_ptr<ApplicationDelegate> delegate;
    std::vector<std::function<void()>> heldContent;
    std::vector<CaptureCompletion> heldStarts;

    std::mutex mainMutex;
    std::deque<std::function<void()>> mainQueue;
    std::size_t mainBacklogPeak = 0;
};

// A display and the applications of a normal run: the parent, the share view
// itself and an unrelated one.
struct Scenario {
    static constexpr std::int32_t parentPID = 500;
    static constexpr std::uint32_t displayID = 7;
    static Display display(std::uint32_t id = displayID, std::int64_t width = 1512, std::int64_t height = 982);
    static RunningApplication application(std::int32_t pid, std::string bundleIdentifier);
    static ShareableContent content(std::int32_t ownPID);
};

}  // namespace velto::shareview::testing
