#include <QImage>

#include "PictureChecks.h"

#include "Expect.h"
#include "Screenshot.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace standin {

QPoint mirrored(const Monitor& monitor, const QSize& content, int x, int y) {
    const double scale = std::min(double(content.width()) / monitor.area.width,
                                  double(content.height()) / monitor.area.height);
    const double left = (content.width() - monitor.area.width * scale) / 2;
    const double top = (content.height() - monitor.area.height * scale) / 2;
    return QPoint(int(left + (x - monitor.area.x) * scale), int(top + (y - monitor.area.y) * scale));
}

namespace {

// As a mouse moves it: a warp makes no device motion, and the share view
// learns of it only at the next change on the screen.
void movePointer(::Display* display, int x, int y) {
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XSync(display, False);
}

// How many pixels around `spot` differ between two pictures.
long changedAround(const QImage& before, const QImage& after, QPoint spot) {
    long changed = 0;
    for (int y = spot.y() - 2; y <= spot.y() + 12; ++y)
        for (int x = spot.x() - 2; x <= spot.x() + 12; ++x)
            if (before.valid(x, y) && after.valid(x, y) && !near(before.pixel(x, y), after.pixel(x, y), 24)) ++changed;
    return changed;
}

}  // namespace

QImage shareWindowPicture(::Display* display, Window shareWindow, const std::string& file) {
    // Keep the pointer out of the way of the checked spots.
    movePointer(display, 0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QImage picture = grabWindow(display, shareWindow);
    if (!file.empty()) {
        const bool saved = picture.save(QString::fromStdString(file), "PNG");
        std::cout << "[standin] " << (saved ? "saved " : "could not save ") << file << std::endl;
    }
    return picture;
}

void checkExclusion(::Display* display, const Scene& scene, const QImage& picture, const Area& privateOnScreen) {
    expect(!picture.isNull(), "the share window can be read");
    if (picture.isNull()) return;
    expect(countNear(picture, privateColour, 60) == 0, "not one pixel of the private colour in the share window");
    const auto ordinary = rootArea(display, scene.ordinary);
    if (!ordinary) return;
    // Two spots inside the private window, each over the middle of a bar.
    for (double fraction : {0.25, 0.75}) {
        const int x = privateOnScreen.x + int(privateOnScreen.width * fraction);
        const int y = privateOnScreen.y + privateOnScreen.height / 2;
        const int bar = (x - ordinary->x) * ordinaryBarCount / ordinary->width;
        const QPoint spot = mirrored(scene.monitor, picture.size(), x, y);
        const QRgb seen = picture.pixel(spot);
        char description[160];
        std::snprintf(description, sizeof description,
                      "the ordinary window shows where the private window lies (at %d,%d: #%06x, bar #%06lx)",
                      spot.x(), spot.y(), seen & 0xffffffu, ordinaryBars[bar]);
        expect(bar >= 0 && bar < ordinaryBarCount && near(seen, ordinaryBars[bar], 24), description);
    }
}

void checkStoppedText(const QImage& picture) {
    expect(!picture.isNull(), "the share window can be read");
    if (picture.isNull()) return;
    long white = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (near(picture.pixel(x, y), 0xffffff, 60)) ++white;
    expect(countNear(picture, privateColour, 60) == 0, "no private colour after the change");
    expect(white > 200, "white text over the cleared picture");
    // The bars are gone: apart from the text's own edges the window is black.
    expect(countNear(picture, ordinaryBars[0], 24) == 0, "the mirrored picture is cleared");
}

void checkShareWindowShape(::Display* display, Window shareWindow, const Monitor& monitor) {
    const auto area = rootArea(display, shareWindow);
    expect(area && area->width == 960 && area->height == 600, "the share window's content is 960 x 600");
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False),
                       0, 1, False, AnyPropertyType, &type, &format, &count, &after, &data);
    const bool managed = count > 0;
    if (data) XFree(data);
    if (area && !managed) {
        const int dx = area->x + area->width / 2 - (monitor.area.x + monitor.area.width / 2);
        const int dy = area->y + area->height / 2 - (monitor.area.y + monitor.area.height / 2);
        expect(std::abs(dx) <= 2 && std::abs(dy) <= 2, "the share window is centred on the screen");
    }
    XSizeHints hints{};
    long supplied = 0;
    expect(XGetWMNormalHints(display, shareWindow, &hints, &supplied) && (hints.flags & PMinSize) &&
               hints.min_width == 480 && hints.min_height == 300,
           "the share window cannot be made smaller than 480 x 300");
}

