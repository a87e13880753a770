#include "Compositor.h"

#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>

#include <algorithm>

namespace velto::x11 {
namespace {

// How often one tick paints again when the tree changed while it painted.
constexpr int paintAttempts = 3;

bool isStructureEvent(int type) {
    switch (type) {
        case CreateNotify:
        case DestroyNotify:
        case ReparentNotify:
        case MapNotify:
        case UnmapNotify:
        case ConfigureNotify:
        case CirculateNotify:
        case GravityNotify:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::unique_ptr<Compositor> Compositor::open(Settings settings, std::string& reason) {
    auto connection = XConnection::open();
    if (!connection) {
        reason = "The X display cannot be opened.";
        return nullptr;
    }
    if (auto missing = missingExtension(connection->display())) {
        reason = "The X server lacks the " + *missing + " extension.";
        return nullptr;
    }
    std::unique_ptr<Compositor> compositor(new Compositor(std::move(connection), std::move(settings)));
    if (!compositor->setUp()) {
        reason = "The X server refused the capture resources.";
        return nullptr;
    }
    return compositor;
}

Compositor::Compositor(std::unique_ptr<XConnection> connection, Settings settings)
    : connection_(std::move(connection)), display_(connection_->display()),
      settings_(std::move(settings)), residues_(display_), cursor_(display_) {}

Compositor::~Compositor() {
    // The judge and the background go before the connection they use; closing
    // the connection frees every resource it made and ends the redirection.
    // Pixmaps still on show live on through the view's pictures.
    judge_.reset();
    background_.reset();
}

bool Compositor::setUp() {
    const Window root = connection_->root();
    int errorBase = 0;
    XDamageQueryExtension(display_, &damageEventBase_, &errorBase);
    XFixesQueryExtension(display_, &fixesEventBase_, &errorBase);
    XShapeQueryExtension(display_, &shapeEventBase_, &errorBase);

    int clientCount = 0;
    XResClient* clients = nullptr;
    XID clientMask = 0;
    if (XResQueryClients(display_, &clientCount, &clients) != 0 && clientCount > 0)
        clientMask = clients[0].resource_mask;
    if (clients != nullptr) XFree(clients);
    if (clientMask == 0) return false;

    ErrorTrap trap(*connection_);
    // Automatic: the screen looks as before. A compositing manager's manual
    // redirection of the same windows does not stand in the way.
    XCompositeRedirectSubwindows(display_, root, CompositeRedirectAutomatic);
    XSelectInput(display_, root, SubstructureNotifyMask | PropertyChangeMask);
    if (settings_.showsCursor) XFixesSelectCursorInput(display_, root, XFixesDisplayCursorNotifyMask);

    XRenderPictFormat* rgb = XRenderFindStandardFormat(display_, PictStandardRGB24);
    for (int i = 0; i < settings_.poolSize; ++i) {
        auto slot = std::make_shared<FramePixmap>();
        slot->width = settings_.width;
        slot->height = settings_.height;
        slot->pixmap = XCreatePixmap(display_, root, unsigned(settings_.width),
                                     unsigned(settings_.height), 24);
        poolPictures_[slot->pixmap] = XRenderCreatePicture(display_, slot->pixmap, rgb, 0, nullptr);
        pool_.push_back(std::move(slot));
    }
    const MonitorArea& area = settings_.area;
    if (area.width != settings_.width || area.height != settings_.height) {
        scratch_ = XCreatePixmap(display_, root, unsigned(area.width), unsigned(area.height), 24);
        scratchPicture_ = XRenderCreatePicture(display_, scratch_, rgb, 0, nullptr);
        const double scale = double(area.width) / settings_.width;
        XTransform transform{{{XDoubleToFixed(scale), 0, 0},
                              {0, XDoubleToFixed(scale), 0},
                              {0, 0, XDoubleToFixed(1.0)}}};
        XRenderSetPictureTransform(display_, scratchPicture_, &transform);
        XRenderSetPictureFilter(display_, scratchPicture_, FilterBilinear, nullptr, 0);
    }
    if (trap.failed()) return false;
    // After the selection: a window made meanwhile is in the answer or
    // announced. An input-only window holds nothing to watch (refused, harmlessly).
    for (Window window : childWindows(display_, root)) residues_.watch(window);
    judge_ = std::make_unique<ExclusionJudge>(*connection_, settings_.rule, clientMask);
    background_ = std::make_unique<DesktopBackground>(*connection_, area);
    background_->refresh();
    return !connection_->broken();
}

// ---------------------------------------------------------------- events
void Compositor::drainEvents() {
    while (!connection_->broken() && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        handleEvent(event);
    }
}

void Compositor::handleEvent(const XEvent& event) {
    if (event.type == damageEventBase_ + XDamageNotify) {
        const auto& damage = reinterpret_cast<const XDamageNotifyEvent&>(event);
        residues_.painted(damage);
        XDamageSubtract(display_, damage.damage, None, None);
        // A window left out changes nothing in the picture.
        if (std::any_of(topLevels_.begin(), topLevels_.end(),
                        [&](const TopLevel& topLevel) { return topLevel.source.window == damage.drawable; }))
            pictureChanged_ = true;
        return;
    }
    if (event.type == fixesEventBase_ + XFixesCursorNotify) {
        cursorChanged_ = true;
        pictureChanged_ = true;
        return;
    }
    if (event.type == PropertyNotify) {
        if (background_->isBackgroundProperty(event.xproperty.atom)) {
            background_->refresh();
            pictureChanged_ = true;
        }
        return;
    }
    const bool shapeChanged = event.type == shapeEventBase_ + ShapeNotify;
    if (!isStructureEvent(event.type) && !shapeChanged) return;
    judge_->observe(event);
    treeChanged_ = true;
    pictureChanged_ = true;
    // Reported on the root: a top-level window came, went, moved or was
    // restacked. Its own pixmap holds no other program's pixels, so the frame
    // in hand stays good. Reported anywhere below (the parent of the window
    // that changed), the change may be inside a painted top-level window.
    if (shapeChanged || event.xany.window != connection_->root()) {
        nestedChange_ = true;
        keepResidues();
    }
    const Window root = connection_->root();
    if (event.type == CreateNotify && event.xcreatewindow.parent == root) residues_.watch(event.xcreatewindow.window);
    if (event.type == ReparentNotify && event.xreparent.event == root) {
        if (event.xreparent.parent == root)
            residues_.watch(event.xreparent.window);
        else
            residues_.unwatch(event.xreparent.window);
    }
    if (event.type == DestroyNotify) residues_.destroyed(event.xdestroywindow.window);
    if (event.type == MapNotify && event.xmap.event == root) {
        const Window window = event.xmap.window;
        residues_.mapped(window, privateAreaBeneath(window));
        mappedSinceJudgement_.insert(window);
    }
    // An unmapped window's pixmap goes; a new one is painted anew when it maps.
    if (event.type == DestroyNotify || event.type == UnmapNotify) {
        const Window window = event.type == DestroyNotify ? event.xdestroywindow.window : event.xunmap.window;
        residues_.forget(window);
    }
}

void Compositor::pollPointer() {
    Window rootReturn = None, child = None;
    int x = 0, y = 0, windowX = 0, windowY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display_, connection_->root(), &rootReturn, &child, &x, &y, &windowX,
                       &windowY, &mask))
        return;
    if (x == pointerX_ && y == pointerY_) return;
    pointerX_ = x;
    pointerY_ = y;
    pictureChanged_ = true;
}

// ---------------------------------------------------------------- windows
void Compositor::release(TopLevel& topLevel) {
    if (topLevel.picture != None) XRenderFreePicture(display_, topLevel.picture);
    if (topLevel.pixmap != None) XFreePixmap(display_, topLevel.pixmap);
    if (topLevel.shape != None) XFixesDestroyRegion(display_, topLevel.shape);
    if (topLevel.covered != None) XFixesDestroyRegion(display_, topLevel.covered);
    topLevel.picture = topLevel.pixmap = topLevel.shape = topLevel.covered = None;
}

void Compositor::releaseScene() {
    for (TopLevel& topLevel : topLevels_) release(topLevel);
    topLevels_.clear();
}

void Compositor::keepResidues() {
    // A program whose window has no background keeps the last pixels of a
    // child that went, moved or shrank until it paints there again: from the
    // change on, what was covered stays covered until damage reported after
    // the change (in the order of the event stream) says it was painted anew.
    // Relative to the inside corner, as damage is reported. The covers are
    // those of the scene last judged, so they are kept at the first change
    // after it only: keeping them again at a later event of the same batch
    // (the DestroyNotify after the UnmapNotify) would undo the damage the
    // server reported in between, when it painted the parent's background.
    if (residuesKept_) return;
    residuesKept_ = true;
    for (const TopLevel& topLevel : topLevels_)
        if (topLevel.covered != None) residues_.keep(topLevel.source.window, topLevel.covered, topLevel.source.border);
}

XserverRegion Compositor::privateAreaBeneath(Window window) {
    // What was judged private, wherever it lies (stacking aside), and each
    // window mapped since the judgement (not known yet), as it lies now.
    constexpr XRectangle everywhere{-16384, -16384, 65535, 65535};
    XRectangle box{};
    int border = 0;
    if (!windowGeometry(display_, window, box, border)) return XFixesCreateRegion(display_, nullptr, 0);  // gone
    const int insideX = box.x + border, insideY = box.y + border;
    std::vector<XRectangle> boxes;
    for (const Box& box : judge_->leftOut())
        boxes.push_back({short(box.x), short(box.y), static_cast<unsigned short>(box.width),
                         static_cast<unsigned short>(box.height)});
    for (Window other : mappedSinceJudgement_)
        if (other != window) boxes.push_back(windowGeometry(display_, other, box, border) ? box : everywhere);
    const XserverRegion area = XFixesCreateRegion(display_, boxes.data(), int(boxes.size()));
    const auto add = [&](XserverRegion region, int x, int y) {
        XFixesTranslateRegion(display_, region, x, y);
        XFixesUnionRegion(display_, area, area, region);
        XFixesTranslateRegion(display_, region, -x, -y);
    };
    for (const TopLevel& topLevel : topLevels_) {
        const PaintableWindow& source = topLevel.source;
        if (topLevel.covered != None) add(topLevel.covered, source.x, source.y);
        if (const XserverRegion residue = residues_.of(source.window); residue != None)
            add(residue, source.x + source.border, source.y + source.border);
    }
    XFixesTranslateRegion(display_, area, -insideX, -insideY);
    return area;
}

void Compositor::rebuildScene() {
    releaseScene();
    residuesKept_ = false;
    mappedSinceJudgement_.clear();
    std::vector<TopLevel> prepared;
    {
        ErrorTrap trap(*connection_);
        for (PaintableWindow& window : judge_->judge()) {
            prepared.push_back({std::move(window)});
            if (!prepare(prepared.back())) prepared.pop_back();
        }
        if (trap.failed()) {
            // A window went meanwhile: find out which, one by one. A window
            // that cannot be painted exactly as judged is not painted.
            for (TopLevel& topLevel : prepared) {
                release(topLevel);
                ErrorTrap own(*connection_);
                if (!prepare(topLevel) || own.failed()) release(topLevel);
            }
            std::erase_if(prepared, [](const TopLevel& topLevel) { return topLevel.picture == None; });
        }
    }
    topLevels_ = std::move(prepared);
}

bool Compositor::prepare(TopLevel& topLevel) {
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
            XRectangle box{short(cover.box.x), short(cover.box.y), static_cast<unsigned short>(cover.box.width),
                           static_cast<unsigned short>(cover.box.height)};
            const XserverRegion clip = XFixesCreateRegion(display_, &box, 1);
            XFixesIntersectRegion(display_, shape, shape, clip);
            XFixesUnionRegion(display_, topLevel.covered, topLevel.covered, shape);
            XFixesDestroyRegion(display_, clip);
            XFixesDestroyRegion(display_, shape);
        }
    }
    return true;
}

