// The share window, its label and the video view on AppKit and AVFoundation.

#import <AVFoundation/AVFoundation.h>

#include "MacShareSupport.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

using namespace velto::shareview;
using namespace velto::shareview::macos;

// The window's content: a black layer-backed view whose one sublayer shows the
// queued samples fitted with their aspect ratio kept.
@interface VeltoVideoView : NSView
@property(nonatomic, readonly) AVSampleBufferDisplayLayer* video;
@end

@implementation VeltoVideoView

- (instancetype)initWithFrame:(NSRect)frame {
    AVSampleBufferDisplayLayer* video = [[AVSampleBufferDisplayLayer alloc] init];
    self = [super initWithFrame:frame];
    if (!self) return nil;
    _video = video;
    self.wantsLayer = YES;
    if (self.layer) self.layer.backgroundColor = [NSColor blackColor].CGColor;
    _video.videoGravity = AVLayerVideoGravityResizeAspect;
    if (self.layer) [self.layer addSublayer:_video];
    return self;
}

// Only ever made in code.
- (instancetype)initWithCoder:(NSCoder*)coder {
    std::fputs("init(coder:) is unavailable\n", stderr);
    std::abort();
}

- (void)layout {
    [super layout];
    _video.frame = self.bounds;
}

@end

// Forwards the window's closing to the core's delegate while it exists.
@interface VeltoWindowDelegate : NSObject <NSWindowDelegate>
- (instancetype)initWithDelegate:(std::weak_ptr<WindowDelegate>)delegate;
@end

@implementation VeltoWindowDelegate {
    std::weak_ptr<WindowDelegate> _delegate;
}

- (instancetype)initWithDelegate:(std::weak_ptr<WindowDelegate>)delegate {
    self = [super init];
    if (self) _delegate = std::move(delegate);
    return self;
}

- (void)windowWillClose:(NSNotification*)notification {
    if (auto delegate = _delegate.lock()) delegate->windowWillClose();
}

@end

namespace velto::shareview::macos {

namespace {

class MacDisplayLayer final : public DisplayLayer {
public:
    explicit MacDisplayLayer(AVSampleBufferDisplayLayer* layer) : layer_(layer) {}

    LayerStatus status() const override { return static_cast<LayerStatus>(layer_.status); }

    bool isReadyForMoreMediaData() const override { return layer_.readyForMoreMediaData; }

    void enqueueSampleBuffer(const SampleBufferRef& buffer) override {
        if (const auto* sample = dynamic_cast<const MacSampleBuffer*>(buffer.get()))
            [layer_ enqueueSampleBuffer:sample->native()];
    }

    void flushAndRemoveImage() override { [layer_ flushAndRemoveImage]; }

private:
    AVSampleBufferDisplayLayer* layer_;
};

class MacVideoView final : public VideoView {
public:
    explicit MacVideoView(VeltoVideoView* view) : view_(view), layer_(view.video) {}
    DisplayLayer& video() override { return layer_; }
    VeltoVideoView* native() const { return view_; }

private:
    VeltoVideoView* view_;
    MacDisplayLayer layer_;
};

class MacLabel final : public Label {
public:
    explicit MacLabel(NSTextField* field) : field_(field) {}
    void setText(const std::string& text) override { field_.stringValue = toNSString(text); }
    void setHidden(bool hidden) override { field_.hidden = hidden; }
    NSTextField* native() const { return field_; }

private:
    NSTextField* field_;
};

class MacWindow final : public Window {
public:
    MacWindow(NSWindow* window, VeltoWindowDelegate* delegate) : window_(window), delegate_(delegate) {}

    Rect contentBounds() const override {
        const NSRect bounds = window_.contentView.bounds;
        return {bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height};
    }

    void setContentView(const std::shared_ptr<VideoView>& view) override {
        const auto* video = dynamic_cast<const MacVideoView*>(view.get());
        if (!video) return;
        video->native().autoresizingMask = NSViewWidthSizable | NSViewHeightSizable;
        window_.contentView = video->native();
    }

    void addLabel(const std::shared_ptr<Label>& label, const LabelStyle& style) override {
        const auto* macLabel = dynamic_cast<const MacLabel*>(label.get());
        NSView* content = window_.contentView;
        if (!macLabel || !content) return;
        NSTextField* field = macLabel->native();
        field.textColor = [NSColor whiteColor];
        field.font = [NSFont systemFontOfSize:style.fontSize weight:NSFontWeightMedium];
        field.alignment = NSTextAlignmentCenter;
        field.translatesAutoresizingMaskIntoConstraints = NO;
        [content addSubview:field];
        [NSLayoutConstraint activateConstraints:@[
            [field.centerXAnchor constraintEqualToAnchor:content.centerXAnchor],
            [field.centerYAnchor constraintEqualToAnchor:content.centerYAnchor],
            [field.widthAnchor constraintLessThanOrEqualToAnchor:content.widthAnchor
                                                      multiplier:style.maxWidthFraction],
        ]];
    }

    void center() override { [window_ center]; }

    void makeKeyAndOrderFront() override { [window_ makeKeyAndOrderFront:nil]; }

private:
    NSWindow* window_;
    // The window holds its delegate weakly.
    [[maybe_unused]] VeltoWindowDelegate* delegate_;
};

}  // namespace

std::shared_ptr<Window> makeMacWindow(const WindowConfiguration& configuration,
                                      std::weak_ptr<WindowDelegate> delegate) {
    const Rect& rect = configuration.contentRect;
    NSWindow* window =
        [[NSWindow alloc] initWithContentRect:NSMakeRect(rect.x, rect.y, rect.width, rect.height)
                                    styleMask:static_cast<NSWindowStyleMask>(configuration.styleMask)
                                      backing:NSBackingStoreBuffered
                                        defer:NO];
    VeltoWindowDelegate* windowDelegate = [[VeltoWindowDelegate alloc] initWithDelegate:std::move(delegate)];
    window.title = toNSString(configuration.title);
    window.releasedWhenClosed = configuration.releasedWhenClosed;
    window.delegate = windowDelegate;
    window.minSize = NSMakeSize(configuration.minSize.width, configuration.minSize.height);
    window.sharingType = static_cast<NSWindowSharingType>(configuration.sharingType);
    return std::make_shared<MacWindow>(window, windowDelegate);
}

std::shared_ptr<VideoView> makeMacVideoView(const Rect& frame) {
    VeltoVideoView* view =
        [[VeltoVideoView alloc] initWithFrame:NSMakeRect(frame.x, frame.y, frame.width, frame.height)];
    return std::make_shared<MacVideoView>(view);
}

std::shared_ptr<Label> makeMacWrappingLabel(const std::string& text) {
    return std::make_shared<MacLabel>([NSTextField wrappingLabelWithString:toNSString(text)]);
}

}  // namespace velto::shareview::macos
