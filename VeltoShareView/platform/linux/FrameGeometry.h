#pragma once
// How a frame's pixels relate to the monitor's, and what each picture of the
// frame pool still lacks. Plain values: no X, no clock.

#include "Box.h"

#include <vector>

namespace velto::x11 {

struct PixelSize {
    int width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
    bool operator==(const PixelSize&) const = default;
};

// The size frames are painted at: the monitor as the share window will show
// it (aspect kept), so that the picture is scaled once, on its way into the
// frame; never larger than the stream's configured size. An unknown (empty)
// shown size gives the configured size.
PixelSize frameSizeFor(PixelSize monitor, PixelSize configured, PixelSize shown);

// Monitor pixels to frame pixels, per axis (never enlarging).
struct FrameScale {
    double x = 1.0, y = 1.0;

    static FrameScale between(PixelSize monitor, PixelSize frame);
    bool identity() const { return x == 1.0 && y == 1.0; }
    // Every frame pixel that a pixel of `box` (monitor coordinates) can reach
    // through bilinear filtering, within the frame.
    Box reach(const Box& box, PixelSize frame) const;
    // The frame pixels that only pixels of `box` decide.
    Box inside(const Box& box) const;
};

// Where a frame goes in a window: centred, aspect kept. A frame that already
// fills the window along one axis (to the pixel) is shown as it is.
struct Placement {
    int left = 0, top = 0, width = 0, height = 0;
    bool scaled = false;
};
Placement placeFrame(PixelSize frame, PixelSize window);

// An area as a list of boxes, kept short: boxes inside others are dropped,
// and past a handful the whole list becomes its bounding box.
struct Area {
    bool everything = false;
    std::vector<Box> boxes;

    bool empty() const { return !everything && boxes.empty(); }
    void add(const Box& box);
    void addEverything();
};

// What the picture shows of a painted top-level window, to compare two
// judgements of the screen with.
struct WindowLook {
    unsigned long window = 0;
    Box bounds;  // root coordinates
    bool opaque = true;
    bool plain = true;  // neither shaped nor covered in parts
    bool operator==(const WindowLook&) const = default;
};

// Where the picture may differ between two scenes (lists bottom to top):
// windows that came, went, moved, changed or moved up or down the stack, and
// every window that is not plain (its covers may have changed unseen).
Area changedBetween(const std::vector<WindowLook>& before, const std::vector<WindowLook>& after);

// The pool's pictures are reused in turn, so each keeps its own record of
// what changed on the screen since it was last painted; repainting that is
// enough to bring it up to date (compositing managers call this buffer age).
// Changes reported while a picture is being painted may not be in it: they
// count as missed by it too.
class DamageBook {
public:
    struct Painting {
        int index = 0;
        Area missed;          // what the picture is brought up to date in
        Area sinceLastFrame;  // what it will show changed, once handed out
    };

    explicit DamageBook(int pictures = 0);

    // A change on the screen, in monitor coordinates.
    void add(const Box& box);
    void addEverything();
    // What picture `index` lacks: everything until it was painted once.
    const Area& missedBy(int index) const { return missed_[std::size_t(index)]; }
    // Whether anything changed since the last picture was handed out.
    bool changedSinceLastFrame() const { return !sinceLastFrame_.empty(); }

    // Picture `index` is painted now, up to the changes reported so far.
    Painting startPainting(int index);
    // The painting is thrown away: the picture lacks again what it was to get.
    void discard(const Painting& painting);

private:
    std::vector<Area> missed_;
    Area sinceLastFrame_;
};

}  // namespace velto::x11
