// Event stamps on the agent's clock: the least delayed reading sets the
// offset, late readings do not move it, the wrap at 2^32 ms is carried.

#include "EventClock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace velto::launcher {
namespace {

struct Reading {
    std::uint32_t stamp;  // source milliseconds
    double readAt;        // local seconds
    double expectedAt;    // local seconds
};

// The offset may creep up by 1 ms a second; these cases span at most 2 s
// between readings, or say so.
constexpr double driftAllowed = 0.002;

TEST(EventClock, PlacesEachEventAtItsMomentOnTheLocalClock) {
    struct Case {
        const char* name;
        std::vector<Reading> readings;
    };
    constexpr std::uint32_t wrap = 0xFFFFFFFFu;
    const Case cases[] = {
        {"read at once: the read time",
         {{5000, 100.0, 100.0}, {5250, 100.25, 100.25}}},
        {"read late after a prompt one: its own moment",
         {{5000, 100.0, 100.0}, {5200, 101.2, 100.2}, {5300, 101.2, 100.3}}},
        {"first read late, then a prompt one corrects the offset",
         {{5000, 101.0, 101.0}, {5100, 101.1, 101.1}, {6000, 102.0, 102.0}, {6500, 102.5, 102.5}}},
        {"a prompt reading after a late first one moves later events back",
         {{5000, 101.0, 101.0}, {5200, 100.3, 100.3}, {5300, 100.9, 100.4}}},
        {"stamps across the wrap at 2^32 ms",
         {{wrap - 99, 50.0, 50.0}, {wrap, 50.099, 50.099}, {100, 50.2, 50.2}, {400, 51.0, 50.5}}},
        // 30 days without a key: more than half the 2^32 ms the stamps wrap at.
        {"a month without events",
         {{1000, 10.0, 10.0}, {static_cast<std::uint32_t>(1000 + 2592000000u), 2592010.0, 2592010.0},
          {static_cast<std::uint32_t>(1500 + 2592000000u), 2592010.6, 2592010.5}}},
        {"a stamp slightly older than the last",
         {{5000, 100.0, 100.0}, {4990, 100.0, 99.99}}},
        // A source clock 0.5 ms a second slower than ours: the offset follows
        // it within the allowed drift.
        {"a slower source clock",
         {{0, 10.0, 10.0}, {10000, 20.005, 20.005}, {20000, 30.01, 30.01}}},
        // A reading 1 s late after 100 s without events raises the offset by
        // at most 0.1 s.
        {"a late reading after a long quiet time",
         {{0, 10.0, 10.0}, {100000, 111.0, 110.1}, {100500, 111.0, 110.6}, {101000, 111.0, 111.0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EventClock clock;
        for (const auto& reading : c.readings) {
            const double placed = clock.place(reading.stamp, reading.readAt);
            EXPECT_NEAR(placed, reading.expectedAt, driftAllowed) << "stamp " << reading.stamp;
            EXPECT_LE(placed, reading.readAt);
        }
    }
}

}  // namespace
}  // namespace velto::launcher
