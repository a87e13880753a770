// The controller's own behaviour: the window it builds, the parent watch,
// the orderly shutdown and the failure path.

#include "MainAppContract.h"
#include "ShareViewFixture.h"
#include "ShareViewMain.h"

#include <gmock/gmock.h>

namespace velto::shareview::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Strings = std::vector<std::string>;

class ShareViewAppTest : public ShareViewFixture {};

TEST_F(ShareViewAppTest, LaunchBuildsAShareableWindowWithTheWaitingLabel) {
    launch();

    ASSERT_EQ(platform.windows.size(), 1u);
    const WindowConfiguration& configuration = platform.window().configuration;
    EXPECT_EQ(configuration.title, "Velto Share View — share this window");
    EXPECT_EQ(configuration.styleMask, 15u);
    EXPECT_EQ(configuration.contentRect.width, 960);
    EXPECT_EQ(configuration.contentRect.height, 600);
    EXPECT_EQ(configuration.minSize.width, 480);
    EXPECT_EQ(configuration.minSize.height, 300);
    EXPECT_EQ(configuration.sharingType, WindowSharingType::readOnly);
    EXPECT_FALSE(configuration.releasedWhenClosed);
    EXPECT_TRUE(platform.window().centered);
    EXPECT_TRUE(platform.window().shown);
    EXPECT_TRUE(platform.accessory);
    EXPECT_THAT(platform.activations, ElementsAre(false));

    ASSERT_EQ(platform.videoViews.size(), 1u);
    EXPECT_EQ(platform.window().contentView, platform.videoViews[0]);
    EXPECT_EQ(platform.videoViews[0]->frame.width, 960);
    EXPECT_EQ(platform.videoViews[0]->frame.height, 600);
    EXPECT_EQ(platform.window().label, platform.labels.at(0));
    EXPECT_EQ(platform.label().text, "Preparing your presentation…");
    EXPECT_FALSE(platform.label().hidden);
    EXPECT_EQ(platform.window().labelStyle->fontSize, 20);
    EXPECT_EQ(platform.window().labelStyle->maxWidthFraction, 0.85);

    ASSERT_EQ(platform.queues.size(), 1u);
    EXPECT_EQ(platform.framesQueue().label(), mainAppBundleID + ".share.frames");
    EXPECT_EQ(platform.observers.size(), 1u);
}

TEST_F(ShareViewAppTest, CaptureBeginsOnlyAfterLaunchHasReturned) {
    app = ShareViewApp::make(platform, Scenario::parentPID, Scenario::displayID);
    app->applicationDidFinishLaunching();
    EXPECT_EQ(platform.contentRequests, 0);
    EXPECT_TRUE(statusLines.lines().empty());

    platform.runUntilIdle();
    EXPECT_EQ(platform.contentRequests, 1);
    EXPECT_EQ(platform.contentFlags, std::make_pair(false, false));
}

TEST_F(ShareViewAppTest, ParentIsFirstProbedOneSecondAfterLaunchThenEverySecond) {
    launch();
    platform.advance(0.999);
    EXPECT_TRUE(platform.killProbes.empty());
    platform.advance(0.001);
    EXPECT_THAT(platform.killProbes, ElementsAre(Scenario::parentPID));
    platform.advance(3.0);
    EXPECT_EQ(platform.killProbes.size(), 4u);
    EXPECT_FALSE(platform.terminated);
}

TEST_F(ShareViewAppTest, ParentGoneEndsTheRunAtTheNextTick) {
    launch();
    platform.advance(2.5);
    platform.livingProcesses.clear();
    platform.advance(0.499);
    EXPECT_FALSE(platform.terminated);
    platform.advance(0.001);

    EXPECT_TRUE(platform.terminated);
    EXPECT_EQ(platform.terminations, 1);
    EXPECT_EQ(states().back(), "stopped");
    EXPECT_EQ(lastMessage(), "Share View closed.");
    EXPECT_TRUE(platform.validTimers().empty());
}

// The watch asks after the process it was given, nothing else: a living
// process that is not the main application keeps the window up, even though
// capture cannot start without the main application's windows identified.
TEST_F(ShareViewAppTest, LivingNonParentProcessKeepsTheShareViewRunning) {
    constexpr std::int32_t unrelatedPID = 900;  // not among the capturable applications
    platform.livingProcesses = {unrelatedPID};
    launch(unrelatedPID);
    platform.advance(60);

    EXPECT_FALSE(platform.terminated);
    EXPECT_THAT(states(), ElementsAre("error"));

    platform.livingProcesses.clear();
    platform.advance(1);
    EXPECT_THAT(states(), ElementsAre("error", "stopped"));
}

TEST_F(ShareViewAppTest, ClosingTheWindowStopsOnceAndTerminates) {
    launchAndGoLive();
    platform.closeWindow();

    EXPECT_EQ(timelineSoFar().back(), "observer removed");
    const Strings timeline = timelineSoFar();
    const Strings ending(timeline.end() - 5, timeline.end());
    EXPECT_THAT(ending, ElementsAre("clear", "report stopped", "terminate", "clear", "observer removed"));
    EXPECT_THAT(states(), ElementsAre("starting", "live", "stopped"));
    EXPECT_EQ(platform.terminations, 1);
    EXPECT_TRUE(platform.observers.empty());
    EXPECT_TRUE(platform.validTimers().empty());
    // The stream ends with the process; the shutdown does not stop it.
    EXPECT_EQ(platform.stream().stopRequests, 0);
}