void checkFittedPicture(::Display* display, Window shareWindow, const Scene& scene) {
    XResizeWindow(display, shareWindow, 960, 300);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const QImage picture = grabWindow(display, shareWindow);
    expect(picture.width() == 960 && picture.height() == 300, "the share window was resized to 960 x 300");
    if (picture.width() != 960 || picture.height() != 300) return;
    const double scale = std::min(960.0 / scene.monitor.area.width, 300.0 / scene.monitor.area.height);
    const int barX = (960 - int(scene.monitor.area.width * scale)) / 2;
    const int barY = (300 - int(scene.monitor.area.height * scale)) / 2;
    long lit = 0, sampled = 0;
    const auto sample = [&](int x, int y) {
        ++sampled;
        if (!near(picture.pixel(x, y), 0x000000, 0)) ++lit;
    };
    if (barX > 4)
        for (int y = 0; y < 300; ++y)
            for (int x : {0, barX / 2, barX - 3, 959 - barX + 3, 959 - barX / 2, 959}) sample(x, y);
    if (barY > 4)
        for (int x = 0; x < 960; ++x)
            for (int y : {0, barY / 2, barY - 3, 299 - barY + 3, 299 - barY / 2, 299}) sample(x, y);
    expect(sampled > 0, "the new shape differs from the screen's");
    expect(lit == 0, "black bars on both sides of the fitted picture");
    const auto ordinary = rootArea(display, scene.ordinary);
    if (!ordinary) return;
    // The middle of the first bar of the ordinary window, where the fit puts it.
    const QPoint spot = mirrored(scene.monitor, picture.size(), ordinary->x + ordinary->width / 8,
                                 ordinary->y + ordinary->height / 2);
    expect(near(picture.pixel(spot), ordinaryBars[0], 24), "the fitted picture keeps the screen's aspect ratio");
}

void checkPictureFollows(::Display* display, Window shareWindow, const Scene& scene) {
    const auto ordinary = rootArea(display, scene.ordinary);
    expect(ordinary.has_value(), "the ordinary window is on screen");
    if (!ordinary) return;
    // Above the private window, in the middle of the second bar; one bar's
    // width to the right, the first bar takes its place.
    const int x = ordinary->x + ordinary->width * 3 / 8, y = ordinary->y + ordinary->height / 10;
    const auto seenAt = [&] {
        const QImage picture = shareWindowPicture(display, shareWindow, "");
        return picture.isNull() ? QRgb(0) : picture.pixel(mirrored(scene.monitor, picture.size(), x, y));
    };
    expect(near(seenAt(), ordinaryBars[1], 24), "the share window shows the ordinary window");
    XMoveWindow(display, scene.ordinary, ordinary->x + ordinary->width / ordinaryBarCount, ordinary->y);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    expect(near(seenAt(), ordinaryBars[0], 24), "the picture follows the ordinary window as it moves");
    XMoveWindow(display, scene.ordinary, ordinary->x, ordinary->y);
    XSync(display, False);
}

void checkPointerFollows(::Display* display, Window shareWindow, const Scene& scene) {
    const auto& area = scene.monitor.area;
    const QPoint first(area.x + area.width * 7 / 8, area.y + area.height * 7 / 8);
    const QPoint second(area.x + area.width * 5 / 8, area.y + area.height * 7 / 8);
    movePointer(display, first.x(), first.y());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const QImage before = grabWindow(display, shareWindow);
    movePointer(display, second.x(), second.y());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const QImage after = grabWindow(display, shareWindow);
    expect(!before.isNull() && before.size() == after.size(), "the share window can be read twice");
    if (before.isNull() || before.size() != after.size()) return;
    expect(changedAround(before, after, mirrored(scene.monitor, before.size(), first.x(), first.y())) > 0 &&
               changedAround(before, after, mirrored(scene.monitor, before.size(), second.x(), second.y())) > 0,
           "the pointer drawn in the picture follows the pointer");
}

}  // namespace standin
