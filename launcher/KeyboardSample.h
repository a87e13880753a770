#pragma once
// One reading of the keyboard as the hold detector sees it. Every platform
// layer reports its modifiers in the macOS event-flags layout, so this is the
// one place that decides which keys are the gesture and which spoil it.

#include <cstdint>

namespace velto::launcher {

// Device-dependent bit of the right Option key; the device-independent Option
// flag (0x80000) is useless here because the left key sets it too.
inline constexpr std::uint64_t rightOptionFlag = 0x40;

// Shift 0x20000, Control 0x40000, Command 0x100000, Fn 0x800000 and the
// device-dependent left Option 0x20. Caps Lock, the device-independent
// Option, numeric-pad and help flags are left out on purpose.
inline constexpr std::uint64_t spoilingModifierFlags = 0x960020;

struct KeyboardSample {
    bool down = false;            // right Option
    bool otherModifiers = false;  // a modifier that spoils the gesture is down
    std::uint32_t keyCount = 0;   // system-wide key-down counter
    double at = 0;                // seconds on the monotonic clock
};

constexpr KeyboardSample decodeKeyboardSample(std::uint64_t modifierFlags, std::uint32_t keyCount,
                                              double at) {
    return {(modifierFlags & rightOptionFlag) != 0, (modifierFlags & spoilingModifierFlags) != 0,
            keyCount, at};
}

}  // namespace velto::launcher
