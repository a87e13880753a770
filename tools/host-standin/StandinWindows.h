#pragma once
// The stand-in's X11 side: the windows it shows and what it finds out about
// the share view's window.

#include <X11/Xlib.h>

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace standin {

struct Area {
    int x = 0, y = 0, width = 0, height = 0;
};

struct Monitor {
    unsigned long displayID = 0;  // XID of the monitor's first output
    std::string outputName;
    Area area;
};

inline constexpr unsigned long privateColour = 0xff00ff;
// The ordinary window shows these colours as vertical bars, left to right.
inline constexpr unsigned long ordinaryBars[] = {0x008080, 0xffa500, 0x2040c0, 0xf0e040};
inline constexpr int ordinaryBarCount = 4;

std::optional<Monitor> firstMonitor(::Display* display);

// The children of a window, bottom-most first; none when it is gone.
std::vector<Window> childrenOf(::Display* display, Window window);

// A window of another program (this stand-in's own process): vertical bars.
Window openOrdinaryWindow(::Display* display, const Area& area);
// One of the main application's private windows: one solid colour.
Window openPrivateWindow(::Display* display, const Area& area, const std::string& windowClass);
bool waitViewable(::Display* display, Window window, double seconds);

// Where a window's content lies on the screen (a window manager may have
// moved it into a frame).
std::optional<Area> rootArea(::Display* display, Window window);

// The share view's top-level client window: WM_CLASS class as given, owned
// by the process as the X server knows it.
std::optional<Window> findWindowOf(::Display* display, pid_t pid, const std::string& windowClass);
// Every such window that is mapped and viewable.
std::vector<Window> viewableWindowsOf(::Display* display, pid_t pid, const std::string& windowClass);

void askToClose(::Display* display, Window window);

// Closes the process's X connection that holds damage objects (its capture
// connection) from the server's side, as if that connection had broken.
bool breakCaptureConnection(::Display* display, pid_t pid);

}  // namespace standin
