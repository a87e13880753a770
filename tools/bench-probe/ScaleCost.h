// What the X server spends per frame on one way of bringing a window's
// pixels into a smaller frame: a plain copy of as many pixels, nearest-pixel
// scaling, and the bilinear filtering the capture uses where it scales.
#pragma once

#include <X11/Xlib.h>

namespace benchprobe {

// Prints one line per way: milliseconds per frame and the ratio to the copy.
int measureScaleCost(::Display* display, double scale, int frames);

}  // namespace benchprobe
