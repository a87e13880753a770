#include "LauncherCommandLine.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace velto::launcher {
namespace {

TEST(LauncherCommandLine, AnswersHelpAndVersionAndOtherwiseRunsTheAgent) {
    struct Case {
        std::vector<std::string_view> arguments;
        LauncherRequest request;
    };
    const Case cases[] = {
        {{}, LauncherRequest::runAgent},
        {{"--help"}, LauncherRequest::printHelp},
        {{"-h"}, LauncherRequest::printHelp},
        {{"--version"}, LauncherRequest::printVersion},
        {{"--version", "--help"}, LauncherRequest::printVersion},
        {{"--unknown", "--help"}, LauncherRequest::printHelp},
        {{"--unknown"}, LauncherRequest::runAgent},
        {{"--help=yes", "-help", "--Version", "help"}, LauncherRequest::runAgent},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseLauncherCommandLine(c.arguments), c.request) << testing::PrintToString(c.arguments);
    }
}

}  // namespace
}  // namespace velto::launcher
