#pragma once
#import <Foundation/Foundation.h>
#import <QuartzCore/QuartzCore.h>

@interface NSRunningApplication : NSObject
@property(readonly) pid_t processIdentifier;
@property(readonly, copy) NSString* bundleIdentifier;
@property(readonly, getter=isTerminated) BOOL terminated;
@end

typedef enum : NSInteger { NSApplicationActivationPolicyAccessory = 1 } NSApplicationActivationPolicy;
typedef enum : NSUInteger { NSBackingStoreBuffered = 2 } NSBackingStoreType;
typedef NSUInteger NSWindowStyleMask;
typedef enum : NSUInteger { NSWindowSharingNone = 0, NSWindowSharingReadOnly = 1 } NSWindowSharingType;
typedef NSUInteger NSAutoresizingMaskOptions;
enum : NSUInteger { NSViewWidthSizable = 2, NSViewHeightSizable = 16 };
typedef enum : NSInteger { NSTextAlignmentCenter = 1 } NSTextAlignment;
typedef CGFloat NSFontWeight;
extern "C" const NSFontWeight NSFontWeightMedium;
extern "C" const NSNotificationName NSApplicationDidChangeScreenParametersNotification;
extern "C" const NSNotificationName NSWorkspaceDidLaunchApplicationNotification;
extern "C" NSString* const NSWorkspaceApplicationKey;
static const CGFloat NSVariableStatusItemLength = -1;

@protocol NSApplicationDelegate <NSObject>
@optional
- (void)applicationDidFinishLaunching:(NSNotification*)notification;
- (void)applicationWillTerminate:(NSNotification*)notification;
@end

@protocol NSWindowDelegate <NSObject>
@optional
- (void)windowWillClose:(NSNotification*)notification;
@end

@interface NSResponder : NSObject
@end

@interface NSApplication : NSResponder
@property(class, readonly, strong) NSApplication* sharedApplication;
@property(weak) id<NSApplicationDelegate> delegate;
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
- (void)activateIgnoringOtherApps:(BOOL)flag;
- (void)run;
- (void)terminate:(id)sender;
@end

@interface NSColor : NSObject
@property(class, strong, readonly) NSColor* blackColor;
@property(class, strong, readonly) NSColor* whiteColor;
@property(readonly) CGColorRef CGColor;
@end

@interface NSFont : NSObject
+ (NSFont*)systemFontOfSize:(CGFloat)fontSize weight:(NSFontWeight)weight;
@end

@class NSLayoutConstraint, NSLayoutXAxisAnchor, NSLayoutYAxisAnchor, NSLayoutDimension;

@interface NSLayoutAnchor<AnchorType> : NSObject
- (NSLayoutConstraint*)constraintEqualToAnchor:(NSLayoutAnchor<AnchorType>*)anchor;
@end
@interface NSLayoutXAxisAnchor : NSLayoutAnchor<NSLayoutXAxisAnchor*>
@end
@interface NSLayoutYAxisAnchor : NSLayoutAnchor<NSLayoutYAxisAnchor*>
@end
@interface NSLayoutDimension : NSLayoutAnchor<NSLayoutDimension*>
- (NSLayoutConstraint*)constraintLessThanOrEqualToAnchor:(NSLayoutDimension*)anchor multiplier:(CGFloat)m;
@end

@interface NSLayoutConstraint : NSObject
+ (void)activateConstraints:(NSArray<NSLayoutConstraint*>*)constraints;
@end

@interface NSView : NSResponder
- (instancetype)initWithFrame:(NSRect)frameRect;
- (instancetype)initWithCoder:(NSCoder*)coder;
@property BOOL wantsLayer;
@property(strong) CALayer* layer;
@property NSRect bounds;
@property NSAutoresizingMaskOptions autoresizingMask;
@property BOOL translatesAutoresizingMaskIntoConstraints;
@property(getter=isHidden) BOOL hidden;
@property(copy) NSString* toolTip;
@property(readonly, strong) NSLayoutXAxisAnchor* centerXAnchor;
@property(readonly, strong) NSLayoutYAxisAnchor* centerYAnchor;
@property(readonly, strong) NSLayoutDimension* widthAnchor;
- (void)addSubview:(NSView*)view;
- (void)layout;
@end

@interface NSControl : NSView
@property(copy) NSString* stringValue;
@property(strong) NSFont* font;
@property NSTextAlignment alignment;
@end

@interface NSTextField : NSControl
+ (instancetype)wrappingLabelWithString:(NSString*)stringValue;
@property(copy) NSColor* textColor;
@end

@interface NSButton : NSControl
@property(copy) NSString* title;
@end

@interface NSStatusBarButton : NSButton
@end

@interface NSWindow : NSResponder
- (instancetype)initWithContentRect:(NSRect)contentRect
                          styleMask:(NSWindowStyleMask)style
                            backing:(NSBackingStoreType)backingStoreType
                              defer:(BOOL)flag;
@property(copy) NSString* title;
@property(getter=isReleasedWhenClosed) BOOL releasedWhenClosed;
@property(weak) id<NSWindowDelegate> delegate;
@property NSSize minSize;
@property NSWindowSharingType sharingType;
@property(strong) __kindof NSView* contentView;
- (void)center;
- (void)makeKeyAndOrderFront:(id)sender;
@end

@interface NSMenuItem : NSObject
+ (NSMenuItem*)separatorItem;
- (instancetype)initWithTitle:(NSString*)string action:(SEL)selector keyEquivalent:(NSString*)charCode;
@property(weak) id target;
@end

@interface NSMenu : NSObject
- (void)addItem:(NSMenuItem*)newItem;
@end

@interface NSStatusItem : NSObject
@property(readonly, strong) NSStatusBarButton* button;
@property(strong) NSMenu* menu;
@end

@interface NSStatusBar : NSObject
@property(class, readonly, strong) NSStatusBar* systemStatusBar;
- (NSStatusItem*)statusItemWithLength:(CGFloat)length;
@end

@interface NSWorkspaceOpenConfiguration : NSObject
+ (instancetype)configuration;
@property BOOL activates;
@property BOOL createsNewApplicationInstance;
@property(copy) NSArray<NSString*>* arguments;
@end

@interface NSWorkspace : NSObject
@property(class, readonly, strong) NSWorkspace* sharedWorkspace;
@property(readonly, strong) NSNotificationCenter* notificationCenter;
- (NSURL*)URLForApplicationWithBundleIdentifier:(NSString*)bundleIdentifier;
- (void)openApplicationAtURL:(NSURL*)applicationURL
               configuration:(NSWorkspaceOpenConfiguration*)configuration
           completionHandler:(void (^)(NSRunningApplication* app, NSError* error))completionHandler;
@end
