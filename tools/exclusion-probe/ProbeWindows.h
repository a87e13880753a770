#pragma once
// The windows the exclusion probe draws: solid colours in background pixels,
// so the server repaints them itself and no process has to answer an expose.

#include "StandinWindows.h"

#include <X11/Xlib.h>

#include <optional>
#include <string>
#include <vector>

namespace probe {

using standin::Area;

// Every public colour here has green at least as strong as its red or its
// blue, so a pixel with red and blue both well above green holds some of the
// private colour (see isPrivatePixel).
inline constexpr unsigned long privateColour = standin::privateColour;
inline constexpr unsigned long containerColour = 0x30c030;   // another program's window
inline constexpr unsigned long unrelatedColour = 0x40c0c0;   // a program started late
inline constexpr unsigned long desktopTile[2] = {0x3060a0, 0xa0c040};  // checkerboard
inline constexpr int desktopTileSide = 64;  // each square; the pixmap holds 2 x 2
inline constexpr unsigned long changedDesktop = 0x808040;
inline constexpr unsigned long publicPalette[] = {0x20a060, 0xe0e0a0, 0x6080a0, 0xc0c0c0, 0x408040};

enum class Kind {
    plain,             // a managed top-level
    overrideRedirect,  // a menu: no window manager touches it
    argb,              // 32-bit visual, slightly translucent
    shaped,            // a ring: the middle is not part of the window
};

struct WindowRequest {
    Kind kind = Kind::plain;
    Window parent = None;  // None: a top-level
    Area area;             // relative to the parent
    unsigned long colour = privateColour;
    std::string windowClass;
};

// Creates the window (unmapped). Top-levels keep the position a window
// manager is asked to keep and carry _NET_WM_PID.
Window createWindow(::Display* display, const WindowRequest& request);

// A chain of `depth` mapped windows inside `parent`, each inset in the one
// above; the deepest is returned.
Window createChain(::Display* display, Window parent, const Area& area, int depth, unsigned long colour);

// Publishes a background the way desktop setters do: the root's background
// and the _XROOTPMAP_ID / ESETROOT_PMAP_ID properties. Solid when `solid` is
// given, else the checkerboard tile of desktopTile.
void publishDesktop(::Display* display, std::optional<unsigned long> solid);
// The published background's colour at a point of the screen.
unsigned long desktopColourAt(std::optional<unsigned long> solid, int x, int y);
// Within `margin` of a square's edge, where scaling blends two squares.
bool nearDesktopEdge(int x, int y, int margin);

// The child of the root that holds `window` (its frame under a reparenting
// window manager), and where it lies.
Window topLevelOf(::Display* display, Window window);

using standin::childrenOf;

// The client-ID base of the X connection that created `resource`.
XID clientBase(::Display* display, XID resource);

}  // namespace probe
