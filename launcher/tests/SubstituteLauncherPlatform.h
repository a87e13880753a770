#pragma once
// A deterministic stand-in for the launcher's platform: a scripted keyboard on
// a virtual clock, repeating timers that fire as virtual time passes, a
// recording status item, a scripted workspace whose completions are held back
// until the test releases them, and a temporary state directory.

#include "LauncherPlatform.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velto::launcher {

class RecordingStatusItem : public StatusItem, public StatusButton {
public:
    explicit RecordingStatusItem(bool hasButton) : hasButton(hasButton) {}

    StatusButton* button() override { return hasButton ? this : nullptr; }
    void setMenu(std::vector<MenuEntry> entries) override { menu = std::move(entries); }
    void setTitle(const std::string& text) override { title = text; }
    void setToolTip(const std::string& text) override { toolTip = text; }

    const bool hasButton;
    std::optional<std::string> title;
    std::optional<std::string> toolTip;
    std::vector<MenuEntry> menu;
};

// A repeating timer on the virtual clock; it fires every `interval` after the
// moment it was scheduled.
struct ScheduledTimer : Timer {
    ScheduledTimer(double start, double interval, double tolerance, std::function<void()> action)
        : start(start), interval(interval), tolerance(tolerance), action(std::move(action)) {}
    void invalidate() override { valid = false; }
    double nextDue() const { return start + static_cast<double>(firings + 1) * interval; }

    const double start;
    const double interval;
    const double tolerance;
    const std::function<void()> action;
    std::uint64_t firings = 0;
    bool valid = true;
};

struct OpenRequest {
    double at;  // virtual time of the request
    std::string location;
    OpenConfiguration configuration;
};

class SubstituteLauncherPlatform : public LauncherPlatform {
public:
    SubstituteLauncherPlatform();
    ~SubstituteLauncherPlatform() override;

    // Keyboard script: from virtual time `from` on, these flags and this
    // key-down count are reported, until the next scripted change. A watched
    // keyboard reports the change as an event that reaches the agent
    // `arrivesAfter` seconds later.
    void scriptKeyboard(double from, std::uint64_t flags, std::uint32_t keyCount, double arrivesAfter = 0);
    // The agent gets no processor time from `from` to `to`, as when it is
    // stopped or starved: a timer due meanwhile fires once at `to`, before
    // the keyboard events that arrived meanwhile are delivered.
    void stall(double from, double to) { stalls.push_back({from, to}); }

    // Moves the virtual clock to `time`, firing every timer that falls due on
    // the way at its due time and, when the launcher watches the keyboard,
    // delivering each scripted keyboard change when it arrives (before a
    // timer due at the same time), each followed by the main queue.
    void advanceTo(double time);
    void advanceBy(double seconds) { advanceTo(now + seconds); }
    // Runs the tasks posted to the main queue, also those they post.
    void runMainQueue();

    // Runs the action of the status menu entry titled `title`, as a click
    // would; false when there is no such entry.
    bool chooseMenuEntry(const std::string& title);

    // Releases the oldest completion held back, on this thread or on a
    // thread of its own; then runs the main queue as the event loop would.
    void completeOpen(std::optional<OpenError> error = std::nullopt);
    void completeOpenOnAnotherThread(std::optional<OpenError> error = std::nullopt);
    std::size_t pendingOpenCount() const { return pendingCompletions.size(); }

    // Every phase written to the state file, oldest first, and the one it holds now.
    std::vector<std::string> writtenPhases() const;
    std::optional<std::string> phaseInFile() const;

    // LauncherPlatform
    void setActivationPolicyAccessory() override;
    int run() override;
    void terminate() override;
    std::uint64_t modifierFlags() override;
    std::uint32_t keyDownCount() override;
    KeyName holdKeyName() override;
    double systemUptime() override;
    bool watchKeyboard(std::function<void(const KeyboardEvent&)> onKeyboardEvent) override;
    void reportArrivedKeyboardEvents() override;
    std::shared_ptr<Timer> scheduleRepeatingTimer(double interval, double tolerance,
                                                  std::function<void()> action) override;
    void postToMain(std::function<void()> work) override;
    std::shared_ptr<StatusItem> makeStatusItem() override;
    std::optional<std::string> bundleIdentifierAt(const std::string& location) override;
    std::optional<std::string> locationForApplication(const std::string& bundleIdentifier) override;
    void openApplication(const std::string& location, const OpenConfiguration& configuration,
                         OpenCompletion completion) override;
    void log(const std::string& line) override;
    std::optional<std::filesystem::path> stateDirectory() override;

    // Set up by the test.
    std::map<std::string, std::string> bundleIdentifiers;  // location -> identifier
    std::map<std::string, std::string> registry;           // identifier -> location
    bool statusItemHasButton = true;
    std::optional<std::filesystem::path> stateDirectoryOverride;
    std::function<void()> whileRunning;  // what happens inside run()
    bool reportsKeyboardChanges = false;  // as on macOS: the poll never rests
    KeyName holdKey{"\u2325", "Option"};  // as on macOS

    // Observed.
    double now = 0;
    bool terminated = false;
    std::vector<std::string> lifecycle;  // accessory, timer, state, status item, run, terminate
    std::vector<std::shared_ptr<RecordingStatusItem>> statusItems;
    std::vector<OpenRequest> openRequests;
    std::vector<std::string> logLines;
    std::vector<double> sampleTimes;  // virtual time of every modifier-flags read
    std::vector<double> eventTimes;   // virtual time at which each keyboard event was delivered
    std::size_t callsOffMainThread = 0;  // everything but postToMain belongs on the main thread
    std::vector<std::shared_ptr<ScheduledTimer>> timers;  // kept, like a run loop keeps its timers
    const std::filesystem::path temporaryDirectory;

private:
    struct KeyboardState {
        std::uint64_t flags = 0;
        std::uint32_t keyCount = 0;
        double arrivesAfter = 0;
    };
    struct Stall {
        double from;
        double to;
    };

    void onMainThread();
    KeyboardState keyboardAt(double time) const;
    ScheduledTimer* nextTimerDueBy(double time);
    // The next scripted change not yet delivered, when it reaches the agent.
    std::optional<double> nextKeyboardArrivalBy(double time) const;
    // When the agent can act on something due at `time`: at the end of a stall.
    double whenRunnable(double time) const;
    bool deliverArrivedKeyboardEvents();
    std::filesystem::path stateFile() const;

    const std::thread::id mainThread = std::this_thread::get_id();
    std::map<double, KeyboardState> keyboardScript;
    std::vector<Stall> stalls;
    std::function<void(const KeyboardEvent&)> keyboardWatcher;
    std::optional<double> keyboardReportedThrough;  // time of the last change delivered
    std::deque<OpenCompletion> pendingCompletions;
    std::vector<std::string> replacedPhases;

    std::mutex mainQueueLock;
    std::deque<std::function<void()>> mainQueue;  // guarded by mainQueueLock
};

// The "phase" of a state record, or nothing when the record is not one.
std::optional<std::string> phaseOfRecord(const std::string& record);

}  // namespace velto::launcher
