// Qt before Xlib, whose macros would clash with its names.
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "ShareWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <cstdlib>

#include <algorithm>
#include <vector>

namespace velto::shareview::linux_platform {

// ---------------------------------------------------------------- presenter
FramePresenter::~FramePresenter() {
    if (!connection_ || connection_->broken()) return;
    if (targetPicture_ != None) XRenderFreePicture(connection_->display(), targetPicture_);
    // Answers nobody will ask for would stay queued in the connection.
    xcb_connection_t* xcb = XGetXCBConnection(connection_->display());
    for (const Reading& reading : stillRead_) xcb_discard_reply(xcb, reading.answer);
    if (shownReadUntil_) xcb_discard_reply(xcb, *shownReadUntil_);
}

void FramePresenter::enqueueSampleBuffer(const SampleBufferRef& buffer) {
    auto frame = std::dynamic_pointer_cast<x11::CapturedFrame>(buffer);
    if (!frame || !frame->isValid()) return;
    retireShown();
    shown_ = std::move(frame);
    present(paintedSequence_ != 0 && shown_->sequence() == paintedSequence_ + 1);
}

void FramePresenter::flushAndRemoveImage() {
    retireShown();
    repaint();
}

void FramePresenter::retireShown() {
    if (shown_ && shownReadUntil_) stillRead_.push_back({std::move(shown_), *shownReadUntil_});
    shown_.reset();
    shownReadUntil_.reset();
}

void FramePresenter::settle() {
    if (!connection_) return;
    // Nothing else reads this connection: a server gone since the last
    // frame is noticed here, through Xlib, before any request is written
    // to it (Xlib fails badly on a write to a lost server).
    XEventsQueued(connection_->display(), QueuedAfterReading);
    xcb_connection_t* xcb = XGetXCBConnection(connection_->display());
    if (connection_->broken() || xcb_connection_has_error(xcb) != 0) {
        stillRead_.clear();
        shownReadUntil_.reset();
        status_ = LayerStatus::failed;
        return;
    }
    while (!stillRead_.empty()) {
        void* answer = nullptr;
        xcb_generic_error_t* error = nullptr;
        const unsigned int request = stillRead_.front().answer;
        if (xcb_poll_for_reply(xcb, request, &answer, &error) == 0) {
            // The pool holds three pictures: the frame on show and one still
            // being read leave the capture one to paint into. Holding a
            // second one would leave it none, and no next frame would come
            // to let either go: on a server that far behind, wait for it.
            if (stillRead_.size() < 2) return;
            answer = xcb_wait_for_reply(xcb, request, &error);
        }
        std::free(answer);
        std::free(error);
        stillRead_.pop_front();
    }
}

bool FramePresenter::ensureTarget() {
    if (status_ == LayerStatus::failed) return false;
    if (!connection_) connection_ = x11::XConnection::open();
    if (!connection_ || connection_->broken()) {
        status_ = LayerStatus::failed;
        return false;
    }
    if (!surface_.isVisible()) return false;
    const auto window = static_cast<::Window>(surface_.winId());
    if (window == target_ && targetPicture_ != None) return true;
    ::Display* display = connection_->display();
    if (targetPicture_ != None) XRenderFreePicture(display, targetPicture_);
    targetPicture_ = None;
    paintedSequence_ = 0;
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0) return false;
    XRenderPictFormat* format = XRenderFindVisualFormat(display, attributes.visual);
    if (format == nullptr) return false;
    target_ = window;
    targetPicture_ = XRenderCreatePicture(display, window, format, 0, nullptr);
    return true;
}

void FramePresenter::present(bool followsPainted) {
    const QSize pixels = surface_.size() * surface_.devicePixelRatio();
    const x11::PixelSize size{pixels.width(), pixels.height()};
    // The capture paints its frames at the size they are shown at.
    if (shownSize_) shownSize_->set(size);
    settle();
    if (!ensureTarget()) return;
    if (shown_) {
        paintFrame(*shown_, size, followsPainted && size == paintedSize_);
        paintedSequence_ = shown_->sequence();
    } else {
        paintBlack(size.width, size.height);
        paintedSequence_ = 0;
    }
    paintedSize_ = size;
    if (shown_) {
        xcb_connection_t* xcb = XGetXCBConnection(connection_->display());
        // Xlib hands over its own requests first, so this one follows the composite.
        const unsigned int answer = xcb_get_input_focus(xcb).sequence;
        if (shownReadUntil_) xcb_discard_reply(xcb, *shownReadUntil_);
        shownReadUntil_ = answer;
        xcb_flush(xcb);
    } else {
        XFlush(connection_->display());
    }
    if (connection_->broken() || xcb_connection_has_error(XGetXCBConnection(connection_->display())) != 0)
        status_ = LayerStatus::failed;
    else
        status_ = LayerStatus::rendering;
}

void FramePresenter::paintBlack(int width, int height) {
    const XRenderColor black{0, 0, 0, 0xffff};
    XRenderFillRectangle(connection_->display(), PictOpSrc, targetPicture_, &black, 0, 0,
                         static_cast<unsigned>(width), static_cast<unsigned>(height));
}

