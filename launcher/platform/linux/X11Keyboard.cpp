#include "X11Keyboard.h"

#include "MonotonicClock.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <cstring>

namespace velto::launcher {

namespace {

constexpr std::uint64_t rightAltFlags = 0x40 | 0x80000;
constexpr std::uint64_t leftAltFlags = 0x20 | 0x80000;
constexpr std::uint64_t shiftFlag = 0x20000;
constexpr std::uint64_t controlFlag = 0x40000;
constexpr std::uint64_t superFlag = 0x100000;
constexpr std::uint64_t capsLockFlag = 0x10000;

// Layouts with AltGr give the right Alt key ISO_Level3_Shift instead of
// Alt_R; it is still the key the gesture is made with. Other keys may carry
// ISO_Level3_Shift too (the virtual LVL3 key), so the XKB key name decides.
bool isRightAltKey(const XkbDescRec& keyboard, int keycode) {
    return keyboard.names && keyboard.names->keys &&
           std::strncmp(keyboard.names->keys[keycode].name, "RALT", XkbKeyNameLength) == 0;
}

std::uint64_t flagsOfKeysym(KeySym keysym, bool rightAltKey) {
    switch (keysym) {
    case XK_Alt_R: return rightAltFlags;
    case XK_ISO_Level3_Shift: return rightAltKey ? rightAltFlags : 0;
    case XK_Alt_L:
    case XK_Meta_L:
    case XK_Meta_R: return leftAltFlags;
    case XK_Shift_L:
    case XK_Shift_R: return shiftFlag;
    case XK_Control_L:
    case XK_Control_R: return controlFlag;
    case XK_Super_L:
    case XK_Super_R:
    case XK_Hyper_L:
    case XK_Hyper_R: return superFlag;
    default: return 0;
    }
}

}  // namespace

X11Keyboard::X11Keyboard() {
    int xkbMajor = XkbMajorVersion;
    int xkbMinor = XkbMinorVersion;
    int reason = 0;
    display = XkbOpenDisplay(nullptr, &xkbEventBase, nullptr, &xkbMajor, &xkbMinor, &reason);
    if (!display) return;
    selectEvents();
    readKeyboardMapping();
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) capsLockLocked = (state.locked_mods & LockMask) != 0;
    readHeldKeys();
    // A first reading of the server's clock, so that even the first key
    // event read late is placed at its own moment.
    serverTimeNow();
}

X11Keyboard::~X11Keyboard() {
    if (display) XCloseDisplay(display);
}

void X11Keyboard::noteUserActionNow() {
    if (!display) return;
    userTime = serverTimeNow();
    // Key events read along the way wait in the queue, where the socket
    // would never report them.
    readEvents();
}

// The X server has no clock to read; an empty append to a property of our
// own window comes back as a PropertyNotify stamped with the server's time.
unsigned long X11Keyboard::serverTimeNow() {
    makeOwnWindow();
    XChangeProperty(display, timeWindow, timeAtom, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent event;
    XWindowEvent(display, timeWindow, PropertyChangeMask, &event);
    serverClock.place(static_cast<std::uint32_t>(event.xproperty.time), monotonicSeconds());
    return event.xproperty.time;
}

std::string X11Keyboard::displayName() const { return display ? DisplayString(display) : ""; }

int X11Keyboard::screenNumber() const { return display ? DefaultScreen(display) : 0; }

int X11Keyboard::connectionNumber() const { return display ? ConnectionNumber(display) : -1; }

void X11Keyboard::readEvents() { drainEvents(QueuedAfterReading); }

// With raw events, the readings only look at what readEvents() learnt: the
// poll reads the socket through it first, and an event found here would be
// heard after the poll it preceded.
std::uint64_t X11Keyboard::modifierFlags() {
    if (display && !reportsKeyEvents()) {
        drainEvents(QueuedAlready);
        readHeldKeys();
    }
    return heldKeyFlags | (capsLockLocked ? capsLockFlag : 0);
}

// X auto-repeat types on while a key is held but makes no raw events, so a
// held non-modifier key counts as typing at every reading, as the repeated
// key-downs would on a system that counts them.
std::uint32_t X11Keyboard::keyDownCount() {
    if (nonModifierKeyHeld) ++keyPresses;
    return keyPresses;
}

void X11Keyboard::makeOwnWindow() {
    if (timeWindow) return;
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    timeWindow = XCreateWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent,
                               CWEventMask, &attributes);
    timeAtom = XInternAtom(display, "_VELTO_LAUNCHER_TIME", False);
}

// The startup-notification protocol: the message with its final NUL, in
// pieces of 20 bytes, the first as _NET_STARTUP_INFO_BEGIN, the rest as
// _NET_STARTUP_INFO, from a window of the sender's own.
void X11Keyboard::broadcastStartupMessage(const std::string& message) {
    if (!display) return;
    makeOwnWindow();
    const Atom begin = XInternAtom(display, "_NET_STARTUP_INFO_BEGIN", False);
    const Atom more = XInternAtom(display, "_NET_STARTUP_INFO", False);
    const std::size_t length = message.size() + 1;
    for (std::size_t offset = 0; offset < length; offset += 20) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.display = display;
        event.xclient.window = timeWindow;
        event.xclient.message_type = offset == 0 ? begin : more;
        event.xclient.format = 8;
        for (std::size_t i = 0; i < 20 && offset + i < length; ++i) {
            event.xclient.data.b[i] = offset + i < message.size() ? message[offset + i] : '\0';
        }
        XSendEvent(display, DefaultRootWindow(display), False, PropertyChangeMask, &event);
    }
    XFlush(display);
}

