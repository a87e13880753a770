#include "VeltoLauncherMain.h"

#include "Launcher.h"

namespace velto::launcher {

int VeltoLauncherMain::main(LauncherPlatform& platform) {
    platform.setActivationPolicyAccessory();
    const auto launcher = Launcher::create(platform);
    launcher->start();  // records "ready" before the status item exists
    launcher->showMenu();
    platform.run();
    return 0;
}

}  // namespace velto::launcher
