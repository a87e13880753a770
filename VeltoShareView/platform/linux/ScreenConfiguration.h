#pragma once
// What of the screen configuration makes a presentation's display choice
// stale: the monitors, where each lies, how big it is, the mode and rotation
// of the outputs that show it, and which one is primary. RandR also reports
// output properties (a backlight level, say) and other traffic; none of that
// is held here, so it never counts as a change.

#include <algorithm>
#include <compare>
#include <vector>

namespace velto::shareview::linux_platform {

struct OutputState {
    unsigned long output = 0;    // RROutput
    unsigned long mode = 0;      // RRMode of its CRTC; 0 when the output is off
    unsigned short rotation = 0; // RR_Rotate_* | RR_Reflect_*
    auto operator<=>(const OutputState&) const = default;
};

struct MonitorState {
    unsigned long name = 0;  // the monitor's name atom
    int x = 0, y = 0;
    int width = 0, height = 0;  // pixels
    bool primary = false;
    std::vector<OutputState> outputs;
    auto operator<=>(const MonitorState&) const = default;
};

class ScreenConfiguration {
public:
    ScreenConfiguration() = default;
    // The server lists monitors and their outputs in no promised order.
    explicit ScreenConfiguration(std::vector<MonitorState> monitors) : monitors_(std::move(monitors)) {
        for (auto& monitor : monitors_) std::sort(monitor.outputs.begin(), monitor.outputs.end());
        std::sort(monitors_.begin(), monitors_.end());
    }
    bool operator==(const ScreenConfiguration&) const = default;

private:
    std::vector<MonitorState> monitors_;
};

}  // namespace velto::shareview::linux_platform
