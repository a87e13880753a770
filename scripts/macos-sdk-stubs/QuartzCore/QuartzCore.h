#pragma once
#import <Foundation/Foundation.h>

@interface CALayer : NSObject
@property CGColorRef backgroundColor;
@property CGRect frame;
- (void)addSublayer:(CALayer*)layer;
@end