void X11Keyboard::selectEvents() {
    int firstEvent = 0;
    int firstError = 0;
    int major = 2;
    int minor = 2;
    // XInput 2 events travel as generic events: without that extension none
    // would arrive, whatever XInput itself answers.
    int genericOpcode = 0;
    if (XQueryExtension(display, "Generic Event Extension", &genericOpcode, &firstEvent, &firstError) &&
        XQueryExtension(display, "XInputExtension", &inputOpcode, &firstEvent, &firstError) &&
        XIQueryVersion(display, &major, &minor) == Success) {
        unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(mask, XI_RawKeyPress);
        XISetMask(mask, XI_RawKeyRelease);
        XIEventMask eventMask{XIAllMasterDevices, sizeof mask, mask};
        XISelectEvents(display, DefaultRootWindow(display), &eventMask, 1);
    } else {
        inputOpcode = -1;
    }
    XkbSelectEvents(display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                    XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbModifierLockMask, XkbModifierLockMask);
}

void X11Keyboard::readKeyboardMapping() {
    flagsOfKey.fill(0);
    isModifierKey.fill(false);
    XkbDescPtr keyboard = XkbGetMap(display, XkbKeySymsMask, XkbUseCoreKbd);
    if (!keyboard) return;
    XkbGetNames(display, XkbKeyNamesMask, keyboard);
    for (int keycode = keyboard->min_key_code; keycode <= keyboard->max_key_code; ++keycode) {
        if (XkbKeyNumSyms(keyboard, keycode) == 0) continue;
        const KeySym keysym = XkbKeySymEntry(keyboard, keycode, 0, 0);
        flagsOfKey[keycode] = flagsOfKeysym(keysym, isRightAltKey(*keyboard, keycode));
        isModifierKey[keycode] = IsModifierKey(keysym);
    }
    XkbFreeKeyboard(keyboard, 0, True);
}

// One round trip, made only when key events have arrived (or at every poll
// without XInput 2): an idle poll makes no system call, costs the X server
// nothing and allocates nothing.
void X11Keyboard::readHeldKeys() {
    char keys[32] = {};
    XQueryKeymap(display, keys);
    for (int byte = 0; byte < 32; ++byte) {
        const auto bits = static_cast<unsigned char>(keys[byte]);
        // Without raw events, a key found down that was up at the last
        // reading is the only sign of a press.
        const auto newlyDown = static_cast<unsigned char>(bits & ~heldKeys[byte]);
        heldKeys[byte] = bits;
        if (reportsKeyEvents() || newlyDown == 0) continue;
        for (int bit = 0; bit < 8; ++bit) {
            if ((newlyDown & (1u << bit)) && !isModifierKey[byte * 8 + bit]) ++keyPresses;
        }
    }
    takeHeldKeys();
}

void X11Keyboard::takeHeldKeys() {
    std::uint64_t flags = 0;
    bool typingKeyHeld = false;
    for (int byte = 0; byte < 32; ++byte) {
        const unsigned char bits = heldKeys[byte];
        if (bits == 0) continue;
        for (int bit = 0; bit < 8; ++bit) {
            if (!(bits & (1u << bit))) continue;
            const int keycode = byte * 8 + bit;
            flags |= flagsOfKey[keycode];
            if (!isModifierKey[keycode]) typingKeyHeld = true;
        }
    }
    heldKeyFlags = flags;
    nonModifierKeyHeld = typingKeyHeld;
}

void X11Keyboard::drainEvents(int queueMode) {
    if (!display) return;
    // The key-state query can bring in further events; they are handled
    // before returning, since the socket will not report them again. The
    // query only confirms what the events said (or catches up with events
    // the server dropped).
    while (XEventsQueued(display, queueMode) > 0) {
        const double readAt = monotonicSeconds();
        bool keysChanged = false;
        while (XEventsQueued(display, QueuedAlready) > 0) keysChanged |= handleNextEvent(readAt);
        if (keysChanged) readHeldKeys();
        queueMode = QueuedAlready;
    }
}

bool X11Keyboard::handleNextEvent(double readAt) {
    XEvent event;
    XNextEvent(display, &event);
    XGenericEventCookie& cookie = event.xcookie;
    if (cookie.type == GenericEvent && cookie.extension == inputOpcode) {
        if (!XGetEventData(display, &cookie)) return false;
        const auto* raw = static_cast<XIRawEvent*>(cookie.data);
        const auto keycode = static_cast<unsigned>(raw->detail) & 0xff;
        const bool pressed = cookie.evtype == XI_RawKeyPress;
        const auto bit = static_cast<unsigned char>(1u << (keycode % 8));
        if (pressed) {
            heldKeys[keycode / 8] |= bit;
            if (!isModifierKey[keycode]) ++keyPresses;
        } else {
            heldKeys[keycode / 8] &= static_cast<unsigned char>(~bit);
        }
        userTime = raw->time;
        XFreeEventData(display, &cookie);
        takeHeldKeys();
        report(userTime, readAt);
        return true;
    }
    if (event.type != xkbEventBase) return false;
    const auto& xkbEvent = reinterpret_cast<const XkbEvent&>(event);
    if (xkbEvent.any.xkb_type == XkbStateNotify) {
        capsLockLocked = (xkbEvent.state.locked_mods & LockMask) != 0;
        return false;
    }
    readKeyboardMapping();
    takeHeldKeys();
    report(xkbEvent.any.time, readAt);
    return true;
}

void X11Keyboard::report(unsigned long serverTime, double readAt) {
    const double at = serverClock.place(static_cast<std::uint32_t>(serverTime), readAt);
    if (onEvent) onEvent({heldKeyFlags | (capsLockLocked ? capsLockFlag : 0), keyPresses, at});
}

}  // namespace velto::launcher
