#include "FramePacing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velto::x11 {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using Clock = FramePacing::Clock;
constexpr auto interval = microseconds(33333);
const Clock::time_point start{std::chrono::hours(1)};

Clock::time_point at(double ms) { return start + microseconds(std::int64_t(ms * 1000)); }

struct Paced {
    int frames = 0;
    int waits = 0;  // changes that found no frame allowed yet
    double lastFrame = 0;
};

// The capture's first frame at 0, then a source whose changes arrive at
// `arrivals` (ms): each change seen makes a frame at once when allowed, else
// at the due time, showing every change that came meanwhile.
Paced play(const std::vector<double>& arrivals) {
    FramePacing pacing(interval);
    pacing.frameMadeAt(at(0), at(0));
    Paced paced{1, 0, 0};
    for (const double arrival : arrivals) {
        if (arrival < paced.lastFrame) continue;  // shown by the frame made while it waited
        double made = arrival;
        if (!pacing.allows(at(arrival))) {
            ++paced.waits;
            made = double(std::chrono::duration_cast<microseconds>(pacing.due() - start).count()) / 1000;
        }
        pacing.frameMadeAt(at(made), at(arrival));
        paced.lastFrame = made;
        ++paced.frames;
    }
    return paced;
}

std::vector<double> source(double phase, double period, int count, const std::vector<double>& jitter = {0}) {
    std::vector<double> arrivals;
    for (int i = 0; i < count; ++i) arrivals.push_back(phase + i * period + jitter[std::size_t(i) % jitter.size()]);
    return arrivals;
}

TEST(FramePacing, FollowsASourceOfItsOwnRateAtAnyPhaseAndNeverExceedsTheRate) {
    struct Case {
        std::string name;
        std::vector<double> arrivals;
        int mostWaits;
    };
    std::vector<Case> cases;
    for (const double phase : {1.0, 3.5, 10.0, 20.0, 30.0, 33.0})
        cases.push_back({"30 fps, first change " + std::to_string(phase) + " ms after the first frame",
                         source(phase, 1000.0 / 30, 300), 1});
    cases.push_back({"30 fps, jittering by 3 ms", source(3.5, 1000.0 / 30, 300, {0, 3, -3, 2, -2, 0, 1}), 1});
    cases.push_back({"30 fps, a change now and then 12 ms late", source(3.5, 1000.0 / 30, 300, {0, 0, 0, 12}), 1});
    cases.push_back({"a bit faster than 30 fps", source(3.5, 33.0, 300), 300});
    cases.push_back({"60 fps", source(3.5, 1000.0 / 60, 600), 600});
    cases.push_back({"120 fps", source(3.5, 1000.0 / 120, 1200), 1200});
    for (const Case& c : cases) {
        const Paced paced = play(c.arrivals);
        EXPECT_LE(paced.waits, c.mostWaits) << c.name;
        const double seconds = paced.lastFrame / 1000;
        // The first frame, one interval of credit saved up, and the last change waiting.
        EXPECT_LE(paced.frames, 30 * seconds + 3) << c.name;
        const double sourceSeconds = c.arrivals.back() / 1000;
        EXPECT_GE(paced.frames, std::min<double>(double(c.arrivals.size()), 30 * sourceSeconds - 1)) << c.name;
    }
}

TEST(FramePacing, LooksThatMadeNoFrameAreSpacedApart) {
    FramePacing pacing(interval);
    pacing.frameMadeAt(at(0), at(0));
    EXPECT_FALSE(pacing.allows(at(15)));
    ASSERT_TRUE(pacing.allows(at(20)));
    pacing.lookedAt(at(20));
    EXPECT_FALSE(pacing.allows(at(23)));
    EXPECT_TRUE(pacing.allows(at(24)));
}

}  // namespace
}  // namespace velto::x11
