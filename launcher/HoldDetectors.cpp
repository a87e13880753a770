#include "HoldDetectors.h"

namespace velto::launcher {

ShortcutHold::ShortcutHold(double delay) : delay_(delay) {}

double ShortcutHold::delay() const { return delay_; }

bool ShortcutHold::press(double at) {
    if (pressedAt_) return false;
    pressedAt_ = at;
    fired_ = false;
    return true;
}

void ShortcutHold::release() {
    pressedAt_.reset();
    fired_ = false;
}

bool ShortcutHold::shouldFire(double at, bool keysDown) {
    if (!keysDown) {
        release();
        return false;
    }
    if (!pressedAt_) return false;
    if (fired_) return false;
    // Kept in this form on purpose: `*pressedAt_ + delay_ <= at` rounds
    // differently in the last bit (10.0 + 0.45 fires at 10.45, this does not).
    // A NaN difference compares false.
    const double elapsed = at - *pressedAt_;
    if (delay_ <= elapsed) {
        fired_ = true;
        return true;
    }
    return false;
}

bool ShortcutHold::awaitsDelay() const { return pressedAt_ && !fired_; }

SingleModifierHold::SingleModifierHold() = default;

bool SingleModifierHold::update(bool down, bool otherModifiers, std::uint32_t keyCount, double at) {
    if (!down) {
        reset();
        return false;
    }
    if (!wasDown_) {
        wasDown_ = true;
        blocked_ = false;
        initialKeyCount_ = keyCount;
        hold_.press(at);
    }
    // Checked on every sample, the first included, before the blocked flag.
    if (otherModifiers || keyCount != initialKeyCount_) {
        blocked_ = true;
        hold_.release();
        return false;
    }
    if (blocked_) return false;
    return hold_.shouldFire(at, true);
}

bool SingleModifierHold::canFireBeforeKeyboardChanges() const { return wasDown_ && !blocked_ && hold_.awaitsDelay(); }

void SingleModifierHold::reset() {
    hold_.release();
    wasDown_ = false;
    blocked_ = false;
}

}  // namespace velto::launcher
