#include "ScaleCost.h"

#include <X11/extensions/Xrender.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace benchprobe {
namespace {

// The bench's animation: a 1600x900 window.
constexpr int sourceWidth = 1600, sourceHeight = 900;
// A round trip now and then keeps the server's queue of our requests short,
// without a round trip's cost in every frame.
constexpr int framesPerSync = 10;

XTransform scaling(double scale) {
    return {{{XDoubleToFixed(1.0 / scale), 0, 0}, {0, XDoubleToFixed(1.0 / scale), 0}, {0, 0, XDoubleToFixed(1)}}};
}

// Noise, so that no path of the server can take a shortcut over flat colour.
void fillWithNoise(::Display* display, Pixmap pixmap) {
    XImage* image = XGetImage(display, pixmap, 0, 0, sourceWidth, sourceHeight, AllPlanes, ZPixmap);
    if (image == nullptr) return;
    std::mt19937 random(1);
    for (int y = 0; y < sourceHeight; ++y)
        for (int x = 0; x < sourceWidth; ++x) XPutPixel(image, x, y, random() & 0xffffff);
    GC gc = XCreateGC(display, pixmap, 0, nullptr);
    XPutImage(display, pixmap, gc, image, 0, 0, 0, 0, sourceWidth, sourceHeight);
    XFreeGC(display, gc);
    XDestroyImage(image);
}

double msPerFrame(::Display* display, Picture source, Picture target, int width, int height, int frames) {
    XSync(display, False);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        XRenderComposite(display, PictOpSrc, source, None, target, 0, 0, 0, 0, 0, 0, unsigned(width),
                         unsigned(height));
        if (i % framesPerSync == framesPerSync - 1) XSync(display, False);
    }
    XSync(display, False);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / frames;
}

}  // namespace

int measureScaleCost(::Display* display, double scale, int frames) {
    const Window root = DefaultRootWindow(display);
    const int depth = DefaultDepth(display, DefaultScreen(display));
    XRenderPictFormat* format = XRenderFindVisualFormat(display, DefaultVisual(display, DefaultScreen(display)));
    if (format == nullptr) {
        std::fprintf(stderr, "velto-bench-probe: no RENDER format for the screen\n");
        return 1;
    }
    const int width = int(sourceWidth * scale), height = int(sourceHeight * scale);
    const Pixmap sourcePixmap = XCreatePixmap(display, root, sourceWidth, sourceHeight, unsigned(depth));
    const Pixmap targetPixmap = XCreatePixmap(display, root, unsigned(width), unsigned(height), unsigned(depth));
    fillWithNoise(display, sourcePixmap);
    const Picture source = XRenderCreatePicture(display, sourcePixmap, format, 0, nullptr);
    const Picture target = XRenderCreatePicture(display, targetPixmap, format, 0, nullptr);

    // The copy moves as many pixels as the scaled frame holds.
    const double copy = msPerFrame(display, source, target, width, height, frames);
    std::printf("scale-cost scale %.3f frame %dx%d copy %.3f ms 1.00 ×\n", scale, width, height, copy);
    XTransform transform = scaling(scale);
    XRenderSetPictureTransform(display, source, &transform);
    for (const char* filter : {FilterNearest, FilterBilinear}) {
        XRenderSetPictureFilter(display, source, filter, nullptr, 0);
        const double ms = msPerFrame(display, source, target, width, height, frames);
        std::printf("scale-cost scale %.3f frame %dx%d %s %.3f ms %.2f ×\n", scale, width, height, filter, ms,
                    copy > 0 ? ms / copy : 0.0);
    }
    XRenderFreePicture(display, source);
    XRenderFreePicture(display, target);
    XFreePixmap(display, sourcePixmap);
    XFreePixmap(display, targetPixmap);
    return 0;
}

}  // namespace benchprobe
