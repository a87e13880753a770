#include "Launcher.h"

#include "KeyboardSample.h"
#include "MainAppContract.h"
#include "StateJournal.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace velto::launcher {

namespace {

constexpr double pollInterval = 0.02;
constexpr double pollTolerance = 0.005;

constexpr const char* statusTitle = "Velto";
constexpr const char* quitMenuTitle = "Disable shortcut until next login";

constexpr const char* startListeningArgument = "--start-listening";

// The texts that tell which key to hold name it as the keyboard labels it.
std::string statusToolTip(const KeyName& key) {
    return "Hold right " + key.word + " for half a second to open Velto and listen";
}
std::string openMenuTitle(const KeyName& key) { return "Open Velto & Start Listening   Hold right " + key.symbol; }

// A menu action that goes to the launcher while it exists.
std::function<void()> menuAction(const std::weak_ptr<Launcher>& target, void (Launcher::*action)()) {
    return [target, action] {
        if (auto launcher = target.lock()) ((*launcher).*action)();
    };
}

}  // namespace

std::shared_ptr<Launcher> Launcher::create(LauncherPlatform& platform) {
    return std::shared_ptr<Launcher>(new Launcher(platform));
}

Launcher::Launcher(LauncherPlatform& platform) : platform(platform) {}

void Launcher::start() {
    const std::weak_ptr<Launcher> weakSelf = weak_from_this();
    keyboardWatched = platform.watchKeyboard([weakSelf](const KeyboardEvent& event) {
        if (auto launcher = weakSelf.lock()) launcher->hearKeyboardEvent(event);
    });
    startPolling();
    const auto stateDirectory = platform.stateDirectory();
    removeStaleTemporaryFiles(stateDirectory);
    velto::launcher::recordPhase(stateDirectory, "ready");
}

void Launcher::startPolling() {
    std::weak_ptr<Launcher> weakSelf = weak_from_this();
    pollTimer = platform.scheduleRepeatingTimer(pollInterval, pollTolerance, [weakSelf] {
        if (auto launcher = weakSelf.lock()) launcher->sampleShortcut();
    });
}

void Launcher::sampleShortcut() {
    // Events that reached the agent before this poll happened before it: a
    // starved agent would otherwise take a key typed meanwhile for part of
    // the state its poll finds, and lose the key's order against the press.
    if (keyboardWatched) platform.reportArrivedKeyboardEvents();
    // One statement each: the order of the three readings is fixed.
    const std::uint64_t flags = platform.modifierFlags();
    const std::uint32_t keyCount = platform.keyDownCount();
    const double at = platform.systemUptime();
    feed(decodeKeyboardSample(flags, keyCount, at));
}

bool Launcher::canFireBeforeKeyboardChanges() const { return hold.canFireBeforeKeyboardChanges(); }

// The keyboard stood as last sampled until the event's own moment, so that
// state is sampled there first: a hold that lasted long enough before a key
// ended it is accepted even when no poll ran meanwhile. Times never go back:
// an event that arrives after a poll it preceded is placed at that poll.
void Launcher::hearKeyboardEvent(const KeyboardEvent& event) {
    double at = event.at;
    if (lastSample) {
        at = std::max(at, lastSample->at);
        if (at > lastSample->at) {
            KeyboardSample unchanged = *lastSample;
            unchanged.at = at;
            feed(unchanged);
        }
    }
    feed(decodeKeyboardSample(event.modifierFlags, event.keyDownCount, at));
}

void Launcher::feed(const KeyboardSample& sample) {
    lastSample = sample;
    const bool accepted = hold.update(sample.down, sample.otherModifiers, sample.keyCount, sample.at);
    restOrResumePolling();
    if (!accepted) return;
    // Recorded before openVelto looks at `launching`: a gesture during an
    // opening still leaves its trace.
    recordPhase("hold-accepted");
    openVelto();
}

// Polls run only while one could accept the gesture with the keyboard
// standing still; every other change arrives as an event.
void Launcher::restOrResumePolling() {
    if (!keyboardWatched) return;
    const bool pollCanMatter = canFireBeforeKeyboardChanges();
    if (pollCanMatter && !pollTimer) {
        startPolling();
    } else if (!pollCanMatter && pollTimer) {
        pollTimer->invalidate();
        pollTimer.reset();
    }
}

void Launcher::showMenu() {
    auto item = platform.makeStatusItem();
    if (!item) return;
    const KeyName holdKey = platform.holdKeyName();
    if (StatusButton* button = item->button()) {
        button->setTitle(statusTitle);
        button->setToolTip(statusToolTip(holdKey));
    }
    const std::weak_ptr<Launcher> weakSelf = weak_from_this();
    std::vector<MenuEntry> entries;
    entries.push_back({openMenuTitle(holdKey), menuAction(weakSelf, &Launcher::openFromMenu)});
    entries.push_back({{}, {}, true});
    entries.push_back({quitMenuTitle, menuAction(weakSelf, &Launcher::quitLauncher)});
    item->setMenu(std::move(entries));
    statusItem = std::move(item);
}

void Launcher::openFromMenu() { openVelto(); }

void Launcher::quitLauncher() { platform.terminate(); }

void Launcher::openVelto() {
    if (launching) return;
    launching = true;
    recordPhase("opening-velto");
    const OpenConfiguration configuration{true, true, {startListeningArgument}};
    const auto location = findMainApplication();
    if (!location) {
        launching = false;
        recordPhase("velto-app-not-found");
        return;
    }
    // The completion may run on any thread: it only hands the outcome to the
    // main queue, keeping the launcher alive until that task has run.
    platform.openApplication(*location, configuration,
                             [self = shared_from_this()](std::optional<OpenError> error) {
                                 self->platform.postToMain([self, error = std::move(error)] {
                                     self->finishOpening(error);
                                 });
                             });
}

void Launcher::recordPhase(std::string_view phase) {
    velto::launcher::recordPhase(platform.stateDirectory(), phase);
}

// A copy at the install location wins only if it is really the main
// application; otherwise the system's registry decides.
std::optional<std::string> Launcher::findMainApplication() {
    if (platform.bundleIdentifierAt(installLocation) == mainAppBundleID) return installLocation;
    return platform.locationForApplication(mainAppBundleID);
}

void Launcher::finishOpening(const std::optional<OpenError>& error) {
    launching = false;
    if (!error) {
        recordPhase("velto-opened");
        return;
    }
    recordPhase("launch-failed");
    platform.log("Velto launcher: " + error->localizedDescription);
}

}  // namespace velto::launcher
