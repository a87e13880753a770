#pragma once
// The share window in Qt Widgets: a top-level window whose content is a
// native video surface painted with XRender, and a wrapping label over it.

// Qt first: Xlib's macros (None, Bool, Status, …) would clash with its names.
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include "CapturedFrame.h"
#include "SharePlatform.h"
#include "ShownSize.h"
#include "XConnection.h"

#include <X11/extensions/Xrender.h>

#include <deque>
#include <optional>

namespace velto::shareview::linux_platform {

// Draws the latest picture into one native window, fitted with its aspect
// ratio kept on black, from a connection of its own.
class FramePresenter final : public DisplayLayer {
public:
    FramePresenter(QWidget& surface, std::shared_ptr<x11::ShownSize> shownSize)
        : surface_(surface), shownSize_(std::move(shownSize)) {}
    ~FramePresenter() override;

    LayerStatus status() const override { return status_; }
    bool isReadyForMoreMediaData() const override { return true; }
    void enqueueSampleBuffer(const SampleBufferRef& buffer) override;
    void flushAndRemoveImage() override;

    // Paints the window again, e.g. after it was exposed or resized.
    void repaint() { present(false); }

private:
    // `followsPainted`: the frame on show is the successor of the one the
    // window shows, so only what changed between them needs copying.
    void present(bool followsPainted);
    // The frame on show gives way: its pixmap is kept until the server has
    // read it for the window.
    void retireShown();
    // Lets go of every frame the server has finished reading, without
    // waiting; a lost server fails the layer.
    void settle();
    bool ensureTarget();
    void paintBlack(int width, int height);
    void paintFrame(const x11::CapturedFrame& frame, x11::PixelSize window, bool changedOnly);

    QWidget& surface_;
    const std::shared_ptr<x11::ShownSize> shownSize_;
    std::unique_ptr<x11::XConnection> connection_;
    ::Window target_ = None;
    Picture targetPicture_ = None;
    std::shared_ptr<x11::CapturedFrame> shown_;
    // The capture paints into a pool pixmap again once no frame holds it, on
    // its own connection, which is not ordered with this one: a frame is
    // held until the server has answered a request made after the last
    // composite that read it. Asked without waiting: the answer is long in
    // by the next frame, so presenting never waits for the server.
    struct Reading {
        std::shared_ptr<x11::CapturedFrame> frame;
        unsigned int answer;  // the sequence number of the request answered after its last read
    };
    std::deque<Reading> stillRead_;
    std::optional<unsigned int> shownReadUntil_;  // the same for the frame on show
    // What the window shows: the frame's number (0: none) at the window's size.
    std::uint64_t paintedSequence_ = 0;
    x11::PixelSize paintedSize_;
    LayerStatus status_ = LayerStatus::unknown;
};

class VideoSurface final : public QWidget {
public:
    explicit VideoSurface(std::shared_ptr<x11::ShownSize> shownSize);
    FramePresenter& presenter() { return presenter_; }
    void placeLabel(QLabel* label, const LabelStyle& style);
    void layoutLabel();

protected:
    QPaintEngine* paintEngine() const override { return nullptr; }
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    FramePresenter presenter_;
    QPointer<QLabel> label_;
    LabelStyle labelStyle_;
};

class LinuxVideoView final : public VideoView {
public:
    explicit LinuxVideoView(std::shared_ptr<x11::ShownSize> shownSize);
    ~LinuxVideoView() override;
    DisplayLayer& video() override { return surface_->presenter(); }
    VideoSurface* surface() const { return surface_; }

private:
    QPointer<VideoSurface> surface_;
};

class LinuxLabel final : public Label {
public:
    explicit LinuxLabel(const std::string& text);
    ~LinuxLabel() override;
    void setText(const std::string& text) override;
    void setHidden(bool hidden) override;
    QLabel* widget() const { return label_; }

private:
    QPointer<QLabel> label_;
};

class ShareWidget final : public QWidget {
public:
    explicit ShareWidget(std::weak_ptr<WindowDelegate> delegate) : delegate_(std::move(delegate)) {}

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::weak_ptr<WindowDelegate> delegate_;
};

class LinuxWindow final : public Window {
public:
    LinuxWindow(const WindowConfiguration& configuration, std::weak_ptr<WindowDelegate> delegate);
    ~LinuxWindow() override;

    Rect contentBounds() const override;
    void setContentView(const std::shared_ptr<VideoView>& view) override;
    void addLabel(const std::shared_ptr<Label>& label, const LabelStyle& style) override;
    void center() override;
    void makeKeyAndOrderFront() override;

private:
    QPointer<ShareWidget> widget_;
    std::shared_ptr<LinuxVideoView> content_;
    std::shared_ptr<LinuxLabel> label_;
};

}  // namespace velto::shareview::linux_platform