bool Compositor::isShaped(Window window) {
    Bool bounding = False, clip = False;
    int x = 0, y = 0, cx = 0, cy = 0;
    unsigned int width = 0, height = 0, cwidth = 0, cheight = 0;
    return XShapeQueryExtents(display_, window, &bounding, &x, &y, &width, &height, &clip, &cx, &cy,
                              &cwidth, &cheight) &&
           bounding;
}

// ---------------------------------------------------------------- painting
std::shared_ptr<const FramePixmap> Compositor::freePixmap() {
    for (const auto& slot : pool_)
        if (slot.use_count() == 1) return slot;
    return nullptr;
}

void Compositor::paintBackground(Picture target) {
    // Where an opaque window will be painted anyway, the desktop is not needed.
    const MonitorArea& area = settings_.area;
    Region visible = XCreateRegion();
    XRectangle whole{0, 0, static_cast<unsigned short>(area.width), static_cast<unsigned short>(area.height)};
    XUnionRectWithRegion(&whole, visible, visible);
    for (const TopLevel& topLevel : topLevels_) {
        if (!topLevel.opaque || topLevel.shape != None) continue;
        const PaintableWindow& source = topLevel.source;
        XRectangle covered{short(source.x - area.x), short(source.y - area.y),
                           static_cast<unsigned short>(source.width), static_cast<unsigned short>(source.height)};
        Region window = XCreateRegion();
        XUnionRectWithRegion(&covered, window, window);
        XSubtractRegion(visible, window, visible);
        XDestroyRegion(window);
    }
    if (!XEmptyRegion(visible)) background_->paint(target, visible);
    XDestroyRegion(visible);
}

