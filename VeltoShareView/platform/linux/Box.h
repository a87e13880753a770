#pragma once

namespace velto::x11 {

// A rectangle of whole pixels; which space it lies in is the holder's to say.
struct Box {
    int x = 0, y = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
    bool contains(const Box& other) const {
        return other.x >= x && other.y >= y && other.x + other.width <= x + width &&
               other.y + other.height <= y + height;
    }
    bool operator==(const Box&) const = default;
};

}  // namespace velto::x11
