#include "WindowOwnership.h"

#include "CaptureRules.h"

#include <algorithm>

namespace velto::x11 {

std::vector<ApplicationFacts> groupByProcess(const std::vector<ClientFacts>& clients) {
    std::vector<ApplicationFacts> applications;
    for (const ClientFacts& client : clients) {
        auto found = applications.end();
        if (client.processID)
            found = std::find_if(applications.begin(), applications.end(), [&](const ApplicationFacts& application) {
                return application.processID == client.processID;
            });
        if (found == applications.end()) {
            applications.push_back({client.processID, {}, {}});
            found = std::prev(applications.end());
        }
        found->clients.push_back(client.base);
        for (const std::string& windowClass : client.windowClasses)
            if (std::find(found->windowClasses.begin(), found->windowClasses.end(), windowClass) ==
                found->windowClasses.end())
                found->windowClasses.push_back(windowClass);
    }
    return applications;
}

shareview::RunningApplication runningApplication(const ApplicationFacts& application) {
    shareview::RunningApplication record;
    record.processID = application.processID.value_or(0);
    if (!application.windowClasses.empty()) record.bundleIdentifier = application.windowClasses.front();
    return record;
}

bool excludes(const shareview::ExclusionRule& rule, const ApplicationFacts& application) {
    // An unknown process matches no process identifier, only a bundle identifier.
    const std::int32_t processID = application.processID.value_or(0);
    if (processID > 0 && shareview::excludes(rule, processID, "")) return true;
    return std::any_of(application.windowClasses.begin(), application.windowClasses.end(),
                       [&](const std::string& windowClass) { return shareview::excludes(rule, 0, windowClass); });
}

namespace {

std::vector<int> childrenOf(const std::vector<WindowFacts>& tree, int parent) {
    std::vector<int> children;
    for (int i = 0; i < int(tree.size()); ++i)
        if (tree[std::size_t(i)].parent == parent) children.push_back(i);
    return children;
}

// The windows of other clients reached from `index` through windows of
// `client` only.
void foreignWindows(const std::vector<WindowFacts>& tree, int index, ResourceID client, std::vector<int>& found) {
    for (int child : childrenOf(tree, index)) {
        if (tree[std::size_t(child)].client == client)
            foreignWindows(tree, child, client, found);
        else
            found.push_back(child);
    }
}

// Outermost windows of excluded clients below `index`.
void excludedWindows(const std::vector<WindowFacts>& tree, int index,
                     const std::function<bool(ResourceID)>& clientExcluded, std::vector<int>& found) {
    for (int child : childrenOf(tree, index)) {
        if (clientExcluded(tree[std::size_t(child)].client))
            found.push_back(child);
        else
            excludedWindows(tree, child, clientExcluded, found);
    }
}

Box intersect(const Box& a, const Box& b) {
    const int left = std::max(a.x, b.x), top = std::max(a.y, b.y);
    const int right = std::min(a.x + a.width, b.x + b.width), bottom = std::min(a.y + a.height, b.y + b.height);
    return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

// The outer corner of window `index` in its top-level window's coordinates.
void outerCorner(const std::vector<WindowFacts>& tree, int index, int& x, int& y) {
    const WindowFacts& window = tree[std::size_t(index)];
    if (window.parent < 0) {
        x = y = 0;
        return;
    }
    const WindowFacts& parent = tree[std::size_t(window.parent)];
    outerCorner(tree, window.parent, x, y);
    x += parent.border + window.x;
    y += parent.border + window.y;
}

}  // namespace

bool isFrame(const std::vector<WindowFacts>& tree, const WindowManagerClients& windowManagers) {
    if (tree.empty()) return false;
    const WindowFacts& top = tree.front();
    return !top.hasWMState &&
           std::find(windowManagers.begin(), windowManagers.end(), top.client) != windowManagers.end();
}

TopLevelVerdict judgeTopLevel(const std::vector<WindowFacts>& tree, const WindowManagerClients& windowManagers,
                              const std::function<bool(ResourceID client)>& clientExcluded) {
    TopLevelVerdict verdict;
    if (tree.empty() || clientExcluded(tree.front().client)) {
        verdict.leftOut = true;
        return verdict;
    }
    // The first windows of other programs reached through the top-level's
    // own: the clients it frames, or windows lent to it.
    std::vector<int> held;
    foreignWindows(tree, 0, tree.front().client, held);
    const auto excludedClient = [&](int window) { return clientExcluded(tree[std::size_t(window)].client); };
    const bool framesExcludedClient = std::any_of(held.begin(), held.end(), [&](int window) {
        const WindowFacts& facts = tree[std::size_t(window)];
        return facts.hasWMState && !facts.embedded && excludedClient(window);
    });
    if (isFrame(tree, windowManagers))
        verdict.leftOut = (held.empty() && !tree.front().overrideRedirect) ||
                          std::any_of(held.begin(), held.end(), excludedClient);
    if (framesExcludedClient || verdict.leftOut) {
        verdict.leftOut = true;
        return verdict;
    }
    excludedWindows(tree, 0, clientExcluded, verdict.covered);
    return verdict;
}

std::vector<int> holdersOfExcluded(const std::vector<WindowFacts>& tree,
                                   const std::function<bool(ResourceID client)>& clientExcluded) {
    std::vector<bool> holds(tree.size(), false);
    for (std::size_t i = 0; i < tree.size(); ++i) {
        if (!clientExcluded(tree[i].client)) continue;
        for (int at = int(i); at >= 0 && !holds[std::size_t(at)]; at = tree[std::size_t(at)].parent)
            holds[std::size_t(at)] = true;
    }
    std::vector<int> holders;
    for (std::size_t i = 0; i < tree.size(); ++i)
        if (holds[i]) holders.push_back(int(i));
    return holders;
}

Box outerBox(const std::vector<WindowFacts>& tree, int index) {
    int x = 0, y = 0;
    outerCorner(tree, index, x, y);
    const WindowFacts& window = tree[std::size_t(index)];
    return {x, y, window.width + 2 * window.border, window.height + 2 * window.border};
}

Box visibleBox(const std::vector<WindowFacts>& tree, int index) {
    const WindowFacts& window = tree[std::size_t(index)];
    Box box = outerBox(tree, index);
    for (int ancestor = window.parent; ancestor >= 0; ancestor = tree[std::size_t(ancestor)].parent) {
        const WindowFacts& outer = tree[std::size_t(ancestor)];
        int ax = 0, ay = 0;
        outerCorner(tree, ancestor, ax, ay);
        box = intersect(box, {ax + outer.border, ay + outer.border, outer.width, outer.height});
    }
    return box;
}

}  // namespace velto::x11
