#include "DesktopBackground.h"

#include <X11/Xatom.h>

namespace velto::x11 {
namespace {

// A quiet grey, what compositing managers show when no background is published.
constexpr XRenderColor neutralFill{0x3030, 0x3030, 0x3030, 0xffff};

}  // namespace

DesktopBackground::DesktopBackground(XConnection& connection, MonitorArea area)
    : connection_(connection), display_(connection.display()), area_(area),
      rootPixmapID_(XInternAtom(display_, "_XROOTPMAP_ID", False)),
      esetrootPixmapID_(XInternAtom(display_, "ESETROOT_PMAP_ID", False)) {}

DesktopBackground::~DesktopBackground() { release(); }

bool DesktopBackground::isBackgroundProperty(Atom property) const {
    return property == rootPixmapID_ || property == esetrootPixmapID_;
}

void DesktopBackground::release() {
    if (picture_ != None && !connection_.broken()) XRenderFreePicture(display_, picture_);
    picture_ = None;
}

Pixmap DesktopBackground::publishedPixmap() {
    for (Atom property : {rootPixmapID_, esetrootPixmapID_}) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display_, connection_.root(), property, 0, 1, False, XA_PIXMAP, &type, &format,
                               &count, &after, &data) != Success)
            continue;
        Pixmap pixmap = None;
        if (data != nullptr && type == XA_PIXMAP && format == 32 && count == 1)
            pixmap = static_cast<Pixmap>(*reinterpret_cast<unsigned long*>(data));
        if (data != nullptr) XFree(data);
        if (pixmap != None) return pixmap;
    }
    return None;
}

void DesktopBackground::refresh() {
    release();
    const Pixmap pixmap = publishedPixmap();
    if (pixmap == None) return;
    Window root = None;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, border = 0, depth = 0;
    // A stale property may name a pixmap that is long gone.
    if (XGetGeometry(display_, pixmap, &root, &x, &y, &width, &height, &border, &depth) == 0) return;
    const int screen = DefaultScreen(display_);
    XRenderPictFormat* format = nullptr;
    if (int(depth) == DefaultDepth(display_, screen))
        format = XRenderFindVisualFormat(display_, DefaultVisual(display_, screen));
    else if (depth == 32)
        format = XRenderFindStandardFormat(display_, PictStandardARGB32);
    else if (depth == 24)
        format = XRenderFindStandardFormat(display_, PictStandardRGB24);
    if (format == nullptr) return;
    XRenderPictureAttributes attributes{};
    attributes.repeat = RepeatNormal;
    ErrorTrap trap(connection_);
    picture_ = XRenderCreatePicture(display_, pixmap, format, CPRepeat, &attributes);
    if (trap.failed()) picture_ = None;  // never made, nothing to free
}

void DesktopBackground::paint(Picture target, Region clip) {
    XRenderSetPictureClipRegion(display_, target, clip);
    if (picture_ != None) {
        // Tiled from the root's corner, so the monitor shows its own part.
        XRenderComposite(display_, PictOpSrc, picture_, None, target, area_.x, area_.y, 0, 0, 0, 0,
                         unsigned(area_.width), unsigned(area_.height));
    } else {
        XRenderFillRectangle(display_, PictOpSrc, target, &neutralFill, 0, 0, unsigned(area_.width),
                             unsigned(area_.height));
    }
    XRenderPictureAttributes noClip{};
    noClip.clip_mask = None;
    XRenderChangePicture(display_, target, CPClipMask, &noClip);
}

}  // namespace velto::x11
