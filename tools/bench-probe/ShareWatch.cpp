#include "ShareWatch.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace benchprobe {
namespace {

std::string titleOf(::Display* display, Window window) {
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count, &remaining,
                           &data) == Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(display, window, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

std::vector<Window> childrenOf(::Display* display, Window window) {
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> result;
    if (XQueryTree(display, window, &root, &parent, &children, &count)) {
        result.assign(children, children + count);
        if (children) XFree(children);
    }
    return result;
}

// A reparenting window manager puts the titled window one level down.
std::optional<Window> findTitled(::Display* display, const std::string& title) {
    for (const Window top : childrenOf(display, DefaultRootWindow(display))) {
        if (titleOf(display, top) == title) return top;
        for (const Window inner : childrenOf(display, top))
            if (titleOf(display, inner) == title) return inner;
    }
    return std::nullopt;
}

void watchTree(::Display* display, Window window) {
    XDamageCreate(display, window, XDamageReportNonEmpty);
    for (const Window child : childrenOf(display, window)) watchTree(display, child);
}

}  // namespace

std::optional<ShareWatch> ShareWatch::open(::Display* display, const std::string& title, double seconds) {
    int damageEventBase = 0, damageErrorBase = 0;
    if (!XDamageQueryExtension(display, &damageEventBase, &damageErrorBase)) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (true) {
        if (const auto window = findTitled(display, title)) {
            watchTree(display, *window);
            XWindowAttributes attributes{};
            XGetWindowAttributes(display, *window, &attributes);
            int x = 0, y = 0;
            Window child = None;
            XTranslateCoordinates(display, *window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
            XSync(display, False);
            return ShareWatch(display, *window, damageEventBase, {x, y, attributes.width, attributes.height});
        }
        if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::vector<long> ShareWatch::waitForDamage(int timeoutMs) {
    std::vector<long> times;
    if (!XPending(display_)) {
        pollfd connection{ConnectionNumber(display_), POLLIN, 0};
        poll(&connection, 1, timeoutMs);
    }
    while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type != damageEventBase_ + XDamageNotify) continue;
        const auto& notify = reinterpret_cast<const XDamageNotifyEvent&>(event);
        XDamageSubtract(display_, notify.damage, None, None);
        times.push_back(long(notify.timestamp));
    }
    XFlush(display_);
    return times;
}

Area ShareWatch::visiblePart() const {
    const int screenWidth = DisplayWidth(display_, DefaultScreen(display_));
    const int screenHeight = DisplayHeight(display_, DefaultScreen(display_));
    const int left = std::max(area_.x, 0), top = std::max(area_.y, 0);
    const int right = std::min(area_.x + area_.width, screenWidth);
    const int bottom = std::min(area_.y + area_.height, screenHeight);
    return {left - area_.x, top - area_.y, std::max(right - left, 0), std::max(bottom - top, 0)};
}

// Read from the root, not from the share window: what the screen shows there
// is what a viewer sees, inferiors of any depth included.
Picture ShareWatch::grab(const Area& part) const {
    const Area& origin = area_;
    Picture picture{part.width, part.height, {}};
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), origin.x + part.x, origin.y + part.y,
                              unsigned(part.width), unsigned(part.height), AllPlanes, ZPixmap);
    if (!image) return {};
    picture.pixels.reserve(std::size_t(part.width) * std::size_t(part.height));
    for (int y = 0; y < part.height; ++y)
        for (int x = 0; x < part.width; ++x)
            picture.pixels.push_back(std::uint32_t(XGetPixel(image, x, y) & 0xffffffu));
    XDestroyImage(image);
    return picture;
}

}  // namespace benchprobe
