#pragma once
// How a frame is painted: into a small pool of server-side pictures of the
// size the share window shows, the monitor's pixels scaled once on their way
// in. Each picture is brought up to date by repainting only what changed on
// the screen since it was last painted: the desktop's background where no
// window is, the windows the scene lets through with what must not show of
// them in black, the pointer on top.

#include "CapturedFrame.h"
#include "CursorPicture.h"
#include "DesktopBackground.h"
#include "FrameGeometry.h"
#include "PaintedScene.h"
#include "ShareableContentX11.h"
#include "XConnection.h"

#include <X11/extensions/Xrender.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace velto::x11 {

class FramePainter {
public:
    // The caller selects PropertyChangeMask on the root for the background.
    FramePainter(XConnection& connection, MonitorArea area, int poolSize, bool showsCursor);
    FramePainter(const FramePainter&) = delete;
    FramePainter& operator=(const FramePainter&) = delete;

    // Frames of another size from now on: a new pool, painted anew.
    void resize(PixelSize size);
    PixelSize size() const { return size_; }

    // A change on the screen, in root coordinates.
    void damage(const Box& box);
    // Returns whether the property was the background's.
    bool propertyChanged(Atom property);
    void pointerAt(int x, int y);  // root coordinates
    // Returns whether the pointer's place came with the new image.
    bool cursorImageChanged();

    // Whether the screen changed since the last frame handed out.
    bool hasWork() const { return book_.changedSinceLastFrame(); }
    // Nothing while every picture is still on its way or on show.
    std::shared_ptr<const FramePixmap> freePicture();
    // Brings the picture up to date; false when the server refused a
    // request. Then either handOut() or discard().
    bool paint(const FramePixmap& picture, const PaintedScene& scene);
    // The picture goes out: what changed since the frame before it, in
    // frame coordinates.
    Area handOut();
    // The picture is not handed out: it has to be painted again.
    void discard();
    // The picture last handed out never reached the view.
    void resendLastChanges();

private:
    struct Slot {
        std::shared_ptr<FramePixmap> pixmap;
        Picture picture = None;
    };
    Slot makeSlot(int index);
    void freeRetired();
    void renderBackdrop();
    Box onMonitor(const Box& rootBox) const;
    // Draws `source`, whose pixels lie at `box` of the monitor, into the
    // frame: straight when frames have the monitor's size, else scaled.
    // `op` is PictOpSrc only for a source that is opaque throughout.
    void composite(Picture source, int op, const Box& box, Picture target);
    // `untrusted` is relative to the window's inside corner.
    void paintWindow(const TopLevel& topLevel, Region untrusted, Picture target);

    XConnection& connection_;
    ::Display* display_;
    const MonitorArea area_;
    const int poolSize_;
    const bool showsCursor_;
    PixelSize size_;
    FrameScale scale_;

    std::vector<Slot> pool_;
    std::vector<Slot> retired_;  // of an earlier size, freed once off show
    DamageBook book_;
    std::optional<DamageBook::Painting> painting_;
    Area lastHandedOut_;  // what the last frame changed, monitor coordinates
    DesktopBackground background_;
    Pixmap backdrop_ = None;  // the background at the frame's size
    Picture backdropPicture_ = None;

    CursorPicture cursor_;
    std::optional<Box> cursorBox_;  // monitor coordinates, where it is painted
    int pointerX_ = -1, pointerY_ = -1;
};

}  // namespace velto::x11
