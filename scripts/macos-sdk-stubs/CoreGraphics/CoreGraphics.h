#pragma once
#include <CoreGraphics/CGBase.h>
#include <CoreFoundation/CoreFoundation.h>
#include <stdbool.h>

typedef uint64_t CGEventFlags;
typedef enum : int32_t { kCGEventSourceStateHIDSystemState = 1 } CGEventSourceStateID;
typedef enum : uint32_t { kCGEventKeyDown = 10 } CGEventType;

extern "C" {
CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID stateID);
uint32_t CGEventSourceCounterForEventType(CGEventSourceStateID stateID, CGEventType eventType);
CFDictionaryRef CGSessionCopyCurrentDictionary(void);
bool CGPreflightScreenCaptureAccess(void);
bool CGRequestScreenCaptureAccess(void);
}
