#pragma once
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

typedef const void* CFTypeRef;
typedef unsigned long CFTypeID;
typedef long CFIndex;
typedef unsigned char Boolean;
typedef uint32_t OSType;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFArray* CFArrayRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFDictionary* CFMutableDictionaryRef;
typedef const struct __CFNumber* CFNumberRef;
typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFURL* CFURLRef;

typedef enum : CFIndex { kCFNumberSInt64Type = 4 } CFNumberType;

extern "C" {
extern const CFBooleanRef kCFBooleanTrue;
extern const CFStringRef kCFBundleIdentifierKey;
CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeID CFDictionaryGetTypeID(void);
CFTypeID CFNumberGetTypeID(void);
CFTypeID CFStringGetTypeID(void);
CFIndex CFArrayGetCount(CFArrayRef theArray);
const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);
const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key);
void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value);
Boolean CFNumberIsFloatType(CFNumberRef number);
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);
CFDictionaryRef CFBundleCopyInfoDictionaryForURL(CFURLRef url);
}
