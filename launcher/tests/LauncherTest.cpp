#include "Launcher.h"
#include "MainAppContract.h"
#include "SubstituteLauncherPlatform.h"
#include "VeltoLauncherMain.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace velto::launcher {
namespace {

using ::testing::ElementsAre;
using Phases = std::vector<std::string>;

constexpr std::uint64_t rightOption = 0x40 | 0x80000;
constexpr std::uint64_t shift = 0x20000, control = 0x40000, command = 0x100000, fn = 0x800000;
constexpr std::uint64_t leftOption = 0x20 | 0x80000, capsLock = 0x10000;

const std::string openTitle = "Open Velto & Start Listening   Hold right \u2325";
const std::string quitTitle = "Disable shortcut until next login";
const std::string registeredCopy = "/elsewhere/Velto";

// A started agent with its menu, the main application installed where expected.
struct Agent {
    Agent() {
        platform.bundleIdentifiers[installLocation] = mainAppBundleID;
        launcher->start();
        launcher->showMenu();
    }

    // Right Option held alone from `from` for `seconds`; `keyCount` stays put.
    void holdRightOption(double from, double seconds, std::uint32_t keyCount = 0) {
        platform.scriptKeyboard(from, rightOption, keyCount);
        platform.scriptKeyboard(from + seconds, 0, keyCount);
        platform.advanceTo(from + seconds + 0.1);
    }
    void gesture() { holdRightOption(platform.now + 0.1, 0.6); }
    void chooseOpen() { ASSERT_TRUE(platform.chooseMenuEntry(openTitle)); }
    long acceptedCount() const {
        const auto phases = platform.writtenPhases();
        return std::count(phases.begin(), phases.end(), "hold-accepted");
    }

