#include "CursorPicture.h"

#include <X11/extensions/Xfixes.h>

#include <cstdint>
#include <vector>

namespace velto::x11 {

bool CursorPicture::refresh() {
    XFixesCursorImage* image = XFixesGetCursorImage(display_);
    if (image == nullptr) return false;
    pointerX_ = image->x;
    pointerY_ = image->y;
    if (picture_ != None) XRenderFreePicture(display_, picture_);
    picture_ = None;
    width_ = image->width;
    height_ = image->height;
    hotX_ = image->xhot;
    hotY_ = image->yhot;
    if (width_ > 0 && height_ > 0) {
        // XFixes hands out premultiplied ARGB in longs; the picture wants 32 bits.
        std::vector<std::uint32_t> pixels(std::size_t(width_) * height_);
        for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = std::uint32_t(image->pixels[i]);
        const Pixmap pixmap = XCreatePixmap(display_, DefaultRootWindow(display_), unsigned(width_),
                                            unsigned(height_), 32);
        XImage* upload = XCreateImage(display_, DefaultVisual(display_, DefaultScreen(display_)), 32,
                                      ZPixmap, 0, reinterpret_cast<char*>(pixels.data()),
                                      unsigned(width_), unsigned(height_), 32, 0);
        const GC gc = XCreateGC(display_, pixmap, 0, nullptr);
        XPutImage(display_, pixmap, gc, upload, 0, 0, 0, 0, unsigned(width_),
                  unsigned(height_));
        XFreeGC(display_, gc);
        upload->data = nullptr;  // owned by the vector
        XDestroyImage(upload);
        picture_ = XRenderCreatePicture(
            display_, pixmap, XRenderFindStandardFormat(display_, PictStandardARGB32), 0, nullptr);
        XFreePixmap(display_, pixmap);
    }
    XFree(image);
    return true;
}

}  // namespace velto::x11
