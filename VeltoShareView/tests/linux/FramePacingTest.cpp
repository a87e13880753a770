#include "FramePacing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velto::x11 {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
constexpr auto interval = microseconds(33333);

struct Paced {
    int frames = 0;
    int waits = 0;  // changes that found no frame allowed yet
    FramePacing::Clock::time_point last{};
};

// A source whose changes arrive at `arrivals` (ms from the start); each is
// turned into a frame at once when allowed, else at the due time.
Paced play(const std::vector<double>& arrivals) {
    FramePacing pacing(interval);
    const FramePacing::Clock::time_point start{std::chrono::hours(1)};
    Paced run;
    for (const double at : arrivals) {
        auto now = start + microseconds(std::int64_t(at * 1000));
        if (now < run.last) continue;  // painted together with the one before
        if (!pacing.allows(now)) {
            ++run.waits;
            now = pacing.due();
        }
        pacing.frameMadeAt(now);
        run.last = now;
        ++run.frames;
    }
    return run;
}

std::vector<double> source(double period, int count, const std::vector<double>& jitter = {0}) {
    std::vector<double> arrivals;
    for (int i = 0; i < count; ++i) arrivals.push_back(100 + i * period + jitter[std::size_t(i) % jitter.size()]);
    return arrivals;
}

TEST(FramePacing, FollowsASourceOfItsOwnRateWithoutWaitingAndNeverExceedsTheRate) {
    struct Case {
        std::string name;
        std::vector<double> arrivals;
        int mostFrames;
        int mostWaits;
    };
    const std::vector<Case> cases = {
        {"30 fps, steady", source(1000.0 / 30, 300), 300, 0},
        {"30 fps, jittering by 3 ms", source(1000.0 / 30, 300, {0, 3, -3, 2, -2, 0, 1}), 300, 0},
        {"30 fps, a bit fast", source(33.0, 300), 300, 300},
        {"60 fps: held to 30", source(1000.0 / 60, 600), 302, 600},
        {"120 fps: held to 30", source(1000.0 / 120, 1200), 302, 1200},
    };
    for (const Case& c : cases) {
        const Paced run = play(c.arrivals);
        EXPECT_LE(run.frames, c.mostFrames) << c.name;
        EXPECT_LE(run.waits, c.mostWaits) << c.name;
        const double seconds = (c.arrivals.back() - c.arrivals.front()) / 1000;
        // The last change waiting for its frame may be painted an interval after the source ended.
        EXPECT_LE(run.frames, 30 * seconds + 3) << c.name;
        EXPECT_GE(run.frames, std::min<double>(double(c.arrivals.size()), 29 * seconds)) << c.name;
    }
}

TEST(FramePacing, LooksThatMadeNoFrameAreSpacedApart) {
    FramePacing pacing(interval);
    const FramePacing::Clock::time_point start{std::chrono::hours(1)};
    pacing.frameMadeAt(start);
    EXPECT_FALSE(pacing.allows(start + milliseconds(20)));
    const auto later = start + milliseconds(40);
    ASSERT_TRUE(pacing.allows(later));
    pacing.lookedAt(later);
    EXPECT_FALSE(pacing.allows(later + milliseconds(3)));
    EXPECT_TRUE(pacing.allows(later + milliseconds(4)));
}

}  // namespace
}  // namespace velto::x11
