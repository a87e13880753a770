#pragma once
// Requests to an EWMH window manager, as a pager or `xdotool set_desktop`
// makes them, and what the stand-in reads back.

#include <X11/Xlib.h>

#include <optional>

namespace standin {

// A client message to the root about `window` (the root itself for
// requests about the whole screen), with one value.
void askWindowManager(::Display* display, Window window, const char* message, long value);
std::optional<unsigned long> cardinalProperty(::Display* display, Window window, const char* name);
// Asks for the workspace and waits until the window manager reports it.
bool switchWorkspace(::Display* display, long workspace);
bool isViewable(::Display* display, Window window);

}  // namespace standin
