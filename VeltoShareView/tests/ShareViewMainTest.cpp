#include "ShareViewMain.h"

#include "StatusLine.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace velto::shareview {
namespace {

using nlohmann::json;

// Answers only what the entry asks; anything else reaching it is a fault.
class EntryPlatform final : public SharePlatform {
public:
    bool permission = false;
    std::string osVersion;

    bool preflightScreenCaptureAccess() override { return permission; }
    std::string operatingSystemVersionString() override { return osVersion; }

    std::optional<std::string> run(std::shared_ptr<ApplicationDelegate>) override { return unexpected(); }
    void terminate() override { unexpected(); }
    void setActivationPolicyAccessory() override { unexpected(); }
    void activate(bool) override { unexpected(); }
    void postToMain(std::function<void()>) override { unexpected(); }
    std::shared_ptr<Timer> scheduleTimer(double, bool, std::function<void()>) override { return unexpected(), nullptr; }
    std::shared_ptr<SerialQueue> makeSerialQueue(const std::string&) override { return unexpected(), nullptr; }
    std::shared_ptr<Window> makeWindow(const WindowConfiguration&, std::weak_ptr<WindowDelegate>) override {
        return unexpected(), nullptr;
    }
    std::shared_ptr<VideoView> makeVideoView(const Rect&) override { return unexpected(), nullptr; }
    std::shared_ptr<Label> makeWrappingLabel(const std::string&) override { return unexpected(), nullptr; }
    void addScreenParametersObserver(std::weak_ptr<ScreenParametersObserver>) override { unexpected(); }
    void removeScreenParametersObserver(const ScreenParametersObserver*) override { unexpected(); }
    int killProbe(std::int32_t) override { return unexpected(), 0; }
    std::int32_t currentProcessID() override { return unexpected(), 0; }
    void requestScreenCaptureAccess() override { unexpected(); }
    void getShareableContent(bool, bool, std::function<void(ShareableContentResult)>) override { unexpected(); }
    std::shared_ptr<CaptureStream> makeStream(const ContentFilter&, const StreamConfiguration&,
                                              std::weak_ptr<StreamDelegate>) override {
        return unexpected(), nullptr;
    }

private:
    std::string unexpected() {
        ADD_FAILURE() << "the entry must not reach the platform beyond the diagnostic questions";
        return "unexpected";
    }
};

TEST(ShareViewEntry, CheckReportsThePlatformsAnswersAndNothingElse) {
    for (const bool permission : {false, true}) {
        EntryPlatform platform;
        platform.permission = permission;
        platform.osVersion = "Version 15.1 (Build 24B83)";
        StatusLineCapture capture;
        EXPECT_EQ(shareViewMain({"/bin/app", "--parent-pid", "0", "--check"}, platform), 0);
        ASSERT_EQ(capture.lines().size(), 1u);
        EXPECT_EQ(json::parse(capture.lines()[0]), (json{{"state", "diagnostic"},
                                                         {"message", ""},
                                                         {"screenPermission", permission},
                                                         {"osVersion", "Version 15.1 (Build 24B83)"}}));
    }
}

TEST(ShareViewEntry, BadCommandLineIsOneFixedErrorLineAndStatusTwo) {
    const std::vector<std::vector<std::string>> badLines = {
        {"/bin/app"},
        {"/bin/app", "--parent-pid", "1", "--display-id", "3"},
        {"/bin/app", "--parent-pid", "5", "--display-id", "-1"},
    };
    for (const auto& arguments : badLines) {
        EntryPlatform platform;
        StatusLineCapture capture;
        EXPECT_EQ(shareViewMain(arguments, platform), 2);
        ASSERT_EQ(capture.lines().size(), 1u);
        EXPECT_EQ(json::parse(capture.lines()[0]), (json{{"state", "error"}, {"message", "Open Share View from Velto."}}));
    }
}

}  // namespace
}  // namespace velto::shareview
