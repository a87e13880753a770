#include "ExclusionJudge.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/shape.h>

#include <set>
#include <string>

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

// Nothing when the window is gone; whether the property is there otherwise.
std::optional<bool> hasProperty(::Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &type, &format, &count,
                           &after, &data) != Success)
        return std::nullopt;
    if (data != nullptr) XFree(data);
    return type != None;
}

std::optional<std::int32_t> claimedProcessID(::Display* display, Window window, Atom netWmPid) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) != Success)
        return std::nullopt;
    std::optional<std::int32_t> pid;
    if (data != nullptr && format == 32 && count == 1)
        pid = static_cast<std::int32_t>(*reinterpret_cast<unsigned long*>(data));
    if (data != nullptr) XFree(data);
    return pid;
}

}  // namespace

struct ExclusionJudge::Walk {
    struct Client {
        Window firstWindow = None;  // asked about to learn the client's process
        std::vector<std::string> windowClasses;
        std::optional<std::int32_t> claimedPID;
    };
    std::map<ResourceID, Client> clients;
    std::set<ResourceID> refused;  // clients whose windows could not be asked about
};

ExclusionJudge::ExclusionJudge(XConnection& connection, shareview::ExclusionRule rule, ResourceID clientMask)
    : connection_(connection), display_(connection.display()), rule_(rule), clientMask_(clientMask),
      wmState_(XInternAtom(display_, "WM_STATE", False)), wmPid_(XInternAtom(display_, "_NET_WM_PID", False)),
      wmSelection_(XInternAtom(display_, ("WM_S" + std::to_string(DefaultScreen(display_))).c_str(), False)) {
    int errorBase = 0;
    XShapeQueryExtension(display_, &shapeEventBase_, &errorBase);
}

void ExclusionJudge::observe(const XEvent& event) {
    if (event.type == DestroyNotify) processByClient_.erase(event.xdestroywindow.window & ~clientMask_);
}

std::optional<ResourceID> ExclusionJudge::windowManagerClient() {
    // An ICCCM window manager owns WM_Sn; its connection makes the frames.
    const Window owner = XGetSelectionOwner(display_, wmSelection_);
    if (owner == None) return std::nullopt;
    return owner & ~clientMask_;
}

std::optional<std::optional<std::int32_t>> ExclusionJudge::processOf(ResourceID client, Window window) {
    if (auto known = processByClient_.find(client); known != processByClient_.end()) return known->second;
    XResClientIdSpec spec{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    if (XResQueryClientIds(display_, 1, &spec, &count, &values) != Success) return std::nullopt;
    std::optional<std::int32_t> pid;
    for (long i = 0; i < count && !pid; ++i)
        if (const pid_t value = XResGetClientPid(&values[i]); value > 0) pid = value;
    XResClientIdsDestroy(count, values);
    processByClient_[client] = pid;
    return pid;
}

bool ExclusionJudge::gatherWindow(Window window, const XWindowAttributes& attributes, int parent, Walk& walk,
                                  std::vector<WindowFacts>& tree) {
    WindowFacts facts;
    facts.window = window;
    facts.client = window & ~clientMask_;
    facts.parent = parent;
    facts.viewable = attributes.map_state == IsViewable;
    facts.x = attributes.x;
    facts.y = attributes.y;
    facts.width = attributes.width;
    facts.height = attributes.height;
    facts.border = attributes.border_width;
    facts.overrideRedirect = attributes.override_redirect;
    const bool boundary = parent < 0 || tree[std::size_t(parent)].client != facts.client;
    if (boundary) {
        // Where one program's windows begin: a top-level window, a client
        // window inside a frame, a window embedded into another program's.
        const auto managed = hasProperty(display_, window, wmState_);
        if (!managed) return false;
        facts.hasWMState = *managed;
        Walk::Client& client = walk.clients[facts.client];
        if (client.firstWindow == None) client.firstWindow = window;
        if (auto name = windowClass(display_, window)) client.windowClasses.push_back(*name);
        if (!client.claimedPID) client.claimedPID = claimedProcessID(display_, window, wmPid_);
    }
    const int index = int(tree.size());
    tree.push_back(facts);
    if (!facts.viewable) return true;  // when it maps, its parent hears of it

    // Selected before the children are asked for: a child made in between is
    // in the answer or announced by an event, never neither.
    XSelectInput(display_, window, SubstructureNotifyMask);
    XShapeSelectInput(display_, window, ShapeNotifyMask);
    Window rootReturn = None, parentReturn = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display_, window, &rootReturn, &parentReturn, &children, &count) == 0) return false;
    const std::vector<Window> list(children, children + count);
    if (children != nullptr) XFree(children);
    for (Window child : list) {
        XWindowAttributes childAttributes{};
        if (XGetWindowAttributes(display_, child, &childAttributes) == 0) return false;
        if (childAttributes.c_class == InputOnly) continue;  // draws nothing, holds nothing drawn
        if (!gatherWindow(child, childAttributes, index, walk, tree)) return false;
    }
    return true;
}

std::vector<PaintableWindow> ExclusionJudge::judge() {
    const std::optional<ResourceID> windowManager = windowManagerClient();
    Walk walk;
    struct Candidate {
        PaintableWindow window;
        std::vector<WindowFacts> tree;
    };
    std::vector<Candidate> candidates;
    for (Window topLevel : childWindows(display_, connection_.root())) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display_, topLevel, &attributes) == 0) continue;
        if (attributes.c_class == InputOnly || attributes.map_state != IsViewable) continue;
        // The server's own windows (the compositing overlay) show what a
        // compositing manager painted, private windows included.
        if ((topLevel & ~clientMask_) == 0) continue;
        Candidate candidate;
        if (!gatherWindow(topLevel, attributes, -1, walk, candidate.tree)) continue;
        candidate.window = {topLevel,
                            attributes.x,
                            attributes.y,
                            attributes.width + 2 * attributes.border_width,
                            attributes.height + 2 * attributes.border_width,
                            attributes.border_width,
                            attributes.visual,
                            {}};
        candidates.push_back(std::move(candidate));
    }

    // The processes behind the clients seen; clients not seen are forgotten.
    std::vector<ClientFacts> clients;
    std::map<ResourceID, std::optional<std::int32_t>> stillSeen;
    for (const auto& [base, client] : walk.clients) {
        const auto process = processOf(base, client.firstWindow);
        if (!process) {
            walk.refused.insert(base);
            continue;
        }
        stillSeen[base] = *process;
        clients.push_back({base, *process ? *process : client.claimedPID, client.windowClasses});
    }
    processByClient_ = std::move(stillSeen);

    std::set<ResourceID> excluded = walk.refused;  // not known, so not shown
    for (const ApplicationFacts& application : groupByProcess(clients))
        if (excludes(rule_, application)) excluded.insert(application.clients.begin(), application.clients.end());
    const auto clientExcluded = [&](ResourceID client) { return excluded.count(client) > 0; };

    std::vector<PaintableWindow> result;
    for (Candidate& candidate : candidates) {
        const TopLevelVerdict verdict = judgeTopLevel(candidate.tree, windowManager, clientExcluded);
        if (verdict.leftOut) continue;
        for (int index : verdict.covered) {
            const WindowFacts& window = candidate.tree[std::size_t(index)];
            const Box box = visibleBox(candidate.tree, index);
            if (box.empty()) continue;
            const Box outer = outerBox(candidate.tree, index);
            candidate.window.covers.push_back({window.window, box, outer.x + window.border, outer.y + window.border});
        }
        result.push_back(std::move(candidate.window));
    }
    return result;
}

}  // namespace velto::x11
