// velto-host-standin: plays the main application for the share view's
// end-to-end tests and the demo. Not part of the product.
//
// The stand-in shows an ordinary window (coloured bars). A host process
// (Host.h) plays the main application: a private window of one solid colour
// over the bars, VeltoShareView as its child, and the only reader of its
// status pipe. The stand-in itself is a child subreaper, so that it can
// collect the share view's exit status after the host is gone; it takes
// pictures of the share window and checks what each scenario expects
// (Scenarios.h).

#include "Expect.h"
#include "Scenarios.h"

#include <signal.h>
#include <sys/prctl.h>

#include <cstdlib>
#include <iostream>
#include <string>

namespace {

using namespace standin;

const std::string mainAppBundleID = VELTO_MAIN_APP_BUNDLE_ID;

[[noreturn]] void usage() {
    std::cerr << "usage: velto-host-standin --share-view PATH "
                 "[--scenario close|kill-host|close-read-end|signals|xkill|x-server-gone|unknown-display|"
                 "not-x-client|randr|capture-lost|wayland|workspace] [--screenshot FILE.png] [--screen-picture FILE.png] "
                 "[--verify] [--hold SECONDS] [--display-id N] [--x-server-pid PID]\n";
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
        else if (name == "--x-server-pid") options.xServer = pid_t(std::stol(value()));
        else if (name == "--hold") options.hold = std::stod(value());
        else if (name == "--verify") options.verify = true;
        else usage();
    }
    if (options.shareView.empty() || !knownScenario(options.scenario)) usage();
    return options;
}

int run(const Options& options) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    ::Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::cerr << "velto-host-standin: no X display\n";
        return 1;
    }
    const auto monitor = firstMonitor(display);
    if (!monitor) {
        std::cerr << "velto-host-standin: no RandR monitor\n";
        return 1;
    }
    Stage stage{options, display, {*monitor, None}, {}};
    const Area& screen = monitor->area;
    const Area ordinaryArea{screen.x + screen.width * 3 / 100, screen.y + screen.height * 5 / 100,
                            screen.width * 45 / 100, screen.height * 45 / 100};
    stage.plan.shareView = options.shareView;
    stage.plan.displayID =
        options.scenario == "unknown-display" ? 0x7fffff00ul : options.displayID.value_or(monitor->displayID);
    stage.plan.xClient = options.scenario != "not-x-client";
    stage.plan.waylandSession = options.scenario == "wayland";
    stage.plan.privateArea = {ordinaryArea.x + ordinaryArea.width * 3 / 10, ordinaryArea.y + ordinaryArea.height / 4,
                              ordinaryArea.width * 4 / 10, ordinaryArea.height / 2};
    stage.plan.lateArea = {ordinaryArea.x + ordinaryArea.width / 20, ordinaryArea.y + ordinaryArea.height * 6 / 10,
                           ordinaryArea.width / 5, ordinaryArea.height * 3 / 10};
    stage.plan.windowClass = mainAppBundleID;
    stage.scene.ordinary = openOrdinaryWindow(display, ordinaryArea);
    waitViewable(display, stage.scene.ordinary, 5);

    runScenario(options.scenario, stage);

    if (!stage.displayGone) XCloseDisplay(display);
    std::cout << (failures == 0 ? "[standin] all checks passed" : "[standin] some checks FAILED") << std::endl;
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // The host relays into a socket whose reader may be gone.
    signal(SIGPIPE, SIG_IGN);
    // A window that vanished between two requests is not a reason to stop checking.
    XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
    return run(parse(argc, argv));
}
