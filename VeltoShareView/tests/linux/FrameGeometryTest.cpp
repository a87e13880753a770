#include "FrameGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace velto::x11 {
namespace {

TEST(FrameGeometry, FramesArePaintedAtTheSizeTheWindowShowsThemAtMostTheConfiguredSize) {
    struct Case {
        const char* name;
        PixelSize monitor, configured, shown, expected;
    };
    const Case cases[] = {
        {"the default window on a full HD monitor", {1920, 1080}, {1920, 1080}, {960, 600}, {960, 540}},
        {"a tall window: the width decides", {1920, 1080}, {1920, 1080}, {500, 1000}, {500, 281}},
        {"a 4K monitor in the default window", {3840, 2160}, {2560, 1440}, {960, 600}, {960, 540}},
        {"a window larger than the configured size", {3840, 2160}, {2560, 1440}, {3000, 2000}, {2560, 1440}},
        {"a window as large as the monitor", {1920, 1080}, {1920, 1080}, {1920, 1080}, {1920, 1080}},
        {"the window's size not known yet", {1920, 1080}, {1920, 1080}, {0, 0}, {1920, 1080}},
        {"a window of one pixel", {1920, 1080}, {1920, 1080}, {1, 1}, {1, 1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(frameSizeFor(c.monitor, c.configured, c.shown), c.expected) << c.name;
        // Shown as painted: no second scaling.
        // Painted at the window's size: shown without a second scaling.
        if (!(c.expected == c.configured)) {
            EXPECT_FALSE(placeFrame(c.expected, c.shown).scaled) << c.name;
        }
    }
}

TEST(FrameGeometry, PlacementCentresAndScalesOnlyWhenTheFrameDoesNotFill) {
    struct Case {
        const char* name;
        PixelSize frame, window;
        Placement expected;
    };
    const Case cases[] = {
        {"exact", {960, 540}, {960, 540}, {0, 0, 960, 540, false}},
        {"bars above and below", {960, 540}, {960, 600}, {0, 30, 960, 540, false}},
        {"one pixel short across", {959, 540}, {960, 600}, {0, 30, 959, 540, false}},
        {"a frame in flight during a resize, larger", {960, 540}, {480, 300}, {0, 15, 480, 270, true}},
        {"a frame in flight during a resize, smaller", {480, 270}, {960, 600}, {0, 30, 960, 540, true}},
        {"nothing to show", {0, 0}, {960, 600}, {0, 0, 0, 0, false}},
    };
    for (const Case& c : cases) {
        const Placement placement = placeFrame(c.frame, c.window);
        EXPECT_EQ(placement.left, c.expected.left) << c.name;
        EXPECT_EQ(placement.top, c.expected.top) << c.name;
        EXPECT_EQ(placement.width, c.expected.width) << c.name;
        EXPECT_EQ(placement.height, c.expected.height) << c.name;
        EXPECT_EQ(placement.scaled, c.expected.scaled) << c.name;
    }
}

// The monitor pixels a frame pixel is mixed from under bilinear filtering,
// with the pixel centre mapped back through the scale.
std::pair<int, int> sources(int framePixel, FrameScale frameScale, double scale) {
    if (frameScale.identity()) return {framePixel, framePixel};  // copied, not filtered
    const int first = int(std::floor((framePixel + 0.5) / scale - 0.5));
    return {first, first + 1};
}

bool inRange(int value, int from, int length) { return value >= from && value < from + length; }

// What is repainted must hold every frame pixel a changed monitor pixel can
// reach, or the old picture (perhaps with a window since left out) stays.
TEST(FrameGeometry, ReachHoldsEveryFramePixelAChangedPixelFeedsAndInsideOnlyPixelsOfTheBox) {
    std::mt19937 random(12345);
    const PixelSize monitors[] = {{1920, 1080}, {3840, 2160}, {4183, 2000}, {1366, 768}};
    const int frameWidths[] = {960, 2560, 1000, 1366, 701};
    for (const PixelSize monitor : monitors)
        for (const int frameWidth : frameWidths) {
            if (frameWidth > monitor.width) continue;
            const PixelSize frame{frameWidth, int(double(monitor.height) * frameWidth / monitor.width)};
            const FrameScale scale = FrameScale::between(monitor, frame);
            for (int trial = 0; trial < 200; ++trial) {
                std::uniform_int_distribution<int> position(-50, monitor.width), length(1, 300);
                const Box box{position(random), position(random) % monitor.height, length(random), length(random)};
                const Box reach = scale.reach(box, frame);
                const Box inside = scale.inside(box);
                for (int x = 0; x < frame.width; ++x) {
                    const auto [a, b] = sources(x, scale, scale.x);
                    const bool fed = inRange(a, box.x, box.width) || inRange(b, box.x, box.width);
                    if (fed) {
                        ASSERT_TRUE(inRange(x, reach.x, reach.width)) << x << " of " << frameWidth;
                    }
                    if (inRange(x, inside.x, inside.width)) {
                        ASSERT_TRUE(inRange(a, box.x, box.width) && inRange(b, box.x, box.width)) << x;
                    }
                }
                for (int y = 0; y < frame.height; ++y) {
                    const auto [a, b] = sources(y, scale, scale.y);
                    const bool fed = inRange(a, box.y, box.height) || inRange(b, box.y, box.height);
                    if (fed) {
                        ASSERT_TRUE(inRange(y, reach.y, reach.height)) << y;
                    }
                }
            }
        }
}

TEST(FrameGeometry, AnAreaStaysShortWithoutLosingAnyPixel) {
    Area area;
    area.add({10, 10, 100, 100});
    area.add({20, 20, 10, 10});  // inside: dropped
    EXPECT_EQ(area.boxes.size(), 1u);
    area.add({0, 0, 200, 200});  // holds the first: replaces it
    ASSERT_EQ(area.boxes.size(), 1u);
    EXPECT_EQ(area.boxes[0], (Box{0, 0, 200, 200}));
    area.add({});  // empty: nothing
    EXPECT_EQ(area.boxes.size(), 1u);
    std::vector<Box> added;
    for (int i = 0; i < 20; ++i) {
        added.push_back({300 + 10 * i, 5 * i, 4, 4});
        area.add(added.back());
    }
    EXPECT_LE(area.boxes.size(), 8u);
    for (const Box& box : added)
        EXPECT_TRUE(std::any_of(area.boxes.begin(), area.boxes.end(), [&](const Box& kept) { return kept.contains(box); }))
            << box.x;
    area.addEverything();
    area.add({1, 1, 1, 1});
    EXPECT_TRUE(area.everything);
    EXPECT_TRUE(area.boxes.empty());
}

TEST(FrameGeometry, EachPooledPictureRepaintsWhatChangedSinceItWasLastPainted) {
    DamageBook book(3);
    const Box a{0, 0, 10, 10}, b{100, 100, 10, 10}, c{200, 0, 5, 5}, d{300, 300, 5, 5};
    for (int picture = 0; picture < 3; ++picture) EXPECT_TRUE(book.missedBy(picture).everything);

    EXPECT_TRUE(book.startPainting(0).missed.everything);  // handed out
    EXPECT_FALSE(book.changedSinceLastFrame());
    book.add(a);
    const DamageBook::Painting second = book.startPainting(1);  // handed out, shown after picture 0
    EXPECT_TRUE(second.missed.everything);
    EXPECT_EQ(second.sinceLastFrame.boxes, (std::vector<Box>{a}));
    book.add(b);
    EXPECT_EQ(book.missedBy(0).boxes, (std::vector<Box>{a, b}));
    EXPECT_EQ(book.missedBy(1).boxes, (std::vector<Box>{b}));
    EXPECT_TRUE(book.missedBy(2).everything);

    // A change reported while a picture is painted may not be in it: it
    // stays missed by that picture, and the next frame shows it as changed.
    const DamageBook::Painting third = book.startPainting(0);
    EXPECT_EQ(third.missed.boxes, (std::vector<Box>{a, b}));
    EXPECT_EQ(third.sinceLastFrame.boxes, (std::vector<Box>{b}));
    book.add(c);
    EXPECT_EQ(book.missedBy(0).boxes, (std::vector<Box>{c}));
    EXPECT_TRUE(book.changedSinceLastFrame());

    // A painting thrown away: the picture lacks again what it was to get,
    // and nothing it would have shown as changed is forgotten.
    const DamageBook::Painting thrownAway = book.startPainting(1);
    EXPECT_EQ(thrownAway.missed.boxes, (std::vector<Box>{b, c}));
    book.add(d);
    book.discard(thrownAway);
    const DamageBook::Painting retried = book.startPainting(1);
    EXPECT_EQ(retried.missed.boxes, (std::vector<Box>{d, b, c}));
    EXPECT_EQ(retried.sinceLastFrame.boxes, (std::vector<Box>{d, c}));

    book.addEverything();
    EXPECT_TRUE(book.missedBy(0).everything);
    EXPECT_TRUE(book.startPainting(2).sinceLastFrame.everything);
}

TEST(FrameGeometry, ScenesDifferWhereWindowsCameWentMovedOrChangedPlaceInTheStack) {
    const WindowLook desk{1, {0, 0, 1920, 1080}}, editor{2, {100, 100, 800, 600}},
        chat{3, {500, 400, 300, 300}}, menu{4, {120, 120, 50, 80}};
    WindowLook movedChat = chat;
    movedChat.bounds.x = 700;
    WindowLook coveredEditor = editor;
    coveredEditor.plain = false;
    WindowLook translucentChat = chat;
    translucentChat.opaque = false;
    struct Case {
        const char* name;
        std::vector<WindowLook> before, after;
        std::vector<Box> expected;
    };
    const std::vector<Case> cases = {
        {"nothing changed", {desk, editor, chat}, {desk, editor, chat}, {}},
        {"a window came", {desk, editor}, {desk, editor, chat}, {chat.bounds}},
        {"a window went", {desk, editor, chat}, {desk, editor}, {chat.bounds}},
        {"a window moved", {desk, chat}, {desk, movedChat}, {chat.bounds, movedChat.bounds}},
        {"a window raised over another", {desk, chat, editor}, {desk, editor, chat}, {chat.bounds}},
        {"a window lowered to the bottom", {desk, editor, chat}, {chat, desk, editor}, {chat.bounds}},
        {"a covered window is repainted at every judgement", {desk, coveredEditor}, {desk, coveredEditor},
         {editor.bounds}},
        {"a window became translucent", {desk, chat}, {desk, translucentChat}, {chat.bounds}},
        {"a menu came and a window moved at once", {desk, chat}, {desk, movedChat, menu},
         {chat.bounds, movedChat.bounds, menu.bounds}},
    };
    for (const Case& c : cases) {
        const Area changed = changedBetween(c.before, c.after);
        EXPECT_FALSE(changed.everything) << c.name;
        std::vector<Box> sorted = changed.boxes, expected = c.expected;
        const auto order = [](const Box& l, const Box& r) { return std::tie(l.x, l.y, l.width, l.height) <
                                                                   std::tie(r.x, r.y, r.width, r.height); };
        std::sort(sorted.begin(), sorted.end(), order);
        std::sort(expected.begin(), expected.end(), order);
        EXPECT_EQ(sorted, expected) << c.name;
    }
}

}  // namespace
}  // namespace velto::x11
