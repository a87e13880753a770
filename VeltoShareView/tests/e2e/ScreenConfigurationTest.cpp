// Which differences between two looks at the screen configuration make a
// change that ends a presentation, and which are only the server's order.

#include "ScreenConfiguration.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace velto::shareview::linux_platform {
namespace {

constexpr unsigned short rotate0 = 1, rotate180 = 4;

// Two monitors side by side; the right one shows a clone on two outputs.
std::vector<MonitorState> twoMonitors() {
    return {
        {100, 0, 0, 1920, 1080, true, {{60, 500, rotate0}}},
        {101, 1920, 0, 1920, 1080, false, {{61, 500, rotate0}, {62, 500, rotate0}}},
    };
}

struct ConfigurationCase {
    const char* name;
    std::function<void(std::vector<MonitorState>&)> edit;
    bool changed;
    friend void PrintTo(const ConfigurationCase& c, std::ostream* out) { *out << c.name; }
};

class ScreenConfigurationCompare : public testing::TestWithParam<ConfigurationCase> {};

TEST_P(ScreenConfigurationCompare, CountsOnlyRealChanges) {
    std::vector<MonitorState> after = twoMonitors();
    GetParam().edit(after);
    EXPECT_EQ(ScreenConfiguration(twoMonitors()) != ScreenConfiguration(after), GetParam().changed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScreenConfigurationCompare,
    testing::Values(
        ConfigurationCase{"Nothing", [](auto&) {}, false},
        ConfigurationCase{"MonitorsListedInAnotherOrder", [](auto& m) { std::swap(m[0], m[1]); }, false},
        ConfigurationCase{"CloneOutputsListedInAnotherOrder",
                          [](auto& m) { std::swap(m[1].outputs[0], m[1].outputs[1]); }, false},
        ConfigurationCase{"MonitorAdded",
                          [](auto& m) { m.push_back({102, 3840, 0, 1280, 1024, false, {{63, 501, rotate0}}}); },
                          true},
        ConfigurationCase{"MonitorRemoved", [](auto& m) { m.pop_back(); }, true},
        ConfigurationCase{"MonitorMoved", [](auto& m) { m[1].y = 200; }, true},
        ConfigurationCase{"MonitorResized", [](auto& m) { m[0].width = 1600; }, true},
        ConfigurationCase{"AnotherModeOfTheSameSize", [](auto& m) { m[0].outputs[0].mode = 502; }, true},
        ConfigurationCase{"TurnedUpsideDown", [](auto& m) { m[0].outputs[0].rotation = rotate180; }, true},
        ConfigurationCase{"PrimaryMovedToTheOtherMonitor",
                          [](auto& m) {
                              m[0].primary = false;
                              m[1].primary = true;
                          },
                          true},
        ConfigurationCase{"OneCloneOutputSwitchedOff", [](auto& m) { m[1].outputs[1].mode = 0; }, true},
        ConfigurationCase{"MonitorRenamed", [](auto& m) { m[1].name = 103; }, true}),
    [](const testing::TestParamInfo<ConfigurationCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velto::shareview::linux_platform
