#pragma once
// Who may be painted, and what of them must not show: the top-level windows
// the exclusion judge lets through, bottom to top, each with its pixmap, its
// shape and what of it is covered in black (private windows inside it, and
// pixels its program has not painted since the server filled them). Keeps the
// judgement current from the connection's events and says, after each new
// judgement, where the picture may differ from the last one.

#include "ExclusionJudge.h"
#include "FrameGeometry.h"
#include "UntrustedPixels.h"
#include "XConnection.h"

#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrender.h>

#include <optional>
#include <set>
#include <vector>

namespace velto::x11 {

struct TopLevel {
    PaintableWindow source;
    Pixmap pixmap = None;
    Picture picture = None;
    bool opaque = true;
    // The bounding shape of a non-rectangular window, relative to the
    // window's inside corner (the border lies at negative coordinates).
    XserverRegion shape = None;
    // What is painted over in black, relative to the outer corner.
    XserverRegion covered = None;

    Box bounds() const { return {source.x, source.y, source.width, source.height}; }
};

class PaintedScene {
public:
    // The caller has selected substructure events on the root.
    PaintedScene(XConnection& connection, shareview::ExclusionRule rule, ResourceID clientMask);
    PaintedScene(const PaintedScene&) = delete;
    PaintedScene& operator=(const PaintedScene&) = delete;

    // A structure event, or a change of a window's shape.
    void observe(const XEvent& event, bool shapeChanged);
    // A property of a window below the root changed; true when it may change
    // who owns the window.
    bool observeProperty(const XPropertyEvent& event);
    // Damage reported on a child of the root: where the picture changed (root
    // coordinates), when that window is painted.
    std::optional<Box> painted(const XDamageNotifyEvent& damage);

    // Whether the windows changed since the last judgement, and whether a
    // change happened that may put other programs' pixels into a frame
    // painted from that judgement: below the top-level windows (inside a
    // painted one), or a top-level window given a new pixmap, which the
    // server fills from the screen.
    bool stale() const { return stale_; }
    // Windows whose untrusted pixels wait for a repaint request to be sent.
    bool hasRepaintsToAsk() const { return untrusted_.hasRepaintsToAsk(); }
    void askRepaints() { untrusted_.askRepaints(); }
    bool changedWithin() const { return changedWithin_; }
    void markStale() { stale_ = true; }
    // Judges afresh. Where the picture may differ from the scene before
    // (root coordinates): windows that came, went, moved, were restacked or
    // changed how they are covered.
    Area rejudge();

    const std::vector<TopLevel>& topLevels() const { return topLevels_; }
    // What of the window its program has not painted (nothing when all of
    // it is trusted); relative to its inside corner.
    Region untrustedOf(Window window) const { return untrusted_.of(window); }

private:
    std::vector<WindowLook> looks() const;

    // After a change inside a painted tree: whether another program's last
    // pixels may now linger in it.
    void distrustAfter(const XEvent& event);
    // Where the new judgement finds pixels that no watch followed.
    void distrustUnfollowed();
    // Whether the server gave a top-level window a new pixmap.
    bool trackPixmaps(const XEvent& event);
    // Names the pixmap and makes the pictures and regions, unchecked; false
    // when the window's visual has no picture format.
    bool prepare(TopLevel& topLevel);
    void release(TopLevel& topLevel);
    bool isShaped(Window window);

    XConnection& connection_;
    ::Display* display_;
    const ResourceID clientMask_;
    ExclusionJudge judge_;
    UntrustedPixels untrusted_;
    std::vector<TopLevel> topLevels_;  // bottom to top, painted

    bool stale_ = true;
    bool changedWithin_ = false;  // since the last judgement
    std::set<Window> holdingPrivate_;  // painted top-levels with private windows inside, as last judged
    std::set<Window> unmappedCovers_;  // unmapped private windows whose last pixels were seen to
};

}  // namespace velto::x11
