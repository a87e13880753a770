#include "Compositor.h"

#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>

#include <algorithm>

namespace velto::x11 {
namespace {

constexpr int exclusionSearchDepth = 3;  // frame, client, and one level of wrappers

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
      settings_(std::move(settings)) {}

Compositor::~Compositor() {
    // Closing the connection frees every resource it made and ends the
    // redirection; pixmaps still on show live on through the view's pictures.
}

bool Compositor::setUp() {
    const Window root = connection_->root();
    int errorBase = 0;
    XDamageQueryExtension(display_, &damageEventBase_, &errorBase);
    XFixesQueryExtension(display_, &fixesEventBase_, &errorBase);

    XCompositeRedirectSubwindows(display_, root, CompositeRedirectAutomatic);
    XSelectInput(display_, root, SubstructureNotifyMask);
    if (settings_.showsCursor) XFixesSelectCursorInput(display_, root, XFixesDisplayCursorNotifyMask);

    int clientCount = 0;
    XResClient* clients = nullptr;
    if (XResQueryClients(display_, &clientCount, &clients) != 0 && clientCount > 0)
        clientMask_ = clients[0].resource_mask;
    if (clients != nullptr) XFree(clients);
    if (clientMask_ == 0) return false;

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
    if (!openBackdrop()) return false;
    XSync(display_, False);
    return !connection_->broken();
}

bool Compositor::openBackdrop() {
    backdropConnection_ = XConnection::open();
    if (!backdropConnection_) return false;
    ::Display* own = backdropConnection_->display();
    const MonitorArea& area = settings_.area;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixmap = ParentRelative;
    backdrop_ = XCreateWindow(own, DefaultRootWindow(own), area.x, area.y, unsigned(area.width),
                              unsigned(area.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                              CWOverrideRedirect | CWBackPixmap, &attributes);
    XCompositeRedirectWindow(own, backdrop_, CompositeRedirectManual);
    const XserverRegion nothing = XFixesCreateRegion(own, nullptr, 0);
    XFixesSetWindowShapeRegion(own, backdrop_, ShapeInput, 0, 0, nothing);
    XFixesDestroyRegion(own, nothing);
    XMapWindow(own, backdrop_);
    XLowerWindow(own, backdrop_);
    XSync(own, False);
    if (backdropConnection_->broken()) return false;

    XWindowAttributes backdropAttributes{};
    if (!XGetWindowAttributes(display_, backdrop_, &backdropAttributes)) return false;
    const Pixmap pixmap = XCompositeNameWindowPixmap(display_, backdrop_);
    backdropPicture_ = XRenderCreatePicture(
        display_, pixmap, XRenderFindVisualFormat(display_, backdropAttributes.visual), 0, nullptr);
    XFreePixmap(display_, pixmap);  // the picture keeps it
    return true;
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
        XDamageSubtract(display_, damage.damage, None, None);
        pictureChanged_ = true;
        return;
    }
    if (event.type == fixesEventBase_ + XFixesCursorNotify) {
        cursorChanged_ = true;
        pictureChanged_ = true;
        return;
    }
    if (!isStructureEvent(event.type)) return;
    treeChanged_ = true;
    pictureChanged_ = true;
    if (event.type == CreateNotify || event.type == DestroyNotify || event.type == ReparentNotify) {
        // A new window, or a client moved into a frame, or a client slot
        // handed to a new client: judge every window afresh.
        exclusionByWindow_.clear();
        exclusionByClient_.clear();
    }
    if (event.type == DestroyNotify) damages_.erase(event.xdestroywindow.window);
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
void Compositor::releaseTopLevels() {
    for (const TopLevel& topLevel : topLevels_) {
        if (topLevel.picture != None) XRenderFreePicture(display_, topLevel.picture);
        if (topLevel.pixmap != None) XFreePixmap(display_, topLevel.pixmap);
        if (topLevel.shape != None) XFixesDestroyRegion(display_, topLevel.shape);
    }
    topLevels_.clear();
}

void Compositor::rebuildTopLevels() {
    releaseTopLevels();
    std::map<Window, Damage> stillThere;
    for (Window window : childWindows(display_, connection_->root())) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display_, window, &attributes) == 0) continue;
        if (attributes.c_class == InputOnly || attributes.map_state != IsViewable) continue;
        TopLevel topLevel;
        topLevel.window = window;
        topLevel.x = attributes.x;
        topLevel.y = attributes.y;
        topLevel.width = attributes.width + 2 * attributes.border_width;
        topLevel.height = attributes.height + 2 * attributes.border_width;
        // A window manager may move a client from one frame into another: hear
        // about what happens inside each frame, not only on the root.
        XSelectInput(display_, window, SubstructureNotifyMask);
        if (isExcluded(window)) continue;

