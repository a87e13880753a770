#include "Scene.h"

#include "Screenshot.h"  // standin::near

#include <cstdio>

namespace probe {
namespace {

// Scaling blends the colours on either side of an edge over a few pixels.
constexpr int edgeMargin = 4;
// The tolerance of a spot where one colour fills the neighbourhood.
constexpr int spotTolerance = 30;

bool inside(const Area& area, int x, int y, int inset) {
    return x >= area.x + inset && x < area.x + area.width - inset && y >= area.y + inset &&
           y < area.y + area.height - inset;
}

}  // namespace

Scene::Paint Scene::solid(unsigned long colour) {
    return [colour](int, int) { return std::optional<unsigned long>(colour); };
}

Scene::Paint Scene::bars(const Area& client) {
    return [client](int x, int) -> std::optional<unsigned long> {
        for (int i = 1; i < standin::ordinaryBarCount; ++i)
            if (std::abs(x - (client.x + client.width * i / standin::ordinaryBarCount)) < edgeMargin)
                return std::nullopt;
        return standin::ordinaryBars[(x - client.x) * standin::ordinaryBarCount / client.width];
    };
}

void Scene::add(Window window, Paint paint) {
    const auto client = standin::rootArea(display_, window);
    const auto frame = standin::rootArea(display_, topLevelOf(display_, window));
    if (!client || !frame) return;
    layers_.push_back({*frame, *client, std::move(paint)});
}

void Scene::addInside(Window window, Paint paint) {
    const auto client = standin::rootArea(display_, window);
    if (client) layers_.push_back({*client, *client, std::move(paint)});
}

std::optional<unsigned long> Scene::expectedAt(int x, int y) const {
    for (auto layer = layers_.rbegin(); layer != layers_.rend(); ++layer) {
        if (!inside(layer->frame, x, y, -edgeMargin)) continue;
        if (!inside(layer->client, x, y, edgeMargin)) return std::nullopt;
        return layer->paint(x, y);
    }
    if (!desktop_ && nearDesktopEdge(x, y, edgeMargin)) return std::nullopt;
    return desktopColourAt(desktop_, x, y);
}

std::string describe(const SpotCheck& check) {
    std::string text = std::to_string(check.checked) + " spots";
    for (std::size_t i = 0; i < check.wrong.size() && i < 4; ++i) text += "; " + check.wrong[i];
    if (check.wrong.size() > 4) text += "; " + std::to_string(check.wrong.size() - 4) + " more wrong";
    return text;
}

SpotCheck checkSpots(const QImage& picture, const Mirror& mirror, const Scene& scene, const Area& area,
                     int columns, int rows) {
    SpotCheck result;
    if (picture.isNull()) {
        result.wrong.push_back("no picture");
        return result;
    }
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            const int x = area.x + area.width * (2 * column + 1) / (2 * columns);
            const int y = area.y + area.height * (2 * row + 1) / (2 * rows);
            const auto expected = scene.expectedAt(x, y);
            if (!expected) continue;
            const QPointF at = mirror.toPicture(x + 0.5, y + 0.5);
            const QPoint pixel(int(at.x()), int(at.y()));
            if (!picture.rect().contains(pixel)) continue;
            ++result.checked;
            const QRgb seen = picture.pixel(pixel);
            if (standin::near(seen, *expected, spotTolerance)) continue;
            char description[96];
            std::snprintf(description, sizeof description, "(%d,%d) #%06x, not #%06lx", x, y,
                          seen & 0xffffffu, *expected);
            result.wrong.push_back(description);
        }
    return result;
}

}  // namespace probe
