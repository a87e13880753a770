#pragma once
// The pure decisions of the share view's capture: which display, which
// applications stay out of the picture, how large the frames are, and what a
// frame's status means. Nothing here calls the platform.

#include "SharePlatform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velto::shareview {

// The first display with the identifier, in the service's order.
std::optional<Display> chosenDisplay(const std::vector<Display>& displays, std::uint32_t displayID);

// Whether the rule leaves an application out of the picture, by its process
// identifier or by its bundle identifier (compared whole and exactly).
bool excludes(const ExclusionRule& rule, std::int32_t processID, const std::string& bundleIdentifier);
inline bool excludes(const ExclusionRule& rule, const RunningApplication& application) {
    return excludes(rule, application.processID, application.bundleIdentifier);
}

// Every application that belongs to the main application or to a share view,
// by process identifier or by bundle identifier, in the service's order.
std::vector<RunningApplication> excludedApplications(const std::vector<RunningApplication>& applications,
                                                     std::int32_t parentPID, std::int32_t ownPID);

// Bundle identifiers alone prove nothing: the parent and this very process
// must both be among the excluded, or their windows could leak into the picture.
bool identifiesPrivateWindows(const std::vector<RunningApplication>& excluded, std::int32_t parentPID,
                              std::int32_t ownPID);

struct CaptureSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
};

// At most 2560 wide, aspect ratio kept, never scaled up.
CaptureSize captureSize(std::int64_t displayWidth, std::int64_t displayHeight);

StreamConfiguration streamConfiguration(const Display& display);

enum class FrameAction { handOff, skip, sourceFailure };

FrameAction frameAction(std::int64_t frameStatus);

}  // namespace velto::shareview
