#include "ShareableContentX11.h"

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

// A client's top-level windows carry WM_CLASS; under a reparenting window
// manager they sit one or two levels below the manager's frames.
struct TopLevelFacts {
    std::optional<std::string> windowClass;
    std::optional<pid_t> claimedPID;
};

void collectTopLevels(::Display* display, Window window, int depth,
                      const std::vector<XResClient>& clients,
                      std::map<XID, TopLevelFacts>& factsByClient) {
    const auto owner = [&](Window w) -> std::optional<XID> {
        for (const auto& client : clients)
            if ((w & ~client.resource_mask) == client.resource_base) return client.resource_base;
        return std::nullopt;
    };
    if (auto cls = windowClass(display, window)) {
        if (auto base = owner(window)) {
            auto& facts = factsByClient[*base];
            if (!facts.windowClass) facts.windowClass = cls;
            if (!facts.claimedPID) facts.claimedPID = claimedProcessID(display, window);
        }
        return;
    }
    if (depth == 0) return;
    for (Window child : childWindows(display, window))
        collectTopLevels(display, child, depth - 1, clients, factsByClient);
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

std::vector<RunningApplication> queryClients(::Display* display) {
    int count = 0;
    XResClient* list = nullptr;
    // Unlike the client-id query, this one returns a true Status on success.
    if (XResQueryClients(display, &count, &list) == 0) return {};
    const std::vector<XResClient> clients(list, list + count);
    if (list != nullptr) XFree(list);

    std::map<XID, TopLevelFacts> factsByClient;
    for (Window topLevel : childWindows(display, DefaultRootWindow(display)))
        collectTopLevels(display, topLevel, 2, clients, factsByClient);

    std::vector<RunningApplication> result;
    for (const auto& client : clients) {
        if (client.resource_base == 0) continue;  // the server itself, owner of the root window
        RunningApplication application;
        const auto& facts = factsByClient[client.resource_base];
        const auto pid = serverKnownProcessID(display, client.resource_base);
        application.processID = pid ? *pid : facts.claimedPID.value_or(0);
        application.bundleIdentifier = facts.windowClass.value_or("");
        application.native = std::make_shared<const ClientRange>(
            ClientRange{client.resource_base, client.resource_mask});
        result.push_back(std::move(application));
    }
    return result;
}

ShareableContentResult queryShareableContent() {
    const auto connection = XConnection::open();
    if (!connection) return {std::nullopt, CaptureError{"The X display cannot be opened."}};
    if (auto missing = missingExtension(connection->display()))
        return {std::nullopt, CaptureError{"The X server lacks the " + *missing + " extension."}};
    ShareableContent content;
    content.displays = queryMonitors(connection->display());
    content.applications = queryClients(connection->display());
    if (connection->broken())
        return {std::nullopt, CaptureError{"The connection to the X server was lost."}};
    return {std::move(content), std::nullopt};
}

}  // namespace velto::x11
