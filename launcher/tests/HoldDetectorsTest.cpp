#include "HoldDetectors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

namespace velto::launcher {
namespace {

static_assert(std::is_trivially_copyable_v<ShortcutHold>);
static_assert(std::is_trivially_copyable_v<SingleModifierHold>);

struct Sample {
    bool down;
    bool otherModifiers;
    std::uint32_t keyCount;
    double at;
    bool fires;
};

struct Sequence {
    const char* name;
    std::vector<Sample> samples;
};

void PrintTo(const Sequence& sequence, std::ostream* out) { *out << sequence.name; }

class SingleModifierHoldSequence : public testing::TestWithParam<Sequence> {};

TEST_P(SingleModifierHoldSequence, FiresExactlyWhereExpected) {
    SingleModifierHold hold;
    const auto& samples = GetParam().samples;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const Sample& s = samples[i];
        EXPECT_EQ(hold.update(s.down, s.otherModifiers, s.keyCount, s.at), s.fires)
            << "sample " << i << " at " << s.at;
    }
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Transitions, SingleModifierHoldSequence,
    testing::Values(
        Sequence{"CleanHoldFiresAtExactlyTheDelayThenOnlyOnce",
                 {{true, false, 7, 0.0, false},
                  {true, false, 7, 0.2, false},
                  {true, false, 7, 0.44, false},
                  {true, false, 7, 0.45, true},
                  {true, false, 7, 0.46, false},
                  {true, false, 7, 5.0, false}}},
        Sequence{"ReleaseAndPressAgainFiresAgain",
                 {{true, false, 0, 1.0, false},
                  {true, false, 0, 1.5, true},
                  {false, false, 0, 1.52, false},
                  {true, false, 0, 1.54, false},
                  {true, false, 0, 2.0, true}}},
        Sequence{"NoSecondFireWithoutASampleSeeingTheKeyUp",
                 {{true, false, 0, 1.0, false},
                  {true, false, 0, 1.5, true},
                  {true, false, 0, 3.0, false}}},
        Sequence{"PressStartsAtItsFirstSample",
                 {{false, false, 0, 0.0, false},
                  {true, false, 0, 0.02, false},
                  {true, false, 0, 0.46, false},
                  {true, false, 0, 0.48, true}}},
        Sequence{"OtherModifierOnTheFirstSampleBlocksUntilRelease",
                 {{true, true, 0, 0.0, false},
                  {true, false, 0, 0.5, false},
                  {true, false, 0, 2.0, false},
                  {false, false, 0, 2.02, false},
                  {true, false, 0, 2.04, false},
                  {true, false, 0, 2.5, true}}},
        Sequence{"OtherModifierWhileTimingBlocks",
                 {{true, false, 0, 0.0, false},
                  {true, true, 0, 0.2, false},
                  {true, false, 0, 0.45, false},
                  {true, false, 0, 1.0, false}}},
        Sequence{"TypedKeyWhileTimingBlocksEvenWhenTheCountStopsMoving",
                 {{true, false, 3, 0.0, false},
                  {true, false, 4, 0.2, false},
                  {true, false, 4, 0.45, false},
                  {true, false, 4, 1.0, false}}},
        Sequence{"TypedKeyAfterTheFireBlocksTheRestOfThePress",
                 {{true, false, 3, 0.0, false},
                  {true, false, 3, 0.45, true},
                  {true, false, 4, 0.5, false},
                  {true, false, 4, 2.0, false}}},
        Sequence{"KeyCountComparedForEqualityOnlySoAWrapCounts",
                 {{true, false, 0xFFFFFFFFu, 0.0, false},
                  {true, false, 0u, 0.2, false},
                  {true, false, 0u, 0.5, false}}},
        Sequence{"CountMovingBackToItsStartDoesNotUnblock",
                 {{true, false, 9, 0.0, false},
                  {true, false, 10, 0.1, false},
                  {true, false, 9, 0.5, false}}},
        Sequence{"KeyCountOfTheNextPressIsItsOwn",
                 {{true, false, 1, 0.0, false},
                  {false, false, 5, 0.1, false},
                  {true, false, 8, 0.2, false},
                  {true, false, 8, 0.7, true}}},
        Sequence{"SampleBeforeThePressStartNeverFires",
                 {{true, false, 0, 5.0, false},
                  {true, false, 0, 4.0, false},
                  {true, false, 0, -100.0, false}}},
        Sequence{"NotANumberElapsedNeverFires",
                 {{true, false, 0, 0.0, false},
                  {true, false, 0, nan, false},
                  {true, false, 0, 0.45, true}}},
        Sequence{"NotANumberPressStartNeverFires",
                 {{true, false, 0, nan, false},
                  {true, false, 0, 1.0, false},
                  {true, false, 0, 100.0, false}}},
        Sequence{"LastBitOfTheDifferenceDecides",
                 {{true, false, 0, 10.0, false},
                  {true, false, 0, 10.45, false},
                  {true, false, 0, 10.46, true}}},
        Sequence{"DifferenceAtTwoSecondsFires",
                 {{true, false, 0, 2.0, false},
                  {true, false, 0, 2.45, true}}}),
    [](const testing::TestParamInfo<Sequence>& info) { return info.param.name; });

TEST(SingleModifierHold, DifferenceIsComparedAsComputedNotRearranged) {
    // These are the two cases the sequences above rely on; if the platform's
    // arithmetic ever differs they must fail here first, not there.
    EXPECT_LT(10.45 - 10.0, 0.45);
    EXPECT_TRUE(10.0 + 0.45 <= 10.45);
    EXPECT_LE(0.45, 2.45 - 2.0);
}

TEST(SingleModifierHold, ResetEndsThePressButTheNextPressTakesItsOwnCount) {
    SingleModifierHold hold;
    EXPECT_FALSE(hold.update(true, false, 4, 0.0));
    hold.reset();
    EXPECT_FALSE(hold.update(true, false, 9, 1.0));
    EXPECT_FALSE(hold.update(true, false, 9, 1.44));
    EXPECT_TRUE(hold.update(true, false, 9, 1.5));
}

TEST(SingleModifierHold, ResetUnblocks) {
    SingleModifierHold hold;
    EXPECT_FALSE(hold.update(true, true, 0, 0.0));
    hold.reset();
    EXPECT_FALSE(hold.update(true, false, 0, 1.0));
    EXPECT_TRUE(hold.update(true, false, 0, 1.5));
}

TEST(SingleModifierHold, CopiesAreIndependent) {
    SingleModifierHold original;
    EXPECT_FALSE(original.update(true, false, 0, 0.0));
    SingleModifierHold copy = original;
    EXPECT_TRUE(copy.update(true, false, 0, 0.45));
    EXPECT_TRUE(original.update(true, false, 0, 0.5));
}

TEST(ShortcutHold, DefaultDelayIsSixTenths) {
    EXPECT_EQ(ShortcutHold().delay(), 0.6);
    EXPECT_EQ(ShortcutHold(0.45).delay(), 0.45);
}

TEST(ShortcutHold, PressStartsOnlyWhenNoneIsRunning) {
    ShortcutHold hold(1.0);
    EXPECT_TRUE(hold.press(0.0));
    EXPECT_FALSE(hold.press(0.9));  // keeps the start at 0.0
    EXPECT_TRUE(hold.shouldFire(1.0, true));
    EXPECT_FALSE(hold.press(1.5));  // keeps the fired flag
    EXPECT_FALSE(hold.shouldFire(5.0, true));
}

TEST(ShortcutHold, ShouldFireNeverStartsAPress) {
    ShortcutHold hold(0.0);
    EXPECT_FALSE(hold.shouldFire(1.0, true));
    EXPECT_FALSE(hold.shouldFire(2.0, true));
    EXPECT_TRUE(hold.press(3.0));
    EXPECT_TRUE(hold.shouldFire(3.0, true));
}

TEST(ShortcutHold, KeysUpReleases) {
    ShortcutHold hold(0.5);
    hold.press(0.0);
    EXPECT_FALSE(hold.shouldFire(1.0, false));
    EXPECT_FALSE(hold.shouldFire(2.0, true));  // no press running any more
    EXPECT_TRUE(hold.press(3.0));
    EXPECT_TRUE(hold.shouldFire(3.5, true));
}

TEST(ShortcutHold, ReleaseClearsTheFiredFlag) {
    ShortcutHold hold(0.5);
    hold.press(0.0);
    EXPECT_TRUE(hold.shouldFire(0.5, true));
    hold.release();
    EXPECT_TRUE(hold.press(1.0));
    EXPECT_TRUE(hold.shouldFire(1.5, true));
}

TEST(ShortcutHold, ZeroOrNegativeDelayFiresOnTheFirstCheck) {
    for (const double delay : {0.0, -1.0}) {
        ShortcutHold hold(delay);
        hold.press(7.0);
        EXPECT_TRUE(hold.shouldFire(7.0, true)) << delay;
    }
}

}  // namespace
}  // namespace velto::launcher
