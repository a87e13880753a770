#include "PaintedScene.h"

#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/shape.h>

#include <algorithm>


namespace velto::x11 {

PaintedScene::PaintedScene(XConnection& connection, shareview::ExclusionRule rule, ResourceID clientMask)
    : connection_(connection), display_(connection.display()), clientMask_(clientMask),
      judge_(connection, rule, clientMask), untrusted_(display_) {
    // After the caller's selection: a window made meanwhile is in the answer
    // or announced.
    untrusted_.start(childWindows(display_, connection_.root()));
}

void PaintedScene::observe(const XEvent& event, bool shapeChanged) {
    judge_.observe(event);
    stale_ = true;
    untrusted_.askAgain();
    // Reported on the root: a top-level window came, went, moved or was
    // restacked; its own pixmap holds no other program's pixels unless the
    // server made it a new one. Reported anywhere below (the parent of the
    // window that changed), the change may be inside a painted top-level
    // window, and so may a property that names its owner.
    const bool newPixmap = trackPixmaps(event);
    if (shapeChanged || event.xany.window != connection_.root()) {
        changedWithin_ = true;
        distrustAfter(event);
    }
    if (newPixmap) changedWithin_ = true;
}

namespace {

// The window a structure event tells of (its parent is the one it is reported to).
Window subjectOf(const XEvent& event) {
    switch (event.type) {
        case CreateNotify: return event.xcreatewindow.window;
        case DestroyNotify: return event.xdestroywindow.window;
        case UnmapNotify: return event.xunmap.window;
        case MapNotify: return event.xmap.window;
        case ReparentNotify: return event.xreparent.window;
        case ConfigureNotify: return event.xconfigure.window;
        case GravityNotify: return event.xgravity.window;
        case CirculateNotify: return event.xcirculate.window;
        default: return event.xany.window;  // a shape change: the window itself
    }
}

}  // namespace

void PaintedScene::distrustAfter(const XEvent& event) {
    // A private window that draws, then moves, unmaps or goes inside a
    // public window without background leaves its last pixels behind, at
    // every place it passed between two judgements. Where a painted tree
    // held a private window, or a window of a program not judged yet
    // changed, all of the tree is painted black until its programs repaint on
    // request. So it is where a public window that held a private one came
    // or went: it carries the private window's pixels along; and where the
    // tree still holds pixels no program painted: a window that moves in it
    // takes those under it along. Other changes by programs judged public
    // leave nothing of the kind.
    const Window subject = subjectOf(event);
    const bool privateSubject = !judge_.knownPublic(subject & ~clientMask_);
    if (privateSubject) judge_.notePrivateWithin(event.xany.window);
    const auto topLevel = judge_.topLevelHolding(event.xany.window);
    if (!topLevel) return;
    if (holdingPrivate_.count(*topLevel) > 0 || privateSubject || judge_.mayHoldPrivate(subject) ||
        untrusted_.of(*topLevel) != nullptr)
        untrusted_.distrust(*topLevel);
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
    distrustUnfollowed();
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
    if (std::any_of(source.covers.begin(), source.covers.end(), [](const auto& cover) { return cover.viewable; })) {
        // Each covered window within its own shape, clipped by its ancestors.
        topLevel.covered = XFixesCreateRegion(display_, nullptr, 0);
        for (const PaintableWindow::Cover& cover : source.covers) {
            if (!cover.viewable) continue;
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
void PaintedScene::distrustUnfollowed() {
    // An unmapped private window shows nothing, but may have left its last
    // pixels in a parent without background: they stay black until the
    // parent's program repaints there on request, once per time it unmaps.
    // So do the parts of a tree not watched before.
    std::set<Window> unmapped;
    holdingPrivate_.clear();
    for (const TopLevel& topLevel : topLevels_) {
        const PaintableWindow& source = topLevel.source;
        if (!source.covers.empty()) holdingPrivate_.insert(source.window);
        // What happened inside a tree before its windows were watched is not
        // known: its new parts are trusted only once painted on request.
        for (const Box& box : source.unfollowed)
            untrusted_.distrust(source.window, Box{box.x - source.border, box.y - source.border, box.width, box.height});
        for (const PaintableWindow::Cover& cover : source.covers) {
            if (cover.viewable) continue;
            unmapped.insert(cover.window);
            if (unmappedCovers_.count(cover.window) > 0) continue;
            untrusted_.distrust(source.window, Box{cover.box.x - source.border, cover.box.y - source.border,
                                                   cover.box.width, cover.box.height});
        }
    }
    unmappedCovers_ = std::move(unmapped);
}

}  // namespace velto::x11
