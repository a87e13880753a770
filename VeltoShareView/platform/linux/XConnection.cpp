#include "XConnection.h"

#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/Xrender.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

namespace velto::x11 {
namespace {

// Xlib's error handler is process-wide; each connection of ours keeps its own
// record of refused requests, found here by its display.
std::mutex registryMutex;
std::map<::Display*, XConnection*>& registry() {
    static std::map<::Display*, XConnection*> connections;
    return connections;
}

// The per-connection exit handler decides what happens; stay quiet here.
int quietConnectionLoss(::Display*) { return 0; }

// The handlers are process-wide and Qt installs its own when it connects
// (whose I/O handler ends the process): put ours back at every connection.
void installProcessHandlers(XErrorHandler recordProtocolError) {
    static std::once_flag once;
    std::call_once(once, [] { XInitThreads(); });
    XSetErrorHandler(recordProtocolError);
    XSetIOErrorHandler(quietConnectionLoss);
}

}  // namespace

std::unique_ptr<XConnection> XConnection::open() {
    installProcessHandlers(&XConnection::recordProtocolError);
    ::Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    return std::unique_ptr<XConnection>(new XConnection(display));
}

XConnection::XConnection(::Display* display) : display_(display) {
    XSetIOErrorExitHandler(display_, &XConnection::onConnectionLost, this);
    std::lock_guard lock(registryMutex);
    registry()[display_] = this;
}

XConnection::~XConnection() {
    {
        std::lock_guard lock(registryMutex);
        registry().erase(display_);
    }
    // A lost connection still owns its memory; XCloseDisplay frees it
    // without talking to the server once the connection is marked dead.
    XCloseDisplay(display_);
}

void XConnection::onConnectionLost(::Display*, void* self) {
    static_cast<XConnection*>(self)->broken_ = true;
}

// Windows and pixmaps vanish between a query and the next request all the
// time: an error never ends the process (Xlib's default). It is recorded for
// the connection's own checks; errors on connections that are not ours
// (there are none through Xlib today) are dropped.
int XConnection::recordProtocolError(::Display* display, XErrorEvent* error) {
    std::lock_guard lock(registryMutex);
    const auto found = registry().find(display);
    if (found != registry().end())
        found->second->lastFailedRequest_ = std::max(found->second->lastFailedRequest_, error->serial);
    return 0;
}

bool XConnection::failedSince(unsigned long firstRequest) {
    if (broken_) return true;
    XSync(display_, False);
    return broken_ || (lastFailedRequest_ != 0 && lastFailedRequest_ >= firstRequest);
}

std::optional<std::string> missingExtension(::Display* display) {
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XCompositeQueryExtension(display, &event, &error)) return "Composite";
    XCompositeQueryVersion(display, &major, &minor);
    if (major == 0 && minor < 2) return "Composite 0.2";
    if (!XRenderQueryExtension(display, &event, &error)) return "RENDER";
    if (!XDamageQueryExtension(display, &event, &error)) return "DAMAGE";
    if (!XFixesQueryExtension(display, &event, &error)) return "XFIXES";
    if (!XRRQueryExtension(display, &event, &error)) return "RANDR";
    XRRQueryVersion(display, &major, &minor);
    if (major < 1 || (major == 1 && minor < 5)) return "RANDR 1.5";
    if (!XResQueryExtension(display, &event, &error)) return "X-Resource";
    XResQueryVersion(display, &major, &minor);
    if (major < 1 || (major == 1 && minor < 2)) return "X-Resource 1.2";
    return std::nullopt;
}

bool isWaylandSession() {
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    if (sessionType != nullptr && std::string(sessionType) == "wayland") return true;
    const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    return waylandDisplay != nullptr && *waylandDisplay != '\0';
}

std::vector<Window> childWindows(::Display* display, Window window) {
    Window rootReturn = None, parent = None;
    Window* list = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &rootReturn, &parent, &list, &count) == 0) return {};
    std::vector<Window> result(list, list + count);
    if (list != nullptr) XFree(list);
    return result;
}

bool windowGeometry(::Display* display, Window window, XRectangle& outer, int& border) {
    Window rootReturn = None;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, borderWidth = 0, depth = 0;
    if (!XGetGeometry(display, window, &rootReturn, &x, &y, &width, &height, &borderWidth, &depth)) return false;
    outer = {short(x), short(y), static_cast<unsigned short>(width + 2 * borderWidth),
             static_cast<unsigned short>(height + 2 * borderWidth)};
    border = int(borderWidth);
    return true;
}

}  // namespace velto::x11
