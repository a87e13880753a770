#pragma once
// A private Xlib connection per job (capture, rendering, screen watch,
// content queries): each lives on one thread, so Xlib needs no locking, and a
// broken connection is noticed per connection instead of ending the process.

#include <X11/Xlib.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velto::x11 {

class XConnection {
public:
    // Nothing when the display cannot be opened.
    static std::unique_ptr<XConnection> open();
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    ::Display* display() const { return display_; }
    Window root() const { return DefaultRootWindow(display_); }
    // True once Xlib has reported the connection as lost; no request may be
    // made afterwards.
    bool broken() const { return broken_; }

private:
    explicit XConnection(::Display* display);
    static void onConnectionLost(::Display* display, void* self);

    ::Display* display_;
    bool broken_ = false;
};

// The children of `window`, bottom-most first; empty when it is gone.
std::vector<Window> childWindows(::Display* display, Window window);

// Why the extensions the share view relies on are not all there, or nothing.
std::optional<std::string> missingExtension(::Display* display);

// True when the session is a Wayland one: X clients there see only other X
// clients, so nothing else could be left out of the picture reliably.
bool isWaylandSession();

}  // namespace velto::x11
