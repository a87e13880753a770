#include <QImage>

#include "Scenarios.h"

#include "Expect.h"
#include "Screenshot.h"
#include "StatusLines.h"
#include "WindowManager.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <thread>

namespace standin {
namespace {

using Clock = std::chrono::steady_clock;

const std::string mainAppBundleID = VELTO_MAIN_APP_BUNDLE_ID;
const std::string shareViewClass = mainAppBundleID + ".shareview";

const std::string displayUnavailable =
    "The selected display is unavailable. Close this window and choose a display again.";
const std::string privateWindowsUnknown =
    "Velto's private windows could not be identified. No screen content was captured. Close Share View and retry.";
const std::string captureStopped = "Screen capture stopped. Close Share View and restart it.";
const std::string displayChanged =
    "Display configuration changed. Close Share View and choose your display again.";

// After its parent is gone the share view ends at its next parent check
// (every second), well inside this.
constexpr double parentGoneLimit = 2.5;
constexpr int killHostRounds = 5;

// ---------------------------------------------------------------- processes
std::string exitDescription(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
    return "unknown end";
}

// Also for the share view once its host is gone: it is then this
// subreaper's child.
std::optional<int> waitExit(pid_t pid, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// One share view with its host.
struct Run {
    Host host;
    StatusReader reader;
    std::optional<Window> window;
    explicit Run(const Host& started) : host(started), reader(started.relay()) {}
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    ~Run() { ::close(host.relay()); }
};

std::optional<Window> waitShareWindow(::Display* display, pid_t pid) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (auto window = findWindowOf(display, pid, shareViewClass))
            if (waitViewable(display, *window, 2)) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

bool launch(Stage& stage, std::optional<Run>& run) {
    const auto host = Host::start(stage.plan, ConnectionNumber(stage.display));
    expect(host.has_value(), "the host started VeltoShareView");
    if (!host) return false;
    run.emplace(*host);
    std::cout << "[standin] host " << host->pid() << " started VeltoShareView " << host->shareView()
              << " for display " << stage.plan.displayID << std::endl;
    run->window = waitShareWindow(stage.display, host->shareView());
    expect(run->window.has_value(), "the share window is open with WM_CLASS class " + shareViewClass);
    return run->window.has_value();
}

bool waitLive(const Stage& stage, Run& run, double hold) {
    const auto starting = run.reader.waitFor("starting", 15);
    expect(starting && starting->integerValue("displayID") == (long long)stage.plan.displayID,
           "\"starting\" names display " + std::to_string(stage.plan.displayID));
    expect(starting && starting->integerValue("excludedApplicationCount").value_or(0) >= 2,
           "\"starting\" excludes at least 2 applications");
    const bool live = run.reader.waitFor("live", 15).has_value();
    expect(live, "\"live\" follows");
    std::this_thread::sleep_for(std::chrono::duration<double>(hold));
    return live;
}

// The host reports the share view's exit status as its own; the host has
// read every line by then.
void expectOrderlyEnd(Run& run, double seconds, const std::string& after) {
    const auto start = Clock::now();
    const auto exit = waitExit(run.host.pid(), seconds);
    char description[160];
    std::snprintf(description, sizeof description, "%s, the share view ended with %s after %.2f s", after.c_str(),
                  exit ? exitDescription(*exit).c_str() : "no end", secondsSince(start));
    expect(exit && WIFEXITED(*exit) && WEXITSTATUS(*exit) == 0, description);
    run.reader.drain(1);
    const auto& lines = run.reader.lines();
    expect(!lines.empty() && lines.back().state() == "stopped", "\"stopped\" is the last line");
    long stoppedCount = 0;
    for (const auto& line : lines) stoppedCount += line.state() == "stopped";
    expect(stoppedCount == 1, "exactly one \"stopped\" line");
}

void closeShareWindow(Stage& stage, Run& run) {
    if (run.window) {
        askToClose(stage.display, *run.window);
        std::cout << "[standin] asked the share window to close" << std::endl;
    }
    expectOrderlyEnd(run, 5, "window closed");
}

// The host is gone, and nobody reads the status pipe any more: the share
// view is this subreaper's child now and must still end with status 0.
void expectEndWithoutParent(Run& run, Clock::time_point hostGone) {
    const auto exit = waitExit(run.host.shareView(), 5);
    const double after = secondsSince(hostGone);
    char description[160];
    std::snprintf(description, sizeof description, "the share view ended with %s %.2f s after its parent (limit %.1f s)",
                  exit ? exitDescription(*exit).c_str() : "no end", after, parentGoneLimit);
    expect(exit && WIFEXITED(*exit) && WEXITSTATUS(*exit) == 0 && after <= parentGoneLimit, description);
}

Clock::time_point killHost(Run& run) {
    const auto killed = Clock::now();
    kill(run.host.pid(), SIGKILL);
    waitpid(run.host.pid(), nullptr, 0);
    return killed;
}

// ---------------------------------------------------------------- screen
bool addMode(const Monitor& monitor) {
    const std::string output = monitor.outputName.empty() ? "screen" : monitor.outputName;
    const std::string command =
        "xrandr --newmode standin-1600x900 118.25 1600 1696 1856 2112 900 903 908 934 -hsync +vsync 2>/dev/null; "
        "xrandr --addmode " + output + " standin-1600x900 2>/dev/null; "
        "xrandr | grep -q standin-1600x900";
    return std::system(command.c_str()) == 0;
}

bool switchMode(const Monitor& monitor) {
    const std::string output = monitor.outputName.empty() ? "screen" : monitor.outputName;
    return addMode(monitor) &&
           std::system(("xrandr --output " + output + " --mode standin-1600x900").c_str()) == 0;
}

// What a laptop's backlight control does: an output property, new or changed.
void changeOutputProperty(::Display* display, const Monitor& monitor, long level) {
    const Atom property = XInternAtom(display, "STANDIN_BACKLIGHT", False);
    XRRChangeOutputProperty(display, RROutput(monitor.displayID), property, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&level), 1);
    XSync(display, False);
}

// ---------------------------------------------------------------- scenarios
void closeScenario(Stage& stage) {
    std::optional<Run> run;
    if (!launch(stage, run)) return;
    waitLive(stage, *run, stage.options.hold);
    ::Display* display = stage.display;
    const Window shareWindow = *run->window;
    if (stage.options.verify) {
        checkShareWindowShape(display, shareWindow, stage.scene.monitor);
        checkPointerFollows(display, shareWindow, stage.scene);
        // A private window that opens while the presentation is live.
        run->host.openLateWindow();
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        expect(viewableWindowsOf(display, run->host.pid(), mainAppBundleID).size() == 2,
               "a second private window opened while live");
    }
    if (!stage.options.screenPicture.empty()) {
        // Move the share window off the other two so that one picture of the
        // whole screen shows all three.
        const auto& area = stage.scene.monitor.area;
        XMoveWindow(display, shareWindow, area.x + area.width - 960 - 16, area.y + area.height - 600 - 16);
        XSync(display, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        const bool saved = grabWindow(display, DefaultRootWindow(display))
                               .save(QString::fromStdString(stage.options.screenPicture), "PNG");
        std::cout << "[standin] " << (saved ? "saved " : "could not save ") << stage.options.screenPicture
                  << std::endl;
    }
    const QImage picture = shareWindowPicture(display, shareWindow, stage.options.screenshot);
    if (stage.options.verify) {
        // The host's window, where it ended up (a window manager may frame it).
        const auto privateWindow = findWindowOf(display, run->host.pid(), mainAppBundleID);
        const auto privateOnScreen = privateWindow ? rootArea(display, *privateWindow) : std::nullopt;
        expect(privateOnScreen.has_value(), "the private window is on screen");
        if (privateOnScreen) checkExclusion(display, stage.scene, picture, *privateOnScreen);
        checkFittedPicture(display, shareWindow, stage.scene);
    }
    closeShareWindow(stage, *run);
}

// The presenter moves to another workspace: the share window comes along
// and mirrors the display as it is there, without the first workspace's
// windows, and goes on following what happens on it.
void workspaceScenario(Stage& stage) {
    std::optional<Run> run;
    if (!launch(stage, run)) return;
    waitLive(stage, *run, stage.options.hold);
    ::Display* display = stage.display;
    const Window shareWindow = *run->window;
    const auto ordinary = rootArea(display, stage.scene.ordinary);
    expect(ordinary.has_value(), "the ordinary window is on screen");
    if (!ordinary) return;
    expect(cardinalProperty(display, shareWindow, "_NET_WM_DESKTOP") == 0xFFFFFFFFul,
           "the share window is on every workspace (_NET_WM_DESKTOP)");
    // The middle of the ordinary window's second bar, above the private window.
    const int x = ordinary->x + ordinary->width * 3 / 8, y = ordinary->y + ordinary->height / 10;
    const auto seenAt = [&] {
        const QImage picture = shareWindowPicture(display, shareWindow, "");
        return picture.isNull() ? QRgb(0) : picture.pixel(mirrored(stage.scene.monitor, picture.size(), x, y));
    };
    expect(near(seenAt(), ordinaryBars[1], 24), "the share window shows the ordinary window on workspace 1");

    expect(switchWorkspace(display, 1), "the window manager switched to workspace 2");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    expect(isViewable(display, shareWindow) && !isViewable(display, stage.scene.ordinary),
           "on workspace 2 the share window is on screen and the ordinary window is not");
    expect(!near(seenAt(), ordinaryBars[1], 24), "the picture shows workspace 2, without the ordinary window");
    askWindowManager(display, stage.scene.ordinary, "_NET_WM_DESKTOP", 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    expect(near(seenAt(), ordinaryBars[1], 24), "the picture shows the ordinary window brought to workspace 2");
    closeShareWindow(stage, *run);
}

// The main application dies, several times over: its share view must end
// with status 0 each time, although its "stopped" line has no reader.
void killHostRepeatedly(Stage& stage) {
    for (int round = 1; round <= killHostRounds; ++round) {
        std::cout << "[standin] round " << round << " of " << killHostRounds << std::endl;
        std::optional<Run> run;
        if (!launch(stage, run)) return;
        waitLive(stage, *run, 0.2);
        expectEndWithoutParent(*run, killHost(*run));
    }
}

// The main application stops reading but lives on: the next line (here the
// display-changed error) goes into a pipe without a reader.
void closeReadEnd(Stage& stage) {
    std::optional<Run> run;
    if (!launch(stage, run)) return;
    waitLive(stage, *run, 0.2);
    run->host.closeStatusPipe();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    expect(switchMode(stage.scene.monitor), "the display mode was switched after the host closed its read end");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    int status = 0;
    expect(waitpid(run->host.pid(), &status, WNOHANG) == 0 && kill(run->host.shareView(), 0) == 0,
           "the share view still runs 3 s after its error line met the closed pipe");
    checkStoppedText(shareWindowPicture(stage.display, *run->window, stage.options.screenshot));
    expectEndWithoutParent(*run, killHost(*run));
}

void terminationSignals(Stage& stage) {
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        std::optional<Run> run;
        if (!launch(stage, run)) return;
        waitLive(stage, *run, 0.2);
        kill(run->host.shareView(), number);
        expectOrderlyEnd(*run, 5, std::string(sigabbrev_np(number)) + " while live");
    }
}

void xkill(Stage& stage) {
    std::optional<Run> run;
    if (!launch(stage, run)) return;
    waitLive(stage, *run, 0.2);
    char command[64];
    std::snprintf(command, sizeof command, "xkill -id 0x%lx >/dev/null", *run->window);
    expect(std::system(command) == 0, "xkill killed the share window's client");
    expectOrderlyEnd(*run, 5, "share window killed");
}

void xServerGone(Stage& stage) {
    expect(stage.options.xServer.has_value(), "the X server's process is known");
    std::optional<Run> run;
    if (!stage.options.xServer || !launch(stage, run)) return;
    waitLive(stage, *run, 0.2);
    kill(*stage.options.xServer, SIGKILL);
    stage.displayGone = true;
    expectOrderlyEnd(*run, 5, "X server killed");
}

void randr(Stage& stage) {
    std::optional<Run> run;
    if (!launch(stage, run)) return;
    waitLive(stage, *run, stage.options.hold);
    // RandR traffic that changes no monitor: an output property set three
    // times, and a mode made available without being used.
    bool quiet = true;
    for (long level = 1; level <= 3; ++level) {
        changeOutputProperty(stage.display, stage.scene.monitor, level);
        if (level == 2) expect(addMode(stage.scene.monitor), "a new mode was added to the output");
        if (const auto line = run->reader.next(1.0)) quiet = false;
    }
    expect(quiet, "no line for 3 s after output property changes and a mode added");
    checkPictureFollows(stage.display, *run->window, stage.scene);
    expect(switchMode(stage.scene.monitor), "the display mode was switched");
    const auto error = run->reader.waitFor("error", 10);
    expect(error && error->message() == displayChanged, "the display-changed error");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const QImage picture = shareWindowPicture(stage.display, *run->window, stage.options.screenshot);
    if (stage.options.verify) checkStoppedText(picture);
    closeShareWindow(stage, *run);
}

void captureLost(Stage& stage) {
    std::optional<Run> run;
    if (!launch(stage, run)) return;
    waitLive(stage, *run, stage.options.hold);
    expect(breakCaptureConnection(stage.display, run->host.shareView()), "the capture's X connection was closed");
    const auto error = run->reader.waitFor("error", 10);
    expect(error && error->message() == captureStopped, "the capture-stopped error");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const QImage picture = shareWindowPicture(stage.display, *run->window, stage.options.screenshot);
    if (stage.options.verify) checkStoppedText(picture);
    closeShareWindow(stage, *run);
}

// A failure before any picture; the window stays open until it is closed.
void failsAtStart(Stage& stage, const std::string& message, const std::string& what) {
    std::optional<Run> run;
    if (!launch(stage, run)) return;
    const auto error = run->reader.waitFor("error", 15);
    expect(error && error->message() == message, what);
    closeShareWindow(stage, *run);
}

void wayland(Stage& stage) {
    std::optional<Run> run;
    if (!launch(stage, run)) return;
    const auto line = run->reader.next(15);
    expect(line && line->state() == "permission_required", "\"permission_required\" and nothing before it");
    expect(!run->reader.next(1.5), "no other line while waiting for permission");
    closeShareWindow(stage, *run);
}

const std::map<std::string, std::function<void(Stage&)>> scenarios{
    {"close", closeScenario},
    {"kill-host", killHostRepeatedly},
    {"close-read-end", closeReadEnd},
    {"signals", terminationSignals},
    {"xkill", xkill},
    {"x-server-gone", xServerGone},
    {"randr", randr},
    {"capture-lost", captureLost},
    {"unknown-display", [](Stage& stage) { failsAtStart(stage, displayUnavailable, "the display-unavailable error"); }},
    {"not-x-client", [](Stage& stage) { failsAtStart(stage, privateWindowsUnknown, "the private-windows error"); }},
    {"wayland", wayland},
    {"workspace", workspaceScenario},
};

}  // namespace

bool knownScenario(const std::string& name) { return scenarios.count(name) > 0; }

void runScenario(const std::string& name, Stage& stage) { scenarios.at(name)(stage); }

}  // namespace standin
