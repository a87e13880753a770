#pragma once
// Everything the launcher core asks of the platform. The core decides; an
// implementation only translates (AppKit/CoreGraphics on macOS, Qt, X11 and
// GIO on Linux, a scripted substitute in the tests). No platform header is
// reachable from here.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velto::launcher {

class Timer {
public:
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
};

struct MenuEntry {
    // A separator when `separator` is true; otherwise a titled item with no
    // key equivalent whose action runs on the main thread.
    std::string title;
    std::function<void()> action;
    bool separator = false;
};

class StatusButton {
public:
    virtual ~StatusButton() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setToolTip(const std::string& toolTip) = 0;
};

class StatusItem {
public:
    virtual ~StatusItem() = default;
    // The item's button, or nullptr when it has none.
    virtual StatusButton* button() = 0;
    virtual void setMenu(std::vector<MenuEntry> entries) = 0;
};

// A key that went down or up, or a changed layout, as watchKeyboard() reports it.
struct KeyboardEvent {
    std::uint64_t modifierFlags = 0;  // the layout of modifierFlags()
    std::uint32_t keyDownCount = 0;
    double at = 0;  // seconds on the systemUptime() clock
};

struct OpenConfiguration {
    bool activates = true;
    bool createsNewApplicationInstance = true;
    std::vector<std::string> arguments;
};

struct OpenError {
    std::string localizedDescription;
};

// Exactly once, on any thread: nothing on success, the error otherwise.
using OpenCompletion = std::function<void(std::optional<OpenError>)>;

// How the keyboard labels the key held for the gesture (its right-hand copy):
// `symbol` as the status menu shows it beside the action, `word` as a
// sentence names it.
struct KeyName {
    std::string symbol;
    std::string word;
};

class LauncherPlatform {
public:
    virtual ~LauncherPlatform() = default;

    // Application and event loop.
    virtual void setActivationPolicyAccessory() = 0;
    // Runs the event loop on the calling (main) thread; returns when the
    // application stops.
    virtual int run() = 0;
    // Ends the process at once with status 0. Does not return on a real platform.
    virtual void terminate() = 0;

    // Keyboard, in the macOS event-flags layout: device-dependent right
    // Option 0x40, left Option 0x20, Shift 0x20000, Control 0x40000, Command
    // 0x100000, Fn 0x800000, Caps Lock 0x10000, device-independent Option
    // 0x80000.
    virtual std::uint64_t modifierFlags() = 0;
    // System-wide count of key-down events; only its changes matter.
    virtual std::uint32_t keyDownCount() = 0;
    // The name of the key the gesture holds, as the user's keyboard labels it.
    virtual KeyName holdKeyName() = 0;
    // Seconds on a monotonic clock.
    virtual double systemUptime() = 0;
    // Asks to hear, on the main thread, of every key going down or up and of
    // every change of the keyboard's layout, each as the keyboard stood right
    // after it, at the moment it happened (on the systemUptime() clock), in
    // the order they happened. Afterwards modifierFlags() and keyDownCount()
    // read the keyboard as of the last event heard. False when the platform
    // cannot promise that; the agent then samples at its full rate all the
    // time.
    virtual bool watchKeyboard(std::function<void(const KeyboardEvent&)> onKeyboardEvent) {
        (void)onKeyboardEvent;
        return false;
    }
    // Reports, before returning, every keyboard event that has reached the
    // agent but has not been heard yet. The poll calls it before it reads
    // the keyboard, so that no event is heard after a sample it preceded.
    virtual void reportArrivedKeyboardEvents() {}

    // A repeating timer on the main loop that also fires while a menu is open.
    virtual std::shared_ptr<Timer> scheduleRepeatingTimer(double interval, double tolerance,
                                                          std::function<void()> action) = 0;
    virtual void postToMain(std::function<void()> work) = 0;  // any thread; FIFO

    // A status-area item of variable length.
    virtual std::shared_ptr<StatusItem> makeStatusItem() = 0;

    // Workspace. A "location" is an application bundle on macOS and a desktop
    // entry on Linux.
    virtual std::optional<std::string> bundleIdentifierAt(const std::string& location) = 0;
    virtual std::optional<std::string> locationForApplication(const std::string& bundleIdentifier) = 0;
    virtual void openApplication(const std::string& location, const OpenConfiguration& configuration,
                                 OpenCompletion completion) = 0;

    // One line in the system log and on standard error.
    virtual void log(const std::string& line) = 0;

    // The directory of the state file; it is never created by the launcher.
    virtual std::optional<std::filesystem::path> stateDirectory() = 0;
};

// Defined once per platform layer. It may end the process instead, when the
// agent cannot or need not run (on Linux: no X display, or another agent
// already serving the display).
std::unique_ptr<LauncherPlatform> makeLauncherPlatform();

}  // namespace velto::launcher
