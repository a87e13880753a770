// velto-host-standin: plays the main application for the share view's
// end-to-end tests and the demo. Not part of the product.
//
// The stand-in shows an ordinary window (coloured bars) and, from a host
// process that plays the main application, a private window of one solid
// colour over it. The host starts VeltoShareView as its child; the stand-in
// reads the child's status lines, takes a picture of the share window and
// checks what each scenario expects.

#include <QImage>

#include "Screenshot.h"
#include "StandinWindows.h"

#include <X11/Xutil.h>

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

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

struct Options {
    std::string shareView;
    std::string scenario = "close";
    std::string screenshot;
    std::string screenPicture;
    std::optional<unsigned long> displayID;
    double hold = 1.0;
    bool verify = false;
};

[[noreturn]] void usage() {
    std::cerr << "usage: velto-host-standin --share-view PATH "
                 "[--scenario close|kill-host|unknown-display|not-x-client|randr|capture-lost|wayland] "
                 "[--screenshot FILE.png] [--screen-picture FILE.png] [--verify] [--hold SECONDS] [--display-id N]\n";
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (name == "--share-view") options.shareView = value();
        else if (name == "--scenario") options.scenario = value();
        else if (name == "--screenshot") options.screenshot = value();
        else if (name == "--screen-picture") options.screenPicture = value();
        else if (name == "--display-id") options.displayID = std::stoul(value());
        else if (name == "--hold") options.hold = std::stod(value());
        else if (name == "--verify") options.verify = true;
        else usage();
    }
    if (options.shareView.empty()) usage();
    return options;
}

int failures = 0;
void expect(bool condition, const std::string& what) {
    std::cout << (condition ? "[standin] ok: " : "[standin] FAILED: ") << what << std::endl;
    if (!condition) ++failures;
}

// ---------------------------------------------------------------- status lines
struct StatusLine {
    std::string text;
    std::string state() const { return stringValue("state"); }
    std::string message() const { return stringValue("message"); }
    std::string stringValue(const std::string& key) const {
        std::smatch match;
        const std::regex pattern("\"" + key + "\":\"((?:[^\"\\\\]|\\\\.)*)\"");
        return std::regex_search(text, match, pattern) ? match[1].str() : "";
    }
    std::optional<long long> integerValue(const std::string& key) const {
        std::smatch match;
        const std::regex pattern("\"" + key + "\":(-?[0-9]+)");
        if (!std::regex_search(text, match, pattern)) return std::nullopt;
        return std::stoll(match[1].str());
    }
};

class StatusReader {
public:
    explicit StatusReader(int fd) : fd_(fd) {}

    // The next line, or nothing at the end of the output or of the time.
    std::optional<StatusLine> next(double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            if (auto newline = buffer_.find('\n'); newline != std::string::npos) {
                StatusLine line{buffer_.substr(0, newline)};
                buffer_.erase(0, newline + 1);
                std::cout << "VeltoShareView: " << line.text << std::endl;
                lines_.push_back(line);
                return line;
            }
            if (closed_) return std::nullopt;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd descriptor{fd_, POLLIN, 0};
            if (poll(&descriptor, 1, int(left.count())) <= 0) continue;
            char chunk[4096];
            const ssize_t count = read(fd_, chunk, sizeof chunk);
            if (count <= 0) closed_ = true;
            else buffer_.append(chunk, std::size_t(count));
        }
    }

    std::optional<StatusLine> waitFor(const std::string& state, double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
            if (left <= 0) return std::nullopt;
            auto line = next(left);
            if (!line) return std::nullopt;
            if (line->state() == state) return line;
        }
    }

    // Reads to the end of the output.
    void drain(double seconds) {
        while (next(seconds)) {}
    }

    const std::vector<StatusLine>& lines() const { return lines_; }

private:
    int fd_;
    std::string buffer_;
    bool closed_ = false;
    std::vector<StatusLine> lines_;
};

// ---------------------------------------------------------------- processes
std::string exitDescription(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
    return "unknown end";
}

