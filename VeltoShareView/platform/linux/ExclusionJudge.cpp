#include "ExclusionJudge.h"

#include <X11/extensions/XRes.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>

namespace velto::x11 {

struct ExclusionJudge::Walk {
    struct Client {
        Window firstWindow = None;  // asked about to learn the client's process
        std::vector<std::string> windowClasses;
        std::optional<std::int32_t> claimedPID;
    };
    std::map<ResourceID, Client> clients;
};

struct ExclusionJudge::Candidate {
    PaintableWindow window;
    std::vector<WindowFacts> tree;  // as WindowOwnership wants it
    bool failed = false;
};

ExclusionJudge::ExclusionJudge(XConnection& connection, shareview::ExclusionRule rule, ResourceID clientMask)
    : connection_(connection), display_(connection.display()), rule_(rule), clientMask_(clientMask),
      wmSelection_(XInternAtom(display_, ("WM_S" + std::to_string(DefaultScreen(display_))).c_str(), False)),
      judgedProperties_{XInternAtom(display_, "WM_CLASS", False), XInternAtom(display_, "WM_STATE", False),
                        XInternAtom(display_, "_NET_WM_PID", False), XInternAtom(display_, "_XEMBED_INFO", False),
                        XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False)},
      queries_(display_) {}

bool ExclusionJudge::judgesBy(Atom property) const {
    return std::find(judgedProperties_.begin(), judgedProperties_.end(), property) != judgedProperties_.end();
}

void ExclusionJudge::observe(const XEvent& event) {
    if (event.type != DestroyNotify) return;
    processByClient_.erase(event.xdestroywindow.window & ~clientMask_);
    holdingPrivate_.erase(event.xdestroywindow.window);
    heldPrivateBefore_.erase(event.xdestroywindow.window);
}

WindowManagerClients ExclusionJudge::windowManagerClients() {
    // An ICCCM window manager owns WM_Sn, an EWMH one names a window of its
    // own on the root; either connection makes the frames.
    WindowManagerClients clients;
    if (const Window owner = XGetSelectionOwner(display_, wmSelection_); owner != None)
        clients.push_back(owner & ~clientMask_);
    if (const auto check = queries_.supportingWMCheck(connection_.root()))
        clients.push_back(*check & ~clientMask_);
    return clients;
}

std::optional<std::optional<std::int32_t>> ExclusionJudge::processOf(ResourceID client, Window window) {
    if (auto known = processByClient_.find(client); known != processByClient_.end()) return known->second;
    XResClientIdSpec clientId{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    if (XResQueryClientIds(display_, 1, &clientId, &count, &values) != Success) return std::nullopt;
    std::optional<std::int32_t> pid;
    for (long i = 0; i < count && !pid; ++i)
        if (const pid_t value = XResGetClientPid(&values[i]); value > 0) pid = value;
    XResClientIdsDestroy(count, values);
    processByClient_[client] = pid;
    return pid;
}

WindowFacts ExclusionJudge::factsOf(Window window, const WindowReport& report, int parent) const {
    WindowFacts facts;
    facts.window = window;
    facts.client = window & ~clientMask_;
    facts.parent = parent;
    facts.viewable = report.viewable;
    facts.overrideRedirect = report.overrideRedirect;
    facts.x = report.x;
    facts.y = report.y;
    facts.width = report.width;
    facts.height = report.height;
    facts.border = report.border;
    return facts;
}

void ExclusionJudge::noteBoundary(const WindowFacts& facts, const WindowLabels& labels, Walk& walk) {
    Walk::Client& client = walk.clients[facts.client];
    if (client.firstWindow == None) client.firstWindow = facts.window;
    if (labels.windowClass) client.windowClasses.push_back(*labels.windowClass);
    if (!client.claimedPID) client.claimedPID = labels.claimedPID;
}

std::vector<ExclusionJudge::Candidate> ExclusionJudge::topLevels(Walk& walk) {
    std::vector<Candidate> candidates;
    const auto rootChildren = queries_.children({connection_.root()});
    const std::vector<Window> windows = rootChildren.front().value_or(std::vector<Window>{});
    const auto reports = queries_.describe(windows);
    std::vector<Window> shown;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const auto& report = reports[i];
        if (!report || report->inputOnly || !report->viewable) continue;
        // The server's own windows (the compositing overlay) show what a
        // compositing manager painted, private windows included.
        if ((windows[i] & ~clientMask_) == 0) continue;
        Candidate candidate;
        candidate.window = {windows[i], report->x, report->y, report->width + 2 * report->border,
                            report->height + 2 * report->border, report->border, report->visual, {}, {}};
        candidate.tree.push_back(factsOf(windows[i], *report, -1));
        candidates.push_back(std::move(candidate));
        shown.push_back(windows[i]);
    }
    const auto topLabels = queries_.labels(shown);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (!topLabels[i]) {
            candidates[i].failed = true;
            continue;
        }
        candidates[i].tree.front().hasWMState = topLabels[i]->hasWMState;
        noteBoundary(candidates[i].tree.front(), *topLabels[i], walk);
    }
    return candidates;
}

