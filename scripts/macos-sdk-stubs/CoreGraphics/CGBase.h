#pragma once
#include <stdint.h>
typedef double CGFloat;
struct CGPoint { CGFloat x; CGFloat y; };
struct CGSize { CGFloat width; CGFloat height; };
struct CGRect { CGPoint origin; CGSize size; };
typedef struct CGColor* CGColorRef;
typedef uint32_t CGDirectDisplayID;
