#pragma once
// Pictures of the share window taken over and over on a thread of their own,
// each searched for the private colour. Leaks are charged to the region of
// the screen they mirror, so each case of a run keeps its own count.

// Qt first: Xlib's macros (None, Bool, Status, …) would clash with its names.
#include <QImage>

#include "StandinWindows.h"

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace probe {

// Red and blue both at least this far above green. Every public colour of
// the probe has green at least as strong as its red or its blue, and no blend
// of two of them comes above +11, while the private magenta shows +255 and a
// one-pixel magenta edge that the share window's halving scale blends
// half-and-half with any public colour still shows +45 or more. (A lone
// corner pixel blended a quarter with orange would not; no leak is that small.)
inline constexpr int privateExcess = 40;
bool isPrivatePixel(QRgb pixel);

// Where the screen appears in the share window, which shows the monitor
// fitted with its aspect ratio kept.
struct Mirror {
    standin::Area monitor;
    QSize picture;
    double scale() const;
    QPointF toPicture(double x, double y) const;
    QPointF toScreen(double x, double y) const;
};

// The share window's content as the X server holds it; a null image when the
// window cannot be read.
QImage grabPicture(::Display* display, Window window);

struct RegionCount {
    long samples = 0;
    long leakingSamples = 0;
    long mostPixels = 0;     // in one sample
    double firstLeak = -1;   // seconds after the region opened
};

class Sampler {
public:
    Sampler(Window shareWindow, standin::Area monitor, std::string leakPicturePrefix);
    ~Sampler();

    void start();
    void stop();

    // From now on, leaks mirrored from this area of the screen (plus a few
    // pixels for the scaling) count for the region, until it is closed or the
    // sampler stops.
    void open(const std::string& region, const standin::Area& screenArea);
    // The region keeps its count; later leaks there go to other regions.
    void close(const std::string& region);

    std::map<std::string, RegionCount> counts() const;
    RegionCount unattributed() const;
    long samples() const { return samples_; }

private:
    struct Open {
        standin::Area area;
        std::chrono::steady_clock::time_point since;
        RegionCount count;
        bool pictureSaved = false;
        bool closed = false;
    };
    void run();
    void examine(const QImage& picture);

    const Window shareWindow_;
    const standin::Area monitor_;
    const std::string leakPicturePrefix_;
    mutable std::mutex mutex_;
    std::map<std::string, Open> regions_;
    RegionCount unattributed_;
    std::chrono::steady_clock::time_point started_;
    bool unattributedSaved_ = false;
    std::atomic<long> samples_{0};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace probe
