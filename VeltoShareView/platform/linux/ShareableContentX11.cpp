#include "ShareableContentX11.h"

#include "WindowOwnership.h"
#include "XConnection.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xrandr.h>

#include <map>

namespace velto::x11 {
namespace {

std::optional<std::string> windowClass(::Display* display, Window window) {
    XClassHint hint{};
    if (XGetClassHint(display, window, &hint) == 0) return std::nullopt;
    std::optional<std::string> result;
    if (hint.res_class != nullptr) result = std::string(hint.res_class);
    if (hint.res_name != nullptr) XFree(hint.res_name);
    if (hint.res_class != nullptr) XFree(hint.res_class);
    return result;
}

std::optional<pid_t> claimedProcessID(::Display* display, Window window) {
    const Atom netWmPid = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) != Success)
        return std::nullopt;
    std::optional<pid_t> pid;
    if (data != nullptr && format == 32 && count == 1)
        pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
    if (data != nullptr) XFree(data);
    return pid;
}

// The first windows that carry WM_CLASS, looked for down through each
// client's own windows: a top-level window, or the client window inside a
// window manager's frame.
struct TopLevelFacts {
    std::vector<std::string> windowClasses;
    std::optional<pid_t> claimedPID;
};

void collectClientWindows(::Display* display, Window window, XID mask, std::map<XID, TopLevelFacts>& factsByClient) {
    const XID client = window & ~mask;
    if (auto cls = windowClass(display, window)) {
        auto& facts = factsByClient[client];
        facts.windowClasses.push_back(*cls);
        if (!facts.claimedPID) facts.claimedPID = claimedProcessID(display, window);
        return;
    }
    for (Window child : childWindows(display, window))
        if ((child & ~mask) == client || windowClass(display, child))
            collectClientWindows(display, child, mask, factsByClient);
}

}  // namespace

std::vector<shareview::Display> queryMonitors(::Display* display) {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    std::vector<shareview::Display> result;
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& monitor = monitors[i];
        if (monitor.noutput < 1) continue;
        shareview::Display record;
        record.displayID = static_cast<std::uint32_t>(monitor.outputs[0]);
        record.width = monitor.width;
        record.height = monitor.height;
        record.native = std::make_shared<const MonitorArea>(
            MonitorArea{monitor.x, monitor.y, monitor.width, monitor.height});
        result.push_back(std::move(record));
    }
    if (monitors != nullptr) XRRFreeMonitors(monitors);
    return result;
}

std::optional<pid_t> serverKnownProcessID(::Display* display, XID clientResource) {
    // Resource 0 would ask about every client at once.
    if (clientResource == 0) return std::nullopt;
    XResClientIdSpec clientId{clientResource, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    if (XResQueryClientIds(display, 1, &clientId, &count, &values) != Success) return std::nullopt;
    std::optional<pid_t> pid;
    for (long i = 0; i < count && !pid; ++i) {
        const pid_t value = XResGetClientPid(&values[i]);
        if (value > 0) pid = value;
    }
    XResClientIdsDestroy(count, values);
    return pid;
}

std::vector<RunningApplication> queryApplications(::Display* display) {
    int count = 0;
    XResClient* list = nullptr;
    // Unlike the client-id query, this one returns a true Status on success.
    if (XResQueryClients(display, &count, &list) == 0) return {};
    const std::vector<XResClient> clients(list, list + count);
    if (list != nullptr) XFree(list);
    if (clients.empty()) return {};

    std::map<XID, TopLevelFacts> factsByClient;
    for (Window topLevel : childWindows(display, DefaultRootWindow(display)))
        collectClientWindows(display, topLevel, clients.front().resource_mask, factsByClient);

    std::vector<ClientFacts> facts;
    for (const auto& client : clients) {
        if (client.resource_base == 0) continue;  // the server itself, owner of the root window
        const auto& known = factsByClient[client.resource_base];
        std::optional<std::int32_t> pid = serverKnownProcessID(display, client.resource_base);
        if (!pid) pid = known.claimedPID;
        facts.push_back({client.resource_base, pid, known.windowClasses});
    }
    std::vector<RunningApplication> result;
    for (const ApplicationFacts& application : groupByProcess(facts))
        result.push_back(runningApplication(application));
    return result;
}

ShareableContentResult queryShareableContent() {
    const auto connection = XConnection::open();
    if (!connection) return {std::nullopt, CaptureError{"The X display cannot be opened."}};
    if (auto missing = missingExtension(connection->display()))
        return {std::nullopt, CaptureError{"The X server lacks the " + *missing + " extension."}};
    ShareableContent content;
    content.displays = queryMonitors(connection->display());
    content.applications = queryApplications(connection->display());
    if (connection->broken())
        return {std::nullopt, CaptureError{"The connection to the X server was lost."}};
    return {std::move(content), std::nullopt};
}

}  // namespace velto::x11
