// The share window as an outside observer sees it: found by its title,
// watched with DAMAGE on every window of its tree (the picture is drawn into a
// native child), and read back from the screen where it shows.
#pragma once

#include "Measures.h"

#include <X11/Xlib.h>

#include <optional>
#include <string>
#include <vector>

namespace benchprobe {

struct Area {
    int x = 0, y = 0, width = 0, height = 0;
    bool overlaps(const Area& other) const {
        return x < other.x + other.width && other.x < x + width && y < other.y + other.height &&
               other.y < y + height;
    }
};

class ShareWatch {
public:
    // Waits up to `seconds` for a top-level window titled `title`, then asks
    // for damage reports on it and everything inside it.
    static std::optional<ShareWatch> open(::Display* display, const std::string& title, double seconds);

    // Server times (ms) of the damage events that arrive within `timeoutMs`
    // (returns as soon as some have); each report is acknowledged, so the next
    // repaint reports again.
    std::vector<long> waitForDamage(int timeoutMs);

    // Where the share window shows on the screen, in root coordinates.
    const Area& area() const { return area_; }
    // The part of the share window on the screen, relative to the window.
    Area visiblePart() const;
    // The screen's pixels inside `part` (relative to the share window).
    Picture grab(const Area& part) const;

private:
    ShareWatch(::Display* display, Window window, int damageEventBase, Area area)
        : display_(display), window_(window), damageEventBase_(damageEventBase), area_(area) {}

    ::Display* display_;
    Window window_;
    int damageEventBase_;
    Area area_;
};

}  // namespace benchprobe
