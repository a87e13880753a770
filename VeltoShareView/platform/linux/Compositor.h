#pragma once

#include "CapturedFrame.h"
#include "FramePainter.h"
#include "PaintedScene.h"
#include "ShareableContentX11.h"
#include "XConnection.h"

#include <memory>
#include <string>

namespace velto::x11 {

// The capture's own connection: reads what happens on the screen and, when
// the picture changed, has a frame painted from a scene judged current at
// the moment of painting. One thread at a time.
class Compositor {
public:
    struct Settings {
        MonitorArea area;
        int width = 0;   // the largest frames handed out
        int height = 0;
        int poolSize = 3;
        bool showsCursor = true;
        shareview::ExclusionRule rule;
    };

    // Nothing, and a reason, when the display or its extensions are missing.
    static std::unique_ptr<Compositor> open(Settings settings, std::string& reason);
    ~Compositor();

    bool broken() const { return connection_->broken(); }
    // What to wait on for news from the screen. Events already read are
    // never left waiting: every call below ends having handled them all.
    int connectionNumber() const { return ConnectionNumber(display_); }
    // Handles every event already sent, without waiting for more.
    void readEvents() { drainEvents(); }
    // Without pointer motion events the pointer has to be looked at now and then.
    bool hearsPointerMotion() const { return rawMotionHeard_; }

    // Handles what happened on the screen and, when the picture changed and
    // a picture of the pool is free, paints one of the size that fits
    // `shown` (the share window's size in pixels; empty when not known).
    std::shared_ptr<CapturedFrame> nextFrame(PixelSize shown);
    // A change was seen that no frame shows yet.
    bool changePending() const;
    // The last frame was dropped on its way to the view: what it changed is
    // to be handed out again.
    void frameNotTaken() { painter_->resendLastChanges(); }

private:
    Compositor(std::unique_ptr<XConnection> connection, Settings settings);
    bool setUp();
    void drainEvents();
    void handleQueuedEvents();
    void handleEvent(const XEvent& event);
    void readPointer();

    std::unique_ptr<XConnection> connection_;
    ::Display* display_;
    const Settings settings_;
    int damageEventBase_ = 0;
    int fixesEventBase_ = 0;
    int shapeEventBase_ = 0;
    int inputOpcode_ = -1;
    bool rawMotionHeard_ = false;

    std::unique_ptr<PaintedScene> scene_;
    std::unique_ptr<FramePainter> painter_;
    bool pointerMoved_ = true;
    std::uint64_t framesHandedOut_ = 0;
};

}  // namespace velto::x11
