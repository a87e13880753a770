#include "WindowManager.h"

#include <X11/Xatom.h>

#include <chrono>
#include <thread>

namespace standin {

void askWindowManager(::Display* display, Window window, const char* message, long value) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, message, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = value;
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureNotifyMask | SubstructureRedirectMask,
               &event);
    XSync(display, False);
}

std::optional<unsigned long> cardinalProperty(::Display* display, Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1, False, XA_CARDINAL, &type, &format,
                       &count, &after, &data);
    std::optional<unsigned long> value;
    // Xlib hands 32-bit items over as longs, sign-extended.
    if (data && count == 1 && format == 32) value = *reinterpret_cast<unsigned long*>(data) & 0xFFFFFFFFul;
    if (data) XFree(data);
    return value;
}

bool switchWorkspace(::Display* display, long workspace) {
    askWindowManager(display, DefaultRootWindow(display), "_NET_CURRENT_DESKTOP", workspace);
    for (int i = 0; i < 100; ++i) {
        if (cardinalProperty(display, DefaultRootWindow(display), "_NET_CURRENT_DESKTOP") == static_cast<unsigned long>(workspace)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool isViewable(::Display* display, Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

}  // namespace standin
