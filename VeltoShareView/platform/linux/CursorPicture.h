#pragma once
// The pointer's current image as a RENDER picture, drawn over each frame
// where the pointer is.

#include <X11/Xlib.h>
#include <X11/extensions/Xrender.h>

namespace velto::x11 {

class CursorPicture {
public:
    explicit CursorPicture(::Display* display) : display_(display) {}
    CursorPicture(const CursorPicture&) = delete;
    CursorPicture& operator=(const CursorPicture&) = delete;

    // Fetches the image the server shows now.
    void refresh();
    // Draws it with its hot spot at (x, y) of the target.
    void paint(Picture target, int x, int y) const;

private:
    ::Display* display_;
    Picture picture_ = None;  // freed with the connection
    int width_ = 0, height_ = 0, hotX_ = 0, hotY_ = 0;
};

}  // namespace velto::x11
