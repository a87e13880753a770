#pragma once
// The pointer's current image as a RENDER picture, drawn over each frame
// where the pointer is.

#include "Box.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrender.h>

namespace velto::x11 {

class CursorPicture {
public:
    explicit CursorPicture(::Display* display) : display_(display) {}
    CursorPicture(const CursorPicture&) = delete;
    CursorPicture& operator=(const CursorPicture&) = delete;

    // Fetches the image the server shows now; false when it could not.
    // The answer also says where the pointer was then.
    bool refresh();
    int pointerX() const { return pointerX_; }
    int pointerY() const { return pointerY_; }
    // None before the first image, or when the pointer has none.
    Picture picture() const { return picture_; }
    // Where the image lies with its hot spot at (x, y).
    Box boxAt(int x, int y) const { return {x - hotX_, y - hotY_, width_, height_}; }

private:
    ::Display* display_;
    Picture picture_ = None;  // freed with the connection
    int width_ = 0, height_ = 0, hotX_ = 0, hotY_ = 0;
    int pointerX_ = 0, pointerY_ = 0;  // root coordinates, at the last refresh
};

}  // namespace velto::x11
