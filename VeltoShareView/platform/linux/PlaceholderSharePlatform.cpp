// Stands in until the Linux layer exists: it answers the entry's questions
// ("--check") truthfully and refuses to run the share window.

#include "SharePlatform.h"

#include <fstream>
#include <sys/utsname.h>
#include <unistd.h>

namespace velto::shareview {

namespace {

std::string prettyName() {
    std::ifstream osRelease("/etc/os-release");
    std::string line;
    const std::string key = "PRETTY_NAME=";
    while (std::getline(osRelease, line)) {
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        if (!value.empty()) return value;
    }
    return "Linux";
}

class PlaceholderSharePlatform final : public SharePlatform {
public:
    bool preflightScreenCaptureAccess() override { return false; }

    std::string operatingSystemVersionString() override {
        utsname system{};
        if (uname(&system) != 0) return prettyName();
        return prettyName() + " (kernel " + system.release + ")";
    }

    std::optional<std::string> run(std::shared_ptr<ApplicationDelegate>) override {
        return "screen sharing is not supported by this build on Linux";
    }
    void terminate() override {}
    void setActivationPolicyAccessory() override {}
    void activate(bool) override {}
    void postToMain(std::function<void()>) override {}
    std::shared_ptr<Timer> scheduleTimer(double, bool, std::function<void()>) override { return nullptr; }
    std::shared_ptr<SerialQueue> makeSerialQueue(const std::string&) override { return nullptr; }
    std::shared_ptr<Window> makeWindow(const WindowConfiguration&, std::weak_ptr<WindowDelegate>) override {
        return nullptr;
    }
    std::shared_ptr<VideoView> makeVideoView(const Rect&) override { return nullptr; }
    std::shared_ptr<Label> makeWrappingLabel(const std::string&) override { return nullptr; }
    void addScreenParametersObserver(std::weak_ptr<ScreenParametersObserver>) override {}
    void removeScreenParametersObserver(const ScreenParametersObserver*) override {}
    int killProbe(std::int32_t) override { return -1; }
    std::int32_t currentProcessID() override { return ::getpid(); }
    void requestScreenCaptureAccess() override {}
    void getShareableContent(bool, bool, std::function<void(ShareableContentResult)> completion) override {
        completion({std::nullopt, CaptureError{"screen sharing is not supported by this build on Linux"}});
    }
    std::shared_ptr<CaptureStream> makeStream(const ContentFilter&, const StreamConfiguration&,
                                              std::weak_ptr<StreamDelegate>) override {
        return nullptr;
    }
};

}  // namespace

std::unique_ptr<SharePlatform> makeSharePlatform() { return std::make_unique<PlaceholderSharePlatform>(); }

}  // namespace velto::shareview
