#pragma once

#include "CapturedFrame.h"
#include "CursorPicture.h"
#include "DesktopBackground.h"
#include "ExclusionJudge.h"
#include "Residues.h"
#include "ShareableContentX11.h"
#include "XConnection.h"

#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrender.h>

#include <map>
#include <set>
#include <vector>

namespace velto::x11 {

// Paints one monitor's area into server-side pictures on a connection of its
// own: the desktop's background, every window the judge lets through (with
// what must not show of it covered in black), the pointer, scaled down when
// the frames are smaller than the monitor. One thread at a time.
class Compositor {
public:
    struct Settings {
        MonitorArea area;
        int width = 0;   // of the pictures handed out
        int height = 0;
        int poolSize = 3;
        bool showsCursor = true;
        shareview::ExclusionRule rule;
    };

    // Nothing, and a reason, when the display or its extensions are missing.
    static std::unique_ptr<Compositor> open(Settings settings, std::string& reason);
    ~Compositor();

    bool broken() const { return connection_->broken(); }
    // Reads what happened on the screen since the last call and, when the
    // picture changed and a pixmap of the pool is free, paints a new one.
    // Nothing when the screen did not change (an idle tick costs a round trip).
    std::shared_ptr<CapturedFrame> nextFrame();

private:
    struct TopLevel {
        PaintableWindow source;
        Pixmap pixmap = None;
        Picture picture = None;
        bool opaque = true;
        // The bounding shape of a non-rectangular window, relative to the
        // window's inside corner (the border lies at negative coordinates).
        XserverRegion shape = None;
        // What is painted over in black, relative to the outer corner.
        XserverRegion covered = None;
    };

    Compositor(std::unique_ptr<XConnection> connection, Settings settings);
    bool setUp();
    void drainEvents();
    void handleEvent(const XEvent& event);
    void pollPointer();
    void keepResidues();
    // Where other programs' windows could show beneath `window` when it
    // mapped, relative to its inside corner.
    XserverRegion privateAreaBeneath(Window window);
    void rebuildScene();
    // Names the pixmap and makes the pictures and regions, unchecked; false
    // when the window's visual has no picture format.
    bool prepare(TopLevel& topLevel);
    void release(TopLevel& topLevel);
    void releaseScene();
    bool isShaped(Window window);
    std::shared_ptr<const FramePixmap> freePixmap();
    bool paintFrame(const FramePixmap& slot);
    void paint(Picture target);
    void paintBackground(Picture target);

    std::unique_ptr<XConnection> connection_;
    ::Display* display_;
    const Settings settings_;
    int damageEventBase_ = 0;
    int fixesEventBase_ = 0;
    int shapeEventBase_ = 0;

    std::vector<std::shared_ptr<FramePixmap>> pool_;
    std::map<Pixmap, Picture> poolPictures_;
    Pixmap scratch_ = None;        // monitor-sized, when the frames are scaled down
    Picture scratchPicture_ = None;

    std::unique_ptr<ExclusionJudge> judge_;
    std::unique_ptr<DesktopBackground> background_;
    std::vector<TopLevel> topLevels_;     // bottom to top, painted
    Residues residues_;
    std::set<Window> mappedSinceJudgement_;  // top-levels the last judgement did not know

    CursorPicture cursor_;
    int pointerX_ = -1, pointerY_ = -1;

    bool treeChanged_ = true;
    bool nestedChange_ = false;  // since the last judgement, below the root
    bool residuesKept_ = false;  // the last judged scene's covers, since its judgement
    bool pictureChanged_ = true;
    bool cursorChanged_ = true;
};

}  // namespace velto::x11
