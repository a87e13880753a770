#pragma once
// What the launcher relies on from the main application it opens.

#include <string>

namespace velto::launcher {

// Set at build time (CMake cache variable VELTO_MAIN_APP_BUNDLE_ID).
inline const std::string mainAppBundleID = VELTO_MAIN_APP_BUNDLE_ID;
inline const std::string launcherBundleID = mainAppBundleID + ".launcher";
// Where the main application is looked for first.
inline const std::string installLocation = VELTO_INSTALL_LOCATION;

}  // namespace velto::launcher
