#pragma once
// What the share window should show: the public windows and the desktop, as
// the probe laid them out, and the spots where a picture is held against them.

#include "Sampler.h"
#include "ProbeWindows.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace probe {

class Scene {
public:
    // Colours of a window's own content; nothing where two colours meet.
    using Paint = std::function<std::optional<unsigned long>(int x, int y)>;

    static Paint solid(unsigned long colour);
    static Paint bars(const Area& client);

    explicit Scene(::Display* display) : display_(display) {}

    // A public top-level window, above those added before; its frame (if a
    // window manager made one) is read from the server.
    void add(Window window, Paint paint);
    // A window inside another, above those added before.
    void addInside(Window window, Paint paint);
    // The black the share view paints over a private window embedded in a
    // public one.
    void addCover(Window window) { addInside(window, solid(0x000000)); }
    void setDesktop(std::optional<unsigned long> solid) { desktop_ = solid; }

    // The colour expected at a point of the screen, or nothing where the
    // picture may blend two colours or shows a frame the probe did not draw.
    std::optional<unsigned long> expectedAt(int x, int y) const;

private:
    struct Layer {
        Area frame;
        Area client;
        Paint paint;
    };
    ::Display* display_;
    std::vector<Layer> layers_;  // bottom to top
    std::optional<unsigned long> desktop_;
};

struct SpotCheck {
    int checked = 0;
    std::vector<std::string> wrong;  // described
};

// How many spots were held against the scene, and the first few wrong ones.
std::string describe(const SpotCheck& check);

// Holds a grid of spots over the area against the scene: what the picture
// shows there must be what is expected.
SpotCheck checkSpots(const QImage& picture, const Mirror& mirror, const Scene& scene, const Area& area,
                     int columns, int rows);

}  // namespace probe
