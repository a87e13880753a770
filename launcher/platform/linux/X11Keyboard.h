#pragma once
// The keyboard as the hold detector needs it, read from the X server without
// grabs: which modifier keys are down (the server's key state) and how many
// non-modifier keys have been typed (XInput2 raw events, which tell that a
// key went down but never what it typed into which window). Each raw event is
// also reported on its own, at the server's time for it placed on the
// monotonic clock, so that keys read together keep their order and moments.

#include "EventClock.h"
#include "LauncherPlatform.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

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

    bool isOpen() const { return display != nullptr; }
    // The display's name as the connection was made, e.g. ":0.0".
    std::string displayName() const;
    int screenNumber() const;
    // Whether every key press and release arrives as an event. Without that
    // (no XInput 2), every reading asks the server for its key state.
    bool reportsKeyEvents() const { return inputOpcode >= 0; }

    // The connection's socket. Whenever it turns readable, and before every
    // poll, the owner calls readEvents(), which reports every key press and
    // release and every layout change to `onEvent`, in the server's order,
    // each with the keyboard as it stood right after.
    int connectionNumber() const;
    void setOnEvent(std::function<void(const KeyboardEvent&)> onEvent) { this->onEvent = std::move(onEvent); }
    void readEvents();

    // The modifiers in the event-flags layout of LauncherPlatform.h, as of
    // the events read so far (without XInput 2: asked of the server).
    std::uint64_t modifierFlags();
    // Keys typed since start, wrapping at 2^32: presses of non-modifier
    // keys, and one more for every reading that finds such a key held down.
    std::uint32_t keyDownCount();
    // The X server time of the latest user action: the latest key event, or
    // the moment of the latest noteUserActionNow(); 0 before the first.
    unsigned long lastUserTime() const { return userTime; }
    // Records the server's time now as that of a user action seen elsewhere
    // (a click in the status menu). One round trip.
    void noteUserActionNow();
    // Sends one startup-notification message ("new: ID=…") to the screen's
    // root window, over this connection, the agent's only one of its own.
    void broadcastStartupMessage(const std::string& message);

private:
    void makeOwnWindow();
    // The server's time now, from a round trip; it also sets the event clock.
    unsigned long serverTimeNow();
    void selectEvents();
    void readKeyboardMapping();
    void readHeldKeys();
    // The flags and typing key of the keys marked in `heldKeys`.
    void takeHeldKeys();
    // `queueMode`: QueuedAlready or QueuedAfterReading.
    void drainEvents(int queueMode);
    // True when the held keys may have changed. `readAt`: when the event was
    // read, on the monotonic clock.
    bool handleNextEvent(double readAt);
    void report(unsigned long serverTime, double readAt);

    _XDisplay* display = nullptr;
    int inputOpcode = -1;
    int xkbEventBase = -1;
    bool capsLockLocked = false;
    std::uint64_t heldKeyFlags = 0;
    bool nonModifierKeyHeld = false;
    std::array<unsigned char, 32> heldKeys{};
    std::uint32_t keyPresses = 0;
    unsigned long userTime = 0;
    unsigned long timeWindow = 0;  // an unmapped window whose property changes tell the time
    unsigned long timeAtom = 0;
    std::function<void(const KeyboardEvent&)> onEvent;
    EventClock serverClock;
    // Per keycode: the flags the key contributes while down, and whether a
    // press of it is a modifier change rather than typing.
    std::array<std::uint64_t, 256> flagsOfKey{};
    std::array<bool, 256> isModifierKey{};
};

}  // namespace velto::launcher