void ExclusionJudge::descend(std::vector<Candidate>& candidates, Walk& walk) {
    // Windows whose children are asked for next: candidate and tree index.
    std::vector<std::pair<std::size_t, int>> level;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (!candidates[i].failed) level.emplace_back(i, 0);
    while (!level.empty()) {
        // Selected before the children are asked for: a child made in
        // between is in the answer or announced by an event, never neither.
        std::vector<Window> parents;
        for (const auto& [candidate, index] : level) {
            const Window window = candidates[candidate].tree[std::size_t(index)].window;
            // Properties too: a window relabelled (WM_CLASS, WM_STATE) is judged anew at once.
            XSelectInput(display_, window, SubstructureNotifyMask | PropertyChangeMask);
            XShapeSelectInput(display_, window, ShapeNotifyMask);
            parents.push_back(window);
        }
        const auto childLists = queries_.children(parents);
        std::vector<std::pair<std::size_t, int>> owners;  // of each child: candidate, parent index
        std::vector<Window> children;
        for (std::size_t i = 0; i < level.size(); ++i) {
            if (!childLists[i]) {
                candidates[level[i].first].failed = true;
                continue;
            }
            for (Window child : *childLists[i]) {
                owners.push_back(level[i]);
                children.push_back(child);
            }
        }
        const auto childReports = queries_.describe(children);
        std::vector<std::pair<std::size_t, int>> added, boundaries;  // candidate, tree index
        std::vector<Window> boundaryWindows;
        for (std::size_t i = 0; i < children.size(); ++i) {
            Candidate& candidate = candidates[owners[i].first];
            if (!childReports[i]) candidate.failed = true;
            if (candidate.failed || childReports[i]->inputOnly) continue;  // InputOnly draws and holds nothing drawn
            const int index = int(candidate.tree.size());
            candidate.tree.push_back(factsOf(children[i], *childReports[i], owners[i].second));
            added.emplace_back(owners[i].first, index);
            // Where one program's windows begin: a client window inside a
            // frame, a window embedded into another program's.
            if (candidate.tree.back().client != candidate.tree[std::size_t(owners[i].second)].client) {
                boundaries.emplace_back(owners[i].first, index);
                boundaryWindows.push_back(children[i]);
            }
        }
        const auto labels = queries_.labels(boundaryWindows);
        for (std::size_t i = 0; i < boundaries.size(); ++i) {
            Candidate& candidate = candidates[boundaries[i].first];
            if (!labels[i]) candidate.failed = true;
            if (candidate.failed) continue;
            WindowFacts& facts = candidate.tree[std::size_t(boundaries[i].second)];
            facts.hasWMState = labels[i]->hasWMState;
            facts.embedded = labels[i]->embedded;
            noteBoundary(facts, *labels[i], walk);
        }
        // When an unmapped window maps, its parent hears of it: no need to look inside.
        std::vector<std::pair<std::size_t, int>> next;
        for (const auto& [candidate, index] : added)
            if (!candidates[candidate].failed && candidates[candidate].tree[std::size_t(index)].viewable)
                next.emplace_back(candidate, index);
        level = std::move(next);
    }
}

std::set<ResourceID> ExclusionJudge::excludedClients(const Walk& walk) {
    std::set<ResourceID> refused;  // not known, so not shown
    // The processes behind the clients seen; clients not seen are forgotten.
    std::vector<ClientFacts> clients;
    std::map<ResourceID, std::optional<std::int32_t>> stillSeen;
    for (const auto& [base, client] : walk.clients) {
        const auto process = processOf(base, client.firstWindow);
        if (!process) {
            refused.insert(base);
            continue;
        }
        stillSeen[base] = *process;
        clients.push_back({base, *process ? *process : client.claimedPID, client.windowClasses});
    }
    processByClient_ = std::move(stillSeen);

    std::set<ResourceID> excluded = refused;
    for (const ApplicationFacts& application : groupByProcess(clients))
        if (excludes(rule_, application)) excluded.insert(application.clients.begin(), application.clients.end());
    return excluded;
}

