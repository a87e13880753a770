#pragma once
#include <CoreGraphics/CGBase.h>
#include <CoreFoundation/CoreFoundation.h>
#include <stdbool.h>
#include <stddef.h>

typedef enum : int32_t { kCGErrorSuccess = 0 } CGError;
typedef struct CGDisplayMode* CGDisplayModeRef;
typedef uint64_t CGEventFlags;
typedef enum : int32_t { kCGEventSourceStateHIDSystemState = 1 } CGEventSourceStateID;
typedef enum : uint32_t { kCGEventKeyDown = 10 } CGEventType;

extern "C" {
CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID stateID);
uint32_t CGEventSourceCounterForEventType(CGEventSourceStateID stateID, CGEventType eventType);
CFDictionaryRef CGSessionCopyCurrentDictionary(void);
bool CGPreflightScreenCaptureAccess(void);
bool CGRequestScreenCaptureAccess(void);
CGError CGGetActiveDisplayList(uint32_t maxDisplays, CGDirectDisplayID* activeDisplays, uint32_t* displayCount);
CGRect CGDisplayBounds(CGDirectDisplayID display);
CGDisplayModeRef CGDisplayCopyDisplayMode(CGDirectDisplayID display);
void CGDisplayModeRelease(CGDisplayModeRef mode);
size_t CGDisplayModeGetWidth(CGDisplayModeRef mode);
size_t CGDisplayModeGetHeight(CGDisplayModeRef mode);
size_t CGDisplayModeGetPixelWidth(CGDisplayModeRef mode);
size_t CGDisplayModeGetPixelHeight(CGDisplayModeRef mode);
double CGDisplayModeGetRefreshRate(CGDisplayModeRef mode);
}
