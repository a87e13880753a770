// The launcher on a Linux X11 desktop: Qt runs the application, its timer and
// the tray item; Xlib reads the keyboard and tells of its changes; GLib opens
// desktop entries.

#include "AgentLock.h"
#include "DesktopEntryWorkspace.h"
#include "LauncherPlatform.h"
#include "MainAppContract.h"
#include "MonotonicClock.h"
#include "TrayStatusItem.h"
#include "X11Keyboard.h"
#include "XdgStateDirectory.h"

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace velto::launcher {

namespace {

// The main loop, not this handle, keeps the timer: like a run-loop timer it
// fires until invalidated.
class QtTimer final : public Timer {
public:
    explicit QtTimer(QTimer* timer) : timer(timer) {}
    void invalidate() override {
        if (!timer) return;
        timer->stop();
        timer->deleteLater();
    }

private:
    QPointer<QTimer> timer;
};

// A relative $HOME names no place at all; the password database does.
std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home == '/') return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir) {
        return found->pw_dir;
    }
    return {};
}

// Qt keeps references to these for the life of the application.
int applicationArgc = 1;
char applicationName[] = "VeltoLauncher";
char* applicationArgv[] = {applicationName, nullptr};

// A startup-notification identifier in the usual form, so that the window
// manager lets the new window take the focus: the user asked for it at
// `userTime` (X server time).
std::string startupIdentifier(unsigned long userTime) {
    static unsigned sequence = 0;
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return launcherBundleID + "-" + std::to_string(getpid()) + "-" + host + "-" + std::to_string(++sequence) +
           "_TIME" + std::to_string(userTime);
}

bool isWaylandSession() {
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    return std::getenv("WAYLAND_DISPLAY") || (sessionType && std::string(sessionType) == "wayland");
}

class LinuxLauncherPlatform final : public LauncherPlatform {
public:
    explicit LinuxLauncherPlatform(std::unique_ptr<X11Keyboard> openedKeyboard)
        : application(applicationArgc, applicationArgv),
          keyboard(std::move(openedKeyboard)),
          keyboardEvents(keyboard->connectionNumber(), QSocketNotifier::Read) {
        QObject::connect(&keyboardEvents, &QSocketNotifier::activated, &mainContext,
                         [this] { keyboard->readEvents(); });
    }

    void setActivationPolicyAccessory() override {
        // An agent without windows: closing a menu must not end it.
        QApplication::setQuitOnLastWindowClosed(false);
    }

    int run() override { return QApplication::exec(); }

    void terminate() override {
        std::fflush(nullptr);
        std::_Exit(0);
    }

    std::uint64_t modifierFlags() override { return keyboard->modifierFlags(); }
    std::uint32_t keyDownCount() override { return keyboard->keyDownCount(); }

    // The key in right Alt's place, as PC keyboards and the autostart entry name it.
    KeyName holdKeyName() override { return {"Alt", "Alt"}; }

    double systemUptime() override { return monotonicSeconds(); }

    // Raw key events arrive on the keyboard's own connection; without them
    // nothing would wake a resting poll.
    bool watchKeyboard(std::function<void(const KeyboardEvent&)> onKeyboardEvent) override {
        if (!keyboard->reportsKeyEvents()) return false;
        keyboard->setOnEvent(std::move(onKeyboardEvent));
        return true;
    }

    void reportArrivedKeyboardEvents() override { keyboard->readEvents(); }

    std::shared_ptr<Timer> scheduleRepeatingTimer(double interval, double tolerance,
                                                   std::function<void()> action) override {
        auto* timer = new QTimer(&mainContext);
        // A coarse Qt timer may slip by 5 % of its interval.
        timer->setTimerType(tolerance >= interval * 0.05 ? Qt::CoarseTimer : Qt::PreciseTimer);
        timer->setInterval(std::chrono::milliseconds(std::llround(interval * 1000)));
        QObject::connect(timer, &QTimer::timeout, timer, [action = std::move(action)] { action(); });
        timer->start();
        return std::make_shared<QtTimer>(timer);
    }