        XRenderPictFormat* format = XRenderFindVisualFormat(display_, attributes.visual);
        if (format == nullptr) continue;
        topLevel.pixmap = XCompositeNameWindowPixmap(display_, window);
        topLevel.picture = XRenderCreatePicture(display_, topLevel.pixmap, format, 0, nullptr);
        topLevel.opaque = !(format->type == PictTypeDirect && format->direct.alphaMask != 0);
        topLevel.border = attributes.border_width;
        if (isShaped(window))
            topLevel.shape = XFixesCreateRegionFromWindow(display_, window, WindowRegionBounding);
        topLevels_.push_back(topLevel);

        if (auto known = damages_.find(window); known != damages_.end()) {
            stillThere.insert(*known);
            damages_.erase(known);
        } else {
            stillThere[window] = XDamageCreate(display_, window, XDamageReportNonEmpty);
        }
    }
    // Windows that went away or became excluded: their changes no longer matter.
    for (const auto& [window, damage] : damages_) XDamageDestroy(display_, damage);
    damages_ = std::move(stillThere);
    // The root's background may have been replaced since; paint it afresh.
    XClearWindow(backdropConnection_->display(), backdrop_);
    XSync(backdropConnection_->display(), False);
}

bool Compositor::isShaped(Window window) {
    Bool bounding = False, clip = False;
    int x = 0, y = 0, cx = 0, cy = 0;
    unsigned int width = 0, height = 0, cwidth = 0, cheight = 0;
    return XShapeQueryExtents(display_, window, &bounding, &x, &y, &width, &height, &clip, &cx, &cy,
                              &cwidth, &cheight) &&
           bounding;
}

bool Compositor::isExcluded(Window topLevel) {
    if (auto known = exclusionByWindow_.find(topLevel); known != exclusionByWindow_.end())
        return known->second;
    // Under a reparenting window manager the excluded client's window sits
    // inside a frame owned by the manager: the whole frame is left out.
    bool excluded = false;
    std::vector<Window> level{topLevel};
    for (int depth = 0; depth <= exclusionSearchDepth && !excluded && !level.empty(); ++depth) {
        std::vector<Window> next;
        for (Window window : level) {
            if (ownedByExcludedClient(window)) {
                excluded = true;
                break;
            }
            if (depth < exclusionSearchDepth)
                for (Window child : childWindows(display_, window)) next.push_back(child);
        }
        level = std::move(next);
    }
    exclusionByWindow_[topLevel] = excluded;
    return excluded;
}

bool Compositor::ownedByExcludedClient(Window window) {
    const XID base = window & ~clientMask_;
    if (auto known = exclusionByClient_.find(base); known != exclusionByClient_.end())
        return known->second;
    bool excluded = std::any_of(settings_.excludedClients.begin(), settings_.excludedClients.end(),
                                [&](const ClientRange& client) { return client.owns(window); });
    // A connection the excluded program opened after the content was listed.
    if (!excluded) {
        const auto pid = serverKnownProcessID(display_, window);
        excluded = pid && settings_.excludedProcesses.count(*pid) > 0;
    }
    exclusionByClient_[base] = excluded;
    return excluded;
}

// ---------------------------------------------------------------- cursor
void Compositor::refreshCursor() {
    cursorChanged_ = false;
    XFixesCursorImage* image = XFixesGetCursorImage(display_);
    if (image == nullptr) return;
    if (cursorPicture_ != None) XRenderFreePicture(display_, cursorPicture_);
    cursorPicture_ = None;
    cursorWidth_ = image->width;
    cursorHeight_ = image->height;
    cursorHotX_ = image->xhot;
    cursorHotY_ = image->yhot;
    if (cursorWidth_ > 0 && cursorHeight_ > 0) {
        // XFixes hands out premultiplied ARGB in longs; the picture wants 32 bits.
        std::vector<std::uint32_t> pixels(std::size_t(cursorWidth_) * cursorHeight_);
        for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = std::uint32_t(image->pixels[i]);
        const Pixmap pixmap = XCreatePixmap(display_, connection_->root(), unsigned(cursorWidth_),
                                            unsigned(cursorHeight_), 32);
        XImage* upload = XCreateImage(display_, DefaultVisual(display_, DefaultScreen(display_)), 32,
                                      ZPixmap, 0, reinterpret_cast<char*>(pixels.data()),
                                      unsigned(cursorWidth_), unsigned(cursorHeight_), 32, 0);
        const GC gc = XCreateGC(display_, pixmap, 0, nullptr);
        XPutImage(display_, pixmap, gc, upload, 0, 0, 0, 0, unsigned(cursorWidth_),
                  unsigned(cursorHeight_));
        XFreeGC(display_, gc);
        upload->data = nullptr;  // owned by the vector
        XDestroyImage(upload);
        cursorPicture_ = XRenderCreatePicture(
            display_, pixmap, XRenderFindStandardFormat(display_, PictStandardARGB32), 0, nullptr);
        XFreePixmap(display_, pixmap);
    }
    XFree(image);
}

