#pragma once
// What the X server can tell about the screens and the programs on them:
// RandR monitors as displays, X clients as applications.

#include "ShareTypes.h"

#include <X11/Xlib.h>

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace velto::x11 {

// The native side of a Display record: where the monitor lies on the screen.
struct MonitorArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

std::vector<shareview::Display> queryMonitors(::Display* display);
// One record per process: every X client of it together, the bundle
// identifier from the class of its top-level client windows; a client whose
// process cannot be told is a record of its own. The records carry nothing
// native: the capture judges every window afresh by the exclusion rule.
std::vector<RunningApplication> queryApplications(::Display* display);

// The process behind one X client as the server knows it (not what the client
// claims), or nothing when the server cannot tell.
std::optional<pid_t> serverKnownProcessID(::Display* display, XID clientResource);

ShareableContentResult queryShareableContent();

}  // namespace velto::x11
