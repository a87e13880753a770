#include "ShareView.h"

#include "MainAppContract.h"
#include "StatusLine.h"

#include <string>

namespace velto::shareview {

namespace {

constexpr double parentWatchInterval = 1.0;

const std::string windowTitle = "Velto Share View — share this window";
const std::string preparingText = "Preparing your presentation…";
const std::string stoppedText = "Presentation stopped.\nReturn to Velto to restart it.";
const std::string displayChangedMessage =
    "Display configuration changed. Close Share View and choose your display again.";
const std::string streamStoppedMessage = "Screen capture stopped. Close Share View and restart it.";

WindowConfiguration shareWindowConfiguration() {
    constexpr unsigned titled = 1, closable = 2, miniaturizable = 4, resizable = 8;
    WindowConfiguration configuration;
    configuration.contentRect = {100, 100, 960, 600};
    configuration.styleMask = titled | closable | miniaturizable | resizable;
    configuration.title = windowTitle;
    configuration.releasedWhenClosed = false;
    configuration.minSize = {480, 300};
    configuration.sharingType = WindowSharingType::readOnly;
    return configuration;
}

}  // namespace

std::shared_ptr<ShareViewApp> ShareViewApp::make(SharePlatform& platform, std::int32_t parentPID,
                                                 std::uint32_t displayID) {
    return std::make_shared<ShareViewApp>(ConstructionKey{}, platform, parentPID, displayID);
}

ShareViewApp::ShareViewApp(ConstructionKey, SharePlatform& platform, std::int32_t parentPID,
                           std::uint32_t displayID)
    : platform(platform),
      parentPID(parentPID),
      displayID(displayID),
      queue(platform.makeSerialQueue(std::string(framesQueueLabel))) {}

void ShareViewApp::applicationDidFinishLaunching() {
    platform.setActivationPolicyAccessory();
    buildWindow();
    window->center();
    window->makeKeyAndOrderFront();
    platform.activate(false);

    parentTimer = platform.scheduleTimer(parentWatchInterval, true, [weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->watchParent();
        }
    });
    platform.addScreenParametersObserver(weak_from_this());
    // The capture sequence's first step runs after launch has returned, with
    // the window, the watch and the screen observer in place.
    platform.postToMain([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->startCapture();
        }
    });
}

void ShareViewApp::buildWindow() {
    window = platform.makeWindow(shareWindowConfiguration(), weak_from_this());
    video = platform.makeVideoView(window->contentBounds());
    window->setContentView(video);
    label = platform.makeWrappingLabel(preparingText);
    window->addLabel(label, LabelStyle{});
}

void ShareViewApp::watchParent() {
    if (platform.killProbe(parentPID) != 0) {
        finish();
    }
}

// No guard: after a failure the parent still gets its "stopped" line.
void ShareViewApp::finish() {
    stopped = true;
    if (startupTimer) {
        startupTimer->invalidate();
    }
    if (parentTimer) {
        parentTimer->invalidate();
    }
    if (video) {
        video->clear();
    }
    report("stopped", "Share View closed.");
    platform.terminate();
}

void ShareViewApp::windowWillClose() {
    finish();
}

void ShareViewApp::applicationWillTerminate() {
    if (video) {
        video->clear();
    }
    platform.removeScreenParametersObserver(this);
}

void ShareViewApp::fail(const std::string& message) {
    if (stopped) {
        return;
    }
    stopped = true;
    if (startupTimer) {
        startupTimer->invalidate();
    }
    if (video) {
        video->clear();
    }
    if (label) {
        label->setHidden(false);
        label->setText(stoppedText);
    }
    if (capture) {
        requestStop(capture);
    }
    report("error", message);
}

// The completion keeps the stream alive until the stop has completed; its
// outcome does not matter any more.
void ShareViewApp::requestStop(const std::shared_ptr<CaptureStream>& stream) {
    stream->stopCapture([stream](std::optional<CaptureError>) {});
}

void ShareViewApp::displayChanged() {
    fail(displayChangedMessage);
}

// On a capture service thread: touch no field here.
void ShareViewApp::streamDidStopWithError(CaptureStream&, const CaptureError&) {
    platform.postToMain([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->fail(streamStoppedMessage);
        }
    });
}

}  // namespace velto::shareview
