#include "Compositor.h"

#include <X11/extensions/XInput2.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>

namespace velto::x11 {
namespace {

// How often one call paints again when the tree changed while it painted.
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
    : connection_(std::move(connection)), display_(connection_->display()), settings_(std::move(settings)) {}

Compositor::~Compositor() {
    // Both go before the connection they use; closing the connection frees
    // every resource it made and ends the redirection. Pixmaps still on show
    // live on through the view's pictures.
    painter_.reset();
    scene_.reset();
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
    if (settings_.showsCursor) {
        XFixesSelectCursorInput(display_, root, XFixesDisplayCursorNotifyMask);
        // Raw motion reaches the root whoever holds a grab (from XInput 2.1
        // on), so the pointer is read only when it moved.
        int event = 0, error = 0, major = 2, minor = 2;
        if (XQueryExtension(display_, "XInputExtension", &inputOpcode_, &event, &error) &&
            XIQueryVersion(display_, &major, &minor) == Success) {
            unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
            XISetMask(bits, XI_RawMotion);
            XIEventMask mask{XIAllMasterDevices, int(sizeof bits), bits};
            rawMotionHeard_ = XISelectEvents(display_, root, &mask, 1) == Success;
        }
    }
    if (trap.failed()) return false;
    scene_ = std::make_unique<PaintedScene>(*connection_, settings_.rule, clientMask);
    painter_ = std::make_unique<FramePainter>(*connection_, settings_.area, settings_.poolSize, settings_.showsCursor);
    return !connection_->broken();
}

// ---------------------------------------------------------------- events
void Compositor::drainEvents() {
    handleQueuedEvents();
    if (connection_->broken() || !scene_->hasRepaintsToAsk()) return;
    // Once per drain: what the requests' round trips brought in may ask for
    // more, which waits for the next look (changePending says so).
    scene_->askRepaints();
    handleQueuedEvents();
}

void Compositor::handleQueuedEvents() {
    while (!connection_->broken() && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        handleEvent(event);
    }
}

void Compositor::handleEvent(const XEvent& event) {
    if (event.type == damageEventBase_ + XDamageNotify) {
        const auto& damage = reinterpret_cast<const XDamageNotifyEvent&>(event);
        if (const auto box = scene_->painted(damage)) painter_->damage(*box);
        XDamageSubtract(display_, damage.damage, None, None);
        return;
    }
    if (event.type == fixesEventBase_ + XFixesCursorNotify) {
        // The image's answer places the pointer after every motion already
        // read: no further question about where it is.
        if (painter_->cursorImageChanged()) pointerMoved_ = false;
        return;
    }
    if (event.type == GenericEvent && event.xcookie.extension == inputOpcode_) {
        pointerMoved_ = true;
        return;
    }
    if (event.type == PropertyNotify) {
        if (event.xproperty.window == connection_->root() && painter_->propertyChanged(event.xproperty.atom)) return;
        scene_->observeProperty(event.xproperty);
        return;
    }
    const bool shapeChanged = event.type == shapeEventBase_ + ShapeNotify;
    if (isStructureEvent(event.type) || shapeChanged) scene_->observe(event, shapeChanged);
}

void Compositor::readPointer() {
    Window rootReturn = None, child = None;
    int x = 0, y = 0, windowX = 0, windowY = 0;
    unsigned int mask = 0;
    if (XQueryPointer(display_, connection_->root(), &rootReturn, &child, &x, &y, &windowX, &windowY, &mask))
        painter_->pointerAt(x, y);
}

// ---------------------------------------------------------------- frames
bool Compositor::changePending() const {
    return scene_->stale() || scene_->hasRepaintsToAsk() || painter_->hasWork() ||
           (pointerMoved_ && settings_.showsCursor);
}

std::shared_ptr<CapturedFrame> Compositor::nextFrame(PixelSize shown) {
    drainEvents();
    painter_->resize(frameSizeFor({settings_.area.width, settings_.area.height},
                                  {settings_.width, settings_.height}, shown));
    // Raw motion says when a device moved the pointer. A program that warps
    // it makes none: the pointer is drawn there at the next device motion.
    if (settings_.showsCursor && (pointerMoved_ || !rawMotionHeard_)) {
        pointerMoved_ = false;
        readPointer();
        drainEvents();  // what the round trip brought in
    }
    if (connection_->broken() || (!scene_->stale() && !painter_->hasWork())) return nullptr;
    auto picture = painter_->freePicture();
    if (!picture) return nullptr;

    // A window nested in a top-level window is painted as part of the
    // top-level's pixmap, so a private window mapped, moved or reparented
    // into a public one between the judgement and the paint would show.
    // Every such change is a structure event on a window selected during the
    // judgement, and the server sends it before its answer to the paint's
    // sync: a frame during which one arrived below the root is not handed
    // out, and is painted again from a new judgement. A server grab would
    // close the same gap but stall every other client of the desktop at up
    // to 30 frames a second; a discarded frame costs only this process. The
    // picture keeps what it missed until it is handed out, so the next
    // attempt repaints at least what this one painted.
    for (int attempt = 0; attempt < paintAttempts; ++attempt) {
        if (scene_->stale()) {
            for (const Box& box : scene_->rejudge().boxes) painter_->damage(box);
            // Windows left out moved, or nothing changed that shows.
            if (!painter_->hasWork()) return nullptr;
        }
        const bool painted = painter_->paint(*picture, *scene_);
        drainEvents();
        if (connection_->broken()) return nullptr;
        if (painted && !scene_->changedWithin()) {
            Area changed = painter_->handOut();
            return std::make_shared<CapturedFrame>(std::move(picture), frameStatusComplete, ++framesHandedOut_,
                                                   std::move(changed));
        }
        painter_->discard();
        // A failed paint may stem from a window that just went; judge afresh.
        scene_->markStale();
    }
    return nullptr;  // still pending: the next call tries again
}

}  // namespace velto::x11
