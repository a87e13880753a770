#include "WindowQueries.h"

#include <X11/Xlib-xcb.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace velto::x11 {
namespace {

// A reply and its error, freed on scope exit.
template <typename Reply>
struct Answer {
    Reply* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    ~Answer() {
        std::free(reply);
        std::free(error);
    }
    explicit operator bool() const { return reply != nullptr && error == nullptr; }
};

std::optional<std::string> classFrom(const xcb_get_property_reply_t* reply) {
    // "instance\0class\0"
    if (reply->format != 8) return std::nullopt;
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
    const int length = xcb_get_property_value_length(reply);
    const void* end = std::memchr(data, '\0', std::size_t(length));
    if (end == nullptr) return std::nullopt;
    const char* name = static_cast<const char*>(end) + 1;
    const char* stop = data + length;
    if (name >= stop) return std::nullopt;
    return std::string(name, std::size_t(std::find(name, stop, '\0') - name));
}

}  // namespace

WindowQueries::WindowQueries(::Display* display)
    : display_(display), wmState_(XInternAtom(display, "WM_STATE", False)),
      wmClass_(XInternAtom(display, "WM_CLASS", False)), wmPid_(XInternAtom(display, "_NET_WM_PID", False)),
      xembedInfo_(XInternAtom(display, "_XEMBED_INFO", False)),
      supportingWMCheck_(XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False)) {}

Visual* WindowQueries::visualOf(unsigned long visualID) {
    XVisualInfo wanted{};
    wanted.visualid = visualID;
    int count = 0;
    XVisualInfo* found = XGetVisualInfo(display_, VisualIDMask, &wanted, &count);
    Visual* visual = count > 0 ? found[0].visual : nullptr;  // owned by the display
    if (found != nullptr) XFree(found);
    return visual;
}

std::vector<std::optional<std::vector<Window>>> WindowQueries::children(const std::vector<Window>& windows) {
    XFlush(display_);
    xcb_connection_t* connection = XGetXCBConnection(display_);
    std::vector<xcb_query_tree_cookie_t> cookies;
    for (Window window : windows) cookies.push_back(xcb_query_tree(connection, xcb_window_t(window)));
    std::vector<std::optional<std::vector<Window>>> result;
    for (auto cookie : cookies) {
        Answer<xcb_query_tree_reply_t> answer;
        answer.reply = xcb_query_tree_reply(connection, cookie, &answer.error);
        if (!answer) {
            result.emplace_back();
            continue;
        }
        const xcb_window_t* list = xcb_query_tree_children(answer.reply);
        result.emplace_back(std::vector<Window>(list, list + xcb_query_tree_children_length(answer.reply)));
    }
    return result;
}

std::vector<std::optional<WindowReport>> WindowQueries::describe(const std::vector<Window>& windows) {
    XFlush(display_);
    xcb_connection_t* connection = XGetXCBConnection(display_);
    std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> cookies;
    for (Window window : windows)
        cookies.emplace_back(xcb_get_window_attributes(connection, xcb_window_t(window)),
                             xcb_get_geometry(connection, xcb_window_t(window)));
    std::vector<std::optional<WindowReport>> result;
    for (const auto& [attributesCookie, geometryCookie] : cookies) {
        Answer<xcb_get_window_attributes_reply_t> attributes;
        attributes.reply = xcb_get_window_attributes_reply(connection, attributesCookie, &attributes.error);
        Answer<xcb_get_geometry_reply_t> geometry;
        geometry.reply = xcb_get_geometry_reply(connection, geometryCookie, &geometry.error);
        if (!attributes || !geometry) {
            result.emplace_back();
            continue;
        }
        WindowReport report;
        report.viewable = attributes.reply->map_state == XCB_MAP_STATE_VIEWABLE;
        report.inputOnly = attributes.reply->_class == XCB_WINDOW_CLASS_INPUT_ONLY;
        report.overrideRedirect = attributes.reply->override_redirect != 0;
        report.x = geometry.reply->x;
        report.y = geometry.reply->y;
        report.width = geometry.reply->width;
        report.height = geometry.reply->height;
        report.border = geometry.reply->border_width;
        report.bitGravity = attributes.reply->bit_gravity;
        if (!report.inputOnly) report.visual = visualOf(attributes.reply->visual);
        result.push_back(report);
    }
    return result;
}

std::vector<std::optional<WindowLabels>> WindowQueries::labels(const std::vector<Window>& windows) {
    XFlush(display_);
    xcb_connection_t* connection = XGetXCBConnection(display_);
    struct Cookies {
        xcb_get_property_cookie_t state, windowClass, pid, xembed;
    };
    std::vector<Cookies> cookies;
    for (Window window : windows) {
        const auto id = xcb_window_t(window);
        cookies.push_back({xcb_get_property(connection, 0, id, xcb_atom_t(wmState_), XCB_ATOM_ANY, 0, 0),
                           xcb_get_property(connection, 0, id, xcb_atom_t(wmClass_), XCB_ATOM_STRING, 0, 256),
                           xcb_get_property(connection, 0, id, xcb_atom_t(wmPid_), XCB_ATOM_CARDINAL, 0, 1),
                           xcb_get_property(connection, 0, id, xcb_atom_t(xembedInfo_), XCB_ATOM_ANY, 0, 0)});
    }
    std::vector<std::optional<WindowLabels>> result;
    for (const Cookies& cookie : cookies) {
        Answer<xcb_get_property_reply_t> state, windowClass, pid, xembed;
        state.reply = xcb_get_property_reply(connection, cookie.state, &state.error);
        windowClass.reply = xcb_get_property_reply(connection, cookie.windowClass, &windowClass.error);
        pid.reply = xcb_get_property_reply(connection, cookie.pid, &pid.error);
        xembed.reply = xcb_get_property_reply(connection, cookie.xembed, &xembed.error);
        if (!state || !windowClass || !pid || !xembed) {
            result.emplace_back();
            continue;
        }
        WindowLabels labels;
        labels.hasWMState = state.reply->type != XCB_ATOM_NONE;
        labels.windowClass = classFrom(windowClass.reply);
        labels.embedded = xembed.reply->type != XCB_ATOM_NONE;
        if (pid.reply->format == 32 && xcb_get_property_value_length(pid.reply) == 4)
            labels.claimedPID = *static_cast<const std::int32_t*>(xcb_get_property_value(pid.reply));
        result.push_back(labels);
    }
    return result;
}

std::optional<Window> WindowQueries::supportingWMCheck(Window root) {
    XFlush(display_);
    xcb_connection_t* connection = XGetXCBConnection(display_);
    const auto named = [&](Window window) -> std::optional<Window> {
        Answer<xcb_get_property_reply_t> answer;
        answer.reply = xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, xcb_window_t(window), xcb_atom_t(supportingWMCheck_), XCB_ATOM_WINDOW, 0, 1),
            &answer.error);
        if (!answer || answer.reply->format != 32 || xcb_get_property_value_length(answer.reply) != 4)
            return std::nullopt;
        return Window(*static_cast<const xcb_window_t*>(xcb_get_property_value(answer.reply)));
    };
    const auto check = named(root);
    if (!check || named(*check) != check) return std::nullopt;
    return check;
}

}  // namespace velto::x11
