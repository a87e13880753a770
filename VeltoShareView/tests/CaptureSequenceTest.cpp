// The capture start through whole runs: what the parent reads, in which
// order, and what the window shows, for every way the start can go.

#include "MainAppContract.h"
#include "ShareViewFixture.h"

#include <gmock/gmock.h>

namespace velto::shareview::testing {
namespace {

using ::testing::ElementsAre;
using Strings = std::vector<std::string>;

const std::string privateWindowsMessage =
    "Velto's private windows could not be identified. No screen content was captured. Close Share View and retry.";
const std::string displayUnavailableMessage =
    "The selected display is unavailable. Close this window and choose a display again.";

class CaptureSequenceTest : public ShareViewFixture {};

// Each run: script, launch, optionally one frame, thirteen seconds, then the
// window is closed; "stopped" must close every run.
TEST(CaptureSequenceRuns, StatusLinesOfWholeRuns) {
    struct Case {
        std::string name;
        std::function<void(SubstitutePlatform&)> script;
        bool frameArrives;
        Strings states;
        std::string errorMessage;  // of the "error" line, when there is one
    };
    const auto withContent = [](auto edit) {
        return [edit](SubstitutePlatform& platform) { edit(*platform.shareableContent.content); };
    };
    const std::vector<Case> cases = {
        {"normal start", [](SubstitutePlatform&) {}, true, {"starting", "live", "stopped"}, ""},
        {"no permission", [](SubstitutePlatform& p) { p.screenCapturePermitted = false; }, true,
         {"permission_required", "stopped"}, ""},
        {"display missing", withContent([](ShareableContent& c) { c.displays = {Scenario::display(3)}; }), true,
         {"error", "stopped"}, displayUnavailableMessage},
        {"no displays at all", withContent([](ShareableContent& c) { c.displays.clear(); }), true,
         {"error", "stopped"}, displayUnavailableMessage},
        {"parent known only by its bundle identifier",
         withContent([](ShareableContent& c) { c.applications.at(1).processID = 501; }), true, {"error", "stopped"},
         privateWindowsMessage},
        {"own process missing", withContent([](ShareableContent& c) { c.applications.pop_back(); }), true,
         {"error", "stopped"}, privateWindowsMessage},
        {"content error",
         [](SubstitutePlatform& p) {
             p.shareableContent = {std::nullopt, CaptureError{"The user declined TCCs for application."}};
         },
         true, {"error", "stopped"}, "Screen capture could not start: The user declined TCCs for application."},
        {"output error", [](SubstitutePlatform& p) { p.addOutputError = CaptureError{"Output rejected."}; }, true,
         {"error", "stopped"}, "Screen capture could not start: Output rejected."},
        {"start error", [](SubstitutePlatform& p) { p.startError = CaptureError{"Stream failed to start."}; }, true,
         {"starting", "error", "stopped"}, "Screen capture could not start: Stream failed to start."},
        {"no frame within twelve seconds", [](SubstitutePlatform&) {}, false, {"starting", "error", "stopped"},
         noFramesMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShareViewHarness run;
        c.script(run.platform);
        run.launch();
        if (c.frameArrives && !run.platform.streams.empty() && run.platform.stream().output.lock()) {
            run.deliver(FakeSampleBuffer::withStatus(0));
        }
        run.platform.advance(13);
        EXPECT_FALSE(run.platform.terminated);
        run.platform.closeWindow();

        EXPECT_EQ(run.states(), c.states);
        for (const auto& report : run.reports()) {
            if (report.at("state") == "error") {
                EXPECT_EQ(report.at("message"), c.errorMessage);
                EXPECT_EQ(report.size(), 2u);
            }
        }
    }
}

TEST_F(CaptureSequenceTest, StartingNamesTheDisplayAndCountsEveryExcludedApplication) {
    // A second share view of the same main application is left out as well.
    platform.shareableContent.content->applications.push_back(Scenario::application(650, shareViewBundleID));
    launch();

    const auto lines = reports();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], nlohmann::json::parse(R"({"state":"starting","message":"Waiting for the first filtered frame.",)"
                                              R"("displayID":7,"excludedApplicationCount":3})"));
}

TEST_F(CaptureSequenceTest, DisplayIdentifiersBeyondSignedRangeAreReportedUnsigned) {
    platform.shareableContent.content->displays = {Scenario::display(4294967295u)};
    app = ShareViewApp::make(platform, Scenario::parentPID, 4294967295u);
    ASSERT_EQ(platform.run(app), std::nullopt);
    ASSERT_EQ(states(), Strings{"starting"});
    EXPECT_EQ(reports()[0].at("displayID").get<std::uint64_t>(), 4294967295u);
}

TEST_F(CaptureSequenceTest, StreamIsFilteredConfiguredAndDeliversOnTheFramesQueue) {
    platform.shareableContent.content->displays = {Scenario::display(Scenario::displayID, 3456, 2234)};
    launch();

    ASSERT_EQ(platform.streams.size(), 1u);
    const ScriptedStream& stream = platform.stream();
    EXPECT_EQ(stream.filter.display.displayID, Scenario::displayID);
    std::vector<std::int32_t> excluded;
    for (const auto& application : stream.filter.excludedApplications) {
        excluded.push_back(application.processID);
    }
    EXPECT_THAT(excluded, ElementsAre(Scenario::parentPID, platform.ownProcessID));

    const StreamConfiguration& configuration = stream.configuration;
    EXPECT_EQ(configuration.width, 2560);
    EXPECT_EQ(configuration.height, 1654);
    EXPECT_EQ(configuration.minimumFrameIntervalValue, 1);
    EXPECT_EQ(configuration.minimumFrameIntervalTimescale, 30);
    EXPECT_EQ(configuration.queueDepth, 3);
    EXPECT_EQ(configuration.pixelFormat, pixelFormatBGRA);
    EXPECT_TRUE(configuration.showsCursor);
    EXPECT_FALSE(configuration.capturesAudio);

    EXPECT_EQ(stream.delegate.lock(), app);
    EXPECT_EQ(stream.output.lock(), app);
    EXPECT_EQ(stream.outputType, StreamOutputType::screen);
    EXPECT_EQ(stream.outputQueue.get(), platform.queues.at(0).get());
    EXPECT_EQ(stream.startRequests, 1);
}

TEST_F(CaptureSequenceTest, WithoutPermissionItAsksOnceExplainsAndKeepsRunning) {
    platform.screenCapturePermitted = false;
    launch();
    platform.advance(60);

    EXPECT_EQ(states(), Strings{"permission_required"});
    EXPECT_EQ(lastMessage(),
              "Allow Velto Share View in System Settings → Privacy & Security → Screen & System Audio Recording, "
              "then reopen Share View.");
    EXPECT_EQ(platform.label().text,
              "Screen recording permission is needed.\nReturn to Velto after allowing Velto Share View in System "
              "Settings.");
    EXPECT_FALSE(platform.label().hidden);
    EXPECT_EQ(platform.permissionRequests, 1);
    EXPECT_EQ(platform.contentRequests, 0);
    EXPECT_TRUE(platform.streams.empty());
    EXPECT_FALSE(platform.terminated);
}

TEST_F(CaptureSequenceTest, DisplayChangeWhileAskingForPermissionReplacesThePermissionText) {
    platform.screenCapturePermitted = false;
    launch();
    platform.changeScreenParameters();

    EXPECT_EQ(states(), (Strings{"permission_required", "error"}));
    EXPECT_EQ(lastMessage(), displayChangedMessage);
    EXPECT_EQ(platform.label().text, stoppedText);
}

TEST_F(CaptureSequenceTest, WatchdogCountsFromTheCompletedStartNotFromLaunch) {
    platform.holdStart = true;
    launch();
    platform.advance(20);
    EXPECT_EQ(states(), Strings{"starting"});

    platform.releaseStart();
    platform.advance(11.999);
    EXPECT_EQ(states(), Strings{"starting"});
    platform.advance(0.001);
    EXPECT_EQ(states(), (Strings{"starting", "error"}));
    EXPECT_EQ(lastMessage(), noFramesMessage);
    EXPECT_EQ(platform.stream().stopRequests, 1);
}

TEST_F(CaptureSequenceTest, FirstFrameDuringTheStartWaitLeavesNoWatchdog) {
    platform.holdStart = true;
    launch();
    deliver(FakeSampleBuffer::withStatus(0));
    EXPECT_EQ(states(), (Strings{"starting", "live"}));

    platform.releaseStart();
    platform.runUntilIdle();
    EXPECT_EQ(platform.validTimers().size(), 1u);  // the parent watch only
    platform.advance(30);
    EXPECT_EQ(states(), (Strings{"starting", "live"}));
}

TEST_F(CaptureSequenceTest, FirstFrameCancelsTheArmedWatchdog) {
    launch();
    ASSERT_EQ(platform.validTimers().size(), 2u);
    platform.advance(11);
    deliver(FakeSampleBuffer::withStatus(0));
    EXPECT_EQ(platform.validTimers().size(), 1u);
    platform.advance(30);
    EXPECT_EQ(states(), (Strings{"starting", "live"}));
}

TEST_F(CaptureSequenceTest, DisplayChangeWhileFetchingContentEndsTheSequenceWithoutAStream) {
    platform.holdContent = true;
    launch();
    platform.changeScreenParameters();
    platform.releaseContent();
    platform.runUntilIdle();
    platform.advance(30);

    EXPECT_EQ(states(), Strings{"error"});
    EXPECT_EQ(lastMessage(), displayChangedMessage);
    EXPECT_EQ(platform.label().text, stoppedText);
    EXPECT_TRUE(platform.streams.empty());
}

TEST_F(CaptureSequenceTest, FailureDuringTheStartWaitStopsTheStreamAgainAndArmsNoWatchdog) {
    platform.holdStart = true;
    launch();
    platform.changeScreenParameters();
    EXPECT_EQ(platform.stream().stopRequests, 1);

    platform.releaseStart();
    platform.runUntilIdle();
    EXPECT_EQ(platform.stream().stopRequests, 2);
    EXPECT_EQ(platform.validTimers().size(), 1u);  // the parent watch only
    EXPECT_EQ(states(), (Strings{"starting", "error"}));
}

TEST_F(CaptureSequenceTest, WindowClosedDuringTheStartWaitEndsTheRunAfterStarting) {
    platform.holdStart = true;
    launch();
    platform.closeWindow();
    ASSERT_TRUE(platform.terminated);
    platform.releaseStart();
    platform.advance(30);
    EXPECT_EQ(states(), (Strings{"starting", "stopped"}));
}

}  // namespace
}  // namespace velto::shareview::testing
