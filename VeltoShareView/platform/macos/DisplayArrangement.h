#pragma once
// What the macOS layer counts as a change of the screen configuration. AppKit
// posts its screen-parameters notification also when the Dock or the menu bar
// shows or hides, and several times for one plug-in; a presentation ends only
// when the set of active displays, their bounds or their modes changed.
// Plain C++ without platform calls, so that it is tested on every platform.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace velto::shareview::macos {

struct DisplayMode {
    std::size_t width = 0;  // points
    std::size_t height = 0;
    std::size_t pixelWidth = 0;
    std::size_t pixelHeight = 0;
    double refreshRate = 0;  // hertz; 0 where the display reports none
    friend bool operator==(const DisplayMode&, const DisplayMode&) = default;
};

struct ActiveDisplay {
    std::uint32_t displayID = 0;
    // In the global display space, whose origin is the main display's
    // upper-left corner: a new arrangement or main display moves them.
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    std::optional<DisplayMode> mode;  // none when the mode could not be read
    friend bool operator==(const ActiveDisplay&, const ActiveDisplay&) = default;
};

// The active displays as a set: the order the system lists them in is no part
// of it.
class DisplayArrangement {
public:
    explicit DisplayArrangement(std::vector<ActiveDisplay> displays) : displays_(std::move(displays)) {
        std::sort(displays_.begin(), displays_.end(),
                  [](const ActiveDisplay& a, const ActiveDisplay& b) { return a.displayID < b.displayID; });
    }
    friend bool operator==(const DisplayArrangement&, const DisplayArrangement&) = default;

private:
    std::vector<ActiveDisplay> displays_;
};

// Keeps the arrangement last read and tells whether a new reading differs
// from it. A reading that failed (nothing) always counts as a change: when
// the displays cannot be read, nobody can vouch that the picture is still the
// chosen display's.
class DisplayChangeFilter {
public:
    explicit DisplayChangeFilter(std::optional<DisplayArrangement> initial) : last_(std::move(initial)) {}

    bool changed(std::optional<DisplayArrangement> current) {
        const bool different = !current || !last_ || *current != *last_;
        last_ = std::move(current);
        return different;
    }

private:
    std::optional<DisplayArrangement> last_;
};

}  // namespace velto::shareview::macos
