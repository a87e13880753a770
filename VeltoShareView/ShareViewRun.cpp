#include "ShareView.h"
#include "ShareViewMain.h"

#include <iostream>

namespace velto::shareview {

int runShareView(SharePlatform& platform, std::int32_t parentPID, std::uint32_t displayID) {
    // The application knows its delegate only weakly; this reference keeps the
    // controller alive for as long as the loop runs.
    const std::shared_ptr<ShareViewApp> controller = ShareViewApp::make(platform, parentPID, displayID);
    if (const std::optional<std::string> reason = platform.run(controller)) {
        std::cerr << "VeltoShareView: " << *reason << '\n';
        return 1;
    }
    return 0;
}

}  // namespace velto::shareview
