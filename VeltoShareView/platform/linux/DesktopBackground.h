#pragma once
// What shows where no window is painted: the desktop's background as desktops
// publish it (the root pixmap named by _XROOTPMAP_ID, or ESETROOT_PMAP_ID),
// tiled across the screen as compositing managers tile it; a neutral fill
// where none is published. Never a copy of what was on the screen, which
// would hold whatever private window lay there.

#include "ShareableContentX11.h"
#include "XConnection.h"

#include <X11/extensions/Xrender.h>

namespace velto::x11 {

class DesktopBackground {
public:
    // The caller selects PropertyChangeMask on the root and calls refresh()
    // whenever isBackgroundProperty() holds for a changed property.
    DesktopBackground(XConnection& connection, MonitorArea area);
    ~DesktopBackground();
    DesktopBackground(const DesktopBackground&) = delete;
    DesktopBackground& operator=(const DesktopBackground&) = delete;

    bool isBackgroundProperty(Atom property) const;
    // Reads the property afresh; a pixmap that cannot be used gives the fill.
    void refresh();
    // Paints the monitor's part of the background into `target` within `clip`
    // (monitor coordinates).
    void paint(Picture target, Region clip);

private:
    void release();
    Pixmap publishedPixmap();

    XConnection& connection_;
    ::Display* display_;
    const MonitorArea area_;
    const Atom rootPixmapID_;
    const Atom esetrootPixmapID_;
    Picture picture_ = None;  // keeps the pixmap alive in the server while it is used
};

}  // namespace velto::x11
