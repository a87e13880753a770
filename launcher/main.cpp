#include "LauncherPlatform.h"
#include "VeltoLauncherMain.h"

#include <csignal>

int main() {
    // Started from autostart, the agent's output may lead to a reader that is
    // gone; a failed write must not end it. The opening of the main
    // application gives its process the default back.
    std::signal(SIGPIPE, SIG_IGN);
    const auto platform = velto::launcher::makeLauncherPlatform();
    return velto::launcher::VeltoLauncherMain::main(*platform);
}
