// The poll rests while the detector cannot fire and the platform reports
// every keyboard change: the same gestures give the same phases as the plain
// 50 Hz poll, with no samples while the keyboard stands still.

#include "HoldDetectors.h"
#include "KeyboardSample.h"
#include "Launcher.h"
#include "MainAppContract.h"
#include "SubstituteLauncherPlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace velto::launcher {
namespace {

constexpr std::uint64_t rightOption = 0x40 | 0x80000;
constexpr std::uint64_t shift = 0x20000, capsLock = 0x10000;

TEST(SingleModifierHold, CanFireBeforeTheKeyboardChangesOnlyWhileAPressIsTiming) {
    struct Case {
        const char* name;
        std::vector<KeyboardSample> samples;
        bool canFire;
    };
    const Case cases[] = {
        {"new", {}, false},
        {"idle after a release", {{true, false, 0, 0.0}, {false, false, 0, 0.1}}, false},
        {"timing", {{true, false, 0, 0.0}, {true, false, 0, 0.2}}, true},
        {"fired", {{true, false, 0, 0.0}, {true, false, 0, 0.45}}, false},
        {"fired, still held", {{true, false, 0, 0.0}, {true, false, 0, 0.45}, {true, false, 0, 0.9}}, false},
        {"blocked by a modifier", {{true, true, 0, 0.0}}, false},
        {"blocked, modifier released", {{true, true, 0, 0.0}, {true, false, 0, 0.1}}, false},
        {"blocked by typing", {{true, false, 0, 0.0}, {true, false, 1, 0.1}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SingleModifierHold hold;
        for (const auto& s : c.samples) hold.update(s.down, s.otherModifiers, s.keyCount, s.at);
        EXPECT_EQ(hold.canFireBeforeKeyboardChanges(), c.canFire);
    }
}

struct Change {
    double at;
    std::uint64_t flags;
    std::uint32_t keyCount;
};

struct AgentRun {
    std::vector<std::string> phases;
    std::vector<OpenRequest> openRequests;
    std::vector<double> sampleTimes;
};

AgentRun runAgent(const std::vector<Change>& keyboard, bool resting) {
    SubstituteLauncherPlatform platform;
    platform.reportsKeyboardChanges = resting;
    platform.bundleIdentifiers[installLocation] = mainAppBundleID;
    const auto launcher = Launcher::create(platform);
    launcher->start();
    for (const auto& change : keyboard) platform.scriptKeyboard(change.at, change.flags, change.keyCount);
    platform.advanceTo(6.0);
    while (platform.pendingOpenCount() > 0) platform.completeOpen();
    return {platform.writtenPhases(), platform.openRequests, platform.sampleTimes};
}

std::size_t samplesBetween(const std::vector<double>& times, double from, double to) {
    return static_cast<std::size_t>(
        std::count_if(times.begin(), times.end(), [&](double t) { return t > from && t < to; }));
}

TEST(Launcher, PollRestsAtRestAndResumesOnAKeyboardChangeWithTheSamePhases) {
    struct Case {
        const char* name;
        std::vector<Change> keyboard;
        long accepted;
    };
    // Later changes fall between the 20 ms samples of the press.
    constexpr double pressAt = 1.005;  // right Option goes down
    const Case cases[] = {
        {"right Option alone, 0.6 s", {{pressAt, rightOption, 0}, {1.615, 0, 0}}, 1},
        {"right Option alone, 3 s", {{pressAt, rightOption, 0}, {4.015, 0, 0}}, 1},
        {"right Option alone, 0.4 s", {{pressAt, rightOption, 0}, {1.415, 0, 0}}, 0},
        {"two presses", {{pressAt, rightOption, 0}, {1.615, 0, 0}, {2.005, rightOption, 0}, {2.615, 0, 0}}, 2},
        {"with Shift first", {{1.0, shift, 0}, {pressAt, rightOption | shift, 0}, {2.0, 0, 0}}, 0},
        {"Shift pressed during the hold", {{pressAt, rightOption, 0}, {1.215, rightOption | shift, 0}, {2.0, 0, 0}},
         0},
        {"letter typed within 0.45 s", {{pressAt, rightOption, 0}, {1.315, rightOption, 1}, {2.0, 0, 1}}, 0},
        {"letter typed after acceptance", {{pressAt, rightOption, 0}, {1.6, rightOption, 1}, {2.0, 0, 1}}, 1},
        {"with Caps Lock", {{1.0, capsLock, 0}, {pressAt, rightOption | capsLock, 0}, {2.0, capsLock, 0}}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AgentRun plain = runAgent(c.keyboard, false);
        const AgentRun resting = runAgent(c.keyboard, true);

        EXPECT_EQ(resting.phases, plain.phases);
        EXPECT_EQ(std::count(resting.phases.begin(), resting.phases.end(), "hold-accepted"), c.accepted);
        ASSERT_EQ(resting.openRequests.size(), plain.openRequests.size());
        // Timed from the sample taken at the key-down, accepted by the first
        // sample of the 20 ms poll at least 0.45 s later.
        if (c.accepted > 0) {
            EXPECT_GE(resting.openRequests[0].at, pressAt + 0.45);
            EXPECT_LT(resting.openRequests[0].at, pressAt + 0.45 + 0.02);
        }

        // The first poll after start finds the detector at rest; then nothing
        // until the keyboard moves. The last change is seen by one sample,
        // within one interval, and nothing follows it.
        EXPECT_EQ(samplesBetween(resting.sampleTimes, 0.0, c.keyboard.front().at), 1u);
        const double lastChange = c.keyboard.back().at;
        EXPECT_EQ(samplesBetween(resting.sampleTimes, lastChange - 1e-9, 6.0), 1u);
        EXPECT_LE(resting.sampleTimes.back(), lastChange + 0.02 + 1e-9);
        EXPECT_GT(samplesBetween(plain.sampleTimes, 0.0, 6.0), 290u);
        // While a press is timing, the poll runs at its full rate.
        EXPECT_GE(samplesBetween(resting.sampleTimes, pressAt - 1e-9, pressAt + 0.2), c.accepted > 0 ? 10u : 1u);
    }
}

TEST(Launcher, PollKeepsItsFullRateWhenThePlatformCannotReportKeyboardChanges) {
    const AgentRun plain = runAgent({}, false);
    EXPECT_EQ(plain.sampleTimes.size(), 300u);
    const AgentRun resting = runAgent({}, true);
    EXPECT_EQ(resting.sampleTimes.size(), 1u);
}

}  // namespace
}  // namespace velto::launcher
