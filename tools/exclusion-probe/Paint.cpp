// Programs that paint their own windows (background None), late or never,
// beside and beneath private windows: the share starting over them, and
// their growth, maximising and fullscreen. Wherever the server fills such a
// window from the screen, it copies whatever lay there, private windows
// included, until the program paints. Each case has a region of the screen
// of its own so that a leak is charged to it; maximise and fullscreen take
// the whole screen, so they come last, once the other regions are closed.

#include "ProbeRun.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

namespace probe {
namespace {

const std::string mainAppBundleID = VELTO_MAIN_APP_BUNDLE_ID;
const std::string paintedClass = "ProbePainted";

void pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

std::string orderArea(const Area& area) {
    return std::to_string(area.x) + " " + std::to_string(area.y) + " " + std::to_string(area.width) + " " +
           std::to_string(area.height);
}

// What the window manager publishes of itself: its name and the hints it
// understands. Both empty without one.
struct WindowManager {
    std::string name;
    std::vector<Atom> supported;

    static WindowManager of(::Display* display);
    bool supports(::Display* display, const char* hint) const {
        const Atom atom = XInternAtom(display, hint, False);
        return std::find(supported.begin(), supported.end(), atom) != supported.end();
    }
};

WindowManager WindowManager::of(::Display* display) {
    WindowManager result;
    const Window root = DefaultRootWindow(display);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, root, XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False), 0, 1, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success && data && count == 1) {
        const Window check = *reinterpret_cast<Window*>(data);
        unsigned char* name = nullptr;
        unsigned long length = 0;
        if (XGetWindowProperty(display, check, XInternAtom(display, "_NET_WM_NAME", False), 0, 256, False,
                               AnyPropertyType, &type, &format, &length, &after, &name) == Success && name)
            result.name.assign(reinterpret_cast<char*>(name), length);
        if (name) XFree(name);
    }
    if (data) XFree(data);
    data = nullptr;
    if (XGetWindowProperty(display, root, XInternAtom(display, "_NET_SUPPORTED", False), 0, 4096, False, XA_ATOM,
                           &type, &format, &count, &after, &data) == Success && data) {
        const auto* atoms = reinterpret_cast<Atom*>(data);
        result.supported.assign(atoms, atoms + count);
    }
    if (data) XFree(data);
    return result;
}

struct PaintedWindow {
    pid_t pid = 0;
    Window window = None;
    unsigned long colour = 0;
    Repaint repaint = Repaint::late;
};

class PaintRun {
public:
    explicit PaintRun(ProbeRun& run) : run_(run) {}
    int run();

private:
    std::optional<PaintedWindow> openPainted(const Area& area, unsigned long colour, Repaint repaint);
    Window openPrivate(const Area& area);
    // Grows the window beside or over a private one, then holds the picture
    // against the screen once its program had time to paint.
    void runGrowth(const std::string& name, const Area& region, const PaintedWindow& grown, const Area& to);
    void runWholeScreen(const std::string& name, const PaintedWindow& grown, const char* state);
    void setState(Window window, bool add, const char* first, const char* second);
    void expectPaintedShows(const std::string& what, const PaintedWindow& window);

    ProbeRun& run_;
    WindowManager windowManager_;
    std::map<Window, unsigned long> shows_;  // painted windows whose colour must show
    std::set<Window> private_;
    std::vector<std::string> regions_;
};

std::optional<PaintedWindow> PaintRun::openPainted(const Area& area, unsigned long colour, Repaint repaint) {
    PaintedWindow painted{run_.startWindowProcess(paintedClass, colour, area, repaint), None, colour, repaint};
    const auto window = run_.windowOf(painted.pid, paintedClass);
    const bool viewable = window && standin::waitViewable(run_.display, *window, 5);
    run_.expect(viewable, "a program that paints " + nameOf(repaint) + " shows its window");
    if (!viewable) return std::nullopt;
    painted.window = *window;
    if (repaint != Repaint::never) shows_[painted.window] = colour;
    return painted;
}

Window PaintRun::openPrivate(const Area& area) {
    const Window window = run_.host->order("create main plain 0 " + orderArea(area));
    run_.expect(window != None, "the host made a private window at " + orderArea(area));
    if (window == None) return None;
    run_.host->order("map " + std::to_string(window));
    standin::waitViewable(run_.display, window, 5);
    private_.insert(window);
    return window;
}

void PaintRun::expectPaintedShows(const std::string& what, const PaintedWindow& window) {
    if (window.repaint == Repaint::never) return;
    std::set<Window> leftOut = private_;
    leftOut.insert(run_.shareWindow);
    const Scene expected = run_.sceneFromServer(shows_, leftOut);
    run_.expectSpots(what, expected, run_.frameArea(window.window, {}), 8, 6);
}

void PaintRun::runGrowth(const std::string& name, const Area& region, const PaintedWindow& grown, const Area& to) {
    std::cout << "[probe] case " << name << std::endl;
    run_.sampler->open(name, region);
    regions_.push_back(name);
    XMoveResizeWindow(run_.display, grown.window, to.x, to.y, unsigned(to.width), unsigned(to.height));
    XSync(run_.display, False);
    pause(1.0);
    expectPaintedShows(name + ": the grown window shows once its program painted", grown);
}

