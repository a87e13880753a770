#include "ProbeWindows.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/shape.h>

#include <unistd.h>

namespace probe {
namespace {

void describeTopLevel(::Display* display, Window window, const WindowRequest& request) {
    XStoreName(display, window, request.windowClass.c_str());
    XClassHint hint{const_cast<char*>("probe"), const_cast<char*>(request.windowClass.c_str())};
    XSetClassHint(display, window, &hint);
    XSizeHints sizes{};
    sizes.flags = USPosition | USSize | PPosition | PSize;
    sizes.x = request.area.x;
    sizes.y = request.area.y;
    sizes.width = request.area.width;
    sizes.height = request.area.height;
    XSetWMNormalHints(display, window, &sizes);
    const long pid = getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
}

// Premultiplied, with four fifths of full opacity.
unsigned long translucent(unsigned long rgb) {
    const unsigned long alpha = 0xcc;
    const auto channel = [&](int shift) { return (((rgb >> shift) & 0xff) * alpha / 0xff) << shift; };
    return (alpha << 24) | channel(16) | channel(8) | channel(0);
}

Window createArgb(::Display* display, Window parent, const Area& area, unsigned long colour) {
    XVisualInfo wanted{};
    wanted.screen = DefaultScreen(display);
    wanted.depth = 32;
    wanted.c_class = TrueColor;
    XVisualInfo visual{};
    if (!XMatchVisualInfo(display, wanted.screen, 32, TrueColor, &visual)) return None;
    XSetWindowAttributes attributes{};
    attributes.colormap = XCreateColormap(display, parent, visual.visual, AllocNone);
    attributes.background_pixel = translucent(colour);
    attributes.border_pixel = 0;
    return XCreateWindow(display, parent, area.x, area.y, unsigned(area.width), unsigned(area.height), 0, 32,
                         InputOutput, visual.visual, CWColormap | CWBackPixel | CWBorderPixel, &attributes);
}

}  // namespace

Window createWindow(::Display* display, const WindowRequest& request) {
    const Window root = DefaultRootWindow(display);
    const Window parent = request.parent == None ? root : request.parent;
    Window window = None;
    if (request.kind == Kind::argb) {
        window = createArgb(display, parent, request.area, request.colour);
    } else {
        XSetWindowAttributes attributes{};
        attributes.background_pixel = request.colour;
        attributes.override_redirect = request.kind == Kind::overrideRedirect;
        window = XCreateWindow(display, parent, request.area.x, request.area.y, unsigned(request.area.width),
                               unsigned(request.area.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                               CWBackPixel | CWOverrideRedirect, &attributes);
    }
    if (window == None) return None;
    if (request.kind == Kind::shaped) {
        // A ring: the middle third in both directions is cut out.
        const short w = short(request.area.width), h = short(request.area.height);
        const XRectangle ring[] = {{0, 0, ushort(w), ushort(h / 3)},
                                   {0, short(h - h / 3), ushort(w), ushort(h / 3)},
                                   {0, short(h / 3), ushort(w / 3), ushort(h - 2 * (h / 3))},
                                   {short(w - w / 3), short(h / 3), ushort(w / 3), ushort(h - 2 * (h / 3))}};
        XShapeCombineRectangles(display, window, ShapeBounding, 0, 0, const_cast<XRectangle*>(ring), 4, ShapeSet,
                                Unsorted);
    }
    if (parent == root && !request.windowClass.empty()) describeTopLevel(display, window, request);
    return window;
}

Window createChain(::Display* display, Window parent, const Area& area, int depth, unsigned long colour) {
    Window window = parent;
    Area next = area;
    for (int level = 0; level < depth; ++level) {
        window = createWindow(display, {Kind::plain, window, next, colour, {}});
        XMapWindow(display, window);
        next = {6, 6, next.width - 12, next.height - 12};
    }
    return window;
}

unsigned long desktopColourAt(std::optional<unsigned long> solid, int x, int y) {
    if (solid) return *solid;
    return desktopTile[((x / desktopTileSide) + (y / desktopTileSide)) % 2];
}

bool nearDesktopEdge(int x, int y, int margin) {
    const auto near = [&](int v) {
        const int offset = v % desktopTileSide;
        return offset < margin || offset >= desktopTileSide - margin;
    };
    return near(x) || near(y);
}

void publishDesktop(::Display* display, std::optional<unsigned long> solid) {
    const Window root = DefaultRootWindow(display);
    const int side = 2 * desktopTileSide;
    const Pixmap tile = XCreatePixmap(display, root, unsigned(side), unsigned(side),
                                      unsigned(DefaultDepth(display, DefaultScreen(display))));
    const GC gc = XCreateGC(display, tile, 0, nullptr);
    for (int y = 0; y < side; y += desktopTileSide)
        for (int x = 0; x < side; x += desktopTileSide) {
            XSetForeground(display, gc, desktopColourAt(solid, x, y));
            XFillRectangle(display, tile, gc, x, y, desktopTileSide, desktopTileSide);
        }
    XFreeGC(display, gc);
    // The pixmap outlives this connection only if it stays open; the probe's
    // connection does, for the whole test.
    for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"})
        XChangeProperty(display, root, XInternAtom(display, name, False), XA_PIXMAP, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&tile), 1);
    XSetWindowBackgroundPixmap(display, root, tile);
    XClearWindow(display, root);
    XSync(display, False);
}

Window topLevelOf(::Display* display, Window window) {
    const Window root = DefaultRootWindow(display);
    for (;;) {
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &count)) return None;
        if (children) XFree(children);
        if (parent == root || parent == None) return window;
        window = parent;
    }
}


XID clientBase(::Display* display, XID resource) {
    int count = 0;
    XResClient* clients = nullptr;
    XID base = 0;
    if (XResQueryClients(display, &count, &clients) && count > 0)
        base = resource & ~clients[0].resource_mask;
    if (clients) XFree(clients);
    return base;
}

}  // namespace probe
