#pragma once
// The keyboard as the hold detector needs it, read from the X server without
// grabs: which modifier keys are down (the server's key state) and how many
// non-modifier keys have been pressed (XInput2 raw events, which tell that a
// key went down but never what it typed into which window).

#include <array>
#include <cstdint>

struct _XDisplay;

namespace velto::launcher {

class X11Keyboard {
public:
    // Opens its own connection to $DISPLAY so that its events never mix with
    // the toolkit's.
    X11Keyboard();
    ~X11Keyboard();
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    // The connection's socket. Whenever it turns readable the owner calls
    // readEvents(), so that a poll only looks at events already read.
    int connectionNumber() const;
    void readEvents();

    // The modifiers in the event-flags layout of LauncherPlatform.h.
    std::uint64_t modifierFlags();
    // Presses of non-modifier keys since start, wrapping at 2^32.
    std::uint32_t keyDownCount();

private:
    void selectEvents();
    void readKeyboardMapping();
    void readHeldKeys();
    // `queueMode`: QueuedAlready or QueuedAfterReading.
    void drainEvents(int queueMode);
    // True when the held keys may have changed.
    bool handleNextEvent();

    _XDisplay* display = nullptr;
    int inputOpcode = -1;
    int xkbEventBase = -1;
    bool capsLockLocked = false;
    std::uint64_t heldKeyFlags = 0;
    std::uint32_t keyPresses = 0;
    // Per keycode: the flags the key contributes while down, and whether a
    // press of it is a modifier change rather than typing.
    std::array<std::uint64_t, 256> flagsOfKey{};
    std::array<bool, 256> isModifierKey{};
};

}  // namespace velto::launcher
