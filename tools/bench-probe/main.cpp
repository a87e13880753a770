// velto-bench-probe: watches the share window from outside, as a viewer
// would, for scripts/bench-shareview.sh. Not part of the product.
//
//   fps --seconds N      frames the share window shows per second
//   latency --count N    time from a colour change in an ordinary window to
//                        the share window showing it (median, 90th percentile)
//   scale-cost --scale S --count N
//                        the server's time per frame to bring a 1600x900
//                        window into a frame S times its size: copy, nearest,
//                        bilinear (no share window needed)
//
// Each prints one line of "name value" pairs on stdout.

#include "Measures.h"
#include "ScaleCost.h"
#include "ShareWatch.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>

namespace {

using namespace benchprobe;
using Clock = std::chrono::steady_clock;

const std::string shareTitle = "Velto Share View — share this window";
constexpr long quietGapMs = 8;
constexpr int probeWidth = 200, probeHeight = 150;
// Read back as a square, so that a pixel blended at an edge cannot pass.
constexpr int patchRadius = 1;
// Colours rare in testsrc2 and on the plain desktop, far apart from each other.
constexpr std::array<std::uint32_t, 3> probeColours{0xd0309a, 0x20c0a0, 0xe0a010};

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int ignoreErrors(::Display*, XErrorEvent*) { return 0; }

int countFrames(ShareWatch& watch, double seconds) {
    FrameCounter counter(quietGapMs);
    const auto start = Clock::now();
    while (msSince(start) < seconds * 1000) {
        const int remaining = int(seconds * 1000 - msSince(start)) + 1;
        for (const long time : watch.waitForDamage(remaining)) counter.event(time);
    }
    std::printf("fps %.1f frames %ld seconds %.1f\n", double(counter.frames()) / seconds, counter.frames(), seconds);
    return 0;
}

// A corner of the screen clear of the share window, so that reading the
// share window back never reads the probe window itself.
std::optional<Area> probePlace(::Display* display, const Area& share) {
    const int width = DisplayWidth(display, DefaultScreen(display));
    const int height = DisplayHeight(display, DefaultScreen(display));
    const int marginX = width / 20, marginY = height / 20;
    const int right = width - marginX - probeWidth, bottom = height - marginY - probeHeight;
    for (const auto& [x, y] : {std::pair{marginX, bottom}, {right, bottom}, {right, marginY}, {marginX, marginY}}) {
        const Area place{x, y, probeWidth, probeHeight};
        if (!place.overlaps(share)) return place;
    }
    return std::nullopt;
}

class ProbeWindow {
public:
    ProbeWindow(::Display* display, const Area& place) : display_(display) {
        window_ = XCreateSimpleWindow(display, DefaultRootWindow(display), place.x, place.y, unsigned(place.width),
                                      unsigned(place.height), 0, 0, probeColours.back());
        XStoreName(display, window_, "velto-bench-probe");
        XClassHint hint{const_cast<char*>("velto-bench-probe"), const_cast<char*>("VeltoBenchProbe")};
        XSetClassHint(display, window_, &hint);
        XMapRaised(display, window_);
        XSync(display, False);
    }
    // Returns once the server has painted the window in the new colour.
    void fill(std::uint32_t colour) {
        XSetWindowBackground(display_, window_, colour);
        XClearWindow(display_, window_);
        XSync(display_, False);
    }

private:
    ::Display* display_;
    Window window_ = None;
};

// Waits on damage (or a short tick, in case a repaint escaped the watch)
// until the patch shows `colour`; the time in ms, or nothing after `limitMs`.
std::optional<double> timeUntilShown(ShareWatch& watch, Point patch, std::uint32_t colour, double limitMs) {
    const auto start = Clock::now();
    const Area square{patch.x - patchRadius, patch.y - patchRadius, 2 * patchRadius + 1, 2 * patchRadius + 1};
    while (msSince(start) < limitMs) {
        watch.waitForDamage(10);
        const Picture seen = watch.grab(square);
        if (!seen.pixels.empty() && patchIs(seen, {patchRadius, patchRadius}, patchRadius, rgbOf(colour)))
            return msSince(start);
    }
    return std::nullopt;
}

// Finds where the probe window lands inside the share window by looking for
// its colour in the whole picture: no knowledge of the picture's layout needed.
std::optional<Point> locate(ShareWatch& watch, std::uint32_t colour, double limitMs) {
    const auto start = Clock::now();
    const Area visible = watch.visiblePart();
    while (msSince(start) < limitMs) {
        watch.waitForDamage(50);
        if (const auto found = findPatch(watch.grab(visible), rgbOf(colour), patchRadius))
            return Point{found->x + visible.x, found->y + visible.y};
    }
    return std::nullopt;
}

int measureLatency(::Display* display, ShareWatch& watch, int count) {
    const auto place = probePlace(display, watch.area());
    if (!place) {
        std::cerr << "velto-bench-probe: no corner of the screen is clear of the share window\n";
        return 1;
    }
    ProbeWindow probe(display, *place);
    probe.fill(probeColours[0]);
    const auto patch = locate(watch, probeColours[0], 5000);
    if (!patch) {
        std::cerr << "velto-bench-probe: the probe window never showed in the share window\n";
        return 1;
    }
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pauseMs(50, 150);
    std::vector<double> latencies;
    int missed = 0;
    for (int round = 1; round <= count; ++round) {
        const auto pauseStart = Clock::now();
        const int pause = pauseMs(random);
        while (msSince(pauseStart) < pause) watch.waitForDamage(int(pause - msSince(pauseStart)) + 1);
        const std::uint32_t colour = probeColours[std::size_t(round) % probeColours.size()];
        probe.fill(colour);
        if (const auto latency = timeUntilShown(watch, *patch, colour, 1000)) latencies.push_back(*latency);
        else ++missed;
    }
    const auto median = percentile(latencies, 50), p90 = percentile(latencies, 90);
    std::printf("latency median %.1f p90 %.1f rounds %d missed %d\n", median.value_or(-1), p90.value_or(-1), count,
                missed);
    return 0;
}

[[noreturn]] void usage() {
    std::cerr << "usage: velto-bench-probe fps --seconds N | latency --count N [--title TITLE]"
                 " | scale-cost --scale S --count N\n";
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) usage();
    const std::string command = argv[1];
    double seconds = 10;
    int count = 40;
    double scale = 0.5;
    std::string title = shareTitle;
    for (int i = 2; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) usage();
        const std::string value = argv[++i];
        if (name == "--seconds") seconds = std::stod(value);
        else if (name == "--count") count = std::stoi(value);
        else if (name == "--title") title = value;
        else if (name == "--scale") scale = std::stod(value);
        else usage();
    }
    if ((command != "fps" && command != "latency" && command != "scale-cost") || seconds <= 0 || count <= 0 ||
        !(scale > 0 && scale <= 1))
        usage();
    ::Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::cerr << "velto-bench-probe: no X display\n";
        return 1;
    }
    if (command == "scale-cost") return measureScaleCost(display, scale, count);
    // Windows of the share view's tree may come and go while watched.
    XSetErrorHandler(ignoreErrors);
    auto watch = ShareWatch::open(display, title, 10);
    if (!watch) {
        std::cerr << "velto-bench-probe: no window titled \"" << title << "\" (or no DAMAGE)\n";
        return 1;
    }
    return command == "fps" ? countFrames(*watch, seconds) : measureLatency(display, *watch, count);
}
