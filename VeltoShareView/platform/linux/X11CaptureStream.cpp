#include "X11CaptureStream.h"

#include "Compositor.h"
#include "FramePacing.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <optional>

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

}  // namespace

X11CaptureStream::X11CaptureStream(ContentFilter filter, StreamConfiguration configuration,
                                   std::weak_ptr<StreamDelegate> delegate, std::shared_ptr<ShownSize> shown)
    : filter_(std::move(filter)), configuration_(configuration), delegate_(std::move(delegate)),
      shown_(std::move(shown)), stopWake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

X11CaptureStream::~X11CaptureStream() {
    if (stopWake_ >= 0) close(stopWake_);
}

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
        auto error = self->begin();
        const bool started = !error && self->compositor_;
        completion(std::move(error));
        if (!started) return;
        // Queued, not run here: a stop asked for meanwhile is queued before it.
        self->queue_->async([weak = self->weak_from_this()] {
            if (auto stream = weak.lock()) stream->run();
        });
    });
}

void X11CaptureStream::stopCapture(CaptureCompletion completion) {
    if (!queue_) {
        completion(std::nullopt);
        return;
    }
    // The loop gives the frames queue back, then the stop runs there.
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(stopWake_, &one, sizeof one);
    queue_->async([self = shared_from_this(), completion = std::move(completion)] {
        self->end();
        completion(std::nullopt);
    });
}

std::optional<CaptureError> X11CaptureStream::begin() {
    if (compositor_) return std::nullopt;
    if (stopWake_ < 0) return CaptureError{"The capture could not make its wake-up descriptor."};
    std::string reason;
    compositor_ = Compositor::open(settingsFor(filter_, configuration_), reason);
    if (!compositor_) return CaptureError{reason};
    pointerLookedAt_ = configuration_.showsCursor && !compositor_->hearsPointerMotion();
    return std::nullopt;
}

void X11CaptureStream::end() { compositor_.reset(); }

void X11CaptureStream::run() {
    using Clock = FramePacing::Clock;
    FramePacing pacing(frameInterval(configuration_));
    bool lookNow = true;  // the first frame, and a frame at a new size
    std::optional<Clock::time_point> changeSeenAt;  // the first change no frame shows yet
    while (compositor_) {
        compositor_->readEvents();
        if (compositor_->broken()) {
            stopWithError("The connection to the X server was lost.");
            return;
        }
        const bool pending = lookNow || compositor_->changePending();
        const auto now = Clock::now();
        if (!pending) changeSeenAt.reset();
        else if (!changeSeenAt) changeSeenAt = now;
        if (pending && pacing.allows(now)) {
            lookNow = false;
            if (look(pacing, *changeSeenAt)) changeSeenAt.reset();
            continue;
        }
        // While a change waits for its frame, and while the rate's credit
        // is spent (a source a little faster than the rate), news waits and
        // is read and painted together when the time comes: the loop sleeps
        // once, and only a stop or a new size wakes it sooner.
        const auto until = pending ? pacing.due() : pacing.creditFrom();
        const bool waitsForTime = until > now;
        int timeout = -1;
        if (waitsForTime) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
            timeout = int(std::max<std::int64_t>(1, wait));
        } else if (pointerLookedAt_) {
            timeout = pointerLookMilliseconds;
        }
        pollfd watched[] = {{stopWake_, POLLIN, 0},
                            {shown_ ? shown_->wakeDescriptor() : -1, POLLIN, 0},
                            {waitsForTime ? -1 : compositor_->connectionNumber(), POLLIN, 0}};
        const int ready = poll(watched, 3, timeout);
        if (watched[0].revents & POLLIN) return;
        if (watched[1].revents & POLLIN) {
            shown_->drain();
            lookNow = true;
        }
        if (ready == 0 && !waitsForTime) lookNow = true;  // the pointer's turn
    }
}

bool X11CaptureStream::look(FramePacing& pacing, FramePacing::Clock::time_point changeSeenAt) {
    const auto started = FramePacing::Clock::now();
    auto frame = compositor_->nextFrame(shown_ ? shown_->get() : PixelSize{});
    if (compositor_->broken()) {
        stopWithError("The connection to the X server was lost.");
        return false;
    }
    if (!frame) {
        pacing.lookedAt(started);
        return false;
    }
    pacing.frameMadeAt(started, changeSeenAt);
    if (auto output = output_.lock()) output->streamDidOutputSampleBuffer(*this, frame, StreamOutputType::screen);
    // Nobody kept it: the view was still busy with the one before. The
    // change it carried must still reach the view, even if the screen now
    // stands still.
    if (frame.use_count() == 1) compositor_->frameNotTaken();
    return true;
}

void X11CaptureStream::stopWithError(const std::string& description) {
    end();
    if (auto delegate = delegate_.lock()) delegate->streamDidStopWithError(*this, CaptureError{description});
}

}  // namespace velto::x11