void FramePresenter::paintFrame(const x11::CapturedFrame& frame, x11::PixelSize window, bool changedOnly) {
    ::Display* display = connection_->display();
    const x11::FramePixmap& pixmap = *frame.pixmap();
    const x11::Placement place = x11::placeFrame({pixmap.width, pixmap.height}, window);
    if (place.width <= 0 || place.height <= 0) return;
    // Frames come at the window's size: only a resize in flight scales.
    changedOnly = changedOnly && !place.scaled && !frame.changed().everything;
    if (changedOnly) {
        std::vector<XRectangle> rectangles;
        for (const x11::Box& box : frame.changed().boxes)
            rectangles.push_back(x11::rectangleOf(box));
        if (rectangles.empty()) return;
        XRenderSetPictureClipRectangles(display, targetPicture_, place.left, place.top, rectangles.data(),
                                        int(rectangles.size()));
    } else {
        const XRenderColor black{0, 0, 0, 0xffff};
        const int right = place.left + place.width, bottom = place.top + place.height;
        const XRectangle bars[] = {
            {0, 0, static_cast<unsigned short>(window.width), static_cast<unsigned short>(place.top)},
            {0, static_cast<short>(bottom), static_cast<unsigned short>(window.width),
             static_cast<unsigned short>(window.height - bottom)},
            {0, static_cast<short>(place.top), static_cast<unsigned short>(place.left),
             static_cast<unsigned short>(place.height)},
            {static_cast<short>(right), static_cast<short>(place.top),
             static_cast<unsigned short>(window.width - right), static_cast<unsigned short>(place.height)},
        };
        XRenderFillRectangles(display, PictOpSrc, targetPicture_, &black, bars, 4);
    }

    XRenderPictFormat* format = XRenderFindStandardFormat(display, PictStandardRGB24);
    const Picture source = XRenderCreatePicture(display, pixmap.pixmap, format, 0, nullptr);
    if (place.scaled) {
        XTransform transform{{{XDoubleToFixed(double(pixmap.width) / place.width), 0, 0},
                              {0, XDoubleToFixed(double(pixmap.height) / place.height), 0},
                              {0, 0, XDoubleToFixed(1.0)}}};
        XRenderSetPictureTransform(display, source, &transform);
        XRenderSetPictureFilter(display, source, FilterBilinear, nullptr, 0);
    }
    XRenderComposite(display, PictOpSrc, source, None, targetPicture_, 0, 0, 0, 0, place.left, place.top,
                     static_cast<unsigned>(place.width), static_cast<unsigned>(place.height));
    XRenderFreePicture(display, source);
    if (changedOnly) {
        XRenderPictureAttributes noClip{};
        noClip.clip_mask = None;
        XRenderChangePicture(display, targetPicture_, CPClipMask, &noClip);
    }
}

