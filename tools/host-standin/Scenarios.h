#pragma once
// The stand-in's scenarios: each starts one or more share views under hosts
// of its own and checks what the main application would see.

// Qt (in PictureChecks.h) before Xlib, whose macros would clash with its names.
#include "PictureChecks.h"
#include "Host.h"

#include <sys/types.h>

#include <optional>
#include <string>

namespace standin {

struct Options {
    std::string shareView;
    std::string scenario = "close";
    std::string screenshot;
    std::string screenPicture;
    std::optional<unsigned long> displayID;
    std::optional<pid_t> xServer;
    double hold = 1.0;
    bool verify = false;
};

// What every scenario shares: the X display, the ordinary window and what a
// host is to do.
struct Stage {
    const Options& options;
    ::Display* display;
    Scene scene;
    HostPlan plan;
    bool displayGone = false;  // the X server was killed
};

bool knownScenario(const std::string& name);
void runScenario(const std::string& name, Stage& stage);

}  // namespace standin
