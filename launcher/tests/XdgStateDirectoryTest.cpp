#include "platform/linux/XdgStateDirectory.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace velto::launcher {
namespace {

struct StateDirectoryCase {
    const char* name;
    std::string xdgStateHome;
    std::string home;
    std::optional<std::string> expected;
    friend void PrintTo(const StateDirectoryCase& c, std::ostream* out) { *out << c.name; }
};

class XdgStateDirectoryTest : public testing::TestWithParam<StateDirectoryCase> {};

TEST_P(XdgStateDirectoryTest, ResolvesTheLauncherStateDirectory) {
    const auto& c = GetParam();
    const auto directory = xdgStateDirectory(c.xdgStateHome, c.home);
    ASSERT_EQ(directory.has_value(), c.expected.has_value());
    if (directory) {
        EXPECT_EQ(directory->string(), *c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XdgStateDirectoryTest,
    testing::Values(
        StateDirectoryCase{"AbsoluteStateHomeWins", "/var/state", "/home/ada", "/var/state/VeltoLauncher"},
        StateDirectoryCase{"UnsetStateHomeFallsBackToHome", "", "/home/ada", "/home/ada/.local/state/VeltoLauncher"},
        StateDirectoryCase{"RelativeStateHomeIsIgnored", "state", "/home/ada",
                           "/home/ada/.local/state/VeltoLauncher"},
        StateDirectoryCase{"TrailingSlashesKeepOneSeparator", "/var/state/", "/home/ada/",
                           "/var/state/VeltoLauncher"},
        StateDirectoryCase{"NoHomeAndNoStateHome", "", "", std::nullopt},
        StateDirectoryCase{"RelativeHomeIsRefused", "", "ada", std::nullopt},
        StateDirectoryCase{"AbsoluteStateHomeNeedsNoHome", "/run/state", "", "/run/state/VeltoLauncher"}),
    [](const testing::TestParamInfo<StateDirectoryCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velto::launcher