    void postToMain(std::function<void()> work) override {
        QMetaObject::invokeMethod(&mainContext, [work = std::move(work)] { work(); }, Qt::QueuedConnection);
    }

    // A menu choice is a user action too: its time goes with an opening it starts.
    std::shared_ptr<StatusItem> makeStatusItem() override {
        return std::make_shared<TrayStatusItem>(launcherBundleID, [this] { keyboard->noteUserActionNow(); });
    }

    std::optional<std::string> bundleIdentifierAt(const std::string& location) override {
        return desktopEntryIdentifier(location);
    }

    std::optional<std::string> locationForApplication(const std::string& bundleIdentifier) override {
        return findDesktopEntry(bundleIdentifier);
    }

    // A new process is started every time, which also covers the request for
    // a new instance. Bringing its window to the front is the window
    // manager's part; the startup identifier carries the time of the user's
    // action (the key event that completed the gesture, or the menu choice),
    // which lets the window past the manager's focus-stealing prevention.
    void openApplication(const std::string& location, const OpenConfiguration& configuration,
                         OpenCompletion completion) override {
        std::map<std::string, std::string> environment;
        if (configuration.activates) {
            const std::string identifier = startupIdentifier(keyboard->lastUserTime());
            keyboard->broadcastStartupMessage("new: ID=" + identifier + " NAME=Velto SCREEN=" +
                                              std::to_string(keyboard->screenNumber()));
            environment["DESKTOP_STARTUP_ID"] = identifier;
            // A Wayland compositor knows the sequence just announced through
            // Xwayland as an activation token for the program's own windows.
            if (isWaylandSession()) environment["XDG_ACTIVATION_TOKEN"] = identifier;
        }
        auto error = launchDesktopEntry(location, configuration.arguments, environment);
        postToMain([completion = std::move(completion), error = std::move(error)] {
            completion(error ? std::optional<OpenError>(OpenError{*error}) : std::nullopt);
        });
    }

    void log(const std::string& line) override {
        const std::string text = line + "\n";
        std::fwrite(text.data(), 1, text.size(), stderr);  // unbuffered: one write
        syslog(LOG_USER | LOG_ERR, "%s", line.c_str());
    }

    std::optional<std::filesystem::path> stateDirectory() override {
        const char* stateHome = std::getenv("XDG_STATE_HOME");
        return xdgStateDirectory(stateHome ? stateHome : "", homeDirectory());
    }

private:
    QApplication application;
    QObject mainContext;  // owns the timers; receives work posted to the main thread
    std::unique_ptr<X11Keyboard> keyboard;
    // Key events are read as they arrive, so that a poll makes no system call.
    QSocketNotifier keyboardEvents;
};

}  // namespace

// Ends the process before any window-system work when the agent cannot or
// need not run: without an X display (status 1), or when another agent of
// this user already serves the display (status 0).
std::unique_ptr<LauncherPlatform> makeLauncherPlatform() {
    auto keyboard = std::make_unique<X11Keyboard>();
    if (!keyboard->isOpen()) {
        std::fputs("VeltoLauncher: cannot open the X display; start the launcher in an X11 (or Xwayland) session "
                   "with DISPLAY set.\n",
                   stderr);
        std::exit(1);
    }
    if (lockAgent(launcherBundleID, keyboard->displayName()) == AgentLockResult::heldElsewhere) {
        std::fprintf(stderr, "VeltoLauncher: another launcher already runs on display %s; this one ends.\n",
                     keyboard->displayName().c_str());
        std::exit(0);
    }
    if (isWaylandSession()) {
        std::fputs("VeltoLauncher: this is a Wayland session; the keyboard is visible through Xwayland only while "
                   "an X11 window has the focus, so the shortcut works only then.\n",
                   stderr);
    }
    if (!keyboard->reportsKeyEvents()) {
        std::fputs("VeltoLauncher: the X server offers no XInput 2 raw key events; the keyboard state is read at "
                   "every poll instead.\n",
                   stderr);
    }
    return std::make_unique<LinuxLauncherPlatform>(std::move(keyboard));
}

}  // namespace velto::launcher
