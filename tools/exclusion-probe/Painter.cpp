#include "Painter.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>

namespace probe {
namespace {

constexpr auto lateDelay = std::chrono::milliseconds(250);
// The longest sleep, so that a stop is noticed.
constexpr auto idleWait = std::chrono::milliseconds(50);

}  // namespace

std::optional<Repaint> repaintNamed(const std::string& name) {
    if (name == "at-once") return Repaint::atOnce;
    if (name == "late") return Repaint::late;
    if (name == "never") return Repaint::never;
    return std::nullopt;
}

std::string nameOf(Repaint repaint) {
    switch (repaint) {
        case Repaint::atOnce: return "at-once";
        case Repaint::late: return "late";
        case Repaint::never: return "never";
    }
    return {};
}

Painter::Painter() : display_(XOpenDisplay(nullptr)) {
    if (display_) gc_ = XCreateGC(display_, DefaultRootWindow(display_), 0, nullptr);
}

Painter::~Painter() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    if (display_) {
        XFreeGC(display_, gc_);
        XCloseDisplay(display_);
    }
}

void Painter::adopt(Window window, unsigned long colour, Repaint repaint) {
    if (!display_ || window == None) return;
    std::lock_guard lock(mutex_);
    windows_[window] = Painted{colour, repaint, false, std::nullopt};
    XSelectInput(display_, window, ExposureMask | StructureNotifyMask);
    XSync(display_, False);
}

void Painter::start() {
    if (!display_) return;
    running_ = true;
    thread_ = std::thread([this] {
        while (running_) {
            const auto wait = serveOnce();
            pollfd watched{ConnectionNumber(display_), POLLIN, 0};
            poll(&watched, 1, int(wait.count()));
        }
    });
}

void Painter::serveForever() {
    if (!display_) _exit(70);
    for (;;) {
        const auto wait = serveOnce();
        pollfd watched{ConnectionNumber(display_), POLLIN, 0};
        poll(&watched, 1, int(wait.count()));
    }
}

std::chrono::milliseconds Painter::serveOnce() {
    std::lock_guard lock(mutex_);
    while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == Expose) exposed(event.xexpose.window);
        else if (event.type == DestroyNotify && event.xdestroywindow.window == event.xdestroywindow.event)
            windows_.erase(event.xdestroywindow.window);
    }
    const auto now = Clock::now();
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(idleWait);
    for (auto& [window, painted] : windows_) {
        if (!painted.due) continue;
        if (*painted.due <= now) paint(window, painted);
        else wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(*painted.due - now) +
                                       std::chrono::milliseconds(1));
    }
    XFlush(display_);
    return wait;
}

// A late program answers the first Expose of a burst; those that follow
// before it paints are painted with it.
void Painter::exposed(Window window) {
    const auto found = windows_.find(window);
    if (found == windows_.end()) return;
    Painted& painted = found->second;
    switch (painted.repaint) {
        case Repaint::atOnce: painted.due = Clock::now(); break;
        case Repaint::late:
            if (!painted.due) painted.due = Clock::now() + lateDelay;
            break;
        case Repaint::never:
            if (!painted.paintedOnce) painted.due = Clock::now();
            break;
    }
}

void Painter::paint(Window window, Painted& painted) {
    // At its size now, as a program draws: the server reports damage in
    // 16-bit boxes, which a larger rectangle would overflow.
    painted.paintedOnce = true;
    painted.due.reset();
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display_, window, &attributes)) return;
    XSetForeground(display_, gc_, painted.colour);
    XFillRectangle(display_, window, gc_, 0, 0, unsigned(attributes.width), unsigned(attributes.height));
}

}  // namespace probe
