#pragma once
// One share view run on the substitute platform, with its status lines and a
// timeline that interleaves them with what the controller did to the window,
// the layer and the stream.

#include "ShareView.h"
#include "StatusLine.h"
#include "SubstitutePlatform.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

namespace velto::shareview::testing {

inline const std::string stoppedText = "Presentation stopped.\nReturn to Velto to restart it.";
inline const std::string liveMessage =
    "Choose “Velto Share View — share this window” in your meeting's Window picker. Verify the recipient view.";
inline const std::string sourceFailureMessage =
    "The source is no longer providing a usable picture. Close Share View and restart it.";
inline const std::string rendererStoppedMessage = "The presentation renderer stopped. Close Share View and restart it.";
inline const std::string displayChangedMessage =
    "Display configuration changed. Close Share View and choose your display again.";
inline const std::string noFramesMessage = "No screen frames arrived. Close Share View and check recording permission.";

class ShareViewHarness {
public:
    ShareViewHarness() {
        platform.livingProcesses = {Scenario::parentPID};
        platform.shareableContent.content = Scenario::content(platform.ownProcessID);
        platform.journal.listener = [this](const std::string& event) {
            syncTimeline();
            timeline.push_back(event);
        };
    }

    void launch(std::int32_t parentPID = Scenario::parentPID) {
        app = ShareViewApp::make(platform, parentPID, Scenario::displayID);
        ASSERT_EQ(platform.run(app), std::nullopt);
    }

    // Through the frames queue, then the main thread.
    void deliver(const SampleBufferRef& buffer, StreamOutputType type = StreamOutputType::screen) {
        platform.stream().emit(buffer, type);
        platform.framesQueue().drain();
        platform.runUntilIdle();
    }

    void launchAndGoLive() {
        launch();
        deliver(FakeSampleBuffer::withStatus(0));
        ASSERT_EQ(states(), (std::vector<std::string>{"starting", "live"}));
    }

    std::vector<nlohmann::json> reports() const {
        std::vector<nlohmann::json> parsed;
        for (const auto& line : statusLines.lines()) {
            parsed.push_back(nlohmann::json::parse(line));
        }
        return parsed;
    }

    std::vector<std::string> states() const {
        std::vector<std::string> result;
        for (const auto& report : reports()) {
            result.push_back(report.at("state"));
        }
        return result;
    }

    std::string lastMessage() const {
        const auto all = reports();
        return all.empty() ? std::string("<no line>") : all.back().at("message").get<std::string>();
    }

    // Events and status lines ("report <state>") in the order they happened.
    std::vector<std::string> timelineSoFar() {
        syncTimeline();
        return timeline;
    }

    StatusLineCapture statusLines;
    SubstitutePlatform platform;
    std::shared_ptr<ShareViewApp> app;

private:
    void syncTimeline() {
        const auto all = reports();
        for (; linesInTimeline < all.size(); ++linesInTimeline) {
            timeline.push_back("report " + all[linesInTimeline].at("state").get<std::string>());
        }
    }

    std::vector<std::string> timeline;
    std::size_t linesInTimeline = 0;
};

class ShareViewFixture : public ::testing::Test, public ShareViewHarness {};

}  // namespace velto::shareview::testing