std::optional<int> waitExit(pid_t pid, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

volatile sig_atomic_t lateWindowAsked = 0;

// The host plays the main application: its private window, then the share
// view as its child with the host's own process identifier; on SIGUSR1 one
// more private window, opened while the share view is live. It ends with the
// share view's exit status.
[[noreturn]] void runHost(const Options& options, unsigned long displayID, const standin::Area& privateArea,
                          const standin::Area& lateArea, int statusWrite, int controlWrite) {
    signal(SIGUSR1, [](int) { lateWindowAsked = 1; });
    ::Display* display = nullptr;
    if (options.scenario != "not-x-client") {
        display = XOpenDisplay(nullptr);
        if (!display) _exit(70);
        const Window window = standin::openPrivateWindow(display, privateArea, mainAppBundleID);
        if (!standin::waitViewable(display, window, 5)) _exit(71);
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(statusWrite, STDOUT_FILENO);
        close(statusWrite);
        close(controlWrite);
        // On a Wayland session an X client cannot see every window.
        if (options.scenario == "wayland") setenv("WAYLAND_DISPLAY", "wayland-standin", 1);
        const std::string parent = std::to_string(getppid());
        const std::string id = std::to_string(displayID);
        execl(options.shareView.c_str(), options.shareView.c_str(), "--parent-pid", parent.c_str(),
              "--display-id", id.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(statusWrite);
    const int sent = write(controlWrite, &child, sizeof child);
    (void)sent;
    close(controlWrite);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (lateWindowAsked && display) {
            lateWindowAsked = 0;
            standin::openPrivateWindow(display, lateArea, mainAppBundleID);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

// ---------------------------------------------------------------- pictures
struct Scene {
    standin::Monitor monitor;
    Window ordinary = None;
};

// Where a point of the screen appears in the share window's content, which
// shows the monitor fitted with its aspect ratio kept.
QPoint mirrored(const standin::Monitor& monitor, const QSize& content, int x, int y) {
    const double scale = std::min(double(content.width()) / monitor.area.width,
                                  double(content.height()) / monitor.area.height);
    const double left = (content.width() - monitor.area.width * scale) / 2;
    const double top = (content.height() - monitor.area.height * scale) / 2;
    return QPoint(int(left + (x - monitor.area.x) * scale), int(top + (y - monitor.area.y) * scale));
}

QImage shareWindowPicture(::Display* display, Window shareWindow, const std::string& file) {
    // Keep the pointer out of the way of the checked spots.
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, 0, 0);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QImage picture = standin::grabWindow(display, shareWindow);
    if (!file.empty()) {
        const bool saved = picture.save(QString::fromStdString(file), "PNG");
        std::cout << "[standin] " << (saved ? "saved " : "could not save ") << file << std::endl;
    }
    return picture;
}

void checkExclusion(::Display* display, const Scene& scene, const QImage& picture,
                    const standin::Area& privateOnScreen) {
    expect(!picture.isNull(), "the share window can be read");
    if (picture.isNull()) return;
    expect(standin::countNear(picture, standin::privateColour, 60) == 0,
           "not one pixel of the private colour in the share window");
    const auto ordinary = standin::rootArea(display, scene.ordinary);
    if (!ordinary) return;
    // Two spots inside the private window, each over the middle of a bar.
    for (double fraction : {0.25, 0.75}) {
        const int x = privateOnScreen.x + int(privateOnScreen.width * fraction);
        const int y = privateOnScreen.y + privateOnScreen.height / 2;
        const int bar = (x - ordinary->x) * standin::ordinaryBarCount / ordinary->width;
        const QPoint spot = mirrored(scene.monitor, picture.size(), x, y);
        const QRgb seen = picture.pixel(spot);
        char description[160];
        std::snprintf(description, sizeof description,
                      "the ordinary window shows where the private window lies (at %d,%d: #%06x, bar #%06lx)",
                      spot.x(), spot.y(), seen & 0xffffffu, standin::ordinaryBars[bar]);
        expect(bar >= 0 && bar < standin::ordinaryBarCount &&
                   standin::near(seen, standin::ordinaryBars[bar], 24),
               description);
    }
}

void checkStoppedText(const QImage& picture) {
    expect(!picture.isNull(), "the share window can be read");
    if (picture.isNull()) return;
    long white = 0, other = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            if (standin::near(pixel, 0xffffff, 60)) ++white;
            else if (!standin::near(pixel, 0x000000, 60) && qGray(pixel) < 100) ++other;
        }
    expect(standin::countNear(picture, standin::privateColour, 60) == 0, "no private colour after the change");
    expect(white > 200, "white text over the cleared picture");
    // The bars are gone: apart from the text's own edges the window is black.
    expect(standin::countNear(picture, standin::ordinaryBars[0], 24) == 0, "the mirrored picture is cleared");
}

// The share window as the user first sees it: 960 x 600 content, centred on
// the screen when no window manager places it, never smaller than 480 x 300.
void checkShareWindowShape(::Display* display, Window shareWindow, const standin::Monitor& monitor) {
    const auto area = standin::rootArea(display, shareWindow);
    expect(area && area->width == 960 && area->height == 600, "the share window's content is 960 x 600");
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False),
                       0, 1, False, AnyPropertyType, &type, &format, &count, &after, &data);
    const bool managed = count > 0;
    if (data) XFree(data);
    if (area && !managed) {
        const int dx = area->x + area->width / 2 - (monitor.area.x + monitor.area.width / 2);
        const int dy = area->y + area->height / 2 - (monitor.area.y + monitor.area.height / 2);
        expect(std::abs(dx) <= 2 && std::abs(dy) <= 2, "the share window is centred on the screen");
    }
    XSizeHints hints{};
    long supplied = 0;
    expect(XGetWMNormalHints(display, shareWindow, &hints, &supplied) && (hints.flags & PMinSize) &&
               hints.min_width == 480 && hints.min_height == 300,
           "the share window cannot be made smaller than 480 x 300");
}

// Resized to another shape, the window shows the whole picture with black
// bars at the sides, neither cropped nor stretched.
void checkFittedPicture(::Display* display, Window shareWindow, const Scene& scene) {
    XResizeWindow(display, shareWindow, 960, 300);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const QImage picture = standin::grabWindow(display, shareWindow);
    expect(picture.width() == 960 && picture.height() == 300, "the share window was resized to 960 x 300");
    if (picture.width() != 960 || picture.height() != 300) return;
    const double scale = std::min(960.0 / scene.monitor.area.width, 300.0 / scene.monitor.area.height);
    const int barX = (960 - int(scene.monitor.area.width * scale)) / 2;
    const int barY = (300 - int(scene.monitor.area.height * scale)) / 2;
    long lit = 0, sampled = 0;
    const auto sample = [&](int x, int y) {
        ++sampled;
        if (!standin::near(picture.pixel(x, y), 0x000000, 0)) ++lit;
    };
    if (barX > 4)
        for (int y = 0; y < 300; ++y)
            for (int x : {0, barX / 2, barX - 3, 959 - barX + 3, 959 - barX / 2, 959}) sample(x, y);
    if (barY > 4)
        for (int x = 0; x < 960; ++x)
            for (int y : {0, barY / 2, barY - 3, 299 - barY + 3, 299 - barY / 2, 299}) sample(x, y);
    expect(sampled > 0, "the new shape differs from the screen's");
    expect(lit == 0, "black bars on both sides of the fitted picture");
    const auto ordinary = standin::rootArea(display, scene.ordinary);
    if (!ordinary) return;
    // The middle of the first bar of the ordinary window, where the fit puts it.
    const QPoint spot = mirrored(scene.monitor, picture.size(), ordinary->x + ordinary->width / 8,
                                 ordinary->y + ordinary->height / 2);
    expect(standin::near(picture.pixel(spot), standin::ordinaryBars[0], 24),
           "the fitted picture keeps the screen's aspect ratio");
}

// ---------------------------------------------------------------- scenario
std::optional<Window> waitShareWindow(::Display* display, pid_t pid) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (auto window = standin::findWindowOf(display, pid, shareViewClass))
            if (standin::waitViewable(display, *window, 2)) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

bool switchMode(const standin::Monitor& monitor) {
    const std::string output = monitor.outputName.empty() ? "screen" : monitor.outputName;
    const std::string command =
        "xrandr --newmode standin-1600x900 118.25 1600 1696 1856 2112 900 903 908 934 -hsync +vsync 2>/dev/null; "
        "xrandr --addmode " + output + " standin-1600x900 && xrandr --output " + output + " --mode standin-1600x900";
    return std::system(command.c_str()) == 0;
}

int run(const Options& options) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    ::Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::cerr << "velto-host-standin: no X display\n";
        return 1;
    }
    Scene scene;
    const auto monitor = standin::firstMonitor(display);
    if (!monitor) {
        std::cerr << "velto-host-standin: no RandR monitor\n";
        return 1;
    }
    scene.monitor = *monitor;
    const unsigned long displayID =
        options.scenario == "unknown-display" ? 0x7fffff00ul : options.displayID.value_or(monitor->displayID);

    const standin::Area& screen = monitor->area;
    const standin::Area ordinaryArea{screen.x + screen.width * 3 / 100, screen.y + screen.height * 5 / 100,
                                     screen.width * 45 / 100, screen.height * 45 / 100};
    const standin::Area privateArea{ordinaryArea.x + ordinaryArea.width * 3 / 10,
                                    ordinaryArea.y + ordinaryArea.height / 4, ordinaryArea.width * 4 / 10,
                                    ordinaryArea.height / 2};
    const standin::Area lateArea{ordinaryArea.x + ordinaryArea.width / 20, ordinaryArea.y + ordinaryArea.height * 6 / 10,
                                 ordinaryArea.width / 5, ordinaryArea.height * 3 / 10};
    scene.ordinary = standin::openOrdinaryWindow(display, ordinaryArea);
    standin::waitViewable(display, scene.ordinary, 5);

    int status[2], control[2];
    if (pipe(status) != 0 || pipe(control) != 0) return 1;
    const pid_t host = fork();
    if (host == 0) {
        close(status[0]);
        close(control[0]);
        close(ConnectionNumber(display));
        runHost(options, displayID, privateArea, lateArea, status[1], control[1]);
    }
    close(status[1]);
    close(control[1]);
    pid_t shareView = 0;
    if (read(control[0], &shareView, sizeof shareView) != sizeof shareView) {
        std::cerr << "velto-host-standin: the host could not start the share view\n";
        return 1;
    }
    close(control[0]);
    std::cout << "[standin] host " << host << " started VeltoShareView " << shareView << " for display "
              << displayID << std::endl;
    StatusReader reader(status[0]);

    const auto shareWindow = waitShareWindow(display, shareView);
    expect(shareWindow.has_value(), "the share window is open with WM_CLASS class " + shareViewClass);

    if (options.scenario == "close" || options.scenario == "kill-host" || options.scenario == "randr" ||
        options.scenario == "capture-lost") {
        const auto starting = reader.waitFor("starting", 15);
        expect(starting && starting->integerValue("displayID") == (long long)displayID,
               "\"starting\" names display " + std::to_string(displayID));
        expect(starting && starting->integerValue("excludedApplicationCount").value_or(0) >= 2,
               "\"starting\" excludes at least 2 applications");
        expect(reader.waitFor("live", 15).has_value(), "\"live\" follows");
        std::this_thread::sleep_for(std::chrono::duration<double>(options.hold));
    }
    if (options.scenario == "unknown-display") {
        const auto error = reader.waitFor("error", 15);
        expect(error && error->message() == displayUnavailable, "the display-unavailable error");
    }
    if (options.scenario == "wayland") {
        const auto line = reader.next(15);
        expect(line && line->state() == "permission_required", "\"permission_required\" and nothing before it");
        expect(!reader.next(1.5), "no other line while waiting for permission");
    }
    if (options.scenario == "not-x-client") {
        const auto error = reader.waitFor("error", 15);
        expect(error && error->message() == privateWindowsUnknown, "the private-windows error");
    }

    if (options.scenario == "close" && shareWindow && options.verify) {
        checkShareWindowShape(display, *shareWindow, scene.monitor);
        // A private window that opens while the presentation is live.
        kill(host, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        expect(standin::viewableWindowsOf(display, host, mainAppBundleID).size() == 2,
               "a second private window opened while live");
    }
    if (options.scenario == "close" && shareWindow && !options.screenPicture.empty()) {
        // Move the share window off the other two so that one picture of the
        // whole screen shows all three.
        const auto& area = scene.monitor.area;
        XMoveWindow(display, *shareWindow, area.x + area.width - 960 - 16, area.y + area.height - 600 - 16);
        XSync(display, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        const bool saved = standin::grabWindow(display, DefaultRootWindow(display))
                               .save(QString::fromStdString(options.screenPicture), "PNG");
        std::cout << "[standin] " << (saved ? "saved " : "could not save ") << options.screenPicture << std::endl;
    }
    if (options.scenario == "close" && shareWindow) {
        const QImage picture = shareWindowPicture(display, *shareWindow, options.screenshot);
        if (options.verify) {
            // The host's window, where it ended up (a window manager may frame it).
            const auto privateWindow = standin::findWindowOf(display, host, mainAppBundleID);
            const auto privateOnScreen = privateWindow ? standin::rootArea(display, *privateWindow) : std::nullopt;
            expect(privateOnScreen.has_value(), "the private window is on screen");
            if (privateOnScreen) checkExclusion(display, scene, picture, *privateOnScreen);
            checkFittedPicture(display, *shareWindow, scene);
        }
    }
    if (options.scenario == "randr") {
        expect(switchMode(*monitor), "the display mode was switched");
        const auto error = reader.waitFor("error", 10);
        expect(error && error->message() == displayChanged, "the display-changed error");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (shareWindow) {
            const QImage picture = shareWindowPicture(display, *shareWindow, options.screenshot);
            if (options.verify) checkStoppedText(picture);
        }
    }

    if (options.scenario == "capture-lost") {
        expect(standin::breakCaptureConnection(display, shareView), "the capture's X connection was closed");
        const auto error = reader.waitFor("error", 10);
        expect(error && error->message() == captureStopped, "the capture-stopped error");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (shareWindow) {
            const QImage picture = shareWindowPicture(display, *shareWindow, options.screenshot);
            if (options.verify) checkStoppedText(picture);
        }
    }

    if (options.scenario == "kill-host") {
        const auto killed = Clock::now();
        kill(host, SIGKILL);
        waitpid(host, nullptr, 0);
        const auto stopped = reader.waitFor("stopped", 5);
        const double after = std::chrono::duration<double>(Clock::now() - killed).count();
        char description[96];
        std::snprintf(description, sizeof description, "\"stopped\" %.2f s after the host was killed", after);
        expect(stopped && after <= 1.6, description);
        const auto exit = waitExit(shareView, 5);
        expect(exit && WIFEXITED(*exit) && WEXITSTATUS(*exit) == 0,
               "the share view ended with " + (exit ? exitDescription(*exit) : std::string("no end")));
    } else {
        if (shareWindow) {
            standin::askToClose(display, *shareWindow);
            std::cout << "[standin] asked the share window to close" << std::endl;
        }
        reader.drain(5);
        const auto exit = waitExit(host, 5);
        expect(exit && WIFEXITED(*exit) && WEXITSTATUS(*exit) == 0,
               "the share view ended with " + (exit ? exitDescription(*exit) : std::string("no end")));
    }
    reader.drain(1);
    const auto& lines = reader.lines();
    expect(!lines.empty() && lines.back().state() == "stopped", "\"stopped\" is the last line");
    long stoppedCount = 0;
    for (const auto& line : lines) stoppedCount += line.state() == "stopped";
    expect(stoppedCount == 1, "exactly one \"stopped\" line");

    XCloseDisplay(display);
    std::cout << (failures == 0 ? "[standin] all checks passed" : "[standin] some checks FAILED") << std::endl;
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    // A window that vanished between two requests is not a reason to stop checking.
    XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
    return run(parse(argc, argv));
}
