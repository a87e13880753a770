#include "X11CaptureStream.h"

#include "Compositor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>

namespace velto::x11 {
namespace {

Compositor::Settings settingsFor(const ContentFilter& filter, const StreamConfiguration& configuration) {
    Compositor::Settings settings;
    if (const auto* area = static_cast<const MonitorArea*>(filter.display.native.get())) settings.area = *area;
    settings.width = int(configuration.width);
    settings.height = int(configuration.height);
    settings.poolSize = std::max(1, configuration.queueDepth);
    settings.showsCursor = configuration.showsCursor;
    // The rule, not the applications listed at the start: applications and
    // connections that appear while the stream runs are judged by it too.
    settings.rule = filter.rule;
    return settings;
}

std::chrono::nanoseconds frameInterval(const StreamConfiguration& configuration) {
    const double seconds = configuration.minimumFrameIntervalTimescale > 0
                               ? double(configuration.minimumFrameIntervalValue) /
                                     configuration.minimumFrameIntervalTimescale
                               : 1.0 / 30;
    return std::chrono::nanoseconds(std::int64_t(std::max(seconds, 1.0 / 240) * 1e9));
}

// Without pointer motion events, how often the pointer is looked at.
constexpr int pointerLookMilliseconds = 100;
// The least time between two looks at the screen.
constexpr auto tickSpacing = std::chrono::milliseconds(4);

}  // namespace

X11CaptureStream::X11CaptureStream(ContentFilter filter, StreamConfiguration configuration,
                                   std::weak_ptr<StreamDelegate> delegate, std::shared_ptr<ShownSize> shown)
    : filter_(std::move(filter)), configuration_(configuration), delegate_(std::move(delegate)),
      shown_(std::move(shown)) {}

X11CaptureStream::~X11CaptureStream() { stopWaiter(); }

std::optional<CaptureError> X11CaptureStream::addStreamOutput(std::weak_ptr<StreamOutput> output,
                                                              StreamOutputType type,
                                                              std::shared_ptr<SerialQueue> queue) {
    if (type != StreamOutputType::screen)
        return CaptureError{"This stream carries no audio."};
    if (!queue) return CaptureError{"No queue was given for the frames."};
    output_ = std::move(output);
    queue_ = std::move(queue);
    return std::nullopt;
}

void X11CaptureStream::startCapture(CaptureCompletion completion) {
    if (!queue_) {
        completion(CaptureError{"No output was attached to the stream."});
        return;
    }
    queue_->async([self = shared_from_this(), completion = std::move(completion)] {
        completion(self->begin());
    });
}

void X11CaptureStream::stopCapture(CaptureCompletion completion) {
    if (!queue_) {
        completion(std::nullopt);
        return;
    }
    queue_->async([self = shared_from_this(), completion = std::move(completion)] {
        self->end();
        completion(std::nullopt);
    });
}

std::optional<CaptureError> X11CaptureStream::begin() {
    if (compositor_) return std::nullopt;
    std::string reason;
    compositor_ = Compositor::open(settingsFor(filter_, configuration_), reason);
    if (!compositor_) return CaptureError{reason};
    connectionNumber_ = compositor_->connectionNumber();
    pointerLookedAt_ = configuration_.showsCursor && !compositor_->hearsPointerMotion();
    startWaiter();
    return std::nullopt;
}

void X11CaptureStream::end() {
    stopWaiter();
    compositor_.reset();
}

void X11CaptureStream::tick() {
    if (!compositor_) return;
    auto frame = compositor_->nextFrame(shown_ ? shown_->get() : PixelSize{});
    if (compositor_->broken()) {
        stopWithError("The connection to the X server was lost.");
        return;
    }
    if (frame) {
        if (auto output = output_.lock()) output->streamDidOutputSampleBuffer(*this, frame, StreamOutputType::screen);
        // Nobody kept it: the view was still busy with the one before. The
        // change it carried must still reach the view, even if the screen
        // now stands still.
        if (frame.use_count() == 1) compositor_->frameNotTaken();
    }
    {
        std::lock_guard lock(waiterMutex_);
        tickQueued_ = false;
        tickMadeFrame_ = frame != nullptr;
        changePending_ = compositor_->changePending();
    }
    tickDone_.notify_one();
}

void X11CaptureStream::stopWithError(const std::string& description) {
    end();
    if (auto delegate = delegate_.lock()) delegate->streamDidStopWithError(*this, CaptureError{description});
}

// ---------------------------------------------------------------- pacing
void X11CaptureStream::startWaiter() {
    {
        std::lock_guard lock(waiterMutex_);
        stopping_ = false;
        tickQueued_ = false;
        tickMadeFrame_ = false;
        changePending_ = true;
    }
    stopWake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // The thread holds no strong reference: the stream may go at any time.
    waiter_ = std::thread([this] { wait(); });
}

void X11CaptureStream::wait() {
    using Clock = std::chrono::steady_clock;
    const auto interval = frameInterval(configuration_);
    const std::weak_ptr<X11CaptureStream> weak = weak_from_this();
    // The frame rate bounds frames, not looks at the screen: news that shows
    // nothing (the share window's own repaint, a private window's) must not
    // hold back the next frame. Looks alone are spaced by a few milliseconds.
    auto lastTick = Clock::now() - interval, lastFrameTick = lastTick;
    const auto due = [&] { return std::max(lastFrameTick + interval, lastTick + tickSpacing); };
    std::unique_lock lock(waiterMutex_);
    for (;;) {
        tickDone_.wait(lock, [this] { return stopping_ || !tickQueued_; });
        if (stopping_) return;
        if (tickMadeFrame_) lastFrameTick = lastTick;
        tickMadeFrame_ = false;
        int timeout = -1;
        if (changePending_) {
            const auto wait = due() - Clock::now();
            timeout = int(std::max<std::int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
        } else if (pointerLookedAt_) {
            timeout = pointerLookMilliseconds;
        }
        lock.unlock();
        pollfd watched[] = {{connectionNumber_, POLLIN, 0},
                            {stopWake_, POLLIN, 0},
                            {shown_ ? shown_->wakeDescriptor() : -1, POLLIN, 0}};
        poll(watched, 3, timeout);
        if (watched[2].revents & POLLIN) shown_->drain();
        lock.lock();
        // Not sooner than a frame interval after the last frame: news that
        // comes faster waits and is painted together.
        if (tickDone_.wait_until(lock, due(), [this] { return stopping_; })) return;
        lastTick = Clock::now();
        tickQueued_ = true;
        queue_->async([weak] {
            if (auto self = weak.lock()) self->tick();
        });
    }
}

void X11CaptureStream::stopWaiter() {
    if (!waiter_.joinable()) return;
    {
        std::lock_guard lock(waiterMutex_);
        stopping_ = true;
    }
    tickDone_.notify_one();
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(stopWake_, &one, sizeof one);
    waiter_.join();
    close(stopWake_);
    stopWake_ = -1;
}

}  // namespace velto::x11
