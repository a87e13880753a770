#pragma once
#import <Foundation/Foundation.h>
#include <CoreMedia/CoreMedia.h>

typedef enum : NSInteger {
    SCStreamOutputTypeScreen = 0,
    SCStreamOutputTypeAudio = 1,
    SCStreamOutputTypeMicrophone = 2,
} SCStreamOutputType;

typedef NSString* SCStreamFrameInfo;
extern "C" const SCStreamFrameInfo SCStreamFrameInfoStatus;

@interface SCDisplay : NSObject
@property(readonly) CGDirectDisplayID displayID;
@property(readonly) NSInteger width;
@property(readonly) NSInteger height;
@end

@interface SCRunningApplication : NSObject
@property(readonly) NSString* bundleIdentifier;
@property(readonly) pid_t processID;
@end

@interface SCWindow : NSObject
@end

@interface SCShareableContent : NSObject
+ (void)getShareableContentExcludingDesktopWindows:(BOOL)excludeDesktopWindows
                               onScreenWindowsOnly:(BOOL)onScreenWindowsOnly
                                 completionHandler:(void (^)(SCShareableContent* shareableContent,
                                                             NSError* error))completionHandler;
@property(readonly) NSArray<SCDisplay*>* displays;
@property(readonly) NSArray<SCRunningApplication*>* applications;
@end

@interface SCContentFilter : NSObject
- (instancetype)initWithDisplay:(SCDisplay*)display
          excludingApplications:(NSArray<SCRunningApplication*>*)applications
               exceptingWindows:(NSArray<SCWindow*>*)exceptingWindows;
@end

@interface SCStreamConfiguration : NSObject
@property size_t width;
@property size_t height;
@property CMTime minimumFrameInterval;
@property OSType pixelFormat;
@property NSInteger queueDepth;
@property BOOL showsCursor;
@property BOOL capturesAudio;
@end

@class SCStream;

@protocol SCStreamDelegate <NSObject>
@optional
- (void)stream:(SCStream*)stream didStopWithError:(NSError*)error;
@end

@protocol SCStreamOutput <NSObject>
@optional
- (void)stream:(SCStream*)stream didOutputSampleBuffer:(CMSampleBufferRef)sampleBuffer ofType:(SCStreamOutputType)type;
@end

@interface SCStream : NSObject
- (instancetype)initWithFilter:(SCContentFilter*)contentFilter
                 configuration:(SCStreamConfiguration*)streamConfig
                      delegate:(id<SCStreamDelegate>)delegate;
- (BOOL)addStreamOutput:(id<SCStreamOutput>)output
                   type:(SCStreamOutputType)type
     sampleHandlerQueue:(dispatch_queue_t)sampleHandlerQueue
                  error:(NSError**)error;
- (void)updateContentFilter:(SCContentFilter*)contentFilter completionHandler:(void (^)(NSError* error))completionHandler;
- (void)startCaptureWithCompletionHandler:(void (^)(NSError* error))completionHandler;
- (void)stopCaptureWithCompletionHandler:(void (^)(NSError* error))completionHandler;
@end
