#pragma once
// Questions about many windows at once: each batch is sent whole and its
// answers read together, one round trip for a whole level of the window tree
// instead of several for every window (a reparenting window manager's frames
// alone hold a dozen windows each).

#include <X11/Xlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velto::x11 {

struct WindowReport {
    bool viewable = false;
    bool inputOnly = false;
    bool overrideRedirect = false;
    int x = 0, y = 0, width = 0, height = 0, border = 0;  // relative to the parent's inside corner
    int bitGravity = 0;
    Visual* visual = nullptr;
};

// What marks where one program's windows begin.
struct WindowLabels {
    bool hasWMState = false;
    std::optional<std::string> windowClass;  // WM_CLASS class
    std::optional<std::int32_t> claimedPID;  // _NET_WM_PID
    bool embedded = false;                   // _XEMBED_INFO
};

class WindowQueries {
public:
    explicit WindowQueries(::Display* display);

    // Each answer is nothing for a window that is gone. Requests already
    // queued on the Xlib side (event selections) reach the server first.
    std::vector<std::optional<std::vector<Window>>> children(const std::vector<Window>& windows);
    std::vector<std::optional<WindowReport>> describe(const std::vector<Window>& windows);
    std::vector<std::optional<WindowLabels>> labels(const std::vector<Window>& windows);
    // The window a running EWMH window manager names as its own on the root
    // (_NET_SUPPORTING_WM_CHECK, naming itself in turn); nothing when none,
    // or when the one named is gone.
    std::optional<Window> supportingWMCheck(Window root);

private:
    Visual* visualOf(unsigned long visualID);

    ::Display* display_;
    Atom wmState_, wmClass_, wmPid_, xembedInfo_, supportingWMCheck_;
};

}  // namespace velto::x11
