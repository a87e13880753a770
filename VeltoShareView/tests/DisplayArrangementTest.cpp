// The macOS layer's test of a screen-parameters notification: pure C++, so it
// runs with the core tests on every platform.
#include "platform/macos/DisplayArrangement.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velto::shareview::macos {
namespace {

constexpr DisplayMode retina{1512, 982, 3024, 1964, 120};
constexpr DisplayMode external{2560, 1440, 2560, 1440, 60};

ActiveDisplay builtIn() { return {1, 0, 0, 1512, 982, retina}; }
ActiveDisplay rightOfIt() { return {7, 1512, -200, 2560, 1440, external}; }

DisplayArrangement arrangement(std::vector<ActiveDisplay> displays) { return DisplayArrangement(std::move(displays)); }

TEST(DisplayChangeFilter, ReportsAChangeOnlyForDisplaysBoundsOrModes) {
    struct Case {
        std::string name;
        std::optional<DisplayArrangement> before;
        std::optional<DisplayArrangement> after;
        bool changed;
    };
    ActiveDisplay moved = rightOfIt();
    moved.y = 0;
    ActiveDisplay rescaled = builtIn();  // "More Space": more points, same panel
    rescaled.width = 1800;
    rescaled.height = 1169;
    rescaled.mode = DisplayMode{1800, 1169, 3600, 2338, 120};
    ActiveDisplay sharper = builtIn();  // same points, other backing pixels
    sharper.mode = DisplayMode{1512, 982, 1512, 982, 120};
    ActiveDisplay slower = rightOfIt();
    slower.mode = DisplayMode{2560, 1440, 2560, 1440, 30};
    ActiveDisplay modeUnreadable = rightOfIt();
    modeUnreadable.mode.reset();
    ActiveDisplay mainMoved = builtIn();  // the menu bar went to the other display
    mainMoved.x = -1512;
    mainMoved.y = 200;
    ActiveDisplay newMain = rightOfIt();
    newMain.x = 0;
    newMain.y = 0;

    const auto both = arrangement({builtIn(), rightOfIt()});
    const std::vector<Case> cases = {
        {"same reading (Dock or menu bar shown or hidden)", both, arrangement({builtIn(), rightOfIt()}), false},
        {"same displays listed in another order", both, arrangement({rightOfIt(), builtIn()}), false},
        {"no display before or after", arrangement({}), arrangement({}), false},
        {"display added", arrangement({builtIn()}), both, true},
        {"display removed", both, arrangement({builtIn()}), true},
        {"display replaced by another with the same geometry", arrangement({builtIn()}),
         arrangement({{2, 0, 0, 1512, 982, retina}}), true},
        {"display moved in the arrangement", both, arrangement({builtIn(), moved}), true},
        {"another main display", both, arrangement({mainMoved, newMain}), true},
        {"resolution changed", both, arrangement({rescaled, rightOfIt()}), true},
        {"backing pixels changed, points alike", both, arrangement({sharper, rightOfIt()}), true},
        {"refresh rate changed", both, arrangement({builtIn(), slower}), true},
        {"mode no longer readable", both, arrangement({builtIn(), modeUnreadable}), true},
        {"displays no longer readable", both, std::nullopt, true},
        {"displays readable again", std::nullopt, both, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DisplayChangeFilter filter(c.before);
        EXPECT_EQ(filter.changed(c.after), c.changed);
    }
}

TEST(DisplayChangeFilter, ComparesWithTheLastReadingSoOnePlugInReportsOnce) {
    const auto one = arrangement({builtIn()});
    const auto two = arrangement({builtIn(), rightOfIt()});
    DisplayChangeFilter filter(one);
    // The notification arrives several times for one plug-in, and once more
    // for the Dock that moves to the new display's edge.
    EXPECT_TRUE(filter.changed(two));
    EXPECT_FALSE(filter.changed(two));
    EXPECT_FALSE(filter.changed(two));
    EXPECT_TRUE(filter.changed(one));
}

}  // namespace
}  // namespace velto::shareview::macos
