#include "ScreenWatch.h"

#include <X11/extensions/Xrandr.h>

namespace velto::shareview::linux_platform {

std::unique_ptr<ScreenWatch> ScreenWatch::open(std::function<void()> onChange) {
    auto connection = x11::XConnection::open();
    if (!connection) return nullptr;
    return std::unique_ptr<ScreenWatch>(new ScreenWatch(std::move(connection), std::move(onChange)));
}

ScreenWatch::ScreenWatch(std::unique_ptr<x11::XConnection> connection, std::function<void()> onChange)
    : connection_(std::move(connection)), onChange_(std::move(onChange)),
      notifier_(ConnectionNumber(connection_->display()), QSocketNotifier::Read) {
    ::Display* display = connection_->display();
    int errorBase = 0;
    XRRQueryExtension(display, &randrEventBase_, &errorBase);
    XRRSelectInput(display, connection_->root(),
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask |
                       RROutputPropertyNotifyMask);
    XFlush(display);
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { readEvents(); });
}

void ScreenWatch::readEvents() {
    ::Display* display = connection_->display();
    bool changed = false;
    while (!connection_->broken() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        // Screen size, monitors (announced as output or CRTC changes), outputs.
        if (event.type == randrEventBase_ + RRScreenChangeNotify ||
            event.type == randrEventBase_ + RRNotify)
            changed = true;
    }
    if (connection_->broken()) notifier_.setEnabled(false);
    if (changed) onChange_();
}

}  // namespace velto::shareview::linux_platform
