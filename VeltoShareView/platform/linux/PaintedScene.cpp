#include "PaintedScene.h"

#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/shape.h>


namespace velto::x11 {

PaintedScene::PaintedScene(XConnection& connection, shareview::ExclusionRule rule, ResourceID clientMask)
    : connection_(connection), display_(connection.display()), judge_(connection, rule, clientMask),
      untrusted_(display_) {
    // After the caller's selection: a window made meanwhile is in the answer
    // or announced.
    untrusted_.start(childWindows(display_, connection_.root()));
}

void PaintedScene::observe(const XEvent& event, bool shapeChanged) {
    judge_.observe(event);
    stale_ = true;
    // Reported on the root: a top-level window came, went, moved or was
    // restacked; its own pixmap holds no other program's pixels unless the
    // server made it a new one. Reported anywhere below (the parent of the
    // window that changed), the change may be inside a painted top-level
    // window, and so may a property that names its owner.
    const bool newPixmap = trackPixmaps(event);
    if (shapeChanged || event.xany.window != connection_.root()) {
        changedWithin_ = true;
        keepResidues();
    }
    if (newPixmap) changedWithin_ = true;
}

bool PaintedScene::observeProperty(const XPropertyEvent& event) {
    if (!judge_.judgesBy(event.atom)) return false;
    stale_ = true;
    changedWithin_ = true;
    return true;
}

bool PaintedScene::trackPixmaps(const XEvent& event) {
    const Window root = connection_.root();
    switch (event.type) {
        case CreateNotify:
            if (event.xcreatewindow.parent == root) untrusted_.created(event.xcreatewindow);
            return false;
        case ReparentNotify:
            if (event.xreparent.event == root) untrusted_.reparented(event.xreparent, root);
            return false;
        case MapNotify:
            if (event.xmap.event != root) return false;
            untrusted_.mapped(event.xmap.window);
            return true;
        case ConfigureNotify:
            return event.xconfigure.event == root && untrusted_.configured(event.xconfigure);
        case UnmapNotify:
            if (event.xunmap.event == root) untrusted_.unmapped(event.xunmap.window);
            return false;
        case DestroyNotify:
            if (event.xdestroywindow.event == root) untrusted_.destroyed(event.xdestroywindow.window);
            return false;
        default:
            return false;
    }
}

std::optional<Box> PaintedScene::painted(const XDamageNotifyEvent& damage) {
    untrusted_.painted(damage);
    // A window left out changes nothing in the picture.
    for (const TopLevel& topLevel : topLevels_) {
        const PaintableWindow& source = topLevel.source;
        if (source.window != damage.drawable) continue;
        return Box{source.x + source.border + damage.area.x, source.y + source.border + damage.area.y,
                   damage.area.width, damage.area.height};
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- judgement
Area PaintedScene::rejudge() {
    const std::vector<WindowLook> before = looks();
    for (TopLevel& topLevel : topLevels_) release(topLevel);
    topLevels_.clear();
    stale_ = false;
    changedWithin_ = false;
    residuesKept_ = false;
    std::vector<TopLevel> prepared;
    {
        ErrorTrap trap(connection_);
        for (PaintableWindow& window : judge_.judge()) {
            prepared.push_back({std::move(window)});
            if (!prepare(prepared.back())) prepared.pop_back();
        }
        if (trap.failed()) {
            // A window went meanwhile: find out which, one by one. A window
            // that cannot be painted exactly as judged is not painted.
            for (TopLevel& topLevel : prepared) {
                release(topLevel);
                ErrorTrap own(connection_);
                if (!prepare(topLevel) || own.failed()) release(topLevel);
            }
            std::erase_if(prepared, [](const TopLevel& topLevel) { return topLevel.picture == None; });
        }
    }
    topLevels_ = std::move(prepared);
    return changedBetween(before, looks());
}

std::vector<WindowLook> PaintedScene::looks() const {
    std::vector<WindowLook> looks;
    for (const TopLevel& topLevel : topLevels_)
        looks.push_back({topLevel.source.window, topLevel.bounds(), topLevel.opaque,
                         topLevel.shape == None && topLevel.covered == None &&
                             untrusted_.of(topLevel.source.window) == nullptr});
    return looks;
}

bool PaintedScene::prepare(TopLevel& topLevel) {
    const PaintableWindow& source = topLevel.source;
    XRenderPictFormat* format = XRenderFindVisualFormat(display_, source.visual);
    if (format == nullptr) return false;
    const bool shaped = isShaped(source.window);
    topLevel.pixmap = XCompositeNameWindowPixmap(display_, source.window);
    topLevel.picture = XRenderCreatePicture(display_, topLevel.pixmap, format, 0, nullptr);
    topLevel.opaque = !(format->type == PictTypeDirect && format->direct.alphaMask != 0);
    if (shaped) topLevel.shape = XFixesCreateRegionFromWindow(display_, source.window, WindowRegionBounding);
    if (!source.covers.empty()) {
        // Each covered window within its own shape, clipped by its ancestors.
        topLevel.covered = XFixesCreateRegion(display_, nullptr, 0);
        for (const PaintableWindow::Cover& cover : source.covers) {
            const XserverRegion shape = XFixesCreateRegionFromWindow(display_, cover.window, WindowRegionBounding);
            XFixesTranslateRegion(display_, shape, cover.insideX, cover.insideY);
            XRectangle box = rectangleOf(cover.box);
            const XserverRegion clip = XFixesCreateRegion(display_, &box, 1);
            XFixesIntersectRegion(display_, shape, shape, clip);
            XFixesUnionRegion(display_, topLevel.covered, topLevel.covered, shape);
            XFixesDestroyRegion(display_, clip);
            XFixesDestroyRegion(display_, shape);
        }
    }
    return true;
}

void PaintedScene::release(TopLevel& topLevel) {
    if (topLevel.picture != None) XRenderFreePicture(display_, topLevel.picture);
    if (topLevel.pixmap != None) XFreePixmap(display_, topLevel.pixmap);
    if (topLevel.shape != None) XFixesDestroyRegion(display_, topLevel.shape);
    if (topLevel.covered != None) XFixesDestroyRegion(display_, topLevel.covered);
    topLevel.picture = topLevel.pixmap = topLevel.shape = topLevel.covered = None;
}

bool PaintedScene::isShaped(Window window) {
    Bool bounding = False, clip = False;
    int x = 0, y = 0, cx = 0, cy = 0;
    unsigned int width = 0, height = 0, cwidth = 0, cheight = 0;
    return XShapeQueryExtents(display_, window, &bounding, &x, &y, &width, &height, &clip, &cx, &cy,
                              &cwidth, &cheight) &&
           bounding;
}

// ---------------------------------------------------------------- residues
void PaintedScene::keepResidues() {
    // A program whose window has no background keeps the last pixels of a
    // child that went, moved or shrank until it paints there again: from the
    // change on, what was covered stays covered until damage reported after
    // the window was asked to repaint says it was painted anew. Relative to
    // the inside corner, as damage is reported. The covers are those of the
    // scene last judged, so they are kept at the first change after it only:
    // the later events of the same batch (the DestroyNotify after the
    // UnmapNotify) would only ask for the same repaint again.
    if (residuesKept_) return;
    residuesKept_ = true;
    for (const TopLevel& topLevel : topLevels_)
        if (topLevel.covered != None) untrusted_.keep(topLevel.source.window, topLevel.covered, topLevel.source.border);
}

}  // namespace velto::x11
