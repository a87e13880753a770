#pragma once
// Pictures of a window as the X server holds it, and the checks the tests
// make on them.

#include <QImage>

#include "StandinWindows.h"

namespace standin {

QImage grabWindow(::Display* display, Window window);

// Pixels within a small distance of the colour (scaling blends edges, so an
// exact match alone would miss a leaked window's border).
long countNear(const QImage& image, unsigned long rgb, int tolerance);
bool near(QRgb pixel, unsigned long rgb, int tolerance);

}  // namespace standin
