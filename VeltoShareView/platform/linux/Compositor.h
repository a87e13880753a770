#pragma once

#include "CapturedFrame.h"
#include "ShareableContentX11.h"
#include "XConnection.h"

#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrender.h>

#include <map>
#include <set>
#include <vector>

namespace velto::x11 {

// Paints one monitor's area, minus the excluded clients' windows, into
// server-side pictures on a connection of its own. One thread at a time.
class Compositor {
public:
    struct Settings {
        MonitorArea area;
        int width = 0;   // of the pictures handed out
        int height = 0;
        int poolSize = 3;
        bool showsCursor = true;
        std::set<pid_t> excludedProcesses;
        std::vector<ClientRange> excludedClients;
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
        Window window = None;
        int x = 0, y = 0, width = 0, height = 0;
        Pixmap pixmap = None;
        Picture picture = None;
        bool opaque = true;
        // The bounding shape of a non-rectangular window, relative to the
        // window's inside corner (the border lies at negative coordinates).
        XserverRegion shape = None;
        int border = 0;
    };

    Compositor(std::unique_ptr<XConnection> connection, Settings settings);
    bool setUp();
    void drainEvents();
    void handleEvent(const XEvent& event);
    void pollPointer();
    void rebuildTopLevels();
    void releaseTopLevels();
    bool isShaped(Window window);
    bool isExcluded(Window topLevel);
    bool ownedByExcludedClient(Window window);
    void watchDamage(Window window);
    void refreshCursor();
    std::shared_ptr<const FramePixmap> freePixmap();
    void paint(Picture target);
    bool openBackdrop();
    void paintBackground(Picture target);
    void paintCursor(Picture target);

    std::unique_ptr<XConnection> connection_;
    ::Display* display_;
    const Settings settings_;
    int damageEventBase_ = 0;
    int fixesEventBase_ = 0;

    std::vector<std::shared_ptr<FramePixmap>> pool_;
    std::map<Pixmap, Picture> poolPictures_;
    Pixmap scratch_ = None;        // monitor-sized, when the frames are scaled down
    Picture scratchPicture_ = None;
    // The desktop's own background, from a window of the monitor's size whose
    // background is the root's (ParentRelative). Another connection redirects
    // it manually, so the server never shows it and it hides nothing; empty
    // input shape, so it takes no clicks.
    std::unique_ptr<XConnection> backdropConnection_;
    Window backdrop_ = None;
    Picture backdropPicture_ = None;

    std::vector<TopLevel> topLevels_;     // bottom to top, mapped, not excluded
    std::map<Window, Damage> damages_;
    std::map<Window, bool> exclusionByWindow_;
    std::map<XID, bool> exclusionByClient_;
    XID clientMask_ = 0;

    Picture cursorPicture_ = None;
    int cursorWidth_ = 0, cursorHeight_ = 0, cursorHotX_ = 0, cursorHotY_ = 0;
    int pointerX_ = -1, pointerY_ = -1;

    bool treeChanged_ = true;
    bool pictureChanged_ = true;
    bool cursorChanged_ = true;
};

}  // namespace velto::x11
