#pragma once
// The launcher's command line: the agent takes no options, but answers the
// two every installed program answers. Any other argument is ignored, so
// that what a platform's launcher adds cannot keep the agent from starting.

#include <string>
#include <string_view>
#include <vector>

namespace velto::launcher {

enum class LauncherRequest { runAgent, printHelp, printVersion };

// `arguments` without the program path; the first "--help" or "--version" wins.
LauncherRequest parseLauncherCommandLine(const std::vector<std::string_view>& arguments);

std::string launcherHelpText();
std::string launcherVersionText();

}  // namespace velto::launcher
