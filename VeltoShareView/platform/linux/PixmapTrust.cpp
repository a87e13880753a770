#include "PixmapTrust.h"

#include <algorithm>

namespace velto::x11 {
namespace {

constexpr int forgetGravity = 0;
constexpr int staticGravity = 10;

// The server's own arithmetic: halves truncate toward zero.
int shift(int gravityColumn, int grown) {
    switch (gravityColumn) {
        case 0:
            return 0;
        case 1:
            return grown / 2;
        default:
            return grown;
    }
}

}  // namespace

KeptContent keptAfterResize(const Box& before, const Box& after, int bitGravity) {
    KeptContent content;
    if (bitGravity <= forgetGravity || bitGravity > staticGravity) return content;
    if (bitGravity == staticGravity) {
        // The content stays where it was on the screen.
        content.dx = before.x - after.x;
        content.dy = before.y - after.y;
    } else {
        // NorthWest 1 … SouthEast 9, row by row.
        const int column = (bitGravity - 1) % 3, row = (bitGravity - 1) / 3;
        content.dx = shift(column, after.width - before.width);
        content.dy = shift(row, after.height - before.height);
    }
    const int left = std::max(0, content.dx), top = std::max(0, content.dy);
    const int right = std::min(after.width, content.dx + before.width);
    const int bottom = std::min(after.height, content.dy + before.height);
    if (right > left && bottom > top) content.kept = {left, top, right - left, bottom - top};
    return content;
}

bool clearsCover(unsigned long reportedAfterRequest, std::optional<unsigned long> repaintAsked) {
    return !repaintAsked || reportedAfterRequest >= *repaintAsked;
}

}  // namespace velto::x11