void Compositor::paint(Picture target) {
    static constexpr XRenderColor black{0, 0, 0, 0xffff};
    paintBackground(target);
    for (const TopLevel& topLevel : topLevels_) {
        const PaintableWindow& source = topLevel.source;
        const int x = source.x - settings_.area.x;
        const int y = source.y - settings_.area.y;
        // Outside its shape a window's pixmap holds nothing to show.
        if (topLevel.shape != None)
            XFixesSetPictureClipRegion(display_, target, x + source.border, y + source.border, topLevel.shape);
        XRenderComposite(display_, topLevel.opaque ? PictOpSrc : PictOpOver, topLevel.picture, None, target, 0, 0,
                         0, 0, x, y, unsigned(source.width), unsigned(source.height));
        for (const auto& [region, offset] : {std::pair{topLevel.covered, 0},
                                             std::pair{residues_.of(source.window),
                                                       source.border}}) {
            if (region == None) continue;
            XFixesSetPictureClipRegion(display_, target, x + offset, y + offset, region);
            XRenderFillRectangle(display_, PictOpSrc, target, &black, x, y, unsigned(source.width),
                                 unsigned(source.height));
        }
        XFixesSetPictureClipRegion(display_, target, 0, 0, None);
    }
    if (settings_.showsCursor) cursor_.paint(target, pointerX_ - settings_.area.x, pointerY_ - settings_.area.y);
}