// ---------------------------------------------------------------- surface
VideoSurface::VideoSurface(std::shared_ptr<x11::ShownSize> shownSize) : presenter_(*this, std::move(shownSize)) {
    // A native window that Qt never paints: the presenter draws into it.
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void VideoSurface::paintEvent(QPaintEvent*) { presenter_.repaint(); }

void VideoSurface::resizeEvent(QResizeEvent*) {
    layoutLabel();
    presenter_.repaint();
}

void VideoSurface::placeLabel(QLabel* label, const LabelStyle& style) {
    label_ = label;
    labelStyle_ = style;
    label->setParent(this);
    QFont font = label->font();
    font.setPointSizeF(style.fontSize);
    font.setWeight(QFont::Medium);
    label->setFont(font);
    layoutLabel();
}

// The label's own size: as wide as its longest line needs, at most the
// allowed fraction of the view, and as tall as the wrapped text.
void VideoSurface::layoutLabel() {
    if (!label_) return;
    const int maxWidth = std::max(1, int(width() * labelStyle_.maxWidthFraction));
    const QFontMetrics metrics(label_->font());
    int natural = 0;
    for (const QString& line : label_->text().split('\n'))
        natural = std::max(natural, metrics.horizontalAdvance(line));
    const int margins = 2 * label_->margin() + 2;
    const int labelWidth = std::min(natural + margins, maxWidth);
    const int labelHeight = label_->heightForWidth(labelWidth);
    label_->setGeometry((width() - labelWidth) / 2, (height() - labelHeight) / 2, labelWidth,
                        labelHeight);
}

// ---------------------------------------------------------------- view
LinuxVideoView::LinuxVideoView(std::shared_ptr<x11::ShownSize> shownSize)
    : surface_(new VideoSurface(std::move(shownSize))) {}

LinuxVideoView::~LinuxVideoView() {
    if (surface_ && surface_->parent() == nullptr) surface_->deleteLater();
}

// ---------------------------------------------------------------- label
LinuxLabel::LinuxLabel(const std::string& text) : label_(new QLabel) {
    label_->setText(QString::fromStdString(text));
    label_->setWordWrap(true);
    label_->setAlignment(Qt::AlignCenter);
    // The label sits in a native window of its own above the video surface;
    // it is shown only while the picture is blank, so a black ground matches.
    label_->setAttribute(Qt::WA_NativeWindow);
    label_->setAutoFillBackground(true);
    QPalette palette = label_->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    label_->setPalette(palette);
}

LinuxLabel::~LinuxLabel() {
    if (label_ && label_->parent() == nullptr) label_->deleteLater();
}

void LinuxLabel::setText(const std::string& text) {
    if (!label_) return;
    label_->setText(QString::fromStdString(text));
    // The new text may need another width.
    if (auto* surface = dynamic_cast<VideoSurface*>(label_->parentWidget())) surface->layoutLabel();
}

void LinuxLabel::setHidden(bool hidden) {
    if (label_) label_->setHidden(hidden);
}

// ---------------------------------------------------------------- window
void ShareWidget::closeEvent(QCloseEvent* event) {
    // The window object outlives its closing; the delegate decides what follows.
    event->accept();
    if (auto delegate = delegate_.lock()) delegate->windowWillClose();
}

LinuxWindow::LinuxWindow(const WindowConfiguration& configuration,
                         std::weak_ptr<WindowDelegate> delegate)
    : widget_(new ShareWidget(std::move(delegate))) {
    widget_->setWindowTitle(QString::fromStdString(configuration.title));
    widget_->resize(int(configuration.contentRect.width), int(configuration.contentRect.height));
    widget_->move(int(configuration.contentRect.x), int(configuration.contentRect.y));
    widget_->setMinimumSize(int(configuration.minSize.width), int(configuration.minSize.height));
    // Every X window can be read by other clients: the read-only sharing
    // type needs nothing here.
}

LinuxWindow::~LinuxWindow() {
    if (widget_) widget_->deleteLater();
}

Rect LinuxWindow::contentBounds() const {
    if (!widget_) return {};
    return {0, 0, double(widget_->width()), double(widget_->height())};
}

void LinuxWindow::setContentView(const std::shared_ptr<VideoView>& view) {
    auto content = std::dynamic_pointer_cast<LinuxVideoView>(view);
    if (!widget_ || !content || !content->surface()) return;
    content_ = content;
    VideoSurface* surface = content->surface();
    // The content view fills the window and follows its size.
    auto* layout = new QVBoxLayout(widget_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(surface);
}

void LinuxWindow::addLabel(const std::shared_ptr<Label>& label, const LabelStyle& style) {
    auto linuxLabel = std::dynamic_pointer_cast<LinuxLabel>(label);
    if (!content_ || !linuxLabel || !linuxLabel->widget()) return;
    label_ = linuxLabel;
    content_->surface()->placeLabel(linuxLabel->widget(), style);
}

void LinuxWindow::center() {
    if (!widget_) return;
    const QScreen* screen = widget_->screen() ? widget_->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->availableGeometry();
    widget_->move(area.center() - QPoint(widget_->width() / 2, widget_->height() / 2));
}

namespace {

// Qt gives its windows no background, and a window without one starts out
// with what the screen showed beneath it (a compositing manager copies it in):
// possibly a private window, which the meeting program would capture before
// the first picture. Black from the moment the windows exist instead.
void startBlack(::Display* display, const std::vector<WId>& windows) {
    for (const WId window : windows)
        XSetWindowBackground(display, static_cast<::Window>(window), BlackPixel(display, DefaultScreen(display)));
}

// A window manager unmaps the windows of the workspaces not on show, and an
// unmapped window has no pixels for any capturer: the meeting would keep the
// last picture of the old workspace. On every workspace the window goes on
// mirroring the display as the presenter sees it now. The desktop number is
// the standard's request, the sticky state what some managers read instead;
// both must be on the window before its first map, when the manager reads them.
void askForEveryWorkspace(::Display* display, ::Window window) {
    const long allWorkspaces = 0xFFFFFFFF;
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_DESKTOP", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&allWorkspaces), 1);
    // Appended: Qt merges its own states into what it finds when it maps.
    const long sticky = long(XInternAtom(display, "_NET_WM_STATE_STICKY", False));
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeAppend,
                    reinterpret_cast<const unsigned char*>(&sticky), 1);
}

}  // namespace

void LinuxWindow::makeKeyAndOrderFront() {
    if (!widget_) return;
    // Native windows are made here, before the first map.
    std::vector<WId> windows{widget_->winId()};
    if (content_ && content_->surface()) windows.push_back(content_->surface()->winId());
    if (label_ && label_->widget()) windows.push_back(label_->widget()->winId());
    if (const auto connection = x11::XConnection::open()) {
        ::Display* display = connection->display();
        startBlack(display, windows);
        askForEveryWorkspace(display, static_cast<::Window>(widget_->winId()));
        // Qt maps from a connection of its own: these must reach the server first.
        XSync(display, False);
    }
    widget_->show();
    widget_->raise();
    widget_->activateWindow();
}

}  // namespace velto::shareview::linux_platform
