#include "StandinWindows.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xrandr.h>

#include <chrono>
#include <thread>
#include <vector>

namespace standin {

std::vector<Window> childrenOf(::Display* display, Window window) {
    Window root = None, parent = None;
    Window* list = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &list, &count)) return {};
    std::vector<Window> result(list, list + count);
    if (list) XFree(list);
    return result;
}

namespace {

std::optional<pid_t> processOf(::Display* display, Window window) {
    XResClientIdSpec clientId{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    if (XResQueryClientIds(display, 1, &clientId, &count, &values) != Success) return std::nullopt;
    std::optional<pid_t> pid;
    for (long i = 0; i < count; ++i)
        if (XResGetClientPid(&values[i]) > 0) pid = XResGetClientPid(&values[i]);
    XResClientIdsDestroy(count, values);
    return pid;
}

Window openTopLevel(::Display* display, const Area& area, const std::string& name,
                    const std::string& windowClass) {
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = BlackPixel(display, screen);
    const Window window = XCreateWindow(display, RootWindow(display, screen), area.x, area.y,
                                        unsigned(area.width), unsigned(area.height), 0,
                                        CopyFromParent, InputOutput, CopyFromParent, CWBackPixel,
                                        &attributes);
    XStoreName(display, window, name.c_str());
    XClassHint hint{const_cast<char*>("standin"), const_cast<char*>(windowClass.c_str())};
    XSetClassHint(display, window, &hint);
    // Ask a window manager to keep the position and size as given.
    XSizeHints sizes{};
    sizes.flags = USPosition | USSize | PPosition | PSize;
    sizes.x = area.x;
    sizes.y = area.y;
    sizes.width = area.width;
    sizes.height = area.height;
    XSetWMNormalHints(display, window, &sizes);
    const long pid = getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
    return window;
}

}  // namespace

std::optional<Monitor> firstMonitor(::Display* display) {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    std::optional<Monitor> result;
    if (count > 0 && monitors[0].noutput > 0) {
        Monitor monitor;
        monitor.displayID = monitors[0].outputs[0];
        monitor.area = {monitors[0].x, monitors[0].y, monitors[0].width, monitors[0].height};
        XRRScreenResources* resources = XRRGetScreenResources(display, DefaultRootWindow(display));
        if (resources) {
            if (XRROutputInfo* info = XRRGetOutputInfo(display, resources, monitors[0].outputs[0])) {
                monitor.outputName = info->name;
                XRRFreeOutputInfo(info);
            }
            XRRFreeScreenResources(resources);
        }
        result = monitor;
    }
    if (monitors) XRRFreeMonitors(monitors);
    return result;
}

Window openOrdinaryWindow(::Display* display, const Area& area) {
    const Window window = openTopLevel(display, area, "Ordinary window", "StandinOrdinary");
    // The bars live in the background pixmap, so the server repaints them on
    // its own and this process never has to answer an expose.
    const int screen = DefaultScreen(display);
    const Pixmap bars = XCreatePixmap(display, window, unsigned(area.width), unsigned(area.height),
                                      unsigned(DefaultDepth(display, screen)));
    const GC gc = XCreateGC(display, bars, 0, nullptr);
    for (int i = 0; i < ordinaryBarCount; ++i) {
        XSetForeground(display, gc, ordinaryBars[i]);
        const int left = area.width * i / ordinaryBarCount;
        const int right = area.width * (i + 1) / ordinaryBarCount;
        XFillRectangle(display, bars, gc, left, 0, unsigned(right - left), unsigned(area.height));
    }
    XFreeGC(display, gc);
    XSetWindowBackgroundPixmap(display, window, bars);
    XFreePixmap(display, bars);
    XMapWindow(display, window);
    XSync(display, False);
    return window;
}

Window openPrivateWindow(::Display* display, const Area& area, const std::string& windowClass) {
    const Window window = openTopLevel(display, area, "Velto private window", windowClass);
    XSetWindowBackground(display, window, privateColour);
    XMapRaised(display, window);
    XSync(display, False);
    return window;
}

bool waitViewable(::Display* display, Window window, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::optional<Area> rootArea(::Display* display, Window window) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes)) return std::nullopt;
    int x = 0, y = 0;
    Window child = None;
    if (!XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child))
        return std::nullopt;
    return Area{x, y, attributes.width, attributes.height};
}

std::vector<Window> viewableWindowsOf(::Display* display, pid_t pid, const std::string& windowClass) {
    std::vector<Window> found;
    std::vector<Window> level = childrenOf(display, DefaultRootWindow(display));
    for (int depth = 0; depth < 3 && !level.empty(); ++depth) {
        std::vector<Window> next;
        for (Window window : level) {
            XClassHint hint{};
            if (XGetClassHint(display, window, &hint)) {
                const bool match = hint.res_class && windowClass == hint.res_class;
                if (hint.res_name) XFree(hint.res_name);
                if (hint.res_class) XFree(hint.res_class);
                if (match && processOf(display, window) == pid) {
                    // Its native child windows carry the same class: never look
                    // below a top-level of the program.
                    XWindowAttributes attributes{};
                    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable)
                        found.push_back(window);
                    continue;
                }
            }
            for (Window child : childrenOf(display, window)) next.push_back(child);
        }
        level = std::move(next);
    }
    return found;
}

std::optional<Window> findWindowOf(::Display* display, pid_t pid, const std::string& windowClass) {
    const auto windows = viewableWindowsOf(display, pid, windowClass);
    if (windows.empty()) return std::nullopt;
    return windows.front();
}

void askToClose(::Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

}  // namespace standin

namespace standin {

bool breakCaptureConnection(::Display* display, pid_t pid) {
    int count = 0;
    XResClient* clients = nullptr;
    if (!XResQueryClients(display, &count, &clients)) return false;
    // The server names the resource type of damage objects "DamageExt".
    const Atom damage = XInternAtom(display, "DamageExt", False);
    bool broken = false;
    for (int i = 0; i < count && !broken; ++i) {
        if (clients[i].resource_base == 0 || processOf(display, clients[i].resource_base) != pid) continue;
        int typeCount = 0;
        XResType* types = nullptr;
        if (!XResQueryClientResources(display, clients[i].resource_base, &typeCount, &types)) continue;
        for (int t = 0; t < typeCount; ++t)
            if (types[t].resource_type == damage && types[t].count > 0) broken = true;
        if (types) XFree(types);
        if (broken) XKillClient(display, clients[i].resource_base);
    }
    if (clients) XFree(clients);
    XSync(display, False);
    return broken;
}

}  // namespace standin
