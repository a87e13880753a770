// Frames from the capture stream to the window. The frames queue never waits
// for the main thread: at most one picture is on its way there, newer ones are
// dropped meanwhile, and framePending (under frameLock) is the only state the
// two threads share.

#include "CaptureRules.h"
#include "ShareView.h"
#include "StatusLine.h"

#include <string>

namespace velto::shareview {

namespace {

const std::string sourceFailureMessage =
    "The source is no longer providing a usable picture. Close Share View and restart it.";
const std::string rendererStoppedMessage = "The presentation renderer stopped. Close Share View and restart it.";
const std::string liveMessage =
    "Choose “Velto Share View — share this window” in your meeting's Window picker. Verify the recipient view.";

}  // namespace

// On the frames queue.
void ShareViewApp::streamDidOutputSampleBuffer(CaptureStream&, SampleBufferRef buffer, StreamOutputType type) {
    if (type != StreamOutputType::screen || !buffer || !buffer->isValid()) {
        return;
    }
    const std::optional<std::int64_t> status = buffer->frameStatus();
    if (!status) {
        return;
    }
    switch (frameAction(*status)) {
    case FrameAction::skip:
        return;
    case FrameAction::sourceFailure:
        // No gate and no count: fail() keeps only the first.
        submitSourceFailure();
        return;
    case FrameAction::handOff:
        break;
    }
    {
        const std::lock_guard lock(frameLock);
        if (framePending) {
            return;
        }
        framePending = true;
    }
    platform.postToMain([weak = weak_from_this(), buffer = std::move(buffer)] {
        if (const auto self = weak.lock()) {
            self->handOff(buffer);
        }
    });
}

void ShareViewApp::submitSourceFailure() {
    platform.postToMain([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->fail(sourceFailureMessage);
        }
    });
}

// On the main thread; whatever happens to the picture, the gate reopens.
void ShareViewApp::handOff(const SampleBufferRef& buffer) {
    show(buffer);
    const std::lock_guard lock(frameLock);
    framePending = false;
}

void ShareViewApp::show(const SampleBufferRef& buffer) {
    if (stopped) {
        return;
    }
    DisplayLayer& layer = video->video();
    // Checked before readiness: a failed layer may also claim not to be ready.
    if (layer.status() == LayerStatus::failed) {
        fail(rendererStoppedMessage);
        return;
    }
    if (!layer.isReadyForMoreMediaData()) {
        return;
    }
    buffer->markDisplayImmediately();
    layer.enqueueSampleBuffer(buffer);
    if (receivedFrame) {
        return;
    }
    receivedFrame = true;
    if (startupTimer) {
        startupTimer->invalidate();
    }
    label->setHidden(true);
    report("live", liveMessage);
}

}  // namespace velto::shareview
