#include "Measures.h"

#include <gtest/gtest.h>

#include <string>

namespace benchprobe {
namespace {

TEST(FrameCounter, EventsOfOneRepaintCountOnce) {
    struct Case {
        std::string name;
        std::vector<long> times;
        long frames;
    };
    const std::vector<Case> cases = {
        {"nothing", {}, 0},
        {"one event", {100}, 1},
        {"one repaint, three windows", {100, 101, 103}, 1},
        {"30 fps", {0, 33, 66, 100, 133}, 5},
        {"30 fps, two events each", {0, 2, 33, 34, 66, 69}, 3},
        {"a gap of exactly the limit starts a frame", {0, 8}, 2},
        {"a trickle closer than the limit stays one frame", {0, 7, 14, 21}, 1},
    };
    for (const auto& c : cases) {
        FrameCounter counter(8);
        for (const long time : c.times) counter.event(time);
        EXPECT_EQ(counter.frames(), c.frames) << c.name;
    }
}

TEST(Percentile, InterpolatesBetweenNearestRanks) {
    struct Case {
        std::string name;
        std::vector<double> values;
        double p;
        std::optional<double> expected;
    };
    const std::vector<Case> cases = {
        {"empty", {}, 50, std::nullopt},
        {"single", {7}, 90, 7},
        {"median of odd count, unsorted", {30, 10, 20}, 50, 20},
        {"median of even count", {10, 40, 20, 30}, 50, 25},
        {"90th of ten", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 90, 9.1},
        {"0th is the least", {5, 3, 9}, 0, 3},
        {"100th is the most", {5, 3, 9}, 100, 9},
        {"beyond 100 is clamped", {5, 3, 9}, 150, 9},
    };
    for (const auto& c : cases) {
        const auto result = percentile(c.values, c.p);
        ASSERT_EQ(result.has_value(), c.expected.has_value()) << c.name;
        if (result) {
            EXPECT_NEAR(*result, *c.expected, 1e-9) << c.name;
        }
    }
}

Picture filled(int width, int height, std::uint32_t colour) {
    return {width, height, std::vector<std::uint32_t>(std::size_t(width * height), colour)};
}

void paint(Picture& picture, int left, int top, int width, int height, std::uint32_t colour) {
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x) picture.pixels[std::size_t(y * picture.width + x)] = colour;
}

TEST(FindPatch, FindsTheSolidPatchNotStrayPixels) {
    constexpr std::uint32_t probe = 0xd0309a, ground = 0x3a4a5a;
    struct Case {
        std::string name;
        void (*draw)(Picture&);
        std::optional<Point> expected;
    };
    const std::vector<Case> cases = {
        {"no patch", [](Picture&) {}, std::nullopt},
        {"a patch", [](Picture& p) { paint(p, 10, 20, 11, 7, probe); }, Point{15, 23}},
        {"a patch off by rounding still counts", [](Picture& p) { paint(p, 10, 20, 11, 7, probe + 0x050305); },
         Point{15, 23}},
        {"a patch and a few stray pixels far off",
         [](Picture& p) {
             paint(p, 10, 20, 11, 7, probe);
             paint(p, 90, 2, 1, 1, probe);
             paint(p, 95, 55, 2, 1, probe);
         },
         Point{15, 23}},
        {"only scattered pixels are no patch",
         [](Picture& p) {
             paint(p, 5, 5, 1, 1, probe);
             paint(p, 50, 30, 1, 1, probe);
             paint(p, 90, 50, 1, 1, probe);
         },
         std::nullopt},
        {"a patch too thin for the square is no patch", [](Picture& p) { paint(p, 10, 20, 30, 2, probe); },
         std::nullopt},
        {"a patch at the picture's edge", [](Picture& p) { paint(p, 0, 0, 3, 3, probe); }, Point{1, 1}},
    };
    for (const auto& c : cases) {
        Picture picture = filled(100, 60, ground);
        c.draw(picture);
        EXPECT_EQ(findPatch(picture, rgbOf(probe), 1), c.expected) << c.name;
    }
}

TEST(PatchIs, WantsEveryPixelOfTheSquareInside) {
    Picture picture = filled(5, 5, 0x20c0a0);
    EXPECT_TRUE(patchIs(picture, {2, 2}, 2, rgbOf(0x20c0a0)));
    EXPECT_FALSE(patchIs(picture, {1, 2}, 2, rgbOf(0x20c0a0))) << "square reaches outside";
    picture.pixels[24] = 0x000000;
    EXPECT_FALSE(patchIs(picture, {2, 2}, 2, rgbOf(0x20c0a0))) << "one corner differs";
    EXPECT_TRUE(patchIs(picture, {2, 2}, 1, rgbOf(0x20c0a0)));
}

}  // namespace
}  // namespace benchprobe
