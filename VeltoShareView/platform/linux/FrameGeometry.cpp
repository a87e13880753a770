#include "FrameGeometry.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace velto::x11 {
namespace {

// Past this many boxes a paint costs more in requests than the bounding box
// costs in pixels.
constexpr std::size_t mostBoxes = 8;

Box boundingBox(const std::vector<Box>& boxes) {
    int left = boxes.front().x, top = boxes.front().y;
    int right = left + boxes.front().width, bottom = top + boxes.front().height;
    for (const Box& box : boxes) {
        left = std::min(left, box.x);
        top = std::min(top, box.y);
        right = std::max(right, box.x + box.width);
        bottom = std::max(bottom, box.y + box.height);
    }
    return {left, top, right - left, bottom - top};
}

Box fromEdges(int left, int top, int right, int bottom) {
    return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

}  // namespace

PixelSize frameSizeFor(PixelSize monitor, PixelSize configured, PixelSize shown) {
    if (monitor.empty() || shown.empty()) return configured;
    const double fit = std::min(double(shown.width) / monitor.width, double(shown.height) / monitor.height);
    const double configuredScale = double(configured.width) / monitor.width;
    if (fit >= configuredScale) return configured;
    // Rounded down, so that the frame fits the window without scaling again.
    return {std::max(1, int(monitor.width * fit + 1e-9)), std::max(1, int(monitor.height * fit + 1e-9))};
}

FrameScale FrameScale::between(PixelSize monitor, PixelSize frame) {
    if (monitor.empty() || frame.empty()) return {};
    return {double(frame.width) / monitor.width, double(frame.height) / monitor.height};
}

Box FrameScale::reach(const Box& box, PixelSize frame) const {
    if (box.empty()) return {};
    // Bilinear filtering mixes each frame pixel from the two nearest monitor
    // pixels along each axis: one frame pixel more on every side.
    const int margin = identity() ? 0 : 1;
    const int left = std::max(0, int(std::floor(box.x * x)) - margin);
    const int top = std::max(0, int(std::floor(box.y * y)) - margin);
    const int right = std::min(frame.width, int(std::ceil((box.x + box.width) * x)) + margin);
    const int bottom = std::min(frame.height, int(std::ceil((box.y + box.height) * y)) + margin);
    return fromEdges(left, top, right, bottom);
}

Box FrameScale::inside(const Box& box) const {
    if (box.empty()) return {};
    const int margin = identity() ? 0 : 1;
    return fromEdges(int(std::ceil(box.x * x)) + margin, int(std::ceil(box.y * y)) + margin,
                     int(std::floor((box.x + box.width) * x)) - margin,
                     int(std::floor((box.y + box.height) * y)) - margin);
}

Placement placeFrame(PixelSize frame, PixelSize window) {
    if (frame.empty() || window.empty()) return {};
    const bool fits = frame.width <= window.width && frame.height <= window.height &&
                      (window.width - frame.width <= 1 || window.height - frame.height <= 1);
    Placement placement;
    if (fits) {
        placement.width = frame.width;
        placement.height = frame.height;
    } else {
        const double scale = std::min(double(window.width) / frame.width, double(window.height) / frame.height);
        placement.width = std::max(1, int(frame.width * scale + 0.5));
        placement.height = std::max(1, int(frame.height * scale + 0.5));
        placement.scaled = true;
    }
    placement.left = (window.width - placement.width) / 2;
    placement.top = (window.height - placement.height) / 2;
    return placement;
}

void Area::add(const Box& box) {
    if (everything || box.empty()) return;
    if (std::any_of(boxes.begin(), boxes.end(), [&](const Box& kept) { return kept.contains(box); })) return;
    std::erase_if(boxes, [&](const Box& kept) { return box.contains(kept); });
    boxes.push_back(box);
    if (boxes.size() > mostBoxes) boxes = {boundingBox(boxes)};
}

void Area::addEverything() {
    everything = true;
    boxes.clear();
}

Area changedBetween(const std::vector<WindowLook>& before, const std::vector<WindowLook>& after) {
    Area changed;
    std::map<unsigned long, const WindowLook*> earlier, now;
    for (const WindowLook& look : before) earlier[look.window] = &look;
    for (const WindowLook& look : after) now[look.window] = &look;
    for (const WindowLook& look : before)
        if (now.count(look.window) == 0) changed.add(look.bounds);
    for (const WindowLook& look : after) {
        const auto old = earlier.find(look.window);
        if (old == earlier.end()) {
            changed.add(look.bounds);
        } else if (!(*old->second == look) || !look.plain || !old->second->plain) {
            changed.add(old->second->bounds);
            changed.add(look.bounds);
        }
    }
    // Restacking: the windows outside a longest common subsequence of the
    // two stacking orders are the ones that moved up or down.
    std::vector<unsigned long> a, b;
    for (const WindowLook& look : before)
        if (now.count(look.window) != 0) a.push_back(look.window);
    for (const WindowLook& look : after)
        if (earlier.count(look.window) != 0) b.push_back(look.window);
    if (a == b) return changed;
    std::vector<std::vector<int>> common(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (std::size_t i = a.size(); i-- > 0;)
        for (std::size_t j = b.size(); j-- > 0;)
            common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
    std::set<unsigned long> stayed;
    for (std::size_t i = 0, j = 0; i < a.size() && j < b.size();) {
        if (a[i] == b[j]) {
            stayed.insert(a[i]);
            ++i, ++j;
        } else if (common[i + 1][j] >= common[i][j + 1]) {
            ++i;
        } else {
            ++j;
        }
    }
    for (unsigned long window : a)
        if (stayed.count(window) == 0) {
            changed.add(earlier[window]->bounds);
            changed.add(now[window]->bounds);
        }
    return changed;
}

DamageBook::DamageBook(int pictures) : missed_(std::size_t(std::max(0, pictures))) {
    addEverything();
}

void DamageBook::add(const Box& box) {
    for (Area& area : missed_) area.add(box);
    sinceLastFrame_.add(box);
}

void DamageBook::addEverything() {
    for (Area& area : missed_) area.addEverything();
    sinceLastFrame_.addEverything();
}

DamageBook::Painting DamageBook::startPainting(int index) {
    Painting painting{index, std::move(missed_[std::size_t(index)]), std::move(sinceLastFrame_)};
    missed_[std::size_t(index)] = {};
    sinceLastFrame_ = {};
    return painting;
}

void DamageBook::discard(const Painting& painting) {
    for (auto [kept, lost] : {std::pair{&missed_[std::size_t(painting.index)], &painting.missed},
                              std::pair{&sinceLastFrame_, &painting.sinceLastFrame}}) {
        if (lost->everything) kept->addEverything();
        for (const Box& box : lost->boxes) kept->add(box);
    }
}

}  // namespace velto::x11
