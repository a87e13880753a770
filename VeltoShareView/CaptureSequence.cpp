// The capture start: permission, content, exclusion, stream, "starting", the
// start itself and the first-frame watchdog. Each wait is a completion that the
// capture service may call on any thread; it resumes the sequence on the main
// thread, and only while the controller still exists.

#include "CaptureRules.h"
#include "ShareView.h"
#include "StatusLine.h"

#include <string>
#include <utility>

namespace velto::shareview {

namespace {

constexpr double startupWatchdogInterval = 12.0;

const std::string permissionRequiredMessage =
    "Allow Velto Share View in System Settings → Privacy & Security → Screen & System Audio Recording, "
    "then reopen Share View.";
const std::string permissionText =
    "Screen recording permission is needed.\nReturn to Velto after allowing Velto Share View in System Settings.";
const std::string displayUnavailableMessage =
    "The selected display is unavailable. Close this window and choose a display again.";
const std::string privateWindowsMessage =
    "Velto's private windows could not be identified. No screen content was captured. "
    "Close Share View and retry.";
const std::string startingMessage = "Waiting for the first filtered frame.";
const std::string couldNotStartPrefix = "Screen capture could not start: ";
const std::string noFramesMessage = "No screen frames arrived. Close Share View and check recording permission.";

}  // namespace

void ShareViewApp::startCapture() {
    if (!platform.preflightScreenCaptureAccess()) {
        // Not a failure: the window stays as it is, apart from its text, and
        // the user reopens the share view once permission is given.
        report("permission_required", permissionRequiredMessage);
        label->setText(permissionText);
        platform.requestScreenCaptureAccess();
        return;
    }
    platform.getShareableContent(
        false, false, [&platform = platform, weak = weak_from_this()](ShareableContentResult result) {
            platform.postToMain([weak, result = std::move(result)]() mutable {
                if (const auto self = weak.lock()) {
                    self->shareableContentArrived(std::move(result));
                }
            });
        });
}

void ShareViewApp::shareableContentArrived(ShareableContentResult result) {
    if (result.error || !result.content) {
        failToStart(result.error.value_or(CaptureError{}));
        return;
    }
    if (stopped) {
        return;
    }
    const ShareableContent& content = *result.content;
    const std::optional<Display> display = chosenDisplay(content.displays, displayID);
    if (!display) {
        fail(displayUnavailableMessage);
        return;
    }
    const std::int32_t ownPID = platform.currentProcessID();
    const std::vector<RunningApplication> excluded = excludedApplications(content.applications, parentPID, ownPID);
    if (!identifiesPrivateWindows(excluded, parentPID, ownPID)) {
        fail(privateWindowsMessage);
        return;
    }

    const ContentFilter filter{*display, excluded, ExclusionRule{parentPID, ownPID}};
    const std::shared_ptr<CaptureStream> stream =
        platform.makeStream(filter, streamConfiguration(*display), weak_from_this());
    if (const auto error = stream->addStreamOutput(weak_from_this(), StreamOutputType::screen, queue)) {
        failToStart(*error);
        return;
    }
    capture = stream;

    report("starting", startingMessage,
           {{"displayID", static_cast<std::int64_t>(display->displayID)},
            {"excludedApplicationCount", static_cast<std::int64_t>(excluded.size())}});
    stream->startCapture([&platform = platform, weak = weak_from_this()](std::optional<CaptureError> error) {
        platform.postToMain([weak, error = std::move(error)]() mutable {
            if (const auto self = weak.lock()) {
                self->streamStarted(std::move(error));
            }
        });
    });
}

void ShareViewApp::streamStarted(std::optional<CaptureError> error) {
    if (error) {
        failToStart(*error);
        return;
    }
    if (stopped) {
        // The failure or shutdown came while the stream was starting; its own
        // stop request may have reached the stream before the start finished.
        requestStop(capture);
        return;
    }
    if (receivedFrame) {
        return;
    }
    armStartupWatchdog();
}

void ShareViewApp::armStartupWatchdog() {
    startupTimer = platform.scheduleTimer(startupWatchdogInterval, false, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (self && !self->receivedFrame) {
            self->fail(noFramesMessage);
        }
    });
}

void ShareViewApp::failToStart(const CaptureError& error) {
    fail(couldNotStartPrefix + error.localizedDescription);
}

}  // namespace velto::shareview
