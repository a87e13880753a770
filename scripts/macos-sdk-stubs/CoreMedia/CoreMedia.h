#pragma once
#include <CoreFoundation/CoreFoundation.h>

typedef struct opaqueCMSampleBuffer* CMSampleBufferRef;
typedef int64_t CMTimeValue;
typedef int32_t CMTimeScale;
typedef struct {
    CMTimeValue value;
    CMTimeScale timescale;
    uint32_t flags;
    int64_t epoch;
} CMTime;

extern "C" {
extern const CFStringRef kCMSampleAttachmentKey_DisplayImmediately;
CMTime CMTimeMake(int64_t value, int32_t timescale);
Boolean CMSampleBufferIsValid(CMSampleBufferRef sbuf);
CFArrayRef CMSampleBufferGetSampleAttachmentsArray(CMSampleBufferRef sbuf, Boolean createIfNecessary);
}
