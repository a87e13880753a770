#include <QImage>

#include "Screenshot.h"

#include <X11/Xutil.h>

#include <cstdlib>

namespace standin {

QImage grabWindow(::Display* display, Window window) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes)) return {};
    XImage* image = XGetImage(display, window, 0, 0, unsigned(attributes.width),
                              unsigned(attributes.height), AllPlanes, ZPixmap);
    if (!image) return {};
    QImage result(attributes.width, attributes.height, QImage::Format_RGB32);
    for (int y = 0; y < attributes.height; ++y)
        for (int x = 0; x < attributes.width; ++x)
            result.setPixel(x, y, QRgb(0xff000000u | (XGetPixel(image, x, y) & 0xffffffu)));
    XDestroyImage(image);
    return result;
}

bool near(QRgb pixel, unsigned long rgb, int tolerance) {
    const int dr = std::abs(qRed(pixel) - int((rgb >> 16) & 0xff));
    const int dg = std::abs(qGreen(pixel) - int((rgb >> 8) & 0xff));
    const int db = std::abs(qBlue(pixel) - int(rgb & 0xff));
    return dr + dg + db <= tolerance;
}

long countNear(const QImage& image, unsigned long rgb, int tolerance) {
    long count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (near(image.pixel(x, y), rgb, tolerance)) ++count;
    return count;
}

}  // namespace standin
