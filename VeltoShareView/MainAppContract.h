#pragma once
// What the share view relies on from the main application that starts it.

#include <string>

namespace velto::shareview {

// Set at build time (CMake cache variable VELTO_MAIN_APP_BUNDLE_ID).
inline const std::string mainAppBundleID = VELTO_MAIN_APP_BUNDLE_ID;
inline const std::string shareViewBundleID = mainAppBundleID + ".shareview";
inline const std::string framesQueueLabel = mainAppBundleID + ".share.frames";

}  // namespace velto::shareview
