#include "LauncherPlatform.h"
#include "VeltoLauncherMain.h"

int main() {
    const auto platform = velto::launcher::makeLauncherPlatform();
    return velto::launcher::VeltoLauncherMain::main(*platform);
}
