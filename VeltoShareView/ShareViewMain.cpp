#include "ShareViewMain.h"

#include "CommandLine.h"
#include "StatusLine.h"

#include <variant>

namespace velto::shareview {

namespace {

constexpr const char* badCommandLineMessage = "Open Share View from Velto.";

int reportDiagnostic(SharePlatform& platform) {
    report("diagnostic", "",
           {{"screenPermission", platform.preflightScreenCaptureAccess()},
            {"osVersion", platform.operatingSystemVersionString()}});
    return 0;
}

}  // namespace

int shareViewMain(const std::vector<std::string>& arguments, SharePlatform& platform) {
    const CommandLine commandLine = parseCommandLine(arguments);
    if (std::holds_alternative<CheckRequest>(commandLine)) return reportDiagnostic(platform);
    if (const auto* options = std::get_if<ShareOptions>(&commandLine)) {
        return runShareView(platform, options->parentPID, options->displayID);
    }
    // Whichever option was missing or wrong, the parent learns only this.
    report("error", badCommandLineMessage);
    return 2;
}

}  // namespace velto::shareview
