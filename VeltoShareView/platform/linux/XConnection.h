#pragma once
// A private Xlib connection per job (capture, rendering, screen watch,
// content queries): each lives on one thread, so Xlib needs no locking, and a
// broken connection is noticed per connection instead of ending the process.

#include "Box.h"

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

    // Waits for the server's answer to every request made so far and tells
    // whether one made at or after `firstRequest` (a NextRequest value) failed.
    bool failedSince(unsigned long firstRequest);

private:
    explicit XConnection(::Display* display);
    static void onConnectionLost(::Display* display, void* self);
    static int recordProtocolError(::Display* display, XErrorEvent* error);

    ::Display* display_;
    bool broken_ = false;
    // Serial of the latest request the server refused; read and written only
    // on the thread that uses the connection (Xlib reports errors there).
    unsigned long lastFailedRequest_ = 0;
};

// Watches the requests made on one connection from its construction on: a
// window that vanished, a pixmap that could not be named, a refused
// redirection. Where such a failure changes the picture, the caller must not
// trust what it built.
class ErrorTrap {
public:
    explicit ErrorTrap(XConnection& connection)
        : connection_(connection), firstRequest_(NextRequest(connection.display())) {}
    // Round trip: true when any request since construction failed, or the
    // connection is lost.
    bool failed() { return connection_.failedSince(firstRequest_); }

private:
    XConnection& connection_;
    const unsigned long firstRequest_;
};

// The children of `window`, bottom-most first; empty when it is gone.
std::vector<Window> childWindows(::Display* display, Window window);
// The outer box of `window` in its parent's coordinates, and its border;
// false when it is gone.
bool windowGeometry(::Display* display, Window window, XRectangle& outer, int& border);

inline XRectangle rectangleOf(const Box& box) {
    return {short(box.x), short(box.y), static_cast<unsigned short>(box.width), static_cast<unsigned short>(box.height)};
}

// Why the extensions the share view relies on are not all there, or nothing.
std::optional<std::string> missingExtension(::Display* display);

// True when the session is a Wayland one: X clients there see only other X
// clients, so nothing else could be left out of the picture reliably.
bool isWaylandSession();

}  // namespace velto::x11
