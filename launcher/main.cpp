#include "LauncherCommandLine.h"
#include "LauncherPlatform.h"
#include "VeltoLauncherMain.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Status 1 when the text did not reach its reader (a full disk, a closed pipe).
int printed(const std::string& text) {
    return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velto::launcher;
    const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    switch (parseLauncherCommandLine(arguments)) {
    case LauncherRequest::printHelp: return printed(launcherHelpText());
    case LauncherRequest::printVersion: return printed(launcherVersionText());
    case LauncherRequest::runAgent: break;
    }
    // Started from autostart, the agent's output may lead to a reader that is
    // gone; a failed write must not end it. The opening of the main
    // application gives its process the default back.
    std::signal(SIGPIPE, SIG_IGN);
    const auto platform = makeLauncherPlatform();
    return VeltoLauncherMain::main(*platform);
}
