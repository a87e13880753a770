#include "KeyboardSample.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace velto::launcher {
namespace {

struct FlagsCase {
    const char* keys;
    std::uint64_t flags;
    bool down;
    bool otherModifiers;
};

// Right Option as macOS reports it: device-dependent bit plus the
// device-independent Option flag.
constexpr std::uint64_t rightOption = 0x40 | 0x80000;

TEST(KeyboardSample, DecodesRightOptionAndTheModifiersThatSpoilIt) {
    const FlagsCase cases[] = {
        {"nothing", 0, false, false},
        {"right Option", rightOption, true, false},
        {"right Option, device-dependent bit only", 0x40, true, false},
        {"left Option alone", 0x20 | 0x80000, false, true},
        {"both Options", rightOption | 0x20, true, true},
        {"right Option + Shift", rightOption | 0x20000, true, true},
        {"right Option + Control", rightOption | 0x40000, true, true},
        {"right Option + Command", rightOption | 0x100000, true, true},
        {"right Option + Fn", rightOption | 0x800000, true, true},
        {"right Option + Caps Lock", rightOption | 0x10000, true, false},
        {"right Option + numeric pad", rightOption | 0x200000, true, false},
        {"right Option + help", rightOption | 0x400000, true, false},
        {"Shift alone", 0x20000, false, true},
        {"Caps Lock alone", 0x10000, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        const KeyboardSample sample = decodeKeyboardSample(c.flags, 7, 12.5);
        EXPECT_EQ(sample.down, c.down);
        EXPECT_EQ(sample.otherModifiers, c.otherModifiers);
        EXPECT_EQ(sample.keyCount, 7u);
        EXPECT_EQ(sample.at, 12.5);
    }
}

}  // namespace
}  // namespace velto::launcher
