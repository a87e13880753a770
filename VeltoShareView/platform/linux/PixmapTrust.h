#pragma once
// Which pixels of a top-level window's pixmap its own program painted,
// decided over plain values. The X server fills each new pixmap of a
// redirected window (when it maps, grows or shrinks, and when the capture
// first redirects it) with the screen's pixels at its place, private windows
// included, and carries over of the old content only what the window's bit
// gravity keeps. A window without background shows that copy until its
// program paints there; the capture trusts a pixel again only once damage
// reported after its request to repaint says the program did.

#include "Box.h"

#include <optional>

namespace velto::x11 {

// Where a resized window's old content lies in its new pixmap: old pixel
// (x, y) lands at (x + dx, y + dy), inside coordinates. `kept` is the part of
// the new inside it covers; empty when nothing is kept (ForgetGravity, or
// the old content fell outside).
struct KeptContent {
    int dx = 0, dy = 0;
    Box kept;
};

// `before` and `after` are the window's inside boxes in root coordinates
// (the position matters for StaticGravity only); `bitGravity` is the X
// protocol's value (ForgetGravity 0 … StaticGravity 10).
KeptContent keptAfterResize(const Box& before, const Box& after, int bitGravity);

// Whether damage to an untrusted area says its program painted there. Every
// report carries the number of this connection's last request the server had
// handled when it made the report. A window whose pixmap was filled is asked
// to paint again, from request `repaintAsked` on: what the server reported
// before handling it says nothing (its own reports of the fill, of the
// border, of a watch begun after it, and paints the fill may have followed
// or not). Without such a request, any report after the change counts.
bool clearsCover(unsigned long reportedAfterRequest, std::optional<unsigned long> repaintAsked);

}  // namespace velto::x11
