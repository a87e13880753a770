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
    double arrivesAfter = 0;
};

struct Stall {
    double from;
    double to;
};

struct AgentRun {
    std::vector<std::string> phases;
    std::vector<OpenRequest> openRequests;
    std::vector<double> sampleTimes;
    std::vector<double> eventTimes;
};

AgentRun runAgent(const std::vector<Change>& keyboard, bool resting, const std::vector<Stall>& stalls = {}) {
    SubstituteLauncherPlatform platform;
    platform.reportsKeyboardChanges = resting;
    platform.bundleIdentifiers[installLocation] = mainAppBundleID;
    for (const auto& stall : stalls) platform.stall(stall.from, stall.to);
    const auto launcher = Launcher::create(platform);
    launcher->start();
    for (const auto& change : keyboard) {
        platform.scriptKeyboard(change.at, change.flags, change.keyCount, change.arrivesAfter);
    }
    platform.advanceTo(6.0);
    while (platform.pendingOpenCount() > 0) platform.completeOpen();
    return {platform.writtenPhases(), platform.openRequests, platform.sampleTimes, platform.eventTimes};
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
        bool timedForAWhile = true;  // right Option alone for at least 0.2 s
    };
    // Later changes fall between the 20 ms samples of the press.
    constexpr double pressAt = 1.005;  // right Option goes down
    const Case cases[] = {
        {"right Option alone, 0.6 s", {{pressAt, rightOption, 0}, {1.615, 0, 0}}, 1},
        {"right Option alone, 3 s", {{pressAt, rightOption, 0}, {4.015, 0, 0}}, 1},
        {"right Option alone, 0.4 s", {{pressAt, rightOption, 0}, {1.415, 0, 0}}, 0},
        {"two presses", {{pressAt, rightOption, 0}, {1.615, 0, 0}, {2.005, rightOption, 0}, {2.615, 0, 0}}, 2},
        {"with Shift first", {{1.0, shift, 0}, {pressAt, rightOption | shift, 0}, {2.0, 0, 0}}, 0, false},
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
        // until the keyboard moves. Each change is heard once, as an event at
        // its moment, and needs no poll of its own: after the last one the
        // detector is at rest and nothing samples.
        EXPECT_EQ(samplesBetween(resting.sampleTimes, 0.0, c.keyboard.front().at), 1u);
        std::vector<double> changeTimes;
        for (const auto& change : c.keyboard) changeTimes.push_back(change.at);
        EXPECT_EQ(resting.eventTimes, changeTimes);
        EXPECT_EQ(samplesBetween(resting.sampleTimes, c.keyboard.back().at - 1e-9, 6.0), 0u);
        EXPECT_GT(samplesBetween(plain.sampleTimes, 0.0, 6.0), 290u);
        // While a press is timing, the poll runs at its full rate.
        EXPECT_GE(samplesBetween(resting.sampleTimes, pressAt - 1e-9, pressAt + 0.2), c.timedForAWhile ? 9u : 0u);
    }
}

// A stopped or starved agent hears the keys typed meanwhile all at once when
// it runs again, perhaps after a poll: each is judged at its own moment, in
// its own order, so a letter typed into the hold spoils it and a clean hold
// opens once.
TEST(Launcher, JudgesKeysHeardLateAtTheirOwnMoments) {
    struct Case {
        const char* name;
        std::vector<Change> keyboard;
        std::vector<Stall> stalls;
        long accepted;
        double openedAt = 0;
    };
    const std::vector<Stall> stopped{{1.2, 2.2}};
    const Case cases[] = {
        {"letter typed while stopped",
         {{1.005, rightOption, 0}, {1.3, rightOption, 1}, {2.5, 0, 1}}, stopped, 0},
        {"press and letter both while stopped", {{1.3, rightOption, 0}, {1.5, rightOption, 1}, {2.5, 0, 1}}, stopped, 0},
        {"Shift pressed and released while stopped",
         {{1.005, rightOption, 0}, {1.3, rightOption | shift, 0}, {1.4, rightOption, 0}, {2.5, 0, 0}}, stopped, 0},
        {"clean hold across the stop", {{1.005, rightOption, 0}, {2.5, 0, 0}}, stopped, 1, 2.2},
        {"press while stopped, held past it", {{1.3, rightOption, 0}, {2.8, 0, 0}}, stopped, 1, 2.22},
        {"hold begun and ended while stopped", {{1.3, rightOption, 0}, {1.9, 0, 0}}, stopped, 1, 2.2},
        {"short hold while stopped", {{1.3, rightOption, 0}, {1.6, 0, 0}}, stopped, 0},
        {"letter after acceptance while stopped", {{1.3, rightOption, 0}, {1.9, rightOption, 1}, {2.5, 0, 1}}, stopped,
         1, 2.2},
        {"letter heard just before the poll that would accept",
         {{1.005, rightOption, 0}, {1.445, rightOption, 1, 0.015}, {2.0, 0, 1}}, {}, 0},
        {"release heard after a poll it preceded", {{1.005, rightOption, 0}, {1.3, 0, 0, 0.015}}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AgentRun run = runAgent(c.keyboard, true, c.stalls);
        EXPECT_EQ(std::count(run.phases.begin(), run.phases.end(), "hold-accepted"), c.accepted);
        ASSERT_EQ(run.openRequests.size(), static_cast<std::size_t>(c.accepted));
        if (c.accepted > 0) {
            EXPECT_NEAR(run.openRequests[0].at, c.openedAt, 1e-9);
        }
        EXPECT_EQ(run.eventTimes.size(), c.keyboard.size());
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
