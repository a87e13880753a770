#include "CaptureRules.h"
#include "MainAppContract.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velto::shareview {
namespace {

constexpr std::int32_t parentPID = 500;
constexpr std::int32_t ownPID = 4000;

RunningApplication app(std::int32_t pid, const std::string& bundleIdentifier) {
    return RunningApplication{pid, bundleIdentifier, nullptr};
}

std::vector<std::int32_t> pids(const std::vector<RunningApplication>& applications) {
    std::vector<std::int32_t> result;
    for (const auto& application : applications) {
        result.push_back(application.processID);
    }
    return result;
}

TEST(CaptureRulesExclusion, LeavesOutEveryProcessOfTheMainApplicationOrOfAShareView) {
    struct Case {
        std::string name;
        std::vector<RunningApplication> applications;
        std::vector<std::int32_t> excluded;
        bool privateWindowsIdentified;
    };
    const std::string shareView = mainAppBundleID + ".shareview";
    const std::vector<Case> cases = {
        {"parent and self", {app(1, "org.example.A"), app(parentPID, mainAppBundleID), app(ownPID, "")}, {parentPID, ownPID}, true},
        {"parent by identifier only, under another bundle identifier",
         {app(parentPID, "org.example.Wrapper"), app(ownPID, shareView)}, {parentPID, ownPID}, true},
        {"another share view is counted too",
         {app(parentPID, mainAppBundleID), app(ownPID, shareView), app(600, shareView)}, {parentPID, ownPID, 600}, true},
        {"second main application instance", {app(601, mainAppBundleID), app(parentPID, ""), app(ownPID, "")}, {601, parentPID, ownPID}, true},
        {"main application only by bundle identifier", {app(601, mainAppBundleID), app(ownPID, shareView)}, {601, ownPID}, false},
        {"own process missing", {app(parentPID, mainAppBundleID), app(602, shareView)}, {parentPID, 602}, false},
        {"nothing of ours", {app(1, "org.example.A"), app(2, "")}, {}, false},
        {"identifiers compare whole and exact",
         {app(parentPID, ""), app(ownPID, ""), app(3, mainAppBundleID + ".helper"), app(4, " " + mainAppBundleID),
          app(5, shareView + "x")},
         {parentPID, ownPID}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto excluded = excludedApplications(c.applications, parentPID, ownPID);
        EXPECT_EQ(pids(excluded), c.excluded);
        EXPECT_EQ(identifiesPrivateWindows(excluded, parentPID, ownPID), c.privateWindowsIdentified);
    }
}

TEST(CaptureRulesExclusion, TheOneRuleJudgesAnyProcessByIdentifierOrBundle) {
    // The same function serves the list at the start and every application
    // the platform meets while the stream runs.
    const ExclusionRule rule{parentPID, ownPID};
    struct Case {
        std::int32_t processID;
        std::string bundleIdentifier;
        bool excluded;
    };
    const std::vector<Case> cases = {
        {parentPID, "", true},
        {ownPID, "org.example.A", true},
        {9001, mainAppBundleID, true},
        {9002, mainAppBundleID + ".shareview", true},
        {9003, mainAppBundleID + ".launcher", false},
        {9004, "", false},
        {0, "", false},
        {parentPID + 1, mainAppBundleID.substr(1), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(excludes(rule, c.processID, c.bundleIdentifier), c.excluded)
            << c.processID << " \"" << c.bundleIdentifier << "\"";
    }
}

TEST(CaptureRulesSize, CapsTheWidthAt2560KeepingTheRatioAndNeverScalesUp) {
    struct Case {
        std::int64_t width, height, expectedWidth, expectedHeight;
    };
    const std::vector<Case> cases = {
        {1512, 982, 1512, 982},   {5120, 2880, 2560, 1440}, {3456, 2234, 2560, 1654},
        {3000, 2000, 2560, 1706}, {2560, 1600, 2560, 1600}, {4183, 1000, 2559, 612},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const CaptureSize size = captureSize(c.width, c.height);
        EXPECT_EQ(size.width, c.expectedWidth);
        EXPECT_EQ(size.height, c.expectedHeight);
    }
}

TEST(CaptureRulesDisplay, ChoosesTheFirstDisplayWithTheIdentifier) {
    const std::vector<Display> displays = {{3, 100, 100, nullptr}, {7, 200, 100, nullptr}, {7, 300, 100, nullptr}};
    ASSERT_TRUE(chosenDisplay(displays, 7));
    EXPECT_EQ(chosenDisplay(displays, 7)->width, 200);
    EXPECT_FALSE(chosenDisplay(displays, 8));
    EXPECT_FALSE(chosenDisplay({}, 0));
}

TEST(CaptureRulesFrameStatus, OnlyCompleteFramesAreShownAndBlankSuspendedStoppedEndTheShare) {
    const std::vector<std::pair<std::int64_t, FrameAction>> cases = {
        {0, FrameAction::handOff},       {1, FrameAction::skip},          {2, FrameAction::sourceFailure},
        {3, FrameAction::sourceFailure}, {4, FrameAction::skip},          {5, FrameAction::sourceFailure},
        {6, FrameAction::skip},          {-1, FrameAction::skip},         {1LL << 40, FrameAction::skip},
    };
    for (const auto& [status, action] : cases) {
        EXPECT_EQ(frameAction(status), action) << "status " << status;
    }
}

}  // namespace
}  // namespace velto::shareview
