// The launcher on a Linux X11 desktop: Qt runs the application, its timer and
// the tray item; Xlib reads the keyboard; GLib opens desktop entries.

#include "DesktopEntryWorkspace.h"
#include "LauncherPlatform.h"
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
#include <ctime>

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

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
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

class LinuxLauncherPlatform final : public LauncherPlatform {
public:
    LinuxLauncherPlatform()
        : application(applicationArgc, applicationArgv),
          keyboardEvents(keyboard.connectionNumber(), QSocketNotifier::Read) {
        QObject::connect(&keyboardEvents, &QSocketNotifier::activated, &mainContext, [this] { keyboard.readEvents(); });
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

    std::uint64_t modifierFlags() override { return keyboard.modifierFlags(); }
    std::uint32_t keyDownCount() override { return keyboard.keyDownCount(); }

    double systemUptime() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    }

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

    std::shared_ptr<StatusItem> makeStatusItem() override { return std::make_shared<TrayStatusItem>(); }

    std::optional<std::string> bundleIdentifierAt(const std::string& location) override {
        return desktopEntryIdentifier(location);
    }

    std::optional<std::string> locationForApplication(const std::string& bundleIdentifier) override {
        return findDesktopEntry(bundleIdentifier);
    }

    // A new process is started every time, which also covers the request for
    // a new instance; bringing its window to the front is the window
    // manager's part.
    void openApplication(const std::string& location, const OpenConfiguration& configuration,
                         OpenCompletion completion) override {
        auto error = launchDesktopEntry(location, configuration.arguments);
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
    X11Keyboard keyboard;
    // Key events are read as they arrive, so that a poll makes no system call.
    QSocketNotifier keyboardEvents;
};

}  // namespace

std::unique_ptr<LauncherPlatform> makeLauncherPlatform() { return std::make_unique<LinuxLauncherPlatform>(); }

}  // namespace velto::launcher
