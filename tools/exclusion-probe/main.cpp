// velto-exclusion-probe: proves under a real X server that the share view
// never shows a private pixel. Not part of the product.
//
// The probe lays out public windows and starts a host that plays the main
// application: the host runs VeltoShareView as its child, reads its status
// lines and makes the private windows the probe orders. A sampler takes a
// picture of the share window every 35 ms for the whole share.
//
// usage: velto-exclusion-probe --share-view PATH --mode matrix|storm|paint --session NAME
//            [--screenshots DIR] [--storm-number N] [--storm-seconds S] [--tiling yes]
//   --tiling: the window manager places windows itself, so checks of the
//   probe's own layout are skipped (leaks are counted all the same).
//   VELTO_STORM_NUMBER and VELTO_STORM_SECONDS stand in for the last two.

#include "ProbeRun.h"
#include "Host.h"
#include "Painter.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <map>

namespace {

[[noreturn]] void usage() {
    std::cerr << "usage: velto-exclusion-probe --share-view PATH --mode matrix|storm|paint --session NAME "
                 "[--screenshots DIR] [--storm-number N] [--storm-seconds S] [--tiling yes]\n";
    std::exit(2);
}

probe::Area parseArea(const std::string& text) {
    probe::Area area;
    if (std::sscanf(text.c_str(), "%d,%d,%d,%d", &area.x, &area.y, &area.width, &area.height) != 4) usage();
    return area;
}

// Areas separated by ';'.
std::vector<probe::Area> parseAreas(const std::string& text) {
    std::vector<probe::Area> areas;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(';', start), text.size());
        areas.push_back(parseArea(text.substr(start, end - start)));
        start = end + 1;
    }
    return areas;
}

// A program of its own with one solid window, until it is told to end:
// painted by the server from its background pixel, or by the program itself
// on Expose when `repaint` is given.
[[noreturn]] void runWindowProcess(const std::string& windowClass, unsigned long colour, const probe::Area& area,
                                   const std::string& repaintName) {
    if (repaintName.empty()) {
        ::Display* display = XOpenDisplay(nullptr);
        if (!display) _exit(70);
        const Window window = probe::createWindow(display, {probe::Kind::plain, None, area, colour, windowClass});
        XMapWindow(display, window);
        XSync(display, False);
        for (;;) pause();
    }
    const auto repaint = probe::repaintNamed(repaintName);
    if (!repaint) usage();
    probe::Painter painter;
    ::Display* display = painter.display();
    if (!display) _exit(70);
    const Window window = probe::createWindow(display, {probe::Kind::plain, None, area, colour, windowClass});
    XSetWindowBackgroundPixmap(display, window, None);
    painter.adopt(window, colour, *repaint);
    XMapWindow(display, window);
    XSync(display, False);
    painter.serveForever();
}

std::string selfPath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    return std::string(path, std::size_t(length));
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    XInitThreads();
    // Windows of the storm vanish between two requests; that is no reason to stop.
    XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });

    std::map<std::string, std::string> named;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name.rfind("--", 0) != 0 || i + 1 >= argc) usage();
        named[name] = argv[++i];
    }
    const auto value = [&](const std::string& name) { return named.count(name) ? named[name] : std::string(); };

    if (value("--role") == "host") {
        probe::HostOptions host;
        host.link = std::atoi(value("--link").c_str());
        host.shareView = value("--share-view");
        host.displayID = std::stoul(value("--display-id"));
        host.privateBeforeShare = parseAreas(value("--private-before-share"));
        probe::runHost(host);
    }
    if (value("--role") == "window")
        runWindowProcess(value("--class"), std::stoul(value("--colour")), parseArea(value("--area")),
                         value("--repaint"));

    probe::Options options;
    options.self = selfPath();
    options.shareView = value("--share-view");
    options.mode = value("--mode");
    options.session = value("--session");
    options.screenshots = value("--screenshots");
    options.tiling = value("--tiling") == "yes";
    std::string number = value("--storm-number"), seconds = value("--storm-seconds");
    if (number.empty() && std::getenv("VELTO_STORM_NUMBER")) number = std::getenv("VELTO_STORM_NUMBER");
    if (seconds.empty() && std::getenv("VELTO_STORM_SECONDS")) seconds = std::getenv("VELTO_STORM_SECONDS");
    if (!number.empty()) options.stormNumber = std::stoul(number);
    if (!seconds.empty()) options.stormSeconds = std::stod(seconds);
    if (options.shareView.empty() || options.session.empty() || options.self.empty()) usage();

    probe::ProbeRun run(options);
    if (options.mode == "matrix") return probe::runMatrix(run);
    if (options.mode == "storm") return probe::runStorm(run);
    if (options.mode == "paint") return probe::runPaint(run);
    usage();
}