void PaintRun::setState(Window window, bool add, const char* first, const char* second) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(run_.display, "_NET_WM_STATE", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = add ? 1 : 0;
    event.xclient.data.l[1] = long(XInternAtom(run_.display, first, False));
    event.xclient.data.l[2] = second ? long(XInternAtom(run_.display, second, False)) : 0;
    event.xclient.data.l[3] = 1;  // an ordinary application asks
    XSendEvent(run_.display, DefaultRootWindow(run_.display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(run_.display, False);
}

// Maximised or fullscreen through the window manager when it offers that
// state, else by the program itself, as a program without one does.
void PaintRun::runWholeScreen(const std::string& name, const PaintedWindow& grown, const char* state) {
    std::cout << "[probe] case " << name << std::endl;
    for (const std::string& region : regions_) run_.sampler->close(region);
    run_.sampler->open(name, run_.monitor.area);
    regions_.push_back(name);
    const bool fullscreen = std::string(state) == "_NET_WM_STATE_FULLSCREEN";
    const char* second = fullscreen ? nullptr : "_NET_WM_STATE_MAXIMIZED_HORZ";
    const bool byWindowManager = windowManager_.supports(run_.display, state);
    const auto before = standin::rootArea(run_.display, grown.window);
    if (byWindowManager) {
        setState(grown.window, true, state, second);
    } else {
        const Area& screen = run_.monitor.area;
        XMoveResizeWindow(run_.display, grown.window, screen.x, screen.y, unsigned(screen.width),
                          unsigned(screen.height));
        if (fullscreen) XRaiseWindow(run_.display, grown.window);
        XSync(run_.display, False);
    }
    pause(1.0);
    const auto after = standin::rootArea(run_.display, grown.window);
    // A tiling window manager keeps the size it chose.
    if (!run_.options.tiling)
        run_.expect(before && after && after->width * after->height > 2 * before->width * before->height,
                    name + ": the window grew (" + (byWindowManager ? "asked of the window manager" : "by itself") +
                        ")");
    expectPaintedShows(name + ": the window shows once its program painted", grown);
    if (byWindowManager) setState(grown.window, false, state, second);
    // Gone, so that the share window is seen over the desktop again.
    kill(grown.pid, SIGTERM);
    pause(0.5);
}

int PaintRun::run() {
    windowManager_ = WindowManager::of(run_.display);
    std::cout << "[probe] window manager: " << (windowManager_.name.empty() ? "none" : windowManager_.name)
              << std::endl;
    const Area& s = run_.monitor.area;
    const auto at = [&](int x, int y, int width, int height) { return Area{s.x + x, s.y + y, width, height}; };

    // Up before the share starts, private windows over them.
    const auto startLate = openPainted(at(20, 40, 400, 330), publicPalette[1], Repaint::late);
    const auto startNever = openPainted(at(460, 40, 300, 330), publicPalette[2], Repaint::never);
    // Grown later, in regions of their own; whole-screen ones last.
    const auto beside = openPainted(at(800, 40, 180, 300), publicPalette[3], Repaint::late);
    const auto under = openPainted(at(1380, 80, 260, 220), publicPalette[4], Repaint::late);
    const auto never = openPainted(at(20, 480, 260, 260), publicPalette[0], Repaint::never);
    const auto maximised = openPainted(at(640, 480, 260, 200), publicPalette[1], Repaint::late);
    const auto fullscreen = openPainted(at(640, 740, 260, 200), publicPalette[3], Repaint::late);
    if (!startLate || !startNever || !beside || !under || !never || !maximised || !fullscreen) return run_.finish();
    pause(0.5);

    if (!run_.begin({at(90, 110, 220, 150), at(510, 110, 200, 150)},
                    {{"share-start-late", at(0, 0, 440, 400)}, {"share-start-never", at(440, 0, 340, 400)}}))
        return run_.finish();
    regions_ = {"share-start-late", "share-start-never"};
    for (Window window : standin::viewableWindowsOf(run_.display, run_.host->host(), mainAppBundleID))
        private_.insert(window);
    pause(1.0);
    expectPaintedShows("share-start-late: the window beneath the private one shows once its program painted",
                       *startLate);
    run_.expectShareWindowAbsent("share start");

    openPrivate(at(1040, 60, 200, 220));
    openPrivate(at(1430, 130, 160, 120));
    openPrivate(at(330, 490, 200, 200));
    pause(0.5);
    runGrowth("grow-beside", at(780, 0, 560, 410), *beside, at(800, 40, 500, 340));
    runGrowth("grow-under", at(1320, 0, 600, 410), *under, at(1340, 30, 560, 370));
    runGrowth("grow-never", at(0, 440, 600, 450), *never, at(20, 480, 560, 380));

    // What never repaints may show what the server filled it with for good:
    // charged to its own cases, gone before the whole screen is watched.
    for (const auto& painted : {*startNever, *never}) kill(painted.pid, SIGTERM);
    pause(0.5);
    runWholeScreen("maximise", *maximised, "_NET_WM_STATE_MAXIMIZED_VERT");
    // Under i3 the share window is unviewable while another window is
    // fullscreen on its workspace: nothing could share it then.
    if (windowManager_.name == "i3") std::cout << "[probe] case fullscreen skipped under i3" << std::endl;
    else runWholeScreen("fullscreen", *fullscreen, "_NET_WM_STATE_FULLSCREEN");

    run_.expectShareWindowAbsent("after every case");
    run_.savePicture("paint-" + run_.options.session);
    return run_.finish();
}

}  // namespace

int runPaint(ProbeRun& run) { return PaintRun(run).run(); }

}  // namespace probe
