#pragma once
// The launcher agent: polls the keyboard 50 times a second and, where the
// platform reports every key event, judges each event as a sample of its own
// (the poll then rests while no poll could fire); opens the main
// application with "--start-listening" when right Option is held alone, and
// offers the same action and a quit item in its status menu. Everything runs
// on the main thread; the platform is reached only through LauncherPlatform.

#include "HoldDetectors.h"
#include "KeyboardSample.h"
#include "LauncherPlatform.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velto::launcher {

class Launcher : public std::enable_shared_from_this<Launcher> {
public:
    // Shared ownership only: the timer, the menu and the workspace completion
    // reach the launcher through it. `platform` must outlive the launcher.
    static std::shared_ptr<Launcher> create(LauncherPlatform& platform);

    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    void start();
    void sampleShortcut();
    void showMenu();
    void openFromMenu();
    void quitLauncher();
    void openVelto();
    void recordPhase(std::string_view phase);
    // Whether a poll could accept the gesture while the keyboard stays as it
    // is; when not, and the platform reports keyboard changes, the poll rests.
    bool canFireBeforeKeyboardChanges() const;

private:
    explicit Launcher(LauncherPlatform& platform);

    void startPolling();
    void hearKeyboardEvent(const KeyboardEvent& event);
    void feed(const KeyboardSample& sample);
    void restOrResumePolling();
    std::optional<std::string> findMainApplication();
    void finishOpening(const std::optional<OpenError>& error);

    SingleModifierHold hold;
    std::shared_ptr<Timer> pollTimer;
    bool launching = false;
    std::shared_ptr<StatusItem> statusItem;
    bool keyboardWatched = false;  // the platform reports every keyboard change
    std::optional<KeyboardSample> lastSample;  // the latest fed to `hold`, poll or event
    LauncherPlatform& platform;
};

}  // namespace velto::launcher
