#include "PixmapTrust.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velto::x11 {
namespace {

constexpr int forget = 0, northWest = 1, north = 2, center = 5, southEast = 9, staticGravity = 10;

TEST(PixmapTrustResize, OnlyWhatTheBitGravityKeepsIsTheWindowsOwnContent) {
    struct Case {
        std::string name;
        Box before, after;  // inside boxes, root coordinates
        int gravity;
        KeptContent expected;
    };
    const std::vector<Case> cases = {
        {"grown to the right and down, north-west: the old corner is kept, the new strips are not",
         {100, 100, 200, 150}, {100, 100, 300, 250}, northWest, {0, 0, {0, 0, 200, 150}}},
        {"shrunk, north-west: all that is left is its own", {100, 100, 200, 150}, {100, 100, 120, 90}, northWest,
         {0, 0, {0, 0, 120, 90}}},
        {"forget gravity: nothing is kept, whatever the size", {100, 100, 200, 150}, {100, 100, 300, 250}, forget,
         {0, 0, {}}},
        {"forget gravity, shrunk: nothing is kept either", {0, 0, 200, 150}, {0, 0, 100, 100}, forget, {0, 0, {}}},
        {"north: centred across, halves truncated", {0, 0, 200, 150}, {0, 0, 301, 150}, north,
         {50, 0, {50, 0, 200, 150}}},
        {"centre, shrunk: the middle of the old content", {0, 0, 200, 200}, {0, 0, 100, 100}, center,
         {-50, -50, {0, 0, 100, 100}}},
        {"south-east: kept in the far corner", {0, 0, 200, 150}, {0, 0, 260, 170}, southEast,
         {60, 20, {60, 20, 200, 150}}},
        {"static, grown to the left and up (maximised): stays where it was on the screen",
         {300, 200, 400, 300}, {0, 0, 1920, 1080}, staticGravity, {300, 200, {300, 200, 400, 300}}},
        {"static, moved away entirely: nothing is kept", {0, 0, 100, 100}, {500, 500, 120, 100}, staticGravity,
         {-500, -500, {}}},
        {"an unknown gravity is taken as forget", {0, 0, 100, 100}, {0, 0, 200, 100}, 11, {0, 0, {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KeptContent content = keptAfterResize(c.before, c.after, c.gravity);
        EXPECT_EQ(content.kept, c.expected.kept);
        if (!c.expected.kept.empty()) {
            EXPECT_EQ(content.dx, c.expected.dx);
            EXPECT_EQ(content.dy, c.expected.dy);
        }
    }
}

TEST(PixmapTrustRepaint, OnlyDamageReportedAfterTheRepaintRequestClearsAFilledWindow) {
    // A window filled while the server had handled this connection's requests
    // up to 40, watched from request 41 on, asked to paint again from 43 on.
    struct Case {
        std::string name;
        unsigned long reportedAfterRequest;
        std::optional<unsigned long> repaintAsked;
        bool clears;
    };
    const std::vector<Case> cases = {
        {"the server's report of the fill itself, and of the border", 40, 43, false},
        {"the server's report of the watch's start", 41, 43, false},
        {"a paint the server handled before the request", 42, 43, false},
        {"the background the server paints for the request", 43, 43, true},
        {"the program's paint after the request exposed it", 47, 43, true},
        {"a child's last pixels: any paint after the change", 40, std::nullopt, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(clearsCover(c.reportedAfterRequest, c.repaintAsked), c.clears) << c.name;
}

}  // namespace
}  // namespace velto::x11
