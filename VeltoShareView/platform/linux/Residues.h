#pragma once
// Where a painted top-level window's pixmap may still hold another program's
// pixels: a private window's last pixels in a window without background after
// the private window went, moved or shrank, and the screen's pixels (private
// windows included) that the server copies into a window's new pixmap when it
// maps. Kept as server regions relative to each window's inside corner, as
// damage is reported, and cleared where the window's program paints anew.

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

#include <map>

namespace velto::x11 {

class Residues {
public:
    explicit Residues(::Display* display) : display_(display) {}
    Residues(const Residues&) = delete;
    Residues& operator=(const Residues&) = delete;

    // Every child of the root is watched from its creation on (each change
    // reported with its area, in stream order): its program may paint right
    // after it maps, before any judgement of it.
    void watch(Window window);
    // No longer a child of the root.
    void unwatch(Window window);
    // Its watch went with it.
    void destroyed(Window window) { damages_.erase(window); }
    // From the change on (in stream order), what `covered` (relative to the
    // outer corner) hides stays covered until painted anew.
    void keep(Window window, XserverRegion covered, int border);
    // A top-level window just mapped: what lay `beneath` it (relative to its
    // inside corner; taken over) stays covered until its program paints there.
    void mapped(Window window, XserverRegion beneath);
    void painted(const XDamageNotifyEvent& damage);
    // The window's pixmap went (unmapped or destroyed): nothing of it is left.
    void forget(Window window);
    // None when nothing of the window is covered.
    XserverRegion of(Window window) const;

private:
    XserverRegion regionOf(Window window);

    ::Display* display_;
    std::map<Window, Damage> damages_;
    std::map<Window, XserverRegion> regions_;  // freed with the connection
    // Per window mapped and asked to paint again: the first request's number.
    std::map<Window, unsigned long> repaintAsked_;
};

}  // namespace velto::x11
