#include "FramePainter.h"

#include <X11/extensions/Xfixes.h>

#include <algorithm>

namespace velto::x11 {
namespace {

bool overlaps(const Box& a, const Box& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

XTransform transformFor(const FrameScale& scale, const Box& box) {
    // Frame pixel → the source's own pixel: undo the scale, then the offset.
    return {{{XDoubleToFixed(1.0 / scale.x), 0, XDoubleToFixed(-box.x)},
             {0, XDoubleToFixed(1.0 / scale.y), XDoubleToFixed(-box.y)},
             {0, 0, XDoubleToFixed(1.0)}}};
}

constexpr XTransform identityTransform{{{XDoubleToFixed(1.0), 0, 0},
                                        {0, XDoubleToFixed(1.0), 0},
                                        {0, 0, XDoubleToFixed(1.0)}}};
constexpr XRenderColor black{0, 0, 0, 0xffff};
constexpr XRenderColor transparent{0, 0, 0, 0};

}  // namespace

FramePainter::FramePainter(XConnection& connection, MonitorArea area, int poolSize, bool showsCursor)
    : connection_(connection), display_(connection.display()), area_(area), poolSize_(std::max(1, poolSize)),
      showsCursor_(showsCursor), background_(connection, area), cursor_(display_) {
    background_.refresh();
    if (showsCursor_) cursor_.refresh();
}

FramePainter::Slot FramePainter::makeSlot(int index) {
    Slot slot;
    slot.pixmap = std::make_shared<FramePixmap>();
    slot.pixmap->index = index;
    slot.pixmap->width = size_.width;
    slot.pixmap->height = size_.height;
    slot.pixmap->pixmap =
        XCreatePixmap(display_, connection_.root(), unsigned(size_.width), unsigned(size_.height), 24);
    slot.picture = XRenderCreatePicture(display_, slot.pixmap->pixmap,
                                        XRenderFindStandardFormat(display_, PictStandardRGB24), 0, nullptr);
    return slot;
}

void FramePainter::resize(PixelSize size) {
    if (size == size_ || size.empty()) return;
    size_ = size;
    scale_ = FrameScale::between({area_.width, area_.height}, size_);
    // A picture on show stays until the view lets go of it.
    for (Slot& slot : pool_) retired_.push_back(std::move(slot));
    pool_.clear();
    for (int i = 0; i < poolSize_; ++i) pool_.push_back(makeSlot(i));
    if (backdrop_ != None) {
        XRenderFreePicture(display_, backdropPicture_);
        XFreePixmap(display_, backdrop_);
    }
    backdrop_ = XCreatePixmap(display_, connection_.root(), unsigned(size_.width), unsigned(size_.height), 24);
    backdropPicture_ =
        XRenderCreatePicture(display_, backdrop_, XRenderFindStandardFormat(display_, PictStandardRGB24), 0, nullptr);
    renderBackdrop();
    book_ = DamageBook(poolSize_);
}

void FramePainter::freeRetired() {
    std::erase_if(retired_, [&](Slot& slot) {
        if (slot.pixmap.use_count() > 1) return false;
        XRenderFreePicture(display_, slot.picture);
        XFreePixmap(display_, slot.pixmap->pixmap);
        return true;
    });
}

void FramePainter::renderBackdrop() {
    // Once per background and size: the tile is scaled here, not per frame.
    Region whole = XCreateRegion();
    XRectangle monitor{0, 0, static_cast<unsigned short>(area_.width), static_cast<unsigned short>(area_.height)};
    XUnionRectWithRegion(&monitor, whole, whole);
    if (scale_.identity()) {
        background_.paint(backdropPicture_, whole);
    } else {
        const Pixmap full =
            XCreatePixmap(display_, connection_.root(), unsigned(area_.width), unsigned(area_.height), 24);
        const Picture picture =
            XRenderCreatePicture(display_, full, XRenderFindStandardFormat(display_, PictStandardRGB24), 0, nullptr);
        background_.paint(picture, whole);
        // Padded, so that the frame's edges are not blended with nothing.
        XRenderPictureAttributes pad{};
        pad.repeat = RepeatPad;
        XRenderChangePicture(display_, picture, CPRepeat, &pad);
        XTransform transform = transformFor(scale_, {0, 0, area_.width, area_.height});
        XRenderSetPictureTransform(display_, picture, &transform);
        XRenderSetPictureFilter(display_, picture, FilterBilinear, nullptr, 0);
        XRenderComposite(display_, PictOpSrc, picture, None, backdropPicture_, 0, 0, 0, 0, 0, 0,
                         unsigned(size_.width), unsigned(size_.height));
        XRenderFreePicture(display_, picture);
        XFreePixmap(display_, full);
    }
    XDestroyRegion(whole);
}

// ---------------------------------------------------------------- changes
Box FramePainter::onMonitor(const Box& rootBox) const {
    return {rootBox.x - area_.x, rootBox.y - area_.y, rootBox.width, rootBox.height};
}

void FramePainter::damage(const Box& box) {
    const Box local = onMonitor(box);
    if (overlaps(local, {0, 0, area_.width, area_.height})) book_.add(local);
}

bool FramePainter::propertyChanged(Atom property) {
    if (!background_.isBackgroundProperty(property)) return false;
    background_.refresh();
    if (backdrop_ != None) renderBackdrop();
    book_.addEverything();
    return true;
}

void FramePainter::pointerAt(int x, int y) {
    if (!showsCursor_ || (x == pointerX_ && y == pointerY_)) return;
    pointerX_ = x;
    pointerY_ = y;
    if (cursorBox_) book_.add(*cursorBox_);
    cursorBox_ = cursor_.boxAt(x - area_.x, y - area_.y);
    book_.add(*cursorBox_);
}

bool FramePainter::cursorImageChanged() {
    if (!showsCursor_) return false;
    const bool placed = cursor_.refresh();
    if (placed) {
        pointerX_ = cursor_.pointerX();
        pointerY_ = cursor_.pointerY();
    }
    if (cursorBox_) book_.add(*cursorBox_);
    if (pointerX_ < 0 && pointerY_ < 0) return false;  // not known yet
    cursorBox_ = cursor_.boxAt(pointerX_ - area_.x, pointerY_ - area_.y);
    book_.add(*cursorBox_);
    return placed;
}

// ---------------------------------------------------------------- painting
std::shared_ptr<const FramePixmap> FramePainter::freePicture() {
    freeRetired();
    for (const Slot& slot : pool_)
        if (slot.pixmap.use_count() == 1) return slot.pixmap;
    return nullptr;
}

void FramePainter::composite(Picture source, int op, const Box& box, Picture target) {
    if (scale_.identity()) {
        XRenderSetPictureTransform(display_, source, const_cast<XTransform*>(&identityTransform));
        XRenderComposite(display_, op, source, None, target, 0, 0, 0, 0, box.x, box.y, unsigned(box.width),
                         unsigned(box.height));
        return;
    }
    XTransform transform = transformFor(scale_, box);
    XRenderSetPictureTransform(display_, source, &transform);
    XRenderSetPictureFilter(display_, source, FilterBilinear, nullptr, 0);
    const Box reach = scale_.reach(box, size_);
    if (reach.empty()) return;
    const auto draw = [&](int drawOp, const Box& part) {
        if (part.empty()) return;
        XRenderComposite(display_, drawOp, source, None, target, part.x, part.y, 0, 0, part.x, part.y,
                         unsigned(part.width), unsigned(part.height));
    };
    const Box inside = op == PictOpSrc ? scale_.inside(box) : Box{};
    if (inside.empty()) {
        draw(PictOpOver, reach);
        return;
    }
    // An opaque source is copied where it covers the frame pixels whole,
    // the server's fast case; its scaled edges are only partly covered, and
    // what lies beneath shows through there.
    draw(PictOpSrc, inside);
    const int insideRight = inside.x + inside.width, insideBottom = inside.y + inside.height;
    draw(PictOpOver, {reach.x, reach.y, reach.width, inside.y - reach.y});
    draw(PictOpOver, {reach.x, insideBottom, reach.width, reach.y + reach.height - insideBottom});
    draw(PictOpOver, {reach.x, inside.y, inside.x - reach.x, inside.height});
    draw(PictOpOver, {insideRight, inside.y, reach.x + reach.width - insideRight, inside.height});
}

void FramePainter::paintWindow(const TopLevel& topLevel, Region untrusted, Picture target) {
    const PaintableWindow& source = topLevel.source;
    const Box box = onMonitor(topLevel.bounds());
    if (topLevel.shape == None && topLevel.covered == None && untrusted == nullptr) {
        composite(topLevel.picture, topLevel.opaque ? PictOpSrc : PictOpOver, box, target);
        return;
    }
    // Shape and covers apply to the window's own pixels, before any scaling
    // could blend a covered pixel into its neighbours: painted apart first.
    const Pixmap pixmap = XCreatePixmap(display_, connection_.root(), unsigned(source.width),
                                        unsigned(source.height), 32);
    const Picture apart =
        XRenderCreatePicture(display_, pixmap, XRenderFindStandardFormat(display_, PictStandardARGB32), 0, nullptr);
    XRenderFillRectangle(display_, PictOpSrc, apart, &transparent, 0, 0, unsigned(source.width),
                         unsigned(source.height));
    // Outside its shape a window's pixmap holds nothing to show.
    if (topLevel.shape != None)
        XFixesSetPictureClipRegion(display_, apart, source.border, source.border, topLevel.shape);
    XRenderComposite(display_, PictOpSrc, topLevel.picture, None, apart, 0, 0, 0, 0, 0, 0, unsigned(source.width),
                     unsigned(source.height));
    const auto blacken = [&] {
        XRenderFillRectangle(display_, PictOpSrc, apart, &black, 0, 0, unsigned(source.width),
                             unsigned(source.height));
    };
    if (topLevel.covered != None) {
        XFixesSetPictureClipRegion(display_, apart, 0, 0, topLevel.covered);
        blacken();
    }
    if (untrusted != nullptr) {
        const Region outer = XCreateRegion();
        XUnionRegion(untrusted, outer, outer);
        XOffsetRegion(outer, source.border, source.border);
        XRenderSetPictureClipRegion(display_, apart, outer);
        XDestroyRegion(outer);
        blacken();
    }
    composite(apart, PictOpOver, box, target);
    XRenderFreePicture(display_, apart);
    XFreePixmap(display_, pixmap);
}

bool FramePainter::paint(const FramePixmap& picture, const PaintedScene& scene) {
    ErrorTrap trap(connection_);
    const Picture target = pool_[std::size_t(picture.index)].picture;
    painting_ = book_.startPainting(picture.index);
    const Area& missed = painting_->missed;
    std::vector<Box> boxes;
    if (missed.everything) {
        boxes.push_back({0, 0, size_.width, size_.height});
    } else {
        for (const Box& box : missed.boxes)
            if (const Box reach = scale_.reach(box, size_); !reach.empty()) boxes.push_back(reach);
    }
    std::vector<XRectangle> rectangles;
    for (const Box& box : boxes) rectangles.push_back(rectangleOf(box));
    const XserverRegion clip = XFixesCreateRegion(display_, rectangles.data(), int(rectangles.size()));
    const auto touched = [&](const Box& monitorBox) {
        const Box reach = scale_.reach(monitorBox, size_);
        return std::any_of(boxes.begin(), boxes.end(), [&](const Box& box) { return overlaps(box, reach); });
    };

    // The desktop, where no opaque window will be painted over it anyway.
    std::vector<XRectangle> opaque;
    for (const TopLevel& topLevel : scene.topLevels())
        if (topLevel.opaque && topLevel.shape == None)
            if (const Box inside = scale_.inside(onMonitor(topLevel.bounds())); !inside.empty())
                opaque.push_back(rectangleOf(inside));
    const XserverRegion desktop = XFixesCreateRegion(display_, opaque.data(), int(opaque.size()));
    XFixesSubtractRegion(display_, desktop, clip, desktop);
    XFixesSetPictureClipRegion(display_, target, 0, 0, desktop);
    XRenderComposite(display_, PictOpSrc, backdropPicture_, None, target, 0, 0, 0, 0, 0, 0, unsigned(size_.width),
                     unsigned(size_.height));
    XFixesDestroyRegion(display_, desktop);

    XFixesSetPictureClipRegion(display_, target, 0, 0, clip);
    for (const TopLevel& topLevel : scene.topLevels())
        if (touched(onMonitor(topLevel.bounds()))) paintWindow(topLevel, scene.untrustedOf(topLevel.source.window), target);
    if (showsCursor_ && cursorBox_ && cursor_.picture() != None && touched(*cursorBox_))
        composite(cursor_.picture(), PictOpOver, *cursorBox_, target);
    XFixesSetPictureClipRegion(display_, target, 0, 0, None);
    XFixesDestroyRegion(display_, clip);
    // Waits until the picture is complete in the server, before anyone is told about it.
    return !trap.failed();
}

Area FramePainter::handOut() {
    Area changed;
    if (!painting_) return changed;
    const Area& since = painting_->sinceLastFrame;
    if (since.everything) changed.addEverything();
    for (const Box& box : since.boxes) changed.add(scale_.reach(box, size_));
    lastHandedOut_ = std::move(painting_->sinceLastFrame);
    painting_.reset();
    return changed;
}

void FramePainter::resendLastChanges() {
    if (lastHandedOut_.everything) book_.addEverything();
    for (const Box& box : lastHandedOut_.boxes) book_.add(box);
}

void FramePainter::discard() {
    if (painting_) book_.discard(*painting_);
    painting_.reset();
}

}  // namespace velto::x11
