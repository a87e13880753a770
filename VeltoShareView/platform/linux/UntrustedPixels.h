#pragma once
// Where a painted top-level window's pixmap holds pixels its own program did
// not paint: what the X server copied from the screen into a new pixmap (at
// the capture's first redirection, a map, a resize, a return to the root),
// and a private child's last pixels left in a parent without background
// after the child went, moved or shrank. Kept per window relative to its
// inside corner, as damage is reported, and trusted again where its program
// paints anew: after a fill, only damage reported after the capture asked
// the window's whole tree to repaint counts.

#include "Box.h"
#include "WindowQueries.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

#include <map>
#include <optional>
#include <vector>

namespace velto::x11 {

class UntrustedPixels {
public:
    explicit UntrustedPixels(::Display* display);
    ~UntrustedPixels();
    UntrustedPixels(const UntrustedPixels&) = delete;
    UntrustedPixels& operator=(const UntrustedPixels&) = delete;

    // The children of the root just after the capture redirected them: each
    // viewable one holds a fresh copy of the screen. Every child of the root
    // is watched from then on (each change reported with its area, in stream
    // order): its program may paint right after it maps, before any
    // judgement of it.
    void start(const std::vector<Window>& children);
    void created(const XCreateWindowEvent& event);
    // Onto the root (watched) or off it (no longer a top-level window).
    void reparented(const XReparentEvent& event, Window root);
    void mapped(Window window);
    // True when the server gave the window a new pixmap (it changed size while mapped).
    bool configured(const XConfigureEvent& event);
    // The window's pixmap went: nothing of it is left.
    void unmapped(Window window);
    void destroyed(Window window);

    // From now on (in stream order), `area` (inside coordinates; all of the
    // window when not given) is not trusted until painted anew after a
    // repaint request: another program's last pixels may linger there.
    void distrust(Window window, std::optional<Box> area = std::nullopt);
    void painted(const XDamageNotifyEvent& damage);
    // The windows changed: the server may now report damage of its own on a
    // window (exposed by a restack, or by a window above it going) without
    // any program painting. Every window still partly untrusted is asked to
    // repaint again, and only damage after that counts.
    void askAgain();
    // Repaint requests wait to be sent together, once per look at the screen
    // rather than once per event: each costs round trips, and while they run
    // a busy desktop sends more events than one could ever catch up with.
    // Until its request is sent, no damage clears a window's untrusted pixels.
    bool hasRepaintsToAsk() const;
    void askRepaints();

    // Nothing when all of the window is trusted; relative to its inside corner.
    Region of(Window window) const;

private:
    struct Watched {
        Damage damage = None;
        Box inside;  // root coordinates
        bool mapped = false;
        Region untrusted = nullptr;  // client side: its emptiness is known without asking
        // The first request of the latest repaint asked for.
        std::optional<unsigned long> repaintAsked;
        std::optional<Box> repaintToAsk;  // inside coordinates
    };
    Watched* find(Window window);
    void watch(Window window, const Box& inside, bool mapped);
    void addUntrusted(Watched& watched, const Box& area);
    // Every window of the tree is to be asked to paint `area` (inside
    // coordinates) again: exposed, and its background painted where it has
    // one. Only damage reported after that clears the window's untrusted pixels.
    void askRepaint(Watched& watched, const Box& area);
    void clear(Watched& watched);

    ::Display* display_;
    WindowQueries queries_;
    std::map<Window, Watched> watched_;
};

}  // namespace velto::x11
