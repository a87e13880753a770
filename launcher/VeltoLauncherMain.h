#pragma once

#include "LauncherPlatform.h"

namespace velto::launcher {

struct VeltoLauncherMain {
    // Sets up the agent and runs its event loop; 0 when the loop returns.
    static int main(LauncherPlatform& platform);
};

}  // namespace velto::launcher