void Compositor::paintCursor(Picture target) {
    if (cursorPicture_ == None) return;
    const int x = pointerX_ - cursorHotX_ - settings_.area.x;
    const int y = pointerY_ - cursorHotY_ - settings_.area.y;
    XRenderComposite(display_, PictOpOver, cursorPicture_, None, target, 0, 0, 0, 0, x, y,
                     unsigned(cursorWidth_), unsigned(cursorHeight_));
}

// ---------------------------------------------------------------- painting
std::shared_ptr<const FramePixmap> Compositor::freePixmap() {
    for (const auto& slot : pool_)
        if (slot.use_count() == 1) return slot;
    return nullptr;
}

void Compositor::paintBackground(Picture target) {
    // Excluded windows are simply not painted, so the desktop shows where no
    // other window lies beneath them. Where an opaque window will be painted
    // anyway, the desktop is not needed.
    const MonitorArea& area = settings_.area;
    Region visible = XCreateRegion();
    XRectangle whole{0, 0, static_cast<unsigned short>(area.width), static_cast<unsigned short>(area.height)};
    XUnionRectWithRegion(&whole, visible, visible);
    for (const TopLevel& topLevel : topLevels_) {
        if (!topLevel.opaque || topLevel.shape != None) continue;
        XRectangle covered{short(topLevel.x - area.x), short(topLevel.y - area.y),
                           static_cast<unsigned short>(topLevel.width),
                           static_cast<unsigned short>(topLevel.height)};
        Region window = XCreateRegion();
        XUnionRectWithRegion(&covered, window, window);
        XSubtractRegion(visible, window, visible);
        XDestroyRegion(window);
    }
    if (!XEmptyRegion(visible)) {
        XRenderSetPictureClipRegion(display_, target, visible);
        XRenderComposite(display_, PictOpSrc, backdropPicture_, None, target, 0, 0, 0, 0, 0, 0,
                         unsigned(area.width), unsigned(area.height));
        XRenderPictureAttributes noClip{};
        noClip.clip_mask = None;
        XRenderChangePicture(display_, target, CPClipMask, &noClip);
    }
    XDestroyRegion(visible);
}

void Compositor::paint(Picture target) {
    paintBackground(target);
    for (const TopLevel& topLevel : topLevels_) {
        const int x = topLevel.x - settings_.area.x;
        const int y = topLevel.y - settings_.area.y;
        // Outside its shape a window's pixmap holds nothing to show.
        if (topLevel.shape != None)
            XFixesSetPictureClipRegion(display_, target, x + topLevel.border, y + topLevel.border,
                                       topLevel.shape);
        XRenderComposite(display_, topLevel.opaque ? PictOpSrc : PictOpOver, topLevel.picture, None,
                         target, 0, 0, 0, 0, x, y, unsigned(topLevel.width), unsigned(topLevel.height));
        if (topLevel.shape != None) XFixesSetPictureClipRegion(display_, target, 0, 0, None);
    }
    if (settings_.showsCursor) paintCursor(target);
}

std::shared_ptr<CapturedFrame> Compositor::nextFrame() {
    drainEvents();
    if (settings_.showsCursor) pollPointer();
    if (connection_->broken() || !pictureChanged_) return nullptr;
    auto slot = freePixmap();
    if (!slot) return nullptr;

    if (treeChanged_) {
        rebuildTopLevels();
        treeChanged_ = false;
    }
    if (settings_.showsCursor && cursorChanged_) refreshCursor();
    pictureChanged_ = false;

    const Picture slotPicture = poolPictures_[slot->pixmap];
    if (scratchPicture_ != None) {
        paint(scratchPicture_);
        XRenderComposite(display_, PictOpSrc, scratchPicture_, None, slotPicture, 0, 0, 0, 0, 0, 0,
                         unsigned(settings_.width), unsigned(settings_.height));
    } else {
        paint(slotPicture);
    }
    // The picture is complete in the server before anyone is told about it.
    XSync(display_, False);
    if (connection_->broken()) return nullptr;
    return std::make_shared<CapturedFrame>(std::move(slot), frameStatusComplete);
}

}  // namespace velto::x11