// "stopped" comes last, once, whatever happened before and whichever way the run ends.
TEST_F(ShareViewAppTest, StoppedIsTheLastLineAfterAnyPriorOutcome) {
    struct Case {
        std::string name;
        std::function<void(ShareViewHarness&)> before;
        std::function<void(ShareViewHarness&)> end;
        Strings expected;
    };
    const auto closeWindow = [](ShareViewHarness& test) { test.platform.closeWindow(); };
    const auto parentDies = [](ShareViewHarness& test) {
        test.platform.livingProcesses.clear();
        test.platform.advance(1.0);
    };
    const auto noPermission = [](ShareViewHarness& test) { test.platform.screenCapturePermitted = false; };
    const auto displayChangesWhileLive = [](ShareViewHarness& test) {
        test.deliver(FakeSampleBuffer::withStatus(0));
        test.platform.changeScreenParameters();
    };
    const auto watchdogFires = [](ShareViewHarness& test) { test.platform.advance(12.0); };
    const std::vector<Case> cases = {
        {"failure then close", displayChangesWhileLive, closeWindow, {"starting", "live", "error", "stopped"}},
        {"failure then parent gone", displayChangesWhileLive, parentDies, {"starting", "live", "error", "stopped"}},
        {"watchdog then close", watchdogFires, closeWindow, {"starting", "error", "stopped"}},
        {"permission missing then close", noPermission, closeWindow, {"permission_required", "stopped"}},
        {"permission missing then parent gone", noPermission, parentDies, {"permission_required", "stopped"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShareViewHarness test;
        const bool beforeLaunch = c.name.starts_with("permission");
        if (beforeLaunch) {
            c.before(test);
        }
        test.launch();
        if (!beforeLaunch) {
            c.before(test);
        }
        c.end(test);
        // Nothing more comes from a terminated process.
        test.platform.closeWindow();
        test.platform.changeScreenParameters();
        test.platform.advance(30);

        EXPECT_EQ(test.states(), c.expected);
        EXPECT_EQ(test.lastMessage(), "Share View closed.");
        EXPECT_EQ(test.platform.terminations, 1);
    }
}

TEST_F(ShareViewAppTest, FailureBlanksThePictureShowsTheStoppedTextAndRequestsAStopBeforeTheLine) {
    launchAndGoLive();
    ASSERT_TRUE(platform.label().hidden);
    const std::size_t before = timelineSoFar().size();

    platform.stream().stopWithError("The stream was interrupted by the service.");
    platform.runUntilIdle();

    const Strings timeline = timelineSoFar();
    EXPECT_THAT(Strings(timeline.begin() + static_cast<std::ptrdiff_t>(before), timeline.end()),
                ElementsAre("clear", "label shown", "label text", "stop", "report error"));
    EXPECT_EQ(lastMessage(), "Screen capture stopped. Close Share View and restart it.");
    EXPECT_FALSE(platform.layer().showsPicture);
    EXPECT_FALSE(platform.label().hidden);
    EXPECT_EQ(platform.label().text, stoppedText);
    EXPECT_EQ(platform.stream().stopRequests, 1);
    EXPECT_FALSE(platform.terminated);
    // The parent watch goes on.
    EXPECT_EQ(platform.validTimers().size(), 1u);
}

TEST_F(ShareViewAppTest, OnlyTheFirstFailureActs) {
    launchAndGoLive();
    platform.changeScreenParameters();
    const std::size_t eventsAfterFirst = timelineSoFar().size();

    platform.stream().stopWithError("later");
    platform.runUntilIdle();
    platform.changeScreenParameters();
    deliver(FakeSampleBuffer::withStatus(2));

    EXPECT_THAT(states(), ElementsAre("starting", "live", "error"));
    EXPECT_EQ(lastMessage(), displayChangedMessage);
    EXPECT_EQ(timelineSoFar().size(), eventsAfterFirst);
    EXPECT_EQ(platform.stream().stopRequests, 1);
}

// Every closure and timer block holds the controller weakly: once the entry
// lets go of it, whatever was still queued does nothing.
TEST_F(ShareViewAppTest, WorkQueuedForAControllerThatIsGoneDoesNothing) {
    platform.holdStart = true;
    launch();
    ScriptedStream& stream = platform.stream();
    stream.emit(FakeSampleBuffer::withStatus(0));
    stream.emit(FakeSampleBuffer::withStatus(2));
    platform.framesQueue().drain();
    stream.stopWithError("gone");
    const std::weak_ptr<ShareViewApp> weak = app;
    app.reset();
    ASSERT_TRUE(weak.expired());

    platform.releaseStart();
    platform.runUntilIdle();
    platform.advance(30);

    EXPECT_THAT(states(), ElementsAre("starting"));
    EXPECT_TRUE(platform.layer().enqueued.empty());
    EXPECT_EQ(platform.killProbes.size(), 0u);
    EXPECT_FALSE(platform.terminated);
}

TEST(ShareViewRunTest, WithoutAWindowSystemTheRunEndsWithItsReasonAndStatusOne) {
    SubstitutePlatform platform;
    platform.runFailure = "no display to connect to";
    ::testing::internal::CaptureStderr();
    const int status = runShareView(platform, Scenario::parentPID, Scenario::displayID);
    const std::string error = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(status, 1);
    EXPECT_THAT(error, HasSubstr("no display to connect to"));
    EXPECT_TRUE(platform.windows.empty());
}

TEST(ShareViewRunTest, ALoopThatComesBackEndsWithStatusZero) {
    StatusLineCapture statusLines;
    SubstitutePlatform platform;
    platform.screenCapturePermitted = false;

    EXPECT_EQ(runShareView(platform, Scenario::parentPID, Scenario::displayID), 0);
    EXPECT_EQ(platform.windows.size(), 1u);
    // Whatever the loop still held for the controller is harmless once it is gone.
    platform.advance(5);
    EXPECT_EQ(statusLines.lines().size(), 1u);
}

}  // namespace
}  // namespace velto::shareview::testing
