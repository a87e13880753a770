#pragma once
// Who owns what on an X screen, decided over plain records so that the
// decisions can be tested without a server: X clients grouped into
// applications, a window manager's frame told from an application window
// that embeds another program's window, and what of a top-level window must
// stay out of the picture. ExclusionJudge gathers the records from the server.

#include "Box.h"
#include "SharePlatform.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velto::x11 {

// An X resource identifier; its high bits name the client that made it.
using ResourceID = unsigned long;

// One X client (connection) as the server describes it now.
struct ClientFacts {
    ResourceID base = 0;  // the client's resource-id base
    // The process as the server reports it, or as the client's windows claim
    // it (_NET_WM_PID) where the server cannot tell.
    std::optional<std::int32_t> processID;
    // WM_CLASS class of the client's top-level client windows, in stacking order.
    std::vector<std::string> windowClasses;
};

// One application: every client of one process, or a client whose process
// is unknown on its own.
struct ApplicationFacts {
    std::optional<std::int32_t> processID;
    std::vector<ResourceID> clients;
    std::vector<std::string> windowClasses;  // of all its clients, first seen first
};

// Clients grouped by process, in the order in which each process's first
// client is listed.
std::vector<ApplicationFacts> groupByProcess(const std::vector<ClientFacts>& clients);

// The record the capture sequence sees: the bundle identifier is the first
// window class (empty when the application shows no top-level window).
shareview::RunningApplication runningApplication(const ApplicationFacts& application);

// The rule applied to every window class of the application: a process that
// labels any of its windows as the main application's is the main application.
bool excludes(const shareview::ExclusionRule& rule, const ApplicationFacts& application);

// One window of a top-level window's tree, parents before children, siblings
// bottom to top. Geometry is relative to the parent's inside corner; x and y
// are those of the outer corner (the border's).
struct WindowFacts {
    ResourceID window = 0;
    ResourceID client = 0;
    int parent = -1;  // index into the same list; -1 for the top-level window
    bool viewable = false;
    bool hasWMState = false;  // ICCCM: a client window the window manager manages
    bool overrideRedirect = false;
    int x = 0, y = 0, width = 0, height = 0, border = 0;
    bool embedded = false;  // XEmbed: _XEMBED_INFO, a window lent to another program's
};

// The connections of the window manager: the owner of WM_Sn and the maker
// of the _NET_SUPPORTING_WM_CHECK window (some managers own no selection).
using WindowManagerClients = std::vector<ResourceID>;

// Whether a top-level window is a window manager's frame: made by a manager's
// connection, and no client window itself (no WM_STATE). Some managers make
// their frames override-redirect, as others do their menus.
bool isFrame(const std::vector<WindowFacts>& tree, const WindowManagerClients& windowManagers);

struct TopLevelVerdict {
    bool leftOut = false;     // not painted at all
    std::vector<int> covered;  // windows painted over in black
};

// What of one top-level window (tree[0]) may be painted. A top-level window
// of an excluded client goes whole, and so does any top-level that holds a
// managed client (WM_STATE, not lent through XEmbed) of an excluded client
// as the first window of another program inside it: it is that client's
// frame, whoever made it. (A window that kept WM_STATE after its program moved
// it into another program's window is lent, not framed.) A manager's frame also goes
// whole when it holds, its client just gone, no other program's window at
// all (unless override-redirect: a menu). Inside any other, the outermost
// window of each excluded client is covered, with everything inside it; also
// when it is unmapped, as a parent without a background keeps a child's last
// pixels until its program paints again. The tree holds the children of
// viewable windows only.
TopLevelVerdict judgeTopLevel(const std::vector<WindowFacts>& tree, const WindowManagerClients& windowManagers,
                              const std::function<bool(ResourceID client)>& clientExcluded);

// The windows of the tree that are an excluded client's or hold one of its
// windows somewhere inside: wherever they go, they may carry its pixels.
std::vector<int> holdersOfExcluded(const std::vector<WindowFacts>& tree,
                                   const std::function<bool(ResourceID client)>& clientExcluded);

// Where window `index` lies in its top-level window's coordinates (outer
// corner of the top-level at 0,0), border included.
Box outerBox(const std::vector<WindowFacts>& tree, int index);
// The same, clipped by the inside of every ancestor: what of it can show.
Box visibleBox(const std::vector<WindowFacts>& tree, int index);

}  // namespace velto::x11
