#include "SubstitutePlatform.h"

#include "MainAppContract.h"

#include <algorithm>
#include <utility>

namespace velto::shareview::testing {

// ---------------------------------------------------------------- frames
std::shared_ptr<FakeSampleBuffer> FakeSampleBuffer::withStatus(std::int64_t status) {
    auto buffer = std::make_shared<FakeSampleBuffer>();
    buffer->status = status;
    return buffer;
}

std::shared_ptr<FakeSampleBuffer> FakeSampleBuffer::withoutStatus() {
    return std::make_shared<FakeSampleBuffer>();
}

std::shared_ptr<FakeSampleBuffer> FakeSampleBuffer::invalid() {
    auto buffer = withStatus(0);
    buffer->valid = false;
    return buffer;
}

// ---------------------------------------------------------------- window
void RecordingLayer::enqueueSampleBuffer(const SampleBufferRef& buffer) {
    const auto* fake = dynamic_cast<const FakeSampleBuffer*>(buffer.get());
    markedWhenEnqueued.push_back(fake != nullptr && fake->markedForImmediateDisplay);
    enqueued.push_back(buffer);
    showsPicture = true;
    journal.note("enqueue");
}

void RecordingLayer::flushAndRemoveImage() {
    ++clears;
    showsPicture = false;
    journal.note("clear");
}

void RecordingLabel::setText(const std::string& newText) {
    text = newText;
    journal.note("label text");
}

void RecordingLabel::setHidden(bool isHidden) {
    hidden = isHidden;
    journal.note(isHidden ? "label hidden" : "label shown");
}

void RecordingWindow::addLabel(const std::shared_ptr<Label>& newLabel, const LabelStyle& newStyle) {
    label = newLabel;
    labelStyle = newStyle;
}

// ---------------------------------------------------------------- frames queue
void ManualSerialQueue::async(std::function<void()> item) {
    const std::lock_guard lock(mutex);
    work.push_back(std::move(item));
}

void ManualSerialQueue::drain() {
    for (;;) {
        std::function<void()> item;
        {
            const std::lock_guard lock(mutex);
            if (work.empty()) {
                return;
            }
            item = std::move(work.front());
            work.pop_front();
        }
        item();
    }
}

// ---------------------------------------------------------------- capture
std::optional<CaptureError> ScriptedStream::addStreamOutput(std::weak_ptr<StreamOutput> newOutput,
                                                            StreamOutputType type,
                                                            std::shared_ptr<SerialQueue> queue) {
    if (platform.addOutputError) {
        return platform.addOutputError;
    }
    output = std::move(newOutput);
    outputType = type;
    outputQueue = std::move(queue);
    return std::nullopt;
}

void ScriptedStream::startCapture(CaptureCompletion completion) {
    ++startRequests;
    platform.journal.note("start");
    if (platform.holdStart) {
        platform.heldStarts.push_back(std::move(completion));
        return;
    }
    completion(platform.startError);
}

void ScriptedStream::stopCapture(CaptureCompletion completion) {
    ++stopRequests;
    platform.journal.note("stop");
    completion(std::nullopt);
}

void ScriptedStream::emit(const SampleBufferRef& buffer, StreamOutputType type) {
    outputQueue->async([this, buffer, type] {
        if (const auto target = output.lock()) {
            target->streamDidOutputSampleBuffer(*this, buffer, type);
        }
    });
}

void ScriptedStream::stopWithError(const std::string& description) {
    if (const auto target = delegate.lock()) {
        target->streamDidStopWithError(*this, CaptureError{description});
    }
}

// ---------------------------------------------------------------- platform
SubstitutePlatform::SubstitutePlatform() = default;
SubstitutePlatform::~SubstitutePlatform() = default;

void SubstitutePlatform::releaseContent() {
    auto held = std::exchange(heldContent, {});
    for (auto& complete : held) {
        complete();
    }
}

void SubstitutePlatform::releaseStart() {
    auto held = std::exchange(heldStarts, {});
    for (auto& complete : held) {
        complete(startError);
    }
}

std::optional<std::string> SubstitutePlatform::run(std::shared_ptr<ApplicationDelegate> newDelegate) {
    if (runFailure) {
        return runFailure;
    }
    delegate = newDelegate;
    newDelegate->applicationDidFinishLaunching();
    runUntilIdle();
    return std::nullopt;
}

// The process would end here; the loop runs nothing more afterwards.
void SubstitutePlatform::terminate() {
    ++terminations;
    if (terminated) {
        return;
    }
    journal.note("terminate");
    if (const auto target = delegate.lock()) {
        target->applicationWillTerminate();
    }
    terminated = true;
}

void SubstitutePlatform::postToMain(std::function<void()> work) {
    const std::lock_guard lock(mainMutex);
    mainQueue.push_back(std::move(work));
    mainBacklogPeak = std::max(mainBacklogPeak, mainQueue.size());
}

std::size_t SubstitutePlatform::maxMainBacklog() {
    const std::lock_guard lock(mainMutex);
    return mainBacklogPeak;
}

void SubstitutePlatform::resetMainBacklog() {
    const std::lock_guard lock(mainMutex);
    mainBacklogPeak = mainQueue.size();
}

bool SubstitutePlatform::runNextMainItem() {
    std::function<void()> item;
    {
        const std::lock_guard lock(mainMutex);
        if (mainQueue.empty()) {
            return false;
        }
        item = std::move(mainQueue.front());
        mainQueue.pop_front();
    }
    item();
    return true;
}

void SubstitutePlatform::runUntilIdle() {
    while (!terminated && runNextMainItem()) {
    }
}

std::shared_ptr<ManualTimer> SubstitutePlatform::nextTimerDueBy(double deadline) const {
    std::shared_ptr<ManualTimer> next;
    for (const auto& timer : timers) {
        if (!timer->valid || timer->due > deadline) {
            continue;
        }
        if (!next || timer->due < next->due || (timer->due == next->due && timer->order < next->order)) {
            next = timer;
        }
    }
    return next;
}

void SubstitutePlatform::advance(double seconds) {
    const double deadline = clock + seconds;
    runUntilIdle();
    while (!terminated) {
        const auto timer = nextTimerDueBy(deadline);
        if (!timer) {
            break;
        }
        clock = timer->due;
        if (timer->repeats) {
            timer->due += timer->interval;
        } else {
            timer->valid = false;
        }
        timer->action();
        runUntilIdle();
    }
    clock = std::max(clock, deadline);
}

std::vector<std::shared_ptr<ManualTimer>> SubstitutePlatform::validTimers() const {
    std::vector<std::shared_ptr<ManualTimer>> valid;
    std::copy_if(timers.begin(), timers.end(), std::back_inserter(valid), [](const auto& timer) { return timer->valid; });
    return valid;
}

std::shared_ptr<Timer> SubstitutePlatform::scheduleTimer(double interval, bool repeats, std::function<void()> action) {
    auto timer = std::make_shared<ManualTimer>(clock + interval, interval, repeats, std::move(action), timersScheduled++);
    timers.push_back(timer);
    return timer;
}

std::shared_ptr<SerialQueue> SubstitutePlatform::makeSerialQueue(const std::string& label) {
    auto queue = std::make_shared<ManualSerialQueue>(label);
    queues.push_back(queue);
    return queue;
}

std::shared_ptr<Window> SubstitutePlatform::makeWindow(const WindowConfiguration& configuration,
                                                       std::weak_ptr<WindowDelegate> windowDelegate) {
    auto window = std::make_shared<RecordingWindow>(configuration, std::move(windowDelegate));
    windows.push_back(window);
    return window;
}

std::shared_ptr<VideoView> SubstitutePlatform::makeVideoView(const Rect& frame) {
    auto view = std::make_shared<RecordingVideoView>(journal, frame);
    videoViews.push_back(view);
    return view;
}

std::shared_ptr<Label> SubstitutePlatform::makeWrappingLabel(const std::string& text) {
    auto label = std::make_shared<RecordingLabel>(journal, text);
    labels.push_back(label);
    return label;
}

void SubstitutePlatform::addScreenParametersObserver(std::weak_ptr<ScreenParametersObserver> observer) {
    observers.push_back(std::move(observer));
}

void SubstitutePlatform::removeScreenParametersObserver(const ScreenParametersObserver* observer) {
    journal.note("observer removed");
    std::erase_if(observers, [observer](const auto& weak) {
        const auto locked = weak.lock();
        return !locked || locked.get() == observer;
    });
}

void SubstitutePlatform::closeWindow() {
    if (terminated) {
        return;
    }
    if (const auto target = window().delegate.lock()) {
        target->windowWillClose();
    }
}

void SubstitutePlatform::changeScreenParameters() {
    if (terminated) {
        return;
    }
    const auto current = observers;
    for (const auto& weak : current) {
        if (const auto observer = weak.lock()) {
            observer->displayChanged();
        }
    }
}

int SubstitutePlatform::killProbe(std::int32_t pid) {
    killProbes.push_back(pid);
    return livingProcesses.contains(pid) ? 0 : -1;
}

void SubstitutePlatform::getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                                             std::function<void(ShareableContentResult)> completion) {
    ++contentRequests;
    contentFlags = {excludingDesktopWindows, onScreenWindowsOnly};
    auto complete = [this, completion = std::move(completion)] { completion(shareableContent); };
    if (holdContent) {
        heldContent.push_back(std::move(complete));
        return;
    }
    complete();
}

std::shared_ptr<CaptureStream> SubstitutePlatform::makeStream(const ContentFilter& filter,
                                                              const StreamConfiguration& configuration,
                                                              std::weak_ptr<StreamDelegate> streamDelegate) {
    auto stream = std::make_shared<ScriptedStream>(*this, filter, configuration, std::move(streamDelegate));
    streams.push_back(stream);
    return stream;
}

// ---------------------------------------------------------------- scenario
Display Scenario::display(std::uint32_t id, std::int64_t width, std::int64_t height) {
    return Display{id, width, height, nullptr};
}

RunningApplication Scenario::application(std::int32_t pid, std::string bundleIdentifier) {
    return RunningApplication{pid, std::move(bundleIdentifier), nullptr};
}

ShareableContent Scenario::content(std::int32_t ownPID) {
    ShareableContent content;
    content.displays = {display(3, 1920, 1080), display(displayID)};
    content.applications = {application(77, "org.example.Editor"), application(parentPID, mainAppBundleID),
                            application(ownPID, "")};
    return content;
}

}  // namespace velto::shareview::testing
