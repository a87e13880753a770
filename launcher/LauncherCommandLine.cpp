#include "LauncherCommandLine.h"

namespace velto::launcher {

LauncherRequest parseLauncherCommandLine(const std::vector<std::string_view>& arguments) {
    for (const auto argument : arguments) {
        if (argument == "--help" || argument == "-h") return LauncherRequest::printHelp;
        if (argument == "--version") return LauncherRequest::printVersion;
    }
    return LauncherRequest::runAgent;
}

std::string launcherHelpText() {
    return "Usage: VeltoLauncher [--help | --version]\n"
           "\n"
           "Runs the Velto launcher, an agent in the status area (tray) with no windows.\n"
           "Holding the right Alt key (right Option on a Mac) alone for half a second\n"
           "opens Velto and starts listening; the status item's menu offers the same.\n"
           "One launcher runs per user and display; it is started at each login.\n"
           "\n"
           "  -h, --help  print this help and exit\n"
           "  --version   print the version and exit\n";
}

std::string launcherVersionText() { return std::string("VeltoLauncher ") + VELTO_VERSION + "\n"; }

}  // namespace velto::launcher
