#include "X11CaptureStream.h"

#include "Compositor.h"

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

// While the screen stands still the pointer is still looked at, but less often.
constexpr auto restingInterval = std::chrono::milliseconds(100);
constexpr int ticksBeforeResting = 30;

}  // namespace

X11CaptureStream::X11CaptureStream(ContentFilter filter, StreamConfiguration configuration,
                                   std::weak_ptr<StreamDelegate> delegate)
    : filter_(std::move(filter)), configuration_(configuration), delegate_(std::move(delegate)) {}

X11CaptureStream::~X11CaptureStream() { stopTicker(); }

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
    startTicker();
    return std::nullopt;
}

void X11CaptureStream::end() {
    stopTicker();
    compositor_.reset();
}

void X11CaptureStream::tick() {
    tickQueued_ = false;
    if (!compositor_) return;
    auto frame = compositor_->nextFrame();
    if (compositor_->broken()) {
        stopWithError("The connection to the X server was lost.");
        return;
    }
    if (!frame) {
        if (++idleTicks_ >= ticksBeforeResting) resting_ = true;
        return;
    }
    idleTicks_ = 0;
    resting_ = false;
    if (auto output = output_.lock())
        output->streamDidOutputSampleBuffer(*this, std::move(frame), StreamOutputType::screen);
}

void X11CaptureStream::stopWithError(const std::string& description) {
    end();
    if (auto delegate = delegate_.lock()) delegate->streamDidStopWithError(*this, CaptureError{description});
}

// ---------------------------------------------------------------- pacing
void X11CaptureStream::startTicker() {
    {
        std::lock_guard lock(tickerMutex_);
        tickerStopping_ = false;
    }
    // The thread holds no strong reference: the stream may go at any time.
    ticker_ = std::thread([this, weak = weak_from_this(), queue = queue_,
                           interval = frameInterval(configuration_)] {
        auto next = std::chrono::steady_clock::now();
        std::unique_lock lock(tickerMutex_);
        for (;;) {
            next += resting_ ? std::max<std::chrono::nanoseconds>(interval, restingInterval) : interval;
            if (tickerWake_.wait_until(lock, next, [this] { return tickerStopping_; })) return;
            const auto now = std::chrono::steady_clock::now();
            if (next < now) next = now;  // fell behind: do not burst to catch up
            if (tickQueued_.exchange(true)) continue;
            queue->async([weak] {
                if (auto self = weak.lock()) self->tick();
            });
        }
    });
}

void X11CaptureStream::stopTicker() {
    if (!ticker_.joinable()) return;
    {
        std::lock_guard lock(tickerMutex_);
        tickerStopping_ = true;
    }
    tickerWake_.notify_one();
    if (ticker_.get_id() == std::this_thread::get_id())
        ticker_.detach();
    else
        ticker_.join();
}

}  // namespace velto::x11