std::vector<PaintableWindow> ExclusionJudge::judge() {
    const WindowManagerClients windowManagers = windowManagerClients();
    Walk walk;
    std::vector<Candidate> candidates = topLevels(walk);
    descend(candidates, walk);
    leftOut_.clear();
    const auto leaveOut = [&](const PaintableWindow& window) {
        leftOut_.push_back({window.x, window.y, window.width, window.height});
    };
    // A top-level window that cannot be judged completely (it vanished, a
    // query failed) is not painted.
    std::erase_if(candidates, [&](const Candidate& candidate) {
        if (candidate.failed) leaveOut(candidate.window);
        return candidate.failed;
    });
    const std::set<ResourceID> excluded = excludedClients(walk);
    const auto clientExcluded = [&](ResourceID client) { return excluded.count(client) > 0; };
    publicClients_.clear();
    for (const auto& [client, facts] : walk.clients)
        if (!clientExcluded(client)) publicClients_.insert(client);
    recordHolders(candidates, clientExcluded);
    const std::map<Window, Window> followed = std::move(topLevelOf_);
    topLevelOf_.clear();

    std::vector<PaintableWindow> result;
    for (Candidate& candidate : candidates) {
        const TopLevelVerdict verdict = judgeTopLevel(candidate.tree, windowManagers, clientExcluded);
        if (verdict.leftOut) {
            leaveOut(candidate.window);
            continue;
        }
        for (int index : verdict.covered) {
            const WindowFacts& window = candidate.tree[std::size_t(index)];
            const Box box = visibleBox(candidate.tree, index);
            if (box.empty()) continue;
            const Box outer = outerBox(candidate.tree, index);
            candidate.window.covers.push_back(
                {window.window, box, outer.x + window.border, outer.y + window.border, window.viewable});
        }
        for (int index = 0; index < int(candidate.tree.size()); ++index) {
            const WindowFacts& window = candidate.tree[std::size_t(index)];
            topLevelOf_[window.window] = candidate.window.window;
            const auto wasFollowed = [&](const WindowFacts& facts) {
                const auto found = followed.find(facts.window);
                return found != followed.end() && found->second == candidate.window.window;
            };
            if (wasFollowed(window) || (window.parent >= 0 && !wasFollowed(candidate.tree[std::size_t(window.parent)])))
                continue;
            candidate.window.unfollowed.push_back(visibleBox(candidate.tree, index));
        }
        result.push_back(std::move(candidate.window));
    }
    return result;
}

void ExclusionJudge::recordHolders(const std::vector<Candidate>& candidates,
                                   const std::function<bool(ResourceID)>& clientExcluded) {
    parentOf_.clear();
    std::set<Window> holding, lookedInside;
    // Left-out trees too: a public window may leave a private frame with a
    // private window inside it.
    for (const Candidate& candidate : candidates) {
        for (const WindowFacts& window : candidate.tree) {
            if (window.parent >= 0) parentOf_[window.window] = candidate.tree[std::size_t(window.parent)].window;
            if (window.viewable) lookedInside.insert(window.window);
        }
        for (int index : holdersOfExcluded(candidate.tree, clientExcluded))
            holding.insert(candidate.tree[std::size_t(index)].window);
    }
    // A window the walk did not look inside (unmapped, or outside every
    // walked tree) keeps what was known of it, and lends it to its parents.
    for (Window window : holdingPrivate_)
        if (lookedInside.count(window) == 0) markWithAncestors(holding, window);
    heldPrivateBefore_ = std::exchange(holdingPrivate_, std::move(holding));
}

void ExclusionJudge::markWithAncestors(std::set<Window>& holders, Window window) const {
    for (auto at = std::optional<Window>(window); at && holders.insert(*at).second;) {
        const auto found = parentOf_.find(*at);
        at = found != parentOf_.end() ? std::optional<Window>(found->second) : std::nullopt;
    }
}

void ExclusionJudge::notePrivateWithin(Window parent) { markWithAncestors(holdingPrivate_, parent); }

std::optional<Window> ExclusionJudge::topLevelHolding(Window window) const {
    const auto found = topLevelOf_.find(window);
    if (found == topLevelOf_.end()) return std::nullopt;
    return found->second;
}

}  // namespace velto::x11
