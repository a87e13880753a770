#pragma once
// What the stand-in checks in pictures of the share window.

#include <QImage>
#include <QPoint>

#include "StandinWindows.h"

#include <string>

namespace standin {

struct Scene {
    Monitor monitor;
    Window ordinary = None;
};

// Where a point of the screen appears in the share window's content, which
// shows the monitor fitted with its aspect ratio kept.
QPoint mirrored(const Monitor& monitor, const QSize& content, int x, int y);

// A picture of the share window, saved when `file` is given.
QImage shareWindowPicture(::Display* display, Window shareWindow, const std::string& file);

// The private window is left out: the ordinary window shows where it lies.
void checkExclusion(::Display* display, const Scene& scene, const QImage& picture, const Area& privateOnScreen);
// The stopped text over a cleared picture.
void checkStoppedText(const QImage& picture);
// 960 x 600 content, centred without a window manager, at least 480 x 300.
void checkShareWindowShape(::Display* display, Window shareWindow, const Monitor& monitor);
// Resized to another shape: the whole picture with black bars, not stretched.
void checkFittedPicture(::Display* display, Window shareWindow, const Scene& scene);
// The pointer drawn in the picture follows the pointer moved as a device
// moves it (with nothing else changing on the screen).
void checkPointerFollows(::Display* display, Window shareWindow, const Scene& scene);
// The picture is still live: it follows the ordinary window when that moves.
void checkPictureFollows(::Display* display, Window shareWindow, const Scene& scene);

}  // namespace standin
