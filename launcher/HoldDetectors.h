#pragma once
// Decides from successive keyboard samples when the launcher's gesture has
// happened: one modifier held alone for a while. Pure values: no clock, no
// allocation, no platform call; the caller passes every sample with its time.

#include <cstdint>
#include <optional>

namespace velto::launcher {

// Times one continuous press against a delay; fires at most once per press.
class ShortcutHold {
public:
    explicit ShortcutHold(double delay = 0.6);

    double delay() const;
    // True when this call started a press; a running press keeps its start.
    bool press(double at);
    void release();
    // True exactly once per press: at the first call on which the press has
    // lasted at least the delay. Never starts a press.
    bool shouldFire(double at, bool keysDown);
    // A press is running and has not fired yet: only the passing of time can
    // make it fire.
    bool awaitsDelay() const;

private:
    double delay_;
    std::optional<double> pressedAt_;
    bool fired_ = false;
};

// One modifier that must be held alone: another modifier, or any key typed
// while it is down, spoils the press until the modifier is released.
class SingleModifierHold {
public:
    SingleModifierHold();

    // One sample, in time order; true when the gesture has just been accepted.
    bool update(bool down, bool otherModifiers, std::uint32_t keyCount, double at);
    void reset();
    // False when a further sample of the same keyboard state cannot return
    // true (no press, or a press that is spoiled or has fired): only a
    // change of the keyboard can move the detector on.
    bool canFireBeforeKeyboardChanges() const;

private:
    ShortcutHold hold_{0.45};
    bool wasDown_ = false;
    bool blocked_ = false;
    std::uint32_t initialKeyCount_ = 0;
};

}  // namespace velto::launcher
