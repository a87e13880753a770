#include "ProbeRun.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

namespace probe {
namespace {

using Clock = std::chrono::steady_clock;

const std::string mainAppBundleID = VELTO_MAIN_APP_BUNDLE_ID;
const std::string shareViewClass = mainAppBundleID + ".shareview";

std::string areaText(const Area& area) {
    return std::to_string(area.x) + "," + std::to_string(area.y) + "," + std::to_string(area.width) + "," +
           std::to_string(area.height);
}

}  // namespace

ProbeRun::ProbeRun(const Options& options)
    : options(options), display(XOpenDisplay(nullptr)), scene(display) {}

ProbeRun::~ProbeRun() {
    if (sampler) sampler->stop();
    for (pid_t pid : others_) kill(pid, SIGTERM);
    if (display) XCloseDisplay(display);
}

void ProbeRun::expect(bool condition, const std::string& what) {
    std::cout << (condition ? "[probe] ok: " : "[probe] FAILED: ") << what << std::endl;
    if (!condition) ++failures;
}

bool ProbeRun::begin(const std::vector<Area>& privateBeforeShare, const std::vector<NamedArea>& regions) {
    const auto found = display ? standin::firstMonitor(display) : std::nullopt;
    expect(found.has_value(), "an X display with a RandR monitor");
    if (!found) return false;
    monitor = *found;
    setDesktop(std::nullopt);

    std::string privateAreas;
    for (const Area& area : privateBeforeShare) privateAreas += (privateAreas.empty() ? "" : ";") + areaText(area);
    host = HostLink::start(options.self, options.shareView, monitor.displayID, privateAreas);
    expect(host.has_value(), "the host started the share view as its child");
    if (!host) return false;
    std::cout << "[probe] host " << host->host() << ", VeltoShareView " << host->shareView() << std::endl;

    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (shareWindow == None && Clock::now() < deadline) {
        if (auto window = standin::findWindowOf(display, host->shareView(), shareViewClass)) shareWindow = *window;
        else std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    expect(shareWindow != None, "the share window shows, WM_CLASS class " + shareViewClass);
    if (shareWindow == None) return false;

    const std::string prefix =
        options.screenshots.empty() ? "" : options.screenshots + "/" + options.mode + "-" + options.session;
    // Leak pictures of an earlier run would tell of leaks this one never had.
    if (!prefix.empty())
        for (const auto& file : std::filesystem::directory_iterator(options.screenshots))
            if (file.path().string().rfind(prefix + "-leak-", 0) == 0) std::filesystem::remove(file.path());
    sampler = std::make_unique<Sampler>(shareWindow, monitor.area, prefix);
    for (const auto& region : regions) sampler->open(region.name, region.area);
    sampler->start();

    const auto starting = host->waitStatus("starting", 20);
    expect(starting.has_value(), "\"starting\": " + starting.value_or("none"));
    const auto live = host->waitStatus("live", 20);
    expect(live.has_value(), "\"live\"");
    // Out of the way of the probe's windows, wholly on the screen; moved only
    // now, so that the place where it first showed its waiting text is bare
    // desktop for the rest of the share.
    const Area& screen = monitor.area;
    XMoveWindow(display, shareWindow, screen.x + screen.width - 960 - 16, screen.y + 440);
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, screen.x + screen.width - 4,
                 screen.y + screen.height - 4);
    XSync(display, False);
    return starting && live;
}

QImage ProbeRun::picture() { return grabPicture(display, shareWindow); }

// The picture may lag behind the windows on a busy machine: the public
// colours must show within a few seconds (a private pixel, never, which the
// sampler checks in every picture).
SpotCheck ProbeRun::spotCheck(const Scene& expected, const Area& area, int columns, int rows) {
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    for (;;) {
        const QImage shown = picture();
        const SpotCheck check = checkSpots(shown, Mirror{monitor.area, shown.size()}, expected, area, columns, rows);
        if (check.wrong.empty() || Clock::now() > deadline) return check;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

void ProbeRun::expectSpots(const std::string& what, const Area& area, int columns, int rows) {
    if (options.tiling) {
        std::cout << "[probe] skipped, the window manager tiles: " << what << std::endl;
        return;
    }
    expectSpots(what, scene, area, columns, rows);
}

void ProbeRun::expectSpots(const std::string& what, const Scene& expected, const Area& area, int columns,
                           int rows) {
    const SpotCheck check = spotCheck(expected, area, columns, rows);
    expect(check.checked > 0 && check.wrong.empty(), what + " (" + describe(check) + ")");
}

Scene ProbeRun::sceneFromServer(const std::map<Window, unsigned long>& painted, const std::set<Window>& leftOut) {
    Scene result(display);
    result.setDesktop(desktop_);
    std::map<Window, std::pair<Window, unsigned long>> paintedIn;  // top-level -> window, colour
    std::set<Window> leftOutTopLevels;
    for (const auto& [window, colour] : painted) paintedIn[topLevelOf(display, window)] = {window, colour};
    for (Window window : leftOut) leftOutTopLevels.insert(topLevelOf(display, window));
    const auto unknown = [](int, int) { return std::optional<unsigned long>(); };
    for (Window topLevel : childrenOf(display, DefaultRootWindow(display))) {
        XWindowAttributes attributes{};
        // Input-only windows draw nothing (mutter's guard window covers the screen).
        if (leftOutTopLevels.count(topLevel) || !XGetWindowAttributes(display, topLevel, &attributes) ||
            attributes.map_state != IsViewable || attributes.c_class == InputOnly)
            continue;
        const auto known = paintedIn.find(topLevel);
        if (known != paintedIn.end()) result.add(known->second.first, Scene::solid(known->second.second));
        else result.add(topLevel, unknown);
    }
    return result;
}

// Spots all over the frame, and a band of them through the title bar, where a
// frame that showed would be the window manager's colours: the desktop's
// checkerboard is no window manager's.
void ProbeRun::expectShareWindowAbsent(const std::string& when) {
    // The main application's top-levels are left out too: what lies beneath
    // them may lie beneath the share window (a tiling manager floats it).
    std::set<Window> leftOut{shareWindow};
    for (Window window : standin::viewableWindowsOf(display, host->host(), mainAppBundleID)) leftOut.insert(window);
    const Scene beneath = sceneFromServer({}, leftOut);
    const Area frame = frameArea(shareWindow, {});
    const Area client = standin::rootArea(display, shareWindow).value_or(frame);
    SpotCheck all = spotCheck(beneath, frame, 12, 8);
    if (client.y - frame.y >= 4) {
        const SpotCheck title = spotCheck(beneath, {frame.x, frame.y, frame.width, client.y - frame.y}, 48, 2);
        all.checked += title.checked;
        all.wrong.insert(all.wrong.end(), title.wrong.begin(), title.wrong.end());
    }
    expect(all.checked > 0 && all.wrong.empty(),
           when + ": what lies beneath shows where the share window and its frame lie (" + describe(all) + ")");
}

void ProbeRun::setDesktop(std::optional<unsigned long> solid) {
    publishDesktop(display, solid);
    desktop_ = solid;
    scene.setDesktop(solid);
}

void ProbeRun::savePicture(const std::string& name) {
    if (options.screenshots.empty()) return;
    const std::string file = options.screenshots + "/" + name + ".png";
    const bool saved = picture().save(QString::fromStdString(file), "PNG");
    std::cout << "[probe] " << (saved ? "saved " : "could not save ") << file << std::endl;
}

pid_t ProbeRun::startWindowProcess(const std::string& windowClass, unsigned long colour, const Area& area,
                                   std::optional<Repaint> repaint) {
    const std::string colourText = std::to_string(colour), where = areaText(area);
    const std::string repaintName = repaint ? nameOf(*repaint) : "";
    std::vector<const char*> arguments{options.self.c_str(), "--role",           "window", "--class",
                                       windowClass.c_str(),  "--colour",         colourText.c_str(),
                                       "--area",             where.c_str()};
    if (repaint) {
        arguments.push_back("--repaint");
        arguments.push_back(repaintName.c_str());
    }
    arguments.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execv(options.self.c_str(), const_cast<char* const*>(arguments.data()));
        _exit(127);
    }
    if (pid > 0) others_.push_back(pid);
    return pid;
}

std::optional<Window> ProbeRun::windowOf(pid_t pid, const std::string& windowClass) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (auto window = standin::findWindowOf(display, pid, windowClass)) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

Area ProbeRun::frameArea(Window window, const Area& fallback) {
    return standin::rootArea(display, topLevelOf(display, window)).value_or(fallback);
}

int ProbeRun::finish() {
    if (sampler) {
        sampler->stop();
        std::cout << "[probe] " << sampler->samples() << " pictures of the share window in all" << std::endl;
        const auto describe = [&](const std::string& name, const RegionCount& count) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "%s: no private pixel in any of %ld pictures (leaking: %ld, most private pixels in "
                          "one: %ld, first leak %.2f s after it opened)",
                          name.c_str(), count.samples, count.leakingSamples, count.mostPixels, count.firstLeak);
            expect(count.samples > 0 && count.leakingSamples == 0, text);
        };
        for (const auto& [name, count] : sampler->counts()) describe(name, count);
        describe("elsewhere", sampler->unattributed());
    }
    std::optional<int> status;
    if (host && shareWindow != None) {
        standin::askToClose(display, shareWindow);
        status = host->waitExit(10);
        expect(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0, "the share view ended with status 0");
    }
    // A share view that never ended goes with its parent.
    if (host && !status) kill(host->host(), SIGKILL);
    for (pid_t pid : others_) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    others_.clear();
    if (host) waitpid(host->host(), nullptr, 0);
    std::cout << (failures == 0 ? "[probe] all checks passed" : "[probe] some checks FAILED") << std::endl;
    return failures == 0 ? 0 : 1;
}

}  // namespace probe
