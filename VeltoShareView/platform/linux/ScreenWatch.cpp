#include "ScreenWatch.h"

#include <X11/extensions/Xrandr.h>

namespace velto::shareview::linux_platform {
namespace {

struct RandrDeleter {
    void operator()(XRRMonitorInfo* monitors) const { XRRFreeMonitors(monitors); }
    void operator()(XRRScreenResources* resources) const { XRRFreeScreenResources(resources); }
    void operator()(XRROutputInfo* output) const { XRRFreeOutputInfo(output); }
    void operator()(XRRCrtcInfo* crtc) const { XRRFreeCrtcInfo(crtc); }
};
template <typename T>
using RandrPointer = std::unique_ptr<T, RandrDeleter>;

OutputState outputState(::Display* display, XRRScreenResources* resources, RROutput output) {
    OutputState state{output, 0, 0};
    const RandrPointer<XRROutputInfo> info(XRRGetOutputInfo(display, resources, output));
    if (!info || info->crtc == None) return state;
    const RandrPointer<XRRCrtcInfo> crtc(XRRGetCrtcInfo(display, resources, info->crtc));
    if (!crtc) return state;
    state.mode = crtc->mode;
    state.rotation = crtc->rotation;
    return state;
}

}  // namespace

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
    // Output properties are not selected: they never change the configuration.
    XRRSelectInput(display, connection_->root(),
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    configuration_ = readConfiguration();
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { readEvents(); });
}

// One batch of events, one look at the configuration: a mode switch arrives
// as several events and is one change.
void ScreenWatch::readEvents() {
    ::Display* display = connection_->display();
    bool randrTraffic = false;
    while (!connection_->broken() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == randrEventBase_ + RRScreenChangeNotify || event.type == randrEventBase_ + RRNotify)
            randrTraffic = true;
    }
    if (connection_->broken()) {
        notifier_.setEnabled(false);
        return;
    }
    if (!randrTraffic) return;
    auto now = readConfiguration();
    if (!now || now == configuration_) return;
    const bool known = configuration_.has_value();
    configuration_ = std::move(now);
    if (known) onChange_();
}

std::optional<ScreenConfiguration> ScreenWatch::readConfiguration() {
    ::Display* display = connection_->display();
    const ::Window root = connection_->root();
    const RandrPointer<XRRScreenResources> resources(XRRGetScreenResourcesCurrent(display, root));
    int count = 0;
    const RandrPointer<XRRMonitorInfo> monitors(XRRGetMonitors(display, root, True, &count));
    if (connection_->broken() || !resources || count < 0) return std::nullopt;
    std::vector<MonitorState> states;
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& monitor = monitors.get()[i];
        MonitorState state{monitor.name, monitor.x, monitor.y, monitor.width, monitor.height,
                           monitor.primary != 0, {}};
        for (int k = 0; k < monitor.noutput; ++k)
            state.outputs.push_back(outputState(display, resources.get(), monitor.outputs[k]));
        states.push_back(std::move(state));
    }
    if (connection_->broken()) return std::nullopt;
    return ScreenConfiguration(std::move(states));
}

}  // namespace velto::shareview::linux_platform
