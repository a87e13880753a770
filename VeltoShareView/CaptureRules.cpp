#include "CaptureRules.h"

#include "MainAppContract.h"

#include <algorithm>

namespace velto::shareview {

std::optional<Display> chosenDisplay(const std::vector<Display>& displays, std::uint32_t displayID) {
    const auto found = std::find_if(displays.begin(), displays.end(),
                                    [displayID](const Display& display) { return display.displayID == displayID; });
    if (found == displays.end()) {
        return std::nullopt;
    }
    return *found;
}

bool excludes(const ExclusionRule& rule, std::int32_t processID, const std::string& bundleIdentifier) {
    return processID == rule.parentPID || processID == rule.ownPID || bundleIdentifier == mainAppBundleID ||
           bundleIdentifier == shareViewBundleID;
}

namespace {

bool containsProcess(const std::vector<RunningApplication>& applications, std::int32_t processID) {
    return std::any_of(applications.begin(), applications.end(),
                       [processID](const RunningApplication& application) { return application.processID == processID; });
}

}  // namespace

std::vector<RunningApplication> excludedApplications(const std::vector<RunningApplication>& applications,
                                                     std::int32_t parentPID, std::int32_t ownPID) {
    std::vector<RunningApplication> excluded;
    const ExclusionRule rule{parentPID, ownPID};
    std::copy_if(applications.begin(), applications.end(), std::back_inserter(excluded),
                 [&](const RunningApplication& application) { return excludes(rule, application); });
    return excluded;
}

bool identifiesPrivateWindows(const std::vector<RunningApplication>& excluded, std::int32_t parentPID,
                              std::int32_t ownPID) {
    return containsProcess(excluded, parentPID) && containsProcess(excluded, ownPID);
}

CaptureSize captureSize(std::int64_t displayWidth, std::int64_t displayHeight) {
    const double width = static_cast<double>(displayWidth);
    const double scale = std::min(2560.0 / width, 1.0);
    // Truncation, not rounding: 4183 wide comes out at 2559.9999999999995 and stays 2559.
    return {static_cast<std::int64_t>(scale * width),
            static_cast<std::int64_t>(scale * static_cast<double>(displayHeight))};
}

StreamConfiguration streamConfiguration(const Display& display) {
    const CaptureSize size = captureSize(display.width, display.height);
    StreamConfiguration configuration;
    configuration.width = size.width;
    configuration.height = size.height;
    configuration.minimumFrameIntervalValue = 1;
    configuration.minimumFrameIntervalTimescale = 30;
    configuration.queueDepth = 3;
    configuration.pixelFormat = pixelFormatBGRA;
    configuration.showsCursor = true;
    configuration.capturesAudio = false;
    return configuration;
}

FrameAction frameAction(std::int64_t frameStatus) {
    switch (frameStatus) {
    case 0:  // complete
        return FrameAction::handOff;
    case 2:  // blank
    case 3:  // suspended
    case 5:  // stopped
        return FrameAction::sourceFailure;
    default:  // idle (1), started (4) and anything the service may add later
        return FrameAction::skip;
    }
}

}  // namespace velto::shareview
