#pragma once
// Who may be painted, asked of the X server at the moment of painting: every
// window's owner is the process of the client that made it as the server
// reports it now, never a client-id range remembered from earlier (the
// server hands a closed client's range to the next one that connects).

#include "SharePlatform.h"
#include "WindowOwnership.h"
#include "WindowQueries.h"
#include "XConnection.h"

#include <X11/Xlib.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace velto::x11 {

// A viewable top-level window that may be painted; what must not show of it
// is covered in black.
struct PaintableWindow {
    Window window = None;
    int x = 0, y = 0, width = 0, height = 0;  // outer box, root coordinates
    int border = 0;
    Visual* visual = nullptr;
    struct Cover {
        Window window = None;
        Box box;                       // top-level coordinates, clipped by the ancestors
        int insideX = 0, insideY = 0;  // the window's inside corner, top-level coordinates
        bool viewable = true;  // else only the last pixels it left may be there
    };
    std::vector<Cover> covers;
    // Windows of the tree this connection had not watched before (the
    // outermost of each new subtree), top-level coordinates: what they held
    // before could not be followed.
    std::vector<Box> unfollowed;
};

class ExclusionJudge {
public:
    ExclusionJudge(XConnection& connection, shareview::ExclusionRule rule, ResourceID clientMask);

    // Called for every event of the connection before the next judgement.
    void observe(const XEvent& event);
    // Whether a change of the property may change a judgement.
    bool judgesBy(Atom property) const;

    // Walks the whole tree, bottom to top: structure events are selected on
    // every viewable window before its children are asked for, so nothing
    // made meanwhile goes unheard. A top-level window that cannot be judged
    // completely (it vanished, a query failed) is not among the result.
    std::vector<PaintableWindow> judge();
    // The outer boxes (root coordinates) of the viewable top-level windows
    // the last judgement left out, or could not judge.
    const std::vector<Box>& leftOut() const { return leftOut_; }
    // Whether the last judgement saw the client and let it be painted.
    bool knownPublic(ResourceID client) const { return publicClients_.count(client) > 0; }
    // The top-level window (among those the last judgement let through)
    // whose tree held `window` then.
    std::optional<Window> topLevelHolding(Window window) const;
    // Whether the window was, or held, a private window: when the last
    // judgement looked inside it, or else when it was last seen or told of.
    // A public window that held one carries its pixels along when it moves
    // into another tree. The judgement before counts too: the events still
    // to be handled after a judgement may tell of moves its walk already saw
    // done, from a tree only the judgement before saw.
    bool mayHoldPrivate(Window window) const {
        return holdingPrivate_.count(window) > 0 || heldPrivateBefore_.count(window) > 0;
    }
    // A private window came into `parent`: it and every ancestor the last
    // judgement saw now hold one.
    void notePrivateWithin(Window parent);

private:
    struct Walk;
    struct Candidate;
    // The viewable top-level windows, each with its own labels.
    std::vector<Candidate> topLevels(Walk& walk);
    // Level by level down every candidate's tree.
    void descend(std::vector<Candidate>& candidates, Walk& walk);
    // The clients of every application the rule names, and those that could
    // not be asked about.
    std::set<ResourceID> excludedClients(const Walk& walk);
    WindowManagerClients windowManagerClients();
    // Who holds a private window, and every walked window's parent.
    void recordHolders(const std::vector<Candidate>& candidates, const std::function<bool(ResourceID)>& clientExcluded);
    void markWithAncestors(std::set<Window>& holders, Window window) const;
    WindowFacts factsOf(Window window, const WindowReport& report, int parent) const;
    void noteBoundary(const WindowFacts& facts, const WindowLabels& labels, Walk& walk);
    // Nothing when the server refused the question; a process of nothing when
    // it cannot tell.
    std::optional<std::optional<std::int32_t>> processOf(ResourceID client, Window window);

    XConnection& connection_;
    ::Display* display_;
    const shareview::ExclusionRule rule_;
    const ResourceID clientMask_;
    const Atom wmSelection_;
    const std::vector<Atom> judgedProperties_;
    WindowQueries queries_;
    // Process of each client, as the server reported it. Dropped as soon as a
    // window of the client is destroyed (the client may be closing, and its
    // range may then go to another) and for every client not seen in a walk.
    std::map<ResourceID, std::optional<std::int32_t>> processByClient_;
    std::vector<Box> leftOut_;
    std::set<ResourceID> publicClients_;
    std::map<Window, Window> topLevelOf_;  // every window of the painted trees
    std::map<Window, Window> parentOf_;    // every window walked, but top-levels
    std::set<Window> holdingPrivate_, heldPrivateBefore_;
};

}  // namespace velto::x11
