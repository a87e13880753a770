#pragma once
#import <QuartzCore/QuartzCore.h>
#include <CoreMedia/CoreMedia.h>

typedef NSString* AVLayerVideoGravity;
extern "C" const AVLayerVideoGravity AVLayerVideoGravityResizeAspect;

typedef enum : NSInteger {
    AVQueuedSampleBufferRenderingStatusUnknown = 0,
    AVQueuedSampleBufferRenderingStatusRendering = 1,
    AVQueuedSampleBufferRenderingStatusFailed = 2,
} AVQueuedSampleBufferRenderingStatus;

@interface AVSampleBufferDisplayLayer : CALayer
@property(copy) AVLayerVideoGravity videoGravity;
@property(readonly) AVQueuedSampleBufferRenderingStatus status;
@property(readonly, getter=isReadyForMoreMediaData) BOOL readyForMoreMediaData;
- (void)enqueueSampleBuffer:(CMSampleBufferRef)sampleBuffer;
- (void)flushAndRemoveImage;
@end
