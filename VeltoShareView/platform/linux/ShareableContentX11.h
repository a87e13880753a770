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

// The native side of a RunningApplication record: the client's resource-id
// range, which names every window the client creates.
struct ClientRange {
    XID base = 0;
    XID mask = 0;
    bool owns(XID resource) const { return (resource & ~mask) == base; }
};

std::vector<shareview::Display> queryMonitors(::Display* display);
std::vector<RunningApplication> queryClients(::Display* display);

// The process behind one X client as the server knows it (not what the client
// claims), or nothing when the server cannot tell.
std::optional<pid_t> serverKnownProcessID(::Display* display, XID clientResource);

ShareableContentResult queryShareableContent();

}  // namespace velto::x11