bool Compositor::paintFrame(const FramePixmap& slot) {
    ErrorTrap trap(*connection_);
    const Picture slotPicture = poolPictures_[slot.pixmap];
    if (scratchPicture_ != None) {
        paint(scratchPicture_);
        XRenderComposite(display_, PictOpSrc, scratchPicture_, None, slotPicture, 0, 0, 0, 0, 0, 0,
                         unsigned(settings_.width), unsigned(settings_.height));
    } else {
        paint(slotPicture);
    }
    // Waits until the picture is complete in the server, before anyone is told about it.
    return !trap.failed();
}

std::shared_ptr<CapturedFrame> Compositor::nextFrame() {
    drainEvents();
    if (settings_.showsCursor) pollPointer();
    if (connection_->broken() || !pictureChanged_) return nullptr;
    auto slot = freePixmap();
    if (!slot) return nullptr;
    if (settings_.showsCursor && cursorChanged_) {
        cursorChanged_ = false;
        cursor_.refresh();
    }

    // A window nested in a top-level window is painted as part of the
    // top-level's pixmap, so a private window mapped, moved or reparented
    // into a public one between the judgement and the paint would show.
    // Every such change is a structure event on a window selected during the
    // judgement, and the server sends it before its answer to the paint's
    // sync: a frame during which one arrived below the root is not handed
    // out, and is painted again from a new judgement. A server grab would close the same
    // gap but stall every other client of the desktop at up to 30 frames a
    // second; a discarded frame costs only this process.
    for (int attempt = 0; attempt < paintAttempts; ++attempt) {
        if (treeChanged_) {
            treeChanged_ = false;
            nestedChange_ = false;
            rebuildScene();
        }
        pictureChanged_ = false;
        const bool painted = paintFrame(*slot);
        drainEvents();
        if (connection_->broken()) return nullptr;
        if (painted && !nestedChange_) return std::make_shared<CapturedFrame>(std::move(slot), frameStatusComplete);
        // A failed paint may stem from a window that just went; judge afresh.
        treeChanged_ = true;
    }
    pictureChanged_ = true;  // the next tick tries again
    return nullptr;
}

}  // namespace velto::x11
