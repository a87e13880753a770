#include "WindowOwnership.h"

#include "MainAppContract.h"

#include <gtest/gtest.h>

#include <set>

namespace velto::x11 {
namespace {

using shareview::mainAppBundleID;
using shareview::shareViewBundleID;

constexpr std::int32_t parentPID = 500;
constexpr std::int32_t ownPID = 4000;
const shareview::ExclusionRule rule{parentPID, ownPID};

TEST(WindowOwnershipGrouping, OneRecordPerProcessAndOnePerClientOfUnknownProcess) {
    struct Case {
        std::string name;
        std::vector<ClientFacts> clients;
        std::vector<std::pair<std::int32_t, std::string>> applications;  // process (0: unknown), bundle
    };
    const std::vector<Case> cases = {
        {"the parent and the share view's four connections",
         {{0x200000, parentPID, {mainAppBundleID}},
          {0x400000, ownPID, {}},
          {0x600000, ownPID, {shareViewBundleID}},
          {0x800000, ownPID, {}},
          {0xa00000, ownPID, {}}},
         {{parentPID, mainAppBundleID}, {ownPID, shareViewBundleID}}},
        {"processes in the order of their first client",
         {{0x200000, 7, {"b"}}, {0x400000, 9, {"c"}}, {0x600000, 7, {"a"}}},
         {{7, "b"}, {9, "c"}}},
        {"clients of unknown process stay apart",
         {{0x200000, std::nullopt, {"x"}}, {0x400000, std::nullopt, {"x"}}, {0x600000, 3, {}}},
         {{0, "x"}, {0, "x"}, {3, ""}}},
        {"no clients", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<std::int32_t, std::string>> seen;
        for (const ApplicationFacts& application : groupByProcess(c.clients)) {
            const auto record = runningApplication(application);
            seen.emplace_back(record.processID, record.bundleIdentifier);
        }
        EXPECT_EQ(seen, c.applications);
    }
}

TEST(WindowOwnershipGrouping, AnApplicationHoldsEveryClientAndClassOfItsProcess) {
    const auto applications =
        groupByProcess({{0x200000, 7, {"b", "a"}}, {0x400000, 9, {}}, {0x600000, 7, {"a", "c"}}});
    ASSERT_EQ(applications.size(), 2u);
    EXPECT_EQ(applications[0].clients, (std::vector<ResourceID>{0x200000, 0x600000}));
    EXPECT_EQ(applications[0].windowClasses, (std::vector<std::string>{"b", "a", "c"}));
}

TEST(WindowOwnershipRule, AnyWindowClassOrTheProcessDecides) {
    struct Case {
        std::string name;
        ApplicationFacts application;
        bool excluded;
    };
    const std::vector<Case> cases = {
        {"the parent", {parentPID, {}, {}}, true},
        {"this process", {ownPID, {}, {"anything"}}, true},
        {"a second main application, started later", {9001, {}, {mainAppBundleID}}, true},
        {"an earlier share view", {9002, {}, {shareViewBundleID}}, true},
        {"a process with one window of the main application's class", {9003, {}, {"org.other", mainAppBundleID}}, true},
        {"unknown process, main application's class", {std::nullopt, {}, {mainAppBundleID}}, true},
        {"unknown process, no class", {std::nullopt, {}, {}}, false},
        {"another program", {9004, {}, {"org.other"}}, false},
        {"classes compare whole", {9005, {}, {mainAppBundleID + ".helper", " " + mainAppBundleID}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(excludes(rule, c.application), c.excluded);
    }
}

// Clients of the trees below.
constexpr ResourceID windowManager = 0x100000;
constexpr ResourceID publicApp = 0x200000;
constexpr ResourceID privateApp = 0x400000;
constexpr ResourceID otherPublic = 0x600000;

WindowFacts window(ResourceID client, int parent, bool hasWMState = false, bool viewable = true) {
    WindowFacts facts;
    facts.window = client + 1;
    facts.client = client;
    facts.parent = parent;
    facts.viewable = viewable;
    facts.hasWMState = hasWMState;
    facts.width = 100;
    facts.height = 100;
    return facts;
}

WindowFacts embedded(WindowFacts facts) {
    facts.embedded = true;
    return facts;
}

WindowFacts menu(ResourceID client) {
    WindowFacts facts = window(client, -1);
    facts.overrideRedirect = true;
    return facts;
}

TEST(WindowOwnershipTopLevel, FramesAroundPrivateClientsGoWholeEmbeddedPrivateWindowsAreCovered) {
    struct Case {
        std::string name;
        std::vector<WindowFacts> tree;
        WindowManagerClients managers;
        bool leftOut;
        std::vector<int> covered;
    };
    const std::vector<Case> cases = {
        {"private top-level window", {window(privateApp, -1)}, {}, true, {}},
        {"private window five levels deep in its own top-level",
         {window(privateApp, -1), window(privateApp, 0), window(privateApp, 1), window(privateApp, 2),
          window(privateApp, 3)},
         {}, true, {}},
        {"no window manager: a public window embedding a private one stays",
         {window(publicApp, -1), window(publicApp, 0), window(privateApp, 1)}, {}, false, {2}},
        {"a window holding a managed private client is its frame, whoever made it",
         {window(publicApp, -1), window(privateApp, 0, true)}, {}, true, {}},
        {"a managed private client lent through XEmbed is covered, not its holder's frame",
         {window(publicApp, -1), embedded(window(privateApp, 0, true))}, {windowManager}, false, {1}},
        {"an override-redirect frame around a private client (i3)",
         {menu(windowManager), window(privateApp, 0, true)}, {windowManager}, true, {}},
        {"a frame of a manager that owns no selection, only the check window (fluxbox)",
         {window(windowManager, -1), window(windowManager, 0), window(privateApp, 1, true)},
         {otherPublic, windowManager}, true, {}},
        {"a managed private client deep inside a window manager's wrappers, manager unknown",
         {window(windowManager, -1), window(windowManager, 0), window(windowManager, 1), window(privateApp, 2, true)},
         {}, true, {}},
        {"a private window that kept WM_STATE, moved by its program into a framed public client, is covered",
         {window(windowManager, -1), window(publicApp, 0, true), window(privateApp, 1, true)}, {windowManager},
         false, {2}},
        {"frame around a private client", {window(windowManager, -1), window(privateApp, 0, true)}, {windowManager},
         true, {}},
        {"frame with wrappers around a private client",
         {window(windowManager, -1), window(windowManager, 0), window(windowManager, 1), window(privateApp, 2, true)},
         {windowManager}, true, {}},
        {"frame around a public client that embeds a private window",
         {window(windowManager, -1), window(publicApp, 0, true), window(privateApp, 1)}, {windowManager}, false, {2}},
        {"a frame holding a private and a public client goes whole",
         {window(windowManager, -1), window(privateApp, 0, true), window(otherPublic, 0, true)}, {windowManager},
         true, {}},
        {"a frame around a private client not yet marked WM_STATE goes whole",
         {window(windowManager, -1), window(privateApp, 0)}, {windowManager}, true, {}},
        {"a frame whose client just went goes whole: it may still show its last picture",
         {window(windowManager, -1), window(windowManager, 0)}, {windowManager}, true, {}},
        {"the window manager's own menu shows", {menu(windowManager), window(windowManager, 0)}, {windowManager},
         false, {}},
        {"a window of any application inside a private one is covered with it",
         {window(publicApp, -1), window(privateApp, 0), window(otherPublic, 1), window(privateApp, 2)},
         {}, false, {1}},
        {"an unmapped private window is covered: its parent may keep its last pixels",
         {window(publicApp, -1), window(privateApp, 0, false, false)}, {}, false, {1}},
        {"two private windows side by side",
         {window(publicApp, -1), window(privateApp, 0), window(otherPublic, 0), window(privateApp, 0)},
         {}, false, {1, 3}},
        {"nothing private", {window(publicApp, -1), window(otherPublic, 0)}, {}, false, {}},
    };
    const auto isPrivate = [](ResourceID client) { return client == privateApp; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TopLevelVerdict verdict = judgeTopLevel(c.tree, c.managers, isPrivate);
        EXPECT_EQ(verdict.leftOut, c.leftOut);
        EXPECT_EQ(verdict.covered, c.covered);
    }
}

TEST(WindowOwnershipTopLevel, AClientThatCannotBeJudgedIsTreatedAsExcluded) {
    // The judge reports clients it could not ask about as excluded; a frame
    // around one goes whole like any other.
    const std::set<ResourceID> unknown{publicApp};
    const auto verdict = judgeTopLevel({window(windowManager, -1), window(publicApp, 0, true)}, {windowManager},
                                       [&](ResourceID client) { return unknown.count(client) > 0; });
    EXPECT_TRUE(verdict.leftOut);
}

TEST(WindowOwnershipTopLevel, EveryWindowAboveAPrivateOneHoldsItWhateverItsProgram) {
    struct Case {
        std::string name;
        std::vector<WindowFacts> tree;
        std::vector<int> holders;
    };
    const std::vector<Case> cases = {
        {"nothing private", {window(publicApp, -1), window(publicApp, 0), window(otherPublic, 1)}, {}},
        {"a public container two levels above a private window, and not its public sibling",
         {window(windowManager, -1), window(publicApp, 0, true), window(publicApp, 1), window(privateApp, 2),
          window(otherPublic, 1)},
         {0, 1, 2, 3}},
        {"an unmapped private window counts: its program may map it at any time",
         {window(publicApp, -1), window(publicApp, 0), window(privateApp, 1, false, false)}, {0, 1, 2}},
        {"two private windows in separate branches",
         {window(publicApp, -1), window(publicApp, 0), window(privateApp, 1), window(publicApp, 0),
          window(privateApp, 3), window(publicApp, 0)},
         {0, 1, 2, 3, 4}},
    };
    const auto isPrivate = [](ResourceID client) { return client == privateApp; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(holdersOfExcluded(c.tree, isPrivate), c.holders);
    }
}

TEST(WindowOwnershipGeometry, ACoveredWindowIsClippedByTheInsideOfEveryAncestor) {
    // top-level 400x300 with a 2-pixel border; a panel at (10,10) 200x100
    // with a 1-pixel border; in it, a window partly outside the panel.
    std::vector<WindowFacts> tree(3);
    tree[0] = {1, publicApp, -1, true, false, false, 0, 0, 400, 300, 2};
    tree[1] = {2, publicApp, 0, true, false, false, 10, 10, 200, 100, 1};
    tree[2] = {3, privateApp, 1, true, false, false, 150, 50, 100, 100, 3};
    EXPECT_EQ(outerBox(tree, 0), (Box{0, 0, 404, 304}));
    EXPECT_EQ(outerBox(tree, 1), (Box{12, 12, 202, 102}));
    // The private window's outer corner: top-level inside (2,2) + (10,10) + panel border 1 + (150,50).
    EXPECT_EQ(outerBox(tree, 2), (Box{163, 63, 106, 106}));
    // Clipped to the panel's inside: x 13..213, y 13..113.
    EXPECT_EQ(visibleBox(tree, 2), (Box{163, 63, 50, 50}));
    tree[2].x = 300;  // entirely outside the panel
    EXPECT_TRUE(visibleBox(tree, 2).empty());
}

}  // namespace
}  // namespace velto::x11
