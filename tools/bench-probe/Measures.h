// What the bench probe concludes from what it saw: frames counted from damage
// events, percentiles of latencies, and where a colour shows in a picture.
// Pure values, no X, no clock: the caller hands in times and pixels.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

namespace benchprobe {

// One repaint of the share window reaches us as several damage events (one
// per window of its tree, one per rectangle), all within a few milliseconds;
// a new frame starts after a quiet gap.
class FrameCounter {
public:
    explicit FrameCounter(long quietGapMs) : quietGapMs_(quietGapMs) {}

    void event(long timeMs) {
        if (frames_ == 0 || timeMs - last_ >= quietGapMs_) ++frames_;
        last_ = timeMs;
    }
    long frames() const { return frames_; }

private:
    long quietGapMs_;
    long last_ = 0;
    long frames_ = 0;
};

// The p-th percentile (0–100) with linear interpolation between the two
// nearest ranks, so that the 50th of an even count is the mean of the middle two.
inline std::optional<double> percentile(std::vector<double> values, double p) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * double(values.size() - 1);
    const auto below = std::size_t(rank);
    const auto above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (rank - double(below));
}

struct Rgb {
    int red = 0, green = 0, blue = 0;
};

inline Rgb rgbOf(std::uint32_t rgb) {
    return {int((rgb >> 16) & 0xff), int((rgb >> 8) & 0xff), int(rgb & 0xff)};
}

// Scaling filters blend only at a patch's edges; its inside keeps the colour
// up to rounding.
inline bool nearColour(Rgb a, Rgb b, int tolerance = 12) {
    return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
           std::abs(a.blue - b.blue) <= tolerance;
}

struct Point {
    int x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

// A row-major picture of 0xRRGGBB pixels.
struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    Rgb at(int x, int y) const { return rgbOf(pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)]); }
};

// True when the square of `radius` around `centre` lies inside the picture
// and holds only `colour`.
inline bool patchIs(const Picture& picture, Point centre, int radius, Rgb colour) {
    if (centre.x - radius < 0 || centre.y - radius < 0 || centre.x + radius >= picture.width ||
        centre.y + radius >= picture.height)
        return false;
    for (int y = centre.y - radius; y <= centre.y + radius; ++y)
        for (int x = centre.x - radius; x <= centre.x + radius; ++x)
            if (!nearColour(picture.at(x, y), colour)) return false;
    return true;
}

// Where a solid patch of `colour` shows: the median of every matching pixel,
// so that a few stray pixels of the same colour elsewhere cannot pull it off
// the patch, confirmed by a whole square of the colour around it.
inline std::optional<Point> findPatch(const Picture& picture, Rgb colour, int radius) {
    std::vector<int> xs, ys;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (nearColour(picture.at(x, y), colour)) {
                xs.push_back(x);
                ys.push_back(y);
            }
    if (xs.empty()) return std::nullopt;
    const auto middle = xs.size() / 2;
    std::nth_element(xs.begin(), xs.begin() + long(middle), xs.end());
    std::nth_element(ys.begin(), ys.begin() + long(middle), ys.end());
    const Point centre{xs[middle], ys[middle]};
    if (!patchIs(picture, centre, radius, colour)) return std::nullopt;
    return centre;
}

}  // namespace benchprobe
