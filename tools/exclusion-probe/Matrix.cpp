// The exclusion matrix: each kind of private window the main application can
// make, opened while the share is live over public windows, each in a slot of
// the screen of its own so that a leak is charged to the case that made it.

#include "ProbeRun.h"

#include <chrono>
#include <functional>
#include <iostream>
#include <thread>

namespace probe {
namespace {

const std::string mainAppBundleID = VELTO_MAIN_APP_BUNDLE_ID;

void pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

std::string orderArea(const Area& area) {
    return std::to_string(area.x) + " " + std::to_string(area.y) + " " + std::to_string(area.width) + " " +
           std::to_string(area.height);
}

class Matrix {
public:
    explicit Matrix(ProbeRun& run) : run_(run) {}
    int run();

private:
    Area slot(int column, int row) const;
    Area privateArea(const Area& slot) const;
    // Opens the case's region, makes its windows (`open` returns the one that
    // must become viewable), and a second after it showed holds the picture
    // against the public layout.
    void runCase(const std::string& name, const Area& region, const std::function<Window()>& open);
    Window hostWindow(const std::string& order);
    void runReuse();
    void runUnmappedInSelfPainted();

    ProbeRun& run_;
    Area bars_;
    Window container_ = None;
};

Area Matrix::slot(int column, int row) const {
    return {bars_.x + bars_.width * column / 4, bars_.y + bars_.height * row / 2, bars_.width / 4, bars_.height / 2};
}

// Room above for a window manager's title bar and around for its borders.
Area Matrix::privateArea(const Area& slot) const {
    return {slot.x + 25, slot.y + 40, slot.width - 50, slot.height - 65};
}

Window Matrix::hostWindow(const std::string& order) {
    const Window window = run_.host->order(order);
    run_.expect(window != None, "the host made a window: " + order);
    return window;
}

void Matrix::runCase(const std::string& name, const Area& region, const std::function<Window()>& open) {
    std::cout << "[probe] case " << name << std::endl;
    run_.sampler->open(name, region);
    const Window shown = open();
    const bool viewable = shown != None && standin::waitViewable(run_.display, shown, 5);
    run_.expect(viewable, name + ": the window is viewable");
    pause(1.0);
    run_.expectSpots(name + ": the public windows show around and beneath", region);
}

// An excluded connection that was open when the share started closes; the
// server may hand its client range to the next program that connects, whose
// window is public.
void Matrix::runReuse() {
    const Area area = privateArea(slot(2, 1));
    Window closed = None;
    runCase("closed-connection", slot(2, 1), [&] {
        closed = hostWindow("create extra plain 0 " + orderArea(area));
        run_.host->order("map " + std::to_string(closed));
        return closed;
    });
    const XID closedRange = clientBase(run_.display, closed);
    run_.host->order("close-extra");
    std::cout << "[probe] case unrelated-program" << std::endl;
    const pid_t pid = run_.startWindowProcess("ProbeUnrelated", unrelatedColour, area);
    const auto window = run_.windowOf(pid, "ProbeUnrelated");
    run_.expect(window.has_value(), "an unrelated program shows a window");
    if (!window) return;
    run_.expect(clientBase(run_.display, *window) == closedRange,
                "the unrelated program was given the closed connection's client range");
    run_.scene.add(*window, Scene::solid(unrelatedColour));
    pause(1.0);
    run_.expectSpots("unrelated-program: its window shows", run_.frameArea(*window, area));
}

// A public window with no background draws its content itself, in a program
// of its own that answers each Expose at once, as real programs do: a private
// child that unmaps leaves its picture in the public window until then, and
// that picture must not show.
void Matrix::runUnmappedInSelfPainted() {
    const Area& screen = run_.monitor.area;
    const unsigned long colour = publicPalette[0];
    const Area area{screen.x + 20, screen.y + 820, 420, 230};
    const pid_t pid = run_.startWindowProcess("ProbeSelfPainted", colour, area, Repaint::atOnce);
    const auto painted = run_.windowOf(pid, "ProbeSelfPainted");
    run_.expect(painted && standin::waitViewable(run_.display, *painted, 5),
                "a program that paints its own window shows it");
    if (!painted) return;
    run_.scene.add(*painted, Scene::solid(colour));

    Window child = None;
    runCase("unmapped-in-self-painted", run_.frameArea(*painted, area), [&] {
        child = hostWindow("create main plain " + std::to_string(*painted) + " 110 60 200 110");
        run_.host->order("map " + std::to_string(child));
        // Covered or showing its parent's stale pixels: neither is known here.
        run_.scene.addInside(child, [](int, int) { return std::optional<unsigned long>(); });
        if (standin::waitViewable(run_.display, child, 5)) pause(0.5);
        run_.host->order("unmap " + std::to_string(child));
        return *painted;
    });
    // The program repainted where the child was as soon as it was asked to.
    run_.scene.add(*painted, Scene::solid(colour));
    run_.expectSpots("unmapped-in-self-painted: the public window shows whole once its program repainted",
                     run_.frameArea(*painted, area));
}

int Matrix::run() {
    ::Display* display = run_.display;
    const Area& screen = run_.monitor.area;
    // The public layout: bars beneath most cases, another program's window
    // for the embedding, and the desktop elsewhere.
    const Window bars = standin::openOrdinaryWindow(display, {screen.x + 20, screen.y + 20, 900, 410});
    container_ = createWindow(display, {Kind::plain, None, {screen.x + 20, screen.y + 490, 420, 280},
                                        containerColour, "ProbeContainer"});
    XMapWindow(display, container_);
    XSync(display, False);
    standin::waitViewable(display, bars, 5);
    standin::waitViewable(display, container_, 5);
    bars_ = standin::rootArea(display, bars).value_or(Area{});
    run_.scene.add(bars, Scene::bars(bars_));
    run_.scene.add(container_, Scene::solid(containerColour));

    // A private window on the bare desktop from before the share started,
    // where the share window first showed its waiting text.
    const Area desktopPrivate{screen.x + 1000, screen.y + 40, 300, 200};
    const std::vector<Area> bareDesktop{{screen.x + 1000, screen.y + 280, 330, 150},
                                        {screen.x + 1350, screen.y + 30, 540, 390},
                                        {screen.x + 480, screen.y + 490, 420, 520}};
    const Area aroundDesktopPrivate{desktopPrivate.x - 30, desktopPrivate.y - 30, desktopPrivate.width + 60,
                                    desktopPrivate.height + 60};
    if (!run_.begin({desktopPrivate}, {{"desktop-private", aroundDesktopPrivate}})) return run_.finish();
    pause(1.0);
    run_.expectSpots("the desktop shows where the private window lay when the share started",
                     {desktopPrivate.x - 20, desktopPrivate.y - 30, desktopPrivate.width + 40,
                      desktopPrivate.height + 50});
    for (const Area& area : bareDesktop) run_.expectSpots("the desktop shows where no window lies", area);
    run_.expectShareWindowAbsent("share start");

    runCase("top-level", slot(0, 0), [&] {
        const Window window = hostWindow("create main plain 0 " + orderArea(privateArea(slot(0, 0))));
        run_.host->order("map " + std::to_string(window));
        return window;
    });
    runCase("menu", slot(1, 0), [&] {
        const Window window = hostWindow("create second menu 0 " + orderArea(privateArea(slot(1, 0))));
        run_.host->order("map " + std::to_string(window));
        return window;
    });
    runCase("argb", slot(2, 0), [&] {
        const Window window = hostWindow("create main argb 0 " + orderArea(privateArea(slot(2, 0))));
        run_.host->order("map " + std::to_string(window));
        return window;
    });
    runCase("shaped", slot(3, 0), [&] {
        const Window window = hostWindow("create main shaped 0 " + orderArea(privateArea(slot(3, 0))));
        run_.host->order("map " + std::to_string(window));
        return window;
    });
    runCase("five-deep", slot(0, 1), [&] {
        const Area area = privateArea(slot(0, 1));
        const Window top = hostWindow("create main plain 0 " + orderArea(area));
        const Window deepest =
            hostWindow("chain " + std::to_string(top) + " 0 0 " + std::to_string(area.width) + " " +
                       std::to_string(area.height) + " 5");
        run_.host->order("map " + std::to_string(top));
        return deepest;
    });
    runCase("five-deep-embedded", slot(3, 1), [&] {
        // Four levels of another program's windows, the fifth private.
        const Area area = privateArea(slot(3, 1));
        const Window fourth = createChain(display, bars, {area.x - bars_.x, area.y - bars_.y, area.width, area.height},
                                          4, publicPalette[1]);
        XSync(display, False);
        run_.scene.addInside(fourth, Scene::solid(publicPalette[1]));
        const Window fifth = hostWindow("create main plain " + std::to_string(fourth) + " 20 15 " +
                                        std::to_string(area.width - 4 * 12 - 40) + " " +
                                        std::to_string(area.height - 4 * 12 - 30));
        run_.host->order("map " + std::to_string(fifth));
        run_.scene.addCover(fifth);
        return fifth;
    });
    Window embedded = None;
    runCase("embedded", run_.frameArea(container_, {}), [&] {
        embedded = hostWindow("create main plain " + std::to_string(container_) + " 110 80 200 120");
        run_.host->order("map " + std::to_string(embedded));
        run_.scene.addCover(embedded);
        return embedded;
    });
    // The container has a background, which the server paints at once where
    // the private window was: nothing private is left to cover.
    run_.host->order("destroy " + std::to_string(embedded));
    run_.scene.add(container_, Scene::solid(containerColour));
    run_.expectSpots("embedded: the container shows whole once the private window is gone",
                     run_.frameArea(container_, {}));
    runCase("bundle-process", slot(1, 1), [&] {
        const pid_t pid = run_.startWindowProcess(mainAppBundleID, privateColour, privateArea(slot(1, 1)));
        return run_.windowOf(pid, mainAppBundleID).value_or(None);
    });
    runReuse();
    runUnmappedInSelfPainted();

    // A new background: the picture follows it.
    run_.setDesktop(changedDesktop);
    pause(1.0);
    for (const Area& area : bareDesktop) run_.expectSpots("the desktop shows its new background", area);
    run_.expectShareWindowAbsent("after every case");
    run_.savePicture("matrix-" + run_.options.session);
    return run_.finish();
}

}  // namespace

int runMatrix(ProbeRun& run) { return Matrix(run).run(); }

}  // namespace probe