    SubstituteLauncherPlatform platform;
    std::shared_ptr<Launcher> launcher = Launcher::create(platform);
};

TEST(VeltoLauncherMain, RecordsReadyBeforeTheStatusItemAndRunsTheLoopLast) {
    SubstituteLauncherPlatform platform;
    std::optional<std::string> phaseWhileRunning;
    platform.whileRunning = [&] { phaseWhileRunning = platform.phaseInFile(); };

    EXPECT_EQ(VeltoLauncherMain::main(platform), 0);

    EXPECT_THAT(platform.lifecycle, ElementsAre("accessory", "timer", "state", "status item", "run"));
    EXPECT_EQ(phaseWhileRunning, "ready");
    ASSERT_EQ(platform.timers.size(), 1u);
    EXPECT_EQ(platform.timers[0]->interval, 0.02);
    EXPECT_EQ(platform.timers[0]->tolerance, 0.005);
}

TEST(VeltoLauncherMain, KeepsTheAgentWorkingWhileTheLoopRuns) {
    SubstituteLauncherPlatform platform;
    platform.bundleIdentifiers[installLocation] = mainAppBundleID;
    platform.whileRunning = [&] {
        platform.scriptKeyboard(1.0, rightOption, 0);
        platform.advanceTo(2.0);
        platform.completeOpen();
    };
    VeltoLauncherMain::main(platform);
    EXPECT_THAT(platform.writtenPhases(), ElementsAre("ready", "hold-accepted", "opening-velto", "velto-opened"));
}

TEST(StatusMenu, ShowsTitleTooltipAndThreeEntries) {
    for (const bool hasButton : {true, false}) {
        SCOPED_TRACE(hasButton ? "with a button" : "without a button");
        SubstituteLauncherPlatform platform;
        platform.statusItemHasButton = hasButton;
        auto launcher = Launcher::create(platform);
        launcher->showMenu();

        ASSERT_EQ(platform.statusItems.size(), 1u);
        const auto& item = *platform.statusItems[0];
        if (hasButton) {
            EXPECT_EQ(item.title, "Velto");
            EXPECT_EQ(item.toolTip, "Hold right Option for half a second to open Velto and listen");
        }
        ASSERT_EQ(item.menu.size(), 3u);
        EXPECT_EQ(item.menu[0].title, openTitle);
        EXPECT_FALSE(item.menu[0].separator);
        EXPECT_TRUE(item.menu[1].separator);
        EXPECT_EQ(item.menu[2].title, quitTitle);
        EXPECT_FALSE(item.menu[2].separator);
    }
}

// The texts name the key as the platform's keyboard labels it; the state
// file, which other programs read, keeps one wording everywhere.
TEST(StatusMenu, NamesTheKeyAsThePlatformLabelsItAndKeepsTheRecordedShortcut) {
    struct Case {
        KeyName key;
        std::string toolTip;
        std::string openTitle;
    };
    const Case cases[] = {
        {{"\u2325", "Option"}, "Hold right Option for half a second to open Velto and listen",
         "Open Velto & Start Listening   Hold right \u2325"},
        {{"Alt", "Alt"}, "Hold right Alt for half a second to open Velto and listen",
         "Open Velto & Start Listening   Hold right Alt"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.key.word);
        SubstituteLauncherPlatform platform;
        platform.holdKey = testCase.key;
        platform.bundleIdentifiers[installLocation] = mainAppBundleID;
        auto launcher = Launcher::create(platform);
        launcher->start();
        launcher->showMenu();

        const auto& item = *platform.statusItems.at(0);
        EXPECT_EQ(item.toolTip, testCase.toolTip);
        EXPECT_EQ(item.menu.at(0).title, testCase.openTitle);
        ASSERT_TRUE(platform.chooseMenuEntry(testCase.openTitle));
        EXPECT_EQ(platform.openRequests.size(), 1u);
        std::ifstream stateFile(platform.temporaryDirectory / "launcher-state.json");
        const auto state = nlohmann::json::parse(stateFile, nullptr, false);
        ASSERT_TRUE(state.is_object());
        EXPECT_EQ(state.value("shortcut", ""), "hold right Option");
    }
}

struct PhaseCase {
    const char* name;
    std::function<void(Agent&)> act;
    Phases phases;
    std::size_t openRequests;
    std::vector<std::string> logLines;
};

TEST(Launcher, WritesThePhasesOfEachCourseInOrder) {
    const auto notInstalled = [](Agent& agent) { agent.platform.bundleIdentifiers.clear(); };
    const PhaseCase cases[] = {
        {"start", [](Agent&) {}, {"ready"}, 0, {}},
        {"gesture, opened",
         [](Agent& a) { a.gesture(); a.platform.completeOpen(); },
         {"ready", "hold-accepted", "opening-velto", "velto-opened"}, 1, {}},
        {"gesture, opened, answer on a workspace thread",
         [](Agent& a) { a.gesture(); a.platform.completeOpenOnAnotherThread(); },
         {"ready", "hold-accepted", "opening-velto", "velto-opened"}, 1, {}},
        {"menu, opened",
         [](Agent& a) { a.chooseOpen(); a.platform.completeOpen(); },
         {"ready", "opening-velto", "velto-opened"}, 1, {}},
        {"gesture, not installed, then installed",
         [&](Agent& a) {
             notInstalled(a);
             a.gesture();
             a.platform.registry[mainAppBundleID] = registeredCopy;
             a.gesture();
         },
         {"ready", "hold-accepted", "opening-velto", "velto-app-not-found", "hold-accepted", "opening-velto"}, 1,
         {}},
        {"gesture, opening fails, then tried again",
         [](Agent& a) {
             a.gesture();
             a.platform.completeOpenOnAnotherThread(OpenError{"The application is damaged."});
             a.gesture();
         },
         {"ready", "hold-accepted", "opening-velto", "launch-failed", "hold-accepted", "opening-velto"}, 2,
         {"Velto launcher: The application is damaged."}},
        {"gesture and menu while an opening is in progress",
         [](Agent& a) {
             a.gesture();
             a.gesture();
             a.chooseOpen();
             a.platform.completeOpen();
         },
         {"ready", "hold-accepted", "opening-velto", "hold-accepted", "velto-opened"}, 1, {}},
        {"menu twice while an opening is in progress",
         [](Agent& a) {
             a.chooseOpen();
             a.chooseOpen();
             a.platform.completeOpen();
         },
         {"ready", "opening-velto", "velto-opened"}, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Agent agent;
        c.act(agent);
        EXPECT_EQ(agent.platform.writtenPhases(), c.phases);
        EXPECT_EQ(agent.platform.phaseInFile(), c.phases.back());
        EXPECT_EQ(agent.platform.openRequests.size(), c.openRequests);
        EXPECT_EQ(agent.platform.logLines, c.logLines);
        EXPECT_EQ(agent.platform.callsOffMainThread, 0u);
    }
}

std::string upperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

TEST(Launcher, FindsTheMainApplicationByIdentifierPreferringTheInstallLocation) {
    struct Case {
        const char* name;
        std::optional<std::string> identifierAtInstallLocation;
        bool registered;
        std::optional<std::string> opened;
    };
    const Case cases[] = {
        {"right identifier at the install location, another copy registered", mainAppBundleID, true,
         installLocation},
        {"other identifier at the install location, a copy registered", "com.example.Other", true, registeredCopy},
        {"other identifier at the install location, none registered", "com.example.Other", false, std::nullopt},
        {"identifier differing only in case", upperCase(mainAppBundleID), false, std::nullopt},
        {"only registered elsewhere", std::nullopt, true, registeredCopy},
        {"nowhere", std::nullopt, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Agent agent;
        agent.platform.bundleIdentifiers.clear();
        if (c.identifierAtInstallLocation) {
            agent.platform.bundleIdentifiers[installLocation] = *c.identifierAtInstallLocation;
        }
        if (c.registered) agent.platform.registry[mainAppBundleID] = registeredCopy;
        agent.chooseOpen();
        if (c.opened) {
            ASSERT_EQ(agent.platform.openRequests.size(), 1u);
            EXPECT_EQ(agent.platform.openRequests[0].location, *c.opened);
        } else {
            EXPECT_TRUE(agent.platform.openRequests.empty());
            EXPECT_EQ(agent.platform.phaseInFile(), "velto-app-not-found");
        }
    }
}

TEST(Launcher, AsksForANewActiveInstanceWithStartListeningEveryTime) {
    Agent agent;
    agent.gesture();
    agent.platform.completeOpen();  // an instance now runs
    agent.chooseOpen();
    agent.platform.completeOpen(OpenError{"Failed."});
    agent.gesture();

    ASSERT_EQ(agent.platform.openRequests.size(), 3u);
    for (const auto& request : agent.platform.openRequests) {
        EXPECT_TRUE(request.configuration.activates);
        EXPECT_TRUE(request.configuration.createsNewApplicationInstance);
        EXPECT_THAT(request.configuration.arguments, ElementsAre("--start-listening"));
    }
}

TEST(Launcher, DecodesTheGestureFromFiftySamplesASecond) {
    struct Step {
        double at;
        std::uint64_t flags;
        std::uint32_t keyCount;
    };
    struct Case {
        const char* name;
        std::vector<Step> keyboard;
        long accepted;
    };
    const auto alongside = [](std::uint64_t other) {
        return std::vector<Step>{{1.005, rightOption | other, 0}, {2.0, 0, 0}};
    };
    const Case cases[] = {
        {"right Option alone, 0.6 s", {{1.005, rightOption, 0}, {1.605, 0, 0}}, 1},
        {"right Option alone, 3 s", {{1.005, rightOption, 0}, {4.005, 0, 0}}, 1},
        {"right Option alone, 0.4 s", {{1.005, rightOption, 0}, {1.405, 0, 0}}, 0},
        {"two presses", {{1.005, rightOption, 0}, {1.605, 0, 0}, {2.005, rightOption, 0}, {2.605, 0, 0}}, 2},
        {"with Shift", alongside(shift), 0},
        {"with Control", alongside(control), 0},
        {"with Command", alongside(command), 0},
        {"with Fn", alongside(fn), 0},
        {"with left Option", alongside(leftOption), 0},
        {"with Caps Lock", alongside(capsLock), 1},
        {"Shift pressed during the hold", {{1.005, rightOption, 0}, {1.205, rightOption | shift, 0}, {2.0, 0, 0}},
         0},
        {"letter typed within 0.45 s", {{1.005, rightOption, 0}, {1.305, rightOption, 1}, {2.0, 0, 1}}, 0},
        {"letter typed after acceptance", {{1.005, rightOption, 0}, {1.6, rightOption, 1}, {2.0, 0, 1}}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Agent agent;
        for (const auto& step : c.keyboard) agent.platform.scriptKeyboard(step.at, step.flags, step.keyCount);
        agent.platform.advanceTo(5.0);
        EXPECT_EQ(agent.acceptedCount(), c.accepted);
        EXPECT_EQ(agent.platform.openRequests.size(), c.accepted > 0 ? 1u : 0u);
        if (c.accepted > 0) {
            // Timed from the first sample that sees the key, accepted within one more sample.
            EXPECT_GE(agent.platform.openRequests[0].at, 1.02 + 0.45);
            EXPECT_LT(agent.platform.openRequests[0].at, 1.02 + 0.45 + 0.02);
        }
    }
}

TEST(Launcher, QuitEndsTheAgentAtOnceEvenWhileOpening) {
    Agent agent;
    agent.gesture();
    ASSERT_TRUE(agent.platform.chooseMenuEntry(quitTitle));
    EXPECT_TRUE(agent.platform.terminated);
    EXPECT_EQ(agent.platform.lifecycle.back(), "terminate");

    agent.platform.completeOpenOnAnotherThread();  // the answer arrives after the end
    EXPECT_EQ(agent.platform.phaseInFile(), "opening-velto");
}

TEST(Launcher, TimerAndMenuActionsDoNothingOnceTheLauncherIsGone) {
    Agent agent;
    const std::weak_ptr<Launcher> watch = agent.launcher;
    agent.launcher.reset();
    ASSERT_TRUE(watch.expired()) << "something the platform keeps holds the launcher";

    agent.holdRightOption(1.0, 1.0);
    agent.platform.chooseMenuEntry(openTitle);
    EXPECT_GT(agent.platform.timers[0]->firings, 50u);
    EXPECT_THAT(agent.platform.writtenPhases(), ElementsAre("ready"));
    EXPECT_TRUE(agent.platform.openRequests.empty());
}

TEST(Launcher, AnOpeningInProgressOutlivesItsLauncherToRecordTheOutcome) {
    Agent agent;
    agent.chooseOpen();
    agent.launcher.reset();
    agent.platform.completeOpenOnAnotherThread();
    EXPECT_EQ(agent.platform.phaseInFile(), "velto-opened");
}

TEST(Launcher, OpensWithoutAStateDirectory) {
    Agent agent;
    agent.platform.stateDirectoryOverride = agent.platform.temporaryDirectory / "missing";
    agent.gesture();
    EXPECT_EQ(agent.platform.openRequests.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(*agent.platform.stateDirectoryOverride));
}

}  // namespace
}  // namespace velto::launcher
